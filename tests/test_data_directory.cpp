// Which data directory the library uses when nobody names one: the library
// and the velta program are copied into an install layout, and run from a
// directory that has a conv30/ folder of its own.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "test_support.h"

namespace {

using velta_test::TemporaryDirectory;

class InstalledLayout : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string libraryDirectory = root() + "/" + VELTA_INSTALL_LIBDIR;
        installedData = libraryDirectory + "/" + VELTA_DATA_FROM_LIBRARY;
        ASSERT_EQ(shell("mkdir -p '" + libraryDirectory + "' '" + root() + "/bin' '" +
                        installedData + "/conv30' '" + root() + "/work/conv30' && cp '" +
                        VELTA_LIBRARY_FILE + "' '" + libraryDirectory + "/" + VELTA_LIBRARY_SONAME +
                        "' && cp '" + VELTA_TOOL + "' '" + root() + "/bin/velta'"),
                  0);
        write(installedData + "/conv30/aliasreg.txt", "x-which-data ISO_8859-1:1987\n");
        write(root() + "/work/conv30/aliasreg.txt", "x-which-data UTF-8\n");
        command = "cd '" + root() + "/work' && LD_LIBRARY_PATH='" + libraryDirectory + "' '" +
                  root() + "/bin/velta' --normalize x-which-data";
    }

    std::string root() const { return dir.path(); }
    static int shell(const std::string& line) { return system(line.c_str()); }
    static void write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    std::string output() const {
        std::string text;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[256];
            while (fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
            pclose(pipe);
        }
        return text;
    }

    TemporaryDirectory dir;
    std::string installedData, command;
};

// A conv30/ folder in the current directory would choose the converter
// libraries an installed program loads.
TEST_F(InstalledLayout, TheCurrentDirectoryDoesNotOverrideTheInstalledData) {
    EXPECT_EQ(output(), "ISO_8859-1:1987\n");
}

TEST_F(InstalledLayout, TheCurrentDirectoryServesALibraryWithoutInstalledData) {
    ASSERT_EQ(shell("rm -r '" + installedData + "/conv30'"), 0);
    EXPECT_EQ(output(), "UTF-8\n");
}

}  // namespace
