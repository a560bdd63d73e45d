#include <gtest/gtest.h>

#include "test_support.h"
#include "velta/internals.h"

namespace {

using velta_test::Bytes;
using velta_test::bytes;
using velta_test::hexBytes;

class ChainedConverter : public velta_test::LibraryTest {
protected:
    void SetUp() override {
        ASSERT_EQ(NLS_NewEncodingConverter("latin1", "UTF-8", &object), NLS_SUCCESS);
    }
    void TearDown() override {
        NLS_DeleteEncodingConverter(object);
        velta_test::LibraryTest::TearDown();
    }
    NLS_Status convert(const Bytes& input, uint32_t capacity, Bytes* output) {
        std::vector<unsigned char> buffer(capacity + 1);
        uint32_t written = 0;
        const NLS_Status status =
            NLS_ConvertStreamBuffer(object, input.data(), static_cast<uint32_t>(input.size()),
                                    buffer.data(), capacity, &written);
        output->assign(buffer.begin(), buffer.begin() + written);
        return status;
    }
    uint32_t carried() {
        uint32_t size = 0;
        NLS_GetConversionOverflowSize(object, &size);
        return size / 7;
    }
    EncodingConverter* object = nullptr;
};

TEST_F(ChainedConverter, AmpleOutputConvertsEverythingInOneCall) {
    Bytes out;
    EXPECT_EQ(convert(hexBytes("41 E9 FF"), 64, &out), NLS_SUCCESS);
    EXPECT_EQ(velta_test::hex(out), "41 C3 A9 C3 BF");
    EXPECT_EQ(convert(bytes("xy"), 64, &out), NLS_SUCCESS);
    EXPECT_EQ(out, bytes("xy")) << "nothing of the first call is delivered again";
}

TEST_F(ChainedConverter, TextThatDoesNotFitWaitsAndIsDeliveredLater) {
    Bytes out;
    EXPECT_EQ(convert(hexBytes("E9 E9 E9 E9"), 5, &out), NLS_RESULT_TRUNCATED);
    EXPECT_EQ(velta_test::hex(out), "C3 A9 C3 A9");
    EXPECT_EQ(carried(), 0u) << "the first stage consumed all four bytes";
    Bytes rest;
    uint32_t written = 0;
    unsigned char buffer[64];
    EXPECT_EQ(NLS_ConverterGetOverflow(object, buffer, sizeof buffer, &written), NLS_SUCCESS);
    EXPECT_EQ(velta_test::hex(Bytes(buffer, buffer + written)), "C3 A9 C3 A9");
}

TEST_F(ChainedConverter, NewInputWaitsWhileTextIsWaiting) {
    Bytes out;
    EXPECT_EQ(convert(hexBytes("E9 E9 E9 E9"), 3, &out), NLS_RESULT_TRUNCATED);
    EXPECT_EQ(convert(bytes("abc"), 3, &out), NLS_RESULT_TRUNCATED);
    EXPECT_EQ(carried(), 3u) << "no new input is consumed while text waits";
    EXPECT_EQ(velta_test::hex(out), "C3 A9");
}

TEST_F(ChainedConverter, ResetDropsTheWaitingText) {
    Bytes out;
    EXPECT_EQ(convert(hexBytes("E9 E9 E9 E9"), 3, &out), NLS_RESULT_TRUNCATED);
    NLS_ResetEncodingConverter(object);
    EXPECT_EQ(convert(bytes("ok"), 16, &out), NLS_SUCCESS);
    EXPECT_EQ(out, bytes("ok"));
}

struct ChainCase {
    const char* from;
    const char* to;
    const char* input;   // hex
    const char* output;  // hex
    NLS_Status status;
};

// Statuses a chain must pass on instead of reporting success.
TEST(ChainedConverterStatus, FirstStageFailuresAreReportedOnceTheTextIsDelivered) {
    const ChainCase cases[] = {
        {"UTF-8", "UTF-8", "41 E2 82", "41", NLS_SEQUENCE_INCOMPLETE},
        {"UTF-8", "latin1", "E2 82", "", NLS_SEQUENCE_INCOMPLETE},
        {"UTF-7", "UTF-8", "2B 41 2D", "", NLS_INVALID_INPUT},
        {"UTF-7", "UTF-8", "E9", "C3 A9", NLS_INVALID_INPUT},
        {"ISO-10646-UCS-4", "UTF-8", "41 00 00 00 42", "41", NLS_SEQUENCE_INCOMPLETE},
        {"ESCAPED_UNICODE", "UTF-8", "41 5C 75 31", "41", NLS_SEQUENCE_INCOMPLETE},
    };
    for (const ChainCase& c : cases) {
        for (uint32_t first : {1u, 2u, 3u, 64u}) {
            const velta_test::Conversion result =
                velta_test::convertDrained(c.from, c.to, hexBytes(c.input), first);
            EXPECT_EQ(velta_test::hex(result.output), c.output)
                << c.from << " " << c.input << " " << first;
            EXPECT_EQ(result.status, c.status) << c.from << " " << c.input << " " << first;
        }
        NLS_EncTerminate();
    }
}

TEST(ChainedConverterStatus, PairsWithOnlyOneHalfHaveNoChain) {
    NLS_StaticConverterEntry table[] = {
        {"x-half", NLS_UCS2_NAME, "NewUTF8ToUnicodeEncodingConverter",
         NLS_AsEntryPoint(&NEWUTF8TOUNICODEENCODINGCONVERTER)},
        {nullptr, nullptr, nullptr, nullptr}};
    NLS_RegisterStaticLibrary(table);
    EncodingConverter* object = nullptr;
    EXPECT_EQ(NLS_NewEncodingConverter("x-half", "UTF-8", &object), NLS_SUCCESS);
    NLS_DeleteEncodingConverter(object);
    EXPECT_EQ(NLS_NewEncodingConverter("UTF-8", "x-half", &object), NLS_CONVERTER_NOT_FOUND);
    EXPECT_EQ(NLS_NewEncodingConverter("ISO-10646-UCS-2", "ISO-10646-UCS-2", &object),
              NLS_CONVERTER_NOT_FOUND);
    unsigned char out[8] = {};
    uint32_t written = 3;
    EXPECT_EQ(NLS_ConvertBuffer("UTF-8", "x-half", out, 1, out, 8, &written), NLS_NO_CONVERTER);
    NLS_EncTerminate();
}

TEST(ChainedConverterStatus, AHalfWhoseFactoryFailsIsReportedBySide) {
    NLS_StaticConverterEntry table[] = {{"x-broken", NLS_UCS2_NAME, "NoSuchEntry", nullptr},
                                        {NLS_UCS2_NAME, "x-broken", "NoSuchEntry", nullptr},
                                        {nullptr, nullptr, nullptr, nullptr}};
    NLS_RegisterStaticLibrary(table);
    EncodingConverter* object = nullptr;
    EXPECT_EQ(NLS_NewEncodingConverter("x-broken", "UTF-8", &object), NLS_NO_SOURCE_CONVERTER);
    EXPECT_EQ(NLS_NewEncodingConverter("UTF-8", "x-broken", &object), NLS_NO_TARGET_CONVERTER);
    NLS_EncTerminate();
}

// A pair met before is found again without the registry's searches; a
// converter registered since must still be seen.
TEST(ChainedConverterStatus, ADirectConverterRegisteredLaterReplacesTheChain) {
    const unsigned char text[] = {0x41};
    unsigned char out[8] = {};
    uint32_t written = 0;
    EXPECT_EQ(NLS_ConvertBuffer("latin1", "UTF-8", text, 1, out, 8, &written), NLS_SUCCESS);
    EXPECT_EQ(written, 1u);
    // Registered under the pair's names, a converter that writes UCS-2.
    NLS_StaticConverterEntry table[] = {
        {"ISO_8859-1:1987", "UTF-8", "NewUTF8ToUnicodeEncodingConverter",
         NLS_AsEntryPoint(&NEWUTF8TOUNICODEENCODINGCONVERTER)},
        {nullptr, nullptr, nullptr, nullptr}};
    NLS_RegisterStaticLibrary(table);
    EXPECT_EQ(NLS_ConvertBuffer("latin1", "UTF-8", text, 1, out, 8, &written), NLS_SUCCESS);
    EXPECT_EQ(written, 2u);
    NLS_EncTerminate();
}

}  // namespace
