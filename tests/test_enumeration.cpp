#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"
#include "velta/internals.h"

namespace {

using velta_test::LibraryTest;

typedef std::vector<std::pair<std::string, std::string>> Pairs;

Pairs listOf(const char* from, const char* to) {
    EncondingConverterList* list = nullptr;
    EXPECT_EQ(NLS_NewEncodingConverterEnumeration(from, to, &list), NLS_SUCCESS);
    uint32_t count = 0;
    EXPECT_EQ(NLS_CountEncodingConverters(list, &count), NLS_SUCCESS);
    Pairs pairs;
    for (uint32_t i = 0; i < count; ++i) {
        char source[64], destination[64];
        EXPECT_EQ(NLS_GetEncodingConverterListItem(list, i, source, destination), NLS_SUCCESS);
        pairs.emplace_back(source, destination);
    }
    char source[64] = "x", destination[64] = "y";
    EXPECT_EQ(NLS_GetEncodingConverterListItem(list, count, source, destination),
              NLS_INVALID_PARAMETER);
    NLS_DeleteEncodingConverterEnumeration(list);
    return pairs;
}

class Enumeration : public velta_test::BuiltInLibraryTest {};

TEST_F(Enumeration, EveryBuiltInConverterIsListed) {
    const Pairs all = listOf("*", "*");
    EXPECT_EQ(all.size(), 14u);
    const std::set<std::pair<std::string, std::string>> distinct(all.begin(), all.end());
    EXPECT_EQ(distinct.size(), 14u);
    EXPECT_TRUE(distinct.count({"x-mac-roman", "ISO-10646-UCS-2"}));
    EXPECT_EQ(listOf(nullptr, nullptr).size(), 14u);
}

TEST_F(Enumeration, WildcardsListRegisteredConvertersInTableOrderAndNeverChains) {
    const Pairs toUcs2 = listOf("*", "ISO-10646-UCS-2");
    ASSERT_EQ(toUcs2.size(), 7u);
    // The walk goes by ascending bucket: hash(source) + 3 x 912, modulo 91.
    const char* const order[] = {"UNICODE-1-1-UTF-7",
                                 "ISO-10646-UCS-4",
                                 "ISO_8859-1:1987",
                                 "ESCAPED_UNICODE",
                                 "IMAP-MODIFIED-UTF-7",
                                 "x-mac-roman",
                                 "UTF-8"};
    for (size_t i = 0; i < toUcs2.size(); ++i) {
        EXPECT_EQ(toUcs2[i].first, order[i]);
        EXPECT_EQ(toUcs2[i].second, "ISO-10646-UCS-2");
    }
    const Pairs intoUtf8 = listOf(nullptr, "UTF-8");
    ASSERT_EQ(intoUtf8.size(), 1u);
    EXPECT_EQ(intoUtf8[0], std::make_pair(std::string("ISO-10646-UCS-2"), std::string("UTF-8")));
    EXPECT_EQ(listOf("*", "utf_8"), intoUtf8) << "the list makes its names canonical first";
}

TEST_F(Enumeration, ExactPairsListTheDirectConverterOrElseTheChain) {
    EXPECT_EQ(listOf("ISO_8859-1:1987", "x-mac-roman"),
              (Pairs{{"ISO_8859-1:1987", "x-mac-roman"}}));
    EXPECT_EQ(listOf("latin1", "X-MAC-ROMAN"), (Pairs{{"ISO_8859-1:1987", "x-mac-roman"}}));
    EXPECT_EQ(listOf("UTF-8", "ISO-10646-UCS-2"), (Pairs{{"UTF-8", "ISO-10646-UCS-2"}}));
    EXPECT_EQ(listOf("UTF-8", "x-unknown"), Pairs{});
}

TEST_F(Enumeration, ConvertersAddedLaterAreListed) {
    NLS_StaticConverterEntry table[] = {
        {"x-client", NLS_UCS2_NAME, "NewUTF8ToUnicodeEncodingConverter",
         NLS_AsEntryPoint(&NEWUTF8TOUNICODEENCODINGCONVERTER)},
        {nullptr, nullptr, nullptr, nullptr}};
    EncondingConverterList* before = nullptr;
    NLS_NewEncodingConverterEnumeration("*", "*", &before);
    NLS_RegisterStaticLibrary(table);
    uint32_t count = 0;
    NLS_CountEncodingConverters(before, &count);
    EXPECT_EQ(count, 14u) << "a list is a snapshot";
    NLS_DeleteEncodingConverterEnumeration(before);
    EXPECT_EQ(listOf("*", "*").size(), 15u);
    EXPECT_EQ(listOf("x-client", "*").size(), 1u);
    EXPECT_EQ(listOf("x-client", "latin1"), (Pairs{{"x-client", "ISO_8859-1:1987"}}));
}

TEST_F(Enumeration, FileEntriesAndDuplicatesAreListed) {
    velta_test::TemporaryDirectory dir;
    dir.writeDataFile("encreg.txt", "UTF-8 ISO-10646-UCS-2 lib override #\nx-file UTF-8 lib f #\n");
    NLS_EncInitialize(nullptr, dir.path().c_str());
    EXPECT_EQ(listOf("*", "*").size(), 16u) << "the overridden built-in entry is still listed";
    EXPECT_EQ(listOf("UTF-8", "*").size(), 2u);
}

TEST_F(Enumeration, ExistenceCountsDirectConvertersChainsAndPatterns) {
    struct {
        const char* from;
        const char* to;
        char exists;
    } cases[] = {
        {"UTF-8", "ISO-10646-UCS-2", 1},
        {"UTF-8", "x-mac-roman", 1},
        {"UTF-8", "UTF-8", 1},
        {"ISO-10646-UCS-2", "ISO-10646-UCS-2", 0},
        {"UTF-8", "x-unregistered", 0},
        {"*", "UTF-8", 1},
        {"UTF-8", "*", 1},
        {"*", "*", 1},
        {"x-unregistered", "*", 0},
        {nullptr, "UTF-8", 0},
        {"latin1", "utf_8", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NLS_EncodingConverterExists(c.from, c.to), c.exists)
            << (c.from ? c.from : "null") << " -> " << c.to;
}

TEST(EncodingQuery, CapacityLimitsWhatIsStored) {
    TEncodingRegistry registry;
    const char* sources[20];
    const char* destinations[20];
    uint32_t count = 0;
    registry.ListEncodingConverters("*", "*", sources, destinations, registry.EncodingCount(),
                                    &count);
    EXPECT_EQ(count, 13u) << "at most capacity - 1 pairs are stored";
    count = 0;
    registry.ListEncodingConverters("UTF-8", "ISO-10646-UCS-2", nullptr, nullptr, 0, &count);
    EXPECT_EQ(count, 1u) << "an exact match counts without arrays";
    EXPECT_EQ(registry.EnumerateEncodingConverters("UTF-8", "x-mac-roman"), 1u);
    EXPECT_EQ(registry.EnumerateEncodingConverters("*", "ISO-10646-UCS-2"), 7u);
    count = 0;
    registry.ListEncodingConverters("*", "utf_8", sources, destinations, 20, &count);
    EXPECT_EQ(count, 0u) << "the wildcard query itself compares without aliases";
    NLS_EncTerminate();
}

}  // namespace
