// GB2312 in its EUC form (EUC-CN) to and from UCS-2: ASCII, and the 94 x 94
// codes of GB 2312 with both bytes in 0xA1-0xFE. Its table comes from
// Python's gb2312 codec, which iconv and ICU agree with; the WHATWG Encoding
// Standard reads the label "gb2312" as GBK, which decodes two of these codes
// otherwise (0xA1A4, 0xA1AA).
#include "cjkconv/gb2312.h"

namespace cjk {

namespace {

struct Gb2312Decoding {
    static uint32_t pair(uint32_t lead, uint32_t trail) {
        if (!between(lead, 0xA1, 0xFE) || !between(trail, 0xA1, 0xFE)) return 0;
        return gb2312Character(lead, trail);
    }

    static Decoded decode(const unsigned char* s, uint32_t n) {
        if (!between(s[0], 0xA1, 0xFE)) return malformed(1);
        if (n < 2) return cut();
        if (!between(s[1], 0xA1, 0xFE)) return unmappedPair(s[1]);
        const uint32_t codePoint = gb2312Character(s[0], s[1]);
        return codePoint != 0 ? character(2, codePoint) : malformed(2);
    }
};

const char kGb2312Name[] = "GB2312";

}  // namespace

}  // namespace cjk

CJKCONV_EXPORT TEncodingConverter* NEWGB2312TOUNICODE() {
    return cjk::makeConverter<cjk::TMultiByteDecoder<cjk::Gb2312Decoding>>(cjk::kGb2312Name);
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOGB2312() {
    typedef cjk::IndexEncoding<cjk::Gb2312Layout> Encoding;
    return cjk::makeConverter<cjk::TMultiByteEncoder<Encoding>>(cjk::kGb2312Name, Encoding());
}
