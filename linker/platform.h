// The operating-system services the library uses, one implementation file per
// platform: module loading for converter libraries, the library's own module,
// and the resources (mapping tables) of a module.
#ifndef VELTA_LINKER_PLATFORM_H
#define VELTA_LINKER_PLATFORM_H

#include <string>

#include "velta/nls.h"

namespace velta {
namespace platform {

// The separator that ends the data directory, and the file-name suffix of a
// converter library ("<name>3230.so", "<name>3230.dll").
extern const char kPathSeparator;
extern const char* const kLibrarySuffix;

void* Platform_LoadModule(const char* fileName);
void Platform_UnloadModule(void* module);
NLS_EntryPoint Platform_FindSymbol(void* module, const char* symbol);

// The already loaded library module itself, or null.
void* Platform_GetLibraryModule();

// The folder of the library's own file, without a trailing separator, or an
// empty string where the platform cannot tell.
std::string Platform_LibraryFolder();

// Whether a folder exists at the path.
bool Platform_FolderExists(const std::string& path);

// Resources of a module: find by name, load, lock (the data), free.
void* Platform_FindResource(void* module, const char* name);
void* Platform_LoadResource(void* module, void* resource);
const void* Platform_LockResource(void* handle);
void Platform_FreeResource(void* handle);

}  // namespace platform
}  // namespace velta

#endif
