// EUC-JP-MS (eucJP-ms) to and from UCS-2, as glibc's charmap EUC-JP-MS has
// it: JIS X 0208 with the NEC and IBM extensions in two bytes 0xA1-0xFE,
// JIS X 0212 with the IBM extensions after 0x8F, half-width katakana after
// 0x8E (0xA1-0xDF), the C1 controls as themselves, and the user-defined
// rows 0xF5-0xFE of both sets as the private use area U+E000-U+E757.
#include "cjkconv/indexes/euc_jp_ms.h"
#include "cjkconv/charmap_codes.h"

namespace cjk {

namespace {

// Codes iconv reads but does not write (their characters have other codes).
bool decodeOnly(uint32_t pointer) {
    return std::binary_search(kEucJpMsIndexDecodeOnly,
                              kEucJpMsIndexDecodeOnly + kEucJpMsIndexDecodeOnlyLength, pointer);
}

const uint32_t kSetSize = 94 * 94;

uint32_t pointerOf(uint32_t set, uint32_t row, uint32_t cell) {
    return set * kSetSize + (row - 0xA1) * 94 + cell - 0xA1;
}

bool c1Control(uint32_t byte) {
    return between(byte, 0x80, 0x9F) && byte != 0x8E && byte != 0x8F;
}

struct EucJpMsDecoding {
    static uint32_t pair(uint32_t lead, uint32_t trail) {
        if (!graphic(lead) || !graphic(trail)) return 0;
        return kEucJpMsIndex[pointerOf(0, lead, trail)];
    }

    static Decoded decode(const unsigned char* s, uint32_t n) {
        if (c1Control(s[0])) return character(1, s[0]);
        if (s[0] == 0x8E) return decodeKatakana(s, n);
        const uint32_t set = s[0] == 0x8F ? 1 : 0;
        if (set == 0 && !graphic(s[0])) return malformed(1);
        for (uint32_t k = 1; k < 2 + set; ++k) {
            if (n <= k) return cut();
            if (!graphic(s[k])) return brokenAt(k, s[k]);
        }
        const uint32_t codePoint = kEucJpMsIndex[pointerOf(set, s[set], s[set + 1])];
        return codePoint != 0 ? character(2 + set, codePoint) : malformed(2 + set);
    }

    static Decoded decodeKatakana(const unsigned char* s, uint32_t n) {
        if (n < 2) return cut();
        if (!between(s[1], 0xA1, 0xDF)) return brokenAt(1, s[1]);
        return character(2, 0xFF61 + s[1] - 0xA1u);
    }
};

struct EucJpMsCodes : CodeTable<1> {
    EucJpMsCodes() {
        for (uint32_t byte = 0x80; byte <= 0x9F; ++byte)
            if (c1Control(byte)) add(byte, byte);
        for (uint32_t trail = 0xA1; trail <= 0xDF; ++trail)
            add(0xFF61 + trail - 0xA1, 0x8E00 | trail);
        for (uint32_t pointer = 0; pointer < kEucJpMsIndexLength; ++pointer) {
            const uint32_t codePoint = kEucJpMsIndex[pointer];
            const uint32_t rest = pointer % kSetSize;
            const uint32_t code = (0xA1 + rest / 94) << 8 | (0xA1 + rest % 94);
            if (codePoint != 0 && !decodeOnly(pointer))
                add(codePoint, pointer < kSetSize ? code : 0x8F0000 | code);
        }
        finish();
    }
};

const EucJpMsCodes& eucJpMsCodes() {
    static const EucJpMsCodes codes;
    return codes;
}

class EucJpMsEncoding {
public:
    EucJpMsEncoding() : fCodes(&eucJpMsCodes()) {}

    uint32_t encode(uint32_t codePoint, unsigned char* bytes) const {
        return fCodes->write(codePoint, bytes);
    }

private:
    const EucJpMsCodes* fCodes;
};

const char kEucJpMsName[] = "EUC-JP-MS";

}  // namespace

}  // namespace cjk

CJKCONV_EXPORT TEncodingConverter* NEWEUCJPMSTOUNICODE() {
    return cjk::makeConverter<cjk::TMultiByteDecoder<cjk::EucJpMsDecoding>>(cjk::kEucJpMsName);
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOEUCJPMS() {
    return cjk::makeConverter<cjk::TMultiByteEncoder<cjk::EucJpMsEncoding>>(cjk::kEucJpMsName,
                                                                            cjk::EucJpMsEncoding());
}
