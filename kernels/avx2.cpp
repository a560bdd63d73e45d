// AVX2 kernels, chosen at run time: only the functions marked VELTA_AVX2 use
// AVX2, so the rest of the library stays on the x86-64 baseline.
//
// UTF-8 follows Lemire and Mula, "Transcoding billions of Unicode characters
// per second with SIMD instructions" (2022). Decoding classifies 32 bytes at
// once, computes each position's value as if a character started there and
// packs the values of the positions that start characters; encoding spreads
// each unit's bytes over a 32-bit lane and packs the lanes by their lengths.
// A block is taken up to its first irregular character, and the codec's own
// loop goes on from there.
#include "common/text_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>
#include <string.h>
#include <array>

#include "common/ascii_runs.h"
#include "kernels/avx2_shared.h"

namespace velta {
namespace {

// pshufb patterns that move the kept lanes of eight (of `laneBytes` bytes
// each) to the front, indexed by the mask of kept lanes; `reversed`, each
// lane's bytes in the other order.
template <int laneBytes>
struct KeptLanesTable {
    unsigned char pattern[256][8 * laneBytes];
};

template <int laneBytes, bool reversed = false>
constexpr KeptLanesTable<laneBytes> makeKeptLanesTable() {
    KeptLanesTable<laneBytes> table{};
    for (int mask = 0; mask < 256; ++mask) {
        int kept = 0;
        for (int lane = 0; lane < 8; ++lane) {
            if ((mask >> lane & 1) == 0) continue;
            for (int byte = 0; byte < laneBytes; ++byte)
                table.pattern[mask][kept++] = static_cast<unsigned char>(
                    laneBytes * lane + (reversed ? laneBytes - 1 - byte : byte));
        }
        for (int byte = kept; byte < 8 * laneBytes; ++byte) table.pattern[mask][byte] = 0x80;
    }
    return table;
}

// Of 16-bit lanes (units) and of bytes.
constexpr KeptLanesTable<2> kWordPack = makeKeptLanesTable<2>();
constexpr KeptLanesTable<2> kSwappedWordPack = makeKeptLanesTable<2, true>();
constexpr KeptLanesTable<1> kBytesOfEight = makeKeptLanesTable<1>();

// The lanes of eight 32-bit lanes to keep, moved to the front, by the mask of
// lanes kept (for _mm256_permutevar8x32_epi32).
struct LanePackTable {
    int32_t order[256][8];
};

constexpr LanePackTable makeLanePackTable() {
    LanePackTable table{};
    for (int mask = 0; mask < 256; ++mask) {
        int kept = 0;
        for (int lane = 0; lane < 8; ++lane)
            if (mask >> lane & 1) table.order[mask][kept++] = lane;
    }
    return table;
}

constexpr LanePackTable kLanePack = makeLanePackTable();

// A 16-bit lane of all ones for each set bit of `mask`.
VELTA_AVX2 inline __m256i lanesOf(uint32_t mask) {
    const __m256i bits = _mm256_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096,
                                           8192, 16384, -32768);
    const __m256i spread = _mm256_set1_epi16(static_cast<short>(mask));
    return _mm256_cmpeq_epi16(_mm256_and_si256(spread, bits), bits);
}

// All ones in each byte that is at least `least`.
VELTA_AVX2 inline __m256i atLeastBytes(__m256i bytes, unsigned char least) {
    const __m256i floor = _mm256_set1_epi8(static_cast<char>(least));
    return _mm256_cmpeq_epi8(_mm256_max_epu8(bytes, floor), bytes);
}

VELTA_AVX2 inline __m256i equalBytes(__m256i bytes, unsigned char value) {
    return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(static_cast<char>(value)));
}

// Bit i set where byte i is at least `least`.
VELTA_AVX2 inline uint64_t atLeast32(__m256i bytes, unsigned char least) {
    return static_cast<uint32_t>(_mm256_movemask_epi8(atLeastBytes(bytes, least)));
}

// The highest set bit of `mask` below `limit`, or 0 when there is none.
inline uint32_t highestBelow(uint64_t mask, uint32_t limit) {
    mask &= (uint64_t{1} << limit) - 1;
    return mask == 0 ? 0 : 63 - static_cast<uint32_t>(__builtin_clzll(mask));
}

// The UCS-2 value of each of sixteen positions, read as if a character
// started there (b0, b1, b2: the position's byte and the two after it).
// `longest`: the most bytes a character has (2, 3 or 4); `lowLanes`:
// positions holding the second unit of a four-byte character.
template <int longest>
VELTA_AVX2 inline __m256i valuesAt(__m128i x0, __m128i x1, __m128i x2, uint32_t lowLanes) {
    const __m256i b0 = _mm256_cvtepu8_epi16(x0);
    const __m256i b1 = _mm256_cvtepu8_epi16(x1);
    const __m256i low6 = _mm256_set1_epi16(0x3F);
    const __m256i b1low = _mm256_and_si256(b1, low6);
    const __m256i two =
        _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b0, _mm256_set1_epi16(0x1F)), 6), b1low);
    __m256i value = _mm256_blendv_epi8(b0, two, _mm256_cmpgt_epi16(b0, _mm256_set1_epi16(0xBF)));
    if (longest == 2) return value;
    const __m256i b2low = _mm256_and_si256(_mm256_cvtepu8_epi16(x2), low6);
    const __m256i three = _mm256_or_si256(
        _mm256_or_si256(_mm256_slli_epi16(b0, 12), _mm256_slli_epi16(b1low, 6)), b2low);
    value = _mm256_blendv_epi8(value, three, _mm256_cmpgt_epi16(b0, _mm256_set1_epi16(0xDF)));
    if (longest == 3) return value;
    // 0xD800 + ((value - 0x10000) >> 10), from the first three bytes; the low
    // surrogate comes from the next position, whose b1 and b2 are the
    // character's third and fourth bytes.
    const __m256i highSurrogate = _mm256_add_epi16(
        _mm256_or_si256(
            _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b0, _mm256_set1_epi16(7)), 8),
                            _mm256_slli_epi16(b1low, 2)),
            _mm256_srli_epi16(b2low, 4)),
        _mm256_set1_epi16(static_cast<short>(0xD7C0)));
    const __m256i lowSurrogate = _mm256_or_si256(
        _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b1, _mm256_set1_epi16(0x0F)), 6), b2low),
        _mm256_set1_epi16(static_cast<short>(0xDC00)));
    value =
        _mm256_blendv_epi8(value, highSurrogate, _mm256_cmpgt_epi16(b0, _mm256_set1_epi16(0xEF)));
    return _mm256_blendv_epi8(value, lowSurrogate, lanesOf(lowLanes));
}

// Stores eight 32-bit values at target + at; `bounded`, only those that
// end within `room` bytes of target (the end of a piece of a stream, where
// less is left than a block may make), else all (the room holds them).
template <bool bounded>
VELTA_AVX2 inline void storeEightValues(unsigned char* target, uint32_t at, __m256i values,
                                        uint32_t room) {
    if (!bounded) {
        store256(target + at, values);
        return;
    }
    if (room < at + 4) return;
    const int fit = static_cast<int>((room - at) / 4);
    const __m256i kept =
        _mm256_cmpgt_epi32(_mm256_set1_epi32(fit), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    _mm256_maskstore_epi32(reinterpret_cast<int*>(target + at), kept, values);
}

// Stores the kept lanes of sixteen values as units (or, `ucs4`, as 32-bit
// values, `bounded` as storeEightValues) at target + at; returns the output
// bytes.
template <bool swap, bool ucs4, bool bounded>
VELTA_AVX2 inline uint32_t packKeptLanes(__m256i values, uint32_t kept, unsigned char* target,
                                         uint32_t at, uint32_t room) {
    const uint32_t keptLow = kept & 0xFF, keptHigh = kept >> 8 & 0xFF;
    // Units of the other order are swapped by the packing itself.
    const KeptLanesTable<2>& patterns = swap && !ucs4 ? kSwappedWordPack : kWordPack;
    const __m256i pattern =
        _mm256_inserti128_si256(_mm256_castsi128_si256(load128(patterns.pattern[keptLow])),
                                load128(patterns.pattern[keptHigh]), 1);
    const __m256i packed = _mm256_shuffle_epi8(values, pattern);
    const uint32_t lowCount = static_cast<uint32_t>(__builtin_popcount(keptLow));
    const uint32_t highCount = static_cast<uint32_t>(__builtin_popcount(keptHigh));
    if (ucs4) {
        storeEightValues<bounded>(
            target, at, ordered32<swap>(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(packed))),
            room);
        storeEightValues<bounded>(
            target, at + 4 * lowCount,
            ordered32<swap>(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(packed, 1))), room);
        return 4 * (lowCount + highCount);
    }
    store128(target + at, _mm256_castsi256_si128(packed));
    store128(target + at + 2 * lowCount, _mm256_extracti128_si256(packed, 1));
    return 2 * (lowCount + highCount);
}

// The 32-bit values of the characters that start at the kept positions of
// p[0..31] (of any length, each ending by p[31]), eight positions at a time:
// each lane gathers the four bytes from its position on, as if a four-byte
// character started there, and shifts that value right by six bits for each
// byte the character lacks. Reads p[0..31]; stores at most 128 bytes
// (`bounded` as storeEightValues) and returns the bytes made.
template <bool swap, bool bounded>
VELTA_AVX2 inline uint32_t packThirtyTwoValues(const unsigned char* p, uint64_t kept,
                                               unsigned char* target, uint32_t room) {
    const __m256i gather = _mm256_setr_epi8(0, 1, 2, 3, 1, 2, 3, 4, 2, 3, 4, 5, 3, 4, 5, 6, 4, 5, 6,
                                            7, 5, 6, 7, 8, 6, 7, 8, 9, 7, 8, 9, 10);
    // By the lead's top four bits: the length less one, negated, whose low
    // three bits index the shifts and masks (0 for one byte, 7, 6 and 5 for
    // two to four).
    const __m256i lengthOfNibble = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 7, 6, 5,
                                                    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 7, 6, 5);
    const __m256i shifts = _mm256_setr_epi32(18, 0, 0, 0, 0, 0, 6, 12);
    const __m256i masks = _mm256_setr_epi32(0x7F, 0, 0, 0, 0, 0x1FFFFF, 0xFFFF, 0x7FF);
    uint32_t out = 0;
    for (int group = 0; group < 4; ++group) {
        // Empty groups too, without a branch (it missed on emoji text, whose
        // groups hold one to three characters): they store nothing kept.
        const uint32_t lanes = static_cast<uint32_t>(kept >> (8 * group)) & 0xFF;
        // The last group reads from p + 16, eight further into the window,
        // so as not to read past p[31]: pshufb takes an index's low four
        // bits, so bytes past the window are garbage only for characters
        // that would end past p[31], which are not kept.
        const __m256i window =
            _mm256_broadcastsi128_si256(load128(p + (group < 3 ? 8 * group : 16)));
        const __m256i w = _mm256_shuffle_epi8(
            window, group < 3 ? gather : _mm256_add_epi8(gather, _mm256_set1_epi8(8)));
        // The lead's low seven bits and the others' low six, joined as
        // lead << 18 | b1 << 12 | b2 << 6 | b3; the mask drops the lead's
        // length bits.
        const __m256i bits = _mm256_and_si256(w, _mm256_set1_epi32(0x3F3F3F7F));
        const __m256i asFour = _mm256_madd_epi16(
            _mm256_maddubs_epi16(bits, _mm256_set1_epi32(0x01400140)), _mm256_set1_epi32(0x11000));
        const __m256i length = _mm256_shuffle_epi8(
            lengthOfNibble, _mm256_srli_epi32(_mm256_and_si256(w, _mm256_set1_epi32(0xF0)), 4));
        const __m256i value =
            _mm256_and_si256(_mm256_srlv_epi32(asFour, _mm256_permutevar8x32_epi32(shifts, length)),
                             _mm256_permutevar8x32_epi32(masks, length));
        const __m256i order =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLanePack.order[lanes]));
        storeEightValues<bounded>(target, out,
                                  ordered32<swap>(_mm256_permutevar8x32_epi32(value, order)), room);
        out += 4 * static_cast<uint32_t>(__builtin_popcount(lanes));
    }
    return out;
}

template <int longest, bool swap, bool ucs4, bool bounded>
VELTA_AVX2 inline uint32_t packThirtyTwo(__m256i x0, __m256i x1, __m256i x2, uint64_t kept,
                                         uint64_t lowLanes, unsigned char* target, uint32_t room) {
    uint32_t out = packKeptLanes<swap, ucs4, bounded>(
        valuesAt<longest>(_mm256_castsi256_si128(x0), _mm256_castsi256_si128(x1),
                          _mm256_castsi256_si128(x2), static_cast<uint32_t>(lowLanes)),
        static_cast<uint32_t>(kept), target, 0, room);
    if ((kept >> 16) == 0) return out;
    out += packKeptLanes<swap, ucs4, bounded>(
        valuesAt<longest>(_mm256_extracti128_si256(x0, 1), _mm256_extracti128_si256(x1, 1),
                          _mm256_extracti128_si256(x2, 1), static_cast<uint32_t>(lowLanes >> 16)),
        static_cast<uint32_t>(kept >> 16), target, out, room);
    return out;
}

// Decodes the whole regular characters that start in p[0..31]; reads
// p[0..33]. Returns the bytes taken (0 when the first character is
// irregular) and sets *written to the output bytes, of which it stores at
// most 64 (128 as UCS-4; `bounded`, those that end within `room`, as
// storeEightValues).
// Always inlined: with a second caller the compiler called it out of line
// from the main loop, a quarter slower.
template <bool swap, bool ucs4, bool bounded = false>
VELTA_AVX2 inline __attribute__((always_inline)) uint32_t decodeThirtyTwoBytes(
    const unsigned char* p, unsigned char* target, uint32_t* written, uint32_t room = 0) {
    const __m256i x0 = load256(p);
    const __m256i x1 = load256(p + 1);
    const __m256i x2 = load256(p + 2);
    const uint64_t nonAscii = static_cast<uint32_t>(_mm256_movemask_epi8(x0));
    const uint64_t leadC0 = atLeast32(x0, 0xC0);
    const uint64_t leadE0 = atLeast32(x0, 0xE0);
    const uint64_t leadF0 = atLeast32(x0, 0xF0);
    const uint64_t continuation = nonAscii & ~leadC0;
    const uint64_t starts = ~continuation & 0xFFFFFFFFu;
    const uint64_t needed = leadC0 << 1 | leadE0 << 2 | leadF0 << 3;
    // Overlong forms, encoded surrogates, values past U+10FFFF and the old
    // five- and six-byte forms (RFC 3629, section 4) are the codec's.
    uint64_t irregular = leadC0 & ~atLeast32(x0, 0xC2);
    if (leadE0 != 0) {
        // Tested byte by byte and gathered once: Korean and Thai text has
        // three-byte characters in every block, emoji seldom.
        const __m256i secondA0 = atLeastBytes(x1, 0xA0);
        __m256i wrong = _mm256_or_si256(_mm256_andnot_si256(secondA0, equalBytes(x0, 0xE0)),
                                        _mm256_and_si256(secondA0, equalBytes(x0, 0xED)));
        if (leadF0 != 0) {
            const __m256i second90 = atLeastBytes(x1, 0x90);
            wrong =
                _mm256_or_si256(_mm256_or_si256(wrong, atLeastBytes(x0, 0xF5)),
                                _mm256_or_si256(_mm256_andnot_si256(second90, equalBytes(x0, 0xF0)),
                                                _mm256_and_si256(second90, equalBytes(x0, 0xF4))));
        }
        irregular |= static_cast<uint32_t>(_mm256_movemask_epi8(wrong));
    }
    // A mismatch is a missing or stray continuation byte, or a character
    // running past the block: end before the character it falls in.
    const uint64_t mismatch = needed ^ continuation;
    uint32_t end =
        mismatch == 0 ? 32 : highestBelow(starts, static_cast<uint32_t>(__builtin_ctzll(mismatch)));
    if (irregular != 0) {
        const uint32_t first = static_cast<uint32_t>(__builtin_ctzll(irregular));
        if (first < end) end = first;
    }
    if (end == 0) return 0;
    const uint64_t inside = (uint64_t{1} << end) - 1;
    if (ucs4 && (leadF0 & inside) != 0) {
        *written = packThirtyTwoValues<swap, bounded>(p, starts & inside, target, room);
        return end;
    }
    const uint64_t kept = (starts | leadF0 << 1) & inside;
    if (!ucs4 && (leadF0 & inside) != 0)
        *written =
            packThirtyTwo<4, swap, ucs4, bounded>(x0, x1, x2, kept, leadF0 << 1, target, room);
    else if ((leadE0 & inside) != 0)
        *written = packThirtyTwo<3, swap, ucs4, bounded>(x0, x1, x2, kept, 0, target, room);
    else
        *written = packThirtyTwo<2, swap, ucs4, bounded>(x0, x1, x2, kept, 0, target, room);
    return end;
}

// Runs of three-byte characters (CJK text) eight at a time: 24 bytes are
// spread over eight 32-bit lanes, checked for 1110xxxx 10xxxxxx 10xxxxxx,
// no overlong form and no surrogate, and packed to eight units. Returns the
// bytes taken, a multiple of 3.
template <bool swap, bool ucs4>
VELTA_AVX2 uint32_t decodeThreeByteRun(const unsigned char* source, uint32_t length,
                                       unsigned char* target, uint32_t room) {
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                            1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i form = _mm256_set1_epi32(0x00C0C0F0), expected = _mm256_set1_epi32(0x008080E0);
    uint32_t in = 0, out = 0;
    while (length - in >= 32 && room - out >= (ucs4 ? 32u : 16u)) {
        const __m256i bytes = _mm256_shuffle_epi8(
            _mm256_inserti128_si256(_mm256_castsi128_si256(load128(source + in)),
                                    load128(source + in + 12), 1),
            spread);
        const __m256i value = _mm256_or_si256(
            _mm256_or_si256(
                _mm256_slli_epi32(_mm256_and_si256(bytes, _mm256_set1_epi32(0x0F)), 12),
                _mm256_srli_epi32(_mm256_and_si256(bytes, _mm256_set1_epi32(0x3F00)), 2)),
            _mm256_srli_epi32(_mm256_and_si256(bytes, _mm256_set1_epi32(0x3F0000)), 16));
        const __m256i wrongForm = _mm256_xor_si256(_mm256_and_si256(bytes, form), expected);
        const __m256i overlong = _mm256_cmpgt_epi32(_mm256_set1_epi32(0x800), value);
        const __m256i surrogate = _mm256_cmpeq_epi32(
            _mm256_and_si256(value, _mm256_set1_epi32(0xF800)), _mm256_set1_epi32(0xD800));
        if (!_mm256_testz_si256(wrongForm, wrongForm) ||
            !_mm256_testz_si256(_mm256_or_si256(overlong, surrogate), _mm256_set1_epi32(-1)))
            break;
        in += 24;
        if (ucs4) {
            store256(target + out, ordered32<swap>(value));
            out += 32;
            continue;
        }
        // Each lane's low two bytes, in the order asked for, packed by one
        // shuffle (the values are below 0x10000).
        const __m256i packed = _mm256_shuffle_epi8(
            value,
            swap ? _mm256_setr_epi8(1, 0, 5, 4, 9, 8, 13, 12, -1, -1, -1, -1, -1, -1, -1, -1, 1, 0,
                                    5, 4, 9, 8, 13, 12, -1, -1, -1, -1, -1, -1, -1, -1)
                 : _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1,
                                    4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1));
        store128(target + out, _mm256_castsi256_si128(_mm256_permute4x64_epi64(packed, 0x08)));
        out += 16;
    }
    return in;
}

// The bytes of the first `characters` characters starting in a block of 32
// (fewer than start there): a character starts at each byte that is no
// continuation byte (10xxxxxx).
VELTA_AVX2 inline uint32_t bytesOfFirstCharacters(const unsigned char* p, uint32_t characters) {
    const uint32_t starts = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpgt_epi8(load256(p), _mm256_set1_epi8(-0x41))));
    return static_cast<uint32_t>(__builtin_ctz(_pdep_u32(1u << characters, starts)));
}

// Where the room left holds less than a block may make (the end of each
// piece of a stream), each block stores the values that fit; where some do
// not, the bytes taken are those of the characters stored.
template <bool swap>
VELTA_AVX2 __attribute__((noinline)) uint32_t fillRoomFromBlocks(const unsigned char* source,
                                                                 uint32_t length,
                                                                 unsigned char* target,
                                                                 uint32_t room,
                                                                 uint32_t* produced) {
    uint32_t in = 0, out = 0;
    while (length - in >= 34 && room - out >= 4) {
        uint32_t made = 0;
        const uint32_t taken =
            decodeThirtyTwoBytes<swap, true, true>(source + in, target + out, &made, room - out);
        if (taken == 0) break;
        if (made > room - out) {
            const uint32_t values = (room - out) / 4;
            out += 4 * values;
            in += bytesOfFirstCharacters(source + in, values);
            break;
        }
        in += taken;
        out += made;
    }
    *produced = out;
    return in;
}

// The same for units: each block is decoded aside, and of it what fits is
// copied. Where not all fits, the units kept are whole characters of one
// unit each; a block with a four-byte character there is left to the codec.
template <bool swap>
VELTA_AVX2 __attribute__((noinline)) uint32_t fillUnitRoomFromBlocks(const unsigned char* source,
                                                                     uint32_t length,
                                                                     unsigned char* target,
                                                                     uint32_t room,
                                                                     uint32_t* produced) {
    uint32_t in = 0, out = 0;
    while (length - in >= 34 && room - out >= 2) {
        unsigned char aside[64];
        uint32_t made = 0;
        const uint32_t taken = decodeThirtyTwoBytes<swap, false>(source + in, aside, &made);
        if (taken == 0) break;
        if (made <= room - out) {
            memcpy(target + out, aside, made);
            in += taken;
            out += made;
            continue;
        }
        // Fewer units than were made: as many characters, where each made one.
        if ((atLeast32(load256(source + in), 0xF0) & ((uint64_t{1} << taken) - 1)) != 0) break;
        const uint32_t units = (room - out) / 2;
        memcpy(target + out, aside, 2 * units);
        in += bytesOfFirstCharacters(source + in, units);
        out += 2 * units;
        break;
    }
    *produced = out;
    return in;
}

// UTF-8 to units (or, `ucs4`, to 32-bit values), in the machine's order or
// swapped.
template <bool swap, bool ucs4>
VELTA_AVX2 uint32_t decodeUtf8Blocks(const unsigned char* source, uint32_t length,
                                     unsigned char* target, uint32_t room, uint32_t* produced) {
    const uint32_t width = ucs4 ? 4 : 2;
    uint32_t in = 0, out = 0;
    while (length - in >= 34 && room - out >= 32 * width) {
        const __m256i bytes = load256(source + in);
        const uint32_t high = static_cast<uint32_t>(_mm256_movemask_epi8(bytes));
        if (high == 0) {
            const uint32_t run =
                swap || ucs4 ? widenAsciiBlocks<swap, ucs4>(source + in, length - in, target + out,
                                                            room - out)
                             : widenAsciiAvx2(source + in, length - in, target + out, room - out);
            in += run;
            out += width * run;
            continue;
        }
        // A run of eight three-byte characters has no ASCII in its 24 bytes
        // (Korean and Thai text, with a space every few, rarely has one).
        if ((source[in] & 0xF0) == 0xE0 && (high & 0xFFFFFF) == 0xFFFFFF) {
            const uint32_t taken =
                decodeThreeByteRun<swap, ucs4>(source + in, length - in, target + out, room - out);
            in += taken;
            out += taken / 3 * width;
            if (taken != 0) continue;
        }
        uint32_t written = 0;
        const uint32_t taken =
            decodeThirtyTwoBytes<swap, ucs4>(source + in, target + out, &written);
        if (taken == 0) {
            *produced = out;
            return in;
        }
        in += taken;
        out += written;
    }
    if (room - out < 32 * width) {
        uint32_t written = 0;
        in += ucs4 ? fillRoomFromBlocks<swap>(source + in, length - in, target + out, room - out,
                                              &written)
                   : fillUnitRoomFromBlocks<swap>(source + in, length - in, target + out,
                                                  room - out, &written);
        out += written;
    }
    *produced = out;
    return in;
}

VELTA_AVX2 uint32_t decodeUtf8Avx2(const unsigned char* source, uint32_t length,
                                   unsigned char* target, uint32_t room, uint32_t* produced) {
    return decodeUtf8Blocks<false, false>(source, length, target, room, produced);
}

VELTA_AVX2 uint32_t decodeUtf8SwappedAvx2(const unsigned char* source, uint32_t length,
                                          unsigned char* target, uint32_t room,
                                          uint32_t* produced) {
    return decodeUtf8Blocks<true, false>(source, length, target, room, produced);
}

VELTA_AVX2 uint32_t decodeUtf8ToUtf32Avx2(const unsigned char* source, uint32_t length,
                                          unsigned char* target, uint32_t room, uint32_t* produced,
                                          bool swapped) {
    return swapped ? decodeUtf8Blocks<true, true>(source, length, target, room, produced)
                   : decodeUtf8Blocks<false, true>(source, length, target, room, produced);
}

// pshufb patterns that keep the first one, two or three bytes of each of
// four 32-bit lanes, indexed by a bit a lane for "two or more" (low four
// bits) and "three" (high four bits), with the bytes kept.
constexpr BytePackTable makeBytePackTable() {
    BytePackTable table{};
    for (int index = 0; index < 256; ++index) {
        int kept = 0;
        for (int lane = 0; lane < 4; ++lane) {
            const int length = 1 + (index >> lane & 1) + (index >> (lane + 4) & 1);
            for (int byte = 0; byte < length; ++byte)
                table.pattern[index][kept++] = static_cast<unsigned char>(4 * lane + byte);
        }
        table.count[index] = static_cast<unsigned char>(kept);
        for (int byte = kept; byte < 16; ++byte) table.pattern[index][byte] = 0x80;
    }
    return table;
}

constexpr BytePackTable kBytePack = makeBytePackTable();

template <bool swap = false>
VELTA_AVX2 inline __m256i asciiUnits(__m256i units) {
    return _mm256_cmpeq_epi16(_mm256_and_si256(units, unitMask<swap>(0xFF80)),
                              _mm256_setzero_si256());
}

// Which of the units (below U+0800) take two bytes.
VELTA_AVX2 inline __m256i twoByteUnits(__m256i units) {
    return _mm256_cmpgt_epi16(units, _mm256_set1_epi16(0x7F));
}

// Each unit below U+0800 as its UTF-8 in its 16-bit lane, first byte lowest:
// ASCII alone, else 110xxxxx from bits 6-10 and 10xxxxxx from bits 0-5.
VELTA_AVX2 inline __m256i shortUnitBytes(__m256i units, __m256i isTwo) {
    const __m256i two = _mm256_or_si256(
        _mm256_and_si256(_mm256_or_si256(_mm256_slli_epi16(units, 8), _mm256_srli_epi16(units, 6)),
                         _mm256_set1_epi16(0x3FFF)),
        _mm256_set1_epi16(static_cast<short>(0x80C0)));
    return _mm256_blendv_epi8(units, two, isTwo);
}

// Sixteen units below U+0800 (Latin, Greek, Cyrillic, Hebrew, Arabic text):
// stores at most 32 bytes and returns their number.
VELTA_AVX2 inline uint32_t storeSixteenShortUnits(__m256i units, unsigned char* target) {
    const __m256i isTwo = twoByteUnits(units);
    // One mask byte a lane, lanes 0-7 in bits 0-7 and 8-15 in bits 16-23.
    const uint32_t lanes =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_packs_epi16(isTwo, isTwo)));
    const uint32_t first = lanes & 0xFF, second = lanes >> 16 & 0xFF;
    return storePacked(shortUnitBytes(units, isTwo), kTwoBytePack, first, second, target);
}

VELTA_AVX2 inline uint32_t ones(uint32_t bits) {
    return static_cast<uint32_t>(__builtin_popcount(bits));
}

// Thirty-two units below U+0800, two blocks of sixteen under one mask, each
// half's bytes counted from it. Stores at most 64 bytes and returns their
// number.
VELTA_AVX2 inline uint32_t storeThirtyTwoShortUnits(__m256i first, __m256i second,
                                                    unsigned char* target) {
    const __m256i twoInFirst = twoByteUnits(first), twoInSecond = twoByteUnits(second);
    // A mask byte a unit: the first block's units 0-7 in bits 0-7 and 8-15
    // in bits 16-23, the second's in bits 8-15 and 24-31.
    const uint32_t lanes =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_packs_epi16(twoInFirst, twoInSecond)));
    // Each pattern's offset in the table, sixteen times its mask byte.
    const unsigned char* patterns = kTwoBytePack.pattern[0];
    const __m256i a = _mm256_shuffle_epi8(
        shortUnitBytes(first, twoInFirst),
        _mm256_inserti128_si256(_mm256_castsi128_si256(load128(patterns + (lanes << 4 & 0xFF0))),
                                load128(patterns + (lanes >> 12 & 0xFF0)), 1));
    const __m256i b = _mm256_shuffle_epi8(
        shortUnitBytes(second, twoInSecond),
        _mm256_inserti128_si256(_mm256_castsi128_si256(load128(patterns + (lanes >> 4 & 0xFF0))),
                                load128(patterns + (lanes >> 20 & 0xFF0)), 1));
    store128(target, _mm256_castsi256_si128(a));
    store128(target + 8 + ones(lanes & 0xFF), _mm256_extracti128_si256(a, 1));
    store128(target + 16 + ones(lanes & 0xFF00FF), _mm256_castsi256_si128(b));
    store128(target + 24 + ones(lanes & 0xFFFFFF), _mm256_extracti128_si256(b, 1));
    return 32 + ones(lanes);
}

// Eight values as UTF-8, each in its 32-bit lane, first byte lowest, with
// masks of the lanes of two bytes or more, three or more, and four.
struct EncodedLanes {
    __m256i bytes, twoOrMore, threeOrMore, four;
};

// `beyondBmp`: whether a value may be past U+FFFF (none is a surrogate).
template <bool beyondBmp>
VELTA_AVX2 inline EncodedLanes encodeEightValues(__m256i c) {
    EncodedLanes lanes;
    const __m256i low6 = _mm256_set1_epi32(0x3F);
    const __m256i mark = _mm256_set1_epi32(0x80);
    const __m256i last = _mm256_or_si256(_mm256_and_si256(c, low6), mark);
    const __m256i third = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(c, 6), low6), mark);
    const __m256i two =
        _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi32(c, 6), _mm256_set1_epi32(0xC0)),
                        _mm256_slli_epi32(last, 8));
    const __m256i three = _mm256_or_si256(
        _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi32(c, 12), _mm256_set1_epi32(0xE0)),
                        _mm256_slli_epi32(third, 8)),
        _mm256_slli_epi32(last, 16));
    lanes.twoOrMore = _mm256_cmpgt_epi32(c, _mm256_set1_epi32(0x7F));
    lanes.threeOrMore = _mm256_cmpgt_epi32(c, _mm256_set1_epi32(0x7FF));
    lanes.bytes =
        _mm256_blendv_epi8(_mm256_blendv_epi8(c, two, lanes.twoOrMore), three, lanes.threeOrMore);
    lanes.four = _mm256_setzero_si256();
    if (!beyondBmp) return lanes;
    const __m256i second = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(c, 12), low6), mark);
    const __m256i four = _mm256_or_si256(
        _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi32(c, 18), _mm256_set1_epi32(0xF0)),
                        _mm256_slli_epi32(second, 8)),
        _mm256_or_si256(_mm256_slli_epi32(third, 16), _mm256_slli_epi32(last, 24)));
    lanes.four = _mm256_cmpgt_epi32(c, _mm256_set1_epi32(0xFFFF));
    lanes.bytes = _mm256_blendv_epi8(lanes.bytes, four, lanes.four);
    return lanes;
}

// Eight units widened to 32-bit lanes, the lane of a high surrogate holding
// the character it makes with the unit after it (from `nextUnits`), with
// masks of the lanes of high and of low surrogates.
struct JoinedUnits {
    __m256i values, high, low;
};

VELTA_AVX2 inline JoinedUnits joinPairs(__m128i units, __m128i nextUnits) {
    JoinedUnits joined;
    const __m256i c = _mm256_cvtepu16_epi32(units);
    // (high - 0xD800) << 10 + (low - 0xDC00) + 0x10000
    const __m256i pair = _mm256_sub_epi32(
        _mm256_add_epi32(_mm256_slli_epi32(c, 10), _mm256_cvtepu16_epi32(nextUnits)),
        _mm256_set1_epi32(0x35FDC00));
    const __m256i surrogateBits = _mm256_and_si256(c, _mm256_set1_epi32(0xFC00));
    joined.high = _mm256_cmpeq_epi32(surrogateBits, _mm256_set1_epi32(0xD800));
    joined.low = _mm256_cmpeq_epi32(surrogateBits, _mm256_set1_epi32(0xDC00));
    joined.values = _mm256_blendv_epi8(c, pair, joined.high);
    return joined;
}

VELTA_AVX2 inline uint32_t laneBits(__m256i mask) {
    return static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(mask)));
}

// Of the mask bytes of sixteen units' lengths (a byte for each four units,
// a bit of each nibble for each unit), the bits of the first n units.
constexpr std::array<uint32_t, 17> makeBitsOfFirstUnits() {
    std::array<uint32_t, 17> bits{};
    for (uint32_t n = 0; n <= 16; ++n)
        for (uint32_t unit = 0; unit < n; ++unit)
            bits[n] |= (0x11u << (unit % 4)) << (8 * (unit / 4));
    return bits;
}

constexpr std::array<uint32_t, 17> kBitsOfFirstUnits = makeBitsOfFirstUnits();

// Sixteen units as UTF-8, one to three bytes a unit: a pair's four bytes
// are split two and two, the high surrogate's lane holding the first two
// and the low's the last two, which take two bits of the high surrogate
// from the lane before. Each unit's first two bytes are in a 16-bit lane of
// one register and its third in the other's; spread to 32-bit lanes, each
// four lanes are packed by their lengths. Of lanes from `end` on, whatever
// is stored is not counted. Stores at most 52 bytes and returns the bytes
// of the first `end` units. The units are read as they lie in the order
// asked for; the lengths, and so the patterns and the count, do not wait
// for the swap.
template <bool swap>
VELTA_AVX2 inline uint32_t storeSixteenUnits(__m256i lying, __m256i high, __m256i low, uint32_t end,
                                             unsigned char* target) {
    const __m256i c = ordered<swap>(lying);
    const __m256i low6 = _mm256_set1_epi16(0x3F);
    const __m256i mark = _mm256_set1_epi16(static_cast<short>(0x80));
    const __m256i ascii = asciiUnits<swap>(lying);
    const __m256i belowThree =
        _mm256_cmpeq_epi16(_mm256_and_si256(lying, unitMask<swap>(0xF800)), _mm256_setzero_si256());
    // 10xxxxxx from bits 6-11 and from bits 0-5; 110xxxxx (bits 6-10 of a
    // unit below U+0800) is the first of them with 0x40 set.
    const __m256i middle = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(c, 6), low6), mark);
    const __m256i lastHigh = _mm256_slli_epi16(_mm256_or_si256(_mm256_and_si256(c, low6), mark), 8);
    const __m256i x40 = _mm256_set1_epi16(0x40);
    const __m256i two = _mm256_or_si256(_mm256_or_si256(middle, x40), lastHigh);
    const __m256i three =
        _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi16(c, 12), _mm256_set1_epi16(0xE0)),
                        _mm256_slli_epi16(middle, 8));
    // The character's value is (high - 0xD800 + 0x40) << 10 + (low - 0xDC00):
    // high + 0x40 holds bits 10-20 in its bits 0-10 under 0xD800, whose
    // 0xD8 above bits 8-10 turns into 11110 by an exclusive or with 0x28.
    const __m256i top = _mm256_add_epi16(c, x40);
    const __m256i highBytes = _mm256_or_si256(
        _mm256_xor_si256(_mm256_srli_epi16(top, 8), _mm256_set1_epi16(0x28)),
        _mm256_slli_epi16(_mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(top, 2), low6), mark),
                          8));
    // Of a low surrogate, bits 6-11 are 11 and four of the value's; the 11
    // turns into the high surrogate's bits 0-1 (from the lane before).
    const __m256i before = _mm256_alignr_epi8(c, _mm256_permute2x128_si256(c, c, 0x08), 14);
    const __m256i lowBytes = _mm256_or_si256(
        _mm256_xor_si256(
            middle, _mm256_andnot_si256(_mm256_slli_epi16(before, 4), _mm256_set1_epi16(0x30))),
        lastHigh);
    const __m256i last = _mm256_srli_epi16(lastHigh, 8);
    __m256i firstTwo = _mm256_blendv_epi8(three, two, belowThree);
    firstTwo = _mm256_blendv_epi8(firstTwo, c, ascii);
    firstTwo = _mm256_blendv_epi8(firstTwo, highBytes, high);
    firstTwo = _mm256_blendv_epi8(firstTwo, lowBytes, low);
    // A byte for each four units, in their order, the index of their
    // pattern: "two or more" (not ASCII) in its low four bits, "three"
    // (neither below U+0800 nor in a pair) in its high four.
    const __m256i fewer = _mm256_or_si256(belowThree, _mm256_or_si256(high, low));
    const uint32_t masks = ~static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_shuffle_epi32(_mm256_packs_epi16(ascii, fewer), 0xD8)));
    // Units 0-3 and 8-11 in one register, 4-7 and 12-15 in the other.
    const __m256i outer = _mm256_unpacklo_epi16(firstTwo, last);
    const __m256i inner = _mm256_unpackhi_epi16(firstTwo, last);
    const uint32_t groups[4] = {masks & 0xFF, masks >> 8 & 0xFF, masks >> 16 & 0xFF, masks >> 24};
    const __m256i outerPacked = _mm256_shuffle_epi8(
        outer,
        _mm256_inserti128_si256(_mm256_castsi128_si256(load128(kBytePack.pattern[groups[0]])),
                                load128(kBytePack.pattern[groups[2]]), 1));
    const __m256i innerPacked = _mm256_shuffle_epi8(
        inner,
        _mm256_inserti128_si256(_mm256_castsi128_si256(load128(kBytePack.pattern[groups[1]])),
                                load128(kBytePack.pattern[groups[3]]), 1));
    // A unit takes one byte, and one more for each of its two bits.
    store128(target, _mm256_castsi256_si128(outerPacked));
    store128(target + 4 + ones(masks & 0xFF), _mm256_castsi256_si128(innerPacked));
    store128(target + 8 + ones(masks & 0xFFFF), _mm256_extracti128_si256(outerPacked, 1));
    store128(target + 12 + ones(masks & 0xFFFFFF), _mm256_extracti128_si256(innerPacked, 1));
    return end + ones(masks & kBitsOfFirstUnits[end]);
}

// pshufb patterns that keep the first 1 to 4 bytes of each of four 32-bit
// lanes, indexed by two bits a lane (the length less one).
constexpr BytePackTable makeSequencePackTable() {
    BytePackTable table{};
    for (int index = 0; index < 256; ++index) {
        int kept = 0;
        for (int lane = 0; lane < 4; ++lane) {
            const int length = (index >> (2 * lane) & 3) + 1;
            for (int byte = 0; byte < length; ++byte)
                table.pattern[index][kept++] = static_cast<unsigned char>(4 * lane + byte);
        }
        table.count[index] = static_cast<unsigned char>(kept);
        for (int byte = kept; byte < 16; ++byte) table.pattern[index][byte] = 0x80;
    }
    return table;
}

constexpr BytePackTable kSequencePack = makeSequencePackTable();

// Bit i of a nibble moved to bit 2i.
constexpr uint8_t kSpreadNibble[16] = {0x00, 0x01, 0x04, 0x05, 0x10, 0x11, 0x14, 0x15,
                                       0x40, 0x41, 0x44, 0x45, 0x50, 0x51, 0x54, 0x55};

// Of sixteen units, by their masks of high and low surrogates (two bits a
// unit), how many come before the first lone surrogate; a high surrogate
// in the last lane waits for the next block.
inline uint32_t unitsOfWholePairs(uint64_t high, uint64_t low) {
    const uint64_t mismatch = low ^ (high << 2);
    uint32_t end = mismatch == 0 ? 16 : static_cast<uint32_t>(__builtin_ctzll(mismatch)) / 2;
    if (end > 16) end = 16;
    if (end != 0 && (high >> (2 * (end - 1)) & 1) != 0) --end;
    return end;
}

// Encodes sixteen units, read as they lie in the order asked for, up to the
// first lone surrogate (a high surrogate in the last lane waits for the next
// block); stores at most 52 bytes. Returns the units taken and sets
// *written. The units taken do not wait for the swap: the next block's
// address depends on them.
template <bool swap>
VELTA_AVX2 inline uint32_t encodeSixteenUnits(__m256i lying, unsigned char* target,
                                              uint32_t* written) {
    const __m256i surrogate =
        _mm256_cmpeq_epi16(_mm256_and_si256(lying, unitMask<swap>(0xF800)), unitMask<swap>(0xD800));
    // Bit 10 tells a low surrogate from a high one (bit 2 of a swapped lane).
    const __m256i bit10 = _mm256_srai_epi16(_mm256_slli_epi16(lying, swap ? 13 : 5), 15);
    const __m256i high = _mm256_andnot_si256(bit10, surrogate);
    const __m256i low = _mm256_and_si256(bit10, surrogate);
    // Two mask bits a lane.
    const uint64_t highBits = static_cast<uint32_t>(_mm256_movemask_epi8(high));
    const uint64_t lowBits = static_cast<uint32_t>(_mm256_movemask_epi8(low));
    const uint32_t end = (highBits | lowBits) == 0 ? 16 : unitsOfWholePairs(highBits, lowBits);
    if (end == 0) return 0;
    *written = storeSixteenUnits<swap>(lying, high, low, end, target);
    return end;
}

// A constant a loop keeps in a register: the compiler cannot see through
// the empty asm, so it does not make the value again in every iteration (as
// GCC 12 did in the CJK encoding loop, three instructions a block, where it
// judged registers short).
VELTA_AVX2 inline __m256i keptInRegister(__m256i value) {
    __asm__("" : "+x"(value));
    return value;
}

// The 10xxxxxx mark of a unit's last byte, in the low byte of each lane:
// the high byte is never stored, so the ASCII test's mask serves, and the
// loops keep one constant fewer (the compiler made the 0x80 again in every
// block).
VELTA_AVX2 inline __m256i lastByteMark() {
    return _mm256_set1_epi16(static_cast<short>(0xFF80));
}

// The first two of each unit's three bytes (U+0800-U+FFFF), first lowest:
// 1110xxxx from bits 12-15, 10xxxxxx from bits 6-11.
VELTA_AVX2 inline __m256i leadAndMiddleBytes(__m256i units) {
    const __m256i middleBits =
        _mm256_and_si256(_mm256_slli_epi16(units, 2), _mm256_set1_epi16(0x3F00));
    return _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi16(units, 12), middleBits),
                           _mm256_set1_epi16(static_cast<short>(0x80E0)));
}

// Sixteen units of three bytes each (U+0800-U+FFFF but surrogates: CJK
// text): 48 bytes, each 16-byte store overlapping the next by four (52
// bytes of room).
VELTA_AVX2 inline void storeSixteenThreeByteUnits(__m256i units, unsigned char* target) {
    const __m256i keepThree =
        _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6,
                         8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i low6 = _mm256_set1_epi16(0x3F);
    const __m256i mark = lastByteMark();
    const __m256i firstTwo = leadAndMiddleBytes(units);
    const __m256i last = _mm256_or_si256(_mm256_and_si256(units, low6), mark);
    // Each 32-bit lane holds one unit's three bytes: units 0-3 and 8-11 in
    // one register, 4-7 and 12-15 in the other.
    const __m256i outer = _mm256_shuffle_epi8(_mm256_unpacklo_epi16(firstTwo, last), keepThree);
    const __m256i inner = _mm256_shuffle_epi8(_mm256_unpackhi_epi16(firstTwo, last), keepThree);
    store128(target, _mm256_castsi256_si128(outer));
    store128(target + 12, _mm256_castsi256_si128(inner));
    store128(target + 24, _mm256_extracti128_si256(outer, 1));
    store128(target + 36, _mm256_extracti128_si256(inner, 1));
}

// Whether every unit of the block takes three bytes.
template <bool swap = false>
VELTA_AVX2 inline bool allThreeByteUnits(__m256i block,
                                         __m256i surrogateTop = unitMask<swap>(0xD800)) {
    const __m256i top = _mm256_and_si256(block, unitMask<swap>(0xF800));
    const __m256i shorter = _mm256_cmpeq_epi16(top, _mm256_setzero_si256());
    const __m256i surrogate = _mm256_cmpeq_epi16(top, surrogateTop);
    const __m256i other = _mm256_or_si256(shorter, surrogate);
    return _mm256_testz_si256(other, other) != 0;
}

// Whether every unit of the block takes one byte or three: CJK text with its
// ASCII newlines, spaces and digits.
template <bool swap = false>
VELTA_AVX2 inline bool asciiOrThreeByteUnits(__m256i block,
                                             __m256i surrogateTop = unitMask<swap>(0xD800)) {
    const __m256i top = _mm256_and_si256(block, unitMask<swap>(0xF800));
    const __m256i twoBytes = _mm256_andnot_si256(asciiUnits<swap>(block),
                                                 _mm256_cmpeq_epi16(top, _mm256_setzero_si256()));
    const __m256i surrogate = _mm256_cmpeq_epi16(top, surrogateTop);
    const __m256i other = _mm256_or_si256(twoBytes, surrogate);
    return _mm256_testz_si256(other, other) != 0;
}

// pshufb patterns that keep one byte or three of each 32-bit lane, for both
// 128-bit halves, indexed by a bit a lane for "one" (low four bits for the
// low half).
struct OneOrThreePackTable {
    unsigned char pattern[256][32];
};

constexpr OneOrThreePackTable makeOneOrThreePackTable() {
    OneOrThreePackTable table{};
    for (int index = 0; index < 256; ++index)
        for (int half = 0; half < 2; ++half) {
            unsigned char* pattern = table.pattern[index] + 16 * half;
            int kept = 0;
            for (int lane = 0; lane < 4; ++lane)
                for (int byte = 0; byte < (index >> (4 * half + lane) & 1 ? 1 : 3); ++byte)
                    pattern[kept++] = static_cast<unsigned char>(4 * lane + byte);
            for (int byte = kept; byte < 16; ++byte) pattern[byte] = 0x80;
        }
    return table;
}

constexpr OneOrThreePackTable kOneOrThreePack = makeOneOrThreePackTable();

// The bytes that four lanes of one byte or three keep, by their bits.
inline uint32_t oneOrThreeBytes(uint32_t ones) {
    return 12 - 2 * static_cast<uint32_t>(__builtin_popcount(ones));
}

// Sixteen units of one byte or three, spread as storeSixteenThreeByteUnits
// spreads them with ASCII in the first byte of its lane; each register's
// lanes are marked by the ASCII mask spread alike, whose sign bits index
// the patterns. Stores at most 52 bytes and returns the bytes written.
VELTA_AVX2 inline uint32_t storeSixteenAsciiOrThreeByteUnits(__m256i units, unsigned char* target) {
    const __m256i low6 = _mm256_set1_epi16(0x3F);
    const __m256i mark = lastByteMark();
    const __m256i ascii = asciiUnits(units);
    const __m256i firstTwo = _mm256_blendv_epi8(leadAndMiddleBytes(units), units, ascii);
    const __m256i last = _mm256_or_si256(_mm256_and_si256(units, low6), mark);
    // Units 0-3 and 8-11 in one register, 4-7 and 12-15 in the other.
    const uint32_t outerOnes = laneBits(_mm256_unpacklo_epi16(ascii, ascii));
    const uint32_t innerOnes = laneBits(_mm256_unpackhi_epi16(ascii, ascii));
    const __m256i outer = _mm256_shuffle_epi8(
        _mm256_unpacklo_epi16(firstTwo, last),
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kOneOrThreePack.pattern[outerOnes])));
    const __m256i inner = _mm256_shuffle_epi8(
        _mm256_unpackhi_epi16(firstTwo, last),
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kOneOrThreePack.pattern[innerOnes])));
    uint32_t out = 0;
    store128(target, _mm256_castsi256_si128(outer));
    out += oneOrThreeBytes(outerOnes & 15);
    store128(target + out, _mm256_castsi256_si128(inner));
    out += oneOrThreeBytes(innerOnes & 15);
    store128(target + out, _mm256_extracti128_si256(outer, 1));
    out += oneOrThreeBytes(outerOnes >> 4);
    store128(target + out, _mm256_extracti128_si256(inner, 1));
    return out + oneOrThreeBytes(innerOnes >> 4);
}

// Blocks of units below U+0800 (Latin, Greek, Cyrillic text), up to a run
// of ASCII as long as three blocks (for the ASCII kernel) or a block with a
// unit of three bytes. A loop of its own, not inlined: in the loop below the
// compiler kept its constants out of registers and made them again in every
// block. A short run of ASCII is packed with the letters around it, without
// a branch on each block's ASCII that the processor could not predict.
template <bool swap>
VELTA_AVX2 __attribute__((noinline)) uint32_t encodeShortUnitBlocks(const unsigned char* source,
                                                                    uint32_t units,
                                                                    unsigned char* target,
                                                                    uint32_t room,
                                                                    uint32_t* written) {
    // Units of the other order are tested as they lie and swapped only to
    // be stored (UTF-16BE Latin text: a twentieth faster).
    const __m256i nonAscii = unitMask<swap>(0xFF80);
    const __m256i threeBytes = unitMask<swap>(0xF800);
    uint32_t in = 0, out = 0;
    // Two blocks at a time, while both are short and the three from the
    // first are not all ASCII; then one. Once a pair is taken, the run is
    // likely long: four blocks a step while all are short (an eighth faster
    // on Latin text). Tried only after a pair, so the short runs of mixed
    // text pay no test of four that fails.
    while (units - in >= 49 && room - out >= 128) {
        const __m256i first = load256(source + 2 * in);
        const __m256i second = load256(source + 2 * in + 32);
        const __m256i both = _mm256_or_si256(first, second);
        if (!_mm256_testz_si256(both, threeBytes) ||
            _mm256_testz_si256(_mm256_or_si256(both, load256(source + 2 * in + 64)), nonAscii))
            break;
        out += storeThirtyTwoShortUnits(ordered<swap>(first), ordered<swap>(second), target + out);
        in += 32;
        while (units - in >= 65 && room - out >= 128) {
            const __m256i b0 = load256(source + 2 * in);
            const __m256i b1 = load256(source + 2 * in + 32);
            const __m256i b2 = load256(source + 2 * in + 64);
            const __m256i b3 = load256(source + 2 * in + 96);
            const __m256i firstThree = _mm256_or_si256(_mm256_or_si256(b0, b1), b2);
            if (!_mm256_testz_si256(_mm256_or_si256(firstThree, b3), threeBytes) ||
                _mm256_testz_si256(firstThree, nonAscii))
                break;
            out += storeThirtyTwoShortUnits(ordered<swap>(b0), ordered<swap>(b1), target + out);
            out += storeThirtyTwoShortUnits(ordered<swap>(b2), ordered<swap>(b3), target + out);
            in += 64;
        }
    }
    // A block stores at most 32 bytes.
    while (units - in >= 17 && room - out >= 32) {
        const __m256i block = load256(source + 2 * in);
        if (!_mm256_testz_si256(block, threeBytes)) break;
        if (units - in >= 49 &&
            _mm256_testz_si256(
                _mm256_or_si256(_mm256_or_si256(block, load256(source + 2 * in + 32)),
                                load256(source + 2 * in + 64)),
                nonAscii))
            break;
        out += storeSixteenShortUnits(ordered<swap>(block), target + out);
        in += 16;
    }
    *written = out;
    return in;
}

// The end of the room (of each piece of a stream), where a block may not
// fit: blocks written aside as UTF-8 while they fit, and of the last the
// characters that fit. `Blocks` says which blocks it takes (sixteen BMP
// characters, no surrogates: a unit each) and writes them.
template <typename Blocks>
VELTA_AVX2 __attribute__((noinline)) uint32_t fillRoomFromAside(const unsigned char* source,
                                                                uint32_t count,
                                                                unsigned char* target,
                                                                uint32_t room, uint32_t* written) {
    uint32_t in = 0, out = 0;
    __m256i units;
    while (count - in >= Blocks::kLeast && room - out != 0 &&
           Blocks::take(source + Blocks::kWidth * in, &units)) {
        unsigned char aside[64];
        const uint32_t made = Blocks::store(units, aside);
        if (made <= room - out) {
            memcpy(target + out, aside, made);
            in += 16;
            out += made;
            continue;
        }
        uint16_t values[16];
        store256(reinterpret_cast<unsigned char*>(values), units);
        uint32_t taken = 0, bytes = 0;
        for (; taken < 16; ++taken) {
            const uint32_t next = values[taken] < 0x80 ? 1 : values[taken] < 0x800 ? 2 : 3;
            if (next > room - out - bytes) break;
            bytes += next;
        }
        memcpy(target + out, aside, bytes);
        in += taken;
        out += bytes;
        break;
    }
    *written = out;
    return in;
}

// Blocks of sixteen units below U+0800, in the machine's order or swapped.
template <bool swap>
struct ShortUnitBlocks {
    enum : uint32_t { kWidth = 2, kLeast = 17 };
    VELTA_AVX2 static bool take(const unsigned char* source, __m256i* units) {
        *units = loadUnits<swap>(source);
        return _mm256_testz_si256(*units, _mm256_set1_epi16(static_cast<short>(0xF800))) != 0;
    }
    VELTA_AVX2 static uint32_t store(__m256i units, unsigned char* aside) {
        return storeSixteenShortUnits(units, aside);
    }
};

// Blocks of units of three bytes (CJK text), alone or with ASCII, up to a
// block of anything else; a loop of its own for the same reason.
template <bool swap>
VELTA_AVX2 __attribute__((noinline)) uint32_t encodeThreeByteBlocks(const unsigned char* source,
                                                                    uint32_t units,
                                                                    unsigned char* target,
                                                                    uint32_t room,
                                                                    uint32_t* written) {
    const __m256i threeBytes = _mm256_set1_epi16(static_cast<short>(0xF800));
    const __m256i surrogateTop = keptInRegister(unitMask<false>(0xD800));
    uint32_t in = 0, out = 0;
    while (units - in >= 17 && room - out >= 64) {
        const __m256i block = loadUnits<swap>(source + 2 * in);
        if (_mm256_testz_si256(block, threeBytes)) break;
        if (allThreeByteUnits(block, surrogateTop)) {
            storeSixteenThreeByteUnits(block, target + out);
            out += 48;
        } else if (asciiOrThreeByteUnits(block, surrogateTop)) {
            out += storeSixteenAsciiOrThreeByteUnits(block, target + out);
        } else {
            break;
        }
        in += 16;
    }
    *written = out;
    return in;
}

// Blocks of units of every length, pairs among them (emoji; letters with
// typographic quotes and dashes), up to a lone surrogate, a block of CJK
// text or a run of four blocks below U+0800, for which the loops above are
// faster; a loop of its own for the same reason. A short block alone is
// taken here: leaving for one costs more than it saves.
template <bool swap>
VELTA_AVX2 __attribute__((noinline)) uint32_t encodeMixedBlocks(const unsigned char* source,
                                                                uint32_t units,
                                                                unsigned char* target,
                                                                uint32_t room, uint32_t* written) {
    const __m256i threeBytes = unitMask<swap>(0xF800);
    uint32_t in = 0, out = 0;
    while (units - in >= 17 && room - out >= 64) {
        const __m256i block = load256(source + 2 * in);
        if (allThreeByteUnits<swap>(block)) break;
        if (units - in >= 65 &&
            _mm256_testz_si256(
                _mm256_or_si256(
                    _mm256_or_si256(block, load256(source + 2 * in + 32)),
                    _mm256_or_si256(load256(source + 2 * in + 64), load256(source + 2 * in + 96))),
                threeBytes))
            break;
        uint32_t bytes = 0;
        const uint32_t taken = encodeSixteenUnits<swap>(block, target + out, &bytes);
        if (taken == 0) break;
        in += taken;
        out += bytes;
    }
    *written = out;
    return in;
}

template <bool swap>
VELTA_AVX2 uint32_t encodeUtf8Blocks(const unsigned char* source, uint32_t units,
                                     unsigned char* target, uint32_t room, uint32_t* written) {
    uint32_t in = 0, out = 0;
    while (units - in >= 17 && room - out >= 64) {
        const __m256i block = load256(source + 2 * in);
        if (_mm256_testz_si256(block, unitMask<swap>(0xF800))) {
            uint32_t bytes = 0;
            const uint32_t taken = encodeShortUnitBlocks<swap>(source + 2 * in, units - in,
                                                               target + out, room - out, &bytes);
            in += taken;
            out += bytes;
            if (taken != 0) continue;
            // A run of ASCII as long as three blocks.
            const uint32_t run =
                swap
                    ? narrowAsciiBlocks<true>(source + 2 * in, units - in, target + out, room - out)
                    : narrowAsciiAvx2(source + 2 * in, units - in, target + out, room - out);
            in += run;
            out += run;
            continue;
        }
        uint32_t bytes = 0;
        if (allThreeByteUnits<swap>(block) || asciiOrThreeByteUnits<swap>(block)) {
            in += encodeThreeByteBlocks<swap>(source + 2 * in, units - in, target + out, room - out,
                                              &bytes);
            out += bytes;
            continue;
        }
        const uint32_t taken =
            encodeMixedBlocks<swap>(source + 2 * in, units - in, target + out, room - out, &bytes);
        if (taken == 0) break;
        in += taken;
        out += bytes;
    }
    if (room - out < 64) {
        uint32_t bytes = 0;
        in += fillRoomFromAside<ShortUnitBlocks<swap>>(source + 2 * in, units - in, target + out,
                                                       room - out, &bytes);
        out += bytes;
    }
    *written = out;
    return in;
}

VELTA_AVX2 uint32_t encodeUtf8Avx2(const unsigned char* source, uint32_t units,
                                   unsigned char* target, uint32_t room, uint32_t* written) {
    return encodeUtf8Blocks<false>(source, units, target, room, written);
}

VELTA_AVX2 uint32_t encodeUtf8SwappedAvx2(const unsigned char* source, uint32_t units,
                                          unsigned char* target, uint32_t room, uint32_t* written) {
    return encodeUtf8Blocks<true>(source, units, target, room, written);
}

// Whether eight UCS-4 values are all characters: none past U+10FFFF, no
// surrogate.
VELTA_AVX2 inline bool eightCharacters(__m256i values) {
    const __m256i last = _mm256_set1_epi32(0x10FFFF);
    const __m256i beyond = _mm256_xor_si256(
        _mm256_cmpeq_epi32(_mm256_max_epu32(values, last), last), _mm256_set1_epi32(-1));
    const __m256i surrogate = _mm256_cmpeq_epi32(
        _mm256_and_si256(values, _mm256_set1_epi32(static_cast<int>(0xFFFFF800u))),
        _mm256_set1_epi32(0xD800));
    return _mm256_testz_si256(_mm256_or_si256(beyond, surrogate), _mm256_set1_epi32(-1)) != 0;
}

// Eight characters of any length (emoji among them) as UTF-8: each value's
// one to four bytes in its lane, first byte lowest, then the lanes packed by
// their lengths. Stores at most 32 bytes and returns the bytes written.
VELTA_AVX2 inline uint32_t storeEightCharacters(__m256i c, unsigned char* target) {
    const EncodedLanes lanes = encodeEightValues<true>(c);
    const uint32_t two1 = laneBits(lanes.twoOrMore), three1 = laneBits(lanes.threeOrMore),
                   four1 = laneBits(lanes.four);
    // Two bits a lane, the length less one: (two ^ three) | four is its low
    // bit, three its high bit.
    const uint32_t low = (two1 ^ three1) | four1, high = three1;
    const uint32_t first = kSpreadNibble[low & 15] | kSpreadNibble[high & 15] << 1;
    const uint32_t next = kSpreadNibble[low >> 4] | kSpreadNibble[high >> 4] << 1;
    return storePacked(lanes.bytes, kSequencePack, first, next, target);
}

// Sixteen ASCII units as their bytes: 16.
VELTA_AVX2 inline uint32_t storeSixteenAsciiUnits(__m256i units, unsigned char* target) {
    const __m256i bytes = _mm256_packus_epi16(units, units);
    store128(target, _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0x08)));
    return 16;
}

// Sixteen units without surrogates as UTF-8, by the widths the block has.
// Stores at most 64 bytes and returns the bytes written.
VELTA_AVX2 inline uint32_t storeSixteenBmpUnits(__m256i units, __m256i top, unsigned char* target) {
    if (_mm256_testz_si256(units, _mm256_set1_epi16(static_cast<short>(0xFF80))))
        return storeSixteenAsciiUnits(units, target);
    if (_mm256_testz_si256(top, top)) return storeSixteenShortUnits(units, target);
    if (allThreeByteUnits(units)) {
        storeSixteenThreeByteUnits(units, target);
        return 48;
    }
    if (asciiOrThreeByteUnits(units)) return storeSixteenAsciiOrThreeByteUnits(units, target);
    const __m256i none = _mm256_setzero_si256();
    return storeSixteenUnits<false>(units, none, none, 16, target);
}

// Blocks of sixteen UCS-4 values, in the machine's order or swapped, all in
// the BMP and none a surrogate, as units.
template <bool swap>
struct BmpValueBlocks {
    enum : uint32_t { kWidth = 4, kLeast = 16 };
    VELTA_AVX2 static bool take(const unsigned char* source, __m256i* units) {
        const __m256i a = ordered32<swap>(load256(source));
        const __m256i b = ordered32<swap>(load256(source + 32));
        if (!_mm256_testz_si256(_mm256_or_si256(a, b),
                                _mm256_set1_epi32(static_cast<int>(0xFFFF0000u))))
            return false;
        // packus works within 128-bit halves: put the quarters back in order.
        *units = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
        return _mm256_testz_si256(_mm256_cmpeq_epi16(_mm256_and_si256(*units, topFive()),
                                                     _mm256_set1_epi16(static_cast<short>(0xD800))),
                                  _mm256_set1_epi8(-1)) != 0;
    }
    VELTA_AVX2 static uint32_t store(__m256i units, unsigned char* aside) {
        return storeSixteenBmpUnits(units, _mm256_and_si256(units, topFive()), aside);
    }
    VELTA_AVX2 static __m256i topFive() { return _mm256_set1_epi16(static_cast<short>(0xF800)); }
};

// Blocks of sixteen UCS-4 values below U+0800 (ASCII, Latin, Greek,
// Cyrillic text), in the machine's order or swapped. A short run of ASCII
// is packed with the letters around it, without a branch on each block's
// ASCII that the processor could not predict; a block of ASCII with
// another after it is packed as ASCII. A loop of its own, as the UTF-16
// encoder's.
template <bool swap>
VELTA_AVX2 __attribute__((noinline)) uint32_t encodeShortValueBlocks(const unsigned char* source,
                                                                     uint32_t values,
                                                                     unsigned char* target,
                                                                     uint32_t room,
                                                                     uint32_t* written) {
    const __m256i twoOrMore = _mm256_set1_epi32(static_cast<int>(0xFFFFFF80u));
    const __m256i threeOrMore = _mm256_set1_epi32(static_cast<int>(0xFFFFF800u));
    uint32_t in = 0, out = 0;
    while (values - in >= 16 && room - out >= 32) {
        const __m256i a = ordered32<swap>(load256(source + 4 * in));
        const __m256i b = ordered32<swap>(load256(source + 4 * in + 32));
        const __m256i both = _mm256_or_si256(a, b);
        if (!_mm256_testz_si256(both, threeOrMore)) break;
        // packus works within 128-bit halves: put the quarters back in order.
        const __m256i units = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
        if (values - in >= 32 &&
            _mm256_testz_si256(_mm256_or_si256(both, ordered32<swap>(_mm256_or_si256(
                                                         load256(source + 4 * in + 64),
                                                         load256(source + 4 * in + 96)))),
                               twoOrMore)) {
            out += storeSixteenAsciiUnits(units, target + out);
        } else {
            out += storeSixteenShortUnits(units, target + out);
        }
        in += 16;
    }
    *written = out;
    return in;
}

// Blocks of sixteen UCS-4 values in the BMP, none a surrogate, with one of
// U+0800 or above in each (CJK text), in the machine's order or swapped; a
// loop of its own for the same reason.
template <bool swap>
VELTA_AVX2 __attribute__((noinline)) uint32_t encodeBmpValueBlocks(const unsigned char* source,
                                                                   uint32_t values,
                                                                   unsigned char* target,
                                                                   uint32_t room,
                                                                   uint32_t* written) {
    const __m256i beyondBmp = _mm256_set1_epi32(static_cast<int>(0xFFFF0000u));
    uint32_t in = 0, out = 0;
    while (values - in >= 16 && room - out >= 64) {
        const __m256i a = ordered32<swap>(load256(source + 4 * in));
        const __m256i b = ordered32<swap>(load256(source + 4 * in + 32));
        if (!_mm256_testz_si256(_mm256_or_si256(a, b), beyondBmp)) break;
        // packus works within 128-bit halves: put the quarters back in order.
        const __m256i units = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
        const __m256i top = _mm256_and_si256(units, _mm256_set1_epi16(static_cast<short>(0xF800)));
        const __m256i surrogates =
            _mm256_cmpeq_epi16(top, _mm256_set1_epi16(static_cast<short>(0xD800)));
        if (_mm256_testz_si256(top, top) || !_mm256_testz_si256(surrogates, surrogates)) break;
        if (allThreeByteUnits(units)) {
            storeSixteenThreeByteUnits(units, target + out);
            out += 48;
        } else if (asciiOrThreeByteUnits(units)) {
            out += storeSixteenAsciiOrThreeByteUnits(units, target + out);
        } else {
            const __m256i none = _mm256_setzero_si256();
            out += storeSixteenUnits<false>(units, none, none, 16, target + out);
        }
        in += 16;
    }
    *written = out;
    return in;
}

// UCS-4 values, in the machine's order or swapped, to UTF-8: sixteen at a
// time while they are in the BMP, eight at a time where characters beyond
// it come, while input and room hold a block; the codec takes a block with
// a value that is no character. Returns the values taken.
template <bool swap>
VELTA_AVX2 uint32_t encodeUtf32Blocks(const unsigned char* source, uint32_t values,
                                      unsigned char* target, uint32_t room, uint32_t* written) {
    uint32_t in = 0, out = 0;
    const __m256i beyondBmp = _mm256_set1_epi32(static_cast<int>(0xFFFF0000u));
    while (values - in >= 16 && room - out >= 64) {
        const __m256i a = ordered32<swap>(load256(source + 4 * in));
        const __m256i b = ordered32<swap>(load256(source + 4 * in + 32));
        if (!_mm256_testz_si256(_mm256_or_si256(a, b), beyondBmp)) {
            if (!eightCharacters(a)) break;
            out += storeEightCharacters(a, target + out);
            in += 8;
            continue;
        }
        // packus works within 128-bit halves: put the quarters back in order.
        const __m256i units = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
        const __m256i top = _mm256_and_si256(units, _mm256_set1_epi16(static_cast<short>(0xF800)));
        const __m256i surrogates =
            _mm256_cmpeq_epi16(top, _mm256_set1_epi16(static_cast<short>(0xD800)));
        if (!_mm256_testz_si256(surrogates, surrogates)) break;
        uint32_t bytes = 0;
        in += _mm256_testz_si256(top, top)
                  ? encodeShortValueBlocks<swap>(source + 4 * in, values - in, target + out,
                                                 room - out, &bytes)
                  : encodeBmpValueBlocks<swap>(source + 4 * in, values - in, target + out,
                                               room - out, &bytes);
        out += bytes;
    }
    if (room - out < 64) {
        uint32_t bytes = 0;
        in += fillRoomFromAside<BmpValueBlocks<swap>>(source + 4 * in, values - in, target + out,
                                                      room - out, &bytes);
        out += bytes;
    }
    *written = out;
    return in;
}

VELTA_AVX2 uint32_t encodeUtf32ToUtf8Avx2(const unsigned char* source, uint32_t values,
                                          unsigned char* target, uint32_t room, uint32_t* written,
                                          bool swapped) {
    return swapped ? encodeUtf32Blocks<true>(source, values, target, room, written)
                   : encodeUtf32Blocks<false>(source, values, target, room, written);
}

// pshufb patterns for four 32-bit lanes holding one unit (low half) or a
// surrogate pair (high surrogate low), indexed by a bit a lane for "pair",
// with the bytes kept.
constexpr BytePackTable makePairPackTable() {
    BytePackTable table{};
    for (int index = 0; index < 16; ++index) {
        int kept = 0;
        for (int lane = 0; lane < 4; ++lane) {
            const int length = index >> lane & 1 ? 4 : 2;
            for (int byte = 0; byte < length; ++byte)
                table.pattern[index][kept++] = static_cast<unsigned char>(4 * lane + byte);
        }
        table.count[index] = static_cast<unsigned char>(kept);
        for (int byte = kept; byte < 16; ++byte) table.pattern[index][byte] = 0x80;
    }
    return table;
}

constexpr BytePackTable kPairPack = makePairPackTable();

// Eight UCS-4 units at a time (sixteen while all are in the BMP); a block
// holding a value past U+10FFFF is the codec's. The codec keeps the room of
// a terminator out of `room`.
VELTA_AVX2 uint32_t narrowUcs4Avx2(const unsigned char* source, uint32_t units,
                                   unsigned char* target, uint32_t room, uint32_t* produced) {
    uint32_t in = 0, out = 0;
    const __m256i bmpOnly = _mm256_set1_epi32(static_cast<int>(0xFFFF0000u));
    while (units - in >= 16 && room - out >= 32) {
        const __m256i a = load256(source + 4 * in);
        const __m256i b = load256(source + 4 * in + 32);
        if (!_mm256_testz_si256(_mm256_or_si256(a, b), bmpOnly)) break;
        // packus works within 128-bit halves: put the quarters back in order.
        store256(target + out, _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8));
        in += 16;
        out += 32;
    }
    while (units - in >= 8 && room - out >= 32) {
        const __m256i v = load256(source + 4 * in);
        const __m256i last = _mm256_set1_epi32(0x10FFFF);
        const __m256i inRange = _mm256_cmpeq_epi32(_mm256_max_epu32(v, last), last);
        if (laneBits(inRange) != 0xFF) break;
        const __m256i pair = _mm256_cmpgt_epi32(v, _mm256_set1_epi32(0xFFFF));
        const __m256i offset = _mm256_sub_epi32(v, _mm256_set1_epi32(0x10000));
        const __m256i surrogates = _mm256_or_si256(
            _mm256_add_epi32(_mm256_srli_epi32(offset, 10), _mm256_set1_epi32(0xD800)),
            _mm256_slli_epi32(_mm256_add_epi32(_mm256_and_si256(offset, _mm256_set1_epi32(0x3FF)),
                                               _mm256_set1_epi32(0xDC00)),
                              16));
        const __m256i lanes = _mm256_blendv_epi8(v, surrogates, pair);
        const uint32_t pairs = laneBits(pair);
        const uint32_t first = pairs & 15, second = pairs >> 4;
        const __m256i packed = _mm256_shuffle_epi8(
            lanes,
            _mm256_inserti128_si256(_mm256_castsi128_si256(load128(kPairPack.pattern[first])),
                                    load128(kPairPack.pattern[second]), 1));
        store128(target + out, _mm256_castsi256_si128(packed));
        store128(target + out + kPairPack.count[first], _mm256_extracti128_si256(packed, 1));
        out += kPairPack.count[first] + kPairPack.count[second];
        in += 8;
    }
    *produced = out;
    return in;
}

// The first `count` of eight units as UCS-4, each pair joined into the lane
// of its high surrogate and the lanes of low surrogates dropped; stores 32
// bytes and returns the bytes written.
VELTA_AVX2 inline uint32_t widenEightWithPairs(__m128i units, __m128i nextUnits, uint32_t count,
                                               unsigned char* target) {
    const JoinedUnits joined = joinPairs(units, nextUnits);
    const uint32_t keep = ~laneBits(joined.low) & ((1u << count) - 1);
    const __m256i order =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLanePack.order[keep]));
    store256(target, _mm256_permutevar8x32_epi32(joined.values, order));
    return 4 * static_cast<uint32_t>(__builtin_popcount(keep));
}

// Sixteen UCS-2 units at a time, surrogate pairs joined, up to a lone
// surrogate, while `room` holds a block's values (the codec keeps the room
// of a terminator out of it).
VELTA_AVX2 uint32_t widenToUcs4Avx2(const unsigned char* source, uint32_t units,
                                    unsigned char* target, uint32_t room, uint32_t* produced) {
    uint32_t in = 0, out = 0;
    const __m256i surrogateBits = _mm256_set1_epi16(static_cast<short>(0xFC00));
    while (units - in >= 17 && room - out >= 64) {
        const __m256i v = load256(source + 2 * in);
        const __m256i kind = _mm256_and_si256(v, surrogateBits);
        // Two mask bits a unit.
        const uint64_t high = static_cast<uint32_t>(_mm256_movemask_epi8(
            _mm256_cmpeq_epi16(kind, _mm256_set1_epi16(static_cast<short>(0xD800)))));
        const uint64_t low = static_cast<uint32_t>(_mm256_movemask_epi8(
            _mm256_cmpeq_epi16(kind, _mm256_set1_epi16(static_cast<short>(0xDC00)))));
        if ((high | low) == 0) {
            store256(target + out, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(v)));
            store256(target + out + 32, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(v, 1)));
            in += 16;
            out += 64;
            continue;
        }
        const uint32_t end = unitsOfWholePairs(high, low);
        if (end == 0) break;
        const __m256i next = load256(source + 2 * in + 2);
        out += widenEightWithPairs(_mm256_castsi256_si128(v), _mm256_castsi256_si128(next),
                                   end < 8 ? end : 8, target + out);
        if (end > 8)
            out += widenEightWithPairs(_mm256_extracti128_si256(v, 1),
                                       _mm256_extracti128_si256(next, 1), end - 8, target + out);
        in += end;
    }
    // Where the input or the room ends inside a block (the end of a stream's
    // piece), a last block without surrogates ends there, over values this
    // call wrote alike: each of its units before `in` made four bytes.
    const uint32_t roomUnits = in + (room - out) / 4;
    const uint32_t end = units < roomUnits ? units : roomUnits;
    if (in >= 16 && end > in && end - in <= 16) {
        const __m256i v = load256(source + 2 * (end - 16));
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi16(
                _mm256_and_si256(v, _mm256_set1_epi16(static_cast<short>(0xF800))),
                _mm256_set1_epi16(static_cast<short>(0xD800)))) == 0) {
            unsigned char* blockTarget = target + out - 4 * (in - (end - 16));
            store256(blockTarget, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(v)));
            store256(blockTarget + 32, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(v, 1)));
            out += 4 * (end - in);
            in = end;
        }
    }
    *produced = out;
    return in;
}

// Sixteen units at a time while every surrogate in them pairs (a high
// surrogate in the last lane waits for the next block).
VELTA_AVX2 uint32_t copyUtf16Avx2(const unsigned char* source, uint32_t length,
                                  unsigned char* target, uint32_t room) {
    uint32_t done = 0;
    const __m256i surrogateBits = _mm256_set1_epi16(static_cast<short>(0xFC00));
    const __m256i high = _mm256_set1_epi16(static_cast<short>(0xD800));
    const __m256i low = _mm256_set1_epi16(static_cast<short>(0xDC00));
    while (length - done >= 32 && room - done >= 32) {
        const __m256i units = load256(source + done);
        const __m256i kind = _mm256_and_si256(units, surrogateBits);
        // Two mask bits a unit.
        const uint64_t highs =
            static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(kind, high)));
        const uint64_t lows =
            static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(kind, low)));
        const uint64_t mismatch = lows ^ (highs << 2);
        uint32_t whole = mismatch == 0 ? 16 : static_cast<uint32_t>(__builtin_ctzll(mismatch)) / 2;
        if (whole > 16) whole = 16;
        if (whole != 0 && (highs >> (2 * (whole - 1)) & 1) != 0) --whole;
        store256(target + done, units);
        done += 2 * whole;
        if (whole < 15) break;
    }
    return done;
}

// Base64 of twelve units a block, after W. Muła and D. Lemire, "Faster
// Base64 Encoding and Decoding Using AVX2 Instructions" (ACM TWEB, 2018):
// each 32-bit lane gathers three bytes of the big-endian text as b1 b0 b2
// b1, two multiplications move its four sextets into its four bytes, and a
// table of sixteen offsets by digit range turns sextets into digits.
VELTA_AVX2 uint32_t encodeBase64UnitsAvx2(const unsigned char* source, uint32_t units,
                                          unsigned char* target, uint32_t room, char last) {
    // Lane 0 holds bytes 0-11 of the block from offset 0, lane 1 bytes 12-23
    // from offset 4 (loaded from byte 8); byte i of the big-endian text is
    // byte i ^ 1 of the units.
    const __m256i gather = _mm256_setr_epi8(0, 1, 3, 0, 5, 2, 4, 5, 6, 7, 9, 6, 11, 8, 10, 11,  //
                                            4, 5, 7, 4, 9, 6, 8, 9, 10, 11, 13, 10, 15, 12, 14, 15);
    const __m256i offsets =
        _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                         '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, last - 63, 'A', 0, 0,
                         'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                         '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, last - 63, 'A', 0, 0);
    uint32_t in = 0, out = 0;
    while (units - in >= 12 && room - out >= 32) {
        const unsigned char* p = source + 2 * in;
        const __m256i bytes = _mm256_shuffle_epi8(
            _mm256_inserti128_si256(_mm256_castsi128_si256(load128(p)), load128(p + 8), 1), gather);
        const __m256i high = _mm256_mulhi_epu16(
            _mm256_and_si256(bytes, _mm256_set1_epi32(0x0FC0FC00)), _mm256_set1_epi32(0x04000040));
        const __m256i low = _mm256_mullo_epi16(
            _mm256_and_si256(bytes, _mm256_set1_epi32(0x003F03F0)), _mm256_set1_epi32(0x01000010));
        const __m256i sextets = _mm256_or_si256(high, low);
        // 0 for 26-51, 1-10 for 52-61, 11 and 12 for 62 and 63, 13 for 0-25.
        __m256i range = _mm256_subs_epu8(sextets, _mm256_set1_epi8(51));
        range = _mm256_or_si256(range,
                                _mm256_and_si256(_mm256_cmpgt_epi8(_mm256_set1_epi8(26), sextets),
                                                 _mm256_set1_epi8(13)));
        store256(target + out, _mm256_add_epi8(sextets, _mm256_shuffle_epi8(offsets, range)));
        in += 12;
        out += 32;
    }
    return in;
}

// Stores the bytes of sixteen that `kept` has a bit for, in order; stores
// at most sixteen and returns how many are kept.
VELTA_AVX2 inline uint32_t storeKeptBytes(__m128i bytes, uint32_t kept, unsigned char* target) {
    const uint32_t low = kept & 0xFF, high = kept >> 8 & 0xFF;
    const __m128i pattern = _mm_add_epi8(
        _mm_unpacklo_epi64(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kBytesOfEight.pattern[low])),
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kBytesOfEight.pattern[high]))),
        _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 8, 8, 8, 8, 8, 8));
    const __m128i packed = _mm_shuffle_epi8(bytes, pattern);
    const uint32_t lowCount = static_cast<uint32_t>(__builtin_popcount(low));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(target), packed);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(target + lowCount),
                     _mm_unpackhi_epi64(packed, packed));
    return lowCount + static_cast<uint32_t>(__builtin_popcount(high));
}

// 128 of a window's bytes as eight tables whose XOR up to table k is the
// k-th sixteen: pshufb by (index - 16 k) gives table k's entry from index
// 16 k on and 0 below it (the top bit set), so the XOR of all eight
// lookups is the index's byte.
struct WindowLookup {
    __m256i steps[8];
};

VELTA_AVX2 inline WindowLookup windowLookupOf(const unsigned char* bytes) {
    WindowLookup lookup;
    __m128i previous = _mm_setzero_si128();
    for (int k = 0; k < 8; ++k) {
        const __m128i sixteen = load128(bytes + 16 * k);
        lookup.steps[k] = _mm256_broadcastsi128_si256(_mm_xor_si128(sixteen, previous));
        previous = sixteen;
    }
    return lookup;
}

VELTA_AVX2 inline __m256i lookUp(const WindowLookup& lookup, __m256i index) {
    __m256i bytes = _mm256_shuffle_epi8(lookup.steps[0], index);
    for (int k = 1; k < 8; ++k)
        bytes = _mm256_xor_si256(
            bytes, _mm256_shuffle_epi8(
                       lookup.steps[k],
                       _mm256_sub_epi8(index, _mm256_set1_epi8(static_cast<char>(16 * k)))));
    return bytes;
}

// An index of 0-255: both halves looked up by its low seven bits, its top
// bit choosing.
VELTA_AVX2 inline __m256i lookUpWide(const WindowLookup& low, const WindowLookup& high,
                                     __m256i index) {
    const __m256i seven = _mm256_and_si256(index, _mm256_set1_epi8(0x7F));
    __m256i lowBytes = _mm256_shuffle_epi8(low.steps[0], seven);
    __m256i highBytes = _mm256_shuffle_epi8(high.steps[0], seven);
    for (int k = 1; k < 8; ++k) {
        const __m256i shifted = _mm256_sub_epi8(seven, _mm256_set1_epi8(static_cast<char>(16 * k)));
        lowBytes = _mm256_xor_si256(lowBytes, _mm256_shuffle_epi8(low.steps[k], shifted));
        highBytes = _mm256_xor_si256(highBytes, _mm256_shuffle_epi8(high.steps[k], shifted));
    }
    return _mm256_blendv_epi8(lowBytes, highBytes, index);
}

// Copies ASCII from a block of 32 that is (and the room holds) up to the
// next block that is not, 128 bytes a test while there are; returns the
// bytes copied.
VELTA_AVX2 inline uint32_t copyAsciiRun(const unsigned char* source, uint32_t length,
                                        unsigned char* target, uint32_t room) {
    uint32_t done = 0;
    for (; length - done >= 128 && room - done >= 128; done += 128) {
        const __m256i a = load256(source + done), b = load256(source + done + 32);
        const __m256i c = load256(source + done + 64), d = load256(source + done + 96);
        if (_mm256_movemask_epi8(_mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(c, d))))
            break;
        store256(target + done, a);
        store256(target + done + 32, b);
        store256(target + done + 64, c);
        store256(target + done + 96, d);
    }
    for (; length - done >= 32 && room - done >= 32; done += 32) {
        const __m256i a = load256(source + done);
        if (_mm256_movemask_epi8(a) != 0) break;
        store256(target + done, a);
    }
    return done;
}

// 32 bytes at a time: the window's characters are found where a lead, its
// second byte and a continuation byte line up, every other byte above 0x7F
// must be one of theirs, and the bytes kept (ASCII and the looked-up ones
// at the leads) are packed eight at a time. A block is taken up to its
// first other character; the portable loop ends the text.
// Where each character of the window starts in 32 bytes (x0 from the
// block's first byte, x1 and x2 from the next two), with the index of its
// byte in the window, for a window of two-byte characters or of three.
struct WindowStarts {
    __m256i starts, index;
};

template <bool twoBytes>
VELTA_AVX2 inline WindowStarts windowStartsOf(const Utf8Window& window, __m256i x0, __m256i x1,
                                              __m256i x2) {
    const __m256i continuation = _mm256_set1_epi8(static_cast<char>(0x80));
    const __m256i topTwo = _mm256_set1_epi8(static_cast<char>(0xC0));
    const __m256i lowBit = _mm256_set1_epi8(-2);
    WindowStarts found;
    if (twoBytes) {
        // The lead's offset from the window's first, 0-3 for the window's.
        const __m256i offset =
            _mm256_sub_epi8(x0, _mm256_set1_epi8(static_cast<char>(window.lead)));
        found.starts =
            _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_and_si256(offset, _mm256_set1_epi8(-4)),
                                               _mm256_setzero_si256()),
                             _mm256_cmpeq_epi8(_mm256_and_si256(x1, topTwo), continuation));
        found.index = _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi16(offset, 6),
                                                       _mm256_set1_epi8(static_cast<char>(0xC0))),
                                      _mm256_and_si256(x1, _mm256_set1_epi8(0x3F)));
        return found;
    }
    found.starts = _mm256_and_si256(
        _mm256_and_si256(_mm256_cmpeq_epi8(x0, _mm256_set1_epi8(static_cast<char>(window.lead))),
                         _mm256_cmpeq_epi8(_mm256_and_si256(x1, lowBit),
                                           _mm256_set1_epi8(static_cast<char>(window.second)))),
        _mm256_cmpeq_epi8(_mm256_and_si256(x2, topTwo), continuation));
    found.index =
        _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi16(x1, 6), _mm256_set1_epi8(0x40)),
                        _mm256_and_si256(x2, _mm256_set1_epi8(0x3F)));
    return found;
}

template <bool twoBytes>
VELTA_AVX2 uint32_t narrowUtf8WindowBlocks(const unsigned char* source, uint32_t length,
                                           const Utf8Window& window, unsigned char* target,
                                           uint32_t room, uint32_t* written) {
    const WindowLookup lookup = windowLookupOf(window.bytes);
    const WindowLookup highLookup = windowLookupOf(window.bytes + (twoBytes ? 128 : 0));
    uint32_t in = 0, out = 0;
    while (length - in >= 34 && room - out >= 32) {
        const __m256i x0 = load256(source + in);
        const uint32_t nonAscii = static_cast<uint32_t>(_mm256_movemask_epi8(x0));
        if (nonAscii == 0) {
            const uint32_t run = copyAsciiRun(source + in, length - in, target + out, room - out);
            in += run;
            out += run;
            continue;
        }
        const WindowStarts found = windowStartsOf<twoBytes>(window, x0, load256(source + in + 1),
                                                            load256(source + in + 2));
        // Where no character of the block is past the first two leads,
        // half the lookup does (Latin-1 letters in windows-1252).
        const bool wide =
            twoBytes && _mm256_movemask_epi8(_mm256_and_si256(found.starts, found.index)) != 0;
        const __m256i mapped =
            wide ? lookUpWide(lookup, highLookup, found.index) : lookUp(lookup, found.index);
        const uint64_t leads = static_cast<uint32_t>(_mm256_movemask_epi8(found.starts));
        const uint64_t covered = leads | leads << 1 | (twoBytes ? 0 : leads << 2);
        const uint32_t stray = nonAscii & ~static_cast<uint32_t>(covered);
        const uint32_t unmapped =
            static_cast<uint32_t>(leads) & static_cast<uint32_t>(_mm256_movemask_epi8(
                                               _mm256_cmpeq_epi8(mapped, _mm256_setzero_si256())));
        // A character at byte 30 or 31 ends in the next block.
        uint32_t end =
            covered >> 32 != 0 ? 64 - static_cast<uint32_t>(__builtin_clzll(covered)) : 32;
        if ((stray | unmapped) != 0) end = static_cast<uint32_t>(__builtin_ctz(stray | unmapped));
        const uint32_t kept = (~nonAscii | static_cast<uint32_t>(leads)) &
                              (end >= 32 ? 0xFFFFFFFFu : (uint32_t{1} << end) - 1);
        const __m256i bytes = _mm256_blendv_epi8(x0, mapped, found.starts);
        out += storeKeptBytes(_mm256_castsi256_si128(bytes), kept & 0xFFFF, target + out);
        out += storeKeptBytes(_mm256_extracti128_si256(bytes, 1), kept >> 16, target + out);
        in += end;
        if (end < 32) break;
    }
    uint32_t rest = 0;
    in +=
        narrowUtf8WindowPortable(source + in, length - in, window, target + out, room - out, &rest);
    *written = out + rest;
    return in;
}

VELTA_AVX2 uint32_t narrowUtf8WindowAvx2(const unsigned char* source, uint32_t length,
                                         const Utf8Window& window, unsigned char* target,
                                         uint32_t room, uint32_t* written) {
    // Text that leaves the window every few words (French in KOI8-R or
    // ISO-8859-2) comes here again after each character the encoding lacks:
    // where the first block's first character past ASCII is not one of the
    // window's, the ASCII before it is all there is, taken without the
    // lookups built.
    if (length >= 34 && room >= 32) {
        const __m256i x0 = load256(source);
        const uint32_t nonAscii = static_cast<uint32_t>(_mm256_movemask_epi8(x0));
        const uint32_t first = static_cast<uint32_t>(__builtin_ctz(nonAscii | 1u << 31));
        if (nonAscii != 0 && windowByteAt(window, source + first, length - first).byte == 0) {
            store256(target, x0);
            *written = first;
            return first;
        }
    }
    return isTwoByteWindow(window)
               ? narrowUtf8WindowBlocks<true>(source, length, window, target, room, written)
               : narrowUtf8WindowBlocks<false>(source, length, window, target, room, written);
}

// The bytes of a block of ASCII and bytes of their own units that fit in
// `room` (below 64), written aside and copied a whole character at a time:
// at the end of each piece of a stream. Returns the bytes taken.
VELTA_AVX2 inline uint32_t storeOwnBytesBefore(const unsigned char* source, __m256i x,
                                               unsigned char* target, uint32_t room,
                                               uint32_t* written) {
    const __m256i zero = _mm256_setzero_si256();
    unsigned char aside[64];
    storeThirtyTwoShortUnits(_mm256_unpacklo_epi8(x, zero), _mm256_unpackhi_epi8(x, zero), aside);
    uint32_t taken = 0, bytes = 0;
    for (; taken < 32; ++taken) {
        const uint32_t length = source[taken] < 0x80 ? 1 : 2;
        if (length > room - bytes) break;
        bytes += length;
    }
    memcpy(target, aside, bytes);
    *written = bytes;
    return taken;
}

// 32 bytes at a time: ASCII kept, the others' units looked up (their low
// and high bytes, each a window of 128), then written as the UCS-4 kernel
// writes sixteen units; blocks of Latin, Cyrillic or Greek letters and
// ASCII go through one path, without a branch on which. A block of ASCII
// and bytes that are their own units (Latin-1 letters) needs no lookup,
// and fills the room to its end.
VELTA_AVX2 uint32_t decodeBytesToUtf8Avx2(const unsigned char* highUnits, uint32_t firstOwnByte,
                                          const unsigned char* source, uint32_t length,
                                          unsigned char* target, uint32_t room, uint32_t* written) {
    uint32_t in = 0, out = 0;
    *written = 0;
    if (length < 32) return 0;
    WindowLookup low, high;
    bool lookupsMade = false;
    const __m256i none = _mm256_set1_epi8(-1);
    // Signed, the bytes 0x80 up to the first of their own value are those
    // below it; below 0 all of them, where no byte is.
    const __m256i firstOwn =
        _mm256_set1_epi8(static_cast<char>(firstOwnByte > 0xFF ? 0 : firstOwnByte));
    const __m256i zero = _mm256_setzero_si256();
    while (length - in >= 32 && room - out >= 64) {
        // Quarters 0, 2, 1, 3: unpacking within 128-bit halves then gives
        // the units of bytes 0-15 and 16-31.
        const __m256i x = _mm256_permute4x64_epi64(load256(source + in), 0xD8);
        if (_mm256_movemask_epi8(x) == 0) {
            const uint32_t run = copyAsciiRun(source + in, length - in, target + out, room - out);
            in += run;
            out += run;
            continue;
        }
        if (_mm256_testz_si256(_mm256_cmpgt_epi8(firstOwn, x), none)) {
            out += storeThirtyTwoShortUnits(_mm256_unpacklo_epi8(x, zero),
                                            _mm256_unpackhi_epi8(x, zero), target + out);
            in += 32;
            continue;
        }
        if (room - out < 128) break;
        if (!lookupsMade) {
            low = windowLookupOf(highUnits);
            high = windowLookupOf(highUnits + 128);
            lookupsMade = true;
        }
        const __m256i index = _mm256_and_si256(x, _mm256_set1_epi8(0x7F));
        const __m256i lowByte = _mm256_blendv_epi8(x, lookUp(low, index), x);
        const __m256i highByte = _mm256_and_si256(lookUp(high, index), _mm256_cmpgt_epi8(zero, x));
        if (_mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(lowByte, none),
                                                  _mm256_cmpeq_epi8(highByte, none))) != 0)
            break;
        const __m256i first = _mm256_unpacklo_epi8(lowByte, highByte);
        const __m256i second = _mm256_unpackhi_epi8(lowByte, highByte);
        const __m256i wide = _mm256_set1_epi16(static_cast<short>(0xF800));
        const __m256i firstTop = _mm256_and_si256(first, wide);
        const __m256i secondTop = _mm256_and_si256(second, wide);
        if (_mm256_testz_si256(_mm256_or_si256(first, second), wide)) {
            out += storeThirtyTwoShortUnits(first, second, target + out);
        } else {
            out += storeSixteenBmpUnits(first, firstTop, target + out);
            out += storeSixteenBmpUnits(second, secondTop, target + out);
        }
        in += 32;
    }
    while (length - in >= 32 && room - out < 64 && room != out) {
        const __m256i x = _mm256_permute4x64_epi64(load256(source + in), 0xD8);
        if (!_mm256_testz_si256(_mm256_cmpgt_epi8(firstOwn, x), none)) break;
        uint32_t bytes = 0;
        const uint32_t taken =
            storeOwnBytesBefore(source + in, x, target + out, room - out, &bytes);
        in += taken;
        out += bytes;
        if (taken < 32) break;
    }
    *written = out;
    return in;
}

// Each unit's byte gathered as the 32-bit value at its entry in a table of
// `Entry` (the entry lowest), sixteen at a time: one load a unit, without
// the branch on its range that Latin text (ASCII, Latin-1 and Latin
// Extended-A mixed) would mispredict. An entry of none (0, or a code of
// 0xFFFD, which the signed packing makes 0) stops it.
template <typename Entry>
VELTA_AVX2 uint32_t narrowThroughTable(const Entry* entries, const unsigned char* source,
                                       uint32_t units, unsigned char* target) {
    const int* table = reinterpret_cast<const int*>(entries);
    const __m256i entryBits = _mm256_set1_epi32(sizeof(Entry) == 1 ? 0xFF : 0xFFFF);
    uint32_t done = 0;
    for (; units - done >= 16; done += 16) {
        const __m256i unitsHere = load256(source + 2 * done);
        const __m256i first = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(unitsHere));
        const __m256i second = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(unitsHere, 1));
        const __m256i firstEntries = _mm256_and_si256(
            _mm256_i32gather_epi32(table, first, static_cast<int>(sizeof(Entry))), entryBits);
        const __m256i secondEntries = _mm256_and_si256(
            _mm256_i32gather_epi32(table, second, static_cast<int>(sizeof(Entry))), entryBits);
        // packus works within 128-bit halves: put the quarters back in order.
        const __m256i words =
            _mm256_permute4x64_epi64(_mm256_packus_epi32(firstEntries, secondEntries), 0xD8);
        const __m128i bytes =
            _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
        store128(target + done, bytes);
        const uint32_t stops =
            static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
        if (stops != 0) return done + static_cast<uint32_t>(__builtin_ctz(stops));
    }
    return done;
}

VELTA_AVX2 uint32_t narrowThroughBytesAvx2(const uint8_t* bytes, const unsigned char* source,
                                           uint32_t units, unsigned char* target) {
    return narrowThroughTable(bytes, source, units, target);
}

VELTA_AVX2 uint32_t narrowThroughCodesAvx2(const uint16_t* codes, const unsigned char* source,
                                           uint32_t units, unsigned char* target) {
    return narrowThroughTable(codes, source, units, target);
}

VELTA_AVX2 uint32_t widenBytesAvx2(const unsigned char* source, uint32_t count,
                                   unsigned char* target) {
    uint32_t done = 0;
    for (; count - done >= 32; done += 32)
        widenThirtyTwo<false, false>(load256(source + done), target + 2 * done);
    return done;
}

const TextKernels kAvx2Kernels = {"avx2",
                                  widenAsciiAvx2,
                                  narrowAsciiAvx2,
                                  decodeUtf8Avx2,
                                  encodeUtf8Avx2,
                                  narrowUcs4Avx2,
                                  widenToUcs4Avx2,
                                  copyUtf16Avx2,
                                  encodeBase64UnitsAvx2,
                                  decodeUtf8SwappedAvx2,
                                  encodeUtf8SwappedAvx2,
                                  decodeUtf8ToUtf32Avx2,
                                  encodeUtf32ToUtf8Avx2,
                                  narrowUtf8WindowAvx2,
                                  decodeBytesToUtf8Avx2,
                                  narrowThroughBytesAvx2,
                                  narrowThroughCodesAvx2,
                                  widenBytesAvx2};

bool cpuRunsAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

}  // namespace

const TextKernels* avx2Kernels() {
    static const bool runs = cpuRunsAvx2();
    return runs ? &kAvx2Kernels : nullptr;
}

}  // namespace velta

#else

namespace velta {
const TextKernels* avx2Kernels() {
    return nullptr;
}
}  // namespace velta

#endif
