// The UTF-8 steps that the UTF-8 converters and the direct converters
// between UTF-8 and the UTF-16 forms share: UTF-8 to and from UTF-16 units
// in the machine's order. Neither writes a terminator.
#ifndef VELTA_CODECS_UTF8_STEPS_H
#define VELTA_CODECS_UTF8_STEPS_H

#include <stdint.h>

#include "common/conversion_step.h"
#include "velta/converter.h"

namespace velta {

struct Utf8StepOptions {
    // Stop, reading nothing of it, before an encoded surrogate (decoding) or
    // a lone surrogate (encoding), and say so in *stoppedAtSurrogate: for a
    // target whose own rule pairs or replaces surrogates.
    bool stopAtSurrogate;
    bool* stoppedAtSurrogate;
    // C0 80 and encoded surrogates (decoding), lone surrogates (encoding)
    // are malformed (RFC 3629, Unicode chapter 3), not read as Java's
    // modified UTF-8 and CESU-8 would.
    bool strictUnicode;
};

// UTF-8 to UTF-16 units, stopping at malformed input.
StepResult decodeUtf8Units(const Utf8StepOptions& options, const unsigned char* source,
                           uint32_t sourceLength, unsigned char* target, uint32_t targetCapacity);

inline bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;  // 10xxxxxx
}

// Whether the text starts with a character that every reading decodes
// alike and only the room left can stop: ASCII, or a complete two- or
// three-byte sequence that is neither overlong nor an encoded surrogate.
// Asked once at the end of each piece of a stream.
bool startsPlainUtf8(const unsigned char* s, uint32_t length);

// Whether a few bytes start with a byte that is malformed alone in every
// reading: a lead or continuation byte that no continuation follows
// (Latin-1 text read as UTF-8 meets one every few bytes).
inline bool startsMalformedAlone(const unsigned char* s, uint32_t length) {
    return length > 1 && s[0] >= 0x80 && !isContinuation(s[1]);
}

// A step that starts just past malformed input the shell replaced or left
// out: text with such a byte every few (Latin-1 read as UTF-8) comes back
// after each, and the vector kernels would start and stop at the next at
// once. Its first bytes go through a step too short for them (without the
// text's end, so that a character they cut waits), the rest through
// another. `stoppedAtSurrogate` (or null) is the steps' own flag.
enum : uint32_t { kPastMalformedBytes = 16 };
template <typename Step>
StepResult stepPastMalformed(Step step, const unsigned char* source, uint32_t length,
                             unsigned char* target, uint32_t capacity, bool textEnds,
                             const bool* stoppedAtSurrogate) {
    if (length <= kPastMalformedBytes) return step(source, length, target, capacity, textEnds);
    const StepResult first = step(source, kPastMalformedBytes, target, capacity, false);
    const bool goesOn = first.stop == Stop::kInputUsed || first.stop == Stop::kCutAtEnd;
    if (!goesOn || (stoppedAtSurrogate != nullptr && *stoppedAtSurrogate)) return first;
    StepResult rest = step(source + first.read, length - first.read, target + first.written,
                           capacity - first.written, textEnds);
    rest.read += first.read;
    rest.written += first.written;
    return rest;
}

// Whether a converter is the library's UTF-8 converter to UCS-2, or from it.
bool isUtf8Decoder(const TEncodingConverter* converter);
bool isUtf8Encoder(const TEncodingConverter* converter);

// The bytes of one value, 1 to 4 of them; returns how many.
inline uint32_t writeUtf8Sequence(uint32_t value, unsigned char* p) {
    if (value < 0x80) {
        p[0] = static_cast<unsigned char>(value);
        return 1;
    }
    if (value < 0x800) {  // 110xxxxx 10xxxxxx
        p[0] = static_cast<unsigned char>(0xC0 | (value >> 6));
        p[1] = static_cast<unsigned char>(0x80 | (value & 0x3F));
        return 2;
    }
    if (value < 0x10000) {  // 1110xxxx 10xxxxxx 10xxxxxx
        p[0] = static_cast<unsigned char>(0xE0 | (value >> 12));
        p[1] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | (value & 0x3F));
        return 3;
    }
    // 11110xxx 10xxxxxx 10xxxxxx 10xxxxxx
    p[0] = static_cast<unsigned char>(0xF0 | (value >> 18));
    p[1] = static_cast<unsigned char>(0x80 | ((value >> 12) & 0x3F));
    p[2] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
    p[3] = static_cast<unsigned char>(0x80 | (value & 0x3F));
    return 4;
}

// UTF-16 units to UTF-8.
StepResult encodeUtf8Units(const Utf8StepOptions& options, const unsigned char* source,
                           uint32_t sourceLength, unsigned char* target, uint32_t targetCapacity);

}  // namespace velta

#endif
