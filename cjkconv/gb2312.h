// GB 2312's 94 x 94 codes in their EUC bytes (both 0xA1-0xFE), shared by
// GB2312 (EUC-CN) and HZ-GB-2312, which writes them without the high bits.
#ifndef VELTA_CJKCONV_GB2312_H
#define VELTA_CJKCONV_GB2312_H

#include "cjkconv/cjkconv.h"
#include "cjkconv/indexes/gb2312.h"

namespace cjk {

// The character of two bytes in 0xA1-0xFE, 0 where GB 2312 has none.
inline uint32_t gb2312Character(uint32_t lead, uint32_t trail) {
    return kGb2312Index[(lead - 0xA1) * 94 + trail - 0xA1];
}

struct Gb2312Layout {
    static const TwoByteCodes& codes() {
        static const TwoByteCodes codes(kGb2312Index, kGb2312IndexLength, nullptr, nullptr, &write);
        return codes;
    }
    static uint32_t write(uint32_t pointer, unsigned char* bytes) {
        bytes[0] = static_cast<unsigned char>(pointer / 94 + 0xA1);
        bytes[1] = static_cast<unsigned char>(pointer % 94 + 0xA1);
        return 2;
    }
};

}  // namespace cjk

#endif
