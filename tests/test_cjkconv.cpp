// The Chinese and Korean converter library and windows-31j, loaded through the
// shipped registry files: every two-byte code against iconv, the four-byte
// GB18030 ranges, hostile bytes, real text.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cjkconv/indexes/gb18030_ranges.h"
#include "test_support.h"

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
// The WHATWG index is GB18030-2000's: iconv follows GB18030-2005, which gave
// 24 codes of the private use area their standard characters and moved
// U+E5E5 from 0xA3A0 to a four-byte code (here 0xA3A0 is U+3000, as GBK).
bool gb18030Revision(int code, char32_t ours, char32_t theirs) {
    return (privateUse(ours) && theirs != 0 && !privateUse(theirs)) ||
           (code == 0xA3A0 && ours == 0x3000 && theirs == 0xE5E5);
}
// iconv has no user-defined areas; the WHATWG index maps them to the
// private use area, as Windows does.
bool gbkUserDefined(int code, char32_t ours, char32_t theirs) {
    return (privateUse(ours) && theirs == 0) || gb18030Revision(code, ours, theirs);
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
    {"GB18030", "GB18030", nullptr, gbkLead, gbkTrail, gb18030Revision, none},
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
                    EXPECT_TRUE(form.decodesOtherwise(code, onlyCharacter(ours),
                                                      onlyCharacter(theirs)))
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

// Every run of the four-byte ranges at its first and last code, and the
// planes beyond the BMP, as iconv reads and writes them.
TEST_F(Cjkconv, Gb18030FourByteCodesMatchIconv) {
    std::vector<uint32_t> pointers;
    for (uint32_t k = 0; k + 1 < kGb18030RangesLength; ++k) {
        pointers.push_back(kGb18030Ranges[k].pointer);
        pointers.push_back(std::min(kGb18030Ranges[k + 1].pointer - 1, 39419u));
    }
    for (uint32_t plane = 1; plane <= 16; ++plane)
        for (uint32_t offset : {0u, 0x1234u, 0xFFFFu})
            pointers.push_back(189000 + (plane - 1) * 0x10000 + offset);
    for (uint32_t pointer : pointers) {
        if (pointer == 7457) continue;  // U+E7C7, a two-byte code in iconv
        std::string code(4, '\0');
        code[0] = static_cast<char>(pointer / 12600 + 0x81);
        code[1] = static_cast<char>(pointer / 1260 % 10 + 0x30);
        code[2] = static_cast<char>(pointer / 10 % 126 + 0x81);
        code[3] = static_cast<char>(pointer % 10 + 0x30);
        const std::string text = convert("GB18030", "UTF-8", code);
        EXPECT_EQ(hex(bytes(text)), hex(bytes(iconvWhole("UTF-8", "GB18030", code))))
            << "pointer " << pointer;
        if (onlyCharacter(text) == 0xE5E5) continue;  // 0xA3A0 here, see above
        EXPECT_EQ(hex(bytes(convert("UTF-8", "GB18030", text))), hex(bytes(code)))
            << "pointer " << pointer;
    }
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
        {"\x84\x31\xA5\x30", u8"\uFFFD"},           // pointer 39420
        {"\xE3\x32\x9A\x36", u8"\uFFFD"},           // after U+10FFFF
        {"\x81\x30\x81\x30", u8"\u0080"},
        {"\x81\x30" "A0", u8"\uFFFD" "0A0"},
        {"\x81\x30\x81" "A", u8"\uFFFD" "0\u4E04"},
        {"\x80\xFF", u8"\u20AC\uFFFD"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hex(bytes(convert("GB18030", "UTF-8", c.bytes))), hex(bytes(c.text)))
            << hex(bytes(c.bytes));
}

bool isPair(const char* encoding, int lead, int trail) {
    for (const TwoByteForm& form : kForms)
        if (strcmp(form.name, encoding) == 0 && form.lead(lead) && form.trail(trail)) return true;
    return false;
}

// A lead byte followed by a byte outside its trail range is one U+FFFD, and
// that byte is read afresh: no ASCII is ever swallowed.
TEST_F(Cjkconv, NoLeadByteSwallowsTheByteAfterIt) {
    for (const TwoByteForm& form : kForms)
        for (int lead = 0x80; lead <= 0xFF; ++lead) {
            std::string text, expected;
            for (int next = 0; next < 0x80; ++next) {
                if (isPair(form.name, lead, next)) continue;
                if (std::string(form.name).compare(0, 2, "GB") == 0 && in(next, 0x30, 0x39))
                    continue;  // a four-byte code
                text += static_cast<char>(lead);
                text += static_cast<char>(next);
                expected += static_cast<char>(next);
            }
            std::string ascii;
            for (char16_t unit : fromUcs2(convertOneShot(form.name, NLS_UCS2_NAME, bytes(text)).output))
                if (unit < 0x80) ascii += static_cast<char>(unit);
            EXPECT_EQ(hex(bytes(ascii)), hex(bytes(expected))) << form.name << " lead " << lead;
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
    const char kChinese[] =
        u8"北京时间今天上午，国家统计局发布了最新的经济数据。数据显示，"
        u8"我国经济运行总体平稳，就业形势基本稳定，居民消费价格温和上涨。\n";
    const char kTraditional[] =
        u8"台北市政府今天宣布，將在明年擴大公共運輸的補助範圍，"
        u8"讓更多市民能夠以較低的費用搭乘捷運與公車。\n";
    const char kKorean[] =
        u8"서울시는 오늘 내년부터 대중교통 요금 지원을 확대한다고 밝혔다. "
        u8"시민들은 더 저렴한 비용으로 지하철과 버스를 이용할 수 있게 된다.\n";
    const char kJapanese[] =
        u8"東京都は本日、来年から公共交通の料金補助を拡大すると発表した。"
        u8"都民はより安い料金で地下鉄やバスを利用できるようになる。\n";
    const char kGerman[] = u8"Die Straßenbahn fährt künftig öfter; Änderungen gelten ab März.\n";
    const struct {
        const char* encoding;
        const char* text;
        const char* guess;
    } cases[] = {
        {"GB18030", kChinese, "GB18030"},     {"GBK", kChinese, "GB18030"},
        {"Big5", kTraditional, "Big5"},       {"EUC-KR", kKorean, "EUC-KR"},
        {"Shift_JIS", kJapanese, "Shift_JIS"}, {"EUC-JP", kJapanese, "EUC-JP"},
        {"ISO-2022-JP", kJapanese, "ISO-2022-JP"}, {"windows-1252", kGerman, "windows-1252"},
        {"UTF-8", kKorean, "UTF-8"},           {"UTF-16LE", kJapanese, "UTF-16LE"},
        {"UTF-16BE", kGerman, "UTF-16BE"},     {"UTF-16", kChinese, "UTF-16"},
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
    EXPECT_EQ(NLS_GuessEncodings(reinterpret_cast<const unsigned char*>("plain"), 5, nullptr, 0,
                                 &count),
              NLS_SUCCESS);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(NLS_GuessEncodings(nullptr, 0, nullptr, 0, &count), NLS_NOT_DETECTED);
    EXPECT_EQ(NLS_GuessEncodings(nullptr, 3, nullptr, 0, &count), NLS_INVALID_PARAMETER);
}

}  // namespace
