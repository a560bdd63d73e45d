// The process-wide state behind the flat functions: the data directory and
// the encoding registry, built once however many threads ask at once.
#ifndef VELTA_API_LIBRARY_STATE_H
#define VELTA_API_LIBRARY_STATE_H

#include "velta/nls.h"

namespace velta {

// Runs NLS_EncInitialize's work: lock record, data directory, a new registry.
void initializeLibrary(const MutexImplementation* lock, const char* dataDirectory);
// Deletes the registry and every registry it superseded.
void terminateLibrary();

}  // namespace velta

#endif
