// BIG5-HKSCS to and from UCS-2, as glibc's charmap BIG5-HKSCS has it: Big5
// with the Hong Kong Supplementary Character Set of 2008, leads 0x87-0xFE,
// trails 0x40-0x7E and 0xA1-0xFE, 157 codes a lead, 0x80 as U+0080. 1,713
// characters are beyond the BMP (surrogate pairs here); four codes are a
// letter and a combining mark, read as both. The encoder writes those two
// characters as two codes (the letter's and none for the mark alone).
#include "cjkconv/indexes/big5_hkscs.h"
#include "cjkconv/charmap_codes.h"

namespace cjk {

namespace {

// Codes iconv reads but does not write (their characters have other codes).
bool decodeOnly(uint32_t pointer) {
    return std::binary_search(kBig5HkscsIndexDecodeOnly,
                              kBig5HkscsIndexDecodeOnly + kBig5HkscsIndexDecodeOnlyLength, pointer);
}

const uint32_t kPointersPerLead = 157;
const uint8_t kNoColumn = 0xFF;

// The column of every byte in a lead's row of 157 codes, kNoColumn where it
// is no trail.
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

bool hkscsLead(uint32_t byte) {
    return between(byte, 0x87, 0xFE);
}

uint32_t characterAt(uint32_t pointer) {
    return gridCharacter(kBig5HkscsIndex, kBig5HkscsIndexBeyondBmp, pointer);
}

struct Big5HkscsDecoding {
    static uint32_t pair(uint32_t lead, uint32_t trail) {
        const uint32_t column = kTrailColumns.of[trail & 0xFF];
        if (!hkscsLead(lead) || column == kNoColumn) return 0;
        const uint32_t codePoint = characterAt((lead - 0x87) * kPointersPerLead + column);
        return codePoint < 0x10000 ? codePoint : 0;
    }

    static Decoded decode(const unsigned char* s, uint32_t n) {
        if (s[0] == 0x80) return character(1, 0x80);
        if (!hkscsLead(s[0])) return malformed(1);
        if (n < 2) return cut();
        const uint32_t column = kTrailColumns.of[s[1]];
        if (column == kNoColumn) return brokenAt(1, s[1]);
        const uint32_t pointer = (s[0] - 0x87u) * kPointersPerLead + column;
        const uint32_t codePoint = characterAt(pointer);
        return codePoint != 0 ? character(2, codePoint) : twoCodePointsOrNone(pointer, s[1]);
    }

    static Decoded twoCodePointsOrNone(uint32_t pointer, unsigned char trail) {
        for (const Big5HkscsPair& pair : kBig5HkscsPairs)
            if (pair.pointer == pointer) return character(2, pair.first, pair.second);
        return unmappedPair(trail);
    }
};

uint32_t codeOf(uint32_t pointer) {
    const uint32_t column = pointer % kPointersPerLead;
    return (0x87 + pointer / kPointersPerLead) << 8 | (column + (column < 0x3F ? 0x40 : 0x62));
}

struct Big5HkscsCodes : CodeTable<2048> {
    Big5HkscsCodes() {
        add(0x80, 0x80);
        for (uint32_t pointer = 0; pointer < kBig5HkscsIndexLength; ++pointer) {
            const uint32_t codePoint = characterAt(pointer);
            if (codePoint != 0 && !decodeOnly(pointer)) add(codePoint, codeOf(pointer));
        }
        finish();
    }
};

const Big5HkscsCodes& big5HkscsCodes() {
    static const Big5HkscsCodes codes;
    return codes;
}

class Big5HkscsEncoding {
public:
    Big5HkscsEncoding() : fCodes(&big5HkscsCodes()) {}

    uint32_t encode(uint32_t codePoint, unsigned char* bytes) const {
        return fCodes->write(codePoint, bytes);
    }

private:
    const Big5HkscsCodes* fCodes;
};

const char kBig5HkscsName[] = "BIG5-HKSCS";

}  // namespace

}  // namespace cjk

CJKCONV_EXPORT TEncodingConverter* NEWBIG5HKSCSTOUNICODE() {
    return cjk::makeConverter<cjk::TMultiByteDecoder<cjk::Big5HkscsDecoding>>(cjk::kBig5HkscsName);
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOBIG5HKSCS() {
    return cjk::makeConverter<cjk::TMultiByteEncoder<cjk::Big5HkscsEncoding>>(
        cjk::kBig5HkscsName, cjk::Big5HkscsEncoding());
}
