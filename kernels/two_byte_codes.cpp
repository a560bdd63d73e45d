// The converter libraries' two-byte encoding step under AVX2: each unit's
// code is gathered from the table, eight at a time, and the ASCII bytes and
// the codes' two bytes are packed by the pshufb patterns of the UTF-8
// encoder's units of one and two bytes.
#include "common/two_byte_codes.h"

#include <string.h>

#include <atomic>

#include "velta/nls.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include "common/units.h"
#include "kernels/avx2_shared.h"

namespace velta {
namespace {

// The codes of eight units of at least 0x80 (the others' lanes 0): each
// gather reads the 32 bits of a code and the one before it, so that no
// index needs the table's start moved back.
VELTA_AVX2 inline __m256i gatherCodes(const uint16_t* codes, __m128i units, __m128i nonAscii) {
    const __m256i index = _mm256_sub_epi32(_mm256_cvtepu16_epi32(units), _mm256_set1_epi32(1));
    const __m256i pairs =
        _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), reinterpret_cast<const int*>(codes),
                                    index, _mm256_cvtepi16_epi32(nonAscii), 2);
    return _mm256_srli_epi32(pairs, 16);
}

// One bit a 16-bit lane of a compare mask.
VELTA_AVX2 inline uint32_t laneBits(__m256i mask) {
    const uint32_t bytes =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_packs_epi16(mask, mask)));
    return (bytes & 0xFF) | (bytes >> 8 & 0xFF00);
}

VELTA_AVX2 uint32_t encodeTwoByteCodesAvx2(const unsigned char* source, uint32_t units,
                                           const uint16_t* codes, unsigned char* target,
                                           uint32_t room, uint32_t* written) {
    const __m256i highBits = _mm256_set1_epi16(static_cast<short>(0xFF80));
    uint32_t in = 0, out = 0;
    while (units - in >= 16 && room - out >= 32) {
        const __m256i unit = load256(source + 2 * in);
        const __m256i ascii =
            _mm256_cmpeq_epi16(_mm256_and_si256(unit, highBits), _mm256_setzero_si256());
        const __m256i nonAscii = _mm256_xor_si256(ascii, _mm256_set1_epi32(-1));
        const uint32_t two = laneBits(nonAscii);
        // ASCII alone goes to the ASCII runs' kernel, and text whose first
        // character of two bytes has none (Latin in GB18030) to the loop.
        if (two == 0 ||
            codes[loadUnit(source + 2 * (in + static_cast<uint32_t>(__builtin_ctz(two))))] == 0)
            break;
        const __m256i found = _mm256_permute4x64_epi64(
            _mm256_packus_epi32(
                gatherCodes(codes, _mm256_castsi256_si128(unit), _mm256_castsi256_si128(nonAscii)),
                gatherCodes(codes, _mm256_extracti128_si256(unit, 1),
                            _mm256_extracti128_si256(nonAscii, 1))),
            0xD8);
        const __m256i value = _mm256_blendv_epi8(found, unit, ascii);
        const uint32_t none = laneBits(_mm256_cmpeq_epi16(value, _mm256_setzero_si256()));
        const uint32_t taken = none == 0 ? 16 : static_cast<uint32_t>(__builtin_ctz(none));
        // Codes lead first; ASCII's one byte is its lane's first already.
        const __m256i leadFirst = _mm256_shuffle_epi8(
            value, _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3,
                                    2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
        const __m256i bytes = _mm256_blendv_epi8(leadFirst, value, ascii);
        storePacked(bytes, kTwoBytePack, two & 0xFF, two >> 8, target + out);
        const uint32_t lanes = taken == 16 ? 0xFFFFu : (1u << taken) - 1;
        out += taken + static_cast<uint32_t>(__builtin_popcount(two & lanes));
        in += taken;
        if (taken != 16) break;
    }
    *written = out;
    return in;
}

}  // namespace

// Asked at every step: the AVX2 set's name is one constant of the library,
// so once its address is known a comparison of addresses answers.
TwoByteKernels twoByteKernels() {
    static std::atomic<const char*> avx2Name{nullptr};
    const char* name = NLS_KernelInUse();
    if (name != avx2Name.load(std::memory_order_relaxed)) {
        if (strcmp(name, "avx2") != 0) return {nullptr, nullptr, nullptr};
        avx2Name.store(name, std::memory_order_relaxed);
    }
    return {encodeTwoByteCodesAvx2, narrowAsciiAvx2, widenAsciiAvx2};
}

}  // namespace velta

#else

namespace velta {

TwoByteKernels twoByteKernels() {
    return {nullptr, nullptr, nullptr};
}

}  // namespace velta

#endif
