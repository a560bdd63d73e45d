// Reading and writing UCS-2 and UCS-4 units in the machine's byte order, and
// placing the uncounted terminator after a converter's output.
#ifndef VELTA_CONVERTERS_UNITS_H
#define VELTA_CONVERTERS_UNITS_H

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

inline bool isHighSurrogate(uint32_t unit) {
    return unit - 0xD800u < 0x400u;
}

inline bool isLowSurrogate(uint32_t unit) {
    return unit - 0xDC00u < 0x400u;
}

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
