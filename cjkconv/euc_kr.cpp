// EUC-KR to and from UCS-2, as the WHATWG Encoding Standard defines it
// ("euc-kr": Windows code page 949, Unified Hangul Code, whose lead
// 0x81-0xFE and trail 0x41-0xFE hold KS X 1001 in 0xA1-0xFE and the other
// 8,822 precomposed syllables around it).
#include "cjkconv/euc_kr.h"

namespace cjk {

namespace {

struct EucKrDecoding {
    static const bool kSpacesWords = true;
    static uint32_t pair(uint32_t lead, uint32_t trail) {
        if (!between(lead, 0x81, 0xFE) || !between(trail, 0x41, 0xFE)) return 0;
        return eucKrCharacter(lead, trail);
    }

    static Decoded decode(const unsigned char* s, uint32_t n) {
        if (s[0] == 0x80 || s[0] == 0xFF) return malformed(1);
        if (n < 2) return cut();
        if (!between(s[1], 0x41, 0xFE)) return unmappedPair(s[1]);
        const uint32_t codePoint = eucKrCharacter(s[0], s[1]);
        return codePoint != 0 ? character(2, codePoint) : unmappedPair(s[1]);
    }
};

const char kEucKrName[] = "EUC-KR";

}  // namespace

}  // namespace cjk

CJKCONV_EXPORT TEncodingConverter* NEWEUCKRTOUNICODE() {
    return cjk::makeConverter<cjk::TMultiByteDecoder<cjk::EucKrDecoding>>(cjk::kEucKrName);
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOEUCKR() {
    typedef cjk::IndexEncoding<cjk::EucKrLayout> Encoding;
    return cjk::makeConverter<cjk::TMultiByteEncoder<Encoding>>(cjk::kEucKrName, Encoding());
}
