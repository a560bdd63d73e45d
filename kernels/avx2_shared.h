// What the AVX2 kernels of the library and of the converter libraries share:
// unaligned loads and stores, the pshufb tables that pack the bytes kept of
// each lane, and the widening and narrowing of ASCII runs. Included only
// where the compiler targets x86-64.
#ifndef VELTA_KERNELS_AVX2_SHARED_H
#define VELTA_KERNELS_AVX2_SHARED_H

#include <immintrin.h>
#include <stdint.h>
#include <string.h>

#include "common/ascii_runs.h"

#define VELTA_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))

namespace velta {
namespace {

VELTA_AVX2 inline __m128i load32(const unsigned char* p) {
    int32_t bytes;
    memcpy(&bytes, p, sizeof bytes);
    return _mm_cvtsi32_si128(bytes);
}

VELTA_AVX2 inline __m128i load64(const unsigned char* p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

VELTA_AVX2 inline void store64(unsigned char* p, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

VELTA_AVX2 inline __m128i load128(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

VELTA_AVX2 inline __m256i load256(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

VELTA_AVX2 inline void store128(unsigned char* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

VELTA_AVX2 inline void store256(unsigned char* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// pshufb patterns for each 128-bit half, with the bytes each keeps.
struct BytePackTable {
    unsigned char pattern[256][16];
    unsigned char count[256];
};

// Stores the bytes that the patterns `first` and `second` keep of the two
// 128-bit halves of `bytes`, one after the other; returns their number.
VELTA_AVX2 inline uint32_t storePacked(__m256i bytes, const BytePackTable& table, uint32_t first,
                                       uint32_t second, unsigned char* target) {
    const __m256i packed = _mm256_shuffle_epi8(
        bytes, _mm256_inserti128_si256(_mm256_castsi128_si256(load128(table.pattern[first])),
                                       load128(table.pattern[second]), 1));
    store128(target, _mm256_castsi256_si128(packed));
    store128(target + table.count[first], _mm256_extracti128_si256(packed, 1));
    return table.count[first] + table.count[second];
}

// pshufb patterns for eight 16-bit lanes holding one byte (ASCII) or two
// (first byte lowest), indexed by a bit a lane for "two", with the bytes kept.
constexpr BytePackTable makeTwoBytePackTable() {
    BytePackTable table{};
    for (int index = 0; index < 256; ++index) {
        int kept = 0;
        for (int lane = 0; lane < 8; ++lane) {
            table.pattern[index][kept++] = static_cast<unsigned char>(2 * lane);
            if (index >> lane & 1)
                table.pattern[index][kept++] = static_cast<unsigned char>(2 * lane + 1);
        }
        table.count[index] = static_cast<unsigned char>(kept);
        for (int byte = kept; byte < 16; ++byte) table.pattern[index][byte] = 0x80;
    }
    return table;
}

constexpr BytePackTable kTwoBytePack = makeTwoBytePackTable();

// Sixteen units in the order asked for: the machine's, or each lane's bytes
// swapped (UTF-16 of the other order).
template <bool swap>
VELTA_AVX2 inline __m256i ordered(__m256i units) {
    if (!swap) return units;
    return _mm256_shuffle_epi8(
        units, _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5,
                                4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
}

template <bool swap>
VELTA_AVX2 inline __m256i loadUnits(const unsigned char* p) {
    return ordered<swap>(load256(p));
}

// A mask for sixteen units read as they lie, in the order asked for. Tests
// of bits and of equality need no swap of the units then, and a branch on
// them does not wait for one.
template <bool swap>
VELTA_AVX2 inline __m256i unitMask(uint16_t mask) {
    const uint16_t lying = swap ? static_cast<uint16_t>(mask >> 8 | mask << 8) : mask;
    return _mm256_set1_epi16(static_cast<short>(lying));
}

// Eight UCS-4 values in the order asked for.
template <bool swap>
VELTA_AVX2 inline __m256i ordered32(__m256i values) {
    if (!swap) return values;
    return _mm256_shuffle_epi8(
        values, _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0,
                                 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
}

template <bool swap, bool ucs4>
VELTA_AVX2 inline void widenThirtyTwo(__m256i bytes, unsigned char* target) {
    if (ucs4) {
        for (int quarter = 0; quarter < 4; ++quarter) {
            const __m128i eight =
                quarter < 2 ? _mm256_castsi256_si128(bytes) : _mm256_extracti128_si256(bytes, 1);
            store256(target + 32 * quarter,
                     ordered32<swap>(_mm256_cvtepu8_epi32(
                         quarter % 2 == 0 ? eight : _mm_srli_si128(eight, 8))));
        }
        return;
    }
    store256(target, ordered<swap>(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(bytes))));
    store256(target + 32, ordered<swap>(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(bytes, 1))));
}

// ASCII widened 32 bytes at a time while input and room hold a block;
// returns the bytes taken.
template <bool swap, bool ucs4>
VELTA_AVX2 inline uint32_t widenAsciiBlocks(const unsigned char* source, uint32_t length,
                                            unsigned char* target, uint32_t room) {
    const uint32_t width = ucs4 ? 4 : 2;
    uint32_t done = 0;
    while (length - done >= 32 && room / width - done >= 32) {
        const __m256i bytes = load256(source + done);
        widenThirtyTwo<swap, ucs4>(bytes, target + width * done);
        const uint32_t nonAscii = static_cast<uint32_t>(_mm256_movemask_epi8(bytes));
        if (nonAscii != 0) return done + static_cast<uint32_t>(__builtin_ctz(nonAscii));
        done += 32;
    }
    return done;
}

// Widens the first `count` bytes of `source` (at most 31, all ASCII): two
// stores of a width each, the second ending at the last unit, so that
// nothing is written past it.
VELTA_AVX2 inline void widenAsciiShort(const unsigned char* source, uint32_t count,
                                       unsigned char* target) {
    if (count >= 16) {
        store256(target, _mm256_cvtepu8_epi16(load128(source)));
        store256(target + 2 * (count - 16), _mm256_cvtepu8_epi16(load128(source + count - 16)));
    } else if (count >= 8) {
        store128(target, _mm_cvtepu8_epi16(load64(source)));
        store128(target + 2 * (count - 8), _mm_cvtepu8_epi16(load64(source + count - 8)));
    } else if (count >= 4) {
        store64(target, _mm_cvtepu8_epi16(load32(source)));
        store64(target + 2 * (count - 4), _mm_cvtepu8_epi16(load32(source + count - 4)));
    } else {
        for (uint32_t i = 0; i < count; ++i) storeUnit(target + 2 * i, source[i]);
    }
}

// The ASCII at the start of a block of 32 readable bytes, widened into room
// for `units` (fewer than 32) units: where a stream's piece ends inside a
// run, without a loop over its last bytes.
VELTA_AVX2 inline uint32_t widenAsciiIntoShortRoom(const unsigned char* source, uint32_t units,
                                                   unsigned char* target) {
    const uint32_t nonAscii = static_cast<uint32_t>(_mm256_movemask_epi8(load256(source)));
    const uint32_t ascii = nonAscii == 0 ? 32 : static_cast<uint32_t>(__builtin_ctz(nonAscii));
    const uint32_t taken = ascii < units ? ascii : units;
    widenAsciiShort(source, taken, target);
    return taken;
}

VELTA_AVX2 inline uint32_t widenAsciiAvx2(const unsigned char* source, uint32_t length,
                                          unsigned char* target, uint32_t room) {
    const uint32_t done = widenAsciiBlocks<false, false>(source, length, target, room);
    if (done < length && source[done] >= 0x80) return done;
    if (length - done >= 32)
        return done + widenAsciiIntoShortRoom(source + done, room / 2 - done, target + 2 * done);
    return done +
           widenAsciiRunVector(source + done, length - done, target + 2 * done, room - 2 * done);
}

// ASCII units narrowed 32 at a time while input and room hold a block;
// returns the units taken.
template <bool swap>
VELTA_AVX2 uint32_t narrowAsciiBlocks(const unsigned char* source, uint32_t units,
                                      unsigned char* target, uint32_t room) {
    uint32_t done = 0;
    const __m256i high = _mm256_set1_epi16(static_cast<short>(0xFF80));
    const __m256i zero = _mm256_setzero_si256();
    // Long runs 64 units a step; the block where one ends goes to the loop
    // below, which counts its units.
    while (units - done >= 64 && room - done >= 64) {
        const __m256i a = loadUnits<swap>(source + 2 * done);
        const __m256i b = loadUnits<swap>(source + 2 * done + 32);
        const __m256i c = loadUnits<swap>(source + 2 * done + 64);
        const __m256i d = loadUnits<swap>(source + 2 * done + 96);
        if (!_mm256_testz_si256(_mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(c, d)),
                                high))
            break;
        store256(target + done, _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
        store256(target + done + 32, _mm256_permute4x64_epi64(_mm256_packus_epi16(c, d), 0xD8));
        done += 64;
    }
    while (units - done >= 32 && room - done >= 32) {
        const __m256i a = loadUnits<swap>(source + 2 * done);
        const __m256i b = loadUnits<swap>(source + 2 * done + 32);
        // packus works within 128-bit halves: put the quarters back in order.
        store256(target + done, _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
        if (_mm256_testz_si256(_mm256_or_si256(a, b), high)) {
            done += 32;
            continue;
        }
        // The run ends in this block: count its units.
        const __m256i asciiA = _mm256_cmpeq_epi16(_mm256_and_si256(a, high), zero);
        const __m256i asciiB = _mm256_cmpeq_epi16(_mm256_and_si256(b, high), zero);
        const uint32_t ascii = static_cast<uint32_t>(_mm256_movemask_epi8(
            _mm256_permute4x64_epi64(_mm256_packs_epi16(asciiA, asciiB), 0xD8)));
        return done + static_cast<uint32_t>(__builtin_ctz(~ascii));
    }
    // Where the input or the room ends inside a block, a last block ends
    // there, over bytes this call wrote alike.
    const uint32_t end = units < room ? units : room;
    if (done >= 32 && end > done) {
        const __m256i a = loadUnits<swap>(source + 2 * (end - 32));
        const __m256i b = loadUnits<swap>(source + 2 * (end - 32) + 32);
        if (_mm256_testz_si256(_mm256_or_si256(a, b), high)) {
            store256(target + end - 32, _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
            return end;
        }
    }
    return done;
}

VELTA_AVX2 inline uint32_t narrowAsciiAvx2(const unsigned char* source, uint32_t units,
                                           unsigned char* target, uint32_t room) {
    const uint32_t done = narrowAsciiBlocks<false>(source, units, target, room);
    if (done < units && (source[2 * done] | source[2 * done + 1] << 8) >= 0x80) return done;
    return done + narrowAsciiRunVector(source + 2 * done, units - done, target + done, room - done);
}

}  // namespace
}  // namespace velta

#endif
