// The process-wide state behind the flat functions: the data directory, the
// encoding registry (built once however many threads ask at once, freed when
// the last object that uses a replaced one goes) and the names handed out.
#ifndef VELTA_API_LIBRARY_STATE_H
#define VELTA_API_LIBRARY_STATE_H

#include <string>

#include "velta/nls.h"

class TEncodingRegistry;

namespace velta {

// Runs NLS_EncInitialize's work: lock record, data directory, a new registry.
void initializeLibrary(const MutexImplementation* lock, const char* dataDirectory);
// Deletes the registry, every registry it replaced and the names handed out.
void terminateLibrary();

// The data directory the library uses when neither the caller nor
// ZP_NLS_DATADIRECTORY names one: its installed data directory where it has
// one, else "." with a conv30 folder, else the data directory of a build tree.
std::string defaultDataDirectory();

// The current registry, built on first need, held until releaseRegistry (null
// when it cannot be built). A replaced registry lives while it is held.
TEncodingRegistry* holdRegistry();
void releaseRegistry(TEncodingRegistry* registry);

// A hold for the length of one call.
class RegistryHold {
public:
    RegistryHold() : fRegistry(holdRegistry()) {}
    ~RegistryHold() { releaseRegistry(fRegistry); }
    RegistryHold(const RegistryHold&) = delete;
    RegistryHold& operator=(const RegistryHold&) = delete;
    TEncodingRegistry* get() const { return fRegistry; }

private:
    TEncodingRegistry* fRegistry;
};

// A copy of a name that stays valid until terminateLibrary, however many
// registries come and go; the same name is kept once. Names the registry does
// not know are compared without regard to ASCII case and kept up to a bound,
// past which they get the empty name.
const char* keptName(const char* name);
const char* keptUnknownName(const char* name);

}  // namespace velta

#endif
