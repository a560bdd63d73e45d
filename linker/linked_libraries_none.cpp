// The shared library: converter libraries are files in the data directory.
#include "linker/linked_libraries.h"

namespace velta {

const NLS_StaticSymbol* linkedInLibrary(const char*) {
    return nullptr;
}

bool loadsLibraryFiles() {
    return true;
}

}  // namespace velta
