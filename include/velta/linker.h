// The converter library linker: (library, entry point) to factory function.
#ifndef VELTA_LINKER_H
#define VELTA_LINKER_H

#include <stdint.h>
#include <atomic>
#include <mutex>

#include "velta/registry.h"

struct NLS_StaticSymbol {
    const char* entryName;
    NLS_EntryPoint entryPoint;
};

// One library: a converter library file, or the built-in pseudo-library.
struct NLS_Library {
    char libraryName[kNameFieldSize];
    int32_t refCount;
    NLS_Library* next;
    void* module;                     // null for the pseudo-library
    NLS_StaticSymbol* staticSymbols;  // pseudo-library only; ends with a null name
    TRegistry* symbolCache;           // TEntryPoint entries found so far
};

class VELTA_EXPORT TEntryPoint : public TRegistryEntry {
public:
    TEntryPoint(NLS_EntryPoint entryPoint, const char* name);
    ~TEntryPoint() override;
    TEntryPoint(const TEntryPoint&) = delete;
    TEntryPoint& operator=(const TEntryPoint&) = delete;
    const char* getPrimaryKey() override;
    const char* getSecondaryKey() override;

    NLS_EntryPoint fEntryPoint;
    char* fName;
};

// Library files are "<library path><name>3230.so" (".dll" on Windows). Calls
// that change the list or a cache are serialised inside the linker, so
// converters may be created on several threads at once.
class VELTA_EXPORT TDLLLinker {
public:
    enum { kSymbolCacheBuckets = 7, kMaxLibraryNameLength = 55 };

    TDLLLinker(NLS_StaticConverterEntry* table, uint32_t count, const char* libraryPath);
    TDLLLinker(const TDLLLinker&) = delete;
    TDLLLinker& operator=(const TDLLLinker&) = delete;
    virtual ~TDLLLinker();

    NLS_Status GetStatus();
    NLS_Status SetDefaultLibraryPath(const char* path);
    const char* GetDefaultLibraryPath();
    NLS_Library* NLS_FindLibrary(const char* name);
    NLS_Status NLS_LoadLibrary(const char* name);
    NLS_Status NLS_UnloadLibrary(char* name);
    NLS_EntryPoint NLS_FindSymbolInLibrary(char* library, char* symbol);
    void RegisterStaticConverters(char* table);

    // The file a library name stands for; false for names that are refused.
    bool LibraryFileName(const char* name, char* fileName, uint32_t capacity);
    static bool IsAcceptableLibraryName(const char* name);

    std::atomic<NLS_Status> fStatus;
    char* fLibraryPath;
    NLS_Library* fLibraries;

protected:
    void Platform_LoadDynamicLibrary(NLS_Library* record);
    bool UseLinkedInLibrary(NLS_Library* record);
    void Platform_UnloadDynamicLibrary(NLS_Library* record);
    NLS_EntryPoint Platform_FindSymbolInLibrary(NLS_Library* record, char* symbol);

private:
    NLS_Status LoadLibraryLocked(const char* name);
    NLS_Status UnloadLibraryLocked(const char* name);
    static void FreeRecord(NLS_Library* record);
    std::recursive_mutex fLock;
};

#endif
