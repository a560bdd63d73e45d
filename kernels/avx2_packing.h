// What the AVX2 kernels of the library and of the converter libraries share:
// unaligned loads and stores, and the pshufb tables that pack the bytes kept
// of each lane. Included only where the compiler targets x86-64.
#ifndef VELTA_KERNELS_AVX2_PACKING_H
#define VELTA_KERNELS_AVX2_PACKING_H

#include <immintrin.h>
#include <stdint.h>

#define VELTA_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))

namespace velta {
namespace {

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

}  // namespace
}  // namespace velta

#endif
