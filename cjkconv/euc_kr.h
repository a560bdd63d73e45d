// The EUC-KR index (Unified Hangul Code: lead 0x81-0xFE, trail 0x41-0xFE),
// shared by EUC-KR and ISO-2022-KR, which takes its KS X 1001 part (both
// bytes 0xA1-0xFE) without the high bits.
#ifndef VELTA_CJKCONV_EUC_KR_H
#define VELTA_CJKCONV_EUC_KR_H

#include "cjkconv/cjkconv.h"
#include "cjkconv/indexes/euc_kr.h"

namespace cjk {

// The character of a lead in 0x81-0xFE and a trail in 0x41-0xFE, 0 for none.
inline uint32_t eucKrCharacter(uint32_t lead, uint32_t trail) {
    return kEucKrIndex[(lead - 0x81) * 190 + trail - 0x41];
}

struct EucKrLayout {
    static const TwoByteCodes& codes() {
        static const TwoByteCodes codes(kEucKrIndex, kEucKrIndexLength, nullptr, nullptr, &write);
        return codes;
    }
    static uint32_t write(uint32_t pointer, unsigned char* bytes) {
        bytes[0] = static_cast<unsigned char>(pointer / 190 + 0x81);
        bytes[1] = static_cast<unsigned char>(pointer % 190 + 0x41);
        return 2;
    }
};

}  // namespace cjk

#endif
