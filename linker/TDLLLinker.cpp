#include <stdlib.h>
#include <string.h>

#include <new>

#include "linker/linked_libraries.h"
#include "linker/platform.h"
#include "linker/unload_count.h"
#include "velta/linker.h"

using velta::platform::Platform_FindSymbol;
using velta::platform::Platform_LoadModule;
using velta::platform::Platform_UnloadModule;

namespace {

const char kPseudoLibraryName[] = "@@staticconvertersINTERNAL@@";

}  // namespace

TEntryPoint::TEntryPoint(NLS_EntryPoint entryPoint, const char* name)
    : fEntryPoint(entryPoint), fName(name != nullptr ? strdup(name) : nullptr) {}

TEntryPoint::~TEntryPoint() {
    free(fName);
}
const char* TEntryPoint::getPrimaryKey() {
    return fName;
}
const char* TEntryPoint::getSecondaryKey() {
    return nullptr;
}

TDLLLinker::TDLLLinker(NLS_StaticConverterEntry* table, uint32_t count, const char* libraryPath)
    : fStatus(NLS_NOT_INITIALIZED), fLibraryPath(nullptr), fLibraries(nullptr) {
    fLibraryPath = strdup(libraryPath != nullptr ? libraryPath : "");
    NLS_Library* record = new (std::nothrow) NLS_Library();
    if (record != nullptr) {
        strcpy(record->libraryName, kPseudoLibraryName);
        record->refCount = 1;
        record->symbolCache = new (std::nothrow) TRegistry(kSymbolCacheBuckets);
        record->staticSymbols = new (std::nothrow) NLS_StaticSymbol[count + 1];
    }
    if (fLibraryPath == nullptr || record == nullptr || record->symbolCache == nullptr ||
        record->staticSymbols == nullptr) {
        FreeRecord(record);
        fStatus = NLS_OUT_OF_MEMORY;
        return;
    }
    for (uint32_t i = 0; i < count; ++i)
        record->staticSymbols[i] = {table[i].entryName, table[i].entryPoint};
    record->staticSymbols[count] = {nullptr, nullptr};
    fLibraries = record;
    fStatus = NLS_SUCCESS;
}

namespace velta {
std::atomic<uint32_t> gLibraryUnloads{0};
}  // namespace velta

TDLLLinker::~TDLLLinker() {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    while (fLibraries != nullptr) {
        char name[kNameFieldSize];
        memcpy(name, fLibraries->libraryName, kNameFieldSize);
        UnloadLibraryLocked(name);
    }
    free(fLibraryPath);
}

void TDLLLinker::FreeRecord(NLS_Library* record) {
    if (record == nullptr) return;
    delete record->symbolCache;
    delete[] record->staticSymbols;
    delete record;
}

NLS_Status TDLLLinker::GetStatus() {
    return fStatus;
}

NLS_Status TDLLLinker::SetDefaultLibraryPath(const char* path) {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    char* copy = strdup(path != nullptr ? path : "");
    if (copy == nullptr) {
        fStatus = NLS_OUT_OF_MEMORY;
        return NLS_OUT_OF_MEMORY;
    }
    free(fLibraryPath);
    fLibraryPath = copy;
    return NLS_SUCCESS;
}

const char* TDLLLinker::GetDefaultLibraryPath() {
    return fLibraryPath;
}

NLS_Library* TDLLLinker::NLS_FindLibrary(const char* name) {
    if (name == nullptr) return nullptr;
    std::lock_guard<std::recursive_mutex> guard(fLock);
    for (NLS_Library* record = fLibraries; record != nullptr; record = record->next) {
        if (strcmp(record->libraryName, name) == 0) return record;
    }
    return nullptr;
}

// A library name is a plain base name: it cannot reach outside the data
// directory, and with its suffix it fits a 64-byte name.
bool TDLLLinker::IsAcceptableLibraryName(const char* name) {
    if (name == nullptr || name[0] == '\0') return false;
    const size_t length = strnlen(name, kMaxLibraryNameLength + 1);
    if (length > kMaxLibraryNameLength) return false;
    return strpbrk(name, "/\\:") == nullptr && strstr(name, "..") == nullptr;
}

bool TDLLLinker::LibraryFileName(const char* name, char* fileName, uint32_t capacity) {
    if (!IsAcceptableLibraryName(name) || fLibraryPath == nullptr) return false;
    const size_t needed =
        strlen(fLibraryPath) + strlen(name) + strlen(velta::platform::kLibrarySuffix) + 1;
    if (needed > capacity) return false;
    strcpy(fileName, fLibraryPath);
    strcat(fileName, name);
    strcat(fileName, velta::platform::kLibrarySuffix);
    return true;
}

NLS_Status TDLLLinker::NLS_LoadLibrary(const char* name) {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    return LoadLibraryLocked(name);
}

NLS_Status TDLLLinker::LoadLibraryLocked(const char* name) {
    if (NLS_Library* existing = NLS_FindLibrary(name)) {
        ++existing->refCount;
        fStatus = NLS_SUCCESS;
        return NLS_SUCCESS;
    }
    if (!IsAcceptableLibraryName(name) || fLibraries == nullptr) {
        fStatus = NLS_LIBRARY_NOT_LOADED;
        return NLS_LIBRARY_NOT_LOADED;
    }
    NLS_Library* record = new (std::nothrow) NLS_Library();
    if (record != nullptr) record->symbolCache = new (std::nothrow) TRegistry(kSymbolCacheBuckets);
    if (record == nullptr || record->symbolCache == nullptr) {
        FreeRecord(record);
        fStatus = NLS_OUT_OF_MEMORY;
        return NLS_OUT_OF_MEMORY;
    }
    strcpy(record->libraryName, name);
    Platform_LoadDynamicLibrary(record);
    if (fStatus != NLS_SUCCESS) {
        NLS_Status status = fStatus;
        FreeRecord(record);
        return status;
    }
    record->refCount = 1;
    record->next = fLibraries->next;
    fLibraries->next = record;
    return NLS_SUCCESS;
}

NLS_Status TDLLLinker::NLS_UnloadLibrary(char* name) {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    return UnloadLibraryLocked(name);
}

NLS_Status TDLLLinker::UnloadLibraryLocked(const char* name) {
    NLS_Library* record = NLS_FindLibrary(name);
    if (record == nullptr) {
        fStatus = NLS_LIBRARY_NOT_LOADED;
        return NLS_LIBRARY_NOT_LOADED;
    }
    if (--record->refCount > 0) {
        fStatus = NLS_SUCCESS;
        return NLS_SUCCESS;
    }
    velta::gLibraryUnloads.fetch_add(1, std::memory_order_acq_rel);
    Platform_UnloadDynamicLibrary(record);
    if (fLibraries == record) {
        fLibraries = record->next;
    } else {
        NLS_Library* previous = fLibraries;
        while (previous->next != record) previous = previous->next;
        previous->next = record->next;
    }
    FreeRecord(record);
    fStatus = NLS_SUCCESS;
    return NLS_SUCCESS;
}

NLS_EntryPoint TDLLLinker::NLS_FindSymbolInLibrary(char* library, char* symbol) {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    NLS_Library* record = NLS_FindLibrary(library);
    if (record == nullptr) {
        fStatus = LoadLibraryLocked(library);
        if (fStatus != NLS_SUCCESS) return nullptr;
        record = NLS_FindLibrary(library);
        if (record == nullptr) return nullptr;
    }
    return Platform_FindSymbolInLibrary(record, symbol);
}

void TDLLLinker::RegisterStaticConverters(char* table) {
    if (table == nullptr) return;
    std::lock_guard<std::recursive_mutex> guard(fLock);
    NLS_Library* pseudoLibrary = NLS_FindLibrary(kPseudoLibraryName);
    if (pseudoLibrary == nullptr) return;
    const NLS_StaticConverterEntry* rows = reinterpret_cast<const NLS_StaticConverterEntry*>(table);
    for (; rows->entryName != nullptr; ++rows) {
        TEntryPoint* entry = new (std::nothrow) TEntryPoint(rows->entryPoint, rows->entryName);
        if (entry == nullptr || entry->fName == nullptr) {
            delete entry;
            return;
        }
        pseudoLibrary->symbolCache->addEntry(entry);
    }
}

// A converter library linked into the library answers from its own table.
bool TDLLLinker::UseLinkedInLibrary(NLS_Library* record) {
    const NLS_StaticSymbol* symbols = velta::linkedInLibrary(record->libraryName);
    if (symbols == nullptr) return false;
    size_t count = 0;
    while (symbols[count].entryName != nullptr) ++count;
    record->staticSymbols = new (std::nothrow) NLS_StaticSymbol[count + 1];
    if (record->staticSymbols == nullptr) {
        fStatus = NLS_OUT_OF_MEMORY;
        return true;
    }
    for (size_t i = 0; i <= count; ++i) record->staticSymbols[i] = symbols[i];
    record->module = nullptr;
    fStatus = NLS_SUCCESS;
    return true;
}

void TDLLLinker::Platform_LoadDynamicLibrary(NLS_Library* record) {
    if (UseLinkedInLibrary(record)) return;
    if (!velta::loadsLibraryFiles()) {
        fStatus = NLS_LIBRARY_NOT_LOADED;
        return;
    }
    char fileName[4096];
    if (!LibraryFileName(record->libraryName, fileName, sizeof fileName)) {
        fStatus = NLS_LIBRARY_NOT_LOADED;
        return;
    }
    record->module = Platform_LoadModule(fileName);
    if (record->module == nullptr) {
        fStatus = NLS_LIBRARY_NOT_LOADED;
        return;
    }
    record->staticSymbols = nullptr;
    fStatus = NLS_SUCCESS;
}

void TDLLLinker::Platform_UnloadDynamicLibrary(NLS_Library* record) {
    if (record->module != nullptr) Platform_UnloadModule(record->module);
    record->module = nullptr;
}

// The cache answers first, without regard to letter case; the built-in table
// and the platform are searched by exact name, and only hits are cached.
NLS_EntryPoint TDLLLinker::Platform_FindSymbolInLibrary(NLS_Library* record, char* symbol) {
    if (symbol == nullptr) {
        fStatus = NLS_ENTRY_POINT_NOT_FOUND;
        return nullptr;
    }
    TEntryPoint* cached = static_cast<TEntryPoint*>(record->symbolCache->lookup(symbol, nullptr));
    if (cached != nullptr && cached->fEntryPoint != nullptr) {
        fStatus = NLS_SUCCESS;
        return cached->fEntryPoint;
    }
    NLS_EntryPoint entryPoint = nullptr;
    if (record->staticSymbols != nullptr) {
        for (NLS_StaticSymbol* pair = record->staticSymbols; pair->entryName != nullptr; ++pair) {
            if (strcmp(pair->entryName, symbol) == 0) {
                entryPoint = pair->entryPoint;
                break;
            }
        }
    } else {
        entryPoint = Platform_FindSymbol(record->module, symbol);
    }
    if (entryPoint == nullptr) {
        fStatus = NLS_ENTRY_POINT_NOT_FOUND;
        return nullptr;
    }
    TEntryPoint* entry = new (std::nothrow) TEntryPoint(entryPoint, symbol);
    if (entry != nullptr && entry->fName != nullptr)
        record->symbolCache->addEntry(entry);
    else
        delete entry;
    fStatus = NLS_SUCCESS;
    return entryPoint;
}
