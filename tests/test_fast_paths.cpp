// The fast paths against their scalar twins and a plain reference model, on
// ASCII runs of every length from 0 to 64 around other bytes.
#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <vector>

#include "codecs/ascii_runs.h"
#include "velta/factories.h"

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes mixedText(std::mt19937& random, uint32_t asciiRun) {
    Bytes text;
    for (int piece = 0; piece < 4; ++piece) {
        for (uint32_t i = 0; i < asciiRun; ++i)
            text.push_back(static_cast<unsigned char>(0x20 + random() % 0x5F));
        const unsigned char others[][4] = {
            {0xC3, 0xA9}, {0xE6, 0x97, 0xA5}, {0xF0, 0x9F, 0x98, 0x80}, {0xFF}};
        const unsigned lengths[] = {2, 3, 4, 1};
        const unsigned kind = random() % 4;
        text.insert(text.end(), others[kind], others[kind] + lengths[kind]);
    }
    return text;
}

TEST(FastPaths, AsciiRunsMatchTheirScalarTwins) {
    std::mt19937 random(64);
    for (uint32_t run = 0; run <= 64; ++run) {
        const Bytes text = mixedText(random, run);
        for (uint32_t room : {0u, 7u, 31u, 32u, 33u, 64u, 1000u}) {
            std::vector<unsigned char> scalar(room + 64, 0), vector(room + 64, 0);
            const uint32_t a = velta::widenAsciiRunScalar(
                text.data(), static_cast<uint32_t>(text.size()), scalar.data(), room);
            const uint32_t b = velta::widenAsciiRun(text.data(), static_cast<uint32_t>(text.size()),
                                                    vector.data(), room);
            // Both stop at the first non-ASCII byte or for room; the vector
            // form takes whole blocks of 16 first, so it may take more.
            EXPECT_LE(2 * a, room);
            EXPECT_LE(2 * b, room);
            EXPECT_LE(b, run);
            EXPECT_EQ(memcmp(scalar.data(), vector.data(), 2 * (a < b ? a : b)), 0);
            for (uint32_t i = 0; i < b; ++i) EXPECT_EQ(vector[2 * i], text[i]);
            if (run >= 16 && room >= 2 * run + 32) {
                EXPECT_EQ(b, run);
            }
        }
        std::vector<unsigned char> units(text.size() * 2);
        for (size_t i = 0; i < text.size(); ++i) {
            const uint16_t unit = text[i] < 0x80 ? text[i] : static_cast<uint16_t>(0x100 + text[i]);
            memcpy(&units[2 * i], &unit, 2);
        }
        for (uint32_t room : {0u, 5u, 16u, 17u, 1000u}) {
            std::vector<unsigned char> scalar(room + 16, 0), vector(room + 16, 0);
            const uint32_t count = static_cast<uint32_t>(text.size());
            const uint32_t a =
                velta::narrowAsciiRunScalar(units.data(), count, scalar.data(), room);
            const uint32_t b = velta::narrowAsciiRun(units.data(), count, vector.data(), room);
            EXPECT_LE(a, room);
            EXPECT_LE(b, room);
            EXPECT_LE(b, run);
            for (uint32_t i = 0; i < b; ++i) EXPECT_EQ(vector[i], text[i]);
            for (uint32_t i = 0; i < a; ++i) EXPECT_EQ(scalar[i], text[i]);
        }
    }
}

// A plain UTF-8 decoder written for this test: the UTF-8 rules, one
// byte at a time.
std::u16string referenceDecode(const Bytes& s) {
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
        static const uint32_t kLeast[6] = {0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
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

TEST(FastPaths, Utf8DecodingMatchesTheReferenceAroundEveryRunLength) {
    std::mt19937 random(8);
    TEncodingConverter* decoder = NEWUTF8TOUNICODEENCODINGCONVERTER();
    TEncodingConverter* encoder = NEWUNICODETOUTF8ENCODINGCONVERTER();
    for (uint32_t run = 0; run <= 64; ++run) {
        for (int round = 0; round < 8; ++round) {
            const Bytes text = mixedText(random, run);
            std::vector<unsigned char> output(text.size() * 2 + 2);
            uint32_t written = 0, consumed = 0;
            decoder->Convert(output.data(), &written, static_cast<uint32_t>(output.size()),
                             text.data(), static_cast<uint32_t>(text.size()), &consumed);
            std::u16string units(written / 2, u'\0');
            if (written) memcpy(&units[0], output.data(), written);
            EXPECT_EQ(units, referenceDecode(text)) << "run " << run;
            std::vector<unsigned char> back(units.size() * 3 + 1);
            uint32_t backWritten = 0;
            encoder->Convert(back.data(), &backWritten, static_cast<uint32_t>(back.size()),
                             output.data(), written, &consumed);
            std::vector<unsigned char> reread(backWritten * 2 + 2);
            uint32_t rereadWritten = 0;
            decoder->Convert(reread.data(), &rereadWritten, static_cast<uint32_t>(reread.size()),
                             back.data(), backWritten, &consumed);
            EXPECT_EQ(rereadWritten, written);
            EXPECT_EQ(memcmp(reread.data(), output.data(), written), 0) << "run " << run;
        }
    }
    decoder->ReleaseEncodingConverter();
    encoder->ReleaseEncodingConverter();
}

}  // namespace
