// The vector steps of the converter libraries' two-byte codecs (EUC-KR,
// GBK, GB18030, Big5, windows-31j): units to the codes of their table,
// sixteen at a time, and ASCII runs both ways.
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

// ASCII units narrowed to bytes while room lasts; returns units taken.
using NarrowAsciiUnits = uint32_t (*)(const unsigned char* source, uint32_t units,
                                      unsigned char* target, uint32_t room);

// ASCII bytes widened to units while room lasts; returns bytes taken.
using WidenAsciiBytes = uint32_t (*)(const unsigned char* source, uint32_t length,
                                     unsigned char* target, uint32_t room);

// The AVX2 steps where the library runs its AVX2 kernel set
// (NLS_KernelInUse), else null: the codec's loop and the SSE2 ASCII runs do
// it all.
struct TwoByteKernels {
    EncodeTwoByteCodes encode;
    NarrowAsciiUnits narrowAscii;
    WidenAsciiBytes widenAscii;
};
TwoByteKernels twoByteKernels();

}  // namespace velta

#endif
