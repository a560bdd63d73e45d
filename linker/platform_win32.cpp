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

// Only a file is opened, never a directory, a device or a pipe.
void* Platform_LoadModule(const char* fileName) {
    const DWORD attributes = GetFileAttributesA(fileName);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return nullptr;
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

std::string Platform_LibraryFolder() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&Platform_LibraryFolder), &module))
        return std::string();
    char file[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, file, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    const std::string path(file, length);
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string(".") : path.substr(0, separator);
}

bool Platform_FolderExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
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
