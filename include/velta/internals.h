// The library's own classes, exported because a program or converter
// library may reach into them: the conversion object and converter list
// behind the flat functions, the encoding registry and its keyed tables,
// the converter-library linker and the lock. Clients and converter-library
// authors need only velta/velta.h (or velta/nls.h from C).
#ifndef VELTA_INTERNALS_H
#define VELTA_INTERNALS_H

#include "velta/encoding_converter.h"
#include "velta/linker.h"
#include "velta/registry.h"
#include "velta/velta.h"

#endif
