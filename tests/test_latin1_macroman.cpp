#include <gtest/gtest.h>
#include <string.h>

#include <map>

#include "converter_calls.h"
#include "velta/internals.h"
#if defined(_WIN32)
#include <windows.h>
#endif
#ifdef VELTA_HAVE_ICU
#include <unicode/ucnv.h>
#endif

namespace {

using namespace velta_test;

// The published Mac OS Roman mapping of 0x80-0xFF, with 0xDB as CURRENCY SIGN.
const uint16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3,
    0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3,
    0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA,
    0x00BA, 0x2126, 0x00E6, 0x00F8, 0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D,
    0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044, 0x00A4, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE,
    0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

uint16_t expectedMacRoman(unsigned byte) {
    if (byte == 0x7F) return 0xFFFD;
    return byte < 0x80 ? static_cast<uint16_t>(byte) : kMacRomanHigh[byte - 0x80];
}

Bytes allBytes(unsigned from, unsigned to) {
    Bytes all;
    for (unsigned b = from; b <= to; ++b) all.push_back(static_cast<unsigned char>(b));
    return all;
}

TEST(MacRoman, EveryByteDecodesAsThePublishedTable) {
    ConverterPtr decoder(NEWMACROMANTOUNICODEENCODINGCONVERTER());
    ASSERT_EQ(decoder->GetStatus(), NLS_SUCCESS);
    const CallResult result = callConvert(decoder.get(), allBytes(0, 255), 1024);
    ASSERT_EQ(result.status, NLS_SUCCESS);
    const std::u16string units = fromUcs2(result.output);
    ASSERT_EQ(units.size(), 256u);
    for (unsigned b = 0; b < 256; ++b) EXPECT_EQ(units[b], expectedMacRoman(b)) << std::hex << b;
}

TEST(MacRoman, EveryByteButDeleteComesBackUnchanged) {
    const Conversion units = convertOneShot("x-mac-roman", "ISO-10646-UCS-2", allBytes(0, 255));
    const Conversion back = convertOneShot("ISO-10646-UCS-2", "x-mac-roman", units.output);
    Bytes expected = allBytes(0, 255);
    expected[0x7F] = '?';
    EXPECT_EQ(back.output, expected);
    NLS_EncTerminate();
}

TEST(MacRoman, EngineMapsKnownBytesBothWays) {
    const CallCase decodings[] = {
        {"41 80", 64, "41 00 C4 00", 2, NLS_SUCCESS},
        {"09 7F", 64, "09 00 FD FF", 2, NLS_SUCCESS},
        {"41 42 00 43", 64, "41 00 42 00 00 00 43 00", 4, NLS_SUCCESS},
        {"41 42 43 44 45", 6, "41 00 42 00", 2, NLS_RESULT_TRUNCATED},
        {"", 64, "", 0, NLS_INVALID_PARAMETER},
    };
    expectCalls(NEWMACROMANTOUNICODEENCODINGCONVERTER, decodings);
    const CallCase encodings[] = {
        {"C4 00 26 21", 64, "80 BD", 4, NLS_SUCCESS},
        {"AC 20 A6 00 7F 00 00 00", 64, "3F 3F 3F 00", 8, NLS_SUCCESS},
        {"41 00 42 00 43 00", 3, "41 42", 4, NLS_RESULT_TRUNCATED},
        {"41 00 42", 64, "41", 2, NLS_RESULT_TRUNCATED},
        {"41", 64, "", 0, NLS_RESULT_TRUNCATED},
        {"", 64, "", 0, NLS_SUCCESS},
    };
    expectCalls(NEWUNICODETOMACROMANENCODINGCONVERTER, encodings);
}

// An independent reading of the stored layout: N, P, Q, R; formats of 4 bits.
bool lookupStored(const uint16_t* table, uint16_t x, uint16_t* result) {
    for (unsigned i = 0; i < table[0]; ++i) {
        const unsigned format = (table[table[1] + i / 4] >> (4 * (i % 4))) & 0xF;
        const uint16_t* cell = table + table[2] + 3 * i;
        if (format == 0 && cell[0] <= x && x <= cell[1])
            return *result = static_cast<uint16_t>(cell[2] - cell[0] + x), true;
        if (format == 1 && cell[0] <= x && x <= cell[1])
            return *result = table[table[3] + cell[2] + x - cell[0]], true;
        if (format == 2 && x == cell[0]) return *result = cell[2], true;
    }
    return false;
}

// A resource of the library's module, as the platform stores it.
const uint16_t* resource(const char* name, uint32_t* units) {
#if defined(_WIN32)
    HMODULE module = static_cast<HMODULE>(TEncodingConverter::LibraryModule());
    HRSRC found = FindResourceA(module, name, MAKEINTRESOURCEA(10));
    if (found == nullptr) return nullptr;
    *units = SizeofResource(module, found) / 2;
    return static_cast<const uint16_t*>(LockResource(LoadResource(module, found)));
#else
    const NLS_ResourceDirectory* directory =
        static_cast<const NLS_ResourceDirectory*>(TEncodingConverter::LibraryModule());
    for (uint32_t i = 0; i < directory->count; ++i) {
        if (strcmp(directory->entries[i].name, name) == 0) {
            *units = directory->entries[i].size / 2;
            return static_cast<const uint16_t*>(directory->entries[i].data);
        }
    }
    return nullptr;
#endif
}

TEST(MacRomanResources, FromTableIsTheExactInverseOfToTable) {
    uint32_t units = 0;
    const uint16_t* to = resource("MACROMAN.UT", &units);
    const uint16_t* from = resource("MACROMAN.UF", &units);
    std::map<uint16_t, uint16_t> inverse;
    for (unsigned b = 0; b < 256; ++b) {
        uint16_t unit;
        if (lookupStored(to, static_cast<uint16_t>(b), &unit) && unit != 0xFFFD) {
            EXPECT_EQ(unit, expectedMacRoman(b));
            inverse[unit] = static_cast<uint16_t>(b);
        }
    }
    EXPECT_EQ(inverse.size(), 255u);
    for (uint32_t x = 0; x <= 0xFFFF; ++x) {
        uint16_t code = 0xFFFD;
        const bool found = lookupStored(from, static_cast<uint16_t>(x), &code) && code != 0xFFFD;
        const auto expected = inverse.find(static_cast<uint16_t>(x));
        ASSERT_EQ(found, expected != inverse.end()) << std::hex << x;
        if (found) {
            EXPECT_EQ(code, expected->second) << std::hex << x;
        }
    }
    uint16_t result = 0;
    EXPECT_TRUE(lookupStored(from, 0x2126, &result));
    EXPECT_EQ(result, 0xBD);
    EXPECT_TRUE(lookupStored(from, 0xFB02, &result));
    EXPECT_EQ(result, 0xDF);
    EXPECT_FALSE(lookupStored(from, 0x20AC, &result));
    const uint16_t* latin = resource("L8859-1.UT", &units);
    EXPECT_TRUE(!lookupStored(latin, 0x85, &result) || result == 0xFFFD);
    EXPECT_TRUE(lookupStored(latin, 0xE9, &result));
    EXPECT_EQ(result, 0xE9);
}

#ifdef VELTA_HAVE_ICU
// Where the table of this library and ICU's "macintosh" differ, on purpose.
TEST(MacRomanDifferential, MatchesIcuExceptTheListedBytes) {
    const std::map<unsigned, uint16_t> knownDifferences = {
        {0xDB, 0x00A4},  // this table keeps the older CURRENCY SIGN; ICU has the EURO SIGN
        {0xBD, 0x2126},  // OHM SIGN here, GREEK CAPITAL LETTER OMEGA in ICU
        {0x7F, 0xFFFD},  // DELETE has no mapping here
    };
    UErrorCode error = U_ZERO_ERROR;
    UConverter* icu = ucnv_open("macintosh", &error);
    ASSERT_TRUE(U_SUCCESS(error));
    ConverterPtr decoder(NEWMACROMANTOUNICODEENCODINGCONVERTER());
    for (unsigned b = 0x20; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        UChar icuUnit[4];
        error = U_ZERO_ERROR;
        const int32_t length = ucnv_toUChars(icu, icuUnit, 4, &byte, 1, &error);
        const CallResult ours =
            callConvert(decoder.get(), Bytes(1, static_cast<unsigned char>(b)), 8);
        const uint16_t unit = fromUcs2(ours.output)[0];
        const auto difference = knownDifferences.find(b);
        if (difference != knownDifferences.end()) {
            EXPECT_EQ(unit, difference->second) << std::hex << b;
            continue;
        }
        ASSERT_EQ(length, 1) << std::hex << b;
        EXPECT_EQ(unit, icuUnit[0]) << std::hex << b;
    }
    ucnv_close(icu);
}
#endif

TEST(Latin1, EveryByteRoundTripsAndZeroIsAUnit) {
    ConverterPtr decoder(NEWLATIN1TOUNICODEENCODINGCONVERTER());
    ConverterPtr encoder(NEWUNICODETOLATIN1ENCODINGCONVERTER());
    const CallResult units = callConvert(decoder.get(), allBytes(0, 255), 1024);
    EXPECT_EQ(units.status, NLS_SUCCESS);
    const std::u16string text = fromUcs2(units.output);
    ASSERT_EQ(text.size(), 256u);
    for (unsigned b = 0; b < 256; ++b) EXPECT_EQ(text[b], b);
    EXPECT_EQ(callConvert(encoder.get(), units.output, 1024).output, allBytes(0, 255));
}

TEST(Latin1, UnitsAboveFFBecomeQuestionMarks) {
    ConverterPtr encoder(NEWUNICODETOLATIN1ENCODINGCONVERTER());
    EXPECT_EQ(hex(callConvert(encoder.get(), ucs2(u"\u00E9\u20AC\u0141\u0100\uFFFF"), 64).output),
              "E9 3F 3F 3F 3F");
}

TEST(Latin1, KnownBytes) {
    const CallCase decodings[] = {
        {"41 00 80", 16, "41 00 00 00 80 00", 3, NLS_SUCCESS},
        {"41 42 43", 4, "41 00", 1, NLS_RESULT_TRUNCATED},
        {"41", 1, "", 0, NLS_RESULT_TRUNCATED},
        {"41", 0, "", 0, NLS_INVALID_PARAMETER},
    };
    expectCalls(NEWLATIN1TOUNICODEENCODINGCONVERTER, decodings);
    const CallCase encodings[] = {
        {"E9 00 AC 20", 16, "E9 3F", 4, NLS_SUCCESS},
        {"41 00 42 00", 2, "41", 2, NLS_RESULT_TRUNCATED},
        {"41 00 42", 16, "41", 2, NLS_RESULT_TRUNCATED},
        {"41 00", 0, "", 0, NLS_RESULT_TRUNCATED},
    };
    expectCalls(NEWUNICODETOLATIN1ENCODINGCONVERTER, encodings);
}

TEST(Latin1MacRomanChains, ConvertThroughUcs2FromTheFlatFunctions) {
    EXPECT_EQ(hex(convertOneShot("latin1", "x-mac-roman", hexBytes("41 E9 A4 FF 00")).output),
              "41 8E DB D8 00");
    EXPECT_EQ(hex(convertOneShot("x-mac-roman", "UTF-8", hexBytes("8E DB F0")).output),
              "C3 A9 C2 A4 EF A3 BF");
    EXPECT_EQ(hex(convertOneShot("x-mac-roman", "latin1", hexBytes("AA 41")).output), "3F 41");
    NLS_EncTerminate();
}

}  // namespace
