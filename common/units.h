// Reading and writing UCS-2 and UCS-4 units in the machine's byte order, and
// placing the uncounted terminator after a converter's output.
#ifndef VELTA_COMMON_UNITS_H
#define VELTA_COMMON_UNITS_H

#include <stdint.h>
#include <string.h>

namespace velta {

inline uint16_t loadUnit(const unsigned char* p) {
    uint16_t unit;
    memcpy(&unit, p, sizeof unit);
    return unit;
}

inline void storeUnit(unsigned char* p, uint16_t unit) {
    memcpy(p, &unit, sizeof unit);
}

inline uint32_t loadUnit32(const unsigned char* p) {
    uint32_t unit;
    memcpy(&unit, p, sizeof unit);
    return unit;
}

inline void storeUnit32(unsigned char* p, uint32_t unit) {
    memcpy(p, &unit, sizeof unit);
}

// Units of a fixed byte order, whatever the machine's.
inline uint16_t loadUnitOrdered(const unsigned char* p, bool bigEndian) {
    return static_cast<uint16_t>(bigEndian ? p[0] << 8 | p[1] : p[1] << 8 | p[0]);
}

inline void storeUnitOrdered(unsigned char* p, uint16_t unit, bool bigEndian) {
    p[bigEndian ? 0 : 1] = static_cast<unsigned char>(unit >> 8);
    p[bigEndian ? 1 : 0] = static_cast<unsigned char>(unit);
}

inline uint32_t loadUnit32Ordered(const unsigned char* p, bool bigEndian) {
    return bigEndian ? static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]
                     : static_cast<uint32_t>(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
}

inline void storeUnit32Ordered(unsigned char* p, uint32_t unit, bool bigEndian) {
    for (int i = 0; i < 4; ++i)
        p[bigEndian ? i : 3 - i] = static_cast<unsigned char>(unit >> (24 - 8 * i));
}

inline bool isHighSurrogate(uint32_t unit) {
    return unit - 0xD800u < 0x400u;
}

inline bool isLowSurrogate(uint32_t unit) {
    return unit - 0xDC00u < 0x400u;
}

inline bool isSurrogate(uint32_t unit) {
    return unit - 0xD800u < 0x800u;
}

inline uint32_t joinSurrogates(uint32_t high, uint32_t low) {
    return 0x10000 + ((high - 0xD800u) << 10) + (low - 0xDC00u);
}

// The character at unit `p` of UCS-2 input: a surrogate pair joined into one
// code point of two units, any other unit itself; `cut` where a high
// surrogate ends the input and waits for its pair.
struct UnitCharacter {
    uint32_t codePoint;
    uint32_t units;
    bool cut;
};

inline UnitCharacter characterAt(const unsigned char* in, uint32_t units, uint32_t p) {
    const uint16_t unit = loadUnit(in + 2 * p);
    if (!isHighSurrogate(unit)) return {unit, 1, false};
    if (p + 1 == units) return {unit, 1, true};
    const uint16_t next = loadUnit(in + 2 * p + 2);
    if (!isLowSurrogate(next)) return {unit, 1, false};
    return {joinSurrogates(unit, next), 2, false};
}

inline bool bigEndianHost() {
    const uint16_t probe = 1;
    unsigned char first;
    memcpy(&first, &probe, 1);
    return first == 0;
}

// Copies the units of a run without surrogates that are already in the
// machine's order (at most `room` bytes); returns the bytes copied.
inline uint32_t copyUnitsWithoutSurrogates(const unsigned char* source, uint32_t length,
                                           unsigned char* target, uint32_t room) {
    const uint32_t limit = (length < room ? length : room) & ~1u;
    uint32_t done = 0;
    while (done < limit && !isSurrogate(loadUnit(source + done))) done += 2;
    memcpy(target, source, done);
    return done;
}

// The byte order of a Unicode form: fixed, or chosen by a byte-order mark at
// the start of a text (big-endian without one, as RFC 2781 says) and written
// as a mark and big-endian.
enum class ByteOrder { kBig, kLittle, kMarked };

// Each writes a zero terminator of its width after `written` bytes when it
// fits within the capacity; false when it does not.
inline bool appendByteTerminator(unsigned char* target, uint32_t written, uint32_t capacity) {
    if (written >= capacity) return false;
    target[written] = 0;
    return true;
}

inline bool appendUnitTerminator(unsigned char* target, uint32_t written, uint32_t capacity) {
    if (capacity < 2 || written > capacity - 2) return false;
    storeUnit(target + written, 0);
    return true;
}

inline bool appendUnit32Terminator(unsigned char* target, uint32_t written, uint32_t capacity) {
    if (capacity < 4 || written > capacity - 4) return false;
    storeUnit32(target + written, 0);
    return true;
}

}  // namespace velta

#endif
