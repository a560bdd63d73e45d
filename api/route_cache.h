// The converters a pair of names leads to, found once per pair: a one-shot
// call or a new object for a pair met before costs one hash of the names as
// given and two exact compares, not the registry's case-folding searches.
#ifndef VELTA_API_ROUTE_CACHE_H
#define VELTA_API_ROUTE_CACHE_H

#include <atomic>

#include "linker/unload_count.h"
#include "registry/table_changes.h"
#include "velta/registry.h"

namespace velta {

struct ConversionRoute {
    TEncodingEntry* direct;     // from -> to, or null
    TEncodingEntry* toPivot;    // from -> UCS-2, or null
    TEncodingEntry* fromPivot;  // UCS-2 -> to, or null
    // Where each entry's factory is kept once found (null: not kept), so
    // that making a converter of a library already loaded takes no lock.
    std::atomic<NLS_EntryPoint>* directFactory;
    std::atomic<NLS_EntryPoint>* toPivotFactory;
    std::atomic<NLS_EntryPoint>* fromPivotFactory;
};

// Fills *route for the names from the registry, remembering it while the
// registry's tables stay as they are.
void findRoute(TEncodingRegistry* registry, const char* from, const char* to,
               ConversionRoute* route);

// A converter of the entry, from the kept factory where there is one; when
// none is made, *failure (if given) becomes NLS_OUT_OF_MEMORY if the factory
// ran out of memory.
TEncodingConverter* makeConverter(TEncodingRegistry* registry, TEncodingEntry* entry,
                                  std::atomic<NLS_EntryPoint>* keptFactory,
                                  NLS_Status* failure = nullptr);

// What a route found in a registry depends on besides the names: the
// entries its tables took and the libraries unloaded so far.
struct RegistryStamp {
    uint32_t tableChanges, unloads;
    bool operator==(const RegistryStamp& other) const {
        return tableChanges == other.tableChanges && unloads == other.unloads;
    }
};
inline RegistryStamp currentStamp() {
    return {gRegistryTableChanges.load(std::memory_order_acquire),
            gLibraryUnloads.load(std::memory_order_acquire)};
}

// Forgets every route; called when the registries are deleted.
void forgetRoutes();

}  // namespace velta

#endif
