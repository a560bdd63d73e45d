#include "api/route_cache.h"

#include "linker/unload_count.h"
#include "velta/converter.h"
#include "velta/linker.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <mutex>
#include <new>

namespace velta {
namespace {

// A slot keeps the first pair that hashes to it; readers take a record with
// one acquire load and never see it change but for the factories it keeps.
// A record made stale by grown tables or an unloaded library is replaced,
// and the old one is kept until the routes are forgotten (a reader may still
// hold it), so memory grows only with the tables and the unloads.
struct RouteRecord {
    uint64_t hash;
    const TEncodingRegistry* registry;
    RegistryStamp stamp;  // when the route was found
    ConversionRoute route;
    std::atomic<NLS_EntryPoint> factories[3];
    RouteRecord* retired;  // an older record of the slot
    uint32_t fromLength;
    char names[1];  // from, NUL, to, NUL
};

enum : uint32_t { kSlots = 256, kLongestName = 256 };

std::atomic<RouteRecord*> gSlots[kSlots];
std::mutex gWriteLock;

// FNV-1a (Fowler, Noll, Vo) over both names and the NUL between them.
uint64_t hashNames(const char* from, const char* to, uint32_t* fromLength, uint32_t* toLength) {
    uint64_t hash = 0xcbf29ce484222325ull;
    const char* p = from;
    for (; *p != '\0'; ++p) hash = (hash ^ static_cast<unsigned char>(*p)) * 0x100000001b3ull;
    *fromLength = static_cast<uint32_t>(p - from);
    hash *= 0x100000001b3ull;
    for (p = to; *p != '\0'; ++p) hash = (hash ^ static_cast<unsigned char>(*p)) * 0x100000001b3ull;
    *toLength = static_cast<uint32_t>(p - to);
    return hash;
}

bool holds(const RouteRecord* record, uint64_t hash, const TEncodingRegistry* registry,
           const char* from, uint32_t fromLength, const char* to) {
    return record->hash == hash && record->registry == registry &&
           record->fromLength == fromLength && memcmp(record->names, from, fromLength) == 0 &&
           strcmp(record->names + fromLength + 1, to) == 0;
}

bool current(const RouteRecord* record) {
    return record->stamp == currentStamp();
}

void resolve(TEncodingRegistry* registry, const char* from, const char* to,
             ConversionRoute* route) {
    const char* source = registry->ResolveEncodingName(from);
    const char* destination = registry->ResolveEncodingName(to);
    route->direct = registry->FindEncoding(source, destination);
    route->toPivot = registry->FindEncoding(source, NLS_UCS2_NAME);
    route->fromPivot = registry->FindEncoding(NLS_UCS2_NAME, destination);
    route->directFactory = route->toPivotFactory = route->fromPivotFactory = nullptr;
}

void freeRecords(RouteRecord* record) {
    while (record != nullptr) {
        RouteRecord* older = record->retired;
        record->~RouteRecord();
        free(record);
        record = older;
    }
}

// False (and the record freed) when the slot keeps another pair in use.
bool remember(RouteRecord* fresh, std::atomic<RouteRecord*>& slot, TEncodingRegistry* registry) {
    std::lock_guard<std::mutex> guard(gWriteLock);
    RouteRecord* old = slot.load(std::memory_order_relaxed);
    if (old != nullptr && old->registry == registry && current(old)) {
        fresh->retired = nullptr;
        freeRecords(fresh);
        return false;
    }
    fresh->retired = old;
    slot.store(fresh, std::memory_order_release);
    return true;
}

}  // namespace

void findRoute(TEncodingRegistry* registry, const char* from, const char* to,
               ConversionRoute* route) {
    if (registry->fEncodings == nullptr || registry->fAliases == nullptr) {
        resolve(registry, from, to, route);
        return;
    }
    uint32_t fromLength = 0, toLength = 0;
    const uint64_t hash = hashNames(from, to, &fromLength, &toLength);
    std::atomic<RouteRecord*>& slot = gSlots[hash % kSlots];
    const RouteRecord* record = slot.load(std::memory_order_acquire);
    if (record != nullptr && holds(record, hash, registry, from, fromLength, to) &&
        current(record)) {
        *route = record->route;
        return;
    }
    const RegistryStamp stamp = currentStamp();  // before the lookup: a change during it shows
    resolve(registry, from, to, route);
    // Routes to nothing are not kept: names from untrusted sources must not
    // take the slots of the pairs in use.
    const bool found = route->direct != nullptr || (route->toPivot && route->fromPivot);
    if (!found || fromLength > kLongestName || toLength > kLongestName) return;
    void* memory = malloc(sizeof(RouteRecord) + fromLength + toLength + 1);
    if (memory == nullptr) return;
    RouteRecord* fresh = new (memory) RouteRecord;
    fresh->hash = hash;
    fresh->stamp = stamp;
    for (std::atomic<NLS_EntryPoint>& factory : fresh->factories)
        factory.store(nullptr, std::memory_order_relaxed);
    fresh->registry = registry;
    fresh->route = *route;
    fresh->route.directFactory = &fresh->factories[0];
    fresh->route.toPivotFactory = &fresh->factories[1];
    fresh->route.fromPivotFactory = &fresh->factories[2];
    fresh->fromLength = fromLength;
    memcpy(fresh->names, from, fromLength + 1);
    memcpy(fresh->names + fromLength + 1, to, toLength + 1);
    const ConversionRoute kept = fresh->route;
    if (remember(fresh, slot, registry)) *route = kept;
}

// A factory found that makes nothing could not get memory: factories
// allocate with nothrow (or throw std::bad_alloc), and take no input that
// could fail them otherwise.
TEncodingConverter* makeConverter(TEncodingRegistry* registry, TEncodingEntry* entry,
                                  std::atomic<NLS_EntryPoint>* keptFactory, NLS_Status* failure) {
    NLS_EntryPoint factory =
        keptFactory != nullptr ? keptFactory->load(std::memory_order_acquire) : nullptr;
    if (factory == nullptr && registry->fLinker != nullptr) {
        char library[kNameFieldSize];
        char symbol[kNameFieldSize];
        entry->GetConverterEntry(library, symbol);
        factory = registry->fLinker->NLS_FindSymbolInLibrary(library, symbol);
        if (factory != nullptr && keptFactory != nullptr)
            keptFactory->store(factory, std::memory_order_release);
    }
    if (factory == nullptr) return registry->CreateEncodingConverter(entry);
    NLS_Status why = NLS_OUT_OF_MEMORY;
    try {
        if (TEncodingConverter* converter = reinterpret_cast<NLS_ConverterFactory>(factory)())
            return converter;
    } catch (const std::bad_alloc&) {
    } catch (...) {
        why = NLS_CONVERTER_NOT_FOUND;  // a converter library's factory failed
    }
    if (failure != nullptr) *failure = why;
    return nullptr;
}

void forgetRoutes() {
    std::lock_guard<std::mutex> guard(gWriteLock);
    for (std::atomic<RouteRecord*>& slot : gSlots)
        freeRecords(slot.exchange(nullptr, std::memory_order_acq_rel));
}

}  // namespace velta
