// Velta for C++ clients and converter libraries: everything the library exports.
#ifndef VELTA_VELTA_H
#define VELTA_VELTA_H

#include "velta/converter.h"
#include "velta/detector.h"
#include "velta/encoding_converter.h"
#include "velta/factories.h"
#include "velta/linker.h"
#include "velta/nls.h"
#include "velta/registry.h"

#endif
