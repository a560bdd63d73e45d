#include "api/exact_convert.h"

#include <stdint.h>
#include <string.h>

#include <atomic>
#include <mutex>
#include <unordered_map>

#include "velta/encoding_converter.h"

namespace velta {

namespace {

// No converter writes more than this for one input byte, and ending a text
// (closing a UTF-7 run, returning ISO-2022-JP to ASCII) adds at most
// kClosingRoom: a step given n bytes and 8n + 16 bytes of room cannot fill it.
constexpr size_t kOutputPerInputByte = 8;
constexpr size_t kClosingRoom = 16;
// The conversion object writes straight into the caller's buffer while it has
// 64 bytes free; below that it fills the buffer from a step it holds, which
// may split a character. So a step is given all but the last 80 bytes of the
// output, and what the object still holds then goes into those; the last
// bytes of an output are filled from a scratch buffer, one small step (whose
// output surely fits) at a time.
constexpr size_t kDirectRoom = 64;
constexpr size_t kScratchSize = 256;
constexpr int kIdleStepsAtMost = 4;
constexpr size_t kLargestScratchStep =
    (kScratchSize - kDirectRoom - kClosingRoom) / kOutputPerInputByte;

// Output of input that the object has converted but whose output did not fit:
// the caller, told that the input was not read, comes back with it.
struct PendingOutput {
    unsigned char bytes[kScratchSize];
    size_t size;
    size_t input;
    uint32_t substitutions;  // counted in the report, not yet in the output
};

std::mutex gPendingLock;
std::atomic<size_t> gPendingCount{0};

std::unordered_map<const EncodingConverter*, PendingOutput>& pendingOutputs() {
    static std::unordered_map<const EncodingConverter*, PendingOutput> outputs;
    return outputs;
}

// The length of the ISO 2022 escape sequence (ESC, intermediate bytes
// 0x20-0x2F, a final byte 0x30-0x7E) that starts `bytes`, else 0.
size_t leadingEscapeLength(const unsigned char* bytes, size_t size) {
    if (size < 2 || bytes[0] != 0x1B) return 0;
    size_t length = 1;
    while (length < size && bytes[length] >= 0x20 && bytes[length] <= 0x2F) ++length;
    if (length == 1 || length == size || bytes[length] < 0x30 || bytes[length] > 0x7E) return 0;
    return length + 1;
}

// The length of an escape sequence that ends `bytes`, else 0.
size_t trailingEscapeLength(const unsigned char* bytes, size_t size) {
    for (size_t length = 2; length <= 4 && length <= size; ++length)
        if (leadingEscapeLength(bytes + size - length, length) == length) return length;
    return 0;
}

// What glibc writes on its own before a character that does not fit: a
// shift sequence, or the byte-order mark that starts a UTF-16 or UTF-32 text.
size_t leadingShiftLength(const unsigned char* bytes, size_t size) {
    static const unsigned char kMarks[][4] = {{0xFF, 0xFE, 0, 0}, {0, 0, 0xFE, 0xFF}};
    for (const unsigned char* mark : kMarks)
        if (size > 4 && memcmp(bytes, mark, 4) == 0) return 4;
    if (size > 2 &&
        ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF)))
        return 2;
    return leadingEscapeLength(bytes, size);
}

void keepPendingOutput(EncodingConverter* object, const unsigned char* bytes, size_t size,
                       size_t input, uint32_t substitutions) {
    PendingOutput pending;
    memcpy(pending.bytes, bytes, size);
    pending.size = size;
    pending.input = input;
    pending.substitutions = substitutions;
    std::lock_guard<std::mutex> guard(gPendingLock);
    auto inserted = pendingOutputs().insert_or_assign(object, pending);
    if (inserted.second) gPendingCount.fetch_add(1, std::memory_order_relaxed);
}

// Writes what an earlier call kept and steps over the input it stands for.
// False when it does not fit yet.
bool deliverPendingOutput(EncodingConverter* object, size_t srcLength, unsigned char* dst,
                          size_t dstCapacity, ExactResult* result, bool* shiftOnly) {
    if (gPendingCount.load(std::memory_order_relaxed) == 0) return true;
    std::lock_guard<std::mutex> guard(gPendingLock);
    auto found = pendingOutputs().find(object);
    if (found == pendingOutputs().end()) return true;
    PendingOutput& pending = found->second;
    if (pending.input > srcLength) {  // the caller has given up that input
        pendingOutputs().erase(found);
        gPendingCount.fetch_sub(1, std::memory_order_relaxed);
        return true;
    }
    if (pending.size > dstCapacity) {  // nothing more is read
        const size_t shift = leadingShiftLength(pending.bytes, pending.size);
        if (shift != 0 && shift <= dstCapacity) {
            memcpy(dst, pending.bytes, shift);
            memmove(pending.bytes, pending.bytes + shift, pending.size - shift);
            pending.size -= shift;
            result->written = shift;
        }
        return false;
    }
    if (pending.size != 0) memcpy(dst, pending.bytes, pending.size);
    result->written = pending.size;
    result->read = pending.input;
    *shiftOnly = pending.input == 0;
    pendingOutputs().erase(found);
    gPendingCount.fetch_sub(1, std::memory_order_relaxed);
    return true;
}

uint32_t substitutionsSoFar(EncodingConverter* object) {
    NLS_ConversionReport report = {0, NLS_NO_SUBSTITUTION, 0};
    NLS_GetConversionReport(object, &report);
    return report.substituted;
}

size_t smallest(size_t a, size_t b) {
    return a < b ? a : b;
}

// How many input bytes the next step may take so that its output surely fits.
size_t safeStepLength(size_t room) {
    if (room <= kDirectRoom + kClosingRoom)
        return room > kClosingRoom ? (room - kClosingRoom) / kOutputPerInputByte : 0;
    return (room - kDirectRoom - kClosingRoom) / kOutputPerInputByte;
}

// After a step that filled its part of the output, the object may hold the
// rest of a character: it goes into the room kept free after that part.
NLS_Status deliverHeldOutput(EncodingConverter* object, unsigned char* target, size_t capacity,
                             bool ends, uint32_t* written) {
    uint32_t read = 0, delivered = 0;
    const NLS_Status status = NLS_ConvertStream(object, nullptr, 0, target + *written,
                                                static_cast<uint32_t>(capacity - *written),
                                                ends ? 1 : 0, &read, &delivered);
    *written += delivered;
    return status;
}

}  // namespace

uint32_t pendingSubstitutions(EncodingConverter* object) {
    if (gPendingCount.load(std::memory_order_relaxed) == 0) return 0;
    std::lock_guard<std::mutex> guard(gPendingLock);
    auto found = pendingOutputs().find(object);
    return found != pendingOutputs().end() ? found->second.substitutions : 0;
}

void forgetExactState(EncodingConverter* object) {
    if (gPendingCount.load(std::memory_order_relaxed) == 0) return;
    std::lock_guard<std::mutex> guard(gPendingLock);
    if (pendingOutputs().erase(object) != 0) gPendingCount.fetch_sub(1, std::memory_order_relaxed);
}

ExactResult convertExactInSlices(EncodingConverter* object, const unsigned char* src,
                                 size_t srcLength, unsigned char* dst, size_t dstCapacity,
                                 bool last, size_t slice) {
    ExactResult result = {NLS_SUCCESS, 0, 0};
    if (object == nullptr || (src == nullptr && srcLength != 0) ||
        (dst == nullptr && dstCapacity != 0) || slice == 0) {
        result.status = NLS_INVALID_PARAMETER;
        return result;
    }
    if (slice > UINT32_MAX) slice = UINT32_MAX;
    object->setExactInput(true);
    bool shiftOnly = false;
    if (!deliverPendingOutput(object, srcLength, dst, dstCapacity, &result, &shiftOnly)) {
        result.status = NLS_RESULT_TRUNCATED;
        result.read = 0;
        return result;
    }
    // A return to the initial state that a stop left waiting goes out before
    // the next output, or at the end of the text; a call that writes nothing
    // else leaves it waiting.
    const size_t waitingShift = shiftOnly && !last ? result.written : 0;
    const auto settle = [&](ExactResult settled) {
        if (waitingShift != 0 && settled.written == waitingShift) {
            keepPendingOutput(object, dst, waitingShift, 0, 0);
            settled.written = 0;
        }
        return settled;
    };
    // The bytes of a cut character the object keeps come again first.
    size_t position = result.read + smallest(object->carriedInputSize(), srcLength - result.read);
    // Input that made no output yet (a cut character, an escape sequence)
    // belongs to the character that follows it.
    size_t outputEnd = result.read;
    uint32_t substitutedAtOutputEnd = substitutionsSoFar(object);
    unsigned char scratch[kScratchSize];
    int idleSteps = 0;
    size_t outputRate = 4 * 16;  // output bytes per 16 input bytes
    for (;;) {
        const size_t left = srcLength - position;
        const size_t room = dstCapacity - result.written;
        const bool direct = room > kDirectRoom + kClosingRoom;
        // A direct step gets about the input that fills three quarters of its
        // output, at the rate of output to input seen so far (guessed at 4
        // first): some converters cost what they are given, not what they
        // convert, and filling the last bytes costs the object a held step.
        size_t length = direct ? (room - kDirectRoom - kClosingRoom) * 12 / outputRate + 1
                               : smallest(safeStepLength(room), kLargestScratchStep);
        if (length == 0) length = 1;
        length = smallest(smallest(length, left), slice);
        const bool stepEnds = last && length == left;
        unsigned char* target = direct ? dst + result.written : scratch;
        const size_t targetLength =
            direct ? smallest(room - kDirectRoom - kClosingRoom, slice) : kScratchSize;
        const size_t carriedBefore = object->carriedInputSize();
        uint32_t read = 0, written = 0;
        NLS_Status status = NLS_ConvertStream(
            object, src != nullptr ? src + position : nullptr, static_cast<uint32_t>(length),
            target, static_cast<uint32_t>(targetLength), stepEnds ? 1 : 0, &read, &written);
        if (direct && status == NLS_RESULT_TRUNCATED)
            status = deliverHeldOutput(object, target, smallest(room, slice),
                                       stepEnds && read == length, &written);
        const size_t carriedAfter = object->carriedInputSize();
        // A stop at malformed input ends a chain's text, which returns a
        // stateful target to its initial state (ESC ( B): that waits, as
        // glibc writes it, for the reset call or the next character.
        const bool stopped = status < 0 && status != NLS_SEQUENCE_INCOMPLETE;
        const size_t closing = stopped ? trailingEscapeLength(target, written) : 0;
        unsigned char closingBytes[4];
        if (closing != 0) memcpy(closingBytes, target + written - closing, closing);
        written -= static_cast<uint32_t>(closing);
        if (!direct && written > room) {
            // Converted, but its output does not fit: kept for the next call,
            // and the input it came from counts as not read. A shift sequence
            // that opens it goes out now if it fits, as glibc writes it.
            const size_t end = position + read - carriedAfter;
            const size_t shift = leadingShiftLength(scratch, written);
            const size_t early = shift <= room ? shift : 0;
            if (early != 0) memcpy(dst + result.written, scratch, early);
            result.written += early;
            keepPendingOutput(object, scratch + early, written - early, end - outputEnd,
                              substitutionsSoFar(object) - substitutedAtOutputEnd);
            result.status = NLS_RESULT_TRUNCATED;
            result.read = outputEnd;
            return result;
        }
        if (direct && read != 0) outputRate = written * 16 / read < 4 ? 4 : written * 16 / read;
        if (!direct && written != 0) memcpy(dst + result.written, scratch, written);
        result.written += written;
        position += read;
        if (written != 0) {
            outputEnd = position - smallest(carriedAfter, position);
            substitutedAtOutputEnd = substitutionsSoFar(object);
        }
        // With the scratch buffer's room, a 2 only asks for another call (a
        // chain delivering what it still holds).
        if (status == NLS_RESULT_TRUNCATED && !direct && idleSteps++ < kIdleStepsAtMost) continue;
        if (status == NLS_SUCCESS) {
            if (position < srcLength || (last && !stepEnds)) continue;
            result.status = carriedAfter != 0 ? NLS_SEQUENCE_INCOMPLETE : NLS_SUCCESS;
            result.read = position - carriedAfter;
            return settle(result);
        }
        if (closing != 0) keepPendingOutput(object, closingBytes, closing, 0, 0);
        // A character the target lacks after an output that is already full:
        // glibc says E2BIG first, and the next call meets the character again.
        result.status = room == 0 && status == NLS_UNMAPPABLE ? NLS_RESULT_TRUNCATED : status;
        if (status == NLS_SEQUENCE_INCOMPLETE)
            result.read = position - smallest(carriedBefore, position);
        else
            result.read =
                position - smallest(carriedAfter + object->stopBehindPieceSize(), position);
        return settle(result);
    }
}

ExactResult convertExact(EncodingConverter* object, const unsigned char* src, size_t srcLength,
                         unsigned char* dst, size_t dstCapacity, bool last) {
    return convertExactInSlices(object, src, srcLength, dst, dstCapacity, last, UINT32_MAX);
}

}  // namespace velta
