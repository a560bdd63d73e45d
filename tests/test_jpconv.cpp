// The Japanese converter library, loaded through the shipped registry files
// from a data directory under test.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using namespace velta_test;

const char kShiftJis[] = "Shift_JIS";
const char kEucJp[] = "EUC-JP";
const char kIso2022Jp[] = "ISO-2022-JP";

#ifdef VELTA_HAVE_ICONV
// Every character of JIS X 0208, one a line, and (optionally) the katakana.
std::string jisCharacters(bool katakana) {
    std::string euc;
    for (int high = 0xA1; high <= 0xFE; ++high)
        for (int low = 0xA1; low <= 0xFE; ++low) {
            bool ok = false;
            const std::string pair{static_cast<char>(high), static_cast<char>(low)};
            const std::string utf8 = iconvText("UTF-8", "EUC-JP", pair, &ok);
            if (ok) euc += utf8 + "\n";
        }
    if (katakana)
        for (int b = 0xA1; b <= 0xDF; ++b)
            euc += iconvText("UTF-8", "EUC-JP", std::string{'\x8E', static_cast<char>(b)}) + "\n";
    return euc;
}

#endif

const char kSample[] =
    u8"今日はいい天気ですね。Velta で文字コードを変換します。\n"
    u8"東京駅、十時。ﾊﾝｶｸ and ASCII: A-Z {}[] #1\n";

class Jpconv : public LibraryTest {
protected:
    void SetUp() override {
        dir.installShippedData();
        ASSERT_EQ(NLS_EncInitialize(nullptr, dir.path().c_str()), NLS_SUCCESS);
    }
    std::string convert(const char* from, const char* to, const std::string& text,
                        NLS_Status* status = nullptr) {
        const Conversion result = convertOneShot(from, to, bytes(text));
        if (status != nullptr) *status = result.status;
        return std::string(result.output.begin(), result.output.end());
    }
    TemporaryDirectory dir;
};

TEST_F(Jpconv, NamesAndConvertersComeFromTheShippedDataDirectory) {
    EXPECT_STREQ(NLS_GetNormalizedEncodingName("sjis"), "Shift_JIS");
    EXPECT_STREQ(NLS_GetNormalizedEncodingName("EUC-JP"),
                 "Extended_UNIX_Code_Packed_Format_for_Japanese");
    EXPECT_STREQ(NLS_GetEncodingNameFromJava("ISO2022JP"), "ISO-2022-JP");
    EXPECT_STREQ(NLS_GetJavaEncodingName("shift_jis"), "SJIS");
    for (const char* name : {"Shift_JIS", "x-sjis", "EUC-JP", "ISO-2022-JP"}) {
        EXPECT_EQ(NLS_EncodingConverterExists(name, "UTF-8"), 1) << name;
        EXPECT_EQ(NLS_EncodingConverterExists("UTF-8", name), 1) << name;
    }
}

#ifdef VELTA_HAVE_ICONV
TEST_F(Jpconv, EveryJisX0208CharacterAndTheKatakanaMatchIconv) {
    const std::string all = jisCharacters(true);
    const std::string withoutKatakana = jisCharacters(false);
    struct {
        const char* ours;
        const char* theirs;
        const std::string* text;
    } cases[] = {{kShiftJis, "SHIFT_JIS", &all},
                 {kEucJp, "EUC-JP", &all},
                 {kIso2022Jp, "ISO-2022-JP", &withoutKatakana}};
    for (const auto& c : cases) {
        NLS_Status status = 0;
        const std::string encoded = convert("UTF-8", c.ours, *c.text, &status);
        EXPECT_EQ(status, NLS_SUCCESS) << c.ours;
        EXPECT_TRUE(encoded == iconvText(c.theirs, "UTF-8", *c.text))
            << c.ours << ": encoding differs from iconv";
        EXPECT_TRUE(convert(c.ours, "UTF-8", encoded, &status) == *c.text)
            << c.ours << ": round trip";
        EXPECT_EQ(status, NLS_SUCCESS) << c.ours;
    }
}

TEST_F(Jpconv, TheListedDifferencesFromIconv) {
    // Shift_JIS 0x5C and 0x7E are ASCII here (as in Python's codec); iconv
    // reads them as JIS X 0201 YEN SIGN and OVERLINE.
    EXPECT_EQ(convert(kShiftJis, "UTF-8", "\x5C\x7E"), "\\~");
    EXPECT_EQ(iconvText("UTF-8", "SHIFT_JIS", "\x5C\x7E"), u8"¥‾");
    // EUC-JP has no YEN SIGN here; iconv writes it as 0x5C.
    EXPECT_EQ(convert("UTF-8", kEucJp, u8"¥"), "?");
    EXPECT_EQ(iconvText("EUC-JP", "UTF-8", u8"¥"), "\x5C");
    // ISO-2022-JP writes the yen sign in JIS X 0201 Roman, as iconv does.
    EXPECT_EQ(convert("UTF-8", kIso2022Jp, u8"¥1"), iconvText("ISO-2022-JP", "UTF-8", u8"¥1"));
    // Half-width katakana have no place in ISO-2022-JP (iconv refuses them).
    EXPECT_EQ(convert("UTF-8", kIso2022Jp, u8"ｶ"), "?");
    // An ESC that starts no escape is malformed here; iconv passes it on.
    EXPECT_EQ(convert(kIso2022Jp, "UTF-8", "x\x1B\x41y"), u8"x\uFFFDAy");
    EXPECT_EQ(iconvText("UTF-8", "ISO-2022-JP", "x\x1B\x41y"), "x\x1B\x41y");
}

// Whole mixed texts, not a character a call: after JIS X 0201 Roman, "\\",
// "~" and the end of a line return to ASCII; JIS X 0212 after ESC $ ( D
// reads as ISO-2022-JP-1 writes it.
TEST_F(Jpconv, MixedTextsMatchIconv) {
    const std::string mixed = u8"a¥~b¥a~\\c ‾~ 漢字\\ ASCII ¥\n";
    EXPECT_EQ(convert("UTF-8", kIso2022Jp, mixed), iconvText("ISO-2022-JP", "UTF-8", mixed));
    // As Python's iso2022_jp_1 codec writes it.
    const std::string jis0212 = "\x1B$(D0!\x1B(B and \x1B$B4A\x1B(B and \x1B$(D0!0\"\x1B(B\n";
    EXPECT_EQ(convert(kIso2022Jp, "UTF-8", jis0212), u8"丂 and 漢 and 丂丄\n");
}

#endif

TEST_F(Jpconv, RealTextRoundTripsAndIsDetected) {
    for (const char* encoding : {kShiftJis, kEucJp}) {
        const std::string encoded = convert("UTF-8", encoding, kSample);
        EXPECT_EQ(convert(encoding, "UTF-8", encoded), kSample) << encoding;
        NLS_DetectedEncoding detected;
        uint32_t count = 0;
        ASSERT_EQ(NLS_DetectEncodingForBuffer(
                      reinterpret_cast<const unsigned char*>(encoded.data()),
                      static_cast<uint32_t>(encoded.size()), &detected, 1, &count),
                  NLS_SUCCESS);
        EXPECT_STREQ(NLS_GetNormalizedEncodingName(detected.encodingName),
                     NLS_GetNormalizedEncodingName(encoding));
    }
    const std::string jis = convert("UTF-8", kIso2022Jp, u8"今日は ASCII と漢字。\n");
    EXPECT_EQ(jis, "\x1B$B:#F|$O\x1B(B ASCII \x1B$B$H4A;z!#\x1B(B\n") << "as iconv writes it";
    EXPECT_EQ(convert(kIso2022Jp, "UTF-8", jis), u8"今日は ASCII と漢字。\n");
    EXPECT_EQ(convert(kIso2022Jp, "UTF-8", "\x1B$@\x30\x21\x1B(J\x5C\x1B(I\x31\x1B(B"), u8"亜¥ｱ");
}

TEST_F(Jpconv, EveryFirstOutputSizeAndEveryInputSplitEqualsOneShot) {
    for (const char* encoding : {kShiftJis, kEucJp, kIso2022Jp}) {
        const std::string sample =
            encoding == kIso2022Jp ? u8"今日は ASCII と漢字。¥\n東京駅。\n" : kSample;
        const Bytes text = bytes(convert("UTF-8", encoding, sample));
        const Bytes units = convertOneShot("UTF-8", "ISO-10646-UCS-2", bytes(sample)).output;
        const Conversion decoded = convertOneShot(encoding, "ISO-10646-UCS-2", text);
        ASSERT_EQ(decoded.output, units) << encoding;
        for (uint32_t first = 1; first <= 64; ++first) {
            EXPECT_EQ(convertDrained(encoding, "ISO-10646-UCS-2", text, first).output, units)
                << encoding << " " << first;
            EXPECT_EQ(convertDrained("ISO-10646-UCS-2", encoding, units, first).output, text)
                << encoding << " " << first;
            EXPECT_EQ(convertDrained(encoding, "UTF-8", text, first).output, bytes(sample))
                << encoding << " " << first;
        }
        for (uint32_t cut = 0; cut <= text.size(); ++cut) {
            const Conversion pieces = convertInPieces(encoding, "ISO-10646-UCS-2", text, {cut}, 64);
            EXPECT_EQ(pieces.output, units) << encoding << ", cut at " << cut;
            EXPECT_EQ(pieces.status, NLS_SUCCESS) << encoding << ", cut at " << cut;
        }
    }
}

// ESC, SO and SI in the text are characters the encoder lacks: written raw,
// "a ESC $ B 0 ! ESC ( B z" read back as "a亜z". An ESC that starts no
// escape is malformed wherever it is, and what follows it is read again.
TEST_F(Jpconv, EscapeBytesNeverBecomeEscapes) {
    const std::string text = "a\x1B$B0!\x1B(Bz";
    EXPECT_EQ(convert("UTF-8", kIso2022Jp, text), "a?$B0!?(Bz");
    const struct {
        const char* bytes;
        const char* text;
    } cases[] = {
        {"x\x1B"
         "A",
         u8"x\uFFFDA"},
        {"x\x1B"
         "Ay",
         u8"x\uFFFDAy"},
        {"\x1B$(Z0!", u8"\uFFFD$(Z0!"},
        {"\x1B$B0!\x1B\x1B(Bz", u8"亜\uFFFDz"},
        {"\x1B$B0\n\x1B(Bz", u8"\uFFFD\nz"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hex(bytes(convert(kIso2022Jp, "UTF-8", c.bytes))), hex(bytes(c.text)))
            << hex(bytes(c.bytes));
}

// One text through NLS_ConvertStream in two pieces (cut at `cut`) with
// outputs of `size` bytes, up to the first failure.
struct Streamed {
    NLS_Status status = NLS_SUCCESS;
    std::string output;
    size_t read = 0;
};

Streamed streamInPieces(EncodingConverter* object, const Bytes& input, size_t cut, uint32_t size) {
    Streamed result;
    NLS_ResetEncodingConverter(object);
    for (const size_t end : {cut, input.size()}) {
        const bool last = end == input.size();
        do {
            std::vector<unsigned char> buffer(size);
            uint32_t read = 0, written = 0;
            result.status = NLS_ConvertStream(object, input.data() + result.read,
                                              static_cast<uint32_t>(end - result.read),
                                              buffer.data(), size, last, &read, &written);
            result.output.append(buffer.begin(), buffer.begin() + written);
            result.read += read;
        } while (result.status == NLS_RESULT_TRUNCATED);
        if (result.status != NLS_SUCCESS || last) break;
    }
    return result;
}

// What stands for a character ISO-2022-JP lacks is written in the mode in
// force, ESC ( B first where that is JIS X 0208, and the text goes on in
// the mode it needs; under the stop action the output is what precedes the
// character, without an escape back to ASCII for it
// (Iso2022JpStopWritesNoEscapeForTheCharacter). Direct from UCS-2 and
// through a chain from UTF-8, at every cut and output size.
TEST_F(Jpconv, Iso2022JpWritesWhatStandsForALackedCharacterInItsMode) {
    const struct {
        int32_t action;
        uint32_t substitute;
        NLS_Status status;
        const char* expected;
    } rows[] = {
        {NLS_ACTION_REPLACE, '?', NLS_SUCCESS, "\x1B$B4A\x1B(B?\x1B$B4A\x1B(B"},
        {NLS_ACTION_SKIP, '?', NLS_SUCCESS, "\x1B$B4A4A\x1B(B"},
        {NLS_ACTION_STOP, '?', NLS_UNMAPPABLE, "\x1B$B4A"},
        {NLS_ACTION_TRANSLITERATE, '?', NLS_SUCCESS, "\x1B$B4A\x1B(BEUR\x1B$B4A\x1B(B"},
        {NLS_ACTION_ESCAPE_XML_DECIMAL, '?', NLS_SUCCESS, "\x1B$B4A\x1B(B&#8364;\x1B$B4A\x1B(B"},
        // The caller's substitute in JIS X 0201 Roman, where ISO-2022-JP has it.
        {NLS_ACTION_SUBSTITUTE, 0xA5, NLS_SUCCESS, "\x1B$B4A\x1B(J\\\x1B$B4A\x1B(B"},
    };
    const std::u16string text = u"\u6F22\u20AC\u6F22";
    for (const char* from : {NLS_UCS2_NAME, "UTF-8"}) {
        const Bytes input = std::string(from) == NLS_UCS2_NAME
                                ? ucs2(text)
                                : convertOneShot(NLS_UCS2_NAME, "UTF-8", ucs2(text)).output;
        const size_t lackedAt = input.size() / 3;
        for (const auto& row : rows) {
            EncodingConverter* object = nullptr;
            ASSERT_EQ(NLS_NewEncodingConverter(from, kIso2022Jp, &object), NLS_SUCCESS);
            ASSERT_EQ(NLS_SetConversionOption(object, NLS_OPTION_UNMAPPABLE_ACTION, row.action),
                      NLS_SUCCESS);
            ASSERT_EQ(NLS_SetConversionOption(object, NLS_OPTION_SUBSTITUTE_CHARACTER,
                                              static_cast<int32_t>(row.substitute)),
                      NLS_SUCCESS);
            const std::string where = std::string(from) + " action " + std::to_string(row.action);
            for (uint32_t size = 1; size <= 12; ++size) {
                for (size_t cut = 0; cut <= input.size(); ++cut) {
                    const Streamed streamed = streamInPieces(object, input, cut, size);
                    EXPECT_EQ(streamed.status, row.status)
                        << where << " cut " << cut << " output " << size;
                    EXPECT_EQ(hex(bytes(streamed.output)), hex(bytes(row.expected)))
                        << where << " cut " << cut << " output " << size;
                    // (Where a cut parts the character, its first bytes were read before.)
                    const bool cutInside = cut > lackedAt && cut < 2 * lackedAt;
                    if (row.status == NLS_UNMAPPABLE && !cutInside) {
                        EXPECT_EQ(streamed.read, lackedAt)
                            << where << " cut " << cut << " output " << size;
                    }
                }
            }
            NLS_DeleteEncodingConverter(object);
        }
    }
}

// ISO-2022-JP's runs of JIS X 0208 are read a run at a time: a pair with a
// byte past 0x7E or without a character stops them where reading character
// by character stops (under the stop policy: the offset and the text before
// it), and a run longer than the output fills it to its last byte and no
// further.
TEST_F(Jpconv, Iso2022JpKanjiRunsStopWhereEachCharacterDoes) {
    const struct {
        const char* bytes;
        uint32_t stop;
    } cases[] = {{"\x1B$B0!0!0\xA1\x1B(B", 7},      // a trail past 0x7E
                 {"\x1B$B0!0!\xB0!\x1B(B", 7},      // a lead past 0x7E
                 {"\x1B$B0!0!\x22\x2F\x1B(B", 7}};  // no character (row 2, cell 15)
    for (const auto& c : cases) {
        EncodingConverter* object = nullptr;
        ASSERT_EQ(NLS_NewEncodingConverter(kIso2022Jp, NLS_UCS2_NAME, &object), NLS_SUCCESS);
        NLS_SetConversionPolicy(object, NLS_POLICY_STOP);
        const Bytes input = bytes(c.bytes);
        unsigned char out[64];
        uint32_t read = 0, written = 0;
        EXPECT_EQ(NLS_ConvertStream(object, input.data(), static_cast<uint32_t>(input.size()), out,
                                    sizeof out, 1, &read, &written),
                  NLS_INVALID_INPUT)
            << hex(input);
        EXPECT_EQ(read, c.stop) << hex(input);
        EXPECT_EQ(hex(Bytes(out, out + written)), "9C 4E 9C 4E") << hex(input);
        NLS_DeleteEncodingConverter(object);
    }
    std::string run = "\x1B$B";
    for (int i = 0; i < 60; ++i) run += "0!";
    const Bytes input = bytes(run + "\x1B(B");
    const std::string whole = convert(kIso2022Jp, NLS_UCS2_NAME, run + "\x1B(B");
    EncodingConverter* object = nullptr;
    ASSERT_EQ(NLS_NewEncodingConverter(kIso2022Jp, NLS_UCS2_NAME, &object), NLS_SUCCESS);
    for (uint32_t size = 64; size <= 100; ++size) {
        GuardedBuffer buffer(size);
        uint32_t read = 0, written = 0;
        EXPECT_EQ(NLS_ConvertStream(object, input.data(), static_cast<uint32_t>(input.size()),
                                    buffer.data(), size, 1, &read, &written),
                  NLS_RESULT_TRUNCATED);
        EXPECT_TRUE(buffer.guardIntact()) << "output of " << size;
        EXPECT_EQ(std::string(buffer.data(), buffer.data() + written), whole.substr(0, written));
        NLS_ResetEncodingConverter(object);
    }
    NLS_DeleteEncodingConverter(object);
}

TEST_F(Jpconv, CutAndInvalidInput) {
    NLS_Status status = 0;
    EXPECT_EQ(convert(kShiftJis, "UTF-8", "A\x82", &status), "A");
    EXPECT_EQ(status, NLS_SEQUENCE_INCOMPLETE);
    EXPECT_EQ(convert(kEucJp, "UTF-8", "A\x8F\xB0", &status), "A");
    EXPECT_EQ(status, NLS_SEQUENCE_INCOMPLETE);
    EXPECT_EQ(convert(kIso2022Jp, "UTF-8", "A\x1B$", &status), "A");
    EXPECT_EQ(status, NLS_SEQUENCE_INCOMPLETE);
    EXPECT_EQ(convert(kShiftJis, "UTF-8", "\x80\xA0\xFD", &status), u8"\uFFFD\uFFFD\uFFFD");
}

}  // namespace
