// The vector step of the converter libraries' two-byte encoders (EUC-KR,
// GBK, GB18030, Big5, windows-31j): units to the codes of their table,
// sixteen at a time.
#ifndef VELTA_COMMON_TWO_BYTE_CODES_H
#define VELTA_COMMON_TWO_BYTE_CODES_H

#include <stdint.h>

namespace velta {

// UCS-2 units in the machine's order, ASCII (kept as its bytes) and
// characters with a code in `codes` (lead << 8 | trail, written lead first;
// 0 for none), to bytes while input and room hold sixteen units; stops
// before NUL and before a unit without a code, which the codec's own loop
// reads. Returns the units taken and sets *written to the bytes written.
using EncodeTwoByteCodes = uint32_t (*)(const unsigned char* source, uint32_t units,
                                        const uint16_t* codes, unsigned char* target, uint32_t room,
                                        uint32_t* written);

// The AVX2 step where the library runs its AVX2 kernel set (NLS_KernelInUse),
// else null: the codec's loop does it all.
EncodeTwoByteCodes twoByteCodesKernel();

}  // namespace velta

#endif
