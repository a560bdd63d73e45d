// The velta command-line converter, run as a program.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "test_support.h"

namespace {

using namespace velta_test;

struct ToolRun {
    int exitCode;
    std::string out;
    std::string err;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

class VeltaTool : public LibraryTest {
protected:
    // Runs velta in the C locale unless `environment` says otherwise.
    ToolRun run(const std::string& arguments, const std::string& stdinFile = "",
                const std::string& environment = "LC_ALL=C", std::string out = "") {
        const bool outputKept = out.empty();
        if (outputKept) out = dir.path() + "/stdout";
        const std::string err = dir.path() + "/stderr";
        std::string command =
            environment + " " + VELTA_TOOL + " " + arguments + " > " + out + " 2> " + err;
        if (!stdinFile.empty()) command += " < " + stdinFile;
        const int status = system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, outputKept ? readFile(out) : "",
                readFile(err)};
    }
    std::string file(const std::string& name, const std::string& contents) {
        const std::string path = dir.path() + "/" + name;
        writeFile(path, contents);
        return path;
    }
    std::string libraryConversion(const char* from, const char* to, const std::string& input) {
        const Conversion result = convertOneShot(from, to, bytes(input));
        EXPECT_EQ(result.status, NLS_SUCCESS);
        return std::string(result.output.begin(), result.output.end());
    }
    TemporaryDirectory dir;
};

const char kUnicodeText[] =
    u8"Grüße aus Köln, 東京 and 🚀 — with +plus+ &amp; ~tilde~ and a \\backslash.\n"
    u8"Second line: naïve café, ½ € ™ π\n";
const char kLatinText[] = u8"Grüße aus Köln: naïve café, © and § for every line.\n";

// What stands for an output or a message a row does not check.
const std::string kUnchecked = "(unchecked)";

// Each command line: its exit code, its standard output and a part of its
// standard error (an empty part: nothing on standard error).
TEST_F(VeltaTool, EachCommandLineGivesItsExitOutputAndMessage) {
    const std::string cafe = file("cafe.txt", "caf\xC3\xA9\n");
    const std::string nul = file("nul.txt",
                                 "a\xC0\x80"
                                 "b");
    const std::string cutEnd = file("cut-end.txt", "ab\xE6\x97");
    const std::string cut = file("cut.txt", "ends inside \xE2\x82");
    const std::string invalid =
        file("invalid.txt", "first line\nsecond +AOk line\nthird +A- line\nfourth\n");
    const std::string text = file("t.txt", "caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D\n");
    const std::string broken = file("b.txt",
                                    "ab\xFF"
                                    "cd\xC3(");
    const std::string ascii = file("ascii.txt", "plain\n");
    const std::string latin = file("latin.txt", "caf\xE9\n");
    const std::string shortLine = file("short.txt", "ab\n\xC3\xA9\xE2\x82\xACx\xFF\n");
    std::string longText = "first\n";
    for (int i = 0; i < 70000; ++i) longText += "\xC3\xA9";
    const std::string longLine = file("long.txt", longText + "\xFF");
    file("-odd.txt", "caf\xC3\xA9\n");
    dir.writeDataFile("aliasreg.txt", "my-roman x-mac-roman\n");
    const std::string missing = dir.path() + "/missing.txt";
    const struct {
        std::string arguments;
        int exitCode;
        std::string out;
        std::string err;
        std::string environment = "LC_ALL=C";
        std::string stdinFile = "";
    } cases[] = {
        // UTF-8 is read strictly unless told otherwise; a character cut at
        // the end of a file is replaced like any other under --replace.
        {"-f UTF-8 -t UTF-16LE " + nul, 1, kUnchecked, "invalid input"},
        {"--lenient -f UTF-8 -t UTF-16LE " + nul, 0, std::string("a\0\0\0b\0", 6), ""},
        {"--replace -s -f UTF-8 -t UTF-8 " + cutEnd, 0, "ab\xEF\xBF\xBD", ""},
        // Standard input, "-" and several files.
        {"-f UTF-8 -t latin1", 0, "caf\xE9\n", "", "LC_ALL=C", cafe},
        {"-f UTF-8 -t latin1 -", 0, "caf\xE9\n", "", "LC_ALL=C", cafe},
        {"-f UTF-8 -t latin1 " + cafe + " " + cafe, 0, "caf\xE9\ncaf\xE9\n", ""},
        {"-f UTF-8 -t latin1 -- -odd.txt", 0, "caf\xE9\n", "", "cd " + dir.path() + " &&"},
        // Errors are clear and keep what was converted; a missing input is
        // reported and the next converted.
        {"-f UTF-8 -t x-nowhere " + cafe, 1, "",
         "velta: no conversion from 'UTF-8' to 'x-nowhere'\n"},
        {"-f UTF-8 -t latin1 " + missing + " " + cafe, 1, "caf\xE9\n",
         "missing.txt: No such file or directory"},
        {"-f UTF-7 -t UTF-8 " + invalid, 1, "first line\nsecond \xC3\xA9 line\nthird ",
         "invalid input at byte offset 36 (line 3, column 7)"},
        {"-f UTF-8 -t UTF-7 " + cut, 1, "ends inside ",
         "incomplete character at the end of the input at byte offset 12"},
        {"--list --detect", 2, kUnchecked, kUnchecked},
        {"--bogus", 2, kUnchecked, kUnchecked},
        {"-f UTF-8 -t latin1 --list", 2, kUnchecked, kUnchecked},
        {"--chunk-size 0 -f a -t b", 2, kUnchecked, kUnchecked},
        // Error columns count characters, not bytes, whatever the chunks.
        {"-f UTF-8 -t UTF-16LE " + shortLine, 1, kUnchecked, "at byte offset 9 (line 2, column 4)"},
        {"--chunk-size 4 -f UTF-8 -t UTF-16LE " + shortLine, 1, kUnchecked,
         "at byte offset 9 (line 2, column 4)"},
        {"-f UTF-8 -t UTF-16LE " + longLine, 1, kUnchecked,
         "at byte offset 140006 (line 2, column 70001)"},
        {"--chunk-size 999 -f UTF-8 -t UTF-16LE " + longLine, 1, kUnchecked,
         "at byte offset 140006 (line 2, column 70001)"},
        // As iconv: stop at what cannot be converted (exit 1, what comes
        // before it written), -c and //IGNORE leave it out, --replace
        // substitutes, //TRANSLIT writes ASCII stand-ins; iconv's option
        // forms are accepted.
        {"-f utf-8 -t ascii " + text, 1, "caf",
         "cannot represent at byte offset 3 (line 1, column 4)"},
        {"-f utf-8 -t latin1 " + broken, 1, "ab", "invalid input at byte offset 2"},
        {"-c -f utf-8 -t ascii " + text, 0, "caf  x\n", "4 characters left out"},
        {"-s -f utf-8 -t ascii//IGNORE " + text, 0, "caf  x\n", ""},
        {"--replace -f utf-8 -t latin1 " + broken, 0, "ab?cd?(", "2 characters replaced"},
        {"-s -f utf-8 -t ascii//TRANSLIT " + text, 0, "cafe EUR \"x\"\n", ""},
        {"--from-code=utf-8 --to-code=latin1 -s --replace " + text, 0, "caf\xE9 ? ?x?\n", ""},
        {"-futf-8 -tUTF-16LE --add-signature " + broken, 1, kUnchecked, "invalid input"},
        // An encoding left out is the locale's: ASCII in the C locale.
        {"-t UTF-16BE " + ascii, 0, std::string("\0p\0l\0a\0i\0n\0\n", 12), ""},
        {"-f UTF-8 " + cafe, 1, "caf", kUnchecked},
        {"-f latin1 " + latin, 0, "caf\xC3\xA9\n", "", "LC_ALL=C.UTF-8"},
        {"-t latin1 " + cafe, 0, "caf\xE9\n", "", "LC_ALL=C.UTF-8"},
        // The data directory named, and not.
        {"--data-dir " + dir.path() + " --normalize my-roman", 0, "x-mac-roman\n", ""},
        {"--normalize my-roman", 1, kUnchecked, "velta: unknown encoding 'my-roman'\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.environment + " velta " + c.arguments);
        const ToolRun result = run(c.arguments, c.stdinFile, c.environment);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        if (c.out != kUnchecked) {
            EXPECT_EQ(result.out, c.out);
        }
        if (c.err.empty()) {
            EXPECT_EQ(result.err, "");
        } else if (c.err != kUnchecked) {
            EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
        }
    }
}

TEST_F(VeltaTool, RoundTripsThroughEveryBuiltInEncoding) {
    const std::string unicode = file("unicode.txt", kUnicodeText);
    const std::string latin = file("latin.txt", kLatinText);
    const char* const encodings[] = {"ISO-10646-UCS-2", "ISO-10646-UCS-4", "UTF-7",  "IMAP-UTF-7",
                                     "ESCAPED_UNICODE", "utf_8",           "latin1", "x-mac-roman"};
    for (const char* encoding : encodings) {
        const bool narrow =
            std::string(encoding) == "latin1" || std::string(encoding) == "x-mac-roman";
        const std::string& source = narrow ? latin : unicode;
        const ToolRun there =
            run(std::string("-f UTF-8 -t ") + encoding + " -o " + dir.path() + "/there " + source);
        ASSERT_EQ(there.exitCode, 0) << encoding << there.err;
        const ToolRun back =
            run(std::string("-t UTF-8 -f ") + encoding + " " + dir.path() + "/there");
        ASSERT_EQ(back.exitCode, 0) << encoding << back.err;
        EXPECT_EQ(back.out, narrow ? kLatinText : kUnicodeText) << encoding;
    }
}

std::string generatedText(size_t size) {
    std::mt19937 random(9);
    const char* const words[] = {"plain",
                                 "caf\xC3\xA9",
                                 "\xE6\x9D\xB1\xE4\xBA\xAC",
                                 "\xF0\x9F\x9A\x80",
                                 "+",
                                 "&",
                                 "-",
                                 "~",
                                 "\\",
                                 "\\u0041",
                                 "A-Z",
                                 "\xC2\xA9"};
    std::string text;
    while (text.size() < size) {
        text += words[random() % 12];
        text += random() % 9 ? " " : "\n";
        if (random() % 5000 == 0) text += std::string(20000, 'x');  // a long line
    }
    return text;
}

TEST_F(VeltaTool, StreamsLargeInputsExactlyWhateverTheChunkSize) {
    const std::string text = generatedText(3 * 1024 * 1024);
    const std::string source = file("large.txt", text);
    struct {
        const char* from;
        const char* to;
    } pairs[] = {{"UTF-8", "UTF-7"},
                 {"UTF-8", "ISO-10646-UCS-2"},
                 {"UTF-8", "ESCAPED_UNICODE"},
                 {"UTF-8", "IMAP-UTF-7"}};
    for (const auto& pair : pairs) {
        const std::string expected = libraryConversion(pair.from, pair.to, text);
        for (const char* chunk : {"1", "3", "7", "4093", "32768"}) {
            if (std::string(chunk) == "1" && std::string(pair.to) != "UTF-7") continue;
            const ToolRun converted = run(std::string("--chunk-size ") + chunk + " -f " +
                                          pair.from + " -t " + pair.to + " " + source);
            ASSERT_EQ(converted.exitCode, 0) << converted.err;
            EXPECT_TRUE(converted.out == expected) << pair.to << " with chunks of " << chunk;
        }
        // And back, from the converted form as source.
        const std::string converted = file("converted", expected);
        for (const char* chunk : {"5", "32768"}) {
            const ToolRun back = run(std::string("--chunk-size ") + chunk + " -f " + pair.to +
                                     " -t UTF-8 " + converted);
            ASSERT_EQ(back.exitCode, 0) << back.err;
            EXPECT_TRUE(back.out == text) << pair.to << " back with chunks of " << chunk;
        }
    }
}

TEST_F(VeltaTool, ListsNormalizesDetectsAndNamesItself) {
    const ToolRun list = run("-l");
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_NE(list.out.find("\nwindows-1252: cp1252 "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\nUTF-16LE: "), std::string::npos) << list.out;
    EXPECT_EQ(run("--list").out, list.out);
    const ToolRun pairs = run("--list-pairs");
    EXPECT_NE(pairs.out.find("\nUTF-8 ISO-10646-UCS-2\n"), std::string::npos);
    EXPECT_EQ(run("--normalize us-ascii").out, "US-ASCII\n");
    const std::string utf8 = file("u.txt", "caf\xC3\xA9\n");
    const std::string ascii = file("a.txt", "plain\n");
    EXPECT_EQ(run("--detect " + utf8 + " " + ascii).out,
              utf8 + ": UTF-8\n" + ascii + ": US-ASCII\n");
    EXPECT_EQ(run("--version").out, "velta 3.2.30\n");
    EXPECT_EQ(run("--help").exitCode, 0);
}

TEST_F(VeltaTool, OutputThatIsAlsoAnInputIsConvertedNotEmptied) {
    namespace fs = std::filesystem;
    const std::string path = file("same.txt", "caf\xC3\xA9\n");
    const fs::perms permissions = fs::perms::owner_read | fs::perms::owner_write |
                                  fs::perms::group_read | fs::perms::others_read;
    fs::permissions(path, permissions);
    const ToolRun result = run("-f UTF-8 -t UTF-16LE -o " + path + " " + path);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(path), std::string("c\0a\0f\0\xE9\0\n\0", 10));
    EXPECT_EQ(fs::status(path).permissions(), permissions) << "the replaced file keeps its mode";
}

TEST_F(VeltaTool, OutputIsLeftAsItWasWhenNoInputOpens) {
    const std::string target = file("target.txt", "keep me\n");
    const ToolRun result = run("-f UTF-8 -t latin1 -o " + target + " " + dir.path() + "/missing");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(readFile(target), "keep me\n");
    EXPECT_TRUE(std::filesystem::is_regular_file(target));
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        entries += entry.path().filename().string().rfind("target.txt", 0) == 0;
    EXPECT_EQ(entries, 1u) << "a temporary file was left beside the target";
}

// Every output is checked: a full device gets a message naming it and exit 1.
TEST_F(VeltaTool, WriteErrorsAreReported) {
    const std::string text = file("text.txt", "caf\xC3\xA9\n");
    const struct {
        std::string arguments;
        const char* name = "standard output";  // of the output in the message
    } cases[] = {
        {"-l"},
        {"--list-pairs"},
        {"--normalize UTF-8"},
        {"--detect " + text},
        {"--help"},
        {"--version"},
        {"-f UTF-8 -t latin1 " + text},
        {"-f UTF-8 -t latin1 -o /dev/full " + text, "/dev/full"},
    };
    for (const auto& c : cases) {
        const ToolRun result = run(c.arguments, "", "LC_ALL=C", "/dev/full");
        EXPECT_EQ(result.exitCode, 1) << c.arguments;
        EXPECT_EQ(result.err, "velta: " + std::string(c.name) + ": No space left on device\n")
            << c.arguments;
    }
}

TEST_F(VeltaTool, CompletionMatchesNamesInAnyLetterCase) {
    const std::string tool = VELTA_TOOL;
    const std::string script =
        file("complete.sh", "PATH=" + tool.substr(0, tool.rfind('/')) + ":$PATH\n" +
                                "source " VELTA_SOURCE_DIR "/tools/velta-completion.bash\n" +
                                "COMP_WORDS=(velta -t utf); COMP_CWORD=2; _velta\n" +
                                "printf '%s\\n' \"${COMPREPLY[@]}\"\n");
    const std::string out = dir.path() + "/completions";
    ASSERT_EQ(system(("bash " + script + " > " + out).c_str()), 0);
    const std::string offered = "\n" + readFile(out);
    EXPECT_NE(offered.find("\nUTF-8\n"), std::string::npos) << offered;
    EXPECT_NE(offered.find("\nUTF-16LE\n"), std::string::npos) << offered;
    EXPECT_EQ(offered.find("\nlatin1\n"), std::string::npos) << offered;
}

}  // namespace
