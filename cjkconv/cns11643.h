// CNS 11643-1992 as glibc's charmap EUC-TW has it (planes 1-7 and 15; the
// table is cjkconv/indexes/euc_tw.h, compiled once, in euc_tw.cpp), shared
// by EUC-TW and ISO-2022-CN, which writes the same codes without the high
// bits.
#ifndef VELTA_CJKCONV_CNS11643_H
#define VELTA_CJKCONV_CNS11643_H

#include <stdint.h>

namespace cjk {

// The character of a plane (1-16) at a row and cell in 0xA1-0xFE, 0 where
// the plane has none.
uint32_t cnsCharacter(uint32_t plane, uint32_t row, uint32_t cell);

// A code point's CNS 11643 code, its lowest plane first (EUC-TW's order),
// row and cell in 0xA1-0xFE; plane 0 where it has none.
struct CnsCode {
    uint32_t plane;
    unsigned char row;
    unsigned char cell;
};
CnsCode cnsCodeOf(uint32_t codePoint);

}  // namespace cjk

#endif
