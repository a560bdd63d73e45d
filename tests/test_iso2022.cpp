// The stateful seven-bit encodings of cjkconv and ISO-2022-JP-2: every code
// of ISO-2022-KR and of each set of ISO-2022-CN(-EXT) and ISO-2022-JP-2
// read and written as glibc's iconv does; every code of
// HZ-GB-2312 (which glibc lacks, and whose ICU converter reads GB 2312 with
// ICU's own table) read as the GB2312 converter reads its EUC form; every
// character written so that it reads back.
#include <gtest/gtest.h>
#ifdef VELTA_HAVE_ICU
#include <unicode/ucnv.h>
#endif

#include <algorithm>
#include <string>

#include "test_support.h"

namespace {

using namespace velta_test;

class Iso2022 : public LibraryTest {
protected:
    void SetUp() override {
        dir.installShippedData();
        ASSERT_EQ(NLS_EncInitialize(nullptr, dir.path().c_str()), NLS_SUCCESS);
    }
    static std::string convert(const char* from, const char* to, const std::string& text) {
        const Conversion result = convertOneShot(from, to, bytes(text));
        return std::string(result.output.begin(), result.output.end());
    }
    TemporaryDirectory dir;
};

// A code in its seven-bit form, between the shifts around it.
std::string shifted(const char* open, int code, const char* close) {
    return open + std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0x7F)} + close;
}

std::string eucForm(int code) {
    return std::string{static_cast<char>(code >> 8 | 0x80), static_cast<char>(code | 0x80)};
}

TEST_F(Iso2022, HzReadsEveryCodeAsGb2312AndWritesItBack) {
    int mapped = 0;
    // Row 0x7E, which GB 2312 leaves empty, starts with HZ's escape byte.
    for (int code = 0x2121; code < 0x7E21; ++code) {
        if ((code & 0xFF) < 0x21 || (code & 0xFF) > 0x7E) continue;
        const std::string ours = convert("HZ-GB-2312", "UTF-8", shifted("~{", code, "~}"));
        const std::string euc = convert("GB2312", "UTF-8", eucForm(code));
        EXPECT_EQ(hex(bytes(ours)), hex(bytes(euc))) << std::hex << code;
        if (ours.find("\xEF\xBF\xBD") != std::string::npos) continue;
        ++mapped;
        EXPECT_EQ(convert("HZ-GB-2312", "UTF-8", convert("UTF-8", "HZ-GB-2312", ours)), ours)
            << std::hex << code;
    }
    EXPECT_GT(mapped, 7000);
}

#if defined(VELTA_HAVE_ICONV) || defined(VELTA_HAVE_ICU)
// Each set of ISO-2022-CN(-EXT) and ISO-2022-JP-2: its designation, what
// precedes each code (SO, a single shift, nothing) and what follows the
// last (SI, the escape to ASCII, nothing), its codes (two bytes where the
// last is above 0xFF).
struct CodedSet {
    const char* encoding;
    const char* designation;
    const char* before;
    const char* after;
    int first;
    int last;
};
const CodedSet kCodedSets[] = {{"ISO-2022-CN", "\x1B$)A", "\x0E", "\x0F", 0x2121, 0x7E7E},
                               {"ISO-2022-CN", "\x1B$)G", "\x0E", "\x0F", 0x2121, 0x7E7E},
                               {"ISO-2022-CN", "\x1B$*H", "\x1BN", "", 0x2121, 0x7E7E},
                               {"ISO-2022-CN-EXT", "\x1B$+I", "\x1BO", "", 0x2121, 0x7E7E},
                               {"ISO-2022-CN-EXT", "\x1B$+J", "\x1BO", "", 0x2121, 0x7E7E},
                               {"ISO-2022-CN-EXT", "\x1B$+K", "\x1BO", "", 0x2121, 0x7E7E},
                               {"ISO-2022-CN-EXT", "\x1B$+L", "\x1BO", "", 0x2121, 0x7E7E},
                               {"ISO-2022-CN-EXT", "\x1B$+M", "\x1BO", "", 0x2121, 0x7E7E},
                               {"ISO-2022-CN-EXT", "\x1B$)E", "\x0E", "\x0F", 0x2121, 0x7E7E},
                               {"ISO-2022-JP-2", "\x1B$B", "", "\x1B(B", 0x2121, 0x7E7E},
                               {"ISO-2022-JP-2", "\x1B$(D", "", "\x1B(B", 0x2121, 0x7E7E},
                               {"ISO-2022-JP-2", "\x1B$A", "", "\x1B(B", 0x2121, 0x7E7E},
                               {"ISO-2022-JP-2", "\x1B$(C", "", "\x1B(B", 0x2121, 0x7E7E},
                               {"ISO-2022-JP-2", "\x1B(J", "", "\x1B(B", 0x21, 0x7E},
                               {"ISO-2022-JP-2", "\x1B(I", "", "\x1B(B", 0x21, 0x5F},
                               {"ISO-2022-JP-2", "\x1B.A", "\x1BN", "", 0x20, 0x7F},
                               {"ISO-2022-JP-2", "\x1B.F", "\x1BN", "", 0x20, 0x7F}};

// A few bytes of a text around an offset, to show where texts differ.
std::string around(const std::string& text, size_t at) {
    const size_t start = at < 8 || at == std::string::npos ? 0 : at - 8;
    return start < text.size() ? text.substr(start, 16) : std::string();
}

bool isCode(const CodedSet& set, int code) {
    return set.last <= 0xFF || ((code & 0xFF) >= 0x21 && (code & 0xFF) <= 0x7E);
}

// A code of a set on its own, with its designation and shifts.
std::string codeText(const CodedSet& set, int code) {
    std::string bytes = set.last > 0xFF ? std::string{static_cast<char>(code >> 8)} : "";
    return set.designation + (set.before + bytes) + static_cast<char>(code & 0xFF) + set.after;
}

bool isCn(const CodedSet& set) {
    return std::string(set.encoding).find("ISO-2022-CN") == 0;
}

#ifdef VELTA_HAVE_ICONV
// glibc reads KS X 1001:2002's 0x2268 as U+327E, which EUC-KR here lacks,
// and JIS X 0212's 0x2237 as U+FF5E, where jpconv's table (Python's) has
// U+007E. So glibc writes U+FF5E in JIS X 0212, where ISO-2022-JP-2 here
// writes it in GB 2312 or KS C 5601; and U+00B7, which glibc's GB 2312
// lacks, glibc writes in ISO-8859-1 after GB 2312 codes, where GB 2312 is
// kept here.
bool readsOtherwiseInIconv(const CodedSet& set, int code) {
    const std::string designation = set.designation;
    return (code == 0x2268 && designation == "\x1B$(C") ||
           (code == 0x2237 && designation == "\x1B$(D");
}
bool writtenOtherwiseByIconv(const CodedSet& set, const std::string& utf8) {
    return std::string(set.encoding) == "ISO-2022-JP-2" &&
           (utf8 == "\xEF\xBD\x9E" || utf8 == "\xC2\xB7");
}
#endif

// Where two long texts first differ; npos where they are equal.
size_t firstDifference(const std::string& a, const std::string& b) {
    const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return at.first == a.end() && at.second == b.end() ? std::string::npos
                                                       : static_cast<size_t>(at.first - a.begin());
}
#endif

#ifdef VELTA_HAVE_ICONV
// What glibc's iconv makes of a whole text; "" where it refuses any of it.
std::string iconvConvert(const char* to, const char* from, const std::string& text) {
    bool ok = false;
    const std::string output = iconvText(to, from, text, &ok);
    return ok ? output : std::string();
}

// glibc reads KS X 1001:2002's U+327E (0x2268), which EUC-KR here, as in
// the WHATWG Encoding Standard, lacks.
bool readsOnlyInIconv(int code) {
    return code == 0x2268;
}

TEST_F(Iso2022, Iso2022KrReadsAndWritesEveryCodeAsIconvDoes) {
    int mapped = 0;
    for (int code = 0x2121; code <= 0x7E7E; ++code) {
        if ((code & 0xFF) < 0x21 || (code & 0xFF) > 0x7E || readsOnlyInIconv(code)) continue;
        const std::string input = shifted("\x1B$)C\x0E", code, "\x0F");
        const std::string ours = convert("ISO-2022-KR", "UTF-8", input);
        const bool replaced = ours.find("\xEF\xBF\xBD") != std::string::npos;
        EXPECT_EQ(replaced ? std::string() : ours, iconvConvert("UTF-8", "ISO-2022-KR", input))
            << std::hex << code;
        if (replaced) continue;
        ++mapped;
        EXPECT_EQ(hex(bytes(convert("UTF-8", "ISO-2022-KR", ours))), hex(bytes(input)))
            << std::hex << code;
    }
    EXPECT_GT(mapped, 8000);
}

TEST_F(Iso2022, MixedTextIsWrittenAsIconvWritesIt) {
    const std::string text = "a\xED\x95\x9C\xEA\xB8\x80 b\n\xED\x95\x9C\r\nx~\xEA\xB8\x80";
    bool ok = false;
    const std::string theirs = iconvText("ISO-2022-KR", "UTF-8", text, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(hex(bytes(convert("UTF-8", "ISO-2022-KR", text))), hex(bytes(theirs)));
    EXPECT_EQ(convert("ISO-2022-KR", "UTF-8", theirs), text);
}

// Every code of each set read as iconv reads it; then its characters, mixed
// with ASCII and line ends, written as iconv writes them. iconv leaves out
// ISO-2022-CN's single shifts after the first of a run (so that its output
// reads back otherwise): for those sets iconv reads back what is written
// here, from the characters written in the set itself (iconv also does not
// read a designation met under SO until the next SO). The SO sets' texts
// leave out what is written with a single shift (ISO-IR-165's characters
// of CNS plane 2), after which iconv writes no SO.
TEST_F(Iso2022, Iso2022CnAndJp2ReadEveryCodeAndWriteMixedTextAsIconvDoes) {
    for (const CodedSet& set : kCodedSets) {
        const bool readBack = isCn(set) && set.before[0] == '\x1B';
        std::string text;
        int mapped = 0;
        for (int code = set.first; code <= set.last; ++code) {
            if (!isCode(set, code) || readsOtherwiseInIconv(set, code)) continue;
            const std::string input = codeText(set, code);
            const std::string ours = convert(set.encoding, "UTF-8", input);
            const bool replaced = ours.find("\xEF\xBF\xBD") != std::string::npos;
            EXPECT_EQ(replaced ? std::string() : ours, iconvConvert("UTF-8", set.encoding, input))
                << set.encoding << " " << set.designation + 1 << " " << std::hex << code;
            if (replaced) continue;
            ++mapped;
            const std::string alone = convert("UTF-8", set.encoding, ours);
            if ((readBack && alone.find(set.designation) != 0) ||
                (isCn(set) && !readBack && alone.find("\x1BN") != std::string::npos) ||
                writtenOtherwiseByIconv(set, ours))
                continue;
            text += ours + (mapped % 7 == 0 ? "a" : "") + (mapped % 40 == 0 ? "\r\n" : "");
        }
        EXPECT_GT(mapped, set.last > 0xFF ? 5000 : 50) << set.designation + 1;
        const std::string written = convert("UTF-8", set.encoding, text);
        const std::string theirs = readBack ? iconvConvert("UTF-8", set.encoding, written)
                                            : iconvConvert(set.encoding, "UTF-8", text);
        const std::string& ours = readBack ? text : written;
        const size_t at = firstDifference(ours, theirs);
        EXPECT_EQ(at, std::string::npos)
            << set.encoding << " " << set.designation + 1 << ": " << hex(bytes(around(ours, at)))
            << " vs " << hex(bytes(around(theirs, at)));
        EXPECT_EQ(firstDifference(convert(set.encoding, "UTF-8", written), text), std::string::npos)
            << set.encoding << " " << set.designation + 1;
    }
}

// Each character of ISO-IR-165 alone, and texts that switch between GB 2312,
// ISO-IR-165 and the CNS planes, written as iconv writes them. (After a
// character written with a single shift alone, iconv also shifts in.)
TEST_F(Iso2022, IsoIr165IsWrittenAsIconvWritesIt) {
    int written = 0;
    for (int code = 0x2121; code <= 0x7E7E; ++code) {
        if ((code & 0xFF) < 0x21 || (code & 0xFF) > 0x7E) continue;
        const std::string utf8 =
            convert("ISO-2022-CN-EXT", "UTF-8", shifted("\x1B$)E\x0E", code, ""));
        if (utf8.find("\xEF\xBF\xBD") != std::string::npos) continue;
        const std::string ours = convert("UTF-8", "ISO-2022-CN-EXT", utf8);
        std::string theirs = iconvConvert("ISO-2022-CN-EXT", "UTF-8", utf8);
        if (ours.find('\x0E') == std::string::npos && !theirs.empty() && theirs.back() == '\x0F')
            theirs.pop_back();
        EXPECT_EQ(hex(bytes(ours)), hex(bytes(theirs))) << std::hex << code;
        written += ours.find("\x1B$)E") == 0;
    }
    EXPECT_GT(written, 400);
    // U+00A2 only in ISO-IR-165; U+4F3E there and in CNS plane 2; U+50C7
    // there and in plane 1; U+53BE there and in plane 3; U+4E2D in GB 2312,
    // ISO-IR-165 and plane 1; U+5011 in plane 1, U+4E05 in plane 3 alone.
    for (const char* utf8 : {"\xC2\xA2\xE4\xB8\xAD\xE4\xBC\xBE~\xE4\xB8\xAD\xE5\x83\x87\xC2\xA2",
                             "\xE4\xB8\xAD\xC2\xA2\xE4\xB8\x80\n\xE5\x83\x87\xE5\x80\x91"
                             "\xE5\x8E\xBE\xE4\xB8\xAD",
                             "\xC2\xA2\xE4\xB8\x85\xE4\xB8\xAD\xE4\xB8\x85\xC2\xA2\xE2\x92\x88",
                             "\xE5\x80\x91\xE4\xBC\xBE\xE4\xB8\xAD\xC2\xA2\xE4\xB9\x82",
                             "\xE4\xB8\xAD\xE4\xBC\xBE\xE5\x8E\xBE\xE4\xB8\x85\xC2\xA2"}) {
        const std::string ours = convert("UTF-8", "ISO-2022-CN-EXT", utf8);
        EXPECT_EQ(hex(bytes(ours)), hex(bytes(iconvConvert("ISO-2022-CN-EXT", "UTF-8", utf8))))
            << hex(bytes(utf8));
        EXPECT_EQ(convert("ISO-2022-CN-EXT", "UTF-8", ours), utf8);
    }
}
#endif

#ifdef VELTA_HAVE_ICU
// ICU's conversion of a text, with its own substitutes.
std::string icuConvert(const char* to, const char* from, const std::string& text) {
    UErrorCode error = U_ZERO_ERROR;
    std::string output(text.size() * 4 + 16, '\0');
    const int32_t length = ucnv_convert(to, from, &output[0], static_cast<int32_t>(output.size()),
                                        text.data(), static_cast<int32_t>(text.size()), &error);
    output.resize(U_SUCCESS(error) ? static_cast<size_t>(length) : 0);
    return output;
}

// ICU reads GB 2312's 0x2327 as U+00B4 (glibc, and GB2312 here: U+FF07);
// 119 codes of CNS plane 1's rows of symbols, digits and letters
// (0x21-0x26) with a table of its own (full-width forms as ASCII, and
// other choices; the Han rows agree); in ISO-2022-JP-2, JIS X 0208 with
// its own table (six codes as Microsoft maps them, the NEC row 13 and the
// IBM rows 0x79-0x7C, which JIS X 0208 leaves empty) and KS C 5601's
// user-defined rows 0x49 and 0x7E as private use characters.
bool readsOtherwiseInIcu(const CodedSet& set, int code) {
    const std::string designation = set.designation;
    const int row = code >> 8;
    const bool microsoftForm = code == 0x2141 || code == 0x2142 || code == 0x215D ||
                               code == 0x2171 || code == 0x2172 || code == 0x224C;
    return ((designation == "\x1B$)A" || designation == "\x1B$A") && code == 0x2327) ||
           (designation == "\x1B$)G" && row < 0x27) ||
           (designation == "\x1B$B" && (microsoftForm || row == 0x2D || row >= 0x79)) ||
           (designation == "\x1B$(C" && (row == 0x49 || row == 0x7E));
}

// ICU has ISO-2022-CN's three sets (its EXT form adds ISO-IR-165, not the
// planes beyond 2) and ISO-2022-JP-2: every code read as ICU reads it; each
// ISO-2022-CN set's characters, mixed with ASCII and line ends, written
// byte for byte as ICU writes them (ICU's EXT form writes ISO-IR-165 in
// an order of its own). (ICU's ISO-2022-JP-2 writes the
// ISO-8859 high halves before JIS X 0212 and has no katakana: glibc's
// choices are followed here.)
TEST_F(Iso2022, Iso2022CnAndJp2ReadAsIcuDoes) {
    for (const CodedSet& set : kCodedSets) {
        const bool extended = std::string(set.encoding) == "ISO-2022-CN-EXT";
        if (extended && std::string(set.before) == "\x1BO") continue;
        std::string text;
        int mapped = 0;
        for (int code = set.first; code <= set.last; ++code) {
            if (!isCode(set, code) || readsOtherwiseInIcu(set, code)) continue;
            const std::string input = codeText(set, code);
            const std::string ours = convert(set.encoding, "UTF-8", input);
            EXPECT_EQ(ours, icuConvert("UTF-8", set.encoding, input))
                << set.encoding << " " << set.designation + 1 << " " << std::hex << code;
            if (ours.find("\xEF\xBF\xBD") != std::string::npos) continue;
            ++mapped;
            text += ours + (mapped % 7 == 0 ? "a" : "") + (mapped % 40 == 0 ? "\r\n" : "");
        }
        EXPECT_GT(mapped, set.last > 0xFF ? 5000 : 50) << set.designation + 1;
        if (!isCn(set) || extended) continue;
        const std::string written = convert("UTF-8", set.encoding, text);
        EXPECT_EQ(firstDifference(written, icuConvert(set.encoding, "UTF-8", text)),
                  std::string::npos)
            << set.designation + 1;
    }
}
#endif

// What the encoder writes where the sets change, as iconv and ICU write it,
// except the two rows marked, where iconv's output reads back as another
// text (ICU writes them as here).
TEST_F(Iso2022, Iso2022CnWritesSetsAndShiftsAsListed) {
    const struct {
        const char* encoding;
        const char* utf8;
        const char* written;
    } rows[] = {
        // The set SO designates now first: U+4E2D stays in CNS plane 1.
        {"ISO-2022-CN", "\xE4\xB8\xAD\xE5\x80\x91\xE4\xB8\xAD", "\x1B$)A\x0EVP\x1B$)GT/Dc\x0F"},
        {"ISO-2022-CN", "\xE4\xB8\xAD\n\xE4\xB8\xAD", "\x1B$)A\x0EVP\x0F\n\x1B$)A\x0EVP\x0F"},
        {"ISO-2022-CN", "\xE4\xB8\xAD\xE4\xB9\x82\xE4\xB8\xAD",
         "\x1B$)A\x0EVP\x1B$*H\x1BN!!VP\x0F"},
        // SingleShiftPrecedesEveryCharacter (iconv: no second ESC N).
        {"ISO-2022-CN", "\xE4\xB9\x82\xE4\xB9\x82", "\x1B$*H\x1BN!!\x1BN!!"},
        // ShiftsOutAfterASingleShiftedCharacter (iconv: no SO).
        {"ISO-2022-CN", "\xE4\xB9\x82\xE4\xB8\xAD", "\x1B$*H\x1BN!!\x1B$)A\x0EVP\x0F"},
        {"ISO-2022-CN-EXT",
         "\xF0\xA0\x82\x86\xE4\xB8\x85"
         "a",
         "\x1B$+J\x1BO!!\x1B$+I\x1BO!%a"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(hex(bytes(convert("UTF-8", row.encoding, row.utf8))), hex(bytes(row.written)))
            << row.encoding << " " << hex(bytes(row.utf8));
}

// The escapes and shifts themselves: what reads as nothing, what is
// malformed (U+FFFD), and what a line end does inside a two-byte run.
TEST_F(Iso2022, ShiftsAndEscapesReadAsListed) {
    const struct {
        const char* encoding;
        const char* input;
        const char* utf8;
    } rows[] = {
        {"HZ-GB-2312", "a~\nb~~c", "ab~c"},
        {"HZ-GB-2312", "~{VP\nVP~}", "\xE4\xB8\xAD\xEF\xBF\xBD\xE4\xB8\xAD"},
        {"HZ-GB-2312", "a~xb", "a\xEF\xBF\xBDxb"},
        {"HZ-GB-2312", "~{~}a\x80", "a\xEF\xBF\xBD"},
        {"ISO-2022-KR", "a\x1B$)Cb\x1B$)C", "ab"},
        {"ISO-2022-KR", "\x1B$)C\x0EGQ\nGQ\x0F", "\xED\x95\x9C\xEF\xBF\xBD\xED\x95\x9C"},
        {"ISO-2022-KR", "\x1B$)Ab",
         "\xEF\xBF\xBD"
         "Ab"},
        // A line end ends the designations; SO or SS2 with nothing designated,
        // and ISO-IR-165 and the EXT form's escapes in ISO-2022-CN, are
        // malformed; SS2 takes one character.
        {"ISO-2022-CN", "\x1B$)A\x0EVP\x0F\n\x0EVP\x0F", "\xE4\xB8\xAD\n\xEF\xBF\xBDVP"},
        {"ISO-2022-CN", "\x1B$)A\x0EVP\nVP\x0F", "\xE4\xB8\xAD\xEF\xBF\xBD\xE4\xB8\xAD"},
        {"ISO-2022-CN", "\x1BN!!\x1B$*H\x1BN!!!!", "\xEF\xBF\xBD!!\xE4\xB9\x82!!"},
        {"ISO-2022-CN", "\x1B$)E\x0E!!", "\xEF\xBF\xBD\xEF\xBF\xBD!!"},
        {"ISO-2022-CN-EXT", "\x1B$)E\x0E!!/!\x0F", "\xE3\x80\x80\xE3\x8B\x80"},
        {"ISO-2022-CN", "\x1B$+I\x1BO!%", "\xEF\xBF\xBD+I\xEF\xBF\xBDO!%"},
        {"ISO-2022-CN-EXT", "\x1B$+I\x1BO\x1BO!%", "\xEF\xBF\xBD\xE4\xB8\x85"},
        // ISO-2022-JP-2: SS2 with nothing in G2 is malformed; G2 holds past a
        // line end; GB 2312 and KS C 5601 in turn.
        {"ISO-2022-JP-2", "\x1BN a", "\xEF\xBF\xBD a"},
        {"ISO-2022-JP-2", "\x1B.A\x1BN\xA0", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"ISO-2022-JP-2", "\x1B.F\x1BNa\n\x1BN!", "\xCE\xB1\n\xE2\x80\x98"},
        {"ISO-2022-JP-2", "\x1B$(CGQ\x1B$AO0\x1B(B", "\xED\x95\x9C\xE4\xB9\xA0"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(hex(bytes(convert(row.encoding, "UTF-8", row.input))), hex(bytes(row.utf8)))
            << row.encoding << " " << hex(bytes(row.input));
}

}  // namespace
