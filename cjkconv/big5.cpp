// Big5 to and from UCS-2, as the WHATWG Encoding Standard defines it ("big5":
// Big5 with the Hong Kong Supplementary Character Set): lead 0x81-0xFE,
// trail 0x40-0x7E or 0xA1-0xFE, 157 codes a lead. Some codes are characters
// beyond the BMP (two UCS-2 units), four are a letter and a combining mark.
// The encoder writes no HKSCS code below lead 0xA1, and for six characters
// that have two codes the later one, as the standard says.
#include "cjkconv/indexes/big5.h"
#include "cjkconv/cjkconv.h"

namespace cjk {

namespace {

const uint32_t kPointersPerLead = 157;
const uint32_t kFirstEncodedPointer = (0xA1 - 0x81) * kPointersPerLead;

const uint8_t kNoColumn = 0xFF;

// The column of every byte in a lead's row of 157 codes (trails 0x40-0x7E,
// then 0xA1-0xFE), kNoColumn where it is no trail: one load, where two range
// tests and the choice of an offset mispredict on text that mixes both.
struct TrailColumns {
    uint8_t of[256];
    constexpr TrailColumns() : of() {
        for (uint32_t b = 0; b < 256; ++b)
            of[b] = b >= 0x40 && b <= 0x7E   ? static_cast<uint8_t>(b - 0x40)
                    : b >= 0xA1 && b <= 0xFE ? static_cast<uint8_t>(b - 0x62)
                                             : kNoColumn;
    }
};
constexpr TrailColumns kTrailColumns;

struct Big5Decoding {
    static uint32_t pair(uint32_t lead, uint32_t trail) {
        const uint32_t column = kTrailColumns.of[trail & 0xFF];
        if (!between(lead, 0x81, 0xFE) || column == kNoColumn) return 0;
        const uint32_t codePoint = kBig5Index[(lead - 0x81) * kPointersPerLead + column];
        return codePoint < 0x10000 ? codePoint : 0;
    }

    static Decoded decode(const unsigned char* s, uint32_t n) {
        if (s[0] == 0x80 || s[0] == 0xFF) return malformed(1);
        if (n < 2) return cut();
        const uint32_t column = kTrailColumns.of[s[1]];
        if (column == kNoColumn) return unmappedPair(s[1]);
        const uint32_t pointer = (s[0] - 0x81u) * kPointersPerLead + column;
        const uint32_t codePoint = kBig5Index[pointer];
        return codePoint != 0 ? character(2, codePoint) : twoCodePointsOrNone(pointer, s[1]);
    }

    // The four codes that are a letter and a combining mark have no entry.
    static Decoded twoCodePointsOrNone(uint32_t pointer, unsigned char trail) {
        switch (pointer) {
            case 1133:
                return character(2, 0x00CA, 0x0304);
            case 1135:
                return character(2, 0x00CA, 0x030C);
            case 1164:
                return character(2, 0x00EA, 0x0304);
            case 1166:
                return character(2, 0x00EA, 0x030C);
            default:
                return unmappedPair(trail);
        }
    }
};

bool belowEncodedRange(uint32_t pointer) {
    return pointer < kFirstEncodedPointer;
}

bool takesLastPointer(uint32_t codePoint) {
    return codePoint == 0x2550 || codePoint == 0x255E || codePoint == 0x2561 ||
           codePoint == 0x256A || codePoint == 0x5341 || codePoint == 0x5345;
}

// The encoded characters beyond the BMP, by code point, with their first
// pointer (none of them has two).
struct SupplementaryPointers {
    struct Entry {
        uint32_t codePoint;
        uint32_t pointer;
    };
    Entry entries[512];
    uint32_t count = 0;

    SupplementaryPointers() {
        for (uint32_t pointer = kFirstEncodedPointer; pointer < kBig5IndexLength; ++pointer)
            if (kBig5Index[pointer] > 0xFFFF && count < sizeof entries / sizeof entries[0])
                entries[count++] = Entry{kBig5Index[pointer], pointer};
        // Insertion sort: a few hundred entries, once.
        for (uint32_t i = 1; i < count; ++i)
            for (uint32_t j = i; j > 0 && entries[j - 1].codePoint > entries[j].codePoint; --j) {
                const Entry swapped = entries[j];
                entries[j] = entries[j - 1];
                entries[j - 1] = swapped;
            }
    }

    bool find(uint32_t codePoint, uint32_t* pointer) const {
        uint32_t low = 0, high = count;
        while (low < high) {
            const uint32_t middle = (low + high) / 2;
            if (entries[middle].codePoint < codePoint)
                low = middle + 1;
            else
                high = middle;
        }
        if (low == count || entries[low].codePoint != codePoint) return false;
        *pointer = entries[low].pointer;
        return true;
    }
};

uint32_t writePointer(uint32_t pointer, unsigned char* bytes) {
    const uint32_t trail = pointer % kPointersPerLead;
    bytes[0] = static_cast<unsigned char>(pointer / kPointersPerLead + 0x81);
    bytes[1] = static_cast<unsigned char>(trail + (trail < 0x3F ? 0x40 : 0x62));
    return 2;
}

struct Big5Pointers {
    TwoByteCodes bmp{kBig5Index, kBig5IndexLength, &belowEncodedRange, &takesLastPointer,
                     &writePointer};
    SupplementaryPointers beyondBmp;
};

const Big5Pointers& big5Pointers() {
    static const Big5Pointers pointers;
    return pointers;
}

class Big5Encoding {
public:
    Big5Encoding() : fPointers(&big5Pointers()) {}

    uint32_t encode(uint32_t codePoint, unsigned char* bytes) const {
        if (codePoint < 0x10000) return fPointers->bmp.write(codePoint, bytes);
        uint32_t pointer;
        return fPointers->beyondBmp.find(codePoint, &pointer) ? writePointer(pointer, bytes) : 0;
    }
    const uint16_t* unitCodes() const { return fPointers->bmp.codeOf; }

private:
    const Big5Pointers* fPointers;
};

const char kBig5Name[] = "Big5";

}  // namespace

}  // namespace cjk

CJKCONV_EXPORT TEncodingConverter* NEWBIG5TOUNICODE() {
    return cjk::makeConverter<cjk::TMultiByteDecoder<cjk::Big5Decoding>>(cjk::kBig5Name);
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOBIG5() {
    return cjk::makeConverter<cjk::TMultiByteEncoder<cjk::Big5Encoding>>(cjk::kBig5Name,
                                                                         cjk::Big5Encoding());
}
