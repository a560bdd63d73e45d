// Hostile names and arguments through the flat functions: nothing crashes,
// nothing is written past a buffer, long and odd names are refused cleanly.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <stdexcept>
#include <string>

#include "test_support.h"
#include "velta/internals.h"

namespace {

using namespace velta_test;

class HostileArguments : public LibraryTest {};

TEST_F(HostileArguments, NamesOfEveryLengthAndByte) {
    const std::string names[] = {std::string(63, 'a'),
                                 std::string(64, 'a'),
                                 std::string(10000, 'a'),
                                 "\x80\x81\xFF",
                                 std::string(70, '\xFF'),
                                 "",
                                 "*",
                                 "**"};
    for (const std::string& name : names) {
        EncodingConverter* object = nullptr;
        EXPECT_NE(NLS_NewEncodingConverter(name.c_str(), "UTF-8", &object), NLS_SUCCESS);
        EXPECT_EQ(object, nullptr);
        const char* normalized = NLS_GetNormalizedEncodingName(name.c_str());
        ASSERT_NE(normalized, nullptr);
        EXPECT_LT(strlen(normalized), 64u);
        EXPECT_EQ(NLS_GetEncodingNameFromJava(name.c_str()), nullptr);
        EXPECT_EQ(NLS_GetJavaEncodingName(name.c_str()), nullptr);
        EncondingConverterList* list = nullptr;
        ASSERT_EQ(NLS_NewEncodingConverterEnumeration(name.c_str(), "UTF-8", &list), NLS_SUCCESS);
        NLS_DeleteEncodingConverterEnumeration(list);
    }
}

// Names from untrusted sources (charset labels of mail or HTTP) are looked
// up, never kept, by every function but the one that must hand back a name;
// that one keeps a bounded number of them.
TEST_F(HostileArguments, UnknownNamesAreNotKeptAndTheirStoreIsBounded) {
    NLS_GetNormalizedEncodingName("warm up");
    TEncodingRegistry* registry = EncodingConverter::getEncodingRegistry();
    const uint32_t before = registry->AliasCount();
    unsigned char out[16];
    uint32_t written = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "x-unknown-" + std::to_string(i);
        EXPECT_EQ(NLS_EncodingConverterExists(name.c_str(), "UTF-8"), 0);
        EncodingConverter* object = nullptr;
        EXPECT_EQ(NLS_NewEncodingConverter("UTF-8", name.c_str(), &object),
                  NLS_CONVERTER_NOT_FOUND);
        EXPECT_LT(NLS_ConvertBuffer(name.c_str(), "UTF-8", out, 1, out, 16, &written), 0);
    }
    EXPECT_EQ(registry->AliasCount(), before);
    const char* first = NLS_GetNormalizedEncodingName("x-kept-0");
    EXPECT_STREQ(first, "x-kept-0");
    const char* last = first;
    for (int i = 1; i < 100000; ++i)
        last = NLS_GetNormalizedEncodingName(("x-kept-" + std::to_string(i)).c_str());
    EXPECT_STREQ(last, "") << "past the bound, unknown names get the empty name";
    EXPECT_EQ(NLS_GetNormalizedEncodingName("X-KEPT-0"), first) << "kept names stay";
    EXPECT_STREQ(NLS_GetNormalizedEncodingName("latin1"), "ISO_8859-1:1987");
    EXPECT_EQ(registry->AliasCount(), before);
}

TEncodingConverter* throwingFactory() {
    throw std::runtime_error("a converter library's factory failed");
}

TEncodingConverter* nullFactory() {
    return nullptr;
}

// A factory that throws or returns nothing makes no converter: the call
// fails with a status, and no exception reaches the caller.
TEST_F(HostileArguments, FaultyFactoriesFailTheCallNotTheHost) {
    static NLS_StaticConverterEntry table[] = {
        {"x-throws", NLS_UCS2_NAME, "NewThrows", NLS_AsEntryPoint(&throwingFactory)},
        {"x-null", NLS_UCS2_NAME, "NewNull", NLS_AsEntryPoint(&nullFactory)},
        {nullptr, nullptr, nullptr, nullptr}};
    ASSERT_EQ(NLS_RegisterStaticLibrary(table), NLS_SUCCESS);
    for (const char* name : {"x-throws", "x-null"}) {
        EncodingConverter* object = nullptr;
        EXPECT_LT(NLS_NewEncodingConverter(name, "UTF-8", &object), 0) << name;
        EXPECT_EQ(object, nullptr);
        unsigned char out[8];
        uint32_t written = 0;
        EXPECT_LT(NLS_ConvertBuffer(name, NLS_UCS2_NAME, out, 2, out, 8, &written), 0) << name;
        // Existence speaks of registered converters, not of what a factory does.
        EXPECT_EQ(NLS_EncodingConverterExists(name, "UTF-8"), 1) << name;
    }
}

#if !defined(_WIN32)
// Registry files that are not regular files, or too large, are passed over
// as missing files are: the library starts, with its built-in tables.
TEST_F(HostileArguments, HostileRegistryFilesAreSkipped) {
    TemporaryDirectory dir;
    ASSERT_EQ(mkfifo((dir.dataPath() + "encreg.txt").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", (dir.dataPath() + "aliasreg.txt").c_str()), 0);
    ASSERT_EQ(mkdir((dir.dataPath() + "javareg.txt").c_str(), 0700), 0);
    EXPECT_EQ(NLS_EncInitialize(nullptr, dir.path().c_str()), NLS_SUCCESS);
    EXPECT_STREQ(NLS_GetNormalizedEncodingName("latin1"), "ISO_8859-1:1987");
    ASSERT_EQ(unlink((dir.dataPath() + "aliasreg.txt").c_str()), 0);
    dir.writeDataFile("aliasreg.txt", "x-in-a-huge-file latin1\n");
    ASSERT_EQ(truncate((dir.dataPath() + "aliasreg.txt").c_str(), 100 << 20), 0);
    EXPECT_EQ(NLS_EncInitialize(nullptr, dir.path().c_str()), NLS_SUCCESS);
    EXPECT_STREQ(NLS_GetNormalizedEncodingName("x-in-a-huge-file"), "x-in-a-huge-file");
}
#endif

TEST_F(HostileArguments, NullBuffersWithLengthsAreRefused) {
    EncodingConverter* object = nullptr;
    ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", "latin1", &object), NLS_SUCCESS);
    unsigned char out[16];
    uint32_t written = 7;
    EXPECT_EQ(NLS_ConvertStreamBuffer(object, nullptr, 100, out, 16, &written),
              NLS_INVALID_PARAMETER);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(NLS_ConvertStreamBuffer(object, out, 4, nullptr, 100, &written),
              NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_ConvertStreamBuffer(object, out, 4, out, 16, nullptr), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_ConvertStreamBuffer(object, nullptr, 0, out, 16, &written), NLS_SUCCESS);
    EXPECT_EQ(NLS_GetConversionOverflowSize(object, nullptr), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_ConverterGetOverflow(object, out, 16, nullptr), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_GetEncodingConverterListItem(nullptr, 0, nullptr, nullptr),
              NLS_INVALID_PARAMETER);
    NLS_DeleteEncodingConverter(object);
    NLS_DetectedEncoding record;
    uint32_t count = 0;
    EXPECT_EQ(NLS_DetectEncodingForBuffer(nullptr, 10, &record, 1, &count), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_DetectEncodingForBuffer(out, 10, nullptr, 1, &count), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_DetectEncodingForBuffer(nullptr, 0, &record, 1, &count), NLS_NOT_DETECTED);
}

TEST_F(HostileArguments, ResultBufferSizeOfANullNameIsZero) {
    const unsigned char text[] = "abc";
    EXPECT_EQ(NLS_GetResultBufferSize(text, 3, nullptr, "UTF-8"), 0u);
    EXPECT_EQ(NLS_GetResultBufferSize(text, 3, "UTF-8", nullptr), 0u);
    EXPECT_EQ(NLS_GetResultBufferSize(text, 3, nullptr, nullptr), 0u);
}

TEST_F(HostileArguments, ConversionRemIntoANullBufferWithALengthIsRefused) {
    EncodingConverter* object = nullptr;
    ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", "latin1", &object), NLS_SUCCESS);
    uint32_t written = 7;
    EXPECT_EQ(NLS_GetConversionRem(object, nullptr, 8, &written), NLS_INVALID_PARAMETER);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(NLS_GetConversionRem(object, nullptr, 0, &written), NLS_SUCCESS);
    NLS_DeleteEncodingConverter(object);
}

TEST_F(HostileArguments, ZeroAndTinyOutputsNeverOverrun) {
    const Bytes input = hexBytes("41 C3 A9 E2 82 AC F0 9F 98 80 2B 26 5C");
    for (const char* to : {"ISO-10646-UCS-2", "UTF-7", "IMAP-UTF-7", "ESCAPED_UNICODE",
                           "ISO-10646-UCS-4", "latin1", "x-mac-roman", "UTF-8"}) {
        for (uint32_t capacity = 0; capacity < 12; ++capacity) {
            EncodingConverter* object = nullptr;
            ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", to, &object), NLS_SUCCESS);
            GuardedBuffer buffer(capacity);
            uint32_t written = 0;
            NLS_ConvertStreamBuffer(object, input.data(), static_cast<uint32_t>(input.size()),
                                    capacity ? buffer.data() : nullptr, capacity, &written);
            EXPECT_LE(written, capacity);
            EXPECT_TRUE(buffer.guardIntact()) << to << " " << capacity;
            NLS_DeleteEncodingConverter(object);
        }
    }
}

// UTF-8 read strictly with a byte that is no character every few bytes: each
// replacement starts a step, and every step looked to the end of the input
// for the forms only the lenient reading accepts, so that the time grew as
// the square of the input (16 MiB took about an hour).
TEST_F(HostileArguments, StrictStepsDoNotLookToTheEndOfTheInputAtEveryMalformedByte) {
    Bytes input(16u << 20, 'a');
    for (size_t i = 0; i < input.size(); i += 21) input[i] = 0xFF;
    const uint32_t length = static_cast<uint32_t>(input.size());
    for (const char* to : {"ISO-10646-UCS-2", "UTF-16LE"}) {
        EncodingConverter* object = nullptr;
        ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", to, &object), NLS_SUCCESS);
        NLS_SetConversionOption(object, NLS_OPTION_STRICT_UNICODE, 1);
        Bytes output(2 * input.size());
        uint32_t read = 0, written = 0;
        EXPECT_EQ(NLS_ConvertStream(object, input.data(), length, output.data(), 2 * length, 1,
                                    &read, &written),
                  NLS_SUCCESS);
        EXPECT_EQ(written, 2 * length) << to;
        NLS_ConversionReport report{};
        NLS_GetConversionReport(object, &report);
        EXPECT_EQ(report.substituted, (length + 20) / 21) << to;
        NLS_DeleteEncodingConverter(object);
    }
}

TEST_F(HostileArguments, HugeLengthsSaturate) {
    EXPECT_EQ(NLS_GetResultBufferSize(nullptr, UINT32_MAX, "UTF-8", "ESCAPED_UNICODE"), UINT32_MAX);
    EXPECT_EQ(
        NLS_GetResultBufferSize(nullptr, UINT32_MAX / 2, "ISO-10646-UCS-2", "ISO-10646-UCS-4"),
        UINT32_MAX);
}

}  // namespace
