// Converter libraries linked into the library itself. The static library
// carries the shipped ones (jpconv, cjkconv) and loads no converter library
// from a file: a library file would link a second copy of the library.
#ifndef VELTA_LINKER_LINKED_LIBRARIES_H
#define VELTA_LINKER_LINKED_LIBRARIES_H

#include "velta/linker.h"

namespace velta {

// The factories of the linked-in converter library of that name, ending in
// a null row, or null when there is none.
const NLS_StaticSymbol* linkedInLibrary(const char* name);

// Whether converter libraries are loaded from files of the data directory.
bool loadsLibraryFiles();

}  // namespace velta

#endif
