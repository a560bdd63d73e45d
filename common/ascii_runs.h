// The ASCII fast paths shared by the codecs: copy a run of bytes below 0x80
// widening them to UCS-2 units, or narrow a run of units below 0x80 to bytes.
// Each has a portable scalar form and, where the compiler targets SSE2, a
// vector form; both give the same result (the tests compare them).
#ifndef VELTA_COMMON_ASCII_RUNS_H
#define VELTA_COMMON_ASCII_RUNS_H

#include <stdint.h>
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/units.h"

namespace velta {

const uint64_t kHighBitsOfBytes = 0x8080808080808080ull;

// Bytes of a little-endian block of eight before its first byte >= 0x80.
inline uint32_t leadingAsciiBytes(uint64_t block) {
    const uint64_t high = block & kHighBitsOfBytes;
    return high == 0 ? 8 : static_cast<uint32_t>(__builtin_ctzll(high)) / 8;
}

inline bool littleEndianHost() {
    const uint16_t probe = 1;
    unsigned char first;
    memcpy(&first, &probe, 1);
    return first == 1;
}

// Widens ASCII bytes to units, eight at a time while the input and the room
// allow, then a byte at a time: the run ends where the ASCII, the input or
// the room does (a caller at the end of a stream's piece would otherwise
// come back for each of the last few bytes). Returns the number of bytes
// taken.
inline uint32_t widenAsciiRunScalar(const unsigned char* source, uint32_t sourceLength,
                                    unsigned char* target, uint32_t targetRoom) {
    uint32_t done = 0;
    while (sourceLength - done >= 8 && targetRoom / 2 - done >= 8) {
        uint64_t block;
        memcpy(&block, source + done, 8);
        const uint32_t ascii =
            littleEndianHost() ? leadingAsciiBytes(block) : ((block & kHighBitsOfBytes) ? 0 : 8);
        for (uint32_t i = 0; i < ascii; ++i) storeUnit(target + 2 * (done + i), source[done + i]);
        done += ascii;
        if (ascii != 8) return done;
    }
    const uint32_t roomLeft = targetRoom / 2 - done;
    const uint32_t end = done + (sourceLength - done < roomLeft ? sourceLength - done : roomLeft);
    for (; done < end && source[done] < 0x80; ++done) storeUnit(target + 2 * done, source[done]);
    return done;
}

// Narrows ASCII units to bytes, four at a time, then a unit at a time: the
// run ends where the ASCII, the input or the room does. Returns the units
// taken.
inline uint32_t narrowAsciiRunScalar(const unsigned char* source, uint32_t units,
                                     unsigned char* target, uint32_t targetRoom) {
    uint32_t done = 0;
    while (units - done >= 4 && targetRoom - done >= 4) {
        uint32_t ascii = 0;
        while (ascii < 4 && loadUnit(source + 2 * (done + ascii)) < 0x80) {
            target[done + ascii] =
                static_cast<unsigned char>(loadUnit(source + 2 * (done + ascii)));
            ++ascii;
        }
        done += ascii;
        if (ascii != 4) return done;
    }
    const uint32_t end =
        done + (units - done < targetRoom - done ? units - done : targetRoom - done);
    for (; done < end && loadUnit(source + 2 * done) < 0x80; ++done)
        target[done] = static_cast<unsigned char>(loadUnit(source + 2 * done));
    return done;
}

#if defined(__SSE2__)
inline uint32_t widenAsciiRunVector(const unsigned char* source, uint32_t sourceLength,
                                    unsigned char* target, uint32_t targetRoom) {
    uint32_t done = 0;
    const __m128i zero = _mm_setzero_si128();
    while (sourceLength - done >= 16 && targetRoom / 2 - done >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done));
        // Units are little-endian on every SSE2 machine. All 32 bytes are
        // stored (they lie within the room); only the leading ASCII counts.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 2 * done),
                         _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 2 * done + 16),
                         _mm_unpackhi_epi8(bytes, zero));
        const int nonAscii = _mm_movemask_epi8(bytes);
        if (nonAscii != 0)
            return done + static_cast<uint32_t>(__builtin_ctz(static_cast<unsigned>(nonAscii)));
        done += 16;
    }
    return done + widenAsciiRunScalar(source + done, sourceLength - done, target + 2 * done,
                                      targetRoom - 2 * done);
}

inline uint32_t narrowAsciiRunVector(const unsigned char* source, uint32_t units,
                                     unsigned char* target, uint32_t targetRoom) {
    uint32_t done = 0;
    const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    while (units - done >= 16 && targetRoom - done >= 16) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * done));
        const __m128i high =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * done + 16));
        const int asciiLow = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(low, nonAscii), zero));
        const int asciiHigh =
            _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(high, nonAscii), zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + done), _mm_packus_epi16(low, high));
        const unsigned outside = ~static_cast<unsigned>(asciiLow | asciiHigh << 16);
        if (outside != 0) return done + static_cast<uint32_t>(__builtin_ctz(outside)) / 2;
        done += 16;
    }
    return done +
           narrowAsciiRunScalar(source + 2 * done, units - done, target + done, targetRoom - done);
}
#endif

inline uint32_t widenAsciiRun(const unsigned char* source, uint32_t sourceLength,
                              unsigned char* target, uint32_t targetRoom) {
#if defined(__SSE2__)
    return widenAsciiRunVector(source, sourceLength, target, targetRoom);
#else
    return widenAsciiRunScalar(source, sourceLength, target, targetRoom);
#endif
}

inline uint32_t narrowAsciiRun(const unsigned char* source, uint32_t units, unsigned char* target,
                               uint32_t targetRoom) {
#if defined(__SSE2__)
    return narrowAsciiRunVector(source, units, target, targetRoom);
#else
    return narrowAsciiRunScalar(source, units, target, targetRoom);
#endif
}

}  // namespace velta

#endif
