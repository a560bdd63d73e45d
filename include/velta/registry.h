// The keyed registry table, the encoding registry and the registry lock.
#ifndef VELTA_REGISTRY_H
#define VELTA_REGISTRY_H

#include <stdint.h>
#include <atomic>
#include <mutex>

#include "velta/nls.h"

class TDLLLinker;
class TEncodingConverter;
class TAutoDetector;

enum { kNameFieldSize = NLS_NAME_BUFFER_SIZE };

// Anything a TRegistry holds: an entry with one or two keys.
class VELTA_EXPORT TRegistryEntry {
public:
    virtual ~TRegistryEntry();
    virtual const char* getPrimaryKey() = 0;
    virtual const char* getSecondaryKey() = 0;

    // 1 when the entry matches the keys by the rule of TRegistry::lookup.
    static int equals(TRegistryEntry* entry, const char* primary, const char* secondary);
};

struct NLS_RegistryEntryNode {
    NLS_RegistryEntryNode* next = nullptr;
    TRegistryEntry* entry = nullptr;
    // The entry's keys and the hash of its first key, read once when it is
    // added (keys never change while an entry is in a table), so that a
    // search compares without calling into the entry.
    const char* primaryKey = nullptr;
    const char* secondaryKey = nullptr;
    int32_t primaryHash = 0;
};

// A fixed-size hash table of entries keyed by one or two names, compared
// with the ASCII letters folded. The newest of equal keys wins a lookup.
// Insertions are serialised inside the table and publish each node whole,
// so lookups may run on other threads without a lock.
class VELTA_EXPORT TRegistry {
public:
    enum { kDefaultBucketCount = 91 };

    TRegistry();
    explicit TRegistry(int32_t bucketCount);
    // False when the table could not get memory for its buckets.
    bool IsUsable() const { return fBuckets != nullptr; }
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;
    ~TRegistry();

    // Takes ownership of the heap-allocated entry.
    void addEntry(TRegistryEntry* entry);
    TRegistryEntry* lookup(const char* primary, const char* secondary);
    uint32_t getEntryCount();

protected:
    static int32_t hash(const char* key);

private:
    friend class TRegistryEnumeration;
    int32_t bucketOf(int32_t primaryHash, int32_t secondaryHash) const;
    NLS_RegistryEntryNode* bucketHead(int32_t index) const;

    std::atomic<uint32_t> fEntryCount;
    int32_t fBucketCount;
    std::atomic<NLS_RegistryEntryNode*>* fBuckets;
    std::mutex fInsertLock;
};

// Walks a table in ascending bucket order, newest entry first in a bucket.
class VELTA_EXPORT TRegistryEnumeration {
public:
    explicit TRegistryEnumeration(TRegistry* registry);
    TRegistryEntry* next();

private:
    int32_t fBucket;
    NLS_RegistryEntryNode* fNode;
    TRegistry* fRegistry;
};

// One converter: keyed (source, destination).
class VELTA_EXPORT TEncodingEntry : public TRegistryEntry {
public:
    TEncodingEntry(const char* source, const char* destination, const char* library,
                   const char* converterEntry, const char* detectorEntry);
    TEncodingEntry(const TEncodingEntry& other);
    TEncodingEntry& operator=(const TEncodingEntry& other);
    ~TEncodingEntry() override;

    const char* getPrimaryKey() override;
    const char* getSecondaryKey() override;

    const char* GetSourceEncodingName();
    const char* GetDestinationEncodingName();
    void GetConverterEntry(char* library, char* entry);
    void GetDetectorEntry(char* library, char* entry);

    static int EncodingCompare(TEncodingEntry* entry, const char* source, const char* destination,
                               char* bothEqual);
    static int EncodingCompare(TEncodingEntry* first, TEncodingEntry* second, char* bothEqual);

    // True when every name fits its 64-byte field; longer names are refused,
    // never cut, since a cut name could alias another.
    static bool NamesFit(const char* source, const char* destination, const char* library,
                         const char* converterEntry, const char* detectorEntry);

    char fDestinationName[kNameFieldSize];
    char fSourceName[kNameFieldSize];
    char fLibraryName[kNameFieldSize];
    char fConverterEntry[kNameFieldSize];
    char fDetectorEntry[kNameFieldSize];
};

// One name mapping: alias to canonical name, or a Java name mapping.
class VELTA_EXPORT TAliasEntry : public TRegistryEntry {
public:
    TAliasEntry(const char* key, const char* value);
    ~TAliasEntry() override;
    const char* getPrimaryKey() override;
    const char* getSecondaryKey() override;

    static bool NamesFit(const char* key, const char* value);

    char fKey[kNameFieldSize];
    char fValue[kNameFieldSize];
};

struct NLS_StaticAliasEntry {
    const char* aliasName;
    const char* encodingName;
};

// Which converters exist, how to make them, and what names mean.
class VELTA_EXPORT TEncodingRegistry {
public:
    TEncodingRegistry();
    TEncodingRegistry(const TEncodingRegistry&) = delete;
    TEncodingRegistry& operator=(const TEncodingRegistry&) = delete;
    virtual ~TEncodingRegistry();

    NLS_Status Initialize(const char* dataDirectory);
    NLS_Status GetStatus();

    // The canonical name of an alias. An unknown name is answered with a
    // copy of itself that lives as long as the registry, kept in a store of
    // at most kMaxUnknownNames names (apart from the aliases, so that names
    // from untrusted sources neither grow the library without bound nor slow
    // the search for known ones); past that with the empty name.
    const char* NormalizeEncodingName(const char* name);
    // The canonical name of an alias, else the name itself; keeps nothing.
    const char* ResolveEncodingName(const char* name);
    TEncodingEntry* FindEncoding(const char* source, const char* destination);
    const char* NormalizeJavaEntity(const char* javaName);
    const char* FindJavaEntityName(const char* name);
    uint32_t AliasCount();
    uint32_t EncodingCount();

    TEncodingConverter* CreateEncodingConverter(const char* source, const char* destination);
    TEncodingConverter* CreateEncodingConverter(TEncodingEntry* entry);
    TAutoDetector* CreateEncodingDetector(const char* name);

    void RegisterStaticConverters(char* table);

    uint32_t EnumerateEncodingConverters(const char* source, const char* destination);
    // Each encoding a converter reads or writes, then its aliases (see
    // NLS_ListEncodingNames).
    void ListEncodingNames(NLS_EncodingNameVisitor visitor, void* context);
    void ListEncodingConverters(const char* source, const char* destination,
                                const char** sourceNames, const char** destinationNames,
                                uint32_t capacity, uint32_t* count);

    TRegistry* fEncodings;
    TRegistry* fAliases;
    TRegistry* fJavaToEncoding;
    TRegistry* fEncodingToJava;
    TDLLLinker* fLinker;
    char* fDataDirectory;
    std::atomic<NLS_Status> fStatus;

    static const NLS_StaticConverterEntry fStaticEntryList[];
    static const uint32_t fStaticEntryListLength;
    static const NLS_StaticAliasEntry fStaticAliasList[];
    static const uint32_t fStaticAliasListLength;

    static const char* const kStaticLibraryName;  // "@@staticconvertersINTERNAL@@"

protected:
    TAliasEntry* FindAliasItem(const char* name);
    void ApplyCompare(const char* source, const char* destination, const char** sourceNames,
                      const char** destinationNames, uint32_t capacity, uint32_t* count);
    NLS_Status ReadEncodingRegistry(const char* text, uint32_t length);
    NLS_Status ReadAliasRegistry(const char* text, uint32_t length);
    NLS_Status ReadJavaAliasRegistry(const char* text, uint32_t length);

private:
    bool BuildBuiltInTables();
    void DeleteTables();
    bool AddConverterEntry(const char* source, const char* destination, const char* library,
                           const char* converterEntry, const char* detectorEntry);
    bool AddAlias(TRegistry* table, const char* key, const char* value);

    enum { kMaxUnknownNames = 1024 };
    TRegistry* fUnknownNames;
    uint32_t CountWildcardMatches(const char* source, const char* destination);
};

// A scoped guard around the client's lock callbacks; does nothing without them.
class VELTA_EXPORT NLSMutex {
public:
    NLSMutex();
    ~NLSMutex();
    NLSMutex(const NLSMutex&) = delete;
    NLSMutex& operator=(const NLSMutex&) = delete;

    static void SetImplementation(const MutexImplementation* implementation);
    static void ReleaseImplementation();

    static MutexImplementation* fgImplementation;
};

#endif
