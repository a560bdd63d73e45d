// Streaming properties over every built-in converter and every chain: for
// every first output size, the overflow-and-drain protocol yields exactly the
// one-shot output; input fed in pieces cut after line feeds does too; and no
// call writes past its output.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using namespace velta_test;

const char* const kEncodings[] = {
    "ISO_8859-1:1987", "x-mac-roman",       "ISO-10646-UCS-4",     "ESCAPED_UNICODE",
    "UTF-8",           "UNICODE-1-1-UTF-7", "IMAP-MODIFIED-UTF-7", "ISO-10646-UCS-2",
};

const std::u16string kSample =
    u"Plain ASCII line, with +plus+ &amp; -dash- and ~tilde~ \\back\\slash.\n"
    u"Latin: caf\u00E9 na\u00EFve \u00C5ngstr\u00F6m \u00A3 \u00A4 \u00FF\n"
    u"Mac Roman: \u2020 \u2122 \u03C0 \u2248 \uFB01 \uF8FF\n"
    u"CJK: \u65E5\u672C\u8A9E\u306E\u6587\u5B57\u3067\u3059\u3002\n"
    u"Emoji: \U0001F600\U0001F680 and \U00010000 and \U0010FFFD\n"
    u"Controls: \t\x01\x7F\x08 and a final line without a break";

struct Pair {
    const char* from;
    const char* to;
};

std::vector<Pair> allPairs() {
    std::vector<Pair> pairs;
    for (const char* from : kEncodings)
        for (const char* to : kEncodings)
            if (std::string(from) != "ISO-10646-UCS-2" || std::string(to) != "ISO-10646-UCS-2")
                pairs.push_back({from, to});
    return pairs;
}

std::string name(const Pair& pair) {
    return std::string(pair.from) + " -> " + pair.to;
}

// The sample as it is written in an encoding (characters it cannot hold are
// replaced by that encoding's own rules).
Bytes sampleIn(const char* encoding) {
    if (std::string(encoding) == "ISO-10646-UCS-2") return ucs2(kSample);
    const Conversion written = convertOneShot("ISO-10646-UCS-2", encoding, ucs2(kSample));
    EXPECT_EQ(written.status, NLS_SUCCESS) << encoding;
    return written.output;
}

// Offsets where no converter's state is split: just after each line feed,
// in units of the encoding (a base64 run never holds one, since it is
// written directly; modified UTF-7 has none outside its runs).
std::vector<uint32_t> lineEnds(const char* encoding, const Bytes& input) {
    const std::string name(encoding);
    const uint32_t unit = name == "ISO-10646-UCS-4" ? 4 : name == "ISO-10646-UCS-2" ? 2 : 1;
    std::vector<uint32_t> cuts;
    for (uint32_t i = 0; i + unit <= input.size(); i += unit) {
        bool lineFeed = input[i] == '\n';
        for (uint32_t k = 1; k < unit; ++k) lineFeed = lineFeed && input[i + k] == 0;
        if (lineFeed) cuts.push_back(i + unit);
    }
    return cuts;
}

class Streaming : public LibraryTest {};

TEST_F(Streaming, EveryFirstOutputSizeThenDrainingEqualsOneShot) {
    for (const Pair& pair : allPairs()) {
        const Bytes input = sampleIn(pair.from);
        const Conversion whole = convertOneShot(pair.from, pair.to, input);
        ASSERT_EQ(whole.status, NLS_SUCCESS) << name(pair);
        for (uint32_t first = 0; first <= 64; ++first) {
            const Conversion drained = convertDrained(pair.from, pair.to, input, first);
            ASSERT_EQ(drained.output, whole.output) << name(pair) << ", first output " << first;
            ASSERT_EQ(drained.status, NLS_SUCCESS) << name(pair) << ", first output " << first;
        }
    }
}

TEST_F(Streaming, InputInPiecesCutAfterLineFeedsEqualsOneShot) {
    std::mt19937 random(42);
    for (const Pair& pair : allPairs()) {
        const Bytes input = sampleIn(pair.from);
        const Conversion whole = convertOneShot(pair.from, pair.to, input);
        const std::vector<uint32_t> ends = lineEnds(pair.from, input);
        if (std::string(pair.from) != "IMAP-MODIFIED-UTF-7") {
            ASSERT_GE(ends.size(), 5u) << pair.from;
        }
        for (uint32_t outputSize : {8u, 16u, 64u, 4096u}) {
            const Conversion pieces = convertInPieces(pair.from, pair.to, input, ends, outputSize);
            EXPECT_EQ(pieces.output, whole.output) << name(pair) << ", output " << outputSize;
            std::vector<uint32_t> some;
            for (uint32_t end : ends)
                if (random() % 2) some.push_back(end);
            EXPECT_EQ(convertInPieces(pair.from, pair.to, input, some, outputSize).output,
                      whole.output)
                << name(pair);
        }
    }
}

TEST_F(Streaming, ByteOrientedSourcesCutAnywhereLoseNothing) {
    // Sources whose converters keep no state between calls may be cut at any
    // byte: input cut inside a character is carried to the next piece.
    for (const char* from : {"UTF-8", "ISO_8859-1:1987", "x-mac-roman", "ESCAPED_UNICODE"}) {
        const Bytes input = sampleIn(from);
        const Conversion whole = convertOneShot(from, "ISO-10646-UCS-2", input);
        for (uint32_t cut = 0; cut <= input.size(); ++cut) {
            const Conversion pieces = convertInPieces(from, "ISO-10646-UCS-2", input, {cut}, 64);
            ASSERT_EQ(pieces.output, whole.output) << from << ", cut at " << cut;
        }
    }
}

// NLS_ConvertStreamBuffer converts each buffer by itself: a character cut by
// the end of one is reported, not joined to the next (NLS_ConvertStream joins).
TEST_F(Streaming, OlderStreamCallDoesNotJoinACutCharacterToTheNextBuffer) {
    EncodingConverter* object = nullptr;
    ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", "UTF-16BE", &object), NLS_SUCCESS);
    const Bytes first = hexBytes("41 C3"), second = hexBytes("A9 42");
    unsigned char out[16];
    uint32_t written = 0;
    EXPECT_EQ(NLS_ConvertStreamBuffer(object, first.data(), 2, out, sizeof out, &written),
              NLS_SEQUENCE_INCOMPLETE);
    EXPECT_EQ(Bytes(out, out + written), hexBytes("00 41"));
    EXPECT_EQ(NLS_ConvertStreamBuffer(object, second.data(), 2, out, sizeof out, &written),
              NLS_SUCCESS);
    EXPECT_EQ(Bytes(out, out + written), hexBytes("FF FD 00 42"));
    NLS_DeleteEncodingConverter(object);
}

// A stream fills its output to the last byte (it writes no terminator); the
// older calls on the same object keep their published room for one.
TEST_F(Streaming, AStreamLeavesTheOlderCallsTheirRoomForTheTerminator) {
    const Pair pairs[] = {
        {"ISO-8859-1", "ISO-10646-UCS-2"},      {"ISO-10646-UCS-2", "ISO-8859-1"},
        {"x-mac-roman", "ISO-10646-UCS-2"},     {"ISO-10646-UCS-2", "x-mac-roman"},
        {"ISO-10646-UCS-4", "ISO-10646-UCS-2"}, {"ISO-10646-UCS-2", "ISO-10646-UCS-4"},
        {"ESCAPED_UNICODE", "ISO-10646-UCS-2"}};
    for (const Pair& pair : pairs) {
        const Bytes text = sampleIn(pair.from);
        const Bytes input(text.begin(), text.begin() + 8);
        const uint32_t size =
            static_cast<uint32_t>(convertOneShot(pair.from, pair.to, input).output.size());
        EncodingConverter* objects[2] = {nullptr, nullptr};
        for (EncodingConverter*& object : objects)
            ASSERT_EQ(NLS_NewEncodingConverter(pair.from, pair.to, &object), NLS_SUCCESS);
        unsigned char out[2][16];
        uint32_t read = 0, written = 0;
        EXPECT_EQ(NLS_ConvertStream(objects[0], text.data(), static_cast<uint32_t>(text.size()),
                                    out[0], size, 1, &read, &written),
                  NLS_RESULT_TRUNCATED);
        EXPECT_EQ(written, size) << name(pair);
        uint32_t lengths[2], remainders[2];
        NLS_Status statuses[2];
        for (int i = 0; i < 2; ++i) {
            statuses[i] =
                NLS_ConvertStreamBuffer(objects[i], input.data(), 8, out[i], size, &lengths[i]);
            NLS_GetConversionRemSize(objects[i], &remainders[i]);
        }
        EXPECT_LT(lengths[1], size) << name(pair);
        EXPECT_EQ(lengths[0], lengths[1]) << name(pair);
        EXPECT_EQ(statuses[0], statuses[1]) << name(pair);
        EXPECT_EQ(remainders[0], remainders[1]) << name(pair);
        for (EncodingConverter* object : objects) NLS_DeleteEncodingConverter(object);
    }
}

}  // namespace
