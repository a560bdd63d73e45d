// EUC-KR to and from UCS-2, as the WHATWG Encoding Standard defines it
// ("euc-kr": Windows code page 949, Unified Hangul Code, whose lead
// 0x81-0xFE and trail 0x41-0xFE hold KS X 1001 in 0xA1-0xFE and the other
// 8,822 precomposed syllables around it).
#include "cjkconv/indexes/euc_kr.h"
#include "cjkconv/cjkconv.h"

namespace cjk {

namespace {

const uint32_t kPointersPerLead = 190;

struct EucKrDecoding {
    static uint32_t pair(uint32_t lead, uint32_t trail) {
        if (!between(lead, 0x81, 0xFE) || !between(trail, 0x41, 0xFE)) return 0;
        return kEucKrIndex[(lead - 0x81) * kPointersPerLead + trail - 0x41];
    }

    static Decoded decode(const unsigned char* s, uint32_t n) {
        if (s[0] == 0x80 || s[0] == 0xFF) return malformed(1);
        if (n < 2) return cut();
        if (!between(s[1], 0x41, 0xFE)) return unmappedPair(s[1]);
        const uint32_t codePoint = kEucKrIndex[(s[0] - 0x81u) * kPointersPerLead + s[1] - 0x41u];
        return codePoint != 0 ? character(2, codePoint) : unmappedPair(s[1]);
    }
};

struct EucKrLayout {
    static const TwoByteCodes& codes() {
        static const TwoByteCodes codes(kEucKrIndex, kEucKrIndexLength, nullptr, nullptr, &write);
        return codes;
    }
    static uint32_t write(uint32_t pointer, unsigned char* bytes) {
        bytes[0] = static_cast<unsigned char>(pointer / kPointersPerLead + 0x81);
        bytes[1] = static_cast<unsigned char>(pointer % kPointersPerLead + 0x41);
        return 2;
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
