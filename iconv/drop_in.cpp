// libvelta-iconv: iconv_open, iconv and iconv_close (and GNU libiconv's
// names) over velta_iconv_*, for programs linked against it or run with
// LD_PRELOAD. The library starts itself on the first call.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // secure_getenv, dladdr
#endif
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "velta/iconv.h"
#include "velta/nls.h"

#define VELTA_ICONV_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

bool hasRegistryFolder(const std::string& directory) {
    struct stat status;
    const std::string folder = directory + "/conv30";
    return stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The folder of this library, found when it is loaded: the loader may know
// it by a relative path (LD_PRELOAD=./lib...), which a later change of the
// current directory would send elsewhere.
char gLibraryFolder[4096];

__attribute__((constructor)) void rememberLibraryFolder() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&rememberLibraryFolder), &info) == 0 ||
        info.dli_fname == nullptr)
        return;
    char* path = realpath(info.dli_fname, nullptr);
    if (path == nullptr) return;
    char* slash = strrchr(path, '/');
    if (slash != nullptr && static_cast<size_t>(slash - path) < sizeof gLibraryFolder) {
        memcpy(gLibraryFolder, path, static_cast<size_t>(slash - path));
        gLibraryFolder[slash - path] = '\0';
    }
    free(path);
}

// The data directory: the environment's, unless the program runs with raised
// privileges (secure_getenv answers null then); else the one installed beside
// the library (<prefix>/share/velta, or data/ in a build tree). Never the
// current directory, which the caller of a privileged program chooses.
std::string dataDirectory() {
    const char* named = secure_getenv("ZP_NLS_DATADIRECTORY");
    if (named != nullptr && named[0] != '\0') return named;
    const std::string library = gLibraryFolder;
    if (library.empty()) return "/nonexistent";  // the built-in converters only
    const std::string candidates[] = {library + "/../share/velta", library + "/data",
                                      library + "/../data"};
    for (const std::string& candidate : candidates)
        if (hasRegistryFolder(candidate)) return candidate;
    return library;  // no registry files: the built-in converters only
}

pthread_once_t gStarted = PTHREAD_ONCE_INIT;

void startLibrary() {
    try {
        const std::string directory = dataDirectory();
        NLS_EncInitialize(nullptr, directory.c_str());
    } catch (...) {
    }
}

void startOnce() {
    pthread_once(&gStarted, startLibrary);
}

// With VELTA_ICONV_TRACE naming a file (not in a program with raised
// privileges), each iconv_open adds a line to it: "from to", and "failed"
// when there is no such conversion. Tests see so that Velta served a program.
void traceOpen(const char* tocode, const char* fromcode, bool opened) {
    const char* trace = secure_getenv("VELTA_ICONV_TRACE");
    if (trace == nullptr || trace[0] == '\0') return;
    FILE* file = fopen(trace, "a");
    if (file == nullptr) return;
    fprintf(file, "%s %s%s\n", fromcode != nullptr ? fromcode : "(null)",
            tocode != nullptr ? tocode : "(null)", opened ? "" : " failed");
    fclose(file);
}

}  // namespace

VELTA_ICONV_EXPORT velta_iconv_t iconv_open(const char* tocode, const char* fromcode) {
    startOnce();
    const velta_iconv_t cd = velta_iconv_open(tocode, fromcode);
    const int error = errno;
    traceOpen(tocode, fromcode, cd != reinterpret_cast<velta_iconv_t>(-1));
    errno = error;
    return cd;
}

VELTA_ICONV_EXPORT size_t iconv(velta_iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf,
                                size_t* outbytesleft) {
    return velta_iconv(cd, inbuf, inbytesleft, outbuf, outbytesleft);
}

VELTA_ICONV_EXPORT int iconv_close(velta_iconv_t cd) {
    return velta_iconv_close(cd);
}

VELTA_ICONV_EXPORT velta_iconv_t libiconv_open(const char* tocode, const char* fromcode) {
    return iconv_open(tocode, fromcode);
}

VELTA_ICONV_EXPORT size_t libiconv(velta_iconv_t cd, char** inbuf, size_t* inbytesleft,
                                   char** outbuf, size_t* outbytesleft) {
    return velta_iconv(cd, inbuf, inbytesleft, outbuf, outbytesleft);
}

VELTA_ICONV_EXPORT int libiconv_close(velta_iconv_t cd) {
    return velta_iconv_close(cd);
}

VELTA_ICONV_EXPORT int iconvctl(velta_iconv_t cd, int request, void* argument) {
    return velta_iconvctl(cd, request, argument);
}

VELTA_ICONV_EXPORT void iconvlist(velta_iconvlist_visitor visitor, void* data) {
    startOnce();
    velta_iconvlist(visitor, data);
}
