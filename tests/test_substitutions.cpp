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

struct Option {
    int32_t option;
    int32_t value;
};

// One text through NLS_ConvertStream in pieces ending at `cuts`, stopping at
// the first error.
Outcome stream(const char* from, const char* to, int32_t policy, const Bytes& input,
               std::vector<size_t> cuts, std::vector<Option> options = {}) {
    Outcome outcome;
    EncodingConverter* object = nullptr;
    EXPECT_EQ(NLS_NewEncodingConverter(from, to, &object), NLS_SUCCESS) << from << " " << to;
    if (object == nullptr) return outcome;
    EXPECT_EQ(NLS_SetConversionPolicy(object, policy), NLS_SUCCESS);
    for (const Option& o : options)
        EXPECT_EQ(NLS_SetConversionOption(object, o.option, o.value), NLS_SUCCESS);
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

#define kTenLetters "61 62 63 64 65 66 67 68 69 6A "
#define kSeventyLetters \
    kTenLetters kTenLetters kTenLetters kTenLetters kTenLetters kTenLetters kTenLetters

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
        // Met in JIS X 0208 mode: "?" after the escape back to ASCII (under the
        // stop action nothing for it: Iso2022JpWritesWhatStandsForALackedCharacterInItsMode).
        {"UTF-8", "ISO-2022-JP", "E6 BC A2 C3 A9 42", 3, NLS_UNMAPPABLE_CHARACTER,
         "1B 24 42 34 41 1B 28 42 3F 42", "1B 24 42 34 41 1B 28 42 42"},
        // The chain placed a character after a three-byte one at the byte
        // after it (ChainOffsetAfterAThreeByteCharacter).
        {"UTF-8", "ISO-2022-JP", "E6 97 A5 0F 41", 3, NLS_UNMAPPABLE_CHARACTER,
         "1B 24 42 46 7C 1B 28 42 3F 41", "1B 24 42 46 7C 1B 28 42 41"},
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
        // A four- or three-byte code broken by ASCII: the ASCII byte stays.
        {"EUC-TW", "UTF-8", "41 8E A2 41 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 41 42",
         "41 41 42"},
        {"EUC-JP-MS", "UTF-8", "41 8F A2 41 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 41 42",
         "41 41 42"},
        {"JOHAB", "UTF-8", "41 D9 20 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 20 42", "41 20 42"},
        {"BIG5-HKSCS", "UTF-8", "41 87 20 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 20 42",
         "41 20 42"},
        {"UTF-8", "EUC-TW", "41 F0 9F 98 80 42", 1, NLS_UNMAPPABLE_CHARACTER, "41 3F 42", "41 42"},
        // A line end inside SO; a lacked character after SO, and after SS3.
        {"ISO-2022-CN", "UTF-8", "41 1B 24 29 41 0E 56 50 0A 56 50 0F", 8, NLS_MALFORMED_INPUT,
         "41 E4 B8 AD EF BF BD E4 B8 AD", "41 E4 B8 AD E4 B8 AD"},
        {"UTF-8", "ISO-2022-CN", "E4 B8 AD F0 9F 98 80 42", 3, NLS_UNMAPPABLE_CHARACTER,
         "1B 24 29 41 0E 56 50 0F 3F 42", "1B 24 29 41 0E 56 50 0F 42"},
        {"UTF-8", "ISO-2022-CN-EXT", "F0 A0 82 86 F0 9F 98 80 42", 4, NLS_UNMAPPABLE_CHARACTER,
         "1B 24 2B 4A 1B 4F 21 21 3F 42", "1B 24 2B 4A 1B 4F 21 21 42"},
        // In ISO-IR-165: a code it lacks, and a lacked character after it.
        {"ISO-2022-CN-EXT", "UTF-8", "1B 24 29 45 0E 2F 21 2B 21 2F 21 0F", 7, NLS_MALFORMED_INPUT,
         "E3 8B 80 EF BF BD E3 8B 80", "E3 8B 80 E3 8B 80"},
        {"UTF-8", "ISO-2022-CN-EXT", "C9 A1 F0 9F 98 80 42", 2, NLS_UNMAPPABLE_CHARACTER,
         "1B 24 29 45 0E 23 67 0F 3F 42", "1B 24 29 45 0E 23 67 0F 42"},
        // SS2 with nothing in G2; a lacked character in JIS X 0208 mode.
        {"ISO-2022-JP-2", "UTF-8", "41 1B 4E 20 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 20 42",
         "41 20 42"},
        {"UTF-8", "ISO-2022-JP-2", "E4 B8 AD F0 9F 98 80 42", 3, NLS_UNMAPPABLE_CHARACTER,
         "1B 24 42 43 66 1B 28 42 3F 42", "1B 24 42 43 66 1B 28 42 42"},
        {"UTF-8", "JOHAB", "41 F0 9F 98 80 42", 1, NLS_UNMAPPABLE_CHARACTER, "41 3F 42", "41 42"},
        {"UTF-8", "EUC-JP-MS", "41 F0 9F 98 80 42", 1, NLS_UNMAPPABLE_CHARACTER, "41 3F 42",
         "41 42"},
        {"UTF-8", "BIG5-HKSCS", "41 F0 9F 98 80 42", 1, NLS_UNMAPPABLE_CHARACTER, "41 3F 42",
         "41 42"},
        {"EUC-JISX0213", "UTF-8", "41 8F A1 41 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 41 42",
         "41 41 42"},
        {"SHIFT_JISX0213", "UTF-8", "41 81 20 42", 1, NLS_MALFORMED_INPUT, "41 EF BF BD 20 42",
         "41 20 42"},
        // A kana held for the mark that may follow it is written before
        // what stands for the lacked character; the mark alone is lacked.
        {"UTF-8", "EUC-JISX0213", "E3 81 8B F0 9F 98 80 42", 3, NLS_UNMAPPABLE_CHARACTER,
         "A4 AB 3F 42", "A4 AB 42"},
        {"UTF-8", "SHIFT_JISX0213", "41 E3 82 9A 42", 1, NLS_UNMAPPABLE_CHARACTER, "41 3F 42",
         "41 42"},
        // Met in plane 2: "?" after the escape back to ASCII.
        {"UTF-8", "ISO-2022-JP-3", "E4 B8 82 F0 9F 98 80 42", 3, NLS_UNMAPPABLE_CHARACTER,
         "1B 24 28 50 21 22 1B 28 42 3F 42", "1B 24 28 50 21 22 1B 28 42 42"},
        {"ISO-2022-JP-3", "UTF-8", "1B 24 42 2D 21 41 41 1B 28 42", 3, NLS_MALFORMED_INPUT,
         "EF BF BD E7 96 8F", "E7 96 8F"},
        {"UTF-16", "windows-1252", "FE FF 00 41 01 00 00 42", 4, NLS_UNMAPPABLE_CHARACTER,
         "41 3F 42", "41 42"},
        // A chain whose second converter meets the character in text that
        // waited from an earlier call (the output takes 7 bytes a call).
        {"windows-1252", "ISO-8859-8", "41 80 42", 1, NLS_UNMAPPABLE_CHARACTER, "41 3F 42",
         "41 42"},
        {"windows-1252", "ISO-8859-8", "61 62 63 64 65 66 67 68 69 80 42", 9,
         NLS_UNMAPPABLE_CHARACTER, "61 62 63 64 65 66 67 68 69 3F 42",
         "61 62 63 64 65 66 67 68 69 42"},
        // WaitingTextStopsAtItsOwnOffset: beyond what the object converts in
        // one step for a small output.
        {"windows-1252", "ISO-8859-8", kSeventyLetters "80 42", 70, NLS_UNMAPPABLE_CHARACTER,
         kSeventyLetters "3F 42", kSeventyLetters "42"},
        // UTF-7 runs that end badly are one U+FFFD each, never left out.
        {"UTF-7", "UTF-8", "78 2B 41 47 2D 79", 4, NLS_MALFORMED_INPUT, "78 EF BF BD 79", "78 79"},
        {"IMAP-UTF-7", "UTF-8", "78 26 41 47 2D 79", 4, NLS_MALFORMED_INPUT, "78 EF BF BD 79",
         "78 79"},
        {"UTF-7", "UTF-8", "61 2B 62", 3, NLS_MALFORMED_INPUT, "61 EF BF BD", "61"},
        {"UTF-7", NLS_UCS2_NAME, "41 E9 42", 1, NLS_MALFORMED_INPUT, "41 00 FD FF 42 00",
         "41 00 42 00"},
        {"UTF-7", "UTF-8", "2B 41 47 45 41 2D", 5, NLS_MALFORMED_INPUT, "61 EF BF BD", "61"},
        // Utf7StopOffsetDoesNotDependOnTheCut: "+A5nYW9", a run whose bits
        // end in a high surrogate and four bits left over.
        {"UTF-7", NLS_UCS2_NAME, "2B 41 35 6E 59 57 39", 7, NLS_MALFORMED_INPUT,
         "99 03 5B D8 FD FF", "99 03 5B D8"},
        // TSCII: a code that waits for its third byte and meets none, a
        // character lacked after a code of three characters.
        {"TSCII", "UTF-8", "41 A6 B8 FF 42", 3, NLS_MALFORMED_INPUT,
         "41 E0 AE 95 E0 AF 86 EF BF BD 42", "41 E0 AE 95 E0 AF 86 42"},
        {"UTF-8", "TSCII", "E0 AE 95 E0 AF 8A E2 82 AC 42", 6, NLS_UNMAPPABLE_CHARACTER,
         "A6 B8 A1 3F 42", "A6 B8 A1 42"},
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
            for (int32_t policy :
                 {NLS_POLICY_REPLACE, NLS_POLICY_SKIP, NLS_POLICY_STOP, NLS_POLICY_TRANSLITERATE}) {
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

// A chain placed the second character of a code that stands for two after
// the code. (Under the stop policy the first character has gone out and the
// code is read: the offset there is the code's, the input read ends after it.)
TEST_F(Substitutions, ChainOffsetOfTheSecondCharacterOfACode) {
    const Bytes input = hexBytes("41 88 62 41");
    for (int32_t policy : {NLS_POLICY_REPLACE, NLS_POLICY_SKIP, NLS_POLICY_STOP})
        for (size_t cut = 0; cut <= input.size(); ++cut) {
            const Outcome outcome = stream("BIG5-HKSCS", "windows-1252", policy, input, {cut});
            EXPECT_EQ(outcome.report.firstKind, NLS_UNMAPPABLE_CHARACTER) << policy << " " << cut;
            EXPECT_EQ(outcome.report.firstOffset, 1) << policy << " cut " << cut;
        }
}

// A chain placed a character that a TSCII byte of four characters makes
// (SRI, 0x82) at the start of the text the first converter read again, so
// that the report began there once the escapes had filled the output.
TEST_F(Substitutions, ChainOffsetOfTheCharactersOfAFourCharacterCode) {
    const Bytes input = hexBytes(kTenLetters kTenLetters kTenLetters "82 82 44");
    for (int32_t action : {NLS_ACTION_REPLACE, NLS_ACTION_ESCAPE_XML_DECIMAL})
        for (size_t cut = 0; cut <= input.size(); ++cut) {
            const Outcome outcome = stream("TSCII", "latin1", NLS_POLICY_REPLACE, input, {cut},
                                           {{NLS_OPTION_UNMAPPABLE_ACTION, action}});
            EXPECT_EQ(outcome.report.substituted, 8u) << action << " cut " << cut;
            EXPECT_EQ(outcome.report.firstOffset, 30) << action << " cut " << cut;
        }
}

// A character the target lacks right after an escape that switches to its
// set is met at its own offset, the same wherever the stream is cut (the
// chain once found it at the escape unless the cut fell between them).
TEST_F(Substitutions, ChainOffsetOfACharacterRightAfterAnEscape) {
    const struct {
        const char* from;
        const char* input;
        int64_t offset;
    } cases[] = {
        {"ISO-2022-JP", "41 1B 28 4A 5C 1B 28 42 42", 4},
        {"ISO-2022-JP", "41 1B 24 28 44 30 21 1B 28 42", 5},
        {"HZ-GB-2312", "41 7E 7B 30 21 7E 7D", 3},
    };
    for (const auto& c : cases) {
        const Bytes input = hexBytes(c.input);
        for (size_t cut = 0; cut <= input.size(); ++cut) {
            const Outcome outcome = stream(c.from, "US-ASCII", NLS_POLICY_REPLACE, input, {cut});
            EXPECT_EQ(outcome.report.substituted, 1u) << c.from << " cut " << cut;
            EXPECT_EQ(outcome.report.firstOffset, c.offset) << c.from << " cut " << cut;
        }
    }
}

// A text that ends inside a character, with a high surrogate or inside a
// UTF-7 run: malformed input under the policy, the same wherever the text is
// cut (an empty last piece included); the stop policy gives -1304.
TEST_F(Substitutions, TheEndOfTheTextInsideACharacter) {
    const struct {
        const char* from;
        const char* to;
        const char* input;
        uint32_t offset;
        const char* replaced;
        const char* skipped;
    } cases[] = {
        {"UTF-8", NLS_UCS2_NAME, "41 E6 97", 1, "41 00 FD FF", "41 00"},
        {"UTF-8", "UTF-7", "41 E6 97", 1, "41 2B 2F 2F 30", "41"},
        {"UTF-8", "UTF-16", "41 E6 97", 1, "FF FE 41 00 FD FF", "FF FE 41 00"},
        {NLS_UCS2_NAME, "UTF-8", "41 00 3D D8", 2, "41 EF BF BD", "41"},
        {"Shift_JIS", "UTF-8", "41 82", 1, "41 EF BF BD", "41"},
        {"Big5", "UTF-16LE", "41 A4", 1, "41 00 FD FF", "41 00"},
        {"EUC-TW", "UTF-16LE", "41 8E A2 A1", 1, "41 00 FD FF", "41 00"},
        {"EUC-JP-MS", "UTF-16LE", "41 8F A2", 1, "41 00 FD FF", "41 00"},
        {"EUC-JISX0213", "UTF-16LE", "41 8F A1", 1, "41 00 FD FF", "41 00"},
        {"SHIFT_JISX0213", "UTF-16LE", "41 F0", 1, "41 00 FD FF", "41 00"},
        {"ISO-2022-JP-3", "UTF-16LE", "41 1B 24 28", 1, "41 00 FD FF", "41 00"},
        {"ESCAPED_UNICODE", "UTF-8", "41 5C 75 31", 1, "41 EF BF BD", "41"},
        // A lone high surrogate that a chain's first stage makes last.
        {"UTF-8", "UTF-16LE", "41 ED A0 80", 1, "41 00 FD FF", "41 00"},
        {"UTF-7", "UTF-8", "41 2B 32 44 30 2D", 4, "41 EF BF BD", "41"},
        // A run whose leftover bits make no unit, before an empty last piece.
        {"UTF-7", NLS_UCS2_NAME, "2B 32 44 33", 4, "3D D8 FD FF", "3D D8"},
    };
    for (const auto& c : cases) {
        const std::string where = std::string(c.from) + " -> " + c.to + ": " + c.input;
        const Bytes input = hexBytes(c.input);
        for (int32_t policy :
             {NLS_POLICY_REPLACE, NLS_POLICY_SKIP, NLS_POLICY_STOP, NLS_POLICY_TRANSLITERATE}) {
            const Outcome whole = stream(c.from, c.to, policy, input, {});
            if (policy == NLS_POLICY_STOP) {
                EXPECT_TRUE(whole.status == NLS_SEQUENCE_INCOMPLETE ||
                            whole.status == NLS_INVALID_INPUT)
                    << where;
                EXPECT_EQ(whole.report.substituted, 0u) << where;
            } else {
                EXPECT_EQ(whole.status, NLS_SUCCESS) << where;
                EXPECT_EQ(whole.read, input.size()) << where;
                EXPECT_EQ(hex(whole.output), policy == NLS_POLICY_SKIP ? c.skipped : c.replaced)
                    << where << " policy " << policy;
                EXPECT_GE(whole.report.substituted, 1u) << where;
                EXPECT_EQ(whole.report.firstKind, NLS_MALFORMED_INPUT) << where;
                EXPECT_EQ(whole.report.firstOffset, c.offset) << where;
            }
            for (size_t cut = 0; cut <= input.size(); ++cut) {
                const Outcome pieces = stream(c.from, c.to, policy, input, {cut});
                EXPECT_EQ(pieces.status, whole.status) << where << " cut " << cut;
                EXPECT_EQ(hex(pieces.output), hex(whole.output)) << where << " cut " << cut;
                EXPECT_EQ(pieces.report.substituted, whole.report.substituted)
                    << where << " cut " << cut << " policy " << policy;
                EXPECT_EQ(pieces.report.firstOffset, whole.report.firstOffset)
                    << where << " cut " << cut << " policy " << policy;
            }
        }
    }
}

// An action chosen for malformed input or for what the target lacks rules
// over the policy's, in the object and in a chain as in the converter: a
// stop stops, a cut character that ends the text is malformed input. (A
// stop in bytes carried from an earlier piece reads none of the next.)
TEST_F(Substitutions, TheTwoActionsRuleOverThePolicy) {
    const struct {
        const char* from;
        const char* to;
        const char* input;
        int32_t policy;
        int32_t option;
        int32_t action;
        NLS_Status status;
        uint32_t read;
        const char* output;
    } cases[] = {
        {"ISO-8859-8", NLS_UCS2_NAME, "41 A1 42", NLS_POLICY_REPLACE, NLS_OPTION_MALFORMED_ACTION,
         NLS_ACTION_STOP, NLS_INVALID_INPUT, 1, "41 00"},
        {"ISO-8859-8", "UTF-8", "41 A1 42", NLS_POLICY_REPLACE, NLS_OPTION_MALFORMED_ACTION,
         NLS_ACTION_STOP, NLS_INVALID_INPUT, 1, "41"},
        {"ISO-8859-8", "UTF-8", "41 A1 42", NLS_POLICY_STOP, NLS_OPTION_MALFORMED_ACTION,
         NLS_ACTION_SKIP, NLS_SUCCESS, 3, "41 42"},
        {NLS_UCS2_NAME, "ISO-8859-8", "41 00 E9 00 42 00", NLS_POLICY_STOP,
         NLS_OPTION_UNMAPPABLE_ACTION, NLS_ACTION_TRANSLITERATE, NLS_SUCCESS, 6, "41 65 42"},
        {NLS_UCS2_NAME, "ISO-8859-8", "41 00 E9 00 42 00", NLS_POLICY_REPLACE,
         NLS_OPTION_UNMAPPABLE_ACTION, NLS_ACTION_STOP, NLS_UNMAPPABLE, 2, "41"},
        // CutCharacterAtTheEndFollowsTheMalformedAction, direct and in a chain.
        {"Shift_JIS", "UTF-8", "41 82", NLS_POLICY_REPLACE, NLS_OPTION_MALFORMED_ACTION,
         NLS_ACTION_STOP, NLS_SEQUENCE_INCOMPLETE, 1, "41"},
        {"Shift_JIS", "UTF-8", "41 82", NLS_POLICY_STOP, NLS_OPTION_MALFORMED_ACTION,
         NLS_ACTION_REPLACE, NLS_SUCCESS, 2, "41 EF BF BD"},
        {"Shift_JIS", "UTF-8", "41 82", NLS_POLICY_TRANSLITERATE, NLS_OPTION_MALFORMED_ACTION,
         NLS_ACTION_SKIP, NLS_SUCCESS, 2, "41"},
        {"UTF-8", NLS_UCS2_NAME, "41 E6 97", NLS_POLICY_REPLACE, NLS_OPTION_MALFORMED_ACTION,
         NLS_ACTION_STOP, NLS_SEQUENCE_INCOMPLETE, 1, "41 00"},
        {"UTF-8", NLS_UCS2_NAME, "41 E6 97", NLS_POLICY_STOP, NLS_OPTION_MALFORMED_ACTION,
         NLS_ACTION_REPLACE, NLS_SUCCESS, 3, "41 00 FD FF"},
    };
    for (const auto& c : cases) {
        const std::string where = std::string(c.from) + " -> " + c.to + ": " + c.input;
        const Bytes input = hexBytes(c.input);
        for (size_t cut = 0; cut <= input.size(); ++cut) {
            const Outcome outcome =
                stream(c.from, c.to, c.policy, input, {cut}, {{c.option, c.action}});
            EXPECT_EQ(outcome.status, c.status) << where << " cut " << cut;
            if (cut == 0) {
                EXPECT_EQ(outcome.read, c.read) << where;
            }
            EXPECT_EQ(hex(outcome.output), c.output) << where << " cut " << cut;
        }
    }
}

// StopInBytesCarriedFromTheLastPieceIsNotMetAgain: the stop reads none of
// the piece's bytes that the carried character holds, and an empty last
// call then ends the text (it returned the stop again and again).
TEST_F(Substitutions, StopInBytesCarriedFromTheLastPieceIsNotMetAgain) {
    const struct {
        const char* from;
        const char* to;
        const char* input;
        size_t cut;
        NLS_Status status;
    } cases[] = {
        {"UTF-8", "windows-1252", "41 C4 80 42", 2, NLS_UNMAPPABLE},
        {NLS_UCS2_NAME, "ISO-8859-8", "41 00 E9 00 42 00", 3, NLS_UNMAPPABLE},
        {"UTF-8", NLS_UCS2_NAME, "41 E9 80 42", 2, NLS_INVALID_INPUT},
    };
    for (const auto& c : cases) {
        const std::string where = std::string(c.from) + " -> " + c.to + ": " + c.input;
        const Bytes input = hexBytes(c.input);
        EncodingConverter* object = nullptr;
        ASSERT_EQ(NLS_NewEncodingConverter(c.from, c.to, &object), NLS_SUCCESS);
        ASSERT_EQ(NLS_SetConversionPolicy(object, NLS_POLICY_STOP), NLS_SUCCESS);
        unsigned char out[16];
        uint32_t read = 0, written = 0;
        ASSERT_EQ(NLS_ConvertStream(object, input.data(), static_cast<uint32_t>(c.cut), out,
                                    sizeof out, 0, &read, &written),
                  NLS_SUCCESS)
            << where;
        EXPECT_EQ(NLS_ConvertStream(object, input.data() + c.cut,
                                    static_cast<uint32_t>(input.size() - c.cut), out, sizeof out, 1,
                                    &read, &written),
                  c.status)
            << where;
        EXPECT_EQ(read, 0u) << where;
        EXPECT_EQ(NLS_ConvertStream(object, nullptr, 0, out, sizeof out, 1, &read, &written),
                  NLS_SUCCESS)
            << where;
        NLS_DeleteEncodingConverter(object);
    }
}

// The strict reading of UTF-8, direct and through a chain, in the fast
// paths too (the forms sit among long runs).
TEST_F(Substitutions, StrictUnicodeReadsC080AndEncodedSurrogatesAsMalformed) {
    const std::string run(40, 'a');
    const std::string text = run + "\xC0\x80" + run + "\xC3\xA9\xED\xA0\x80" + run;
    const Bytes input(text.begin(), text.end());
    for (const char* to : {NLS_UCS2_NAME, "UTF-16BE"}) {
        for (int32_t strict : {0, 1}) {
            EncodingConverter* object = nullptr;
            ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", to, &object), NLS_SUCCESS);
            EXPECT_EQ(NLS_SetConversionOption(object, NLS_OPTION_STRICT_UNICODE, strict),
                      NLS_SUCCESS);
            std::vector<unsigned char> output(4 * input.size());
            uint32_t read = 0, written = 0;
            EXPECT_EQ(NLS_ConvertStream(object, input.data(), static_cast<uint32_t>(input.size()),
                                        output.data(), static_cast<uint32_t>(output.size()), 1,
                                        &read, &written),
                      NLS_SUCCESS);
            output.resize(written);
            const std::u16string units =
                std::string(to) == NLS_UCS2_NAME
                    ? fromUcs2(output)
                    : fromUcs2(convertOneShot("UTF-16BE", NLS_UCS2_NAME, output).output);
            NLS_ConversionReport report;
            NLS_GetConversionReport(object, &report);
            const std::u16string letters(40, u'a');
            if (strict) {
                EXPECT_EQ(units, letters + u"\uFFFD" + letters + u"\u00E9\uFFFD" + letters) << to;
                EXPECT_EQ(report.substituted, 2u) << to;
                EXPECT_EQ(report.firstOffset, 40u) << to;
            } else if (std::string(to) == NLS_UCS2_NAME) {
                EXPECT_EQ(units, letters + u'\0' + letters + u"\u00E9\xD800" + letters);
                EXPECT_EQ(report.substituted, 0u);
            }
            EXPECT_EQ(NLS_SetConversionOption(object, NLS_OPTION_STRICT_UNICODE, 2),
                      NLS_INVALID_PARAMETER);
            EXPECT_EQ(NLS_SetConversionOption(object, 99, 1), NLS_INVALID_PARAMETER);
            NLS_DeleteEncodingConverter(object);
        }
    }
}

// Lone surrogates in UCS-2, UCS-4 and UTF-7 input: written from their values when
// read leniently, malformed when read strictly, whole and cut anywhere.
TEST_F(Substitutions, StrictUnicodeReadsLoneSurrogatesAsMalformed) {
    const struct {
        const char* from;
        const char* to;
        const char* input;
        const char* lenient;
        const char* strict;
        uint32_t offset;
    } cases[] = {
        {NLS_UCS2_NAME, "UTF-8", "41 00 00 DC 42 00", "41 ED B0 80 42", "41 EF BF BD 42", 2},
        {NLS_UCS2_NAME, "UTF-8", "41 00 00 D8 42 00", "41 ED A0 80 42", "41 EF BF BD 42", 2},
        {NLS_UCS2_NAME, "ISO-10646-UCS-4", "41 00 00 DC", "41 00 00 00 00 DC 00 00",
         "41 00 00 00 FD FF 00 00", 2},
        {"ISO-10646-UCS-4", NLS_UCS2_NAME, "41 00 00 00 00 DC 00 00", "41 00 00 DC", "41 00 FD FF",
         4},
        // "+2AA-", "+AEHcAABC-" and "&2AA-": a lone high surrogate, a lone
        // low one between letters; the offset is the byte that ends the unit
        // (or the run) that shows it lone.
        {"UTF-7", NLS_UCS2_NAME, "2B 32 41 41 2D", "00 D8", "FD FF", 4},
        {"UTF-7", NLS_UCS2_NAME, "2B 41 45 48 63 41 41 42 43 2D", "41 00 00 DC 42 00",
         "41 00 FD FF 42 00", 6},
        {"IMAP-UTF-7", NLS_UCS2_NAME, "26 32 41 41 2D", "00 D8", "FD FF", 4},
    };
    for (const auto& c : cases) {
        const std::string where = std::string(c.from) + " -> " + c.to + ": " + c.input;
        const Bytes input = hexBytes(c.input);
        for (int32_t strict : {0, 1}) {
            for (size_t cut = 0; cut <= input.size(); ++cut) {
                EncodingConverter* object = nullptr;
                ASSERT_EQ(NLS_NewEncodingConverter(c.from, c.to, &object), NLS_SUCCESS) << where;
                NLS_SetConversionOption(object, NLS_OPTION_STRICT_UNICODE, strict);
                Bytes output;
                NLS_Status status = NLS_SUCCESS;
                const size_t bounds[] = {0, cut, input.size()};
                for (size_t piece = 0; piece < 2; ++piece) {
                    unsigned char buffer[64];
                    uint32_t read = 0, written = 0;
                    status =
                        NLS_ConvertStream(object, input.data() + bounds[piece],
                                          static_cast<uint32_t>(bounds[piece + 1] - bounds[piece]),
                                          buffer, sizeof buffer, piece == 1, &read, &written);
                    output.insert(output.end(), buffer, buffer + written);
                }
                NLS_ConversionReport report;
                NLS_GetConversionReport(object, &report);
                NLS_DeleteEncodingConverter(object);
                EXPECT_EQ(status, NLS_SUCCESS) << where;
                EXPECT_EQ(hex(output), strict ? c.strict : c.lenient) << where << " cut " << cut;
                EXPECT_EQ(report.substituted, strict ? 1u : 0u) << where << " cut " << cut;
                if (strict) {
                    EXPECT_EQ(report.firstOffset, c.offset) << where << " cut " << cut;
                }
            }
        }
    }
}

// The "?" a chain's target writes over the U+FFFD of malformed input does
// not stand for the characters it lacks after it: they take their own action.
TEST_F(Substitutions, ALackedCharacterAfterAReplacedMalformedOneTakesItsOwnAction) {
    const Bytes input = hexBytes("41 FF 42 C4 80 43");
    EncodingConverter* object = nullptr;
    ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", "x-mac-roman", &object), NLS_SUCCESS);
    EXPECT_EQ(NLS_SetConversionPolicy(object, NLS_POLICY_SKIP), NLS_SUCCESS);
    EXPECT_EQ(NLS_SetConversionOption(object, NLS_OPTION_MALFORMED_ACTION, NLS_ACTION_REPLACE),
              NLS_SUCCESS);
    unsigned char output[64];
    uint32_t read = 0, written = 0;
    EXPECT_EQ(NLS_ConvertStream(object, input.data(), static_cast<uint32_t>(input.size()), output,
                                sizeof output, 1, &read, &written),
              NLS_SUCCESS);
    NLS_DeleteEncodingConverter(object);
    EXPECT_EQ(hex(Bytes(output, output + written)), "41 3F 42 43");
}

// One object, replacing and then skipping: what the skip leaves out adds
// nothing to the output, direct and through a chain.
TEST_F(Substitutions, SkipAfterReplaceWritesNothingForWhatItSkips) {
    const struct {
        const char* from;
        const char* to;
        const char* input;
        const char* skipped;
    } cases[] = {{"ISO-8859-8", NLS_UCS2_NAME, "41 A1 42", "41 00 42 00"},
                 {"UTF-8", NLS_UCS2_NAME, "41 FF 42", "41 00 42 00"},
                 {"UTF-8", "UTF-16", "41 FF 42", "FF FE 41 00 42 00"}};
    for (const auto& c : cases) {
        const Bytes input = hexBytes(c.input);
        EncodingConverter* object = nullptr;
        ASSERT_EQ(NLS_NewEncodingConverter(c.from, c.to, &object), NLS_SUCCESS);
        for (int32_t policy : {NLS_POLICY_REPLACE, NLS_POLICY_SKIP}) {
            EXPECT_EQ(NLS_SetConversionPolicy(object, policy), NLS_SUCCESS);
            unsigned char output[32];
            uint32_t read = 0, written = 0;
            EXPECT_EQ(NLS_ConvertStream(object, input.data(), static_cast<uint32_t>(input.size()),
                                        output, sizeof output, 1, &read, &written),
                      NLS_SUCCESS);
            if (policy == NLS_POLICY_SKIP) {
                EXPECT_EQ(hex(Bytes(output, output + written)), c.skipped) << c.from << " " << c.to;
            }
        }
        NLS_DeleteEncodingConverter(object);
    }
}

// Typographic characters through every target that lacks them: their ASCII
// stand-ins under the transliterating policy, counted as substitutions.
TEST_F(Substitutions, EveryTargetWritesTheStandInsOfWhatItLacks) {
    const struct {
        const char* utf8;
        const char* standIn;
    } characters[] = {{"C3 A9", "65"},    {"C5 93", "6F 65"}, {"E2 82 AC", "45 55 52"},
                      {"E2 80 9C", "22"}, {"E2 80 9D", "22"}, {"E2 80 94", "2D"}};
    for (const char* target :
         {"US-ASCII",       "latin1",       "x-mac-roman",     "windows-1252",  "KOI8-R",
          "ISO-8859-8",     "Shift_JIS",    "EUC-JP",          "ISO-2022-JP",   "windows-31j",
          "GB2312",         "GBK",          "GB18030",         "Big5",          "EUC-KR",
          "ISO-2022-KR",    "HZ-GB-2312",   "EUC-TW",          "JOHAB",         "EUC-JP-MS",
          "BIG5-HKSCS",     "ISO-2022-CN",  "ISO-2022-CN-EXT", "ISO-2022-JP-2", "EUC-JISX0213",
          "SHIFT_JISX0213", "ISO-2022-JP-3"}) {
        uint32_t lacked = 0;
        for (const auto& c : characters) {
            const Bytes input = hexBytes((std::string("41 ") + c.utf8 + " 42").c_str());
            if (stream("UTF-8", target, NLS_POLICY_STOP, input, {}).status == NLS_SUCCESS)
                continue;  // the target has it
            ++lacked;
            const Outcome outcome = stream("UTF-8", target, NLS_POLICY_TRANSLITERATE, input, {});
            // Read back, for the targets that write ASCII with a designation.
            const Bytes text = convertOneShot(target, "UTF-8", outcome.output).output;
            EXPECT_EQ(hex(text), std::string("41 ") + c.standIn + " 42") << target << " " << c.utf8;
            EXPECT_EQ(outcome.report.substituted, 1u) << target << " " << c.utf8;
            EXPECT_EQ(outcome.report.firstKind, NLS_UNMAPPABLE_CHARACTER) << target;
        }
        if (std::string(target) == "US-ASCII") {
            EXPECT_EQ(lacked, 6u);
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
