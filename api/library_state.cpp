#include "api/library_state.h"

#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "api/route_cache.h"
#include "api/spare_objects.h"
#include "linker/platform.h"
#include "linker/unload_count.h"
#include "registry/name_compare.h"
#include "velta/encoding_converter.h"
#include "velta/registry.h"

// Where the installed data directory lies from the folder of the library's
// own file, and from a program's folder for the static library (the build
// sets both from the install layout; on Windows the DLL's own folder).
#ifndef VELTA_DATA_FROM_LIBRARY
#define VELTA_DATA_FROM_LIBRARY "../share/velta"
#endif
#ifndef VELTA_DATA_FROM_PROGRAM
#define VELTA_DATA_FROM_PROGRAM "../share/velta"
#endif

namespace {

// Serialises the start and end of the library and the data directory, so
// that first use from several threads at once builds exactly one registry.
std::recursive_mutex gLifecycleLock;

// How many holds each live registry has; the current registry has one more
// for being current. Taken with the current registry's pointer, so that a
// registry cannot be freed between being found and being held.
std::mutex gHoldLock;
std::unordered_map<TEncodingRegistry*, uint32_t>& registryHolds() {
    static std::unordered_map<TEncodingRegistry*, uint32_t> holds;
    return holds;
}

// Routes found in a registry refer to its entries: a freed registry's
// routes must never match a later registry at the same address.
void freeRegistry(TEncodingRegistry* registry) {
    if (registry == nullptr) return;
    velta::gLibraryUnloads.fetch_add(1, std::memory_order_acq_rel);
    delete registry;
}

// Drops one hold; true when it was the last one (the caller frees it).
bool dropHoldLocked(TEncodingRegistry* registry) {
    auto& holds = registryHolds();
    auto found = holds.find(registry);
    if (found == holds.end() || --found->second != 0) return false;
    holds.erase(found);
    return true;
}

enum { kMaxUnknownNames = 1024 };

struct NameStore {
    std::mutex lock;
    std::unordered_set<std::string> known;
    std::unordered_map<std::string, std::string> unknown;  // by the name folded to lower case
};

NameStore& nameStore() {
    static NameStore store;
    return store;
}

const char kEmptyName[] = "";

}  // namespace

char* EncodingConverter::fgConverterPath = nullptr;
std::atomic<TEncodingRegistry*> EncodingConverter::fgRegistry{nullptr};
const char* const EncodingConverter::kDefaultConverterPath =
    velta::platform::kPathSeparator == '/' ? "conv30/" : "conv30\\";

namespace velta {

namespace {

bool hasRegistryFolder(const std::string& directory) {
    return platform::Platform_FolderExists(directory + platform::kPathSeparator + "conv30");
}

std::string below(const std::string& folder, const char* relative) {
    std::string path = relative;
    if (path.empty() || path == ".") return folder;
    for (char& c : path)
        if (c == '/') c = platform::kPathSeparator;
    return folder + platform::kPathSeparator + path;
}

// The installed data directory, when the library's own file sits in an
// installed layout that has one.
std::string installedDataDirectory(const std::string& libraryFolder) {
    if (libraryFolder.empty()) return std::string();
    for (const char* relative : {VELTA_DATA_FROM_LIBRARY, VELTA_DATA_FROM_PROGRAM}) {
        const std::string candidate = below(libraryFolder, relative);
        if (hasRegistryFolder(candidate)) return candidate;
    }
    return std::string();
}

// A build tree keeps its data in <build>/data, beside the library or one up
// (Windows builds put the DLL in <build>/bin).
std::string buildTreeDataDirectory(const std::string& libraryFolder) {
    if (libraryFolder.empty()) return std::string();
    const char separator = platform::kPathSeparator;
    for (const std::string& candidate : {libraryFolder + separator + "data",
                                         libraryFolder + separator + ".." + separator + "data"})
        if (hasRegistryFolder(candidate)) return candidate;
    return std::string();
}

}  // namespace

// A folder in the current directory must never override an installed
// library's data: it would choose the converter libraries loaded.
std::string defaultDataDirectory() {
    const std::string library = platform::Platform_LibraryFolder();
    const std::string installed = installedDataDirectory(library);
    if (!installed.empty()) return installed;
    if (hasRegistryFolder(".")) return ".";
    const std::string build = buildTreeDataDirectory(library);
    return build.empty() ? std::string(".") : build;
}

void initializeLibrary(const MutexImplementation* lock, const char* dataDirectory) {
    std::lock_guard<std::recursive_mutex> guard(gLifecycleLock);
    if (lock != nullptr) NLSMutex::SetImplementation(lock);
    const char* directory = nullptr;
    if (dataDirectory != nullptr && dataDirectory[0] != '\0') {
        directory = dataDirectory;
    } else {
        const char* environment = getenv("ZP_NLS_DATADIRECTORY");
        if (environment != nullptr && environment[0] != '\0') directory = environment;
    }
    std::string found;
    if (directory == nullptr) {
        try {
            found = defaultDataDirectory();
            directory = found.c_str();
        } catch (...) {
        }
    }
    EncodingConverter::setDataDirectory(directory);
    EncodingConverter::initializeEncodingRegistry();
}

void terminateLibrary() {
    std::lock_guard<std::recursive_mutex> guard(gLifecycleLock);
    forgetRoutes();
    EncodingConverter::deleteEncodingRegistry();
    NLSMutex::ReleaseImplementation();
    NameStore& store = nameStore();
    std::lock_guard<std::mutex> names(store.lock);
    store.known.clear();
    store.unknown.clear();
}

TEncodingRegistry* holdRegistry() {
    for (int attempt = 0; attempt < 2; ++attempt) {
        {
            std::lock_guard<std::mutex> guard(gHoldLock);
            TEncodingRegistry* registry = EncodingConverter::getEncodingRegistry();
            if (registry != nullptr) {
                auto found = registryHolds().find(registry);
                if (found != registryHolds().end()) {
                    ++found->second;
                    return registry;
                }
            }
        }
        std::lock_guard<std::recursive_mutex> guard(gLifecycleLock);
        if (EncodingConverter::getEncodingRegistry() == nullptr)
            initializeLibrary(nullptr, nullptr);
    }
    return nullptr;
}

void releaseRegistry(TEncodingRegistry* registry) {
    if (registry == nullptr) return;
    bool last = false;
    {
        std::lock_guard<std::mutex> guard(gHoldLock);
        last = dropHoldLocked(registry);
    }
    if (last) freeRegistry(registry);
}

const char* keptName(const char* name) {
    if (name == nullptr || name[0] == '\0') return kEmptyName;
    NameStore& store = nameStore();
    std::lock_guard<std::mutex> guard(store.lock);
    return store.known.emplace(name).first->c_str();
}

const char* keptUnknownName(const char* name) {
    if (name == nullptr || name[0] == '\0') return kEmptyName;
    std::string key(name);
    for (char& c : key) c = static_cast<char>(foldAsciiLower(static_cast<unsigned char>(c)));
    NameStore& store = nameStore();
    {
        std::lock_guard<std::mutex> guard(store.lock);
        auto found = store.unknown.find(key);
        if (found != store.unknown.end()) return found->second.c_str();
    }
    NLSMutex clientLock;  // the caller's lock is held around adding a name
    std::lock_guard<std::mutex> guard(store.lock);
    auto found = store.unknown.find(key);
    if (found != store.unknown.end()) return found->second.c_str();
    if (store.unknown.size() >= kMaxUnknownNames) return kEmptyName;
    return store.unknown.emplace(std::move(key), name).first->second.c_str();
}

}  // namespace velta

TEncodingRegistry* EncodingConverter::registryOnFirstNeed() {
    if (TEncodingRegistry* registry = fgRegistry.load(std::memory_order_acquire)) return registry;
    std::lock_guard<std::recursive_mutex> guard(gLifecycleLock);
    if (fgRegistry.load(std::memory_order_acquire) == nullptr)
        velta::initializeLibrary(nullptr, nullptr);
    return fgRegistry.load(std::memory_order_acquire);
}

const char* EncodingConverter::getDataDirectory() {
    std::lock_guard<std::recursive_mutex> guard(gLifecycleLock);
    if (fgConverterPath == nullptr) setDataDirectory("");
    return fgConverterPath;
}

// The directory, one separator unless it already ends in one, then "conv30"
// and a separator: "D:\nls" and "D:\nls\" both give "D:\nls\conv30\".
void EncodingConverter::setDataDirectory(const char* directory) {
    std::lock_guard<std::recursive_mutex> guard(gLifecycleLock);
    free(fgConverterPath);
    fgConverterPath = nullptr;
    const char* base = (directory != nullptr && directory[0] != '\0') ? directory : ".";
    const size_t length = strlen(base);
    const bool endsInSeparator = base[length - 1] == velta::platform::kPathSeparator;
    const size_t size = length + 1 + strlen(kDefaultConverterPath) + 1;
    char* path = static_cast<char*>(malloc(size));
    if (path == nullptr) return;
    memcpy(path, base, length);
    size_t end = length;
    if (!endsInSeparator) path[end++] = velta::platform::kPathSeparator;
    strcpy(path + end, kDefaultConverterPath);
    fgConverterPath = path;
}

// The new registry is built and has read its files before it replaces the
// process-wide one, so other threads never see none or half of one. The one
// it replaces goes when its last holder does.
NLS_Status EncodingConverter::initializeEncodingRegistry() {
    std::lock_guard<std::recursive_mutex> guard(gLifecycleLock);
    TEncodingRegistry* registry = new (std::nothrow) TEncodingRegistry();
    NLS_Status status = NLS_OUT_OF_MEMORY;
    if (registry != nullptr) {
        status = registry->GetStatus();
        if (status == NLS_SUCCESS) status = registry->Initialize(getDataDirectory());
    }
    TEncodingRegistry* previous = nullptr;
    bool previousWasLast = false;
    velta::deleteSpareObjects();  // they hold the registry being replaced
    {
        std::lock_guard<std::mutex> holds(gHoldLock);
        if (registry != nullptr) {
            try {
                registryHolds().emplace(registry, 1u);
            } catch (...) {
                delete registry;  // keep the registry in use rather than lose it
                return NLS_OUT_OF_MEMORY;
            }
        }
        previous = fgRegistry.exchange(registry, std::memory_order_acq_rel);
        if (previous != nullptr) previousWasLast = dropHoldLocked(previous);
    }
    if (previousWasLast) freeRegistry(previous);
    return status;
}

// Every registry goes, held or not: objects must not outlive termination.
void EncodingConverter::deleteEncodingRegistry() {
    std::lock_guard<std::recursive_mutex> guard(gLifecycleLock);
    velta::deleteSpareObjects();
    std::vector<TEncodingRegistry*> registries;
    {
        std::lock_guard<std::mutex> holds(gHoldLock);
        fgRegistry.store(nullptr, std::memory_order_release);
        for (auto& held : registryHolds()) registries.push_back(held.first);
        registryHolds().clear();
    }
    for (TEncodingRegistry* registry : registries) freeRegistry(registry);
}

TEncodingRegistry* EncodingConverter::getEncodingRegistry() {
    return fgRegistry.load(std::memory_order_acquire);
}
