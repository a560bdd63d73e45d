// EUC-TW, JOHAB, EUC-JP-MS, BIG5-HKSCS, EUC-JISX0213, SHIFT_JISX0213 and
// TSCII, whose tables come from glibc's charmaps, and ISO-2022-JP-3, against glibc's iconv: every
// lead and trail byte and every code of the longer forms decoded, every character decoded written
// back, both ways as iconv does or as a difference listed here (and in the README).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "velta/iconv.h"

#ifdef VELTA_HAVE_ICONV
#include <iconv.h>
#endif

namespace {

using namespace velta_test;

class CharmapMultibyte : public LibraryTest {
protected:
    void SetUp() override {
        dir.installShippedData();
        ASSERT_EQ(NLS_EncInitialize(nullptr, dir.path().c_str()), NLS_SUCCESS);
    }
    TemporaryDirectory dir;
};

// The iconv interface opens them under the same names.
TEST_F(CharmapMultibyte, AnswersToIconvNamesInAnyCase) {
    const struct {
        const char* alias;
        const char* name;
    } names[] = {
        {"euc-tw", "EUC-TW"},
        {"EucTw", "EUC-TW"},
        {"osf0005000A", "EUC-TW"},
        {"johab", "JOHAB"},
        {"cp1361", "JOHAB"},
        {"MSCP1361", "JOHAB"},
        {"euc-jp-ms", "EUC-JP-MS"},
        {"eucJP-ms", "EUC-JP-MS"},
        {"EUCJP-OPEN", "EUC-JP-MS"},
        {"eucjp-win", "EUC-JP-MS"},
        {"big5-hkscs", "BIG5-HKSCS"},
        {"Big5HKSCS", "BIG5-HKSCS"},
        {"euc-jisx0213", "EUC-JISX0213"},
        {"Shift_JISX0213", "SHIFT_JISX0213"},
        {"shiftjisx0213", "SHIFT_JISX0213"},
        {"iso-2022-jp-3", "ISO-2022-JP-3"},
        {"tscii", "TSCII"},
    };
    for (const auto& n : names) {
        EXPECT_EQ(NLS_EncodingConverterExists(n.alias, "UTF-8"), 1) << n.alias;
        EXPECT_EQ(NLS_EncodingConverterExists("UTF-8", n.alias), 1) << n.alias;
        const char* canonical = NLS_GetNormalizedEncodingName(n.alias);
        EXPECT_STREQ(canonical != nullptr ? canonical : "", n.name) << n.alias;
        const velta_iconv_t cd = velta_iconv_open("UTF-8", n.alias);
        EXPECT_NE(cd, reinterpret_cast<velta_iconv_t>(-1)) << n.alias;
        if (cd != reinterpret_cast<velta_iconv_t>(-1)) velta_iconv_close(cd);
    }
    EXPECT_STREQ(NLS_GetEncodingNameFromJava("Big5_HKSCS"), "BIG5-HKSCS");
}

// The long codes of each (four bytes in EUC-TW, three and the katakana in
// EUC-JP-MS, a surrogate pair, a code of two characters in BIG5-HKSCS), cut
// anywhere and drained through small outputs, read as the whole text does;
// what they read as is written back the same way whatever the cuts.
TEST_F(CharmapMultibyte, LongCodesCutAnywhereReadAsTheWholeText) {
    const struct {
        const char* name;
        const char* bytes;
    } texts[] = {
        {"EUC-TW", "41 A4 A1 8E A2 A1 A1 8E A3 A1 B8 8E A5 A1 A5 8E AF A1 A1 42"},
        {"EUC-JP-MS", "41 8F A2 AF 8E B0 A1 A1 80 F5 A1 42"},
        {"JOHAB", "41 88 61 D9 31 E0 31 42"},
        {"BIG5-HKSCS", "41 88 62 87 A1 80 A4 40 42"},
        // (Codes of two characters cut between them: tests/test_cuts.cpp.)
        {"EUC-JISX0213", "41 8F A1 A1 8E B0 AB E4 A4 AB 42"},
        {"SHIFT_JISX0213", "41 F0 40 B0 86 84 82 A9 42"},
        {"ISO-2022-JP-3", "41 1B 24 28 50 21 22 1B 24 42 24 22 1B 28 49 31 1B 28 42 42"},
    };
    for (const auto& t : texts) {
        const Bytes input = hexBytes(t.bytes);
        const Conversion whole = convertOneShot(t.name, "UTF-16LE", input);
        ASSERT_EQ(whole.status, NLS_SUCCESS) << t.name;
        const Conversion back = convertOneShot("UTF-16LE", t.name, whole.output);
        for (uint32_t cut = 1; cut < input.size(); ++cut)
            for (uint32_t outputSize : {4u, 64u})
                EXPECT_EQ(hex(convertInPieces(t.name, "UTF-16LE", input, {cut}, outputSize).output),
                          hex(whole.output))
                    << t.name << " cut at " << cut << ", output " << outputSize;
        // Each call of the older functions is a whole text: ISO-2022-JP-3
        // returns to ASCII at its end, and the text reads back the same.
        const bool closesEachCall = std::string(t.name) == "ISO-2022-JP-3";
        for (uint32_t cut = 1; cut < whole.output.size(); ++cut) {
            const Bytes written =
                convertInPieces("UTF-16LE", t.name, whole.output, {cut}, 8).output;
            if (closesEachCall)
                EXPECT_EQ(hex(convertOneShot(t.name, "UTF-16LE", written).output),
                          hex(whole.output))
                    << t.name << " written, cut at " << cut;
            else
                EXPECT_EQ(hex(written), hex(back.output)) << t.name << " written, cut at " << cut;
        }
    }
}

// Text made of random TSCII bytes (Tamil letters, signs and ligatures,
// spaces) is written back so that it reads as the same text; the bytes may
// differ (SA and U are 0x8A 0xA4, never 0x85 0xA4; 0xAD is written 0xFE).
TEST_F(CharmapMultibyte, TsciiTextReadsBackAsWritten) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pick(0x7F, 0xFE);
    for (int round = 0; round < 300; ++round) {
        Bytes input;
        for (int k = 0; k < 40; ++k) {
            const int b = pick(random);
            input.push_back(static_cast<unsigned char>(b == 0x7F || b == 0xA0 ? ' ' : b));
        }
        const Conversion text = convertOneShot("TSCII", NLS_UCS2_NAME, input);
        ASSERT_EQ(text.status, NLS_SUCCESS) << hex(input);
        const Conversion written = convertOneShot(NLS_UCS2_NAME, "TSCII", text.output);
        ASSERT_EQ(written.status, NLS_SUCCESS) << hex(input);
        EXPECT_EQ(hex(convertOneShot("TSCII", NLS_UCS2_NAME, written.output).output),
                  hex(text.output))
            << hex(input) << " written as " << hex(written.output);
    }
}

#ifdef VELTA_HAVE_ICONV

// One conversion object, reset before each text.
class Converter {
public:
    Converter(const char* from, const char* to) { NLS_NewEncodingConverter(from, to, &fObject); }
    ~Converter() { NLS_DeleteEncodingConverter(fObject); }
    bool valid() const { return fObject != nullptr; }
    std::string operator()(const std::string& text) {
        NLS_ResetEncodingConverter(fObject);
        uint32_t written = 0;
        fOutput.resize(text.size() * 8 + 16);
        const NLS_Status status =
            NLS_ConvertStreamBuffer(fObject, reinterpret_cast<const unsigned char*>(text.data()),
                                    static_cast<uint32_t>(text.size()), fOutput.data(),
                                    static_cast<uint32_t>(fOutput.size()), &written);
        // A character cut by the end of a whole text is malformed, as for iconv.
        const std::string output(fOutput.begin(), fOutput.begin() + written);
        return status == NLS_SEQUENCE_INCOMPLETE ? output + "\xEF\xBF\xBD" : output;
    }

private:
    EncodingConverter* fObject = nullptr;
    std::vector<unsigned char> fOutput;
};

// glibc's iconv, one descriptor for many texts; "" where it refuses one.
class Iconv {
public:
    Iconv(const char* to, const char* from) : fCd(iconv_open(to, from)) {}
    ~Iconv() {
        if (valid()) iconv_close(fCd);
    }
    bool valid() const { return fCd != reinterpret_cast<iconv_t>(-1); }
    std::string operator()(std::string text) {
        iconv(fCd, nullptr, nullptr, nullptr, nullptr);
        char output[64];
        char* in = &text[0];
        char* out = output;
        size_t inLeft = text.size(), outLeft = sizeof output;
        if (iconv(fCd, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) ||
            iconv(fCd, nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1))
            return "";
        return std::string(output, out);
    }

private:
    iconv_t fCd;
};

std::string code(std::initializer_list<int> values) {
    std::string text;
    for (int value : values) text += static_cast<char>(value);
    return text;
}

// The texts to decode: every byte alone, every byte 0x80-0xFF followed by
// every byte 0x21-0xFF, and every code of the three- and four-byte forms.
std::vector<std::string> leadsAndTrails() {
    std::vector<std::string> texts;
    for (int byte = 0x01; byte <= 0xFF; ++byte) texts.push_back(code({byte}));
    for (int lead = 0x80; lead <= 0xFF; ++lead)
        for (int trail = 0x21; trail <= 0xFF; ++trail) texts.push_back(code({lead, trail}));
    return texts;
}
std::vector<std::string> eucTwTexts() {
    std::vector<std::string> texts = leadsAndTrails();
    for (int plane = 0xA1; plane <= 0xB0; ++plane)
        for (int row = 0xA1; row <= 0xFE; ++row)
            for (int cell = 0xA1; cell <= 0xFE; ++cell)
                texts.push_back(code({0x8E, plane, row, cell}));
    return texts;
}
std::vector<std::string> eucJpMsTexts() {
    std::vector<std::string> texts = leadsAndTrails();
    for (int row = 0xA1; row <= 0xFE; ++row)
        for (int cell = 0x21; cell <= 0xFF; ++cell) texts.push_back(code({0x8F, row, cell}));
    return texts;
}

// Every byte and every two bytes, and every prefix vowel sign before every
// consonant and every byte after them (TSCII's codes of three bytes).
std::vector<std::string> tsciiTexts() {
    std::vector<std::string> texts;
    for (int first = 0x01; first <= 0xFF; ++first) {
        texts.push_back(code({first}));
        for (int second = 0x01; second <= 0xFF; ++second) texts.push_back(code({first, second}));
    }
    for (int sign : {0xA6, 0xA7, 0xA8})
        for (int consonant = 0xB8; consonant <= 0xC9; ++consonant)
            for (int next = 0x01; next <= 0xFF; ++next)
                texts.push_back(code({sign, consonant, next}));
    return texts;
}

// Every escape of ISO-2022-JP-3 before every byte 0x01-0x7F and, for the
// sets of two bytes, every pair of bytes 0x21-0x7E.
std::vector<std::string> iso2022Jp3Texts() {
    std::vector<std::string> texts;
    for (const char* escape :
         {"\x1B(B", "\x1B(J", "\x1B(I", "\x1B$@", "\x1B$B", "\x1B$(O", "\x1B$(Q", "\x1B$(P"}) {
        for (int byte = 0x01; byte <= 0x7F; ++byte) texts.push_back(escape + code({byte}));
        if (escape[1] != '$') continue;
        for (int lead = 0x21; lead <= 0x7E; ++lead)
            for (int trail = 0x21; trail <= 0x7E; ++trail)
                texts.push_back(escape + code({lead, trail}));
    }
    return texts;
}

// Where this library and iconv part, as the README lists: `text` is what
// was decoded or encoded, `ours` and `theirs` the outputs ("" for refused).
typedef bool (*Difference)(const std::string& text, const std::string& ours,
                           const std::string& theirs);

bool noDifference(const std::string&, const std::string&, const std::string&) {
    return false;
}

// 0x5C is the backslash here (ASCII is itself in every encoding here); the
// charmap and iconv have it as U+20A9 WON SIGN and no code for U+005C.
bool johabBackslash(const std::string& text, const std::string&, const std::string&) {
    return text == "\\";
}

// SHIFT_JISX0213's single bytes are JIS X 0201 Roman in the charmap and
// iconv: 0x5C and 0x7E are U+00A5 and U+203E there, ASCII here.
bool jisRomanBytes(const std::string&, const std::string& ours, const std::string& theirs) {
    std::string asAscii;
    for (size_t k = 0; k < theirs.size(); ++k) {
        if (theirs.compare(k, 2, "\xC2\xA5") == 0) {
            asAscii += '\\';
            k += 1;
        } else if (theirs.compare(k, 3, "\xE2\x80\xBE") == 0) {
            asAscii += '~';
            k += 2;
        } else {
            asAscii += theirs[k];
        }
    }
    return ours == asAscii;
}

// ISO-2022-JP-3 text cannot carry SO, SI and ESC (they would be read as
// shifts and escapes): "?" here, written raw by iconv.
bool shiftsAndEscape(const std::string& text, const std::string&, const std::string&) {
    return text == "\x0E" || text == "\x0F" || text == "\x1B";
}

// The encoder writes a letter and a combining mark that HKSCS has as one
// code (U+00CA U+0304 and three more) as the letter's code and "?".
bool hkscsLetterAndMark(const std::string& text, const std::string& ours, const std::string&) {
    const bool mark = text.size() == 4 &&
                      (text.compare(2, 2, "\xCC\x84") == 0 || text.compare(2, 2, "\xCC\x8C") == 0);
    return mark && ours.size() == 3 && ours[2] == '?';
}

// After SA, virama and RA that are not SRI (RA takes no vowel sign II),
// iconv writes RA alone and the vowel sign after it, which reads back as
// another text (0x8A 0xC3 0xA8 is S, RA and an AI that belongs to what
// follows), and refuses a virama; here RA takes its sign as anywhere else.
bool tsciiAfterSaViramaRa(const std::string& text, const std::string&, const std::string&) {
    const std::string saViramaRa = "\xE0\xAE\xB8\xE0\xAF\x8D\xE0\xAE\xB0";
    const size_t at = text.find(saViramaRa);
    return at != std::string::npos && text.compare(at + 9, 3, "\xE0\xAF\x80") != 0;
}

const struct CharmapForm {
    const char* name;
    std::vector<std::string> (*texts)();
    Difference decodesOtherwise;
    Difference encodesOtherwise;
    // Characters to encode beyond those the codes decode to.
    std::vector<std::string> moreCharacters;
} kForms[] = {
    {"EUC-TW", eucTwTexts, noDifference, noDifference, {}},
    {"JOHAB", leadsAndTrails, johabBackslash, johabBackslash, {"\\", "\xE2\x82\xA9"}},
    {"EUC-JP-MS", eucJpMsTexts, noDifference, noDifference, {}},
    {"BIG5-HKSCS", leadsAndTrails, noDifference, hkscsLetterAndMark, {}},
    // A mark alone, a letter before its pair, a pair after a pair's first.
    {"EUC-JISX0213",
     eucJpMsTexts,
     noDifference,
     noDifference,
     {"\xE3\x82\x9A", "\xE3\x81\x8B\xE3\x81\x8B\xE3\x82\x9A", "\xCB\xA9\xCB\xA5\xCB\xA9",
      "\xC3\xA6\xCC\x81", "\xC2\xA5"}},
    {"SHIFT_JISX0213",
     leadsAndTrails,
     jisRomanBytes,
     noDifference,
     {"\\", "~", "\xC2\xA5", "\xE2\x80\xBE", "\xE3\x82\xAB\xE3\x82\x9A\xE3\x82\x9A"}},
    // Which set each character is written in after which: plane 1 and 2004's
    // plane 1 after JIS X 0208, the sets that hold the next character, ASCII
    // before a space or a line end, a pair's first held across a set change.
    {"ISO-2022-JP-3",
     iso2022Jp3Texts,
     noDifference,
     shiftsAndEscape,
     {"\x0E", "\x0F", "\x1B", "\xE2\x91\xA0\xE3\x81\x82", "\xE4\xBF\xB1\xE3\x81\x82",
      "\xE2\x91\xA0\xE4\xBF\xB1", "\xE3\x81\x82\xE2\x91\xA0", "\xE4\xB8\x82\x41",
      "\xE4\xB8\x82\xE3\x81\x82", "\xEF\xBD\xB1\xEF\xBD\xB2\xC2\xA5\\", "\x41\xC2\xA5\x41 ",
      "\xE3\x81\x82\n", "\xE3\x81\x8B\xE3\x81\x8B\xE3\x82\x9A",
      "\xE3\x81\x8B\xE3\x82\x9A\xE3\x81\x8B", "\xE2\x80\x94\xE2\x80\x95",
      "\xE4\xBF\xB1\xE3\x81\x8B\xE3\x82\x9A", "\xE2\x80\xBE~"}},
    // SA, virama and RA before a vowel sign, a virama and II; a vowel sign
    // after its consonant in two parts (E and AA, O and AU length mark);
    // a virama alone.
    {"TSCII",
     tsciiTexts,
     noDifference,
     tsciiAfterSaViramaRa,
     {"\xE0\xAE\xB8\xE0\xAF\x8D\xE0\xAE\xB0\xE0\xAF\x88",
      "\xE0\xAE\xB8\xE0\xAF\x8D\xE0\xAE\xB0\xE0\xAF\x81",
      "\xE0\xAE\xB8\xE0\xAF\x8D\xE0\xAE\xB0\xE0\xAF\x8D",
      "\xE0\xAE\xB8\xE0\xAF\x8D\xE0\xAE\xB0\xE0\xAF\x80", "\xE0\xAE\x95\xE0\xAF\x86\xE0\xAE\xBE",
      "\xE0\xAE\x92\xE0\xAF\x97", "\xE0\xAF\x8D"}},
};

bool isAscii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

bool malformed(const std::string& decoded) {
    return decoded.find("\xEF\xBF\xBD") != std::string::npos;
}
bool unmappable(const std::string& encoded) {
    return encoded.find('?') != std::string::npos;
}

TEST_F(CharmapMultibyte, DecodesAndEncodesAsIconvDoes) {
    for (const CharmapForm& form : kForms) {
        Converter decode(form.name, "UTF-8"), encode("UTF-8", form.name);
        Iconv theirDecode("UTF-8", form.name), theirEncode(form.name, "UTF-8");
        ASSERT_TRUE(decode.valid() && encode.valid() && theirDecode.valid() && theirEncode.valid())
            << form.name;
        std::vector<std::string> characters = form.moreCharacters;
        int differences = 0;
        for (const std::string& text : form.texts()) {
            const std::string ours = decode(text), theirs = theirDecode(text);
            if (ours == theirs || (malformed(ours) && theirs.empty())) {
                if (!malformed(ours) && !isAscii(ours)) characters.push_back(ours);
                continue;
            }
            if (form.decodesOtherwise(text, ours, theirs) || ++differences > 20) continue;
            ADD_FAILURE() << form.name << " reads " << hex(bytes(text)) << " as "
                          << hex(bytes(ours)) << ", iconv as " << hex(bytes(theirs));
        }
        EXPECT_GT(characters.size(), 7000u) << form.name;
        for (const std::string& character : characters) {
            const std::string ours = encode(character), theirs = theirEncode(character);
            if (ours == theirs || (unmappable(ours) && theirs.empty()) ||
                form.encodesOtherwise(character, ours, theirs) || ++differences > 20)
                continue;
            ADD_FAILURE() << form.name << " writes " << hex(bytes(character)) << " as "
                          << hex(bytes(ours)) << ", iconv as " << hex(bytes(theirs));
        }
    }
}

#endif

}  // namespace
