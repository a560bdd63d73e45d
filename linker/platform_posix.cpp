// POSIX platform layer: converter libraries through dlopen/dlsym/dlclose;
// resources are embedded in the module as a directory of named blocks, and a
// module handle for resources is the address of that directory.
#include <dlfcn.h>
#include <sys/stat.h>
#if defined(__GLIBC__)
#include <link.h>
#include <string.h>
#endif

#include "linker/platform.h"
#include "registry/name_compare.h"
#include "velta/converter.h"

extern const NLS_ResourceDirectory gVeltaResourceDirectory;

namespace velta {
namespace platform {

const char kPathSeparator = '/';
const char* const kLibrarySuffix = "3230.so";

// Only a regular file is opened: dlopen of a FIFO or a device would block or
// read from it before it could fail.
void* Platform_LoadModule(const char* fileName) {
    struct stat info;
    if (stat(fileName, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void Platform_UnloadModule(void* module) {
    if (module != nullptr) dlclose(module);
}

namespace {

// A registry record names a factory of the converter library itself: a
// function that the library defines, never a data object or a symbol that
// dlsym finds in one of its dependencies (abort, say).
bool isFunctionOfModule(void* module, void* address) {
#if defined(__GLIBC__)
    struct link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return false;
    Dl_info info;
    void* found = nullptr;
    if (dladdr1(address, &info, &found, RTLD_DL_SYMENT) == 0 || found == nullptr ||
        info.dli_fname == nullptr || map->l_name == nullptr)
        return false;
    const unsigned type = ELF64_ST_TYPE(static_cast<const ElfW(Sym)*>(found)->st_info);
    return strcmp(info.dli_fname, map->l_name) == 0 && (type == STT_FUNC || type == STT_GNU_IFUNC);
#else
    (void)module;
    return address != nullptr;
#endif
}

}  // namespace

NLS_EntryPoint Platform_FindSymbol(void* module, const char* symbol) {
    if (module == nullptr || symbol == nullptr) return nullptr;
    void* address = dlsym(module, symbol);
    if (address == nullptr || !isFunctionOfModule(module, address)) return nullptr;
    NLS_EntryPoint entryPoint = nullptr;
    static_assert(sizeof(address) == sizeof(entryPoint), "code and data pointers differ in size");
    __builtin_memcpy(&entryPoint, &address, sizeof entryPoint);
    return entryPoint;
}

std::string Platform_LibraryFolder() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&Platform_LibraryFolder), &info) == 0 ||
        info.dli_fname == nullptr)
        return std::string();
    const std::string file = info.dli_fname;
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
}

bool Platform_FolderExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void* Platform_GetLibraryModule() {
    return const_cast<NLS_ResourceDirectory*>(&gVeltaResourceDirectory);
}

// Resource names compare without regard to ASCII case, as module resources do.
void* Platform_FindResource(void* module, const char* name) {
    const NLS_ResourceDirectory* directory = static_cast<const NLS_ResourceDirectory*>(module);
    if (directory == nullptr || name == nullptr) return nullptr;
    for (uint32_t i = 0; i < directory->count; ++i) {
        if (namesEqual(directory->entries[i].name, name))
            return const_cast<NLS_ResourceEntry*>(&directory->entries[i]);
    }
    return nullptr;
}

void* Platform_LoadResource(void* module, void* resource) {
    return module != nullptr ? resource : nullptr;
}

const void* Platform_LockResource(void* handle) {
    return handle != nullptr ? static_cast<const NLS_ResourceEntry*>(handle)->data : nullptr;
}

void Platform_FreeResource(void*) {}

}  // namespace platform
}  // namespace velta
