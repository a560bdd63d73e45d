// cjkconv: the Chinese and Korean converter library, loaded by the Velta
// registry from its data directory (cjkconv3230.so, cjkconv3230.dll) through
// the shipped encreg.txt. One file per encoding; each exports the factories
// of its two directions.
#ifndef VELTA_CJKCONV_CJKCONV_H
#define VELTA_CJKCONV_CJKCONV_H

#include "common/multibyte_codec.h"

#define CJKCONV_EXPORT CJK_FACTORY_EXPORT

#endif
