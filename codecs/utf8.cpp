// UTF-8 (RFC 3629 forms, plus the older five- and six-byte forms) to and from
// UCS-2. No state is kept between calls: every consumed count lies at a
// character boundary, and a character cut by the end of the input (a high
// surrogate, for the encoder) is left for the next call.
#include <string.h>

#include <algorithm>
#include <typeinfo>

#include "codecs/utf8_steps.h"
#include "common/ascii_runs.h"
#include "common/step_shell.h"
#include "common/text_kernels.h"
#include "common/units.h"
#include "velta/factories.h"

using namespace velta;

namespace {

const char kUtf8Name[] = "UTF-8";
const char kUcs2Name[] = NLS_UCS2_NAME;
const unsigned short kUtf8Csid = 290;
const uint16_t kReplacement = 0xFFFD;
// Input (bytes or units) below which the vector kernel is not worth a call.
const uint32_t kKernelBlock = 64;
const uint32_t kStrictLookAhead = 4096;
// Input decoded a character at a time: the short step past malformed input.
const uint32_t kFewBytes = kPastMalformedBytes;

// Trailing bytes announced by a lead byte: 0xC0 110xxxxx 1, 0xE0 1110xxxx 2,
// 0xF0 11110xxx 3, 0xF8 111110xx 4, 0xFC 1111110x 5; bytes below 0xC0 none.
inline uint32_t trailingCount(unsigned char lead) {
    if (lead < 0xC0) return 0;
    if (lead < 0xE0) return 1;
    if (lead < 0xF0) return 2;
    if (lead < 0xF8) return 3;
    if (lead < 0xFC) return 4;
    return 5;
}

// Subtracted after the bytes are summed with 6-bit shifts: it removes the
// lead-byte marks and the 10xxxxxx marks of the trailing bytes.
const uint32_t kOffsets[6] = {0x00000000u, 0x00003080u, 0x000E2080u,
                              0x03C82080u, 0xFA082080u, 0x82082080u};

// The least value of each length: a smaller one is an overlong form, which
// could smuggle "/" or "\" past a check made on the bytes (RFC 3629, section
// 10). C0 80 is let through: Java's modified UTF-8 writes U+0000 so.
const uint32_t kLeastValues[6] = {0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};

inline bool isOverlong(uint32_t value, uint32_t trailing, const unsigned char* sequence) {
    return value < kLeastValues[trailing] && !(sequence[0] == 0xC0 && sequence[1] == 0x80);
}

inline uint32_t load32(const unsigned char* p) {
    uint32_t value;
    memcpy(&value, p, 4);
    return value;
}

inline bool littleEndianHost() {
    const uint16_t probe = 1;
    unsigned char first;
    memcpy(&first, &probe, 1);
    return first == 1;
}

// Runs of complete sequences of one length, decoded while room lasts: each
// returns the bytes taken and sets *produced to the output bytes. Values are
// computed by masks, which equals the offset arithmetic for well-formed
// trailing bytes; on little-endian hosts a sequence is checked from one
// 32-bit word.
inline uint32_t decodeTwoByteRun(const unsigned char* __restrict s, uint32_t length,
                                 unsigned char* __restrict target, uint32_t room,
                                 uint32_t* produced) {
    uint32_t in = 0, out = 0;
    while (length - in >= 2 && room - out >= 2 && s[in] >= 0xC2 && s[in] < 0xE0 &&
           isContinuation(s[in + 1])) {
        storeUnit(target + out,
                  static_cast<uint16_t>(((s[in] & 0x1Fu) << 6) | (s[in + 1] & 0x3Fu)));
        in += 2;
        out += 2;
    }
    *produced = out;
    return in;
}

inline uint32_t decodeThreeByteRun(const unsigned char* __restrict s, uint32_t length,
                                   unsigned char* __restrict target, uint32_t room,
                                   uint32_t* produced) {
    uint32_t in = 0, out = 0;
    if (littleEndianHost()) {
        // 1110xxxx 10xxxxxx 10xxxxxx as the low three bytes of a word.
        while (length - in >= 4 && room - out >= 2) {
            const uint32_t word = load32(s + in);
            if ((word & 0xC0C0F0u) != 0x8080E0u) break;
            const uint32_t unit =
                ((word & 0x0Fu) << 12) | ((word & 0x3F00u) >> 2) | ((word & 0x3F0000u) >> 16);
            // An overlong form or an encoded surrogate: the general form.
            if (unit < 0x800 || isSurrogate(unit)) break;
            storeUnit(target + out, static_cast<uint16_t>(unit));
            in += 3;
            out += 2;
        }
    }
    while (length - in >= 3 && room - out >= 2 && (s[in] & 0xF0) == 0xE0 &&
           isContinuation(s[in + 1]) && isContinuation(s[in + 2])) {
        const uint32_t unit =
            ((s[in] & 0x0Fu) << 12) | ((s[in + 1] & 0x3Fu) << 6) | (s[in + 2] & 0x3Fu);
        if (unit < 0x800 || isSurrogate(unit)) break;
        storeUnit(target + out, static_cast<uint16_t>(unit));
        in += 3;
        out += 2;
    }
    *produced = out;
    return in;
}

// 11110xxx 10xxxxxx 10xxxxxx 10xxxxxx, U+10000 to U+10FFFF: a surrogate pair.
inline bool fourByteValue(const unsigned char* s, uint32_t* value) {
    const bool wellFormed = littleEndianHost() ? (load32(s) & 0xC0C0C0F8u) == 0x808080F0u
                                               : (s[0] & 0xF8) == 0xF0 && isContinuation(s[1]) &&
                                                     isContinuation(s[2]) && isContinuation(s[3]);
    if (!wellFormed) return false;
    *value =
        ((s[0] & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) | (s[3] & 0x3Fu);
    return *value >= 0x10000 && *value <= 0x10FFFF;
}

inline void storePair(unsigned char* target, uint32_t value) {
    value -= 0x10000;
    storeUnit(target, static_cast<uint16_t>(0xD800 + (value >> 10)));
    storeUnit(target + 2, static_cast<uint16_t>(0xDC00 + (value & 0x3FF)));
}

inline uint32_t decodeFourByteRun(const unsigned char* __restrict s, uint32_t length,
                                  unsigned char* __restrict target, uint32_t room,
                                  uint32_t* produced) {
    uint32_t in = 0, out = 0, value = 0;
    while (length - in >= 4 && room - out >= 4 && fourByteValue(s + in, &value)) {
        storePair(target + out, value);
        in += 4;
        out += 4;
    }
    *produced = out;
    return in;
}

// A run of the form of the first lead byte (0xC0-0xF7), or nothing.
inline uint32_t decodeMultiByteRun(const unsigned char* s, uint32_t length, unsigned char* target,
                                   uint32_t room, uint32_t* produced) {
    *produced = 0;
    if (s[0] < 0xE0) return decodeTwoByteRun(s, length, target, room, produced);
    if (s[0] < 0xF0) return decodeThreeByteRun(s, length, target, room, produced);
    return decodeFourByteRun(s, length, target, room, produced);
}

// Runs of units that take one form, encoded while room lasts: each returns
// the units taken and sets *written to the output bytes.
inline uint32_t encodeTwoByteRun(const unsigned char* __restrict s, uint32_t units,
                                 unsigned char* __restrict target, uint32_t room,
                                 uint32_t* written) {
    uint32_t in = 0, out = 0, unit;
    while (in < units && room - out >= 2 && (unit = loadUnit(s + 2 * in)) >= 0x80 && unit < 0x800) {
        target[out] = static_cast<unsigned char>(0xC0 | (unit >> 6));
        target[out + 1] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
        ++in;
        out += 2;
    }
    *written = out;
    return in;
}

// With room for a whole word, a three-byte form is stored as one 32-bit word
// whose fourth byte the next character overwrites.
inline uint32_t encodeThreeByteRun(const unsigned char* __restrict s, uint32_t units,
                                   unsigned char* __restrict target, uint32_t room,
                                   uint32_t* written) {
    uint32_t in = 0, out = 0, unit;
    if (littleEndianHost() && room >= 4) {
        // Units whose words surely fit: each takes three bytes and its word
        // reaches one byte further.
        const uint32_t fit = (room - 1) / 3;
        const uint32_t count = units < fit ? units : fit;
        while (in < count) {
            unit = loadUnit(s + 2 * in);
            if (unit < 0x800 || unit - 0xD800 < 0x800) break;
            const uint32_t word = (0xE0u | (unit >> 12)) | ((0x80u | ((unit >> 6) & 0x3F)) << 8) |
                                  ((0x80u | (unit & 0x3F)) << 16);
            memcpy(target + 3 * in, &word, 4);
            ++in;
        }
        out = 3 * in;
    }
    while (in < units && room - out >= 3 && (unit = loadUnit(s + 2 * in)) >= 0x800 &&
           unit - 0xD800 >= 0x800) {
        target[out] = static_cast<unsigned char>(0xE0 | (unit >> 12));
        target[out + 1] = static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F));
        target[out + 2] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
        ++in;
        out += 3;
    }
    *written = out;
    return in;
}

inline uint32_t encodePairRun(const unsigned char* __restrict s, uint32_t units,
                              unsigned char* __restrict target, uint32_t room, uint32_t* written) {
    uint32_t in = 0, out = 0, high, low;
    while (units - in >= 2 && room - out >= 4 && isHighSurrogate(high = loadUnit(s + 2 * in)) &&
           isLowSurrogate(low = loadUnit(s + 2 * in + 2))) {
        out += writeUtf8Sequence(((high - 0xD800) << 10) + (low - 0xDC00) + 0x10000, target + out);
        in += 2;
    }
    *written = out;
    return in;
}

// A run of the form of the first unit (0x80 and above), or nothing.
inline uint32_t encodeMultiByteRun(const unsigned char* s, uint32_t units, unsigned char* target,
                                   uint32_t room, uint32_t* written) {
    *written = 0;
    const uint32_t first = loadUnit(s);
    if (first < 0x800) return encodeTwoByteRun(s, units, target, room, written);
    if (!isSurrogate(first)) return encodeThreeByteRun(s, units, target, room, written);
    return encodePairRun(s, units, target, room, written);
}

// ASCII widened while room lasts: a lone byte between other characters
// directly, a longer run by the kernel. Returns the bytes taken (0: no room).
inline uint32_t widenAscii(const TextKernels& kernels, const unsigned char* s, uint32_t length,
                           unsigned char* target, uint32_t room) {
    if (room < 2) return 0;
    if (length > 1 && s[1] < 0x80) {
        const uint32_t run = kernels.widenAscii(s, length, target, room);
        if (run != 0) return run;
    }
    storeUnit(target, s[0]);
    return 1;
}

// ASCII narrowed while room lasts, the same way. Returns the units taken.
inline uint32_t narrowAscii(const TextKernels& kernels, const unsigned char* s, uint32_t units,
                            unsigned char* target, uint32_t room) {
    if (room == 0) return 0;
    if (units > 1 && loadUnit(s + 2) < 0x80) {
        const uint32_t run = kernels.narrowAscii(s, units, target, room);
        if (run != 0) return run;
    }
    target[0] = static_cast<unsigned char>(loadUnit(s));
    return 1;
}

enum class Sequence { kComplete, kMalformed, kCut };

// Reads the sequence at s[0] by the general rule: its length (the bytes
// that make one U+FFFD when malformed) and its value.
inline Sequence readSequence(const unsigned char* s, uint32_t available, uint32_t* length,
                             uint32_t* value) {
    const unsigned char lead = s[0];
    const uint32_t trailing = lead < 0xC0 || lead >= 0xFE ? 0 : trailingCount(lead);
    *length = 1;
    if (trailing == 0) return Sequence::kMalformed;
    uint32_t sum = lead;
    for (uint32_t i = 1; i <= trailing; ++i) {
        if (i >= available) return Sequence::kCut;
        if (!isContinuation(s[i])) {
            *length = i;
            return Sequence::kMalformed;
        }
        sum = (sum << 6) + s[i];
    }
    *length = trailing + 1;
    *value = sum - kOffsets[trailing];
    return isOverlong(*value, trailing, s) || *value > 0x10FFFF ? Sequence::kMalformed
                                                                : Sequence::kComplete;
}

// An encoded surrogate, ED A0-BF: where a UTF-16 or UTF-32 target pairs
// surrogates by its own rule.
inline bool startsEncodedSurrogate(const unsigned char* s, uint32_t available) {
    return s[0] == 0xED && available > 1 && s[1] >= 0xA0 && s[1] < 0xC0;
}

// A lead byte followed by a byte that is not 10xxxxxx is malformed for the
// bytes read so far, and decoding resumes at that byte; so is a byte that
// cannot start a character (10xxxxxx, 0xFE, 0xFF) by itself. Complete
// sequences decode by their arithmetic, encoded surrogates included, so that
// everything the encoder writes comes back; an overlong sequence but C0 80
// is malformed. A sequence cut by the end of the input waits unread.
StepResult decodeSequence(bool strictUnicode, const unsigned char* source, uint32_t sourceLength,
                          uint32_t* in, unsigned char* target, uint32_t room, uint32_t* out) {
    uint32_t length = 0, value = kReplacement;
    Sequence sequence = readSequence(source + *in, sourceLength - *in, &length, &value);
    if (sequence == Sequence::kCut) return cutAtEnd(*in, *out);
    if (sequence == Sequence::kComplete && strictUnicode &&
        (isSurrogate(value) || source[*in] == 0xC0))
        sequence = Sequence::kMalformed;
    if (sequence == Sequence::kMalformed) return malformedAt(*in, *out, length);
    if (room < (value <= 0xFFFF ? 2u : 4u)) return outputFull(*in, *out);
    if (value <= 0xFFFF) {
        storeUnit(target + *out, static_cast<uint16_t>(value));
        *out += 2;
    } else {
        storePair(target + *out, value);
        *out += 4;
    }
    *in += length;
    return inputUsed(*in, *out);
}

// Where `byte` first lies in source[from, end), else `end`. (No memchr for
// no bytes: the input of an empty step may be null.)
uint32_t firstByteOf(unsigned char byte, const unsigned char* source, uint32_t from, uint32_t end) {
    if (end == from) return end;
    const void* found = memchr(source + from, byte, end - from);
    return found != nullptr
               ? static_cast<uint32_t>(static_cast<const unsigned char*>(found) - source)
               : end;
}

// Where the next lead byte of a form that only the lenient reading accepts
// (C0, ED) lies at or after `from`, looking no further than
// kStrictLookAhead bytes: else where the look ends (`length` at most). Text
// with malformed input every few bytes ends a step at each, and a look to
// the end of the input from every step took time that grew as the square
// of its length.
uint32_t strictLeadFrom(const unsigned char* source, uint32_t from, uint32_t length) {
    const uint32_t end = length - from > kStrictLookAhead ? from + kStrictLookAhead : length;
    const uint32_t c0 = firstByteOf(0xC0, source, from, end);
    return firstByteOf(0xED, source, from, c0);
}

bool isLenientLead(unsigned char byte) {
    return byte == 0xC0 || byte == 0xED;
}

// A surrogate with no partner beside it (a high one that ends the input
// waits for its pair instead).
inline bool isLoneSurrogate(const unsigned char* s, uint32_t units) {
    const uint32_t unit = loadUnit(s);
    if (!isSurrogate(unit) || (isHighSurrogate(unit) && units == 1)) return false;
    return !(isHighSurrogate(unit) && isLowSurrogate(loadUnit(s + 2)));
}

// One character by the general rule at unit `position`: a pair, or a unit
// from its own value (a lone surrogate too, unless read strictly); a high
// surrogate that ends the input waits for its pair.
inline StepResult encodeCharacter(bool strictUnicode, const unsigned char* source, uint32_t units,
                                  uint32_t* position, unsigned char* target, uint32_t room,
                                  uint32_t* out) {
    const unsigned char* s = source + 2 * *position;
    const uint32_t left = units - *position;
    uint32_t value = loadUnit(s);
    uint32_t count = 1;
    if (isHighSurrogate(value) && left == 1) return cutAtEnd(2 * *position, *out);
    if (strictUnicode && isLoneSurrogate(s, left)) return malformedAt(2 * *position, *out, 2);
    if (isHighSurrogate(value) && isLowSurrogate(loadUnit(s + 2))) {
        value = ((value - 0xD800) << 10) + (loadUnit(s + 2) - 0xDC00) + 0x10000;
        count = 2;
    }
    const uint32_t length = value < 0x80 ? 1 : value < 0x800 ? 2 : value < 0x10000 ? 3 : 4;
    if (room < length) return outputFull(2 * *position, *out);
    *out += writeUtf8Sequence(value, target + *out);
    *position += count;
    return inputUsed(2 * *position, *out);
}

// A few bytes a character at a time, where setting up the kernels and the
// runs would cost more than the text (a step past malformed input).
StepResult decodeFewUtf8(const Utf8StepOptions& options, const unsigned char* source,
                         uint32_t length, unsigned char* target, uint32_t capacity) {
    uint32_t in = 0, out = 0;
    for (;;) {
        const uint32_t run = widenAsciiRun(source + in, length - in, target + out, capacity - out);
        in += run;
        out += 2 * run;
        const uint32_t ascii = std::min(length - in, (capacity - out) / 2);
        for (const uint32_t end = in + ascii; in < end && source[in] < 0x80; ++in, out += 2)
            storeUnit(target + out, source[in]);
        if (in == length) return inputUsed(in, out);
        if (source[in] < 0x80) return outputFull(in, out);
        if (options.stopAtSurrogate && !options.strictUnicode &&
            startsEncodedSurrogate(source + in, length - in)) {
            *options.stoppedAtSurrogate = true;
            return inputUsed(in, out);
        }
        if (startsMalformedAlone(source + in, length - in)) return malformedAt(in, out, 1);
        // (Copies: the counters stay out of memory in the loop above.)
        uint32_t read = in, written = out;
        const StepResult result = decodeSequence(options.strictUnicode, source, length, &read,
                                                 target, capacity - out, &written);
        if (result.stop != Stop::kInputUsed) return result;
        in = read;
        out = written;
    }
}

}  // namespace

namespace velta {

bool startsPlainUtf8(const unsigned char* s, uint32_t length) {
    if (length == 0) return false;
    if (s[0] < 0x80) return true;
    if (s[0] >= 0xC2 && s[0] < 0xE0) return length >= 2 && isContinuation(s[1]);
    return s[0] > 0xE0 && s[0] < 0xF0 && s[0] != 0xED && length >= 3 && isContinuation(s[1]) &&
           isContinuation(s[2]);
}

StepResult decodeUtf8Units(const Utf8StepOptions& options, const unsigned char* source,
                           uint32_t sourceLength, unsigned char* target, uint32_t targetCapacity) {
    if (sourceLength <= kFewBytes)
        return decodeFewUtf8(options, source, sourceLength, target, targetCapacity);
    const TextKernels& kernels = textKernels();
    uint32_t in = 0, out = 0;
    uint32_t kernelFrom = 0;  // after an irregular character, the kernel waits a block
    // The strict reading takes the forms the fast paths let through (C0 80,
    // ED A0 80 and the like) one by one: the paths stop before their leads.
    uint32_t fastEnd =
        options.strictUnicode ? strictLeadFrom(source, 0, sourceLength) : sourceLength;
    while (in < sourceLength) {
        // Past a lead the look found, or at the end of a look that found none.
        if (in > fastEnd || (in == fastEnd && !isLenientLead(source[in])))
            fastEnd = strictLeadFrom(source, in, sourceLength);
        const uint32_t room = targetCapacity - out;
        uint32_t taken = 0, produced = 0;
        if (kernels.decodeUtf8 != nullptr && in >= kernelFrom && fastEnd - in >= kKernelBlock &&
            room >= 2 * kKernelBlock) {
            taken = kernels.decodeUtf8(source + in, fastEnd - in, target + out, room, &produced);
            kernelFrom = in + taken + 16;
        } else if (source[in] < 0x80) {
            taken = widenAscii(kernels, source + in, sourceLength - in, target + out, room);
            produced = 2 * taken;
            if (taken == 0) return outputFull(in, out);
        } else {
            if (source[in] >= 0xC0 && source[in] < 0xF8 && in < fastEnd)
                taken =
                    decodeMultiByteRun(source + in, fastEnd - in, target + out, room, &produced);
            // Strictly read, an encoded surrogate is malformed input, which
            // every target meets alike.
            if (taken == 0 && options.stopAtSurrogate && !options.strictUnicode &&
                startsEncodedSurrogate(source + in, sourceLength - in)) {
                *options.stoppedAtSurrogate = true;
                return inputUsed(in, out);
            }
            if (taken == 0) {
                const StepResult result = decodeSequence(options.strictUnicode, source,
                                                         sourceLength, &in, target, room, &out);
                if (result.stop != Stop::kInputUsed) return result;
            }
        }
        in += taken;
        out += produced;
    }
    return inputUsed(in, out);
}

// A surrogate pair becomes one four-byte sequence; a lone surrogate is
// written from its own value, but a high surrogate that ends the input waits
// for its pair. A final odd byte is no unit: it waits too.
StepResult encodeUtf8Units(const Utf8StepOptions& options, const unsigned char* source,
                           uint32_t sourceLength, unsigned char* target, uint32_t targetCapacity) {
    const TextKernels& kernels = textKernels();
    const uint32_t units = sourceLength / 2;
    uint32_t position = 0, out = 0;
    uint32_t kernelFrom = 0;  // after a lone surrogate, the kernel waits a block
    while (position < units) {
        const unsigned char* s = source + 2 * position;
        const uint32_t room = targetCapacity - out;
        uint32_t taken = 0, written = 0;
        if (kernels.encodeUtf8 != nullptr && position >= kernelFrom &&
            units - position >= kKernelBlock && room >= 4 * kKernelBlock) {
            taken = kernels.encodeUtf8(s, units - position, target + out, room, &written);
            kernelFrom = position + taken + 16;
        } else {
            if (loadUnit(s) < 0x80)
                taken = written = narrowAscii(kernels, s, units - position, target + out, room);
            else
                taken = encodeMultiByteRun(s, units - position, target + out, room, &written);
            if (taken == 0 && options.stopAtSurrogate && isLoneSurrogate(s, units - position)) {
                *options.stoppedAtSurrogate = true;
                return inputUsed(2 * position, out);
            }
            if (taken == 0) {
                const StepResult result = encodeCharacter(options.strictUnicode, source, units,
                                                          &position, target, room, &out);
                if (result.stop != Stop::kInputUsed) return result;
                continue;
            }
        }
        position += taken;
        out += written;
    }
    if (2 * position != sourceLength) return cutAtEnd(2 * position, out);
    return inputUsed(2 * position, out);
}

}  // namespace velta

namespace {

const TConverterIdentity kDecoder = {kUtf8Name, kUcs2Name, kUtf8Csid, 2, 0};
const TConverterIdentity kEncoder = {kUcs2Name, kUtf8Name, kUtf8Csid, 4, 1};

class TUTF8ToUnicodeConverter : public TStepShell<TUTF8ToUnicodeConverter> {
public:
    TUTF8ToUnicodeConverter() : TStepShell(kDecoder) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds) {
        const Utf8StepOptions options{false, nullptr, fOptions.strictUnicode};
        const auto decode = [&options](const unsigned char* in, uint32_t length, unsigned char* out,
                                       uint32_t capacity, bool) {
            return decodeUtf8Units(options, in, length, out, capacity);
        };
        if (!fPastMalformed) return decode(source, sourceLength, target, targetCapacity, textEnds);
        fPastMalformed = false;
        return stepPastMalformed(decode, source, sourceLength, target, targetCapacity, textEnds,
                                 nullptr);
    }
    void passedOver(const StepResult& result) { fPastMalformed = result.stop == Stop::kMalformed; }
    // A surrogate pair without room has always given -1303 (a unit without
    // room leaves none for the terminator either).
    NLS_Status outputFullStatus() const { return NLS_OUTPUT_FULL; }

private:
    bool fPastMalformed = false;  // the next step starts past replaced or skipped input
};

class TUnicodeToUTF8Converter : public TStepShell<TUnicodeToUTF8Converter, TVirtualConverterBase> {
public:
    TUnicodeToUTF8Converter() : TEncodingConverter(kEncoder), TStepShell(kEncoder) {}
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool) {
        return encodeUtf8Units({false, nullptr, fOptions.strictUnicode}, source, sourceLength,
                               target, targetCapacity);
    }
    // A character without room has always given -1304 where the terminator
    // still fits.
    NLS_Status outputFullStatus() const { return NLS_SEQUENCE_INCOMPLETE; }
};

}  // namespace

namespace velta {

// (By their types, which nothing derives from: a comparison, not a search.)
bool isUtf8Decoder(const TEncodingConverter* converter) {
    return typeid(*converter) == typeid(TUTF8ToUnicodeConverter);
}

bool isUtf8Encoder(const TEncodingConverter* converter) {
    return typeid(*converter) == typeid(TUnicodeToUTF8Converter);
}

}  // namespace velta

TEncodingConverter* NEWUTF8TOUNICODEENCODINGCONVERTER() {
    return newStepConverter<TUTF8ToUnicodeConverter>();
}

TEncodingConverter* NEWUNICODETOUTF8ENCODINGCONVERTER() {
    return newStepConverter<TUnicodeToUTF8Converter>();
}
