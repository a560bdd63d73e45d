#include <string.h>

#include <new>

#include "api/library_state.h"
#include "registry/name_compare.h"
#include "velta/encoding_converter.h"
#include "velta/registry.h"

// A snapshot of the converters matching a pair of names; an exact pair with no
// direct converter lists the chain through UCS-2 that a conversion object
// would build. The arrays have one element more than the registry has
// converters, since the query stores at most capacity - 1 pairs.
EncondingConverterList::EncondingConverterList(const char* from, const char* to)
    : fStatus(NLS_SUCCESS),
      fFromName(""),
      fToName(""),
      fCount(0),
      fFromNames(nullptr),
      fToNames(nullptr),
      fRegistry(velta::holdRegistry()) {
    if (fRegistry == nullptr) return;
    fFromName = from != nullptr ? fRegistry->ResolveEncodingName(from) : "*";
    fToName = to != nullptr ? fRegistry->ResolveEncodingName(to) : "*";
    const uint32_t capacity = fRegistry->EncodingCount() + 1;
    fFromNames = new (std::nothrow) const char*[capacity];
    fToNames = new (std::nothrow) const char*[capacity];
    if (fFromNames == nullptr || fToNames == nullptr) {
        fStatus = NLS_OUT_OF_MEMORY;
        return;
    }
    fRegistry->ListEncodingConverters(fFromName, fToName, fFromNames, fToNames, capacity, &fCount);
    if (fCount > capacity - 1) fCount = capacity - 1;  // counted but not stored
    if (fCount != 0 || velta::isWildcardName(fFromName) || velta::isWildcardName(fToName)) return;
    TEncodingEntry* toPivot = fRegistry->FindEncoding(fFromName, NLS_UCS2_NAME);
    TEncodingEntry* fromPivot = fRegistry->FindEncoding(NLS_UCS2_NAME, fToName);
    if (toPivot != nullptr && fromPivot != nullptr) {
        fFromNames[0] = toPivot->fSourceName;
        fToNames[0] = fromPivot->fDestinationName;
        fCount = 1;
    }
}

EncondingConverterList::~EncondingConverterList() {
    delete[] fFromNames;
    delete[] fToNames;
    velta::releaseRegistry(fRegistry);
}

uint32_t EncondingConverterList::count() {
    fStatus = NLS_SUCCESS;
    return fCount;
}

void EncondingConverterList::index(uint32_t index, char* fromName, char* toName) {
    if (index >= fCount) {
        if (fromName != nullptr) fromName[0] = '\0';
        if (toName != nullptr) toName[0] = '\0';
        fStatus = NLS_INVALID_PARAMETER;
        return;
    }
    if (fromName != nullptr) strcpy(fromName, fFromNames[index]);
    if (toName != nullptr) strcpy(toName, fToNames[index]);
    fStatus = NLS_SUCCESS;
}
