// The ASCII fast paths shared by the codecs: copy a run of bytes below 0x80
// eight at a time, widening to UCS-2 units or narrowing from them.
#ifndef VELTA_CODECS_ASCII_RUNS_H
#define VELTA_CODECS_ASCII_RUNS_H

#include <stdint.h>
#include <string.h>

#include "converters/units.h"

namespace velta {

const uint64_t kHighBitsOfBytes = 0x8080808080808080ull;
const uint64_t kHighBitsOfUnits = 0xFF80FF80FF80FF80ull;

// Widens ASCII bytes to units while both the input and the room allow whole
// blocks of eight; returns the number of bytes taken.
inline uint32_t widenAsciiRun(const unsigned char* source, uint32_t sourceLength,
                              unsigned char* target, uint32_t targetRoom) {
    uint32_t done = 0;
    while (sourceLength - done >= 8 && targetRoom - 2 * done >= 16) {
        uint64_t block;
        memcpy(&block, source + done, 8);
        if (block & kHighBitsOfBytes) break;
        for (int i = 0; i < 8; ++i) storeUnit(target + 2 * (done + i), source[done + i]);
        done += 8;
    }
    return done;
}

// Narrows ASCII units to bytes in blocks of four; returns the units taken.
inline uint32_t narrowAsciiRun(const unsigned char* source, uint32_t units, unsigned char* target,
                               uint32_t targetRoom) {
    uint32_t done = 0;
    while (units - done >= 4 && targetRoom - done >= 4) {
        uint64_t block;
        memcpy(&block, source + 2 * done, 8);
        if (block & kHighBitsOfUnits) break;
        for (int i = 0; i < 4; ++i) target[done + i] = source[2 * (done + i)] | source[2 * (done + i) + 1];
        done += 4;
    }
    return done;
}

}  // namespace velta

#endif
