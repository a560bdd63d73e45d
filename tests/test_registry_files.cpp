#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "test_support.h"
#include "velta/internals.h"

namespace {

using namespace velta_test;

const char kPluginRecord[] = "X-TEST-UPPER ISO-10646-UCS-2 testconv NEWTESTUPPERTOUNICODE #\n";

class RegistryFiles : public LibraryTest {
protected:
    void initialize() { ASSERT_EQ(NLS_EncInitialize(nullptr, dir.path().c_str()), NLS_SUCCESS); }
    TEncodingRegistry* registry() { return EncodingConverter::getEncodingRegistry(); }
    std::string normalized(const char* name) { return NLS_GetNormalizedEncodingName(name); }
    std::string upperOf(const char* from, const std::string& text) {
        return std::string(
            convertAsciiUnits(convertOneShot(from, "ISO-10646-UCS-2", bytes(text)).output));
    }
    static std::string convertAsciiUnits(const Bytes& units) {
        std::string text;
        for (size_t i = 0; i + 1 < units.size(); i += 2) text += static_cast<char>(units[i]);
        return text;
    }
    TemporaryDirectory dir;
};

TEST_F(RegistryFiles, WithoutFilesOnlyTheBuiltInContentIsThere) {
    initialize();
    EXPECT_EQ(registry()->GetStatus(), NLS_SUCCESS);
    EXPECT_EQ(registry()->EncodingCount(), 14u);
    EXPECT_EQ(registry()->AliasCount(), 65u);
    EXPECT_EQ(NLS_GetEncodingNameFromJava("UTF8"), nullptr);
}

TEST_F(RegistryFiles, EachFileIsReadEvenWhenAnEarlierOneIsMissing) {
    dir.writeDataFile("aliasreg.txt", "my-latin ISO_8859-1:1987\n");
    dir.writeDataFile("javareg.txt", "ISO8859_1 ISO_8859-1:1987\n");
    initialize();
    EXPECT_EQ(normalized("MY-LATIN"), "ISO_8859-1:1987");
    ASSERT_NE(NLS_GetEncodingNameFromJava("iso8859_1"), nullptr);
    EXPECT_STREQ(NLS_GetEncodingNameFromJava("iso8859_1"), "ISO_8859-1:1987");
    EXPECT_STREQ(NLS_GetJavaEncodingName("iso_8859-1:1987"), "ISO8859_1");
}

TEST_F(RegistryFiles, RecordsIgnoreLineEndsAndCommentsStartWhereARecordWould) {
    dir.writeDataFile("encreg.txt",
                      "// converters of the test library\n"
                      "/* another comment */ X-A ISO-10646-UCS-2 lib a #\n"
                      "X-B\nISO-10646-UCS-2\n  lib\tb\n#\n"
                      "X-C ISO-10646-UCS-2 lib c # X-D ISO-10646-UCS-2 lib d #\r\n"
                      "X-E ISO-10646-UCS-2 lib /e #\n");
    dir.writeDataFile("aliasreg.txt", "");
    dir.writeDataFile("javareg.txt", "// only a comment, no line feed");
    initialize();
    EXPECT_EQ(registry()->EncodingCount(), 14u + 4u);
    EXPECT_EQ(registry()->AliasCount(), 65u + 4u);
    EXPECT_EQ(registry()->FindEncoding("X-A", "ISO-10646-UCS-2"), nullptr)
        << "X-A stands in a comment";
    for (const char* name : {"X-B", "X-C", "X-D", "X-E"})
        EXPECT_NE(registry()->FindEncoding(name, "ISO-10646-UCS-2"), nullptr) << name;
    EXPECT_STREQ(registry()->FindEncoding("X-E", "ISO-10646-UCS-2")->fConverterEntry, "/e");
    EXPECT_STREQ(registry()->FindEncoding("X-D", "ISO-10646-UCS-2")->fDetectorEntry, "#");
}

TEST_F(RegistryFiles, AOneByteFirstFieldIsAFieldOfItsOwn) {
    dir.writeDataFile("aliasreg.txt", "a ISO_8859-1:1987\nb UTF-8\n");
    initialize();
    EXPECT_EQ(normalized("a"), "ISO_8859-1:1987");
    EXPECT_EQ(normalized("B"), "UTF-8");
}

TEST_F(RegistryFiles, ARecordWithAnOverlongFieldIsRefusedAndReadingGoesOn) {
    const std::string longName(64, 'L');
    dir.writeDataFile("aliasreg.txt", longName + " UTF-8\nshort-name UTF-8\nx " +
                                          std::string(200, 'v') + "\nlast UTF-8\n");
    initialize();
    EXPECT_EQ(normalized("short-name"), "UTF-8");
    EXPECT_EQ(normalized("last"), "UTF-8");
    EXPECT_EQ(normalized(longName.substr(0, 63).c_str()), longName.substr(0, 63))
        << "no cut name is registered";
    EXPECT_EQ(normalized("x"), "x");
}

TEST_F(RegistryFiles, ARecordCutShortByTheEndOfTheFileIsDropped) {
    dir.writeDataFile("encreg.txt", "X-FULL ISO-10646-UCS-2 lib full #\nX-CUT ISO-10646-UCS-2 lib");
    initialize();
    EXPECT_EQ(registry()->EncodingCount(), 15u);
    EXPECT_EQ(registry()->FindEncoding("X-CUT", "ISO-10646-UCS-2"), nullptr);
}

TEST_F(RegistryFiles, FileRecordsOverrideBuiltInOnes) {
    dir.installPlugin();
    dir.writeDataFile("encreg.txt", "UTF-8 ISO-10646-UCS-2 testconv NEWTESTUPPERTOUNICODE #\n");
    dir.writeDataFile("aliasreg.txt", "latin1 UTF-8\n");
    initialize();
    EXPECT_EQ(normalized("latin1"), "UTF-8");
    EXPECT_EQ(upperOf("utf-8", "abc"), "ABC") << "the file's converter replaces the built-in one";
}

TEST_F(RegistryFiles, JavaNamesMapBothWaysInAnyLetterCase) {
    dir.writeDataFile("javareg.txt", "UTF8 UTF-8\nMacRoman x-mac-roman\n");
    initialize();
    EXPECT_STREQ(NLS_GetEncodingNameFromJava("utf8"), "UTF-8");
    EXPECT_STREQ(NLS_GetEncodingNameFromJava("MACROMAN"), "x-mac-roman");
    EXPECT_STREQ(NLS_GetJavaEncodingName("X-MAC-ROMAN"), "MacRoman");
    EXPECT_EQ(NLS_GetJavaEncodingName("latin1"), nullptr)
        << "Java names are not looked up through aliases";
}

TEST_F(RegistryFiles, AFileThatCannotBeReadAddsNothingAndTheOthersAreRead) {
    ASSERT_TRUE(std::filesystem::create_directory(dir.dataPath() + "encreg.txt"));
    dir.writeDataFile("aliasreg.txt", "readable UTF-8\n");
    initialize();
    EXPECT_EQ(registry()->EncodingCount(), 14u);
    EXPECT_EQ(normalized("readable"), "UTF-8");
}

class ConverterLibraryFromFiles : public RegistryFiles {
protected:
    void SetUp() override {
        dir.installPlugin();
        logPath = dir.path() + "/plugin.log";
        velta_test::setEnvironment("VELTA_TEST_PLUGIN_LOG", logPath.c_str());
        dir.writeDataFile("encreg.txt",
                          std::string("// the tests' converter library\n") + kPluginRecord);
    }
    void TearDown() override {
        velta_test::unsetEnvironment("VELTA_TEST_PLUGIN_LOG");
        velta_test::unsetEnvironment("ZP_NLS_DATADIRECTORY");
        RegistryFiles::TearDown();
    }
    int unloads() {
        std::ifstream in(logPath);
        std::string line;
        int count = 0;
        while (std::getline(in, line)) count += line == "unload";
        return count;
    }
    void convertListAndTerminate() {
        EXPECT_EQ(upperOf("x-test-upper", "mixed Case"), "MIXED CASE");
        EXPECT_EQ(NLS_EncodingConverterExists("X-TEST-UPPER", "UTF-8"), 1);
        EncondingConverterList* list = nullptr;
        ASSERT_EQ(NLS_NewEncodingConverterEnumeration("X-TEST-UPPER", "*", &list), NLS_SUCCESS);
        uint32_t count = 0;
        NLS_CountEncodingConverters(list, &count);
        ASSERT_EQ(count, 1u);
        char from[64], to[64];
        EXPECT_EQ(NLS_GetEncodingConverterListItem(list, 0, from, to), NLS_SUCCESS);
        EXPECT_STREQ(from, "X-TEST-UPPER");
        EXPECT_STREQ(to, "ISO-10646-UCS-2");
        NLS_DeleteEncodingConverterEnumeration(list);
        EXPECT_EQ(unloads(), 0);
        NLS_EncTerminate();
        EXPECT_EQ(unloads(), 1);
    }
    std::string logPath;
};

TEST_F(ConverterLibraryFromFiles, ThroughTheInitializeArgument) {
    initialize();
    convertListAndTerminate();
}

TEST_F(ConverterLibraryFromFiles, ThroughTheEnvironment) {
    velta_test::setEnvironment("ZP_NLS_DATADIRECTORY", dir.path().c_str());
    convertListAndTerminate();
}

TEST_F(ConverterLibraryFromFiles, ThroughAChainToUtf8) {
    initialize();
    EXPECT_EQ(convertOneShot("X-TEST-UPPER", "UTF-8", bytes("chain")).output, bytes("CHAIN"));
}

}  // namespace

namespace {

// What the README's section on encodings writes in backquotes: all of it,
// and the names in the first column of its tables.
struct ReadmeNames {
    std::set<std::string> all;
    std::set<std::string> inFirstColumns;
};

ReadmeNames readmeEncodingNames() {
    std::ifstream file(std::string(VELTA_SOURCE_DIR) + "/README.md");
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    const size_t begin = text.find("## Encodings and names");
    const size_t end = text.find("\n## ", begin + 1);
    ReadmeNames names;
    for (size_t open = text.find('`', begin); open < end; open = text.find('`', open + 1)) {
        const size_t close = text.find('`', open + 1);
        const size_t line = text.rfind('\n', open) + 1;
        const bool firstColumn =
            text.compare(line, 2, "| ") == 0 && text.find('|', line + 1) > close;
        const std::string name = text.substr(open + 1, close - open - 1);
        names.all.insert(name);
        if (firstColumn) names.inFirstColumns.insert(name);
        open = close;
    }
    return names;
}

struct Listed {
    std::set<std::string> canonical;
    std::set<std::pair<std::string, std::string>> aliases;  // alias, canonical
};

void collect(const char* encoding, const char* alias, void* context) {
    Listed& listed = *static_cast<Listed*>(context);
    if (alias == nullptr)
        listed.canonical.insert(encoding);
    else
        listed.aliases.emplace(alias, encoding);
}

// The README cannot drift from the shipped registry: it names every encoding
// (by its canonical name or an alias), and every name it writes in its
// tables resolves.
TEST_F(RegistryFiles, TheReadmeNamesEveryEncodingOfTheShippedRegistry) {
    dir.installShippedData();
    initialize();
    Listed listed;
    ASSERT_EQ(NLS_ListEncodingNames(&collect, &listed), NLS_SUCCESS);
    const ReadmeNames names = readmeEncodingNames();
    const std::set<std::string>& readme = names.all;
    for (const std::string& name : names.inFirstColumns)
        EXPECT_TRUE(listed.canonical.count(NLS_GetNormalizedEncodingName(name.c_str())))
            << name << " names no encoding";
    std::set<std::string> named;
    for (const std::string& name : readme)
        if (listed.canonical.count(name)) named.insert(name);
    for (const auto& alias : listed.aliases)
        if (readme.count(alias.first)) named.insert(alias.second);
    for (const std::string& encoding : listed.canonical)
        EXPECT_TRUE(named.count(encoding)) << encoding << " is not in the README";
    EXPECT_GT(listed.canonical.size(), 200u);
}

}  // namespace
