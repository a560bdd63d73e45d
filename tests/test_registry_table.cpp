#include <gtest/gtest.h>

#include <string>

#include "velta/internals.h"
#include "velta/registry.h"

namespace {

class ExposedRegistry : public TRegistry {
public:
    using TRegistry::hash;
    using TRegistry::TRegistry;
};

int gLiveEntries = 0;

// An entry with one or two keys that counts its own lifetime.
class KeyedEntry : public TRegistryEntry {
public:
    KeyedEntry(std::string primary, const char* secondary, int tag)
        : fPrimary(std::move(primary)),
          fHasSecondary(secondary != nullptr),
          fSecondary(secondary ? secondary : ""),
          fTag(tag) {
        ++gLiveEntries;
    }
    ~KeyedEntry() override { --gLiveEntries; }
    const char* getPrimaryKey() override { return fPrimary.c_str(); }
    const char* getSecondaryKey() override { return fHasSecondary ? fSecondary.c_str() : nullptr; }
    int tag() const { return fTag; }

private:
    std::string fPrimary;
    bool fHasSecondary;
    std::string fSecondary;
    int fTag;
};

int tagOf(TRegistryEntry* entry) {
    return entry ? static_cast<KeyedEntry*>(entry)->tag() : -1;
}

TEST(RegistryTable, NewestOfEqualKeysWinsAndBothStay) {
    const int before = gLiveEntries;
    {
        TRegistry table;
        table.addEntry(new KeyedEntry("Latin1", nullptr, 1));
        table.addEntry(new KeyedEntry("LATIN1", nullptr, 2));
        EXPECT_EQ(tagOf(table.lookup("latin1", nullptr)), 2);
        EXPECT_EQ(tagOf(table.lookup("Latin1", nullptr)), 2);
        EXPECT_EQ(table.getEntryCount(), 2u);
        TRegistryEnumeration walk(&table);
        EXPECT_EQ(tagOf(walk.next()), 2);
        EXPECT_EQ(tagOf(walk.next()), 1);
        EXPECT_EQ(walk.next(), nullptr);
    }
    EXPECT_EQ(gLiveEntries, before) << "destroying the table deletes every entry, duplicates too";
}

TEST(RegistryTable, AnagramsShareABucketAndAreToldApart) {
    TRegistry table;
    table.addEntry(new KeyedEntry("ab", nullptr, 1));
    table.addEntry(new KeyedEntry("ba", nullptr, 2));
    EXPECT_EQ(tagOf(table.lookup("AB", nullptr)), 1);
    EXPECT_EQ(tagOf(table.lookup("ba", nullptr)), 2);
    EXPECT_EQ(table.lookup("aab", nullptr), nullptr);
}

TEST(RegistryTable, OnlyAsciiLettersFold) {
    TRegistry table;
    table.addEntry(new KeyedEntry("a-b\xC9", nullptr, 1));
    EXPECT_EQ(tagOf(table.lookup("A-B\xC9", nullptr)), 1);
    EXPECT_EQ(table.lookup("a_b\xC9", nullptr), nullptr) << "hyphen and underscore differ";
    EXPECT_EQ(table.lookup("a-b\xE9", nullptr), nullptr) << "bytes above 0x7F are not folded";
}

TEST(RegistryTable, KeysWithHighBytesStayInsideTheBucketArray) {
    // Sums of negative bytes must still select a bucket, the same one for
    // insertion and search, in tables of every size.
    for (int32_t buckets : {1, 7, 91, 1000}) {
        TRegistry table(buckets);
        const std::string keys[] = {"\xFF\xFF\xFF", "\x80", "\xC3\xA9t\xC3\xA9", "\xFF", "a\xFF"};
        int tag = 0;
        for (const std::string& key : keys) table.addEntry(new KeyedEntry(key, "\xFE\xFE", tag++));
        tag = 0;
        for (const std::string& key : keys)
            EXPECT_EQ(tagOf(table.lookup(key.c_str(), "\xFE\xFE")), tag++);
        int walked = 0;
        TRegistryEnumeration walk(&table);
        while (walk.next() != nullptr) ++walked;
        EXPECT_EQ(walked, 5);
    }
}

TEST(RegistryTable, SecondaryKeyIsComparedOnlyWhenGiven) {
    TRegistry table;
    table.addEntry(new KeyedEntry("UTF-8", "ISO-10646-UCS-2", 1));
    table.addEntry(new KeyedEntry("UTF-8", "UTF-7", 2));
    EXPECT_EQ(tagOf(table.lookup("utf-8", "iso-10646-ucs-2")), 1);
    EXPECT_EQ(tagOf(table.lookup("UTF-8", "utf-7")), 2);
    EXPECT_EQ(table.lookup("UTF-8", "UTF-16"), nullptr);
    EXPECT_EQ(table.lookup(nullptr, nullptr), nullptr);
    TRegistry oneKey;
    oneKey.addEntry(new KeyedEntry("x", nullptr, 3));
    EXPECT_EQ(oneKey.lookup("x", "y"), nullptr)
        << "an entry without secondary key never matches one";
}

TEST(RegistryTable, EmptyTable) {
    TRegistry table;
    EXPECT_EQ(table.lookup("UTF-8", nullptr), nullptr);
    EXPECT_EQ(table.getEntryCount(), 0u);
    TRegistryEnumeration walk(&table);
    EXPECT_EQ(walk.next(), nullptr);
    EXPECT_EQ(walk.next(), nullptr);
}

TEST(RegistryTable, InsertionAheadOfAnEnumerationIsSeenLater) {
    TRegistry table;
    table.addEntry(new KeyedEntry("ISO-10646-UCS-2", "UTF-8", 21));
    TRegistryEnumeration walk(&table);
    EXPECT_EQ(tagOf(walk.next()), 21);
    table.addEntry(new KeyedEntry("UTF-8", "ISO-10646-UCS-2", 73));
    EXPECT_EQ(tagOf(walk.next()), 73);
    EXPECT_EQ(walk.next(), nullptr);
}

}  // namespace
