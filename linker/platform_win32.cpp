// Windows platform layer: converter libraries through LoadLibraryA,
// GetProcAddress and FreeLibrary; the library's own module by name
// (GetModuleHandleA "VELTA3230.dll"); mapping tables as RCDATA resources
// (FindResourceA, LoadResource, LockResource, FreeResource).
#include <windows.h>

#include "linker/platform.h"

namespace velta {
namespace platform {

const char kPathSeparator = '\\';
const char* const kLibrarySuffix = "3230.dll";

void* Platform_LoadModule(const char* fileName) {
    return reinterpret_cast<void*>(LoadLibraryA(fileName));
}

void Platform_UnloadModule(void* module) {
    if (module != nullptr) FreeLibrary(static_cast<HMODULE>(module));
}

NLS_EntryPoint Platform_FindSymbol(void* module, const char* symbol) {
    if (module == nullptr || symbol == nullptr) return nullptr;
    return reinterpret_cast<NLS_EntryPoint>(
        reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(module), symbol)));
}

void* Platform_GetLibraryModule() {
    return reinterpret_cast<void*>(GetModuleHandleA("VELTA3230.dll"));
}

void* Platform_FindResource(void* module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(
        FindResourceA(static_cast<HMODULE>(module), name, MAKEINTRESOURCEA(10)));
}

void* Platform_LoadResource(void* module, void* resource) {
    if (module == nullptr || resource == nullptr) return nullptr;
    return reinterpret_cast<void*>(
        LoadResource(static_cast<HMODULE>(module), static_cast<HRSRC>(resource)));
}

const void* Platform_LockResource(void* handle) {
    return handle != nullptr ? LockResource(static_cast<HGLOBAL>(handle)) : nullptr;
}

void Platform_FreeResource(void* handle) {
    if (handle != nullptr) FreeResource(static_cast<HGLOBAL>(handle));
}

}  // namespace platform
}  // namespace velta
