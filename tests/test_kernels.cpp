// Every kernel set the CPU runs against the portable code: the same status,
// counts and bytes on texts of every kind of character, malformed and
// hostile ones among them, with every output size around the kernels'
// blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "common/units.h"
#include "converter_calls.h"
#include "test_support.h"
#include "velta/factories.h"

using namespace velta_test;

namespace {

// UTF-8 pieces: characters of each length at the edges of their ranges, and
// what the kernels must leave to the codec.
const char* const kUtf8Pieces[] = {"41",          "7F",
                                   "C2 80",       "C3 A9",
                                   "DF BF",       "E0 A0 80",
                                   "E6 97 A5",    "EF BF BF",
                                   "F0 90 80 80", "F0 9F 98 80",
                                   "F4 8F BF BF", "80",
                                   "BF",          "C0 80",
                                   "C1 BF",       "C3",
                                   "C3 41",       "E0 80 80",
                                   "E0 9F BF",    "ED A0 80",
                                   "ED 9F BF",    "E6 97",
                                   "F0 8F BF BF", "F4 90 80 80",
                                   "F5 80 80 80", "F8 88 80 80 80",
                                   "FE",          "FF",
                                   "F0 9F 98",    "E6 41 A5"};

// UCS-2 pieces, by unit: pairs, lone halves, and the edges of each length.
const uint16_t kUnitPieces[][2] = {{0x41, 0},   {0x7F, 0},   {0x80, 0},        {0x7FF, 0},
                                   {0x800, 0},  {0xFFFF, 0}, {0xD83D, 0xDE00}, {0xDBFF, 0xDFFF},
                                   {0xD800, 0}, {0xDC00, 0}, {0xE9, 0},        {0x65E5, 0},
                                   {0xD7FF, 0}, {0xE000, 0}};

// `longestRun`: the longest ASCII run between pieces.
Bytes randomUtf8(std::mt19937& random, bool hostile, uint32_t longestRun = 40) {
    Bytes text;
    const uint32_t target = random() % (400 + 2 * longestRun);
    const uint32_t kinds = hostile ? sizeof kUtf8Pieces / sizeof kUtf8Pieces[0] : 11;
    while (text.size() < target) {
        const uint32_t asciiRun = random() % 3 == 0 ? random() % longestRun : 0;
        for (uint32_t i = 0; i < asciiRun; ++i) text.push_back(0x20 + random() % 0x5F);
        const Bytes piece = hexBytes(kUtf8Pieces[random() % kinds]);
        const uint32_t repeat = 1 + random() % 24;
        for (uint32_t i = 0; i < repeat; ++i) text.insert(text.end(), piece.begin(), piece.end());
    }
    return text;
}

Bytes randomUcs2(std::mt19937& random) {
    std::u16string text;
    const uint32_t target = random() % 300;
    while (text.size() < target) {
        const uint32_t asciiRun = random() % 3 == 0 ? random() % 40 : 0;
        for (uint32_t i = 0; i < asciiRun; ++i) text.push_back(0x20 + random() % 0x5F);
        const uint16_t* piece =
            kUnitPieces[random() % (sizeof kUnitPieces / sizeof kUnitPieces[0])];
        const uint32_t repeat = 1 + random() % 8;
        for (uint32_t i = 0; i < repeat; ++i) {
            text.push_back(piece[0]);
            if (piece[1] != 0) text.push_back(piece[1]);
        }
    }
    return ucs2(text);
}

// Halves of pairs in any order among a few other units: a kernel that took
// one half for the other would join two halves or split a pair.
Bytes randomHalves(std::mt19937& random) {
    const char16_t units[] = {0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xD83D, 0xDE00, 0x41, 0xE9, 0x65E5};
    std::u16string text;
    const uint32_t length = 17 + random() % 120;
    while (text.size() < length) text.push_back(units[random() % (sizeof units / 2)]);
    return ucs2(text);
}

// Characters of one and two bytes in UTF-8 only, long enough that the
// Latin blocks of the UTF-8 encoders run up to the end of the output.
std::u32string shortCharacters(std::mt19937& random) {
    std::u32string text;
    const uint32_t length = 300 + random() % 300;
    while (text.size() < length)
        text.push_back(random() % 4 == 0 ? 0xA0 + random() % 0x760 : 0x20 + random() % 0x5F);
    return text;
}

Bytes randomShortUnits(std::mt19937& random) {
    const std::u32string text = shortCharacters(random);
    return ucs2(std::u16string(text.begin(), text.end()));
}

Bytes randomUcs4(std::mt19937& random) {
    const char32_t values[] = {0x41,     0xE9,     0xFFFF,     0x10000, 0x1F600,
                               0x10FFFF, 0x110000, 0xFFFFFFFF, 0xD800,  0xDC00};
    std::u32string text;
    const uint32_t target = random() % 200;
    while (text.size() < target) {
        const char32_t value = random() % 2 ? 0x20 + random() % 0x5F
                                            : values[random() % (sizeof values / sizeof values[0])];
        text.append(1 + random() % 20, value);
    }
    return ucs4(text);
}

// A plain UTF-8 decoder written for this test, one byte at a time: the
// model the decoders (every kernel set) are checked against.
std::u16string referenceDecode(const Bytes& s) {
    static const uint32_t kLeast[6] = {0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
    std::u16string out;
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char lead = s[i];
        const unsigned trailing = lead < 0xC0 || lead >= 0xFE ? 0
                                  : lead < 0xE0               ? 1
                                  : lead < 0xF0               ? 2
                                  : lead < 0xF8               ? 3
                                  : lead < 0xFC               ? 4
                                                              : 5;
        uint32_t value = lead < 0x80 ? lead : lead & (0x3F >> trailing);
        size_t length = 1;
        bool broken = false;
        for (; length <= trailing; ++length) {
            if (i + length >= s.size()) return out;  // cut: the rest stays unconsumed
            if ((s[i + length] & 0xC0) != 0x80) {
                broken = true;
                break;
            }
            value = (value << 6) | (s[i + length] & 0x3F);
        }
        const bool overlong = value < kLeast[trailing] && !(lead == 0xC0 && s[i + 1] == 0x80);
        if (broken || overlong || value > 0x10FFFF || (lead >= 0x80 && lead < 0xC0) || lead >= 0xFE)
            value = 0xFFFD;
        if (value > 0xFFFF) {
            out += static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(value);
        }
        i += broken ? length : trailing + 1;
    }
    return out;
}

// Sizes at the edges of 16- to 64-byte blocks, and ample room.
std::vector<uint32_t> outputSizes(const Bytes& input) {
    std::vector<uint32_t> sizes;
    for (uint32_t size = 0; size <= 140; ++size) sizes.push_back(size);
    for (uint32_t size = 250; size <= 270; ++size) sizes.push_back(size);
    sizes.push_back(static_cast<uint32_t>(input.size()) * 4 + 8);
    return sizes;
}

void expectSameCalls(TEncodingConverter* (*factory)(), const Bytes& input, const char* kernel) {
    for (uint32_t size : outputSizes(input)) {
        ASSERT_EQ(NLS_UseKernel("scalar"), NLS_SUCCESS);
        ConverterPtr portable(factory());
        const CallResult expected = callConvert(portable.get(), input, size);
        ASSERT_EQ(NLS_UseKernel(kernel), NLS_SUCCESS);
        ConverterPtr vector(factory());
        const CallResult result = callConvert(vector.get(), input, size);
        ASSERT_TRUE(result.guardIntact);
        ASSERT_EQ(result.status, expected.status)
            << kernel << " size " << size << " " << hex(input);
        ASSERT_EQ(result.consumed, expected.consumed) << kernel << " size " << size;
        ASSERT_EQ(result.output, expected.output)
            << kernel << " size " << size << " " << hex(input);
    }
}

class Kernels : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (NLS_UseKernel(GetParam()) != NLS_SUCCESS) GTEST_SKIP() << "this CPU lacks it";
    }
    void TearDown() override { NLS_UseKernel(nullptr); }
};

TEST_P(Kernels, DecodeUtf8AsThePortableCodeAndTheModelDo) {
    std::mt19937 random(7);
    for (int text = 0; text < 120; ++text) {
        const Bytes utf8 = randomUtf8(random, text % 2 == 1);
        expectSameCalls(NEWUTF8TOUNICODEENCODINGCONVERTER, utf8, GetParam());
        ConverterPtr decoder(NEWUTF8TOUNICODEENCODINGCONVERTER());
        const CallResult whole = callConvert(decoder.get(), utf8, 2 * utf8.size() + 2);
        EXPECT_EQ(fromUcs2(whole.output), referenceDecode(utf8)) << hex(utf8);
    }
}

TEST_P(Kernels, EncodeUtf8AsThePortableCodeDoes) {
    std::mt19937 random(8);
    for (int text = 0; text < 120; ++text)
        expectSameCalls(NEWUNICODETOUTF8ENCODINGCONVERTER, randomUcs2(random), GetParam());
    for (int text = 0; text < 20; ++text) {
        expectSameCalls(NEWUNICODETOUTF8ENCODINGCONVERTER, randomShortUnits(random), GetParam());
        expectSameCalls(NEWUNICODETOUTF8ENCODINGCONVERTER, randomHalves(random), GetParam());
    }
}

TEST_P(Kernels, Utf7RunsAsThePortableCodeWritesThem) {
    std::mt19937 random(12);
    for (int text = 0; text < 40; ++text) {
        const Bytes units = randomUcs2(random);
        expectSameCalls(NEWUNICODETOUTF7ENCODINGCONVERTER, units, GetParam());
        expectSameCalls(NEWUNICODETOMODIFIEDUTF7ENCODINGCONVERTER, units, GetParam());
    }
}

TEST_P(Kernels, Ucs4BothWaysAsThePortableCodeDoes) {
    std::mt19937 random(10);
    for (int text = 0; text < 60; ++text) {
        expectSameCalls(NEWUCS4TOUNICODEENCODINGCONVERTER, randomUcs4(random), GetParam());
        expectSameCalls(NEWUNICODETOUCS4ENCODINGCONVERTER, randomUcs2(random), GetParam());
    }
}

TEST_P(Kernels, Utf16CopiesAsThePortableCodeDoes) {
    std::mt19937 random(11);
    for (int text = 0; text < 40; ++text) {
        const Bytes units = randomUcs2(random);
        for (uint32_t first = 0; first <= 72; ++first) {
            ASSERT_EQ(NLS_UseKernel("scalar"), NLS_SUCCESS);
            const Conversion expected = convertDrained("UTF-16LE", "ISO-10646-UCS-2", units, first);
            const Conversion back = convertDrained("ISO-10646-UCS-2", "UTF-16LE", units, first);
            ASSERT_EQ(NLS_UseKernel(GetParam()), NLS_SUCCESS);
            const Conversion decoded = convertDrained("UTF-16LE", "ISO-10646-UCS-2", units, first);
            EXPECT_EQ(decoded.status, expected.status);
            EXPECT_EQ(decoded.output, expected.output) << "first output " << first;
            EXPECT_EQ(convertDrained("ISO-10646-UCS-2", "UTF-16LE", units, first).output,
                      back.output);
        }
    }
}

// The Unicode forms with kernels of their own: UTF-16 of the order that is
// not the machine's (units written or read swapped) and UTF-32 of either
// order (values written straight from UTF-8, or read straight into it).
TEST_P(Kernels, UnicodeFormsAsThePortableCodeDoes) {
    const char* const otherUtf16 = velta::bigEndianHost() ? "UTF-16LE" : "UTF-16BE";
    std::mt19937 random(13);
    for (int text = 0; text < 40; ++text) {
        const Bytes utf8 = randomUtf8(random, text % 2 == 1);
        Bytes units = text % 2 == 1 ? randomHalves(random) : randomUcs2(random);
        for (size_t i = 0; i + 1 < units.size(); i += 2) std::swap(units[i], units[i + 1]);
        const Bytes values = text % 2 == 1 ? ucs4(shortCharacters(random)) : randomUcs4(random);
        Bytes swappedValues = values;
        for (size_t i = 0; i + 3 < values.size(); i += 4)
            std::reverse(swappedValues.begin() + i, swappedValues.begin() + i + 4);
        const bool big = velta::bigEndianHost();
        const struct {
            const char* from;
            const char* to;
            const Bytes& input;
        } conversions[] = {{"UTF-8", otherUtf16, utf8},
                           {otherUtf16, "UTF-8", units},
                           {"UTF-8", "UTF-32LE", utf8},
                           {"UTF-8", "UTF-32BE", utf8},
                           {"UTF-32LE", "UTF-8", big ? swappedValues : values},
                           {"UTF-32BE", "UTF-8", big ? values : swappedValues}};
        for (const auto& conversion : conversions) {
            for (uint32_t first = 0; first <= 140; first += 7) {
                ASSERT_EQ(NLS_UseKernel("scalar"), NLS_SUCCESS);
                const Conversion expected =
                    convertDrained(conversion.from, conversion.to, conversion.input, first);
                ASSERT_EQ(NLS_UseKernel(GetParam()), NLS_SUCCESS);
                const Conversion result =
                    convertDrained(conversion.from, conversion.to, conversion.input, first);
                EXPECT_EQ(result.status, expected.status) << conversion.to;
                EXPECT_EQ(result.output, expected.output)
                    << conversion.from << " to " << conversion.to << ", first output " << first;
            }
        }
    }
}

// Through UCS-2, and straight from UTF-8 in pieces, with ASCII runs that
// cross the kernels' blocks of 32 and 128 bytes.
TEST_P(Kernels, AsciiRunsOfOtherEncodingsAsThePortableCodeDoes) {
    std::mt19937 random(9);
    for (const char* encoding :
         {"windows-1252", "ISO_8859-1:1987", "KOI8-U", "x-mac-roman", "UNICODE-1-1-UTF-7",
          "IMAP-MODIFIED-UTF-7", "Big5", "windows-31j"}) {
        for (int text = 0; text < 40; ++text) {
            const Bytes latin = randomUtf8(random, false, text % 2 == 0 ? 40 : 400);
            ASSERT_EQ(NLS_UseKernel("scalar"), NLS_SUCCESS);
            const Conversion decoded = convertOneShot(encoding, "ISO-10646-UCS-2", latin);
            const Conversion encoded = convertOneShot("ISO-10646-UCS-2", encoding, decoded.output);
            ASSERT_EQ(NLS_UseKernel(GetParam()), NLS_SUCCESS);
            const Conversion decodedAgain = convertOneShot(encoding, "ISO-10646-UCS-2", latin);
            EXPECT_EQ(decodedAgain.status, decoded.status);
            EXPECT_EQ(decodedAgain.output, decoded.output);
            const Conversion encodedAgain =
                convertOneShot("ISO-10646-UCS-2", encoding, decoded.output);
            EXPECT_EQ(encodedAgain.status, encoded.status);
            EXPECT_EQ(encodedAgain.output, encoded.output);
            for (uint32_t first : {1u, 31u, 127u, 129u, 300u}) {
                ASSERT_EQ(NLS_UseKernel("scalar"), NLS_SUCCESS);
                const Conversion expected = convertDrained("UTF-8", encoding, latin, first, 100);
                ASSERT_EQ(NLS_UseKernel(GetParam()), NLS_SUCCESS);
                const Conversion result = convertDrained("UTF-8", encoding, latin, first, 100);
                EXPECT_EQ(result.status, expected.status);
                EXPECT_EQ(result.output, expected.output) << encoding << " first output " << first;
            }
        }
    }
}

// UTF-8 to the encodings whose window of letters goes straight to their
// bytes (Thai in windows-874; two-byte windows of four leads: Latin letters
// in windows-1252, IBM850 and ISO-8859-14, Cyrillic in KOI8-R, Greek in
// ISO-8859-7): letters each has and lacks under each lead, ones of the
// leads beside the window, cut and broken ones among ASCII runs that cross
// the kernel's blocks.
TEST_P(Kernels, WindowLettersStraightToTheirBytesAsThePortableCodeDoes) {
    const struct {
        const char* encoding;
        std::vector<const char*> pieces;  // the first four in the window
    } kWindows[] = {
        {"windows-874",
         {"E0 B8 81", "E0 B8 BA", "E0 B9 80", "E0 B9 9B", "E0 B8 BB", "E0 B9 9C", "E0 BA 81",
          "E0 B7 BF", "E2 82 AC", "C3 A9", "E0 B8", "E0 B8 41", "E0 41", "B8 81", "E1 B8 81"}},
        {"windows-1252",
         {"C3 A9", "C5 93", "C2 A0", "C3 BF", "C2 81", "C5 B8", "C4 80", "C6 92", "C1 A9",
          "E2 82 AC", "C3", "C3 41", "C2 C3", "A9", "E0 B8 81"}},
        {"IBM850",
         {"C3 A9", "C3 9F", "C2 A3", "C3 BF", "C2 80", "C5 93", "C6 92", "E2 82 AC", "C3", "C3 41",
          "A9"}},
        {"ISO-8859-14",
         {"C5 B5", "C3 A2", "C5 B7", "C4 8B", "C3 B0", "C3 97", "C4 80", "C6 80", "E1 B8 82", "C5",
          "C5 C5"}},
        {"KOI8-R",
         {"D0 B0", "D1 8F", "D1 91", "D0 81", "D0 84", "D2 90", "D3 80", "CF 80", "D4 80",
          "E2 94 80", "D1", "D1 41"}},
        {"ISO-8859-7",
         {"CE B1", "CF 89", "CE 86", "CE 91", "CF BF", "D0 80", "D1 81", "CD BE", "C2 A0",
          "E2 80 95", "CE", "CF 20"}},
    };
    std::mt19937 random(14);
    for (const auto& [encoding, pieces] : kWindows) {
        for (int text = 0; text < 40; ++text) {
            Bytes letters;
            const uint32_t size = random() % 300;
            while (letters.size() < size) {
                for (uint32_t i = 0, run = random() % 3 == 0 ? random() % 40 : 0; i < run; ++i)
                    letters.push_back(0x20 + random() % 0x5F);
                const size_t kinds = text % 2 == 0 ? 4 : pieces.size();
                const Bytes piece = hexBytes(pieces[random() % kinds]);
                for (uint32_t i = 0, repeat = 1 + random() % 16; i < repeat; ++i)
                    letters.insert(letters.end(), piece.begin(), piece.end());
            }
            for (uint32_t first = 0; first <= 140; first += 5) {
                ASSERT_EQ(NLS_UseKernel("scalar"), NLS_SUCCESS);
                const Conversion expected = convertDrained("UTF-8", encoding, letters, first, 40);
                ASSERT_EQ(NLS_UseKernel(GetParam()), NLS_SUCCESS);
                const Conversion result = convertDrained("UTF-8", encoding, letters, first, 40);
                EXPECT_EQ(result.status, expected.status) << encoding;
                EXPECT_EQ(result.output, expected.output)
                    << encoding << " " << hex(letters) << " first output " << first;
            }
        }
    }
}

// Single-byte text to UTF-8 straight from its bytes: letters of two bytes
// (Latin, Cyrillic, Greek, Hebrew) and of three (Thai, the euro sign, box
// drawing), bytes without a character, ASCII runs across the kernel's
// blocks; every first output size around them (each one where a block of
// Latin-1 letters meets the end of the room).
TEST_P(Kernels, SingleByteTextToUtf8AsThePortableCodeDoes) {
    std::mt19937 random(16);
    for (const char* encoding : {"windows-1252", "ISO-8859-15", "ISO-8859-1", "KOI8-R",
                                 "ISO-8859-7", "ISO-8859-8", "windows-874", "IBM437"}) {
        for (int text = 0; text < 30; ++text) {
            Bytes bytes;
            const uint32_t size = random() % 400;
            while (bytes.size() < size) {
                for (uint32_t i = 0, run = random() % 3 == 0 ? random() % 70 : 0; i < run; ++i)
                    bytes.push_back(static_cast<unsigned char>(0x20 + random() % 0x5F));
                // Any byte; the upper half; the Latin-1 letters, bytes of
                // their own units in windows-1252 and most in ISO-8859-15.
                const uint32_t lowest[] = {0, 0x80, 0xA0};
                for (uint32_t i = 0, letters = 1 + random() % 40; i < letters; ++i)
                    bytes.push_back(static_cast<unsigned char>(
                        lowest[text % 3] + random() % (0x100 - lowest[text % 3])));
            }
            for (uint32_t first = 0; first <= 140; first += first < 56 || first >= 72 ? 7 : 1) {
                ASSERT_EQ(NLS_UseKernel("scalar"), NLS_SUCCESS);
                const Conversion expected = convertDrained(encoding, "UTF-8", bytes, first, 40);
                ASSERT_EQ(NLS_UseKernel(GetParam()), NLS_SUCCESS);
                const Conversion result = convertDrained(encoding, "UTF-8", bytes, first, 40);
                EXPECT_EQ(result.status, expected.status) << encoding;
                EXPECT_EQ(result.output, expected.output)
                    << encoding << " " << hex(bytes) << " first output " << first;
            }
        }
    }
}

// The table encoders whose kernels look each unit's byte or code up: the
// single-byte encodings (x-mac-roman's table engine among them) and the
// two-byte ones of the converter libraries;
// characters each encoding has and lacks (Latin letters of Latin-1 and past
// it, CJK), ASCII, NUL, surrogates, the ends of the table.
TEST_P(Kernels, TableEncodersAsThePortableCodeDoes) {
    const uint16_t kUnits[][2] = {{0xAC00, 0}, {0xD55C, 0}, {0xAC03, 0}, {0x4E2D, 0},
                                  {0x6587, 0}, {0x3042, 0}, {0x65E5, 0}, {0xFF21, 0},
                                  {0xE9, 0},   {0x175, 0},  {0x153, 0},  {0x2019, 0},
                                  {0x20AC, 0}, {0x41, 0},   {0x80, 0},   {0xFFFF, 0},
                                  {0x20, 0},   {0, 0},      {0xDC00, 0}, {0xD83D, 0xDE00}};
    std::mt19937 random(15);
    // Each encoding with the first of the eight units its text mostly has.
    const struct {
        const char* name;
        uint32_t common;
    } kEncodings[] = {{"EUC-KR", 0},      {"Big5", 0},         {"GBK", 0},         {"GB18030", 0},
                      {"windows-31j", 0}, {"windows-1252", 8}, {"ISO-8859-14", 8}, {"KOI8-U", 8},
                      {"IBM037", 8},      {"x-mac-roman", 8}};
    for (const auto& [encoding, common] : kEncodings) {
        for (int text = 0; text < 16; ++text) {
            std::u16string units;
            const uint32_t size = random() % 300;
            while (units.size() < size) {
                const uint16_t* piece = text % 2 == 0
                                            ? kUnits[common + random() % 8]
                                            : kUnits[random() % (sizeof kUnits / sizeof kUnits[0])];
                for (uint32_t i = 0, repeat = 1 + random() % 12; i < repeat; ++i) {
                    units.push_back(piece[0]);
                    if (piece[1] != 0) units.push_back(piece[1]);
                }
            }
            const Bytes input = ucs2(units);
            for (uint32_t first = 0; first <= 80; first += 5) {
                ASSERT_EQ(NLS_UseKernel("scalar"), NLS_SUCCESS);
                const Conversion expected =
                    convertDrained("ISO-10646-UCS-2", encoding, input, first, 40);
                ASSERT_EQ(NLS_UseKernel(GetParam()), NLS_SUCCESS);
                const Conversion result =
                    convertDrained("ISO-10646-UCS-2", encoding, input, first, 40);
                EXPECT_EQ(result.status, expected.status) << encoding;
                EXPECT_EQ(result.output, expected.output)
                    << encoding << " " << hex(input) << " first output " << first;
            }
        }
    }
}

// Every encoder the library and its converter libraries have, given every
// character of the BMP at once: the same bytes and status as the portable
// code (the table kernels meet every table entry).
TEST_P(Kernels, EveryEncoderWritesTheBmpAsThePortableCodeDoes) {
    std::u16string bmp;
    for (uint32_t unit = 1; unit < 0x10000; ++unit)
        if (unit < 0xD800 || unit > 0xDFFF) bmp += static_cast<char16_t>(unit);
    const Bytes input = ucs2(bmp);
    std::vector<std::string> encodings;
    NLS_ListEncodingNames(
        [](const char* encoding, const char* alias, void* names) {
            if (alias == nullptr)
                static_cast<std::vector<std::string>*>(names)->push_back(encoding);
        },
        &encodings);
    ASSERT_GT(encodings.size(), 100u);
    for (const std::string& encoding : encodings) {
        if (!NLS_EncodingConverterExists(NLS_UCS2_NAME, encoding.c_str())) continue;
        ASSERT_EQ(NLS_UseKernel("scalar"), NLS_SUCCESS);
        const Conversion expected = convertOneShot(NLS_UCS2_NAME, encoding.c_str(), input);
        ASSERT_EQ(NLS_UseKernel(GetParam()), NLS_SUCCESS);
        const Conversion result = convertOneShot(NLS_UCS2_NAME, encoding.c_str(), input);
        EXPECT_EQ(result.status, expected.status) << encoding;
        EXPECT_TRUE(result.output == expected.output) << encoding;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryVectorSet, Kernels, ::testing::Values("sse2", "avx2"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             return std::string(param.param);
                         });

TEST(KernelChoice, UnknownNamesAreRefusedAndTheChoiceIsNamed) {
    EXPECT_EQ(NLS_UseKernel("no such kernel"), NLS_INVALID_PARAMETER);
    ASSERT_EQ(NLS_UseKernel("scalar"), NLS_SUCCESS);
    EXPECT_STREQ(NLS_KernelInUse(), "scalar");
    ASSERT_EQ(NLS_UseKernel(nullptr), NLS_SUCCESS);
    EXPECT_STRNE(NLS_KernelInUse(), "");
}

}  // namespace
