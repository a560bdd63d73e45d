// convertExact: the input position after a full output, a stop or a cut
// character is exact, for direct and chained pairs and a stateful encoding,
// at every output size from 1 to 16 bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/exact_convert.h"
#include "velta/nls.h"

namespace {

typedef std::string Bytes;

EncodingConverter* newObject(const char* from, const char* to,
                             int32_t policy = NLS_POLICY_REPLACE) {
    EncodingConverter* object = nullptr;
    EXPECT_EQ(NLS_NewEncodingConverter(from, to, &object), NLS_SUCCESS) << from << " to " << to;
    if (object != nullptr) NLS_SetConversionPolicy(object, policy);
    return object;
}

// The output of a prefix of the text, nothing closed at its end.
Bytes streamed(const char* from, const char* to, const Bytes& input, bool last) {
    EncodingConverter* object = newObject(from, to);
    std::vector<unsigned char> out(input.size() * 8 + 64);
    uint32_t read = 0, written = 0;
    const NLS_Status status =
        NLS_ConvertStream(object, reinterpret_cast<const unsigned char*>(input.data()),
                          static_cast<uint32_t>(input.size()), out.data(),
                          static_cast<uint32_t>(out.size()), last ? 1 : 0, &read, &written);
    EXPECT_EQ(status, NLS_SUCCESS);
    NLS_DeleteEncodingConverter(object);
    return Bytes(out.begin(), out.begin() + written);
}

Bytes fromUtf8(const char* to, const Bytes& text) {
    return streamed("UTF-8", to, text, true);
}

struct ExactCase {
    const char* from;
    const char* to;
    Bytes input;
};

std::vector<ExactCase> exactCases() {
    const Bytes mixed =
        "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xE6\x97\xA5"
        "z";  // a é € 😀 日 z
    const Bytes japanese =
        "a\xE3\x81\x82\xE6\x97\xA5"
        "b\xE6\x9C\xAC\nxyz";  // a あ 日 b 本
    const Bytes western =
        "caf\xC3\xA9 \xE2\x80\x9Cx\xE2\x80\x9D \xE2\x82\xAC"
        "5";
    return {
        {"UTF-8", NLS_UCS2_NAME, mixed},                              // direct
        {NLS_UCS2_NAME, "UTF-8", fromUtf8(NLS_UCS2_NAME, mixed)},     // direct
        {"UTF-8", "windows-1252", western},                           // chained
        {"UTF-8", "UTF-16LE", mixed},                                 // chained
        {"UTF-8", "ISO-2022-JP", japanese},                           // stateful target
        {"ISO-2022-JP", "UTF-8", fromUtf8("ISO-2022-JP", japanese)},  // stateful source
        {"UTF-8", "UTF-7", mixed},                                    // a base64 run
    };
}

class ExactConvert : public ::testing::TestWithParam<size_t> {};

// Each call either ends the text or fills the output exactly to the end of a
// character: the output so far is the prefix's (the shift sequence of the next
// character may go out before it), and the next character's output would not
// have fitted. No character is written in part.
TEST_P(ExactConvert, FullOutputEndsAfterTheLastCharacterWrittenWhole) {
    const size_t size = GetParam();
    for (ExactCase c : exactCases()) {
        SCOPED_TRACE(std::string(c.from) + " to " + c.to + ", output " + std::to_string(size));
        // Outputs larger than a character or two get text that fills them.
        const Bytes once = c.input;
        while (size > 16 && c.input.size() < 4 * size) c.input += once;
        const Bytes whole = streamed(c.from, c.to, c.input, true);
        EncodingConverter* object = newObject(c.from, c.to);
        Bytes output;
        size_t position = 0;
        for (int calls = 0; calls < 1000; ++calls) {
            std::vector<unsigned char> buffer(size + 8, 0xEE);
            const velta::ExactResult result = velta::convertExact(
                object, reinterpret_cast<const unsigned char*>(c.input.data()) + position,
                c.input.size() - position, buffer.data(), size, true);
            ASSERT_LE(result.written, size);
            ASSERT_EQ(buffer[size], 0xEE);
            output.append(buffer.begin(), buffer.begin() + result.written);
            position += result.read;
            if (result.status == NLS_SUCCESS) break;
            ASSERT_EQ(result.status, NLS_RESULT_TRUNCATED);
            // The output of the text read, and perhaps the shift sequence
            // (ESC ...) that opens the next character.
            const Bytes prefix = streamed(c.from, c.to, c.input.substr(0, position), false);
            ASSERT_EQ(output.substr(0, prefix.size()), prefix);
            const Bytes shift = output.substr(prefix.size());
            if (!shift.empty()) {
                ASSERT_EQ(shift[0], '\x1B');
                ASSERT_LE(shift.size(), 4u);
            }
            size_t next = position + 1;
            while (next <= c.input.size() &&
                   streamed(c.from, c.to, c.input.substr(0, next), false).size() <= output.size())
                ++next;
            if (next <= c.input.size()) {
                const size_t nextOutput =
                    streamed(c.from, c.to, c.input.substr(0, next), false).size();
                ASSERT_GT(nextOutput - output.size(), size - result.written);
            }
            if (result.read == 0 && result.written == 0)
                break;  // a character larger than the output
        }
        if (position == c.input.size()) {
            EXPECT_EQ(output, whole);
        }
        NLS_DeleteEncodingConverter(object);
    }
}

struct StopCase {
    const char* from;
    const char* to;
    Bytes input;
    NLS_Status status;
    size_t at;  // the offset of the character it stops at
};

// Under the stop policy the input position is the bad character's, and the
// output is everything before it, whatever the output size.
TEST_P(ExactConvert, StopEndsAtTheBadCharacter) {
    const size_t size = GetParam();
    const StopCase cases[] = {
        {"UTF-8", NLS_UCS2_NAME,
         "ab\xE3\x41"
         "z",
         NLS_INVALID_INPUT, 2},
        {"UTF-8", "windows-1252",
         "ab\xE6\x97\xA5"
         "z",
         NLS_UNMAPPABLE, 2},
        {"UTF-8", "windows-1252",
         "ab\xFF"
         "z",
         NLS_INVALID_INPUT, 2},
        {"UTF-8", "ISO-2022-JP",
         "\xE3\x81\x82\xC3\xA9"
         "z",
         NLS_UNMAPPABLE, 3},
        {"UTF-8", "windows-1252", "ab\xE3\x81", NLS_SEQUENCE_INCOMPLETE, 2},
        {"UTF-8", NLS_UCS2_NAME, "ab\xE3\x81", NLS_SEQUENCE_INCOMPLETE, 2},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " to " + c.to + ", output " + std::to_string(size));
        EncodingConverter* object = newObject(c.from, c.to, NLS_POLICY_STOP);
        size_t position = 0;
        velta::ExactResult result = {NLS_RESULT_TRUNCATED, 0, 0};
        for (int calls = 0; calls < 100 && result.status == NLS_RESULT_TRUNCATED; ++calls) {
            std::vector<unsigned char> buffer(size);
            result = velta::convertExact(
                object, reinterpret_cast<const unsigned char*>(c.input.data()) + position,
                c.input.size() - position, buffer.data(), size, true);
            position += result.read;
            if (result.status == NLS_RESULT_TRUNCATED && result.read == 0 && result.written == 0)
                break;
        }
        if (result.status == NLS_RESULT_TRUNCATED) {
            EXPECT_LT(size, 5u) << "no progress although a character fits";
            NLS_DeleteEncodingConverter(object);
            continue;
        }
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(position, c.at);
        NLS_DeleteEncodingConverter(object);
    }
}

INSTANTIATE_TEST_SUITE_P(OutputSizes, ExactConvert, ::testing::Range<size_t>(1, 17));
// Outputs that the object first fills in one large step.
INSTANTIATE_TEST_SUITE_P(LargerOutputSizes, ExactConvert, ::testing::Values(81, 97, 150, 257));

// A piece that ends in a cut character says so and leaves its bytes unread;
// the next piece brings them again with the rest.
TEST(ExactConvertPieces, CutCharacterIsLeftUnreadAndTakenAgain) {
    for (const char* to : {NLS_UCS2_NAME, "UTF-16LE"}) {
        SCOPED_TRACE(to);
        EncodingConverter* object = newObject("UTF-8", to, NLS_POLICY_STOP);
        const Bytes text =
            "ab\xE3\x81\x82"
            "c";
        unsigned char out[64];
        velta::ExactResult first = velta::convertExact(
            object, reinterpret_cast<const unsigned char*>(text.data()), 4, out, sizeof out, false);
        EXPECT_EQ(first.status, NLS_SEQUENCE_INCOMPLETE) << to;
        EXPECT_EQ(first.read, 2u) << to;
        velta::ExactResult second = velta::convertExact(
            object, reinterpret_cast<const unsigned char*>(text.data()) + first.read,
            text.size() - first.read, out + first.written, sizeof out - first.written, true);
        EXPECT_EQ(second.status, NLS_SUCCESS) << to;
        EXPECT_EQ(second.read, text.size() - first.read) << to;
        EXPECT_EQ(Bytes(out, out + first.written + second.written), fromUtf8(to, text)) << to;
        NLS_DeleteEncodingConverter(object);
    }
}

// Lengths past what one 32-bit call takes are cut into slices: the same
// conversion, whatever the slice.
TEST(ExactConvertPieces, SlicedCallsGiveTheSameConversion) {
    const Bytes text = "x\xE3\x81\x82y\xE6\x97\xA5\xC3\xA9 and more text \xF0\x9F\x98\x80";
    for (const char* to : {"ISO-2022-JP", "UTF-16LE", NLS_UCS2_NAME}) {
        const Bytes whole = fromUtf8(to, text);
        for (size_t slice : {1, 2, 3, 7}) {
            EncodingConverter* object = newObject("UTF-8", to);
            std::vector<unsigned char> out(whole.size() + 32);
            const velta::ExactResult result = velta::convertExactInSlices(
                object, reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                out.data(), out.size(), true, slice);
            EXPECT_EQ(result.status, NLS_SUCCESS) << to << " slice " << slice;
            EXPECT_EQ(result.read, text.size());
            EXPECT_EQ(Bytes(out.begin(), out.begin() + result.written), whole)
                << to << " slice " << slice;
            NLS_DeleteEncodingConverter(object);
        }
    }
}

}  // namespace
