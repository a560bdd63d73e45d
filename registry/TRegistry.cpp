#include "velta/registry.h"

#include <string.h>

#include <new>

#include "registry/name_compare.h"

namespace velta {

bool nameFitsField(const char* name) {
    return name != nullptr && memchr(name, 0, kNameFieldSize) != nullptr;
}

bool copyNameField(char* field, const char* name) {
    if (!nameFitsField(name)) {
        field[0] = '\0';
        return false;
    }
    strcpy(field, name);
    return true;
}

}  // namespace velta

using velta::foldAsciiLower;
using velta::namesEqual;

TRegistryEntry::~TRegistryEntry() = default;

int TRegistryEntry::equals(TRegistryEntry* entry, const char* primary, const char* secondary) {
    if (entry == nullptr || primary == nullptr) return 0;
    const char* entryPrimary = entry->getPrimaryKey();
    if (entryPrimary == nullptr || !namesEqual(entryPrimary, primary)) return 0;
    if (secondary == nullptr) return 1;
    const char* entrySecondary = entry->getSecondaryKey();
    return entrySecondary != nullptr && namesEqual(entrySecondary, secondary) ? 1 : 0;
}

TRegistry::TRegistry() : TRegistry(kDefaultBucketCount) {}

TRegistry::TRegistry(int32_t bucketCount)
    : fEntryCount(0), fBucketCount(bucketCount < 1 ? 1 : bucketCount), fBuckets(nullptr) {
    // Without memory for its buckets the table holds nothing (IsUsable()).
    fBuckets =
        new (std::nothrow) std::atomic<NLS_RegistryEntryNode*>[static_cast<size_t>(fBucketCount)];
    if (fBuckets == nullptr) fBucketCount = 0;
    for (int32_t i = 0; i < fBucketCount; ++i)
        fBuckets[i].store(nullptr, std::memory_order_relaxed);
}

TRegistry::~TRegistry() {
    for (int32_t i = 0; i < fBucketCount; ++i) {
        NLS_RegistryEntryNode* node = fBuckets[i].load(std::memory_order_relaxed);
        while (node != nullptr) {
            NLS_RegistryEntryNode* next = node->next;
            delete node->entry;
            delete node;
            node = next;
        }
    }
    delete[] fBuckets;
}

// Sum of the key's bytes as signed 8-bit values, 'a'..'z' counted upper case.
// The sum wraps in 32 bits for keys long enough to overflow it.
int32_t TRegistry::hash(const char* key) {
    if (key == nullptr) return 0;
    uint32_t sum = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p != 0; ++p) {
        unsigned char c = *p;
        if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 0x20);
        sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    }
    return static_cast<int32_t>(sum);
}

// hash(p) + 3 * hash(s), reduced into 0..fBucketCount-1. For non-negative
// sums this is the remainder of the division; negative sums (keys with bytes
// 0x80..0xFF) are brought into range the same way for insertion and search.
int32_t TRegistry::bucketOf(int32_t primaryHash, int32_t secondaryHash) const {
    const int64_t combined =
        static_cast<int64_t>(primaryHash) + 3 * static_cast<int64_t>(secondaryHash);
    int64_t index = combined % fBucketCount;
    if (index < 0) index += fBucketCount;
    return static_cast<int32_t>(index);
}

NLS_RegistryEntryNode* TRegistry::bucketHead(int32_t index) const {
    if (index < 0 || index >= fBucketCount) return nullptr;
    return fBuckets[index].load(std::memory_order_acquire);
}

void TRegistry::addEntry(TRegistryEntry* entry) {
    if (entry == nullptr || entry->getPrimaryKey() == nullptr || fBuckets == nullptr) {
        delete entry;
        return;
    }
    NLS_RegistryEntryNode* node = new (std::nothrow) NLS_RegistryEntryNode;
    if (node == nullptr) {
        delete entry;
        return;
    }
    node->entry = entry;
    node->primaryKey = entry->getPrimaryKey();
    node->secondaryKey = entry->getSecondaryKey();
    node->primaryHash = hash(node->primaryKey);
    const int32_t index = bucketOf(node->primaryHash, hash(node->secondaryKey));
    std::lock_guard<std::mutex> guard(fInsertLock);
    node->next = fBuckets[index].load(std::memory_order_relaxed);
    fBuckets[index].store(node, std::memory_order_release);
    fEntryCount.fetch_add(1, std::memory_order_release);
}

// The rule of equals, on the keys the node keeps; entries whose first key
// hashes differently cannot match and are passed over at once.
TRegistryEntry* TRegistry::lookup(const char* primary, const char* secondary) {
    if (primary == nullptr || fBuckets == nullptr) return nullptr;
    const int32_t primaryHash = hash(primary);
    for (NLS_RegistryEntryNode* node = bucketHead(bucketOf(primaryHash, hash(secondary)));
         node != nullptr; node = node->next) {
        if (node->primaryHash != primaryHash || !namesEqual(node->primaryKey, primary)) continue;
        if (secondary == nullptr) return node->entry;
        if (node->secondaryKey != nullptr && namesEqual(node->secondaryKey, secondary))
            return node->entry;
    }
    return nullptr;
}

uint32_t TRegistry::getEntryCount() {
    return fEntryCount.load(std::memory_order_acquire);
}

TRegistryEnumeration::TRegistryEnumeration(TRegistry* registry)
    : fBucket(0), fNode(nullptr), fRegistry(registry) {}

TRegistryEntry* TRegistryEnumeration::next() {
    if (fRegistry == nullptr) return nullptr;
    if (fNode != nullptr && fNode->next != nullptr) {
        fNode = fNode->next;
        return fNode->entry;
    }
    if (fNode != nullptr) {
        ++fBucket;
        fNode = nullptr;
    }
    while (fBucket < fRegistry->fBucketCount && fRegistry->bucketHead(fBucket) == nullptr)
        ++fBucket;
    if (fBucket >= fRegistry->fBucketCount) return nullptr;
    fNode = fRegistry->bucketHead(fBucket);
    return fNode->entry;
}
