// Velta for C++ clients and converter-library authors: the flat functions,
// the converter base class with its factory convention, the built-in
// factories and the detector interface. The library's own classes (the
// registry, the linker, the lock, the conversion object) are exported as
// well, for programs that reach into them; they are in velta/internals.h.
#ifndef VELTA_VELTA_H
#define VELTA_VELTA_H

#include "velta/converter.h"
#include "velta/detector.h"
#include "velta/factories.h"
#include "velta/nls.h"

#endif
