// Fuzzes the registry-file reader: the input, split at 0x00 bytes, becomes
// encreg.txt, aliasreg.txt and javareg.txt of a temporary data directory;
// the library starts from it and answers name and converter questions.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "velta/nls.h"

namespace {

std::string dataDirectory() {
    static std::string path;
    if (path.empty()) {
        char pattern[] = "/tmp/velta-fuzz-XXXXXX";
        if (mkdtemp(pattern) == nullptr) abort();
        path = pattern;
        mkdir((path + "/conv30").c_str(), 0755);
    }
    return path;
}

void writeFile(const std::string& name, const uint8_t* data, size_t size) {
    FILE* file = fopen((dataDirectory() + "/conv30/" + name).c_str(), "wb");
    if (file == nullptr) abort();
    fwrite(data, 1, size, file);
    fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) return 0;
    const char* const names[] = {"encreg.txt", "aliasreg.txt", "javareg.txt"};
    size_t start = 0;
    for (int file = 0; file < 3; ++file) {
        const uint8_t* end = static_cast<const uint8_t*>(memchr(data + start, 0, size - start));
        const size_t stop = end ? static_cast<size_t>(end - data) : size;
        writeFile(names[file], data + start, stop - start);
        start = stop < size ? stop + 1 : size;
    }
    NLS_EncInitialize(nullptr, dataDirectory().c_str());
    // Every token of the input is asked about as a name.
    std::string token;
    for (size_t i = 0; i <= size; ++i) {
        const char c = i < size ? static_cast<char>(data[i]) : ' ';
        if (c != ' ' && c != '\n' && c != '\t' && c != '\r' && c != '\0') {
            token += c;
            continue;
        }
        if (token.empty()) continue;
        const char* canonical = NLS_GetNormalizedEncodingName(token.c_str());
        if (canonical == nullptr || strlen(canonical) > 63) abort();
        NLS_GetEncodingNameFromJava(token.c_str());
        NLS_GetJavaEncodingName(token.c_str());
        NLS_EncodingConverterExists(token.c_str(), "UTF-8");
        EncodingConverter* object = nullptr;
        if (NLS_NewEncodingConverter(token.c_str(), "UTF-8", &object) == NLS_SUCCESS) {
            unsigned char out[64];
            uint32_t written = 0;
            NLS_ConvertStreamBuffer(object, reinterpret_cast<const unsigned char*>("abc"), 3, out,
                                    sizeof out, &written);
            NLS_DeleteEncodingConverter(object);
        }
        token.clear();
    }
    EncondingConverterList* list = nullptr;
    NLS_NewEncodingConverterEnumeration("*", "*", &list);
    uint32_t count = 0;
    NLS_CountEncodingConverters(list, &count);
    char from[64], to[64];
    for (uint32_t i = 0; i < count; ++i) {
        if (NLS_GetEncodingConverterListItem(list, i, from, to) != NLS_SUCCESS) abort();
        if (strlen(from) > 63 || strlen(to) > 63) abort();
    }
    NLS_DeleteEncodingConverterEnumeration(list);
    NLS_EncTerminate();
    return 0;
}
