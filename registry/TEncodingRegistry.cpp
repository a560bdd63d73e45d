#include <stdlib.h>
#include <string.h>

#include <new>

#include "codecs/library_codecs.h"
#include "registry/name_compare.h"
#include "registry/table_changes.h"
#include "velta/converter.h"
#include "velta/detector.h"
#include "velta/encoding_converter.h"
#include "velta/factories.h"
#include "velta/linker.h"
#include "velta/registry.h"

using velta::nameFitsField;

namespace velta {
std::atomic<uint32_t> gRegistryTableChanges{0};
}  // namespace velta

namespace {

const char kNoDetector[] = "#";

// Buckets of the alias table: the shipped files give some 1,600 names, which
// the default 91 buckets would chain 20 deep. (The converter table keeps its
// 91: its walk order is what the enumeration lists.)
const int32_t kAliasBucketCount = 1021;
const char kEmptyName[] = "";

// The built-in detector's name in the pseudo-library, where an encreg.txt
// record can give it to an encoding. Detector factories are kept apart from
// the converter factories: a record that names one as the other must not
// make the library call a factory as the wrong type.
const char kBuiltInDetectorEntry[] = "NewUTF8EncodingDetector";

}  // namespace

TEncodingRegistry::TEncodingRegistry()
    : fEncodings(nullptr),
      fAliases(nullptr),
      fJavaToEncoding(nullptr),
      fEncodingToJava(nullptr),
      fLinker(nullptr),
      fDataDirectory(nullptr),
      fStatus(NLS_NOT_INITIALIZED),
      fUnknownNames(nullptr) {
    NLSMutex guard;
    if (BuildBuiltInTables()) {
        fStatus = NLS_SUCCESS;
    } else {
        DeleteTables();
        fStatus = NLS_OUT_OF_MEMORY;
    }
}

bool TEncodingRegistry::BuildBuiltInTables() {
    fEncodings = new (std::nothrow) TRegistry();
    fAliases = new (std::nothrow) TRegistry(kAliasBucketCount);
    fJavaToEncoding = new (std::nothrow) TRegistry();
    fEncodingToJava = new (std::nothrow) TRegistry();
    fUnknownNames = new (std::nothrow) TRegistry();
    for (TRegistry* table : {fEncodings, fAliases, fJavaToEncoding, fEncodingToJava, fUnknownNames})
        if (table == nullptr || !table->IsUsable()) return false;
    fLinker = new (std::nothrow)
        TDLLLinker(const_cast<NLS_StaticConverterEntry*>(fStaticEntryList), fStaticEntryListLength,
                   EncodingConverter::getDataDirectory());
    if (fLinker == nullptr || fLinker->GetStatus() != NLS_SUCCESS) return false;
    try {
        velta::registerLibraryFactories(fLinker);
    } catch (...) {
        return false;
    }
    for (uint32_t i = 0; i < fStaticEntryListLength; ++i) {
        const NLS_StaticConverterEntry& row = fStaticEntryList[i];
        if (!AddConverterEntry(row.fromName, row.toName, kStaticLibraryName, row.entryName,
                               kNoDetector) ||
            !AddAlias(fAliases, row.fromName, row.fromName) ||
            !AddAlias(fAliases, row.toName, row.toName))
            return false;
    }
    for (uint32_t i = 0; i < fStaticAliasListLength; ++i) {
        if (!AddAlias(fAliases, fStaticAliasList[i].aliasName, fStaticAliasList[i].encodingName))
            return false;
    }
    return true;
}

void TEncodingRegistry::DeleteTables() {
    delete fAliases;
    delete fEncodings;
    delete fJavaToEncoding;
    delete fEncodingToJava;
    delete fUnknownNames;
    fUnknownNames = nullptr;
    delete fLinker;
    fAliases = fEncodings = fJavaToEncoding = fEncodingToJava = nullptr;
    fLinker = nullptr;
}

TEncodingRegistry::~TEncodingRegistry() {
    DeleteTables();
    free(fDataDirectory);
}

bool TEncodingRegistry::AddConverterEntry(const char* source, const char* destination,
                                          const char* library, const char* converterEntry,
                                          const char* detectorEntry) {
    TEncodingEntry* entry = new (std::nothrow)
        TEncodingEntry(source, destination, library, converterEntry, detectorEntry);
    if (entry == nullptr) return false;
    fEncodings->addEntry(entry);
    velta::gRegistryTableChanges.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

bool TEncodingRegistry::AddAlias(TRegistry* table, const char* key, const char* value) {
    TAliasEntry* entry = new (std::nothrow) TAliasEntry(key, value);
    if (entry == nullptr) return false;
    table->addEntry(entry);
    velta::gRegistryTableChanges.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

NLS_Status TEncodingRegistry::GetStatus() {
    return fStatus;
}

TAliasEntry* TEncodingRegistry::FindAliasItem(const char* name) {
    if (fAliases == nullptr || name == nullptr) return nullptr;
    return static_cast<TAliasEntry*>(fAliases->lookup(name, nullptr));
}

// A name too long for a field is refused: it gets the empty name, which no
// converter has.
const char* TEncodingRegistry::ResolveEncodingName(const char* name) {
    if (name == nullptr || name[0] == '\0' || fAliases == nullptr) return kEmptyName;
    if (TAliasEntry* found = FindAliasItem(name)) return found->fValue;
    return nameFitsField(name) ? name : kEmptyName;
}

const char* TEncodingRegistry::NormalizeEncodingName(const char* name) {
    const char* resolved = ResolveEncodingName(name);
    if (resolved != name || fUnknownNames == nullptr) return resolved;
    if (TRegistryEntry* kept = fUnknownNames->lookup(name, nullptr))
        return static_cast<TAliasEntry*>(kept)->fValue;
    NLSMutex guard;
    if (fUnknownNames->getEntryCount() >= kMaxUnknownNames) return kEmptyName;
    TAliasEntry* entry = new (std::nothrow) TAliasEntry(name, name);
    if (entry == nullptr) return kEmptyName;
    fUnknownNames->addEntry(entry);
    return entry->fValue;
}

TEncodingEntry* TEncodingRegistry::FindEncoding(const char* source, const char* destination) {
    if (fEncodings == nullptr) return nullptr;
    const char* normalizedDestination = ResolveEncodingName(destination);
    const char* normalizedSource = ResolveEncodingName(source);
    return static_cast<TEncodingEntry*>(
        fEncodings->lookup(normalizedSource, normalizedDestination));
}

const char* TEncodingRegistry::NormalizeJavaEntity(const char* javaName) {
    if (fJavaToEncoding == nullptr || javaName == nullptr) return nullptr;
    TAliasEntry* entry = static_cast<TAliasEntry*>(fJavaToEncoding->lookup(javaName, nullptr));
    return entry != nullptr ? entry->fValue : nullptr;
}

const char* TEncodingRegistry::FindJavaEntityName(const char* name) {
    if (fEncodingToJava == nullptr || name == nullptr) return nullptr;
    TAliasEntry* entry = static_cast<TAliasEntry*>(fEncodingToJava->lookup(name, nullptr));
    return entry != nullptr ? entry->fValue : nullptr;
}

uint32_t TEncodingRegistry::AliasCount() {
    return fAliases ? fAliases->getEntryCount() : 0;
}
uint32_t TEncodingRegistry::EncodingCount() {
    return fEncodings ? fEncodings->getEntryCount() : 0;
}

TEncodingConverter* TEncodingRegistry::CreateEncodingConverter(const char* source,
                                                               const char* destination) {
    TEncodingEntry* entry = FindEncoding(source, destination);
    if (entry == nullptr) {
        fStatus = NLS_CONVERTER_NOT_FOUND;
        return nullptr;
    }
    return CreateEncodingConverter(entry);
}

TEncodingConverter* TEncodingRegistry::CreateEncodingConverter(TEncodingEntry* entry) {
    if (entry != nullptr && fLinker != nullptr) {
        char library[kNameFieldSize];
        char symbol[kNameFieldSize];
        entry->GetConverterEntry(library, symbol);
        if (NLS_EntryPoint factory = fLinker->NLS_FindSymbolInLibrary(library, symbol)) {
            // A converter library's factory may throw: that makes no converter.
            try {
                if (TEncodingConverter* converter =
                        reinterpret_cast<NLS_ConverterFactory>(factory)())
                    return converter;
            } catch (...) {
            }
            fStatus = NLS_CONVERTER_NOT_FOUND;
            return nullptr;
        }
    }
    fStatus = fLinker != nullptr ? fLinker->GetStatus() : NLS_CONVERTER_NOT_FOUND;
    return nullptr;
}

// A detector entry is found by its source name alone: the first converter
// entry of that encoding, in table order, that names a detector.
TAutoDetector* TEncodingRegistry::CreateEncodingDetector(const char* name) {
    if (fEncodings == nullptr || fLinker == nullptr) return nullptr;
    const char* normalized = ResolveEncodingName(name);
    TEncodingEntry* found = nullptr;
    TRegistryEnumeration walk(fEncodings);
    while (TRegistryEntry* item = walk.next()) {
        TEncodingEntry* entry = static_cast<TEncodingEntry*>(item);
        if (velta::namesEqual(entry->fSourceName, normalized) && entry->fDetectorEntry[0] != '#') {
            found = entry;
            break;
        }
    }
    if (found == nullptr) {
        fStatus = fLinker->GetStatus();
        return nullptr;
    }
    char library[kNameFieldSize];
    char symbol[kNameFieldSize];
    found->GetDetectorEntry(library, symbol);
    if (strcmp(library, kStaticLibraryName) == 0) {
        if (strcmp(symbol, kBuiltInDetectorEntry) == 0) return NEWUTF8ENCODINGDETECTOR();
        fStatus = NLS_ENTRY_POINT_NOT_FOUND;
        return nullptr;
    }
    if (NLS_EntryPoint factory = fLinker->NLS_FindSymbolInLibrary(library, symbol)) {
        try {
            return reinterpret_cast<NLS_DetectorFactory>(factory)();
        } catch (...) {
            fStatus = NLS_CONVERTER_NOT_FOUND;
            return nullptr;
        }
    }
    fStatus = fLinker->GetStatus();
    return nullptr;
}

// Rows with a name too long for its field are skipped.
void TEncodingRegistry::RegisterStaticConverters(char* table) {
    if (fLinker == nullptr || fEncodings == nullptr) return;
    fLinker->RegisterStaticConverters(table);
    if (table == nullptr) return;
    const NLS_StaticConverterEntry* rows = reinterpret_cast<const NLS_StaticConverterEntry*>(table);
    for (; rows->entryName != nullptr; ++rows) {
        if (!TEncodingEntry::NamesFit(rows->fromName, rows->toName, kStaticLibraryName,
                                      rows->entryName, kNoDetector))
            continue;
        if (!AddConverterEntry(rows->fromName, rows->toName, kStaticLibraryName, rows->entryName,
                               kNoDetector) ||
            !AddAlias(fAliases, rows->fromName, rows->fromName) ||
            !AddAlias(fAliases, rows->toName, rows->toName))
            return;
    }
}
