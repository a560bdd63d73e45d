// What the converters made from glibc's charmaps (EUC-TW, JOHAB, EUC-JP-MS,
// BIG5-HKSCS; tables by generators/generate_charmap_indexes.py) share: a
// 16-bit grid whose characters beyond the BMP are flagged in a bit set, and
// the reverse of such a grid, code point to the bytes of its code.
#ifndef VELTA_CJKCONV_CHARMAP_CODES_H
#define VELTA_CJKCONV_CHARMAP_CODES_H

#include <stdint.h>

#include <algorithm>

#include "cjkconv/cjkconv.h"

namespace cjk {

// The character at a pointer of a grid, 0 for none. The grids hold only
// plane 2 beyond the BMP, as the low 16 bits of the code point.
inline uint32_t gridCharacter(const uint16_t* grid, const uint32_t* beyondBmp, uint32_t pointer) {
    const uint32_t unit = grid[pointer];
    if (beyondBmp != nullptr && (beyondBmp[pointer / 32] >> (pointer % 32) & 1) != 0)
        return 0x20000 + unit;
    return unit;
}

// A sequence whose byte at `position` does not belong to it: the bytes
// before it are malformed, and that byte with them unless it is ASCII,
// which is read again (no lead takes an ASCII byte with it).
inline Decoded brokenAt(uint32_t position, unsigned char byte) {
    return malformed(byte < 0x80 ? position : position + 1);
}

inline bool graphic(uint32_t byte) {
    return between(byte, 0xA1, 0xFE);
}

// Code point to code, the code's bytes packed big-endian into a word (its
// first byte is never 0). Where a character has several codes, the first
// one added stays.
template <uint32_t kBeyondBmpCapacity>
class CodeTable {
public:
    CodeTable() : fBmp(), fBeyondCount(0) {}

    void add(uint32_t codePoint, uint32_t code) {
        if (codePoint < 0x10000) {
            if (fBmp[codePoint] == 0) fBmp[codePoint] = code;
        } else if (fBeyondCount < kBeyondBmpCapacity) {
            fBeyond[fBeyondCount] = Entry{codePoint, code, fBeyondCount};
            ++fBeyondCount;
        }
    }

    // Orders the characters beyond the BMP for the search; of two entries
    // of one character the one added first stays in front.
    void finish() {
        std::sort(fBeyond, fBeyond + fBeyondCount, [](const Entry& a, const Entry& b) {
            return a.codePoint != b.codePoint ? a.codePoint < b.codePoint : a.order < b.order;
        });
    }

    // Writes the bytes of a code point's code; 0 where it has none.
    uint32_t write(uint32_t codePoint, unsigned char* bytes) const {
        return writePacked(find(codePoint), bytes);
    }

private:
    struct Entry {
        uint32_t codePoint;
        uint32_t code;
        uint32_t order;
    };

    uint32_t find(uint32_t codePoint) const {
        if (codePoint < 0x10000) return fBmp[codePoint];
        const Entry* end = fBeyond + fBeyondCount;
        const Entry* found = std::lower_bound(
            fBeyond, end, codePoint,
            [](const Entry& entry, uint32_t wanted) { return entry.codePoint < wanted; });
        return found != end && found->codePoint == codePoint ? found->code : 0;
    }

    static uint32_t writePacked(uint32_t code, unsigned char* bytes) {
        uint32_t length = 0;
        for (int shift = 24; shift >= 0; shift -= 8)
            if (length != 0 || (code >> shift & 0xFF) != 0)
                bytes[length++] = static_cast<unsigned char>(code >> shift);
        return length;
    }

    uint32_t fBmp[0x10000];
    Entry fBeyond[kBeyondBmpCapacity];
    uint32_t fBeyondCount;
};

}  // namespace cjk

#endif
