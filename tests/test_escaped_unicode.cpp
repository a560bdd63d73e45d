#include <gtest/gtest.h>

#include <random>

#include "converter_calls.h"

namespace {

using namespace velta_test;

struct DecodeCase {
    const char* escaped;
    std::u16string text;
    uint32_t consumed;
    NLS_Status status;
};

TEST(EscapedUnicode, Decoding) {
    ConverterPtr decoder(NEWEUCSTOUNICODEENCODINGCONVERTER());
    const DecodeCase cases[] = {
        {"A\\u00e9B", u"A\u00E9B", 8, NLS_SUCCESS},
        {"\\u20AC", u"\u20AC", 6, NLS_SUCCESS},
        {"\\uuu20ac", u"\u20AC", 8, NLS_SUCCESS},
        {"\\x", u"\\x", 2, NLS_SUCCESS},
        {"\\\\u0041", u"\\\\u0041", 7, NLS_SUCCESS},
        {"\\u12G4", u"\u0012G4", 6, NLS_SUCCESS},
        {"\\u12 ", u"\u0012 ", 5, NLS_SUCCESS},
        {"\xE9", u"\u00E9", 1, NLS_SUCCESS},
        // "\u" without a digit is plain text, never U+0000.
        {"\\uZ", u"\\uZ", 3, NLS_SUCCESS},
        {"\\uuZ", u"\\uuZ", 4, NLS_SUCCESS},
        {"\\u-\\u", u"\\u-", 3, NLS_SEQUENCE_INCOMPLETE},
        // An escape cut by the end of the input is left for the next call.
        {"A\\u12", u"A", 1, NLS_SEQUENCE_INCOMPLETE},
        {"A\\", u"A", 1, NLS_SEQUENCE_INCOMPLETE},
        {"A\\uu", u"A", 1, NLS_SEQUENCE_INCOMPLETE},
        {"\\u1234", u"\u1234", 6, NLS_SUCCESS},
        {"", u"", 0, NLS_SUCCESS},
    };
    for (const DecodeCase& c : cases) {
        const CallResult result = callConvert(decoder.get(), bytes(c.escaped), 64);
        EXPECT_EQ(fromUcs2(result.output), c.text) << c.escaped;
        EXPECT_EQ(result.consumed, c.consumed) << c.escaped;
        EXPECT_EQ(result.status, c.status) << c.escaped;
    }
}

TEST(EscapedUnicode, Encoding) {
    ConverterPtr encoder(NEWUNICODETOEUCSENCODINGCONVERTER());
    struct {
        std::u16string text;
        const char* escaped;
    } cases[] = {
        {u"\u00E9", "\\u00E9"},
        {u"\u20AC", "\\u20AC"},
        {std::u16string(1, u'\0'), "\\u0000"},
        {u"\u007F", "\\u007F"},
        {u"\t\n\r", "\t\n\r"},
        {u"\u0001", "\\u0001"},
        {u"\U0001F600", "\\uD83D\\uDE00"},
        // A backslash stays itself where it reads back as itself.
        {u"C:\\dir\\file", "C:\\dir\\file"},
        {u"\\\\", "\\\\"},
        {u"\\u0041", "\\u005Cu0041"},
        {u"a\\", "a\\u005C"},
        {u"\\\u00E9", "\\u005C\\u00E9"},
        {u"\\\\\\u", "\\\\\\u005Cu"},
    };
    for (const auto& c : cases) {
        const CallResult result = callConvert(encoder.get(), ucs2(c.text), 64);
        EXPECT_EQ(std::string(result.output.begin(), result.output.end()), c.escaped);
        EXPECT_EQ(result.status, NLS_SUCCESS);
    }
    const CallResult small = callConvert(encoder.get(), ucs2(u"AB"), 8);
    EXPECT_EQ(std::string(small.output.begin(), small.output.end()), "A");
    EXPECT_EQ(small.consumed, 2u);
    EXPECT_EQ(small.status, NLS_RESULT_TRUNCATED);
    EXPECT_EQ(small.buffer[1], 0);
}

}  // namespace
