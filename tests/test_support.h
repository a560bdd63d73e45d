// Helpers shared by the tests: byte strings, UCS-2 text, guarded output
// buffers, and conversions through the flat functions (one-shot, streamed
// and drained by the overflow protocol).
#ifndef VELTA_TESTS_TEST_SUPPORT_H
#define VELTA_TESTS_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "velta/nls.h"

namespace velta_test {

typedef std::vector<unsigned char> Bytes;

Bytes bytes(const std::string& text);
Bytes hexBytes(const char* hex);  // "C3 A9 41"
Bytes ucs2(const std::u16string& text);
Bytes ucs4(const std::u32string& text);
std::u16string fromUcs2(const Bytes& data);
std::string hex(const Bytes& data);

// A buffer of `capacity` bytes followed by guard bytes that must stay intact.
class GuardedBuffer {
public:
    explicit GuardedBuffer(uint32_t capacity);
    unsigned char* data() { return fStorage.data(); }
    uint32_t capacity() const { return fCapacity; }
    bool guardIntact() const;
    Bytes prefix(uint32_t length) const {
        return Bytes(fStorage.begin(), fStorage.begin() + length);
    }

private:
    enum { kGuard = 16 };
    uint32_t fCapacity;
    Bytes fStorage;
};

struct Conversion {
    NLS_Status status = 0;
    Bytes output;
};

// One NLS_ConvertStreamBuffer call with ample room.
Conversion convertOneShot(const char* from, const char* to, const Bytes& input);

// Streams `input` through one object: the first call gets `firstSize` bytes of
// output; then, while the status is 2 or input is carried over, drain with
// buffers of `drainSize` (or the overflow size, if larger). Fails the test if
// a guard byte is touched or the drain does not end.
Conversion convertDrained(const char* from, const char* to, const Bytes& input, uint32_t firstSize,
                          uint32_t drainSize = 16);

// Feeds the input in pieces cut at `cuts` (offsets), each drained to the end;
// carried-over input is prepended to the next piece.
Conversion convertInPieces(const char* from, const char* to, const Bytes& input,
                           const std::vector<uint32_t>& cuts, uint32_t outputSize);

#ifdef VELTA_HAVE_ICONV
// One text through glibc's iconv, the differential oracle; "" (and *ok
// false) where iconv refuses it.
std::string iconvText(const char* to, const char* from, const std::string& text,
                      bool* ok = nullptr);
#endif

// Restores a library without registry and lock after each test.
class LibraryTest : public ::testing::Test {
protected:
    void TearDown() override { NLS_EncTerminate(); }
};

// The library with its built-in converters alone: a data directory with
// no registry files instead of the one that came with the library.
class BuiltInLibraryTest : public LibraryTest {
protected:
    void SetUp() override;
};

// The file-name suffix of converter libraries on this platform.
#if defined(_WIN32)
const char kLibrarySuffix[] = "3230.dll";
#else
const char kLibrarySuffix[] = "3230.so";
#endif

void setEnvironment(const char* name, const char* value);
void unsetEnvironment(const char* name);

// A fresh directory under the system's temporary directory, removed at the end.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    const std::string& path() const { return fPath; }
    // Writes <path>/conv30/<name>.
    void writeDataFile(const std::string& name, const std::string& contents) const;
    std::string dataPath() const { return fPath + "/conv30/"; }
    // Copies the tests' converter library into conv30/ as <name>3230.so
    // (3230.dll on Windows).
    void installPlugin(const std::string& name = "testconv") const;
    // Copies the shipped registry files and the Japanese, Chinese and Korean
    // converter libraries into conv30/.
    void installShippedData() const;

private:
    std::string fPath;
};

}  // namespace velta_test

#endif
