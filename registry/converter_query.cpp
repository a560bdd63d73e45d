// Which converter entries match a pair of names, and whether a conversion is
// possible at all, directly or through UCS-2.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "registry/name_compare.h"
#include "velta/registry.h"

using velta::isWildcardName;
using velta::namesEqual;

void TEncodingRegistry::ApplyCompare(const char* source, const char* destination,
                                     const char** sourceNames, const char** destinationNames,
                                     uint32_t capacity, uint32_t* count) {
    if (fEncodings == nullptr || count == nullptr || source == nullptr || destination == nullptr)
        return;
    const bool arrays = sourceNames != nullptr && destinationNames != nullptr;
    if (!isWildcardName(source) && !isWildcardName(destination)) {
        TEncodingEntry* entry = FindEncoding(source, destination);
        if (entry == nullptr) return;
        if (arrays && *count + 1 < capacity) {
            sourceNames[*count] = entry->fSourceName;
            destinationNames[*count] = entry->fDestinationName;
        }
        ++*count;
        return;
    }
    TRegistryEnumeration walk(fEncodings);
    while (TRegistryEntry* item = walk.next()) {
        TEncodingEntry* entry = static_cast<TEncodingEntry*>(item);
        const bool sourceMatches = isWildcardName(source) || namesEqual(entry->fSourceName, source);
        const bool destinationMatches =
            isWildcardName(destination) || namesEqual(entry->fDestinationName, destination);
        if (!sourceMatches || !destinationMatches) continue;
        if (arrays && *count + 1 < capacity) {
            sourceNames[*count] = entry->fSourceName;
            destinationNames[*count] = entry->fDestinationName;
            ++*count;
        }
    }
}

void TEncodingRegistry::ListEncodingConverters(const char* source, const char* destination,
                                               const char** sourceNames,
                                               const char** destinationNames, uint32_t capacity,
                                               uint32_t* count) {
    ApplyCompare(source, destination, sourceNames, destinationNames, capacity, count);
}

uint32_t TEncodingRegistry::CountWildcardMatches(const char* source, const char* destination) {
    uint32_t matches = 0;
    TRegistryEnumeration walk(fEncodings);
    while (TRegistryEntry* item = walk.next()) {
        TEncodingEntry* entry = static_cast<TEncodingEntry*>(item);
        if ((isWildcardName(source) || namesEqual(entry->fSourceName, source)) &&
            (isWildcardName(destination) || namesEqual(entry->fDestinationName, destination)))
            ++matches;
    }
    return matches;
}

// A wildcard pattern counts the registered converters that match it; an exact
// pair counts its direct converter, or else the chain through UCS-2.
uint32_t TEncodingRegistry::EnumerateEncodingConverters(const char* source,
                                                        const char* destination) {
    if (fEncodings == nullptr || source == nullptr || destination == nullptr) return 0;
    if (isWildcardName(source) || isWildcardName(destination))
        return CountWildcardMatches(source, destination);
    uint32_t count = 0;
    ApplyCompare(source, destination, nullptr, nullptr, 0, &count);
    if (count != 0) return count;
    if (FindEncoding(source, NLS_UCS2_NAME) == nullptr) return 0;
    return FindEncoding(NLS_UCS2_NAME, destination) != nullptr ? 1 : 0;
}

void TEncodingRegistry::ListEncodingNames(NLS_EncodingNameVisitor visitor, void* context) {
    if (visitor == nullptr || fEncodings == nullptr || fAliases == nullptr) return;
    struct Encoding {
        const char* name;
        std::vector<const char*> aliases;
    };
    std::map<std::string, Encoding> encodings;  // by the name folded to lower case
    auto folded = [](const char* name) {
        std::string key(name);
        for (char& c : key)
            c = static_cast<char>(velta::foldAsciiLower(static_cast<unsigned char>(c)));
        return key;
    };
    TRegistryEnumeration entries(fEncodings);
    while (TRegistryEntry* item = entries.next()) {
        TEncodingEntry* entry = static_cast<TEncodingEntry*>(item);
        for (const char* name : {entry->fSourceName, entry->fDestinationName})
            encodings.emplace(folded(name), Encoding{name, {}});
    }
    TRegistryEnumeration aliases(fAliases);
    while (TRegistryEntry* item = aliases.next()) {
        TAliasEntry* alias = static_cast<TAliasEntry*>(item);
        auto found = encodings.find(folded(alias->fValue));
        if (found == encodings.end() || namesEqual(alias->fKey, found->second.name)) continue;
        std::vector<const char*>& names = found->second.aliases;
        bool seen = false;
        for (const char* name : names) seen = seen || namesEqual(name, alias->fKey);
        if (!seen) names.push_back(alias->fKey);
    }
    for (auto& encoding : encodings) {
        std::vector<const char*>& names = encoding.second.aliases;
        std::sort(names.begin(), names.end(), [](const char* a, const char* b) {
            return velta::compareNamesIgnoringCase(a, b) < 0;
        });
        visitor(encoding.second.name, nullptr, context);
        for (const char* alias : names) visitor(encoding.second.name, alias, context);
    }
}
