#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "velta/internals.h"

namespace {

using velta_test::Bytes;
using velta_test::LibraryTest;

// A converter that takes at most six bytes a call and records what it is offered.
struct DoubleLog {
    std::vector<Bytes> offered;
    int resets = 0;
};
DoubleLog gDoubleLog;

class PartialConverter : public TEncodingConverter {
public:
    PartialConverter()
        : TEncodingConverter("x-partial", NLS_UCS2_NAME, nullptr, nullptr, nullptr, 0, 2, nullptr,
                             nullptr, 0) {}
    void Reset() override { ++gDoubleLog.resets; }
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override {
        gDoubleLog.offered.emplace_back(source, source + sourceLength);
        uint32_t take = sourceLength < 6 ? sourceLength : 6;
        if (2 * take + 2 > targetCapacity)
            take = targetCapacity >= 2 ? (targetCapacity - 2) / 2 : 0;
        for (uint32_t i = 0; i < take; ++i) {
            target[2 * i] = source[i];
            target[2 * i + 1] = 0;
        }
        *targetLength = 2 * take;
        *sourceConsumed = take;
        return take == sourceLength ? NLS_SUCCESS : NLS_RESULT_TRUNCATED;
    }
};

TEncodingConverter* newPartialConverter() {
    return new PartialConverter();
}

NLS_StaticConverterEntry gPartialTable[] = {
    {"x-partial", NLS_UCS2_NAME, "NewPartialConverter", NLS_AsEntryPoint(&newPartialConverter)},
    {nullptr, nullptr, nullptr, nullptr}};

class ConversionObject : public LibraryTest {
protected:
    void SetUp() override {
        gDoubleLog = DoubleLog();
        ASSERT_EQ(NLS_RegisterStaticLibrary(gPartialTable), NLS_SUCCESS);
        ASSERT_EQ(NLS_NewEncodingConverter("x-partial", "ISO-10646-UCS-2", &object), NLS_SUCCESS);
    }
    void TearDown() override {
        NLS_DeleteEncodingConverter(object);
        LibraryTest::TearDown();
    }
    EncodingConverter* object = nullptr;
};

TEST_F(ConversionObject, CarriesUnconsumedInputAndOffersExactlyThoseBytes) {
    const Bytes input = velta_test::bytes("0123456789");
    unsigned char out[64];
    uint32_t written = 0;
    EXPECT_EQ(NLS_ConvertStreamBuffer(object, input.data(), 10, out, sizeof out, &written),
              NLS_RESULT_TRUNCATED);
    EXPECT_EQ(written, 12u);
    uint32_t overflow = 0;
    EXPECT_EQ(NLS_GetConversionOverflowSize(object, &overflow), NLS_SUCCESS);
    EXPECT_EQ(overflow, 28u) << "7 bytes reserved per carried byte";
    EXPECT_EQ(NLS_ConverterGetOverflow(object, out, sizeof out, &written), NLS_SUCCESS);
    ASSERT_EQ(gDoubleLog.offered.size(), 2u);
    EXPECT_EQ(gDoubleLog.offered[1], velta_test::bytes("6789"));
    EXPECT_EQ(written, 8u);
    EXPECT_EQ(NLS_GetConversionOverflowSize(object, &overflow), NLS_SUCCESS);
    EXPECT_EQ(overflow, 0u);
}

TEST_F(ConversionObject, DrainsLongCarriedInputInSteps) {
    const Bytes input = velta_test::bytes("abcdefghijklmnopqrstuvwxyz");
    unsigned char out[256];
    uint32_t written = 0;
    Bytes all;
    NLS_Status status =
        NLS_ConvertStreamBuffer(object, input.data(), 26, out, sizeof out, &written);
    all.insert(all.end(), out, out + written);
    int calls = 1;
    while (status == NLS_RESULT_TRUNCATED) {
        status = NLS_ConverterGetOverflow(object, out, sizeof out, &written);
        all.insert(all.end(), out, out + written);
        ++calls;
    }
    EXPECT_EQ(status, NLS_SUCCESS);
    EXPECT_EQ(calls, 5);
    EXPECT_EQ(velta_test::fromUcs2(all), u"abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(gDoubleLog.offered.back(), velta_test::bytes("yz"));
}

TEST_F(ConversionObject, ANewCallReplacesTheCarriedInput) {
    unsigned char out[64];
    uint32_t written = 0;
    NLS_ConvertStreamBuffer(object, (const unsigned char*)"0123456789", 10, out, sizeof out,
                            &written);
    NLS_ConvertStreamBuffer(object, (const unsigned char*)"ABCDEFGH", 8, out, sizeof out, &written);
    NLS_ConverterGetOverflow(object, out, sizeof out, &written);
    EXPECT_EQ(gDoubleLog.offered.back(), velta_test::bytes("GH"));
}

TEST_F(ConversionObject, OverflowWithoutRoomKeepsTheCarriedInput) {
    unsigned char out[64];
    uint32_t written = 99;
    NLS_ConvertStreamBuffer(object, (const unsigned char*)"0123456789", 10, out, sizeof out,
                            &written);
    EXPECT_EQ(NLS_ConverterGetOverflow(object, out, 0, &written), NLS_INVALID_PARAMETER);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(NLS_ConverterGetOverflow(object, nullptr, 10, &written), NLS_INVALID_PARAMETER);
    uint32_t overflow = 0;
    NLS_GetConversionOverflowSize(object, &overflow);
    EXPECT_EQ(overflow, 28u);
}

TEST_F(ConversionObject, ResetDropsCarriedInputAndResetsTheConverterOnce) {
    unsigned char out[64];
    uint32_t written = 0;
    NLS_ConvertStreamBuffer(object, (const unsigned char*)"0123456789", 10, out, sizeof out,
                            &written);
    EXPECT_EQ(NLS_ResetEncodingConverter(object), NLS_SUCCESS);
    EXPECT_EQ(gDoubleLog.resets, 1);
    uint32_t overflow = 1;
    NLS_GetConversionOverflowSize(object, &overflow);
    EXPECT_EQ(overflow, 0u);
}

class Library : public LibraryTest {};

TEST_F(Library, EveryFlatFunctionRejectsANullHandle) {
    unsigned char buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint32_t value = 77;
    char name[64] = "unchanged";
    EXPECT_EQ(NLS_DeleteEncodingConverter(nullptr), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_ConvertStreamBuffer(nullptr, buffer, 8, buffer, 8, &value),
              NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_GetConversionOverflowSize(nullptr, &value), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_ConverterGetOverflow(nullptr, buffer, 8, &value), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_ResetEncodingConverter(nullptr), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_GetConversionRemSize(nullptr, &value), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_GetConversionRem(nullptr, buffer, 8, &value), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_DeleteEncodingConverterEnumeration(nullptr), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_CountEncodingConverters(nullptr, &value), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_GetEncodingConverterListItem(nullptr, 0, name, name), NLS_INVALID_PARAMETER);
    EXPECT_EQ(value, 77u);
    EXPECT_STREQ(name, "unchanged");
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(NLS_RegisterStaticLibrary(nullptr), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_NewEncodingConverterEnumeration("a", "b", nullptr), NLS_INVALID_PARAMETER);
}

TEST_F(Library, ConvertBufferRejectsMissingArgumentsAndClearsTheCount) {
    unsigned char out[8] = {};
    uint32_t written = 5;
    EXPECT_EQ(NLS_ConvertBuffer("UTF-8", "UTF-8", out, 1, out, 0, &written), NLS_INVALID_PARAMETER);
    EXPECT_EQ(written, 0u);
    written = 5;
    EXPECT_EQ(NLS_ConvertBuffer(nullptr, "UTF-8", out, 1, out, 8, &written), NLS_INVALID_PARAMETER);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(NLS_ConvertBuffer("UTF-8", "UTF-8", out, 1, out, 8, nullptr), NLS_INVALID_PARAMETER);
}

TEST_F(Library, ConvertBufferOfNothingReturnsTheConvertersStatus) {
    unsigned char out[8] = {0xFF, 0xFF};
    uint32_t written = 5;
    EXPECT_EQ(NLS_ConvertBuffer("UTF-8", "ISO-10646-UCS-2", out, 0, out, 8, &written), NLS_SUCCESS);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
}

TEST_F(Library, AnImpossiblePairIsMinus1014OneShotAndMinus1301AsAnObject) {
    unsigned char out[8] = {};
    uint32_t written = 5;
    EXPECT_EQ(NLS_ConvertBuffer("x-nothing", "UTF-8", out, 1, out, 8, &written), NLS_NO_CONVERTER);
    EXPECT_EQ(written, 0u);
    EncodingConverter* object = reinterpret_cast<EncodingConverter*>(&written);
    EXPECT_EQ(NLS_NewEncodingConverter("x-nothing", "UTF-8", &object), NLS_CONVERTER_NOT_FOUND);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(NLS_NewEncodingConverter("UTF-8", nullptr, &object), NLS_INVALID_PARAMETER);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(NLS_NewEncodingConverter("UTF-8", "UTF-8", nullptr), NLS_INVALID_PARAMETER);
}

TEST_F(Library, ResultBufferSizesComeFromTheConverter) {
    EXPECT_EQ(NLS_GetResultBufferSize(nullptr, 10, "UTF-8", "ISO-10646-UCS-2"), 22u);
    EXPECT_EQ(NLS_GetResultBufferSize(nullptr, 10, "ISO-10646-UCS-2", "UTF-8"), 42u);
    EXPECT_EQ(NLS_GetResultBufferSize(nullptr, 10, "x-nothing", "UTF-8"), 0u);
    // A chain: 4 x (2 x 10 + 2) + 2.
    EXPECT_EQ(NLS_GetResultBufferSize(nullptr, 10, "UTF-8", "UTF-8"), 90u);
}

TEST_F(Library, ResultBufferSizesSaturateInsteadOfWrapping) {
    EXPECT_EQ(NLS_GetResultBufferSize(nullptr, 0x40000000u, "ISO-10646-UCS-2", "UTF-8"),
              UINT32_MAX);
    EXPECT_EQ(NLS_GetResultBufferSize(nullptr, UINT32_MAX, "UTF-8", "UTF-8"), UINT32_MAX);
}

class BuiltInLibrary : public velta_test::BuiltInLibraryTest {};

TEST_F(BuiltInLibrary, NameQueriesAnswerNullNamesWithTheWildcard) {
    EXPECT_STREQ(NLS_GetNormalizedEncodingName(nullptr), "*");
    EXPECT_STREQ(NLS_GetEncodingNameFromJava(nullptr), "*");
    EXPECT_STREQ(NLS_GetJavaEncodingName(nullptr), "*");
    EXPECT_EQ(NLS_GetEncodingNameFromJava("UTF8"), nullptr);
    EXPECT_STREQ(NLS_GetNormalizedEncodingName("LATIN1"), "ISO_8859-1:1987");
}

TEST_F(Library, DataDirectoryTakesConv30AndOneSeparator) {
    struct {
        const char* directory;
        const char* path;
    } cases[] = {
#if defined(_WIN32)
        {"D:\\nls", "D:\\nls\\conv30\\"},
        {"D:\\nls\\", "D:\\nls\\conv30\\"},
        {nullptr, ".\\conv30\\"},
        {"", ".\\conv30\\"},
        {"D:/nls/", "D:/nls/\\conv30\\"},
#else
        {"/opt/nls", "/opt/nls/conv30/"},
        {"/opt/nls/", "/opt/nls/conv30/"},
        {nullptr, "./conv30/"},
        {"", "./conv30/"},
        {"D:\\nls\\", "D:\\nls\\/conv30/"},
#endif
    };
    for (const auto& c : cases) {
        EncodingConverter::setDataDirectory(c.directory);
        EXPECT_STREQ(EncodingConverter::getDataDirectory(), c.path);
    }
}

TEST_F(Library, InitializeChoosesArgumentThenEnvironmentThenTheLibrarysOwnData) {
    velta_test::setEnvironment("ZP_NLS_DATADIRECTORY", "/from/environment");
    const std::string separator(1, EncodingConverter::kDefaultConverterPath[6]);
    EXPECT_EQ(NLS_EncInitialize(nullptr, "/from/argument"), NLS_SUCCESS);
    EXPECT_EQ(std::string(EncodingConverter::getDataDirectory()),
              "/from/argument" + separator + "conv30" + separator);
    EXPECT_EQ(NLS_EncInitialize(nullptr, ""), NLS_SUCCESS);
    EXPECT_EQ(std::string(EncodingConverter::getDataDirectory()),
              "/from/environment" + separator + "conv30" + separator);
    velta_test::unsetEnvironment("ZP_NLS_DATADIRECTORY");
    // Without either (and no conv30 in the current folder), the data
    // directory that came with the library, found without settings.
    EXPECT_EQ(NLS_EncInitialize(nullptr, nullptr), NLS_SUCCESS);
    const std::string found = EncodingConverter::getDataDirectory();
    EXPECT_EQ(found.substr(found.size() - 7), "conv30" + separator);
    EXPECT_EQ(NLS_EncodingConverterExists("UTF-16", "windows-1252"), 1) << found;
}

TEST_F(Library, ReinitializingKeepsObjectsOfTheReplacedRegistryWorking) {
    EncodingConverter* object = nullptr;
    ASSERT_EQ(NLS_NewEncodingConverter("utf_8", "latin1", &object), NLS_SUCCESS);
    TEncodingRegistry* first = EncodingConverter::getEncodingRegistry();
    ASSERT_EQ(NLS_EncInitialize(nullptr, nullptr), NLS_SUCCESS);
    EXPECT_NE(EncodingConverter::getEncodingRegistry(), first);
    unsigned char out[16];
    uint32_t written = 0;
    EXPECT_EQ(NLS_ConvertStreamBuffer(object, (const unsigned char*)"\xC3\xA9", 2, out, sizeof out,
                                      &written),
              NLS_SUCCESS);
    EXPECT_EQ(velta_test::hex(Bytes(out, out + written)), "E9");
    NLS_DeleteEncodingConverter(object);
}

// What a text, a policy and options leave in an object must not reach the
// next object of the same names, which may be the same object given back.
TEST_F(Library, AnObjectGivenBackIsAsANewOne) {
    struct Pair {
        const char* from;
        const char* to;
        const char* dirt;   // a piece that leaves state: a character or a shift cut short
        const char* probe;  // what the defaults read otherwise than the settings below
    };
    const Pair pairs[] = {
        {"UTF-8", "Shift_JIS", "a\xE3\x81",
         "a\xED\xA0\x80\xC3\xA9\xE2\x82\xAC\xFF"
         "b"},
        {"UTF-8", "windows-1252", "\xC3",
         "\xED\xA0\x80\xE3\x81\x82\xFF"
         "b"},
        {"UTF-7", "UTF-16LE", "+AG",
         "a+2D0-\xE9"
         "b"},
        {"ISO-2022-JP", "UTF-8", "\x1B$B", "\x1B$B\x30\x21\x1B(Bx\x1B$B\x7F\x21"},
    };
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(std::string(pair.from) + " to " + pair.to);
        EncodingConverter* used = nullptr;
        ASSERT_EQ(NLS_NewEncodingConverter(pair.from, pair.to, &used), NLS_SUCCESS);
        ASSERT_EQ(NLS_SetConversionPolicy(used, NLS_POLICY_STOP), NLS_SUCCESS);
        ASSERT_EQ(NLS_SetConversionOption(used, NLS_OPTION_STRICT_UNICODE, 1), NLS_SUCCESS);
        ASSERT_EQ(
            NLS_SetConversionOption(used, NLS_OPTION_UNMAPPABLE_ACTION, NLS_ACTION_ESCAPE_UNICODE),
            NLS_SUCCESS);
        unsigned char out[256];
        uint32_t read = 0, written = 0;
        NLS_ConvertStream(used, reinterpret_cast<const unsigned char*>(pair.dirt),
                          static_cast<uint32_t>(strlen(pair.dirt)), out, sizeof out, 0, &read,
                          &written);
        const uintptr_t usedAt = reinterpret_cast<uintptr_t>(used);
        NLS_DeleteEncodingConverter(used);

        EncodingConverter* again = nullptr;
        EncodingConverter* fresh = nullptr;
        ASSERT_EQ(NLS_NewEncodingConverter(pair.from, pair.to, &again), NLS_SUCCESS);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(again), usedAt) << "the object was not kept";
        ASSERT_EQ(NLS_NewEncodingConverter(pair.from, pair.to, &fresh), NLS_SUCCESS);
        Bytes outputs[2];
        NLS_Status statuses[2];
        NLS_ConversionReport reports[2];
        EncodingConverter* objects[2] = {again, fresh};
        for (int i = 0; i < 2; ++i) {
            statuses[i] = NLS_ConvertStream(
                objects[i], reinterpret_cast<const unsigned char*>(pair.probe),
                static_cast<uint32_t>(strlen(pair.probe)), out, sizeof out, 1, &read, &written);
            outputs[i].assign(out, out + written);
            NLS_GetConversionReport(objects[i], &reports[i]);
        }
        EXPECT_EQ(velta_test::hex(outputs[0]), velta_test::hex(outputs[1]));
        EXPECT_EQ(statuses[0], statuses[1]);
        EXPECT_EQ(reports[0].substituted, reports[1].substituted);
        EXPECT_EQ(reports[0].firstKind, reports[1].firstKind);
        EXPECT_EQ(reports[0].firstOffset, reports[1].firstOffset);
        NLS_DeleteEncodingConverter(again);
        NLS_DeleteEncodingConverter(fresh);
    }
}

TEST_F(Library, TheRegistryIsBuiltOnFirstNeedAndAgainAfterTermination) {
    EXPECT_EQ(EncodingConverter::getEncodingRegistry(), nullptr);
    EXPECT_EQ(NLS_EncodingConverterExists("UTF-8", "x-mac-roman"), 1);
    EXPECT_NE(EncodingConverter::getEncodingRegistry(), nullptr);
    NLS_EncTerminate();
    EXPECT_EQ(EncodingConverter::getEncodingRegistry(), nullptr);
    EXPECT_STREQ(NLS_GetNormalizedEncodingName("l1"), "ISO_8859-1:1987");
}

}  // namespace
