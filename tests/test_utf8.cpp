#include <gtest/gtest.h>

#include <random>
#include <string>

#include "converter_calls.h"
#ifdef VELTA_HAVE_ICU
#include <unicode/ustring.h>
#endif

namespace {

using namespace velta_test;

TEST(Utf8Decoder, KnownSequences) {
    const CallCase cases[] = {
        {"41", 64, "41 00", 1, NLS_SUCCESS},
        {"C3 A9", 64, "E9 00", 2, NLS_SUCCESS},
        {"E2 82 AC", 64, "AC 20", 3, NLS_SUCCESS},
        {"F0 9F 98 80", 64, "3D D8 00 DE", 4, NLS_SUCCESS},
        {"E2 82", 64, "", 0, NLS_SEQUENCE_INCOMPLETE},
        {"41 E2 82", 64, "41 00", 1, NLS_SEQUENCE_INCOMPLETE},
        {"C0 80", 64, "00 00", 2, NLS_SUCCESS},
        {"80", 64, "FD FF", 1, NLS_SUCCESS},
        {"C0 AF", 64, "FD FF", 2, NLS_SUCCESS},
        {"E0 80 AF 41", 64, "FD FF 41 00", 4, NLS_SUCCESS},
        {"F0 80 80 AF", 64, "FD FF", 4, NLS_SUCCESS},
        {"C1 BF", 64, "FD FF", 2, NLS_SUCCESS},
        {"FF 41", 64, "FD FF 41 00", 2, NLS_SUCCESS},
        {"E0 A0 80", 64, "00 08", 3, NLS_SUCCESS},
        {"F8 88 80 80 80", 64, "FD FF", 5, NLS_SUCCESS},
        {"ED A0 80", 64, "00 D8", 3, NLS_SUCCESS},
        {"EF BB BF", 64, "FF FE", 3, NLS_SUCCESS},
        {"", 2, "", 0, NLS_SUCCESS},
        {"", 1, "", 0, NLS_RESULT_TRUNCATED},
        {"", 0, "", 0, NLS_RESULT_TRUNCATED},
        {"41 42", 4, "41 00 42 00", 2, NLS_RESULT_TRUNCATED},
        {"F0 9F 98 80", 2, "", 0, NLS_OUTPUT_FULL},
        {"F0 9F 98 80", 1, "", 0, NLS_RESULT_TRUNCATED},
        {"F0 9F 98 80", 3, "", 0, NLS_OUTPUT_FULL},
        {"F0 9F 98 80", 5, "3D D8 00 DE", 4, NLS_RESULT_TRUNCATED},
    };
    expectCalls(NEWUTF8TOUNICODEENCODINGCONVERTER, cases);
}

// A lead byte followed by a byte that is not a continuation byte: the bytes
// read so far give one U+FFFD and decoding resumes at that byte.
TEST(Utf8Decoder, BrokenSequencesDoNotSwallowTheNextCharacter) {
    const CallCase cases[] = {
        {"C3 41", 64, "FD FF 41 00", 2, NLS_SUCCESS},
        {"E2 41 42", 64, "FD FF 41 00 42 00", 3, NLS_SUCCESS},
        {"E2 82 41", 64, "FD FF 41 00", 3, NLS_SUCCESS},
        {"F0 9F 98 41", 64, "FD FF 41 00", 4, NLS_SUCCESS},
        {"C3 C3 A9", 64, "FD FF E9 00", 3, NLS_SUCCESS},
        {"E2 C3 A9", 64, "FD FF E9 00", 3, NLS_SUCCESS},
        {"C3 E2", 64, "FD FF", 1, NLS_SEQUENCE_INCOMPLETE},
        {"F0 9F 41 E2 82", 64, "FD FF 41 00", 3, NLS_SEQUENCE_INCOMPLETE},
        {"FE 41", 64, "FD FF 41 00", 2, NLS_SUCCESS},
        {"C3 0A", 64, "FD FF 0A 00", 2, NLS_SUCCESS},
    };
    expectCalls(NEWUTF8TOUNICODEENCODINGCONVERTER, cases);
}

TEST(Utf8Encoder, KnownUnits) {
    const CallCase cases[] = {
        {"E9 00", 64, "C3 A9", 2, NLS_SUCCESS},
        {"AC 20", 64, "E2 82 AC", 2, NLS_SUCCESS},
        {"3D D8 00 DE", 64, "F0 9F 98 80", 4, NLS_SUCCESS},
        {"00 D8", 64, "", 0, NLS_SEQUENCE_INCOMPLETE},
        {"00 D8 41 00", 64, "ED A0 80 41", 4, NLS_SUCCESS},
        {"00 DC", 64, "ED B0 80", 2, NLS_SUCCESS},
        {"00 DC 3D D8", 64, "ED B0 80", 2, NLS_SEQUENCE_INCOMPLETE},
        {"FF FE", 64, "EF BB BF", 2, NLS_SUCCESS},
        {"AC 20", 2, "", 0, NLS_SEQUENCE_INCOMPLETE},
        {"AC 20", 3, "E2 82 AC", 2, NLS_RESULT_TRUNCATED},
        {"41 00 AC 20", 3, "41", 2, NLS_SEQUENCE_INCOMPLETE},
        {"41 00 AC 20", 4, "41 E2 82 AC", 4, NLS_RESULT_TRUNCATED},
        {"3D D8 00 DE", 4, "F0 9F 98 80", 4, NLS_RESULT_TRUNCATED},
        {"3D D8 00 DE", 3, "", 0, NLS_SEQUENCE_INCOMPLETE},
        {"", 1, "", 0, NLS_SUCCESS},
        {"", 0, "", 0, NLS_RESULT_TRUNCATED},
        {"41 00 42", 64, "41", 2, NLS_SEQUENCE_INCOMPLETE},
    };
    expectCalls(NEWUNICODETOUTF8ENCODINGCONVERTER, cases);
}

#ifdef VELTA_HAVE_ICU
std::u16string randomUnits(std::mt19937& random, size_t length) {
    // Weighted towards ASCII runs, with every kind of unit, lone surrogates included.
    std::u16string text;
    std::uniform_int_distribution<int> kind(0, 9);
    for (size_t i = 0; i < length; ++i) {
        switch (kind(random)) {
            case 0:
            case 1:
            case 2:
            case 3:
                text += char16_t(0x20 + random() % 0x5F);
                break;
            case 4:
                text += char16_t(0x80 + random() % 0x780);
                break;
            case 5:
                text += char16_t(0x800 + random() % 0xD000);
                break;
            case 6:
                text += char16_t(0xD800 + random() % 0x400);
                text += char16_t(0xDC00 + random() % 0x400);
                break;
            case 7:
                text += char16_t(0xD800 + random() % 0x800);
                break;
            case 8:
                text += char16_t(0xE000 + random() % 0x2000);
                break;
            default:
                text += char16_t(random() % 0x20);
                break;
        }
    }
    return text;
}

TEST(Utf8Differential, ValidTextDecodesAsIcuDecodesIt) {
    std::mt19937 random(3629);
    for (int round = 0; round < 200; ++round) {
        std::u16string text;
        for (char16_t unit : randomUnits(random, random() % 300)) {
            if (unit >= 0xD800 && unit <= 0xDFFF) continue;  // keep it valid
            text += unit;
        }
        text += u"\U0001F600\U0010FFFD";
        char utf8[8192];
        int32_t length = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strToUTF8(utf8, sizeof utf8, &length, reinterpret_cast<const UChar*>(text.data()),
                    static_cast<int32_t>(text.size()), &error);
        ASSERT_TRUE(U_SUCCESS(error));
        const Conversion decoded =
            convertOneShot("UTF-8", "ISO-10646-UCS-2", Bytes(utf8, utf8 + length));
        ASSERT_EQ(decoded.status, NLS_SUCCESS);
        EXPECT_EQ(fromUcs2(decoded.output), text);
        const Conversion encoded = convertOneShot("ISO-10646-UCS-2", "UTF-8", ucs2(text));
        EXPECT_EQ(encoded.output, Bytes(utf8, utf8 + length));
    }
    NLS_EncTerminate();
}
#endif

TEST(Utf8FlatFunctions, AliasesAndChains) {
    const Bytes text = hexBytes("48 C3 A9 E2 82 AC F0 9F 98 80");
    for (const char* name : {"UTF-8", "utf_8", "UNICODE-1-1-UTF-8"}) {
        const Conversion decoded = convertOneShot(name, "ISO-10646-UCS-2", text);
        EXPECT_EQ(decoded.status, NLS_SUCCESS) << name;
        EXPECT_EQ(fromUcs2(decoded.output), u"H\u00E9\u20AC\U0001F600") << name;
    }
    const Conversion same = convertOneShot("UTF-8", "UTF-8", text);
    EXPECT_EQ(same.status, NLS_SUCCESS);
    EXPECT_EQ(same.output, text);
    NLS_EncTerminate();
}

}  // namespace
