#include <gtest/gtest.h>
#include <stdlib.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <fstream>
#include <string>

#include "test_support.h"
#include "velta/internals.h"

namespace {

using velta_test::TemporaryDirectory;

char kPseudoLibrary[] = "@@staticconvertersINTERNAL@@";

class Linker : public ::testing::Test {
protected:
    void SetUp() override {
        dir.installPlugin("testconv");
        dir.installPlugin("Xyz");
        dir.installPlugin("xyz");
        logPath = dir.path() + "/plugin.log";
        velta_test::setEnvironment("VELTA_TEST_PLUGIN_LOG", logPath.c_str());
    }
    void TearDown() override { velta_test::unsetEnvironment("VELTA_TEST_PLUGIN_LOG"); }

    int logged(const std::string& event) {
        std::ifstream in(logPath);
        std::string line;
        int count = 0;
        while (std::getline(in, line)) count += line == event;
        return count;
    }

    int libraryCount(TDLLLinker& linker) {
        int count = 0;
        for (NLS_Library* record = linker.fLibraries; record; record = record->next) ++count;
        return count;
    }

    TEncodingConverter* make(NLS_EntryPoint entry) {
        return reinterpret_cast<NLS_ConverterFactory>(entry)();
    }

    TemporaryDirectory dir;
    std::string logPath;
};

TEST_F(Linker, ResolvesBuiltInFactoriesFromThePseudoLibraryAndCachesThem) {
    TDLLLinker linker(const_cast<NLS_StaticConverterEntry*>(TEncodingRegistry::fStaticEntryList),
                      TEncodingRegistry::fStaticEntryListLength, dir.dataPath().c_str());
    ASSERT_EQ(linker.GetStatus(), NLS_SUCCESS);
    char symbol[] = "NewUTF8ToUnicodeEncodingConverter";
    NLS_EntryPoint entry = linker.NLS_FindSymbolInLibrary(kPseudoLibrary, symbol);
    EXPECT_EQ(entry, NLS_AsEntryPoint(&NEWUTF8TOUNICODEENCODINGCONVERTER));
    EXPECT_EQ(linker.fLibraries->symbolCache->getEntryCount(), 1u);
    char otherCase[] = "newutf8tounicodeencodingconverter";
    EXPECT_EQ(linker.NLS_FindSymbolInLibrary(kPseudoLibrary, otherCase), entry)
        << "the cache answers in any letter case";
    EXPECT_EQ(linker.fLibraries->symbolCache->getEntryCount(), 1u);
    EXPECT_EQ(libraryCount(linker), 1);
}

TEST_F(Linker, LoadsALibraryFileOnceAndUnloadsItExactlyOnce) {
    {
        TDLLLinker linker(nullptr, 0, dir.dataPath().c_str());
        char library[] = "testconv";
        char symbol[] = "NEWTESTUPPERTOUNICODE";
        NLS_EntryPoint entry = linker.NLS_FindSymbolInLibrary(library, symbol);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(linker.NLS_FindSymbolInLibrary(library, symbol), entry);
        NLS_Library* record = linker.NLS_FindLibrary("testconv");
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->refCount, 1) << "finding entry points does not count loads";
        EXPECT_EQ(linker.NLS_LoadLibrary("testconv"), NLS_SUCCESS);
        EXPECT_EQ(record->refCount, 2);
        EXPECT_EQ(logged("load"), 1);

        TEncodingConverter* converter = make(entry);
        unsigned char out[16];
        uint32_t written = 0, consumed = 0;
        EXPECT_EQ(
            converter->Convert(out, &written, sizeof out, (const unsigned char*)"ab", 2, &consumed),
            NLS_SUCCESS);
        EXPECT_EQ(velta_test::fromUcs2(velta_test::Bytes(out, out + written)), u"AB");
        converter->ReleaseEncodingConverter();
    }
    EXPECT_EQ(logged("unload"), 1) << "the destructor releases the library whatever its count";
}

TEST_F(Linker, ReferenceCountsDecideWhenALibraryIsReleased) {
    TDLLLinker linker(nullptr, 0, dir.dataPath().c_str());
    char name[] = "testconv";
    EXPECT_EQ(linker.NLS_LoadLibrary(name), NLS_SUCCESS);
    EXPECT_EQ(linker.NLS_LoadLibrary(name), NLS_SUCCESS);
    EXPECT_EQ(libraryCount(linker), 2);
    EXPECT_EQ(linker.NLS_UnloadLibrary(name), NLS_SUCCESS);
    EXPECT_EQ(logged("unload"), 0);
    EXPECT_EQ(linker.NLS_UnloadLibrary(name), NLS_SUCCESS);
    EXPECT_EQ(logged("unload"), 1);
    EXPECT_EQ(libraryCount(linker), 1);
    EXPECT_EQ(linker.NLS_UnloadLibrary(name), NLS_LIBRARY_NOT_LOADED);
}

TEST_F(Linker, AMissingFileLeavesNoRecord) {
    TDLLLinker linker(nullptr, 0, dir.dataPath().c_str());
    char library[] = "absent";
    char symbol[] = "Anything";
    EXPECT_EQ(linker.NLS_FindSymbolInLibrary(library, symbol), nullptr);
    EXPECT_EQ(linker.GetStatus(), NLS_LIBRARY_NOT_LOADED);
    EXPECT_EQ(libraryCount(linker), 1);
}

#if !defined(_WIN32)
// A FIFO in a library's place would make the loader wait for a writer forever.
TEST_F(Linker, ALibraryFileThatIsAFifoIsRefusedWithoutBlocking) {
    ASSERT_EQ(mkfifo((dir.dataPath() + "pipe3230.so").c_str(), 0600), 0);
    TDLLLinker linker(nullptr, 0, dir.dataPath().c_str());
    char library[] = "pipe";
    char symbol[] = "Anything";
    EXPECT_EQ(linker.NLS_FindSymbolInLibrary(library, symbol), nullptr);
    EXPECT_EQ(linker.GetStatus(), NLS_LIBRARY_NOT_LOADED);
    EXPECT_EQ(libraryCount(linker), 1);
}
#endif

TEST_F(Linker, AMissingEntryPointIsReportedEveryTime) {
    TDLLLinker linker(nullptr, 0, dir.dataPath().c_str());
    char library[] = "testconv";
    char symbol[] = "NoSuchFactory";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(linker.NLS_FindSymbolInLibrary(library, symbol), nullptr);
        EXPECT_EQ(linker.GetStatus(), NLS_ENTRY_POINT_NOT_FOUND);
    }
    char pseudoSymbol[] = "NoSuchFactory";
    EXPECT_EQ(linker.NLS_FindSymbolInLibrary(kPseudoLibrary, pseudoSymbol), nullptr);
    EXPECT_EQ(linker.GetStatus(), NLS_ENTRY_POINT_NOT_FOUND);
}

TEST_F(Linker, LibraryNamesAreCaseSensitive) {
    TDLLLinker linker(nullptr, 0, dir.dataPath().c_str());
    EXPECT_EQ(linker.NLS_LoadLibrary("Xyz"), NLS_SUCCESS);
    EXPECT_EQ(linker.NLS_LoadLibrary("xyz"), NLS_SUCCESS);
    EXPECT_EQ(libraryCount(linker), 3);
    EXPECT_NE(linker.NLS_FindLibrary("Xyz"), linker.NLS_FindLibrary("xyz"));
}

TEST_F(Linker, FileNamesFollowTheDataDirectory) {
#if defined(_WIN32)
    TDLLLinker linker(nullptr, 0, ".\\conv30\\");
    char fileName[256];
    ASSERT_TRUE(linker.LibraryFileName("xyz", fileName, sizeof fileName));
    EXPECT_STREQ(fileName, ".\\conv30\\xyz3230.dll");
#else
    TDLLLinker linker(nullptr, 0, "./conv30/");
    char fileName[256];
    ASSERT_TRUE(linker.LibraryFileName("xyz", fileName, sizeof fileName));
    EXPECT_STREQ(fileName, "./conv30/xyz3230.so");
#endif
}

TEST_F(Linker, NamesThatCouldLeaveTheDataDirectoryAreRefused) {
    TDLLLinker linker(nullptr, 0, dir.dataPath().c_str());
    const std::string tooLong(56, 'a');
    const char* refused[] = {"../testconv",  "sub/testconv", "sub\\testconv", "..", "",
                             tooLong.c_str()};
    for (const char* name : refused) {
        EXPECT_EQ(linker.NLS_LoadLibrary(name), NLS_LIBRARY_NOT_LOADED) << name;
        EXPECT_EQ(libraryCount(linker), 1);
    }
    EXPECT_TRUE(TDLLLinker::IsAcceptableLibraryName(std::string(55, 'a').c_str()));
}

TEncodingConverter* clientUtf8() {
    return NEWUNICODETOUTF8ENCODINGCONVERTER();
}

TEST_F(Linker, ClientTablesOverrideBuiltInEntryPoints) {
    TDLLLinker linker(const_cast<NLS_StaticConverterEntry*>(TEncodingRegistry::fStaticEntryList),
                      TEncodingRegistry::fStaticEntryListLength, dir.dataPath().c_str());
    NLS_StaticConverterEntry table[] = {
        {"UTF-8", "ISO-10646-UCS-2", "NewUTF8ToUnicodeEncodingConverter",
         NLS_AsEntryPoint(&clientUtf8)},
        {nullptr, nullptr, nullptr, nullptr}};
    linker.RegisterStaticConverters(reinterpret_cast<char*>(table));
    char symbol[] = "NewUTF8ToUnicodeEncodingConverter";
    EXPECT_EQ(linker.NLS_FindSymbolInLibrary(kPseudoLibrary, symbol),
              NLS_AsEntryPoint(&clientUtf8));
}

TEST_F(Linker, TheTablesOfALibraryModuleServeItsOwnTableDrivenConverters) {
    TDLLLinker linker(nullptr, 0, dir.dataPath().c_str());
    char library[] = "testconv";
    char decoderName[] = "NEWTESTCODEPAGETOUNICODE";
    char encoderName[] = "NEWUNICODETOTESTCODEPAGE";
    TEncodingConverter* decoder = make(linker.NLS_FindSymbolInLibrary(library, decoderName));
    TEncodingConverter* encoder = make(linker.NLS_FindSymbolInLibrary(library, encoderName));
    ASSERT_EQ(decoder->GetStatus(), NLS_SUCCESS);
    ASSERT_EQ(encoder->GetStatus(), NLS_SUCCESS);
    const velta_test::Bytes input = velta_test::hexBytes("41 A0 A1 80");
    unsigned char units[32];
    uint32_t written = 0, consumed = 0;
    EXPECT_EQ(decoder->Convert(units, &written, sizeof units, input.data(), 4, &consumed),
              NLS_SUCCESS);
    EXPECT_EQ(velta_test::fromUcs2(velta_test::Bytes(units, units + written)),
              u"A\u263A\u263B\uFFFD");
    unsigned char back[16];
    uint32_t backWritten = 0;
    EXPECT_EQ(encoder->Convert(back, &backWritten, sizeof back, units, written, &consumed),
              NLS_SUCCESS);
    EXPECT_EQ(velta_test::hex(velta_test::Bytes(back, back + backWritten)), "41 A0 A1 3F");
    decoder->ReleaseEncodingConverter();
    encoder->ReleaseEncodingConverter();
}

}  // namespace
