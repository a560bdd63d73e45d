// Fuzzes every built-in converter and every chain through a conversion
// object. The first bytes choose the pair, the first output size and where
// the input is cut; the rest is the input. Checked: no write past an output
// (guard bytes), the carried input never exceeds the input, the drain loop
// ends, the streamed output equals the one-shot output, and NLS_ConvertStream
// gives the same text whole and cut anywhere.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "velta/nls.h"

namespace {

#if defined(VELTA_FUZZ_CJK)
// The converters of the Japanese, Chinese and Korean converter libraries,
// and the Unicode forms they meet most.
const char* const kEncodings[] = {
    "GB18030",       "GBK",          "GB2312",         "Big5",
    "EUC-KR",        "windows-31j",  "Shift_JIS",      "EUC-JP",
    "UTF-8",         "ISO-2022-JP",  "UTF-16LE",       "ISO-10646-UCS-2",
    "ISO-2022-KR",   "HZ-GB-2312",   "EUC-TW",         "JOHAB",
    "EUC-JP-MS",     "BIG5-HKSCS",   "ISO-2022-CN",    "ISO-2022-CN-EXT",
    "ISO-2022-JP-2", "EUC-JISX0213", "SHIFT_JISX0213", "ISO-2022-JP-3"};
#else
// The library's own encodings: the built-in ones, then those the shipped
// registry files name.
const char* const kEncodings[] = {
    "ISO_8859-1:1987",   "x-mac-roman",         "ISO-10646-UCS-4", "ESCAPED_UNICODE", "UTF-8",
    "UNICODE-1-1-UTF-7", "IMAP-MODIFIED-UTF-7", "ISO-10646-UCS-2", "UTF-16",          "UTF-16LE",
    "UTF-32BE",          "windows-1252",        "KOI8-U",          "IBM037"};
#endif
const uint32_t kEncodingCount = sizeof kEncodings / sizeof kEncodings[0];
const unsigned char kGuard = 0xA5;
const uint32_t kGuardBytes = 32;

void check(bool condition) {
    if (!condition) abort();
}

typedef std::vector<unsigned char> Bytes;

// One call into a guarded buffer of exactly `capacity` bytes.
NLS_Status call(EncodingConverter* object, const Bytes* input, uint32_t capacity, Bytes* output) {
    Bytes buffer(capacity + kGuardBytes, kGuard);
    uint32_t written = 0;
    NLS_Status status;
    if (input != nullptr)
        status =
            NLS_ConvertStreamBuffer(object, input->data(), static_cast<uint32_t>(input->size()),
                                    buffer.data(), capacity, &written);
    else
        status = NLS_ConverterGetOverflow(object, buffer.data(), capacity, &written);
    check(written <= capacity);
    for (uint32_t i = capacity; i < buffer.size(); ++i) check(buffer[i] == kGuard);
    output->insert(output->end(), buffer.begin(), buffer.begin() + written);
    return status;
}

uint32_t carried(EncodingConverter* object) {
    uint32_t size = 0;
    NLS_GetConversionOverflowSize(object, &size);
    return size / 7;
}

// Converts a piece and drains it by the overflow protocol of NLS_ConvertStreamBuffer; returns the
// final status and leaves the unconsumed tail in `tail`.
NLS_Status convertPiece(EncodingConverter* object, const Bytes& piece, uint32_t firstSize,
                        Bytes* output, Bytes* tail) {
    NLS_Status status = call(object, &piece, firstSize, output);
    uint32_t remaining = carried(object);
    check(remaining <= piece.size());
    for (uint32_t rounds = 0;; ++rounds) {
        check(rounds < 64 + 16 * piece.size());  // the drain loop ends
        if (status != NLS_RESULT_TRUNCATED && remaining == 0) break;
        const uint32_t size = std::max<uint32_t>(16, 7 * remaining);
        const size_t before = output->size();
        const NLS_Status next = call(object, nullptr, size, output);
        const uint32_t after = carried(object);
        check(after <= remaining);
        const bool progressed = after < remaining || output->size() > before;
        status = next;
        remaining = after;
        if (status != NLS_RESULT_TRUNCATED && !progressed) break;
    }
    tail->assign(piece.end() - remaining, piece.end());
    return status;
}

// One text through NLS_ConvertStream in the pieces that end at `cuts` (and
// at the end), with outputs of `outputSize` bytes.
NLS_Status streamPieces(EncodingConverter* object, const Bytes& input, std::vector<size_t> cuts,
                        uint32_t outputSize, Bytes* output) {
    cuts.push_back(input.size());
    size_t start = 0;
    NLS_Status status = NLS_SUCCESS;
    for (size_t k = 0; k < cuts.size(); ++k) {
        const Bytes piece(input.begin() + start, input.begin() + cuts[k]);
        start = cuts[k];
        size_t position = 0;
        for (uint32_t calls = 0;; ++calls) {
            check(calls < 64 + 16 * input.size());  // output full only while output comes
            Bytes buffer(outputSize + kGuardBytes, kGuard);
            uint32_t read = 0, written = 0;
            status = NLS_ConvertStream(
                object, piece.data() + position, static_cast<uint32_t>(piece.size() - position),
                buffer.data(), outputSize, k + 1 == cuts.size(), &read, &written);
            check(read <= piece.size() - position && written <= outputSize);
            for (uint32_t i = outputSize; i < buffer.size(); ++i) check(buffer[i] == kGuard);
            output->insert(output->end(), buffer.begin(), buffer.begin() + written);
            position += read;
            if (status != NLS_RESULT_TRUNCATED) break;
        }
        if (status != NLS_SUCCESS) return status;
        check(position == piece.size());
    }
    return status;
}

// What a text says, for targets whose bytes may differ where runs are cut
// (and ISO-2022-JP, which returns to ASCII where a stream ends, cut or not).
Bytes meaning(const char* encoding, const Bytes& text) {
    if (strcmp(encoding, "UNICODE-1-1-UTF-7") != 0 &&
        strcmp(encoding, "IMAP-MODIFIED-UTF-7") != 0 && strcmp(encoding, "ISO-2022-JP") != 0)
        return text;
    Bytes units(2 * text.size() + 2);
    uint32_t written = 0;
    NLS_ConvertBuffer(encoding, "ISO-10646-UCS-2", text.data(), static_cast<uint32_t>(text.size()),
                      units.data(), static_cast<uint32_t>(units.size()), &written);
    units.resize(written);
    return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > 4096) return 0;
    const char* from = kEncodings[data[0] % kEncodingCount];
    const char* to = kEncodings[data[1] % kEncodingCount];
    if (from == to && strcmp(from, "ISO-10646-UCS-2") == 0) return 0;  // no such converter
    const uint32_t firstSize = data[2] % 72;
    const uint32_t cutState = data[3] * 0x01010101u;
    const Bytes input(data + 4, data + size);

    // Every kernel set the CPU runs gives the portable code's text; the
    // checks below run on the best.
    Bytes expected, tail;
    NLS_Status expectedStatus = NLS_SUCCESS;
    bool portableDone = false;
    for (const char* kernel : {"scalar", "sse2", "avx2"}) {
        if (NLS_UseKernel(kernel) != NLS_SUCCESS) continue;
        EncodingConverter* whole = nullptr;
        check(NLS_NewEncodingConverter(from, to, &whole) == NLS_SUCCESS);
        Bytes text, textTail;
        expectedStatus = convertPiece(whole, input, static_cast<uint32_t>(input.size()) * 8 + 16,
                                      &text, &textTail);
        NLS_DeleteEncodingConverter(whole);
        if (portableDone) check(text == expected && textTail == tail);
        expected = text;
        tail = textTail;
        portableDone = true;
    }
    NLS_UseKernel(nullptr);

    EncodingConverter* streamed = nullptr;
    check(NLS_NewEncodingConverter(from, to, &streamed) == NLS_SUCCESS);
    Bytes output, carriedTail;
    convertPiece(streamed, input, firstSize, &output, &carriedTail);
    check(output == expected);
    check(carriedTail == tail);
    NLS_DeleteEncodingConverter(streamed);

    // The new call, whole and in pieces cut at offsets the fuzzer chooses:
    // the same text wherever it is cut.
    std::vector<size_t> cuts;
    uint32_t state = cutState;
    for (uint32_t k = 0; k < 1u + data[3] % 4u; ++k) {
        state = state * 1103515245u + 12345u;
        cuts.push_back(input.empty() ? 0 : (state >> 8) % (input.size() + 1));
    }
    std::sort(cuts.begin(), cuts.end());
    EncodingConverter* object = nullptr;
    check(NLS_NewEncodingConverter(from, to, &object) == NLS_SUCCESS);
    Bytes once;
    const NLS_Status onceStatus = streamPieces(object, input, {}, 4096, &once);
    // The older calls leave a malformed UTF-7 run out and read a byte above
    // 0x7F as its own unit, and a text cut short at its end is -1304 there;
    // the new one writes U+FFFD for all of them.
    const bool fromRuns =
        strcmp(from, "UNICODE-1-1-UTF-7") == 0 || strcmp(from, "IMAP-MODIFIED-UTF-7") == 0;
    if ((onceStatus == NLS_SUCCESS || onceStatus == NLS_SEQUENCE_INCOMPLETE) && !fromRuns &&
        expectedStatus != NLS_SEQUENCE_INCOMPLETE)
        check(meaning(to, once) == meaning(to, expected));
    if (onceStatus == NLS_SUCCESS) {
        Bytes joined;
        check(streamPieces(object, input, cuts, firstSize + 1, &joined) == NLS_SUCCESS);
        check(meaning(to, joined) == meaning(to, once));
    }
    NLS_DeleteEncodingConverter(object);

    // Under the policy the fuzzer chooses, the same output, status and
    // report whole and in pieces. (For UTF-7 sources the report is not
    // compared, nor status and text when the whole text ends in a cut run:
    // a run an earlier piece brought whole ends with a substitute instead,
    // and a chain may place a character of a run a few bytes apart.)
    const bool runs =
        strcmp(from, "UNICODE-1-1-UTF-7") == 0 || strcmp(from, "IMAP-MODIFIED-UTF-7") == 0;
    const int32_t policy = static_cast<int32_t>(data[2] >> 6);
    EncodingConverter* wholeObject = nullptr;
    EncodingConverter* cutObject = nullptr;
    check(NLS_NewEncodingConverter(from, to, &wholeObject) == NLS_SUCCESS);
    check(NLS_NewEncodingConverter(from, to, &cutObject) == NLS_SUCCESS);
    check(NLS_SetConversionPolicy(wholeObject, policy) == NLS_SUCCESS);
    check(NLS_SetConversionPolicy(cutObject, policy) == NLS_SUCCESS);
    Bytes wholeOutput, cutOutput;
    const NLS_Status wholeStatus = streamPieces(wholeObject, input, {}, 4096, &wholeOutput);
    const NLS_Status cutStatus = streamPieces(cutObject, input, cuts, firstSize + 1, &cutOutput);
    if (!runs || wholeStatus != NLS_SEQUENCE_INCOMPLETE) {
        check(wholeStatus == cutStatus);
        check(meaning(to, wholeOutput) == meaning(to, cutOutput));
    }
    NLS_ConversionReport wholeReport, cutReport;
    NLS_GetConversionReport(wholeObject, &wholeReport);
    NLS_GetConversionReport(cutObject, &cutReport);
    // (A text that ends in a cut character may count the bytes of it that
    // a piece brought as met or as unread: the reports are compared when the
    // text ends whole.)
    // (Where a chain stops, a character that a cut piece brought in the
    // carried bytes can still be reported after them: the text and status
    // are compared there, not the report.)
    // (A chain places a character that it carried across a cut at the start
    // of the next piece: offsets are compared where no cut lies just after
    // the first one.)
    const bool cutNearFirst = std::any_of(cuts.begin(), cuts.end(), [&](size_t cut) {
        return cut > static_cast<size_t>(wholeReport.firstOffset) &&
               cut <= static_cast<size_t>(wholeReport.firstOffset) + 8;
    });
    if (wholeStatus >= 0 && !runs) {
        check(wholeReport.firstKind == cutReport.firstKind);
        check(cutNearFirst || wholeReport.firstOffset == cutReport.firstOffset);
        check(wholeReport.substituted == cutReport.substituted);
    }
    check(wholeReport.firstKind == NLS_NO_SUBSTITUTION || wholeReport.firstOffset <= input.size());
    NLS_DeleteEncodingConverter(wholeObject);
    NLS_DeleteEncodingConverter(cutObject);
    return 0;
}
