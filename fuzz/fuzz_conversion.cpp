// Fuzzes every built-in converter and every chain through a conversion
// object. The first bytes choose the pair, the first output size and where
// the input is cut; the rest is the input. Checked: no write past an output
// (guard bytes), the carried input never exceeds the input, the drain loop
// ends, and the streamed output equals the one-shot output.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "velta/nls.h"

namespace {

const char* const kEncodings[] = {"ISO_8859-1:1987",     "x-mac-roman",    "ISO-10646-UCS-4",
                                  "ESCAPED_UNICODE",     "UTF-8",          "UNICODE-1-1-UTF-7",
                                  "IMAP-MODIFIED-UTF-7", "ISO-10646-UCS-2"};
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

// Converts a piece and drains it by the documented protocol; returns the
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

// The input cut after line feed units (in the unit width of the source).
std::vector<Bytes> cutAfterLineFeeds(const Bytes& input, uint32_t width, uint32_t cutMask) {
    std::vector<Bytes> pieces(1);
    for (size_t i = 0; i < input.size(); ++i) {
        pieces.back().push_back(input[i]);
        const bool unitEnd = (i + 1) % width == 0;
        bool lineFeed = unitEnd && input[i + 1 - width] == '\n';
        for (uint32_t k = 1; lineFeed && k < width; ++k) lineFeed = input[i + 1 - width + k] == 0;
        if (lineFeed && (cutMask >> (i % 31)) & 1) pieces.emplace_back();
    }
    return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > 4096) return 0;
    const char* from = kEncodings[data[0] % 8];
    const char* to = kEncodings[data[1] % 8];
    if (from == to && data[0] % 8 == 7) return 0;  // no UCS-2 to UCS-2 converter
    const uint32_t firstSize = data[2] % 72;
    const uint32_t cutMask = data[3] * 0x01010101u;
    const Bytes input(data + 4, data + size);

    EncodingConverter* whole = nullptr;
    check(NLS_NewEncodingConverter(from, to, &whole) == NLS_SUCCESS);
    Bytes expected, tail;
    convertPiece(whole, input, static_cast<uint32_t>(input.size()) * 8 + 16, &expected, &tail);
    NLS_DeleteEncodingConverter(whole);

    EncodingConverter* streamed = nullptr;
    check(NLS_NewEncodingConverter(from, to, &streamed) == NLS_SUCCESS);
    Bytes output, carriedTail;
    convertPiece(streamed, input, firstSize, &output, &carriedTail);
    check(output == expected);
    check(carriedTail == tail);
    NLS_DeleteEncodingConverter(streamed);

    // Pieces cut after line feeds, each drained, with the cut tail carried
    // on. (Modified UTF-7 writes a line feed in base64, so its runs would
    // be cut: it is left out as a target here.)
    if (strcmp(to, "IMAP-MODIFIED-UTF-7") != 0) {
        const uint32_t width = strcmp(from, "ISO-10646-UCS-4") == 0   ? 4
                               : strcmp(from, "ISO-10646-UCS-2") == 0 ? 2
                                                                      : 1;
        EncodingConverter* pieces = nullptr;
        check(NLS_NewEncodingConverter(from, to, &pieces) == NLS_SUCCESS);
        Bytes joined, carry;
        for (const Bytes& cut : cutAfterLineFeeds(input, width, cutMask)) {
            Bytes piece(carry);
            piece.insert(piece.end(), cut.begin(), cut.end());
            convertPiece(pieces, piece, firstSize + 8, &joined, &carry);
        }
        check(joined == expected);
        NLS_DeleteEncodingConverter(pieces);
    }
    return 0;
}
