// Malformed input and characters a target lacks, under each policy, for
// every kind of converter: the output, the status, the report (how many,
// which kind, the input offset of the first), whole and cut at every byte,
// direct and through chains.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using namespace velta_test;

struct Outcome {
    NLS_Status status = NLS_SUCCESS;
    Bytes output;
    uint32_t read = 0;
    NLS_ConversionReport report = {0, NLS_NO_SUBSTITUTION, 0};
};

// One text through NLS_ConvertStream in pieces ending at `cuts`, stopping at
// the first error.
Outcome stream(const char* from, const char* to, int32_t policy, const Bytes& input,
               std::vector<size_t> cuts) {
    Outcome outcome;
    EncodingConverter* object = nullptr;
    EXPECT_EQ(NLS_NewEncodingConverter(from, to, &object), NLS_SUCCESS) << from << " " << to;
    if (object == nullptr) return outcome;
    EXPECT_EQ(NLS_SetConversionPolicy(object, policy), NLS_SUCCESS);
    cuts.push_back(input.size());
    size_t start = 0;
    for (size_t k = 0; k < cuts.size() && outcome.status >= 0; ++k) {
        size_t position = start;
        do {
            unsigned char buffer[7];
            uint32_t read = 0, written = 0;
            outcome.status = NLS_ConvertStream(
                object, input.data() + position, static_cast<uint32_t>(cuts[k] - position), buffer,
                sizeof buffer, k + 1 == cuts.size(), &read, &written);
            outcome.output.insert(outcome.output.end(), buffer, buffer + written);
            position += read;
        } while (outcome.status == NLS_RESULT_TRUNCATED);
        outcome.read = static_cast<uint32_t>(position);
        start = cuts[k];
    }
    NLS_GetConversionReport(object, &outcome.report);
    NLS_DeleteEncodingConverter(object);
    return outcome;
}

// One text in one NLS_ConvertStreamBuffer call.
Outcome whole(const char* from, const char* to, int32_t policy, const Bytes& input) {
    Outcome outcome;
    EncodingConverter* object = nullptr;
    EXPECT_EQ(NLS_NewEncodingConverter(from, to, &object), NLS_SUCCESS) << from << " " << to;
    if (object == nullptr) return outcome;
    EXPECT_EQ(NLS_SetConversionPolicy(object, policy), NLS_SUCCESS);
    Bytes buffer(4 * input.size() + 16);
    uint32_t written = 0;
    outcome.status =
        NLS_ConvertStreamBuffer(object, input.data(), static_cast<uint32_t>(input.size()),
                                buffer.data(), static_cast<uint32_t>(buffer.size()), &written);
    outcome.output.assign(buffer.begin(), buffer.begin() + written);
    NLS_DeleteEncodingConverter(object);
    return outcome;
}

class Substitutions : public LibraryTest {};

TEST_F(Substitutions, EveryConverterUnderEveryPolicy) {
    const struct {
        const char* from;
        const char* to;
        const char* input;
        uint32_t offset;  // of the one substitution
        int32_t kind;
        const char* replaced;
        const char* skipped;
    } cases[] = {
        {"UTF-8", NLS_UCS2_NAME, "41 C0 AF 42", 1, NLS_MALFORMED_INPUT, "41 00 FD FF 42 00",
         "41 00 42 00"},
        {"UTF-8", "latin1", "41 E2 82 AC 42", 1, NLS_UNMAPPABLE_CHARACTER, "41 3F 42", "41 42"},
        {"UTF-8", "US-ASCII", "41 42 C3 A9 43", 2, NLS_UNMAPPABLE_CHARACTER, "41 42 3F 43",
         "41 42 43"},
        {"US-ASCII", "UTF-8", "41 E9 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 42", "41 42"},
        {"ISO-10646-UCS-4", NLS_UCS2_NAME, "41 00 00 00 00 00 11 00", 4, NLS_MALFORMED_INPUT,
         "41 00 FD FF", "41 00"},
        {"UTF-16BE", "UTF-8", "00 41 DC 00 00 42", 2, NLS_MALFORMED_INPUT, "41 EF BF BD 42",
         "41 42"},
        {"UTF-32LE", "UTF-8", "41 00 00 00 00 D8 00 00", 4, NLS_MALFORMED_INPUT, "41 EF BF BD",
         "41"},
        {"ISO-8859-8", "UTF-8", "41 A1 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 42", "41 42"},
        {"UTF-8", "windows-1252", "41 C4 80 42", 1, NLS_UNMAPPABLE_CHARACTER, "41 3F 42", "41 42"},
        {"UTF-8", "x-mac-roman", "41 F0 9F 98 80 42", 1, NLS_UNMAPPABLE_CHARACTER, "41 3F 42",
         "41 42"},
        {"UTF-16LE", "UTF-8", "41 00 00 DC", 2, NLS_MALFORMED_INPUT, "41 EF BF BD", "41"},
        {"UTF-8", "Shift_JIS", "41 C3 A9 42", 1, NLS_UNMAPPABLE_CHARACTER, "41 3F 42", "41 42"},
        {"EUC-JP", "UTF-8", "41 A4 22 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 22 42", "41 22 42"},
        {"UTF-8", "ISO-2022-JP", "41 C3 A9 42", 1, NLS_UNMAPPABLE_CHARACTER, "41 3F 42", "41 42"},
        {"ISO-2022-JP", "UTF-8", "41 E9 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 42", "41 42"},
        // Iso2022JpHighByteIsMalformedNotUnmappable, in JIS X 0208 mode too.
        {"ISO-2022-JP", "UTF-8", "1B 24 42 30 21 8E 30 21 1B 28 42", 5, NLS_MALFORMED_INPUT,
         "E4 BA 9C EF BF BD E4 BA 9C", "E4 BA 9C E4 BA 9C"},
        // ESC, SO and SI written raw would be read as escapes and shifts.
        {"UTF-8", "ISO-2022-JP", "61 1B 62", 1, NLS_UNMAPPABLE_CHARACTER, "61 3F 62", "61 62"},
        {"UTF-8", "ISO-2022-JP", "61 0E 62", 1, NLS_UNMAPPABLE_CHARACTER, "61 3F 62", "61 62"},
        // An ESC that starts no escape, even where the text ends.
        {"ISO-2022-JP", "UTF-8", "78 1B 41", 1, NLS_MALFORMED_INPUT, "78 EF BF BD 41", "78 41"},
        // A Big5 lead and a non-ASCII byte that is no trail: the "A" stays.
        {"Big5", "UTF-8", "78 81 87 41 79", 1, NLS_MALFORMED_INPUT, "78 EF BF BD 41 79",
         "78 41 79"},
        {"GB18030", "UTF-8", "41 81 20 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 20 42",
         "41 20 42"},
        {"UTF-8", "GBK", "41 F0 9F 98 80 42", 1, NLS_UNMAPPABLE_CHARACTER, "41 3F 42", "41 42"},
        {"UTF-8", "Big5", "41 C3 A9 42", 1, NLS_UNMAPPABLE_CHARACTER, "41 3F 42", "41 42"},
        {"EUC-KR", "UTF-8", "41 C9 41 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 41 42", "41 41 42"},
        {"windows-31j", "UTF-8", "41 A0 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 42", "41 42"},
        {"UTF-16", "windows-1252", "FE FF 00 41 01 00 00 42", 4, NLS_UNMAPPABLE_CHARACTER,
         "41 3F 42", "41 42"},
        // An escape that a non-digit ends early ("\\u41") right before the character.
        {"ESCAPED_UNICODE", "x-mac-roman", "61 5C 75 34 31 9B 62", 5, NLS_UNMAPPABLE_CHARACTER,
         "61 41 3F 62", "61 41 62"},
    };
    for (const auto& c : cases) {
        const std::string where = std::string(c.from) + " -> " + c.to + ": " + c.input;
        const Bytes input = hexBytes(c.input);
        const Outcome replaced = stream(c.from, c.to, NLS_POLICY_REPLACE, input, {});
        EXPECT_EQ(hex(replaced.output), c.replaced) << where;
        EXPECT_EQ(replaced.status, NLS_SUCCESS) << where;
        const Outcome inOneCall = whole(c.from, c.to, NLS_POLICY_REPLACE, input);
        EXPECT_EQ(hex(inOneCall.output), c.replaced) << where;
        EXPECT_EQ(inOneCall.status, NLS_SUCCESS) << where;
        EXPECT_EQ(replaced.report.substituted, 1u) << where;
        EXPECT_EQ(replaced.report.firstKind, c.kind) << where;
        EXPECT_EQ(replaced.report.firstOffset, c.offset) << where;
        const Outcome skipped = stream(c.from, c.to, NLS_POLICY_SKIP, input, {});
        EXPECT_EQ(hex(skipped.output), c.skipped) << where;
        EXPECT_EQ(skipped.status, NLS_SUCCESS) << where;
        const Outcome stopped = stream(c.from, c.to, NLS_POLICY_STOP, input, {});
        EXPECT_EQ(stopped.status,
                  c.kind == NLS_MALFORMED_INPUT ? NLS_INVALID_INPUT : NLS_UNMAPPABLE)
            << where;
        EXPECT_EQ(stopped.read, c.offset) << where;
        EXPECT_EQ(stopped.report.firstOffset, c.offset) << where;
        EXPECT_EQ(stopped.report.substituted, 0u) << where;
        for (size_t cut = 0; cut <= input.size(); ++cut) {
            for (int32_t policy : {NLS_POLICY_REPLACE, NLS_POLICY_SKIP, NLS_POLICY_STOP}) {
                const Outcome whole = stream(c.from, c.to, policy, input, {});
                const Outcome pieces = stream(c.from, c.to, policy, input, {cut});
                EXPECT_EQ(hex(pieces.output), hex(whole.output)) << where << " cut " << cut;
                EXPECT_EQ(pieces.report.firstOffset, whole.report.firstOffset)
                    << where << " cut " << cut << " policy " << policy;
                EXPECT_EQ(pieces.report.substituted, whole.report.substituted)
                    << where << " cut " << cut << " policy " << policy;
            }
        }
    }
}

// Under the default policy the output is what it always was, and the report
// counts what was replaced; a new text starts a new report.
TEST_F(Substitutions, TheReportBelongsToOneText) {
    EncodingConverter* object = nullptr;
    ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", "latin1", &object), NLS_SUCCESS);
    const Bytes text = hexBytes("E2 82 AC 41 FF");
    unsigned char out[16];
    uint32_t read = 0, written = 0;
    ASSERT_EQ(NLS_ConvertStream(object, text.data(), 5, out, sizeof out, 1, &read, &written),
              NLS_SUCCESS);
    NLS_ConversionReport report;
    NLS_GetConversionReport(object, &report);
    EXPECT_EQ(report.substituted, 2u);
    EXPECT_EQ(report.firstKind, NLS_UNMAPPABLE_CHARACTER);
    ASSERT_EQ(NLS_ConvertStream(object, text.data() + 3, 1, out, sizeof out, 1, &read, &written),
              NLS_SUCCESS);
    NLS_GetConversionReport(object, &report);
    EXPECT_EQ(report.substituted, 0u);
    EXPECT_EQ(report.firstKind, NLS_NO_SUBSTITUTION);
    EXPECT_EQ(NLS_SetConversionPolicy(object, 9), NLS_INVALID_PARAMETER);
    NLS_DeleteEncodingConverter(object);
    EXPECT_STREQ(NLS_GetStatusMessage(NLS_UNMAPPABLE),
                 "a character the target encoding cannot represent");
}

}  // namespace
