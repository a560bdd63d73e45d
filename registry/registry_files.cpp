// The registry files of the data directory: encreg.txt (converter entries,
// five fields a record), aliasreg.txt (alias, canonical name) and javareg.txt
// (Java name, encoding name). Fields are tokens separated by white space; line
// ends carry no meaning inside a record. A token beginning with "/" where a
// record would begin starts a comment that runs to the end of its line.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include <new>
#include <string>

#include "velta/registry.h"

namespace {

enum class RecordResult { kRecord, kRefused, kEnd };

bool isFieldSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

class RecordReader {
public:
    RecordReader(const char* text, uint32_t length) : fText(text), fLength(length), fPos(0) {}

    // Reads the next record of fieldCount fields. A record with a field of
    // 64 bytes or more (or a zero byte) is refused whole; a record that the
    // end of the text cuts short is dropped.
    RecordResult next(char (*fields)[kNameFieldSize], int fieldCount) {
        for (;;) {
            skipSpace();
            if (atEnd()) return RecordResult::kEnd;
            if (fText[fPos] != '/') break;
            skipLine();
        }
        bool refused = false;
        for (int i = 0; i < fieldCount; ++i) {
            skipSpace();
            if (atEnd()) return RecordResult::kEnd;
            if (!readToken(fields[i])) refused = true;
        }
        return refused ? RecordResult::kRefused : RecordResult::kRecord;
    }

private:
    bool atEnd() const { return fPos >= fLength; }

    void skipSpace() {
        while (!atEnd() && isFieldSpace(static_cast<unsigned char>(fText[fPos]))) ++fPos;
    }

    void skipLine() {
        while (!atEnd() && fText[fPos] != '\n') ++fPos;
        if (!atEnd()) ++fPos;
    }

    bool readToken(char* field) {
        const uint32_t start = fPos;
        bool hasZero = false;
        while (!atEnd() && !isFieldSpace(static_cast<unsigned char>(fText[fPos]))) {
            hasZero |= fText[fPos] == '\0';
            ++fPos;
        }
        const uint32_t length = fPos - start;
        if (hasZero || length >= kNameFieldSize) {
            field[0] = '\0';
            return false;
        }
        memcpy(field, fText + start, length);
        field[length] = '\0';
        return true;
    }

    const char* fText;
    uint32_t fLength;
    uint32_t fPos;
};

enum class FileRead { kRead, kMissing, kFailed };

// Reads a whole file, so that a read error leaves no record of it behind.
// Registry files are read only if they are regular files of at most
// kMaxRegistryFileSize bytes: a FIFO, a device or a directory in their place
// is passed over as a missing file is, so it can neither block the start of
// the library nor exhaust its memory.
const uint64_t kMaxRegistryFileSize = 16u << 20;

FILE* openRegularFile(const std::string& path) {
#if defined(_WIN32)
    struct _stat64 info;
    if (_stat64(path.c_str(), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG ||
        static_cast<uint64_t>(info.st_size) > kMaxRegistryFileSize)
        return nullptr;
    return fopen(path.c_str(), "rb");
#else
    const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return nullptr;
    struct stat info;
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) > kMaxRegistryFileSize) {
        close(descriptor);
        return nullptr;
    }
    FILE* file = fdopen(descriptor, "rb");
    if (file == nullptr) close(descriptor);
    return file;
#endif
}

FileRead readWholeFile(const std::string& path, std::string* contents) {
    FILE* file = openRegularFile(path);
    if (file == nullptr) return FileRead::kMissing;
    char chunk[16384];
    size_t got;
    bool failed = false;
    try {
        while (!failed && (got = fread(chunk, 1, sizeof chunk, file)) > 0) {
            contents->append(chunk, got);
            failed = contents->size() > kMaxRegistryFileSize;  // it grew while read
        }
    } catch (...) {
        failed = true;
    }
    failed = failed || ferror(file) != 0;
    fclose(file);
    return failed ? FileRead::kFailed : FileRead::kRead;
}

}  // namespace

NLS_Status TEncodingRegistry::Initialize(const char* dataDirectory) {
    NLSMutex guard;
    fStatus = NLS_SUCCESS;
    if (fEncodings == nullptr || dataDirectory == nullptr) return fStatus;
    char* copy = strdup(dataDirectory);
    if (copy == nullptr) return fStatus;
    free(fDataDirectory);
    fDataDirectory = copy;

    typedef NLS_Status (TEncodingRegistry::*Reader)(const char*, uint32_t);
    static const struct {
        const char* fileName;
        Reader reader;
    } kFiles[] = {
        {"encreg.txt", &TEncodingRegistry::ReadEncodingRegistry},
        {"aliasreg.txt", &TEncodingRegistry::ReadAliasRegistry},
        {"javareg.txt", &TEncodingRegistry::ReadJavaAliasRegistry},
    };
    for (const auto& file : kFiles) {
        std::string contents;
        FileRead read;
        try {
            read = readWholeFile(std::string(dataDirectory) + file.fileName, &contents);
        } catch (...) {
            return fStatus;
        }
        if (read != FileRead::kRead) continue;  // a missing or unreadable file adds nothing
        fStatus = (this->*file.reader)(contents.data(), static_cast<uint32_t>(contents.size()));
        if (fStatus != NLS_SUCCESS) break;
    }
    return fStatus;
}

namespace {

// Hands every record of kFields fields that the reader accepts to `add`;
// false from `add` (memory ran out) ends the reading with -1002.
template <int kFields, typename Add>
NLS_Status readRecords(const char* text, uint32_t length, Add add) {
    RecordReader reader(text, length);
    char fields[kFields][kNameFieldSize];
    RecordResult result;
    while ((result = reader.next(fields, kFields)) != RecordResult::kEnd)
        if (result == RecordResult::kRecord && !add(fields)) return NLS_OUT_OF_MEMORY;
    return NLS_SUCCESS;
}

typedef char Fields[][kNameFieldSize];

}  // namespace

NLS_Status TEncodingRegistry::ReadEncodingRegistry(const char* text, uint32_t length) {
    return fStatus = readRecords<5>(text, length, [this](const Fields fields) {
               return AddConverterEntry(fields[0], fields[1], fields[2], fields[3], fields[4]) &&
                      AddAlias(fAliases, fields[0], fields[0]);
           });
}

NLS_Status TEncodingRegistry::ReadAliasRegistry(const char* text, uint32_t length) {
    return fStatus = readRecords<2>(text, length, [this](const Fields fields) {
               return AddAlias(fAliases, fields[0], fields[1]);
           });
}

NLS_Status TEncodingRegistry::ReadJavaAliasRegistry(const char* text, uint32_t length) {
    return fStatus = readRecords<2>(text, length, [this](const Fields fields) {
               TAliasEntry* toEncoding = new (std::nothrow) TAliasEntry(fields[0], fields[1]);
               TAliasEntry* toJava = new (std::nothrow) TAliasEntry(fields[1], fields[0]);
               if (toEncoding == nullptr || toJava == nullptr) {
                   delete toEncoding;
                   delete toJava;
                   return false;
               }
               fJavaToEncoding->addEntry(toEncoding);
               fEncodingToJava->addEntry(toJava);
               return true;
           });
}
