// What jpconv's converters share: the JIS tables (jpconv/tables/*.txt, as
// resources of the library) and their lookup; ISO-2022-JP-2
// (jpconv/iso2022_jp2.cpp) reads and writes JIS X 0208 and JIS X 0212
// through the slots of ISO-2022-JP.
#ifndef VELTA_JPCONV_JIS_TABLES_H
#define VELTA_JPCONV_JIS_TABLES_H

#include <stdint.h>

#include "velta/converter.h"

namespace jis {

extern resourceMapTable gResourceMap[];
// Slot 0: JIS X 0212 by its seven-bit codes (JIS X 0208: jpconv/jis0208.h).
extern const UnicodeTableSet kIso2022JpSet;
// The module whose resources hold the tables.
void* tableModule();
// A code's result through a table (and its index, where it has one);
// 0xFFFD where the table has none.
uint16_t lookup(const uTable* table, const uint16_t* index, uint16_t code);

}  // namespace jis

#endif
