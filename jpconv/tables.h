// The mapping tables of the Japanese converters (generated into tables.cpp).
#ifndef VELTA_JPCONV_TABLES_H
#define VELTA_JPCONV_TABLES_H

#include "velta/converter.h"

// Resources "JASCII", "JISKANA" and "JIS0212", each as
// ".UT" (to UCS-2) and ".UF" (from UCS-2).
extern const NLS_ResourceDirectory gJapaneseResources;

#endif
