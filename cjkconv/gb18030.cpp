// GB18030 and GBK (CP936) to and from UCS-2, after the WHATWG Encoding
// Standard's algorithms ("gb18030" and "gbk") over the table of GB 18030-2022:
// one byte for ASCII, two for the codes of the gb18030 index (lead 0x81-0xFE,
// trail 0x40-0x7E or 0x80-0xFE), four (byte, digit, byte, digit) for
// everything else, by arithmetic over the index gb18030-ranges: the BMP runs
// between two-byte codes, and the planes beyond it from pointer 189000; a few
// four-byte codes lie outside the runs (kGb18030Moved). Both decode the same
// bytes; the GBK encoder writes no four-byte codes and writes U+20AC as 0x80.
#include "cjkconv/indexes/gb18030.h"
#include "cjkconv/cjkconv.h"
#include "cjkconv/indexes/gb18030_ranges.h"

namespace cjk {

namespace {

const uint32_t kFirstSupplementaryPointer = 189000;
const uint32_t kLastPointer = kFirstSupplementaryPointer + 0x10FFFF - 0x10000;
const uint32_t kLastBmpPointer = 39419;

// The four-byte code of a character outside the runs, or null.
const Gb18030Range* movedByPointer(uint32_t pointer) {
    for (uint32_t k = 0; k < kGb18030MovedLength; ++k)
        if (kGb18030Moved[k].pointer == pointer) return &kGb18030Moved[k];
    return nullptr;
}

const Gb18030Range* movedByCodePoint(uint32_t codePoint) {
    for (uint32_t k = 0; k < kGb18030MovedLength; ++k)
        if (kGb18030Moved[k].codePoint == codePoint) return &kGb18030Moved[k];
    return nullptr;
}

uint32_t codePointOfBmpPointer(uint32_t pointer) {
    if (const Gb18030Range* moved = movedByPointer(pointer)) return moved->codePoint;
    uint32_t low = 0, high = kGb18030RangesLength;  // the last range at or before pointer
    while (high - low > 1) {
        const uint32_t middle = (low + high) / 2;
        (kGb18030Ranges[middle].pointer <= pointer ? low : high) = middle;
    }
    return kGb18030Ranges[low].codePoint + pointer - kGb18030Ranges[low].pointer;
}

// The code point of every four-byte pointer of the BMP, laid out once, when
// a text first needs one, so that a character (an accented letter of Latin
// text) takes one load in place of the searches above.
struct BmpCodePoints {
    uint16_t codePointOf[kLastBmpPointer + 1];
    BmpCodePoints() : codePointOf() {
        for (uint32_t pointer = 0; pointer <= kLastBmpPointer; ++pointer)
            codePointOf[pointer] = static_cast<uint16_t>(codePointOfBmpPointer(pointer));
    }
};

uint32_t codePointOfFourByte(uint32_t pointer) {
    if ((pointer > kLastBmpPointer && pointer < kFirstSupplementaryPointer) ||
        pointer > kLastPointer)
        return kMalformed;
    // Beyond the BMP the codes are one run (the last of the ranges), which
    // none of the moved codes is in.
    if (pointer >= kFirstSupplementaryPointer)
        return 0x10000 + pointer - kFirstSupplementaryPointer;
    static const BmpCodePoints codePoints;
    return codePoints.codePointOf[pointer];
}

uint32_t fourBytePointerOf(uint32_t codePoint) {
    if (codePoint >= 0x10000) return kFirstSupplementaryPointer + codePoint - 0x10000;
    if (const Gb18030Range* moved = movedByCodePoint(codePoint)) return moved->pointer;
    uint32_t low = 0, high = kGb18030RangesLength;
    while (high - low > 1) {
        const uint32_t middle = (low + high) / 2;
        (kGb18030Ranges[middle].codePoint <= codePoint ? low : high) = middle;
    }
    return kGb18030Ranges[low].pointer + codePoint - kGb18030Ranges[low].codePoint;
}

// The four-byte pointer of every BMP code point (plus one: 0 for none), laid
// out once, when a text first needs one, so that a character takes one load
// in place of the searches above.
struct BmpFourBytePointers {
    uint16_t pointerOf[0x10000];
    BmpFourBytePointers() : pointerOf() {
        for (uint32_t codePoint = 0x80; codePoint <= 0xFFFF; ++codePoint)
            if (codePoint < 0xD800 || codePoint > 0xDFFF)
                pointerOf[codePoint] = static_cast<uint16_t>(fourBytePointerOf(codePoint) + 1);
    }
};

uint32_t fourBytePointerOfBmp(uint32_t codePoint) {
    static const BmpFourBytePointers pointers;
    return pointers.pointerOf[codePoint] - 1u;
}

struct Gb18030Decoding {
    static uint32_t pair(uint32_t lead, uint32_t trail) {
        if (!between(lead, 0x81, 0xFE) || !between(trail, 0x40, 0xFE) || trail == 0x7F) return 0;
        return kGb18030Index[(lead - 0x81) * 190 + trail - (trail < 0x7F ? 0x40 : 0x41)];
    }

    static Decoded decode(const unsigned char* s, uint32_t n) {
        if (s[0] == 0x80) return character(1, 0x20AC);
        if (s[0] == 0xFF) return malformed(1);
        if (n < 2) return cut();
        if (between(s[1], 0x30, 0x39)) return decodeFourBytes(s, n);
        if (!between(s[1], 0x40, 0x7E) && !between(s[1], 0x80, 0xFE)) return unmappedPair(s[1]);
        const uint32_t pointer = (s[0] - 0x81u) * 190 + s[1] - (s[1] < 0x7F ? 0x40u : 0x41u);
        const uint32_t codePoint = kGb18030Index[pointer];
        return codePoint != 0 ? character(2, codePoint) : unmappedPair(s[1]);
    }

    // A third or fourth byte out of its range leaves the bytes after the
    // first to be read afresh.
    static Decoded decodeFourBytes(const unsigned char* s, uint32_t n) {
        if (n < 3) return cut();
        if (!between(s[2], 0x81, 0xFE)) return malformed(1);
        if (n < 4) return cut();
        if (!between(s[3], 0x30, 0x39)) return malformed(1);
        const uint32_t pointer =
            ((s[0] - 0x81u) * 10 + s[1] - 0x30u) * 1260 + (s[2] - 0x81u) * 10 + s[3] - 0x30u;
        const uint32_t codePoint = codePointOfFourByte(pointer);
        return codePoint == kMalformed ? malformed(4) : character(4, codePoint);
    }
};

uint32_t twoByteLayout(uint32_t pointer, unsigned char* bytes) {
    const uint32_t trail = pointer % 190;
    bytes[0] = static_cast<unsigned char>(pointer / 190 + 0x81);
    bytes[1] = static_cast<unsigned char>(trail + (trail < 0x3F ? 0x40 : 0x41));
    return 2;
}

const TwoByteCodes& twoByteCodes() {
    static const TwoByteCodes codes(kGb18030Index, kGb18030IndexLength, nullptr, nullptr,
                                    &twoByteLayout);
    return codes;
}

// GBK writes the euro sign as 0x80, not as the two bytes GB18030 gives it.
bool isEuroPointer(uint32_t pointer) {
    return kGb18030Index[pointer] == 0x20AC;
}

const TwoByteCodes& gbkTwoByteCodes() {
    static const TwoByteCodes codes(kGb18030Index, kGb18030IndexLength, &isEuroPointer, nullptr,
                                    &twoByteLayout);
    return codes;
}

template <bool kGbk>
class Gb18030Encoding {
public:
    Gb18030Encoding() : fCodes(kGbk ? &gbkTwoByteCodes() : &twoByteCodes()) {}

    uint32_t encode(uint32_t codePoint, unsigned char* bytes) const {
        if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;  // lone surrogates
        if (kGbk && codePoint == 0x20AC) {
            bytes[0] = 0x80;
            return 1;
        }
        if (fCodes->write(codePoint, bytes) == 2) return 2;
        if (kGbk) return 0;
        uint32_t pointer =
            codePoint <= 0xFFFF ? fourBytePointerOfBmp(codePoint) : fourBytePointerOf(codePoint);
        bytes[3] = static_cast<unsigned char>(pointer % 10 + 0x30);
        pointer /= 10;
        bytes[2] = static_cast<unsigned char>(pointer % 126 + 0x81);
        pointer /= 126;
        bytes[1] = static_cast<unsigned char>(pointer % 10 + 0x30);
        bytes[0] = static_cast<unsigned char>(pointer / 10 + 0x81);
        return 4;
    }
    const uint16_t* unitCodes() const { return fCodes->codeOf; }

private:
    const TwoByteCodes* fCodes;
};

const char kGb18030Name[] = "GB18030";
const char kGbkName[] = "GBK";

}  // namespace

}  // namespace cjk

CJKCONV_EXPORT TEncodingConverter* NEWGB18030TOUNICODE() {
    return cjk::makeConverter<cjk::TMultiByteDecoder<cjk::Gb18030Decoding>>(cjk::kGb18030Name);
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOGB18030() {
    typedef cjk::Gb18030Encoding<false> Encoding;
    return cjk::makeConverter<cjk::TMultiByteEncoder<Encoding>>(cjk::kGb18030Name, Encoding());
}

CJKCONV_EXPORT TEncodingConverter* NEWGBKTOUNICODE() {
    return cjk::makeConverter<cjk::TMultiByteDecoder<cjk::Gb18030Decoding>>(cjk::kGbkName);
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOGBK() {
    typedef cjk::Gb18030Encoding<true> Encoding;
    return cjk::makeConverter<cjk::TMultiByteEncoder<Encoding>>(cjk::kGbkName, Encoding());
}
