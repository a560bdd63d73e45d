// For converter-library authors whose table-driven converters read mapping
// tables linked into the library: NLS_LIBRARY_TABLE_MODULE(directory) is the
// module to give TEncodingConverter's constructor. On Windows that is the
// library itself, whose RCDATA resources hold the tables (`directory` is not
// evaluated); elsewhere the directory of resources that
// velta_embed_resources linked into it under the name `directory`.
// Include it only in the library's own sources (on Windows it brings in
// <windows.h>).
#ifndef VELTA_TABLE_MODULE_H
#define VELTA_TABLE_MODULE_H

#include "velta/converter.h"

#if defined(_WIN32)
#include <windows.h>

// The module holding this function: each library that includes this
// header has its own copy.
static inline void* velta_ThisLibraryModule(void) {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&velta_ThisLibraryModule), &module);
    return module;
}
#define NLS_LIBRARY_TABLE_MODULE(directory) velta_ThisLibraryModule()
#else
#define NLS_LIBRARY_TABLE_MODULE(directory) (const_cast<NLS_ResourceDirectory*>(&(directory)))
#endif

#endif
