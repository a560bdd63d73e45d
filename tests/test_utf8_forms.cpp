// The direct converters between UTF-8 and UTF-16LE/BE or UTF-32LE/BE against the pair of
// converters through UCS-2 they stand for: a library whose registry lacks
// the direct records makes that pair. Both convert the same inputs (valid,
// malformed, encoded and lone surrogates), cut anywhere, through every small
// output, under every policy, read strictly or not; text, status and report
// must agree.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "velta/encoding_converter.h"

namespace {

using namespace velta_test;

struct Outcome {
    Bytes text;
    NLS_Status status = NLS_SUCCESS;
    NLS_ConversionReport report{};
    bool operator==(const Outcome& other) const {
        return text == other.text && status == other.status &&
               report.substituted == other.report.substituted &&
               report.firstKind == other.report.firstKind &&
               report.firstOffset == other.report.firstOffset;
    }
};

std::string describe(const Outcome& outcome) {
    std::ostringstream text;
    text << hex(outcome.text) << " status " << outcome.status << " report "
         << outcome.report.substituted << "/" << outcome.report.firstKind << "@"
         << outcome.report.firstOffset;
    return text.str();
}

// The input in two pieces split at `cut`, through outputs of `outputSize`.
Outcome stream(EncodingConverter* object, const Bytes& input, size_t cut, uint32_t outputSize) {
    Outcome outcome;
    const size_t ends[2] = {cut, input.size()};
    size_t start = 0;
    for (int k = 0; k < 2; ++k) {
        const Bytes piece(input.begin() + start, input.begin() + ends[k]);
        start = ends[k];
        size_t position = 0;
        for (int calls = 0; calls < 100000; ++calls) {
            std::vector<unsigned char> buffer(outputSize);
            uint32_t read = 0, written = 0;
            outcome.status = NLS_ConvertStream(object, piece.data() + position,
                                               static_cast<uint32_t>(piece.size() - position),
                                               buffer.data(), outputSize, k == 1, &read, &written);
            outcome.text.insert(outcome.text.end(), buffer.begin(), buffer.begin() + written);
            position += read;
            if (outcome.status != NLS_RESULT_TRUNCATED) break;
        }
        if (outcome.status < 0 && outcome.status != NLS_SEQUENCE_INCOMPLETE) break;
    }
    NLS_GetConversionReport(object, &outcome.report);
    return outcome;
}

struct Case {
    const char* from;
    const char* to;
    Bytes input;
};

struct Piece {
    size_t cut;
    uint32_t outputSize;
};

// Every cut and output size 1 to 12 (and a large one) for a short input; for
// a long one, which crosses the blocks of the kernels and of the swap, a few
// (outputs of a few KiB among them, for which a chain sizes its refills).
std::vector<Piece> runs(const Bytes& input) {
    std::vector<Piece> all;
    if (input.size() > 64) {
        for (const size_t cut : {size_t{0}, input.size() / 3, input.size() / 2 + 1, input.size()})
            for (const uint32_t size : {1024u, 1501u, 4096u, 1u << 20}) all.push_back({cut, size});
        return all;
    }
    for (size_t cut = 0; cut <= input.size(); ++cut)
        for (uint32_t size = 1; size <= 13; ++size) all.push_back({cut, size == 13 ? 4096 : size});
    return all;
}

Bytes utf16(const std::u16string& text, bool big) {
    Bytes out;
    for (char16_t unit : text) {
        const unsigned char high = static_cast<unsigned char>(unit >> 8);
        const unsigned char low = static_cast<unsigned char>(unit & 0xFF);
        out.push_back(big ? high : low);
        out.push_back(big ? low : high);
    }
    return out;
}

Bytes utf32(const std::u32string& text, bool big) {
    Bytes out;
    for (char32_t value : text)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<unsigned char>(value >> (big ? 24 - 8 * i : 8 * i)));
    return out;
}

// UTF-8 texts: well formed, malformed, encoded surrogates (paired, lone, cut).
const char* const kUtf8Inputs[] = {
    "41 C3 A9 20 E2 82 AC E6 97 A5 F0 9F 98 80 5A",
    "41 FF 80 C3 28 E2 82 41 C0 80 C1 BF E0 80 80 F4 90 80 80 F0 9F 98",
    "41 ED A0 80 ED B0 80 42",
    "ED A0 80 41 ED B0 80 ED BF BF",
    "ED A0 80 FF ED B0 80 ED A0 80 ED A0 80 ED B0 80",
    "E2 82 AC ED A0 80",
    "ED A0 80 ED B0",
    "F0 9F 98 80 ED AF BF ED BF BF C3",
    // The held output of a small call fills just before an encoded
    // surrogate: the rest of the text was lost, and, read strictly, the
    // stop there was taken for a cut character (-1304).
    ("41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54 55 56 57 58 59 5A 61 62 63 "
     "64 65 66 ED B0 95 7A"),
};

std::vector<Case> cases() {
    const std::u16string utf16Inputs[] = {
        u"A\u00E9 \u20AC\u65E5\U0001F600Z",
        u"A\xD800"
        u"B\xDC00\xD800\xD800\xDC00",
        u"\xDBFF\xDFFF\xDC00\xD800",
        u"\u00E9\xD83D",
    };
    std::vector<Case> all;
    for (const char* to : {"UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE"})
        for (const char* input : kUtf8Inputs) all.push_back({"UTF-8", to, hexBytes(input)});
    // Long text: every form of character, an encoded pair far in.
    Bytes longText;
    for (int i = 0; i < 1500; ++i) {
        const Bytes some = hexBytes(i % 7 == 3 ? "41 42 43 44 45 46 47 48 49 4A C3 A9 E6 97 A5"
                                               : "41 20 F0 9F 98 80 E2 82 AC D0 96 20 61");
        longText.insert(longText.end(), some.begin(), some.end());
    }
    for (const char* to : {"UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE"})
        all.push_back({"UTF-8", to, longText});
    Bytes withPair = longText;
    const Bytes pair = hexBytes("ED A0 80 ED B0 80 FF");
    withPair.insert(withPair.begin() + 12001, pair.begin(), pair.end());
    for (const char* to : {"UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE"})
        all.push_back({"UTF-8", to, withPair});
    const std::u32string utf32Inputs[] = {
        U"A\u00E9 \u20AC\u65E5\U0001F600Z",
        U"A\x110000"
        U"B\xD800\xDC00\xDBFF\U0010FFFF",
        U"\xFFFFFFFF\U0001F600\xDFFF",
    };
    for (const bool big : {false, true})
        for (const std::u32string& input : utf32Inputs) {
            Bytes text = utf32(input, big);
            all.push_back({big ? "UTF-32BE" : "UTF-32LE", "UTF-8", text});
            text.push_back(0x41);  // bytes that make no value at the end
            text.push_back(0x42);
            all.push_back({big ? "UTF-32BE" : "UTF-32LE", "UTF-8", text});
        }
    std::u32string longValues;
    for (int i = 0; i < 3000; ++i) longValues += i % 5 == 2 ? U"\U0001F600\u65E5" : U"abc \u00E9";
    for (const bool big : {false, true}) {
        all.push_back({big ? "UTF-32BE" : "UTF-32LE", "UTF-8", utf32(longValues, big)});
        std::u32string malformed = longValues;
        malformed[5001] = 0xD800;
        all.push_back({big ? "UTF-32BE" : "UTF-32LE", "UTF-8", utf32(malformed, big)});
    }
    for (const bool big : {false, true})
        for (const std::u16string& input : utf16Inputs) {
            Bytes text = utf16(input, big);
            all.push_back({big ? "UTF-16BE" : "UTF-16LE", "UTF-8", text});
            text.push_back(0x41);  // an odd byte at the end
            all.push_back({big ? "UTF-16BE" : "UTF-16LE", "UTF-8", text});
        }
    return all;
}

const int32_t kPolicies[] = {NLS_POLICY_REPLACE, NLS_POLICY_SKIP, NLS_POLICY_STOP,
                             NLS_POLICY_TRANSLITERATE};

// Every case, cut and output size, in one order, for one library.
std::vector<Outcome> convertAll(const std::vector<Case>& all) {
    std::vector<Outcome> outcomes;
    for (const Case& c : all) {
        EncodingConverter* object = nullptr;
        EXPECT_EQ(NLS_NewEncodingConverter(c.from, c.to, &object), NLS_SUCCESS);
        if (object == nullptr) continue;
        for (const int32_t strict : {0, 1})
            for (const int32_t policy : kPolicies) {
                NLS_SetConversionOption(object, NLS_OPTION_STRICT_UNICODE, strict);
                NLS_SetConversionPolicy(object, policy);
                for (const Piece& run : runs(c.input))
                    outcomes.push_back(stream(object, c.input, run.cut, run.outputSize));
            }
        NLS_DeleteEncodingConverter(object);
    }
    return outcomes;
}

std::string shippedFile(const char* name) {
    std::ifstream in(std::string(VELTA_SOURCE_DIR) + "/data/conv30/" + name, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

// The shipped registry without the records of the direct converters.
std::string registryWithoutDirectRecords() {
    std::istringstream lines(shippedFile("encreg.txt"));
    std::string kept, line;
    while (std::getline(lines, line))
        if (line.find("UTF-8 UTF-") != 0 && line.find(" UTF-8 @@") == std::string::npos)
            kept += line + "\n";
    return kept;
}

class Utf8FormsDirect : public LibraryTest {};

// Every outcome of `one` equals the one of `other` for the same case,
// reading, policy, cut and output size.
void expectSameOutcomes(const std::vector<Case>& all, const std::vector<Outcome>& one,
                        const std::vector<Outcome>& other) {
    ASSERT_EQ(one.size(), other.size());
    size_t index = 0, failures = 0;
    for (const Case& c : all)
        for (const int32_t strict : {0, 1})
            for (const int32_t policy : kPolicies)
                for (const Piece& run : runs(c.input)) {
                    const size_t i = index++;
                    if (one[i] == other[i] || ++failures > 20) continue;
                    ADD_FAILURE() << c.from << " -> " << c.to << " " << hex(c.input).substr(0, 80)
                                  << " strict " << strict << " policy " << policy << " cut "
                                  << run.cut << " output " << run.outputSize << "\n direct "
                                  << describe(one[i]).substr(0, 300) << "\n chain  "
                                  << describe(other[i]).substr(0, 300);
                }
}

TEST_F(Utf8FormsDirect, GivesTheTextStatusAndReportOfThePivot) {
    TemporaryDirectory direct;
    direct.installShippedData();
    ASSERT_EQ(NLS_EncInitialize(nullptr, direct.path().c_str()), NLS_SUCCESS);
    const std::vector<Outcome> fromDirect = convertAll(cases());
    NLS_EncTerminate();

    TemporaryDirectory pivot;
    pivot.writeDataFile("encreg.txt", registryWithoutDirectRecords());
    pivot.writeDataFile("aliasreg.txt", shippedFile("aliasreg.txt"));
    pivot.writeDataFile("javareg.txt", shippedFile("javareg.txt"));
    ASSERT_EQ(NLS_EncInitialize(nullptr, pivot.path().c_str()), NLS_SUCCESS);
    expectSameOutcomes(cases(), fromDirect, convertAll(cases()));
}

// UTF-8 to and from single-byte encodings of every kind: ASCII kept or not
// (EBCDIC), bytes without a character, a diacritic before its letter
// (ISO 6937), a letter and its combining mark (TCVN5712-1).
std::vector<Case> singleByteCases() {
    std::vector<Case> all;
    Bytes everyByte, longBytes, longText;
    for (int b = 0; b < 256; ++b) everyByte.push_back(static_cast<unsigned char>(b));
    for (int i = 0; i < 700; ++i) {
        for (int b = 0x20; b < 0x100; b += 7) longBytes.push_back(static_cast<unsigned char>(b));
        const Bytes some = hexBytes(i % 5 == 2 ? "47 72 C3 BC C3 9F 65 2C 20 D0 96 E2 82 AC 20"
                                               : "61 62 63 20 E2 80 9C C3 A9 E2 80 9D 20");
        longText.insert(longText.end(), some.begin(), some.end());
    }
    // Thai, which windows-874 takes straight from UTF-8: letters of both
    // halves of U+0E00-U+0E7F, one it lacks (U+0E3B), a euro sign, letters
    // cut or broken, a character across the kernel's blocks of 32 bytes.
    Bytes thai;
    for (int i = 0; i < 400; ++i) {
        const Bytes some = hexBytes(i % 13 == 5  ? "E0 B8 AA E0 B8 BB 20"
                                    : i % 5 == 2 ? "E0 B9 80 E2 82 AC E0 B8 84 0A"
                                                 : "E0 B8 AA E0 B8 A7 20 E0 B8 94 E0 B9 80 E0 B8 "
                                                   "84 E0 B8 A3 E0 B8 B1 E0 B8 9A E0 B9 9B 20");
        thai.insert(thai.end(), some.begin(), some.end());
    }
    all.push_back({"UTF-8", "windows-874", thai});
    for (const char* input :
         {"E0 B8 81 E0 B8 82 20 E0 B9 80 E0 B8 BB 41 E2 82 AC E0 B9 9B E0 B9 9C E0 B8 41 E0 B9",
          "41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54 55 56 57 58 59 5A 61 62 "
          "63 64 E0 B8 81 E0 B9 80 E0 B8 41 E0 B8 82 E0 B8"})
        all.push_back({"UTF-8", "windows-874", hexBytes(input)});
    // Every two-byte character, in runs and between spaces: each encoding
    // whose script's window of four leads goes straight to its bytes (the
    // Latin letters, Cyrillic, Greek, Hebrew, Arabic) writes what the chain
    // writes for each.
    Bytes twoByteCharacters;
    for (uint32_t unit = 0x80; unit < 0x800; ++unit) {
        twoByteCharacters.push_back(static_cast<unsigned char>(0xC0 | unit >> 6));
        twoByteCharacters.push_back(static_cast<unsigned char>(0x80 | (unit & 0x3F)));
        if (unit % 5 == 0) twoByteCharacters.push_back(' ');
    }
    for (const char* encoding :
         {"windows-1252", "windows-1250", "ISO-8859-14", "KOI8-U", "windows-1253", "ISO-8859-8",
          "windows-1256", "macintosh", "ISO-8859-1"})
        all.push_back({"UTF-8", encoding, twoByteCharacters});
    for (const char* encoding :
         {"windows-1252", "IBM037", "ISO_6937", "TCVN5712-1", "windows-874", "ISO-8859-1"}) {
        for (const char* input : kUtf8Inputs) all.push_back({"UTF-8", encoding, hexBytes(input)});
        all.push_back(
            {"UTF-8", encoding, hexBytes("41 C3 A9 C3 BC 20 E2 80 9C D0 96 61 CC 81 5A")});
        all.push_back({"UTF-8", encoding, longText});
        all.push_back({encoding, "UTF-8", everyByte});
        all.push_back({encoding, "UTF-8", hexBytes("61 C2 41 C2 20 C2 61 C2")});
        all.push_back({encoding, "UTF-8", longBytes});
    }
    return all;
}

TEST_F(Utf8FormsDirect, SingleByteInOnePassGivesTheTextStatusAndReportOfTheChain) {
    const std::vector<Case> all = singleByteCases();
    const std::vector<Outcome> inOnePass = convertAll(all);
    EncodingConverter::setChainFusion(false);
    const std::vector<Outcome> throughTheChain = convertAll(all);
    EncodingConverter::setChainFusion(true);
    expectSameOutcomes(all, inOnePass, throughTheChain);
}

// What the older calls give, output size by output size: NLS_ConvertBuffer,
// then NLS_ConvertStreamBuffer, the overflow it leaves, a call with new
// input, and the overflow drained.
std::string olderResults(const char* from, const char* to, const Bytes& input, int32_t policy) {
    std::ostringstream log;
    for (uint32_t size = 0; size <= 2 * input.size() + 4; ++size) {
        GuardedBuffer whole(size);
        uint32_t written = 0;
        log << NLS_ConvertBuffer(from, to, input.data(), static_cast<uint32_t>(input.size()),
                                 whole.data(), size, &written)
            << " " << hex(whole.prefix(written + (written < size ? 1 : 0))) << "\n";
        EXPECT_TRUE(whole.guardIntact());
        EncodingConverter* object = nullptr;
        NLS_NewEncodingConverter(from, to, &object);
        NLS_SetConversionPolicy(object, policy);
        GuardedBuffer first(size);
        const NLS_Status status =
            NLS_ConvertStreamBuffer(object, input.data(), static_cast<uint32_t>(input.size()),
                                    first.data(), size, &written);
        EXPECT_TRUE(first.guardIntact());
        uint32_t overflow = 0, rest = 0;
        NLS_GetConversionOverflowSize(object, &overflow);
        NLS_GetConversionRemSize(object, &rest);
        log << status << " " << hex(first.prefix(written)) << " overflow " << overflow << " rest "
            << rest << " |";
        // New input while text may wait: a chain delivers that text first.
        const unsigned char next[] = {0x5A, 0x5A};
        unsigned char more[64];
        log << " "
            << NLS_ConvertStreamBuffer(object, next, sizeof next, more, sizeof more, &written)
            << " " << hex(Bytes(more, more + written)) << " |";
        for (int calls = 0; calls < 64; ++calls) {
            const NLS_Status drained =
                NLS_ConverterGetOverflow(object, more, sizeof more, &written);
            log << " " << drained << " " << hex(Bytes(more, more + written));
            if (drained != NLS_RESULT_TRUNCATED) break;
        }
        NLS_ConversionReport report{};
        NLS_GetConversionReport(object, &report);
        log << " report " << report.substituted << "/" << report.firstKind << "@"
            << report.firstOffset << "\n";
        NLS_DeleteEncodingConverter(object);
    }
    return log.str();
}

// The older calls keep the results of the chain that a one-pass converter
// stands for (its input read whole, the text that does not fit waiting in
// it): ISO-8859-1 and UTF-8 are two of the library's own fourteen
// converters, the others single-byte encodings of every kind.
TEST_F(Utf8FormsDirect, OnePassConvertersKeepTheOlderResultsOfTheirChain) {
    Bytes longText;
    for (int i = 0; i < 12; ++i) {
        const Bytes some = hexBytes(i % 4 == 3 ? "C3 A9 E4 B8 80 20" : "61 62 C3 A9 63 C3 BC 20");
        longText.insert(longText.end(), some.begin(), some.end());
    }
    std::vector<Case> cases;
    for (const char* encoding :
         {"ISO-8859-1", "windows-1252", "KOI8-R", "ISO-8859-2", "IBM037", "macintosh"}) {
        for (const char* input :
             {"41 42 C3 A9 43 C3 BC", "61 E4 B8 80 62 C3", "61 FF 62 C2 80",
              "C3 A9 F0 9F 98 80 41 ED A0 80 42", "E2 80 99 41 EF BF BD C3 A8 42 E2 80 94"})
            cases.push_back({"UTF-8", encoding, hexBytes(input)});
        cases.push_back({"UTF-8", encoding, longText});
        for (const char* input : {"41 E9 42 FF 00 43", "80 81 9F A0 41 42 43 44 45 46 47 E9"})
            cases.push_back({encoding, "UTF-8", hexBytes(input)});
    }
    for (const int32_t policy : kPolicies)
        for (const Case& c : cases) {
            const std::string fused = olderResults(c.from, c.to, c.input, policy);
            EncodingConverter::setChainFusion(false);
            const std::string chain = olderResults(c.from, c.to, c.input, policy);
            EncodingConverter::setChainFusion(true);
            EXPECT_EQ(fused, chain)
                << c.from << " -> " << c.to << " " << hex(c.input) << " policy " << policy;
        }
}

// The vector kernels fill an output to its end just before input the
// strict reading finds malformed and the policy leaves out, up to the end
// of the text: the output holds all the text makes, and the call says so
// (a step that took the full room for the end of a piece without looking at
// what follows would answer "output full").
TEST_F(Utf8FormsDirect, AnOutputFilledBeforeMalformedInputThatIsLeftOutEndsTheText) {
    for (const char* malformed :
         {"ED A0 80", "C0 80", "E0 80 80", "80", "F8 88 80 80 80", "C3", "E2 82", "E2 FF 80"})
        for (const auto& [to, width] : {std::pair<const char*, uint32_t>{"UTF-16LE", 2},
                                        {"UTF-16BE", 2},
                                        {"UTF-32LE", 4},
                                        {"UTF-32BE", 4}}) {
            Bytes input(1024 / width, 'a');
            const Bytes after = hexBytes(malformed);
            while (input.size() < 1024 / width + 48)
                input.insert(input.end(), after.begin(), after.end());
            EncodingConverter* object = nullptr;
            ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", to, &object), NLS_SUCCESS);
            NLS_SetConversionOption(object, NLS_OPTION_STRICT_UNICODE, 1);
            NLS_SetConversionPolicy(object, NLS_POLICY_SKIP);
            Bytes output(1024);
            uint32_t read = 0, written = 0;
            EXPECT_EQ(NLS_ConvertStream(object, input.data(), static_cast<uint32_t>(input.size()),
                                        output.data(), 1024, 1, &read, &written),
                      NLS_SUCCESS)
                << to << " " << malformed;
            EXPECT_EQ(read, input.size()) << to << " " << malformed;
            EXPECT_EQ(written, 1024u) << to << " " << malformed;
            NLS_DeleteEncodingConverter(object);
        }
}

}  // namespace
