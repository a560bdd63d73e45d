#include <string.h>

#include "registry/name_compare.h"
#include "velta/registry.h"

using velta::compareNamesIgnoringCase;
using velta::copyNameField;
using velta::isWildcardName;
using velta::nameFitsField;

TEncodingEntry::TEncodingEntry(const char* source, const char* destination, const char* library,
                               const char* converterEntry, const char* detectorEntry) {
    copyNameField(fSourceName, source);
    copyNameField(fDestinationName, destination);
    copyNameField(fLibraryName, library);
    copyNameField(fConverterEntry, converterEntry);
    copyNameField(fDetectorEntry, detectorEntry);
}

TEncodingEntry::TEncodingEntry(const TEncodingEntry& other) : TRegistryEntry() {
    *this = other;
}

TEncodingEntry& TEncodingEntry::operator=(const TEncodingEntry& other) {
    memcpy(fDestinationName, other.fDestinationName, kNameFieldSize);
    memcpy(fSourceName, other.fSourceName, kNameFieldSize);
    memcpy(fLibraryName, other.fLibraryName, kNameFieldSize);
    memcpy(fConverterEntry, other.fConverterEntry, kNameFieldSize);
    memcpy(fDetectorEntry, other.fDetectorEntry, kNameFieldSize);
    return *this;
}

TEncodingEntry::~TEncodingEntry() = default;

const char* TEncodingEntry::getPrimaryKey() {
    return fSourceName;
}
const char* TEncodingEntry::getSecondaryKey() {
    return fDestinationName;
}
const char* TEncodingEntry::GetSourceEncodingName() {
    return fSourceName;
}
const char* TEncodingEntry::GetDestinationEncodingName() {
    return fDestinationName;
}

void TEncodingEntry::GetConverterEntry(char* library, char* entry) {
    if (library != nullptr) memcpy(library, fLibraryName, kNameFieldSize);
    if (entry != nullptr) memcpy(entry, fConverterEntry, kNameFieldSize);
}

void TEncodingEntry::GetDetectorEntry(char* library, char* entry) {
    if (library != nullptr) memcpy(library, fLibraryName, kNameFieldSize);
    if (entry != nullptr) memcpy(entry, fDetectorEntry, kNameFieldSize);
}

bool TEncodingEntry::NamesFit(const char* source, const char* destination, const char* library,
                              const char* converterEntry, const char* detectorEntry) {
    return nameFitsField(source) && nameFitsField(destination) && nameFitsField(library) &&
           nameFitsField(converterEntry) && nameFitsField(detectorEntry);
}

// A null name, or one that begins with "*", is not compared and counts as equal.
int TEncodingEntry::EncodingCompare(TEncodingEntry* entry, const char* source,
                                    const char* destination, char* bothEqual) {
    int sourceResult = 0;
    int destinationResult = 0;
    if (!isWildcardName(source))
        sourceResult = compareNamesIgnoringCase(source, entry->fSourceName);
    if (!isWildcardName(destination))
        destinationResult = compareNamesIgnoringCase(destination, entry->fDestinationName);
    if (bothEqual != nullptr) *bothEqual = (sourceResult == 0 && destinationResult == 0) ? 1 : 0;
    return sourceResult;
}

int TEncodingEntry::EncodingCompare(TEncodingEntry* first, TEncodingEntry* second,
                                    char* bothEqual) {
    const int sourceResult = compareNamesIgnoringCase(first->fSourceName, second->fSourceName);
    const int destinationResult =
        compareNamesIgnoringCase(first->fDestinationName, second->fDestinationName);
    if (bothEqual != nullptr) *bothEqual = (sourceResult == 0 && destinationResult == 0) ? 1 : 0;
    return sourceResult;
}

TAliasEntry::TAliasEntry(const char* key, const char* value) {
    copyNameField(fKey, key);
    copyNameField(fValue, value);
}

TAliasEntry::~TAliasEntry() = default;
const char* TAliasEntry::getPrimaryKey() {
    return fKey;
}
const char* TAliasEntry::getSecondaryKey() {
    return nullptr;
}

bool TAliasEntry::NamesFit(const char* key, const char* value) {
    return nameFitsField(key) && nameFitsField(value);
}
