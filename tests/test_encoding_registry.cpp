#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "test_support.h"
#include "velta/internals.h"

namespace {

using velta_test::LibraryTest;

class EncodingRegistry : public LibraryTest {
protected:
    TEncodingRegistry registry;
};

TEST_F(EncodingRegistry, NormalisationFindsCanonicalNamesInAnyCase) {
    struct {
        const char* name;
        const char* canonical;
    } cases[] = {
        {"latin1", "ISO_8859-1:1987"},          {"LATIN1", "ISO_8859-1:1987"},
        {"us-ascii", "ISO_8859-1:1987"},        {"US-ASCII", "ISO_8859-1:1987"},
        {"iso_8859-1:1987", "ISO_8859-1:1987"}, {"utf_8", "UTF-8"},
        {"UNICODE-1-1-UTF-8", "UTF-8"},         {"utf-7", "UNICODE-1-1-UTF-7"},
        {"imap_utf_7", "IMAP-MODIFIED-UTF-7"},  {"csUnicode11", "ISO-10646-UCS-2"},
        {"X-MAC-ROMAN", "x-mac-roman"},         {nullptr, ""},
    };
    for (const auto& c : cases) EXPECT_STREQ(registry.NormalizeEncodingName(c.name), c.canonical);
}

TEST_F(EncodingRegistry, AnUnknownNameIsAnsweredWithAKeptCopyNotAnAlias) {
    const uint32_t before = registry.AliasCount();
    const std::string name = "x-Unheard-Of";
    const char* first = registry.NormalizeEncodingName(name.c_str());
    EXPECT_STREQ(first, "x-Unheard-Of");
    EXPECT_NE(first, name.c_str());
    EXPECT_EQ(registry.NormalizeEncodingName("X-UNHEARD-OF"), first);
    EXPECT_EQ(registry.AliasCount(), before);
}

TEST_F(EncodingRegistry, NamesTooLongForAFieldAreRefusedNotCut) {
    const std::string name63(63, 'n');
    const std::string name64(64, 'n');
    const uint32_t before = registry.AliasCount();
    EXPECT_STREQ(registry.NormalizeEncodingName(name63.c_str()), name63.c_str());
    EXPECT_STREQ(registry.NormalizeEncodingName(name64.c_str()), "");
    EXPECT_STREQ(registry.NormalizeEncodingName(std::string(10000, 'x').c_str()), "");
    EXPECT_EQ(registry.AliasCount(), before);
    // A name whose first 63 bytes are a known alias must not alias it.
    const std::string longLatin = "latin1" + std::string(70, ' ');
    EXPECT_STREQ(registry.NormalizeEncodingName(longLatin.c_str()), "");
}

TEST_F(EncodingRegistry, FindsConvertersByAnyAlias) {
    EXPECT_NE(registry.FindEncoding("UTF_8", "ISO-10646-UCS-2"), nullptr);
    EXPECT_NE(registry.FindEncoding("utf_8", "iso-10646-ucs-2"), nullptr);
    EXPECT_EQ(registry.FindEncoding("UTF-8", "x-mac-roman"), nullptr);
}

TEST_F(EncodingRegistry, CreatesBuiltInConvertersAndReportsMissingPairs) {
    TEncodingConverter* latin1 = registry.CreateEncodingConverter("latin1", "ISO-10646-UCS-2");
    ASSERT_NE(latin1, nullptr);
    EXPECT_EQ(latin1->GetStatus(), NLS_SUCCESS);
    latin1->ReleaseEncodingConverter();
    EXPECT_EQ(registry.CreateEncodingConverter("UTF-8", "x-mac-roman"), nullptr);
    EXPECT_EQ(registry.GetStatus(), NLS_CONVERTER_NOT_FOUND);
}

TEST_F(EncodingRegistry, JavaNamesAreUnknownWithoutJavareg) {
    EXPECT_EQ(registry.NormalizeJavaEntity("UTF8"), nullptr);
    EXPECT_EQ(registry.FindJavaEntityName("UTF-8"), nullptr);
}

TEST_F(EncodingRegistry, BuiltInEncodingsHaveNoDetector) {
    EXPECT_EQ(registry.CreateEncodingDetector("latin1"), nullptr);
    EXPECT_EQ(registry.CreateEncodingDetector("UTF-8"), nullptr);
}

TEncodingConverter* clientFactory() {
    return NEWUTF8TOUNICODEENCODINGCONVERTER();
}

TEST_F(EncodingRegistry, ClientTablesJoinTheRegistryAndOverride) {
    const std::string tooLong(64, 'y');
    NLS_StaticConverterEntry table[] = {
        {"x-client", "ISO-10646-UCS-2", "NewClientConverter", NLS_AsEntryPoint(&clientFactory)},
        {"ISO_8859-1:1987", "ISO-10646-UCS-2", "NewClientConverter",
         NLS_AsEntryPoint(&clientFactory)},
        {tooLong.c_str(), "ISO-10646-UCS-2", "NewClientConverter",
         NLS_AsEntryPoint(&clientFactory)},
        {nullptr, nullptr, nullptr, nullptr},
    };
    const uint32_t before = registry.EncodingCount();
    registry.RegisterStaticConverters(reinterpret_cast<char*>(table));
    EXPECT_EQ(registry.EncodingCount(), before + 2) << "the row with a 64-byte name is refused";
    TEncodingEntry* entry = registry.FindEncoding("latin1", "ISO-10646-UCS-2");
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->fConverterEntry, "NewClientConverter");
    TEncodingConverter* converter = registry.CreateEncodingConverter("x-client", "ISO-10646-UCS-2");
    ASSERT_NE(converter, nullptr);
    converter->ReleaseEncodingConverter();
}

TEST_F(EncodingRegistry, ATableWhoseFirstRowEndsItAddsNothing) {
    const uint32_t encodings = registry.EncodingCount(), aliases = registry.AliasCount();
    NLS_StaticConverterEntry table[] = {{"a", "b", nullptr, nullptr}};
    registry.RegisterStaticConverters(reinterpret_cast<char*>(table));
    EXPECT_EQ(registry.EncodingCount(), encodings);
    EXPECT_EQ(registry.AliasCount(), aliases);
}

TEST(EncodingEntry, ComparesNamesAndWildcards) {
    TEncodingEntry entry("UTF-8", "ISO-10646-UCS-2", "lib", "Entry", "#");
    char both = 9;
    EXPECT_EQ(TEncodingEntry::EncodingCompare(&entry, "utf-8", "*", &both), 0);
    EXPECT_EQ(both, 1);
    EXPECT_EQ(TEncodingEntry::EncodingCompare(&entry, nullptr, "ISO-10646-UCS-2", &both), 0);
    EXPECT_EQ(both, 1);
    EXPECT_LT(TEncodingEntry::EncodingCompare(&entry, "utf-7", "*", &both), 0);
    EXPECT_EQ(both, 0);
    TEncodingEntry copy(entry);
    EXPECT_EQ(TEncodingEntry::EncodingCompare(&entry, &copy, &both), 0);
    EXPECT_EQ(both, 1);
    char library[64], symbol[64];
    copy.GetConverterEntry(library, symbol);
    EXPECT_STREQ(library, "lib");
    EXPECT_STREQ(symbol, "Entry");
    copy.GetDetectorEntry(library, symbol);
    EXPECT_STREQ(symbol, "#");
}

}  // namespace
