// How many converter libraries have been unloaded: what keeps a factory's
// address (a cached route) checks that this has not changed since.
#ifndef VELTA_LINKER_UNLOAD_COUNT_H
#define VELTA_LINKER_UNLOAD_COUNT_H

#include <stdint.h>

#include <atomic>

namespace velta {

extern std::atomic<uint32_t> gLibraryUnloads;

}  // namespace velta

#endif
