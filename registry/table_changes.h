// How many entries the registries' tables have taken: what keeps an answer
// found in a registry (a cached route, a kept object) checks that this has
// not changed since, with one load.
#ifndef VELTA_REGISTRY_TABLE_CHANGES_H
#define VELTA_REGISTRY_TABLE_CHANGES_H

#include <stdint.h>

#include <atomic>

namespace velta {

extern std::atomic<uint32_t> gRegistryTableChanges;

}  // namespace velta

#endif
