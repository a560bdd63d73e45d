// The Chinese and Korean converter library and windows-31j, loaded through the
// shipped registry files: every two-byte code against iconv, the four-byte
// GB18030 ranges, hostile bytes, real text.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cjkconv/indexes/gb18030_ranges.h"
#include "sample_texts.h"
#include "test_support.h"

#ifdef VELTA_HAVE_ICU
#include <unicode/ucnv.h>
#include <unicode/uversion.h>
#endif

namespace {

using namespace velta_test;

class Cjkconv : public LibraryTest {
protected:
    void SetUp() override {
        dir.installShippedData();
        ASSERT_EQ(NLS_EncInitialize(nullptr, dir.path().c_str()), NLS_SUCCESS);
    }
    static std::string convert(const char* from, const char* to, const std::string& text,
                               NLS_Status* status = nullptr) {
        const Conversion result = convertOneShot(from, to, bytes(text));
        if (status != nullptr) *status = result.status;
        return std::string(result.output.begin(), result.output.end());
    }
    TemporaryDirectory dir;
};

// Each encoding's two-byte form: its lead bytes and trail bytes, and the
// codes where iconv, on purpose, reads or writes otherwise.
struct TwoByteForm {
    const char* name;
    // iconv's name for it, and a second iconv encoding that reads the codes
    // the first lacks (or null).
    const char* iconvName;
    const char* iconvSuperset;
    bool (*lead)(int);
    bool (*trail)(int);
    // A code that decodes to `ours` here and to `theirs` in iconv (0 where
    // iconv has no character), as a listed difference.
    bool (*decodesOtherwise)(int code, char32_t ours, char32_t theirs);
    // A code whose character this encoder does not write ("?").
    bool (*notWritten)(int code);
};

bool in(int value, int low, int high) {
    return low <= value && value <= high;
}
bool privateUse(char32_t c) {
    return in(static_cast<int>(c), 0xE000, 0xF8FF);
}
bool none(int) {
    return false;
}
bool noDifference(int, char32_t, char32_t) {
    return false;
}

bool gbkLead(int b) {
    return in(b, 0x81, 0xFE);
}
bool gbkTrail(int b) {
    return in(b, 0x40, 0x7E) || in(b, 0x80, 0xFE);
}
// GB 18030-2022 keeps six two-byte codes (0xFE51 and others) on private use
// characters, whose standard ones beyond the BMP have four-byte codes of
// their own; iconv reads the two-byte codes as the standard ones.
bool gb18030PlaneTwo(int, char32_t ours, char32_t theirs) {
    return privateUse(ours) && theirs >= 0x20000;
}
// iconv has no user-defined areas; the WHATWG index maps them to the
// private use area, as Windows does.
bool gbkUserDefined(int code, char32_t ours, char32_t theirs) {
    return (privateUse(ours) && theirs == 0) || gb18030PlaneTwo(code, ours, theirs);
}
bool eucLead(int b) {
    return in(b, 0xA1, 0xFE);
}
bool eucTrail(int b) {
    return in(b, 0xA1, 0xFE);
}
bool big5Lead(int b) {
    return in(b, 0xA1, 0xFE);
}
bool hkscsLead(int b) {
    return in(b, 0x81, 0xA0);
}
bool big5Trail(int b) {
    return in(b, 0x40, 0x7E) || in(b, 0xA1, 0xFE);
}
// HKSCS codes below lead 0xA1 that iconv's BIG5-HKSCS does not read; the
// encoder writes none of these codes (WHATWG's big5 writes plain Big5).
// Codes of the WHATWG index that neither of iconv's Big5 encodings reads
// (ETEN's control pictures, 0xA3C0-0xA3E1, say), or that iconv's
// BIG5-HKSCS reads as a private use character, as HKSCS did before 2004;
// 0xF9FE is HKSCS's U+FFED, where Windows has U+2593.
bool big5Extension(int code, char32_t ours, char32_t theirs) {
    return theirs == 0 || (privateUse(theirs) && !privateUse(ours)) ||
           (code == 0xF9FE && ours == 0xFFED && theirs == 0x2593);
}
bool hkscsCompatibility(int code, char32_t, char32_t theirs) {
    return code < 0xA100 && theirs == 0;
}
bool hkscs(int code) {
    return code < 0xA100;
}
bool eucKrTrail(int b) {
    return in(b, 0x41, 0xFE);
}
bool shiftJisLead(int b) {
    return in(b, 0x81, 0x9F) || in(b, 0xE0, 0xFC);
}
bool shiftJisTrail(int b) {
    return in(b, 0x40, 0x7E) || in(b, 0x80, 0xFC);
}
// The private use area that windows-31j reads at 0xF040-0xF9FC is not
// written back, as the WHATWG encoder says; iconv writes it.
bool windows31jPrivateUse(int code) {
    return in(code, 0xF040, 0xF9FC);
}

// GBK decodes as GB18030 does (the WHATWG decoder of both); Big5 is
// Big5-HKSCS, read through iconv's CP950 and, where it has nothing, its
// BIG5-HKSCS.
const TwoByteForm kForms[] = {
    {"GB18030", "GB18030", nullptr, gbkLead, gbkTrail, gb18030PlaneTwo, none},
    {"GBK", "CP936", "GB18030", gbkLead, gbkTrail, gbkUserDefined, none},
    {"GB2312", "GB2312", nullptr, eucLead, eucTrail, noDifference, none},
    {"Big5", "CP950", "BIG5-HKSCS", big5Lead, big5Trail, big5Extension, none},
    {"Big5", "BIG5-HKSCS", nullptr, hkscsLead, big5Trail, hkscsCompatibility, hkscs},
    {"EUC-KR", "CP949", nullptr, gbkLead, eucKrTrail, noDifference, none},
    {"windows-31j", "CP932", nullptr, shiftJisLead, shiftJisTrail, noDifference,
     windows31jPrivateUse},
};

#ifdef VELTA_HAVE_ICONV
std::string pairOf(int lead, int trail) {
    return std::string{static_cast<char>(lead), static_cast<char>(trail)};
}

// The one character a UTF-8 text holds, 0 for none or several.
char32_t onlyCharacter(const std::string& utf8) {
    const Bytes units = convertOneShot("UTF-8", "ISO-10646-UCS-4", bytes(utf8)).output;
    if (units.size() != 4) return 0;
    char32_t c;
    memcpy(&c, units.data(), 4);
    return c;
}

// What iconv makes of a whole text; "" where it refuses any of it.
std::string iconvWhole(const char* to, const char* from, const std::string& text) {
    bool ok = false;
    const std::string output = iconvText(to, from, text, &ok);
    return ok ? output : std::string();
}

TEST_F(Cjkconv, EveryTwoByteCodeDecodesAndEncodesAsIconvDoes) {
    for (const TwoByteForm& form : kForms) {
        int checked = 0;
        for (int lead = 0x80; lead <= 0xFF; ++lead)
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (!form.lead(lead) || !form.trail(trail)) continue;
                const int code = lead << 8 | trail;
                const std::string pair = pairOf(lead, trail);
                const std::string ours = convert(form.name, "UTF-8", pair);
                std::string theirs = iconvWhole("UTF-8", form.iconvName, pair);
                if (theirs.empty() && form.iconvSuperset != nullptr)
                    theirs = iconvWhole("UTF-8", form.iconvSuperset, pair);
                const bool mapped = ours.find("\xEF\xBF\xBD") == std::string::npos;
                if ((mapped || !theirs.empty()) && ours != theirs) {
                    EXPECT_TRUE(
                        form.decodesOtherwise(code, onlyCharacter(ours), onlyCharacter(theirs)))
                        << form.name << " " << std::hex << code << ": " << hex(bytes(ours))
                        << " here, " << hex(bytes(theirs)) << " in iconv";
                }
                if (!mapped) continue;
                ++checked;
                // Written back as a code that reads the same: the code itself,
                // or the other code of a character that has two.
                const std::string back = convert("UTF-8", form.name, ours);
                if (form.notWritten(code) && back.find_first_not_of('?') == std::string::npos)
                    continue;
                EXPECT_EQ(hex(bytes(convert(form.name, "UTF-8", back))), hex(bytes(ours)))
                    << form.name << " " << std::hex << code << " written as " << hex(bytes(back));
            }
        EXPECT_GT(checked, 1000) << form.name;
    }
}

std::string fourByteCode(uint32_t pointer) {
    return std::string{
        static_cast<char>(pointer / 12600 + 0x81), static_cast<char>(pointer / 1260 % 10 + 0x30),
        static_cast<char>(pointer / 10 % 126 + 0x81), static_cast<char>(pointer % 10 + 0x30)};
}

// The four-byte codes outside the runs that iconv lacks: GB 18030-2022 gave
// the two-byte codes of eighteen private use characters to standard ones,
// and those take the standard ones' old four-byte codes here (as in ICU 73);
// iconv has no code for them. U+E7C7 is one that iconv has.
bool movedPrivateUse(uint32_t pointer) {
    for (uint32_t k = 0; k < kGb18030MovedLength; ++k)
        if (kGb18030Moved[k].pointer == pointer) return kGb18030Moved[k].codePoint != 0xE7C7;
    return false;
}

// Every four-byte code of the BMP, and the planes beyond it, both ways as
// iconv reads and writes them (GB 18030-2022).
TEST_F(Cjkconv, Gb18030FourByteCodesMatchIconv) {
    std::string codes;
    for (uint32_t pointer = 0; pointer <= 39419; ++pointer)
        if (!movedPrivateUse(pointer)) codes += fourByteCode(pointer);
    for (uint32_t plane = 1; plane <= 16; ++plane)
        for (uint32_t offset : {0u, 0x1234u, 0xFFFFu})
            codes += fourByteCode(189000 + (plane - 1) * 0x10000 + offset);
    const std::string text = convert("GB18030", "UTF-8", codes);
    EXPECT_TRUE(text == iconvWhole("UTF-8", "GB18030", codes)) << "decoding differs from iconv";
    EXPECT_TRUE(convert("UTF-8", "GB18030", text) == codes) << "encoding differs";
    int moved = 0;
    for (uint32_t pointer = 0; pointer <= 39419; ++pointer) {
        if (!movedPrivateUse(pointer)) continue;
        ++moved;
        const std::string character = convert("GB18030", "UTF-8", fourByteCode(pointer));
        EXPECT_TRUE(privateUse(onlyCharacter(character))) << "pointer " << pointer;
        EXPECT_EQ(iconvWhole("UTF-8", "GB18030", fourByteCode(pointer)), "") << pointer;
        EXPECT_EQ(hex(bytes(convert("UTF-8", "GB18030", character))),
                  hex(bytes(fourByteCode(pointer))));
    }
    EXPECT_EQ(moved, 18);
}
#endif

#if defined(VELTA_HAVE_ICU) && defined(VELTA_HAVE_ICONV)
// The one character ICU's gb18030 reads from `code`, 0 where it fails.
char32_t icuGb18030Character(UConverter* icu, const std::string& code) {
    UErrorCode error = U_ZERO_ERROR;
    UChar units[4];
    ucnv_reset(icu);
    const int32_t count =
        ucnv_toUChars(icu, units, 4, code.data(), static_cast<int32_t>(code.size()), &error);
    if (U_FAILURE(error) || count < 1) return 0;
    if (count == 2 && units[0] >= 0xD800 && units[0] <= 0xDBFF)
        return 0x10000 + ((units[0] - 0xD800u) << 10) + (units[1] - 0xDC00u);
    return count == 1 ? units[0] : 0;
}

// ICU 72 has GB 18030-2005's table; ICU 73 has GB 18030-2022's, as here. The
// listed differences from ICU 72: the eighteen two-byte codes that GB
// 18030-2022 gave standard characters are private use characters there, and
// the four-byte codes those private use characters take here are the
// standard characters.
TEST_F(Cjkconv, Gb18030DiffersFromIcu72OnlyInTheCodesOf2022) {
    UErrorCode error = U_ZERO_ERROR;
    UConverter* icu = ucnv_open("gb18030", &error);
    ASSERT_TRUE(U_SUCCESS(error));
    ucnv_setToUCallBack(icu, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
    std::vector<std::string> codes;
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (int trail = 0x40; trail <= 0xFE; ++trail)
            if (gbkTrail(trail)) codes.push_back(pairOf(lead, trail));
    for (uint32_t k = 0; k < kGb18030MovedLength; ++k)
        codes.push_back(fourByteCode(kGb18030Moved[k].pointer));
    int differences = 0;
    for (const std::string& code : codes) {
        const char32_t ours = onlyCharacter(convert("GB18030", "UTF-8", code));
        const char32_t theirs = icuGb18030Character(icu, code);
        if (ours == theirs) continue;
        ++differences;
        EXPECT_TRUE(U_ICU_VERSION_MAJOR_NUM < 73 && privateUse(ours) != privateUse(theirs))
            << hex(bytes(code)) << ": U+" << std::hex << ours << " here, U+" << theirs << " in ICU";
    }
    EXPECT_EQ(differences, U_ICU_VERSION_MAJOR_NUM < 73 ? 36 : 0);
    ucnv_close(icu);
}
#endif

// Bytes that are no code: the pointers between the BMP and the planes beyond
// it, past U+10FFFF, and digits or bytes where a four-byte code wants the
// other kind (those are read afresh, so the ASCII survives).
TEST_F(Cjkconv, Gb18030FourByteFormsWithoutCharacters) {
    const struct {
        const char* bytes;
        const char* text;
    } cases[] = {
        {"\x84\x31\xA5\x30", u8"\uFFFD"},  // pointer 39420
        {"\xE3\x32\x9A\x36", u8"\uFFFD"},  // after U+10FFFF
        {"\x81\x30\x81\x30", u8"\u0080"},        {"\x81\x30\x41\x30", u8"\uFFFD0A0"},
        {"\x81\x30\x81\x41", u8"\uFFFD0\u4E04"}, {"\x80\xFF", u8"\u20AC\uFFFD"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hex(bytes(convert("GB18030", "UTF-8", c.bytes))), hex(bytes(c.text)))
            << hex(bytes(c.bytes));
}

// Every multibyte decoder: the bytes that start a character of two or more
// (in ISO-2022-JP, in JIS X 0208 after `prefix`), the bytes it reads again
// after a lead they make no character with, and what ends a test text there.
struct MultiByteForm {
    const char* name;
    const char* prefix;
    bool (*lead)(int);
    bool (*readAgain)(int);
    const char* suffix;
};

bool eucJpLead(int b) {
    return b == 0x8E || b == 0x8F || in(b, 0xA1, 0xFE);
}
bool jisLead(int b) {
    return in(b, 0x21, 0x7E);
}
bool ascii(int b) {
    return b < 0x80;
}
bool noJisTrail(int b) {
    return !in(b, 0x21, 0x7E);
}

const MultiByteForm kMultiByteForms[] = {
    {"GB18030", "", gbkLead, ascii, "A"},
    {"GBK", "", gbkLead, ascii, "A"},
    {"GB2312", "", eucLead, ascii, "A"},
    {"Big5", "", gbkLead, ascii, "A"},
    {"EUC-KR", "", gbkLead, ascii, "A"},
    {"Shift_JIS", "", shiftJisLead, ascii, "A"},
    {"EUC-JP", "", eucJpLead, ascii, "A"},
    {"windows-31j", "", shiftJisLead, ascii, "A"},
    {"ISO-2022-JP", "\x1B$B", jisLead, noJisTrail, "\x1B(BA"},
};

// Texts decoded one after another by one conversion object.
class Decoder {
public:
    explicit Decoder(const char* encoding) {
        EXPECT_EQ(NLS_NewEncodingConverter(encoding, NLS_UCS2_NAME, &fObject), NLS_SUCCESS);
    }
    ~Decoder() { NLS_DeleteEncodingConverter(fObject); }
    std::u16string operator()(const std::string& text) {
        unsigned char units[64];
        uint32_t written = 0;
        NLS_ResetEncodingConverter(fObject);
        NLS_ConvertStreamBuffer(fObject, reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<uint32_t>(text.size()), units, sizeof units, &written);
        return fromUcs2(Bytes(units, units + written));
    }

private:
    EncodingConverter* fObject = nullptr;
};

// Every lead byte followed by every byte, and then ASCII: the lead and the
// byte are a character, or one U+FFFD and the byte read again (ASCII, which
// a lead never takes without a character), or one U+FFFD for both; the ASCII
// after them is never taken. A failed trail read as a new lead took it
// (Big5 `81 87 41` was U+FFFD U+4C32).
TEST_F(Cjkconv, NoLeadOrFailedTrailSwallowsTheAsciiAfterIt) {
    for (const MultiByteForm& form : kMultiByteForms) {
        Decoder decoded(form.name);
        const std::u16string end = decoded(std::string(form.prefix) + form.suffix);
        ASSERT_EQ(end, u"A") << form.name;
        for (int lead = 0; lead <= 0xFF; ++lead) {
            if (!form.lead(lead)) continue;
            for (int next = 0; next <= 0xFF; ++next) {
                const std::string pair{static_cast<char>(lead), static_cast<char>(next)};
                const std::u16string units = decoded(form.prefix + pair + form.suffix);
                ASSERT_TRUE(units.size() >= 2 && units.back() == u'A')
                    << form.name << " " << hex(bytes(pair)) << ": " << hex(ucs2(units));
                const std::u16string front = units.substr(0, units.size() - 1);
                if (front.find(u'\uFFFD') == std::u16string::npos && front.size() <= 2) continue;
                std::u16string expected = u"\uFFFD";
                if (form.readAgain(next)) {
                    const std::u16string alone =
                        decoded(form.prefix + pair.substr(1) + form.suffix);
                    expected += alone.substr(0, alone.size() - 1);
                }
                EXPECT_EQ(hex(ucs2(front)), hex(ucs2(expected)))
                    << form.name << " " << hex(bytes(pair));
            }
        }
    }
}

TEST_F(Cjkconv, RealTextRoundTrips) {
    const struct {
        const char* encoding;
        const char* text;
    } cases[] = {
        {"GB18030", u8"中华人民共和国，简体字。€ 😀 é Ǹ\n"},
        {"GBK", u8"中华人民共和国，简体字。€\n"},
        {"GB2312", u8"中华人民共和国，简体字。\n"},
        {"Big5", u8"中華民國，繁體字。€ ╞\n"},
        {"EUC-KR", u8"대한민국 한국어 텍스트, 똠방각하\n"},
        {"windows-31j", u8"今日は①Ⅰ髙﨑 ｶﾀｶﾅ ∪\n"},
    };
    for (const auto& c : cases) {
        NLS_Status status = 0;
        const std::string encoded = convert("UTF-8", c.encoding, c.text, &status);
        EXPECT_EQ(status, NLS_SUCCESS) << c.encoding;
        EXPECT_EQ(encoded.find('?'), std::string::npos) << c.encoding;
        EXPECT_EQ(convert(c.encoding, "UTF-8", encoded), c.text) << c.encoding;
    }
    for (const char* label : {"cp936", "x-gbk", "euc-cn", "big5-hkscs", "ks_c_5601-1987", "UHC",
                              "windows-949", "CP932", "MS932", "gb18030"})
        EXPECT_EQ(NLS_EncodingConverterExists(label, "UTF-8"), 1) << label;
    EXPECT_STREQ(NLS_GetJavaEncodingName("euc-kr"), "EUC_KR");
    EXPECT_STREQ(NLS_GetEncodingNameFromJava("MS932"), "windows-31j");
}

// Ranked guesses: a text in each encoding, made by the library, is first
// in the ranking of its own bytes.
TEST_F(Cjkconv, GuessesNameTheEncodingOfRealText) {
    const struct {
        const char* encoding;
        const char* text;
        const char* guess;
    } cases[] = {
        {"GB18030", kChineseText, "GB18030"},
        {"GBK", kChineseText, "GB18030"},
        {"Big5", kTraditionalChineseText, "Big5"},
        {"EUC-KR", kKoreanText, "EUC-KR"},
        {"Shift_JIS", kJapaneseText, "Shift_JIS"},
        {"EUC-JP", kJapaneseText, "EUC-JP"},
        {"ISO-2022-JP", kJapaneseText, "ISO-2022-JP"},
        {"windows-1252", kGermanText, "windows-1252"},
        {"UTF-8", kKoreanText, "UTF-8"},
        {"UTF-16LE", kJapaneseText, "UTF-16LE"},
        {"UTF-16BE", kGermanText, "UTF-16BE"},
        {"UTF-16", kChineseText, "UTF-16"},
    };
    for (const auto& c : cases) {
        const std::string encoded = convert("UTF-8", c.encoding, c.text);
        NLS_EncodingGuess guesses[4];
        uint32_t count = 0;
        ASSERT_EQ(NLS_GuessEncodings(reinterpret_cast<const unsigned char*>(encoded.data()),
                                     static_cast<uint32_t>(encoded.size()), guesses, 4, &count),
                  NLS_SUCCESS)
            << c.encoding;
        ASSERT_GE(count, 1u) << c.encoding;
        EXPECT_STREQ(NLS_GetNormalizedEncodingName(guesses[0].encodingName),
                     NLS_GetNormalizedEncodingName(c.guess))
            << c.encoding;
        for (uint32_t i = 1; i < count; ++i)
            EXPECT_LE(guesses[i].confidence, guesses[i - 1].confidence) << c.encoding;
    }
    uint32_t count = 9;
    EXPECT_EQ(
        NLS_GuessEncodings(reinterpret_cast<const unsigned char*>("plain"), 5, nullptr, 0, &count),
        NLS_SUCCESS);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(NLS_GuessEncodings(nullptr, 0, nullptr, 0, &count), NLS_NOT_DETECTED);
    EXPECT_EQ(NLS_GuessEncodings(nullptr, 3, nullptr, 0, &count), NLS_INVALID_PARAMETER);
}

}  // namespace
