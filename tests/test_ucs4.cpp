#include <gtest/gtest.h>
#ifdef VELTA_HAVE_ICONV
#include <iconv.h>
#endif

#include "converter_calls.h"

namespace {

using namespace velta_test;

TEST(Ucs4, ReadsUnitsPairsOutOfRangeValuesAndCutUnits) {
    const CallCase decodings[] = {
        {"41 00 00 00", 64, "41 00", 4, NLS_SUCCESS},
        {"00 F6 01 00", 64, "3D D8 00 DE", 4, NLS_SUCCESS},
        {"FF FF 10 00", 64, "FF DB FF DF", 4, NLS_SUCCESS},
        {"00 00 11 00", 64, "FD FF", 4, NLS_SUCCESS},
        // The second replacement, as the first, leaves the terminator its room.
        {"00 00 11 00 00 00 11 00", 4, "FD FF", 4, NLS_RESULT_TRUNCATED},
        {"00 D8 00 00", 64, "00 D8", 4, NLS_SUCCESS},
        {"41 00 00 00 42", 64, "41 00", 4, NLS_RESULT_TRUNCATED},
        {"41 00 00", 64, "", 0, NLS_RESULT_TRUNCATED},
        {"41 00 00 00", 2, "", 0, NLS_RESULT_TRUNCATED},
        {"00 F6 01 00", 5, "", 0, NLS_RESULT_TRUNCATED},
        {"00 F6 01 00", 6, "3D D8 00 DE", 4, NLS_SUCCESS},
        {"", 64, "", 0, NLS_SUCCESS},
    };
    expectCalls(NEWUCS4TOUNICODEENCODINGCONVERTER, decodings);
    const CallCase encodings[] = {
        {"41 00", 64, "41 00 00 00", 2, NLS_SUCCESS},
        {"3D D8 00 DE", 64, "00 F6 01 00", 4, NLS_SUCCESS},
        {"3D D8 41 00", 64, "3D D8 00 00 41 00 00 00", 4, NLS_SUCCESS},
        {"00 DE", 64, "00 DE 00 00", 2, NLS_SUCCESS},
        {"41 00 42 00", 8, "41 00 00 00", 2, NLS_RESULT_TRUNCATED},
        {"41 00 42", 64, "41 00 00 00", 2, NLS_RESULT_TRUNCATED},
        {"", 64, "", 0, NLS_SUCCESS},
    };
    expectCalls(NEWUNICODETOUCS4ENCODINGCONVERTER, encodings);
}

#ifdef VELTA_HAVE_ICONV
Bytes iconvConvert(const char* to, const char* from, const Bytes& input) {
    iconv_t cd = iconv_open(to, from);
    EXPECT_NE(cd, (iconv_t)-1);
    Bytes output(input.size() * 4 + 16);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(input.data()));
    size_t inLeft = input.size();
    char* out = reinterpret_cast<char*>(output.data());
    size_t outLeft = output.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &out, &outLeft), static_cast<size_t>(-1));
    iconv_close(cd);
    output.resize(output.size() - outLeft);
    return output;
}

TEST(Ucs4, EveryScalarValueCrossesFromUtf8AndBackLikeIconv) {
    std::u32string all;
    for (char32_t c = 1; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        all += c;
    }
    const Bytes utf32 = ucs4(all);
    const Bytes utf8 = iconvConvert("UTF-8", "UTF-32LE", utf32);
    const size_t pieces = 4;
    Bytes ours;
    size_t start = 0;
    for (size_t piece = 1; piece <= pieces; ++piece) {
        // Cut on a character boundary of the UTF-8 text.
        size_t end = piece == pieces ? utf8.size() : utf8.size() * piece / pieces;
        while (end < utf8.size() && (utf8[end] & 0xC0) == 0x80) ++end;
        const Conversion part = convertOneShot("UTF-8", "ISO-10646-UCS-4",
                                               Bytes(utf8.begin() + start, utf8.begin() + end));
        ASSERT_EQ(part.status, NLS_SUCCESS);
        ours.insert(ours.end(), part.output.begin(), part.output.end());
        start = end;
    }
    ASSERT_EQ(ours.size(), utf32.size());
    EXPECT_TRUE(ours == utf32) << "UTF-8 to UCS-4 matches iconv's UTF-32LE byte for byte";
    const Conversion back = convertOneShot("ISO-10646-UCS-4", "UTF-8", utf32);
    ASSERT_EQ(back.status, NLS_SUCCESS);
    EXPECT_TRUE(back.output == utf8);
    NLS_EncTerminate();
}

#endif

}  // namespace
