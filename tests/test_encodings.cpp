// The Unicode forms and the single-byte encodings that the shipped registry
// files name, found without settings: every byte and every scalar value
// against ICU, byte-order marks, malformed input, names in any letter case.
#include <gtest/gtest.h>
#ifdef VELTA_HAVE_ICU
#include <unicode/ucnv.h>
#endif

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using namespace velta_test;

class Encodings : public LibraryTest {};

std::vector<std::string> singleByteEncodings() {
    std::vector<std::string> names;
    for (const auto& file : std::filesystem::directory_iterator(std::string(VELTA_SOURCE_DIR) +
                                                                "/resources/single_byte"))
        names.push_back(file.path().stem().string());
    return names;
}

TEST_F(Encodings, NamesResolveInAnyLetterCase) {
    const struct {
        const char* name;
        const char* canonical;
    } cases[] = {{"utf-16le", "UTF-16LE"},
                 {"UCS-2BE", "UTF-16BE"},
                 {"utf16", "UTF-16"},
                 {"UTF32", "UTF-32"},
                 {"ucs-4le", "UTF-32LE"},
                 {"UTF8", "UTF-8"},
                 {"CP1252", "windows-1252"},
                 {"Windows-1252", "windows-1252"},
                 {"latin2", "ISO-8859-2"},
                 {"iso8859-15", "ISO-8859-15"},
                 {"koi8-r", "KOI8-R"},
                 {"MACINTOSH", "macintosh"},
                 {"x-mac-roman", "x-mac-roman"},
                 {"iso8859-1", "ISO_8859-1:1987"},
                 {"latin5", "ISO-8859-9"},
                 {"cp437", "IBM437"},
                 // glibc's other names for sets a converter library has
                 {"ujis", "Extended_UNIX_Code_Packed_Format_for_Japanese"},
                 {"sjis-win", "windows-31j"},
                 {"cp950", "Big5"},
                 {"mscp949", "EUC-KR"},
                 {"cn-gb", "GB2312"},
                 {"utf7", "UNICODE-1-1-UTF-7"},
                 {"UTF-7-IMAP", "IMAP-MODIFIED-UTF-7"}};
    for (const auto& c : cases) EXPECT_STREQ(NLS_GetNormalizedEncodingName(c.name), c.canonical);
}

// Byte-order marks choose the order of UTF-16 and UTF-32 (big-endian without
// one, RFC 2781); written, the marked forms are a mark and little-endian on
// every machine; the fixed orders keep a mark as U+FEFF; lone surrogates,
// values past U+10FFFF and surrogate values are malformed: U+FFFD.
TEST_F(Encodings, ByteOrderMarksAndMalformedUnicodeForms) {
    const struct {
        const char* from;
        const char* to;
        const char* input;
        const char* output;
        NLS_Status status;
    } cases[] = {
        {"UTF-16", NLS_UCS2_NAME, "FF FE 41 00 3D D8 00 DE", "41 00 3D D8 00 DE", NLS_SUCCESS},
        {"UTF-16", NLS_UCS2_NAME, "FE FF 00 41", "41 00", NLS_SUCCESS},
        {"UTF-16", NLS_UCS2_NAME, "00 41 FE FF", "41 00 FF FE", NLS_SUCCESS},
        {"UTF-16LE", NLS_UCS2_NAME, "FF FE 41 00", "FF FE 41 00", NLS_SUCCESS},
        {"UTF-16BE", NLS_UCS2_NAME, "DC 00 00 41 D8 00 00 42", "FD FF 41 00 FD FF 42 00",
         NLS_SUCCESS},
        {"UTF-16BE", NLS_UCS2_NAME, "00 41 00", "41 00", NLS_SEQUENCE_INCOMPLETE},
        {"UTF-16BE", NLS_UCS2_NAME, "00 41 D8 3D", "41 00", NLS_SEQUENCE_INCOMPLETE},
        {"UTF-32", NLS_UCS2_NAME, "FF FE 00 00 00 F6 01 00", "3D D8 00 DE", NLS_SUCCESS},
        {"UTF-32", NLS_UCS2_NAME, "00 00 00 41", "41 00", NLS_SUCCESS},
        {"UTF-32BE", NLS_UCS2_NAME, "00 11 00 00 00 00 DC 00 00 00 00 41", "FD FF FD FF 41 00",
         NLS_SUCCESS},
        {NLS_UCS2_NAME, "UTF-16", "41 00 3D D8 00 DE", "FF FE 41 00 3D D8 00 DE", NLS_SUCCESS},
        {NLS_UCS2_NAME, "UTF-32", "3D D8 00 DE", "FF FE 00 00 00 F6 01 00", NLS_SUCCESS},
        {NLS_UCS2_NAME, "UTF-16LE", "00 DC 41 00", "FD FF 41 00", NLS_SUCCESS},
        {NLS_UCS2_NAME, "UTF-32LE", "41 00 3D D8", "41 00 00 00", NLS_SEQUENCE_INCOMPLETE},
        {"windows-1252", "UTF-8", "80 81 41", "E2 82 AC C2 81 41", NLS_SUCCESS},
        {"ISO-8859-8", "UTF-8", "A1", "EF BF BD", NLS_SUCCESS},
        {NLS_UCS2_NAME, "KOI8-R", "41 00 3D D8 00 DE 10 04", "41 3F E1", NLS_SUCCESS},
    };
    for (const auto& c : cases) {
        const Conversion result = convertOneShot(c.from, c.to, hexBytes(c.input));
        EXPECT_EQ(hex(result.output), c.output) << c.from << " -> " << c.to << ": " << c.input;
        EXPECT_EQ(result.status, c.status) << c.from << " -> " << c.to << ": " << c.input;
    }
}

// Every character a table maps comes back to its byte.
TEST_F(Encodings, EverySingleByteCharacterRoundTrips) {
    for (const std::string& name : singleByteEncodings()) {
        Bytes all;
        for (int b = 0; b < 256; ++b) all.push_back(static_cast<unsigned char>(b));
        const Conversion decoded = convertOneShot(name.c_str(), NLS_UCS2_NAME, all);
        ASSERT_EQ(decoded.output.size(), 512u) << name;
        const std::u16string units = fromUcs2(decoded.output);
        for (int b = 0; b < 256; ++b) {
            if (b < 0x80) {
                EXPECT_EQ(units[b], b) << name;
            }
            if (units[b] == 0xFFFD) continue;
            const Conversion encoded =
                convertOneShot(NLS_UCS2_NAME, name.c_str(), ucs2(std::u16string(1, units[b])));
            EXPECT_EQ(hex(encoded.output), hex(Bytes(1, static_cast<unsigned char>(b))))
                << name << " byte " << b;
        }
    }
}

// A run of units (the fast paths take eight or more at a time) writes what
// each unit writes alone: no unit outside a table passes as its own byte.
TEST_F(Encodings, SingleByteRunsWriteWhatEachUnitWritesAlone) {
    std::u16string units;
    for (char16_t unit = 0x20; unit < 0x180; ++unit) units += unit;
    for (const std::string& name : singleByteEncodings()) {
        Bytes alone;
        for (char16_t unit : units) {
            const Bytes bytes =
                convertOneShot(NLS_UCS2_NAME, name.c_str(), ucs2(std::u16string(1, unit))).output;
            alone.insert(alone.end(), bytes.begin(), bytes.end());
        }
        EXPECT_EQ(hex(convertOneShot(NLS_UCS2_NAME, name.c_str(), ucs2(units)).output), hex(alone))
            << name;
    }
}

#ifdef VELTA_HAVE_ICU
std::string unitText(uint32_t unit) {
    char text[8];
    snprintf(text, sizeof text, "%04X", unit);
    return text;
}

// Where the tables and ICU differ, listed in tests/data/single_byte_icu.txt:
// "<encoding> <byte> <ours> <ICU's>", "-" for no character.
TEST_F(Encodings, EverySingleByteEncodingMatchesIcuButForTheListedBytes) {
    std::set<std::string> listed, found;
    std::ifstream file(std::string(VELTA_SOURCE_DIR) + "/tests/data/single_byte_icu.txt");
    for (std::string line; std::getline(file, line);)
        if (!line.empty() && line[0] != '#') listed.insert(line);
    for (const std::string& name : singleByteEncodings()) {
        UErrorCode error = U_ZERO_ERROR;
        UConverter* icu = ucnv_open(name.c_str(), &error);
        if (U_FAILURE(error)) {
            found.insert(name + " has no ICU converter");
            continue;
        }
        ucnv_setToUCallBack(icu, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
        for (int b = 0x80; b < 0x100; ++b) {
            const Bytes byte(1, static_cast<unsigned char>(b));
            const uint16_t ours =
                fromUcs2(convertOneShot(name.c_str(), NLS_UCS2_NAME, byte).output)[0];
            const char in = static_cast<char>(b);
            UChar theirs[4];
            error = U_ZERO_ERROR;
            const int32_t count = ucnv_toUChars(icu, theirs, 4, &in, 1, &error);
            const std::string icuText = U_FAILURE(error) || count != 1 ? "-" : unitText(theirs[0]);
            const std::string ourText = ours == 0xFFFD ? "-" : unitText(ours);
            if (ourText != icuText)
                found.insert(name + " " + unitText(static_cast<uint32_t>(b)).substr(2) + " " +
                             ourText + " " + icuText);
        }
        ucnv_close(icu);
    }
    for (const std::string& line : found) EXPECT_TRUE(listed.count(line)) << "not listed: " << line;
    for (const std::string& line : listed) EXPECT_TRUE(found.count(line)) << "not found: " << line;
}

std::string icuConvert(const char* to, const char* from, const std::string& text) {
    UErrorCode error = U_ZERO_ERROR;
    std::string output(text.size() * 4 + 16, '\0');
    const int32_t length = ucnv_convert(to, from, &output[0], static_cast<int32_t>(output.size()),
                                        text.data(), static_cast<int32_t>(text.size()), &error);
    EXPECT_TRUE(U_SUCCESS(error)) << to;
    output.resize(U_SUCCESS(error) ? static_cast<size_t>(length) : 0);
    return output;
}

// Every scalar value: the fixed orders byte for byte as ICU writes them; the
// marked forms as a mark and ICU's little-endian form, which ICU reads back;
// and back.
TEST_F(Encodings, UnicodeFormsMatchIcuForEveryScalarValue) {
    std::u32string all;
    for (char32_t c = 1; c <= 0x10FFFF; ++c)
        if (c < 0xD800 || c > 0xDFFF) all += c;
    const Bytes utf8 = convertOneShot("ISO-10646-UCS-4", "UTF-8", ucs4(all)).output;
    const std::string text(utf8.begin(), utf8.end());
    for (const char* form : {"UTF-16BE", "UTF-16LE", "UTF-16", "UTF-32BE", "UTF-32LE", "UTF-32"}) {
        const Conversion ours = convertOneShot("UTF-8", form, utf8);
        ASSERT_EQ(ours.status, NLS_SUCCESS) << form;
        const std::string written(ours.output.begin(), ours.output.end());
        const bool marked = std::string(form).size() == 6;
        if (marked) {
            const std::string mark = form[4] == '1' ? "\xFF\xFE" : std::string("\xFF\xFE\0\0", 4);
            EXPECT_TRUE(written ==
                        mark + icuConvert((std::string(form) + "LE").c_str(), "UTF-8", text))
                << form;
            EXPECT_TRUE(icuConvert("UTF-8", form, written) == text) << form;
        } else {
            EXPECT_TRUE(written == icuConvert(form, "UTF-8", text)) << form;
        }
        EXPECT_TRUE(convertOneShot(form, "UTF-8", ours.output).output == utf8) << form;
        const std::string icuWritten = icuConvert(form, "UTF-8", text);
        EXPECT_TRUE(
            convertOneShot(form, "UTF-8", Bytes(icuWritten.begin(), icuWritten.end())).output ==
            utf8)
            << form << " as ICU writes it";
    }
}
#endif

}  // namespace
