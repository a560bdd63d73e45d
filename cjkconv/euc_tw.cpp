// EUC-TW to and from UCS-2, as glibc's charmap EUC-TW has it: CNS 11643-1992
// plane 1 in two bytes 0xA1-0xFE, and planes 1-7 and 15 in four, 0x8E,
// 0xA0 + plane, then two bytes 0xA1-0xFE. Plane 1 is written in two bytes;
// its four-byte form is read too, as iconv reads it. Most characters of the
// planes beyond 2 are beyond the BMP (U+20000 and on, surrogate pairs here).
#include "cjkconv/indexes/euc_tw.h"
#include "cjkconv/charmap_codes.h"
#include "cjkconv/cns11643.h"

namespace cjk {

namespace {

const uint32_t kPlaneSize = 94 * 94;
const uint32_t kPlaneCount = sizeof kEucTwPlanes;
const uint8_t kNoSlot = 0xFF;

// The place of each plane (1-16) in the index, kNoSlot for a plane it lacks.
struct PlaneSlots {
    uint8_t of[17];
    constexpr PlaneSlots() : of() {
        for (uint8_t& slot : of) slot = kNoSlot;
        for (uint32_t k = 0; k < kPlaneCount; ++k) of[kEucTwPlanes[k]] = static_cast<uint8_t>(k);
    }
};
constexpr PlaneSlots kPlaneSlots;

uint32_t pointerOf(uint32_t slot, uint32_t row, uint32_t cell) {
    return slot * kPlaneSize + (row - 0xA1) * 94 + cell - 0xA1;
}

uint32_t characterAt(uint32_t pointer) {
    return gridCharacter(kEucTwIndex, kEucTwIndexBeyondBmp, pointer);
}

struct EucTwDecoding {
    static uint32_t pair(uint32_t lead, uint32_t trail) {
        if (!graphic(lead) || !graphic(trail)) return 0;
        return kEucTwIndex[pointerOf(0, lead, trail)];  // plane 1 is all BMP
    }

    static Decoded decode(const unsigned char* s, uint32_t n) {
        if (s[0] == 0x8E) return decodeFourBytes(s, n);
        if (!graphic(s[0])) return malformed(1);
        if (n < 2) return cut();
        if (!graphic(s[1])) return brokenAt(1, s[1]);
        const uint32_t codePoint = characterAt(pointerOf(0, s[0], s[1]));
        return codePoint != 0 ? character(2, codePoint) : malformed(2);
    }

    static Decoded decodeFourBytes(const unsigned char* s, uint32_t n) {
        if (n < 2) return cut();
        const uint32_t slot = between(s[1], 0xA1, 0xB0) ? kPlaneSlots.of[s[1] - 0xA0] : kNoSlot;
        if (slot == kNoSlot) return brokenAt(1, s[1]);
        for (uint32_t k = 2; k < 4; ++k) {
            if (n <= k) return cut();
            if (!graphic(s[k])) return brokenAt(k, s[k]);
        }
        const uint32_t codePoint = characterAt(pointerOf(slot, s[2], s[3]));
        return codePoint != 0 ? character(4, codePoint) : malformed(4);
    }
};

// Plane 1 first, so that a character in two planes (U+5344) takes its
// plane 1 code, as iconv writes it.
uint32_t codeOf(uint32_t slot, uint32_t rest) {
    const uint32_t row = 0xA1 + rest / 94, cell = 0xA1 + rest % 94;
    if (slot == 0) return row << 8 | cell;
    return 0x8Eu << 24 | (0xA0u + kEucTwPlanes[slot]) << 16 | row << 8 | cell;
}

struct EucTwCodes : CodeTable<32768> {
    EucTwCodes() {
        for (uint32_t pointer = 0; pointer < kEucTwIndexLength; ++pointer) {
            const uint32_t codePoint = characterAt(pointer);
            if (codePoint != 0) add(codePoint, codeOf(pointer / kPlaneSize, pointer % kPlaneSize));
        }
        finish();
    }
};

const EucTwCodes& eucTwCodes() {
    static const EucTwCodes codes;
    return codes;
}

class EucTwEncoding {
public:
    EucTwEncoding() : fCodes(&eucTwCodes()) {}

    uint32_t encode(uint32_t codePoint, unsigned char* bytes) const {
        return fCodes->write(codePoint, bytes);
    }

private:
    const EucTwCodes* fCodes;
};

const char kEucTwName[] = "EUC-TW";

}  // namespace

uint32_t cnsCharacter(uint32_t plane, uint32_t row, uint32_t cell) {
    const uint32_t slot = plane < 17 ? kPlaneSlots.of[plane] : kNoSlot;
    if (slot == kNoSlot || !graphic(row) || !graphic(cell)) return 0;
    return characterAt(pointerOf(slot, row, cell));
}

CnsCode cnsCodeOf(uint32_t codePoint) {
    unsigned char bytes[4];
    const uint32_t length = eucTwCodes().write(codePoint, bytes);
    if (length == 2) return CnsCode{1, bytes[0], bytes[1]};
    if (length == 4) return CnsCode{bytes[1] - 0xA0u, bytes[2], bytes[3]};
    return CnsCode{0, 0, 0};
}

}  // namespace cjk

CJKCONV_EXPORT TEncodingConverter* NEWEUCTWTOUNICODE() {
    return cjk::makeConverter<cjk::TMultiByteDecoder<cjk::EucTwDecoding>>(cjk::kEucTwName);
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOEUCTW() {
    return cjk::makeConverter<cjk::TMultiByteEncoder<cjk::EucTwEncoding>>(cjk::kEucTwName,
                                                                          cjk::EucTwEncoding());
}
