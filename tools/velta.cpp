// velta: converts text between encodings with the Velta library, in the
// spirit of iconv. Written against the flat interface only.
//
//   velta [-f FROM] [-t TO] [-o OUTPUT] [--] [FILE...]
//   velta -l | --list
//   velta --normalize NAME
//   velta --detect [FILE...]
//
// Input is read in fixed-size blocks and converted as one stream through one
// conversion object (NLS_ConvertStream), so memory stays flat and the output
// equals a conversion of the whole input at once. An encoding left out is
// the locale's, as iconv takes it.
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <langinfo.h>
#include <unistd.h>
#endif
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "velta/nls.h"
#include "velta/version.h"

namespace {

const char kVersion[] = VELTA_VERSION_STRING;
const size_t kDefaultChunkSize = 32 * 1024;  // bytes read at a time
const size_t kMaxPiece = 256 * 1024;         // the largest block read at a time
const uint32_t kMinOutputSize = 64;          // room for the longest form of any character
const size_t kDetectSize = 1024 * 1024;      // bytes of a file examined by --detect

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2 };

void printUsage(FILE* out) {
    fprintf(
        out,
        "Usage: velta [-f FROM] [-t TO[//TRANSLIT][//IGNORE]] [-c] [-o OUTPUT] [--] [FILE...]\n"
        "       velta -l | --list | --list-pairs\n"
        "       velta --normalize NAME\n"
        "       velta --detect [FILE...]\n"
        "Converts text between encodings; FILE \"-\" or none reads standard input, and\n"
        "an input that cannot be opened is reported and passed over. FROM or TO left out\n"
        "is the locale's encoding (US-ASCII in the C locale).\n"
        "By default the conversion stops at the first byte sequence that is not valid in\n"
        "FROM or character that TO lacks, after writing what comes before it.\n\n"
        "Options:\n"
        "  -f, --from NAME, --from-code=NAME  encoding of the input (any name or alias)\n"
        "  -t, --to NAME, --to-code=NAME      encoding of the output; //TRANSLIT writes ASCII\n"
        "                       stand-ins (\"e\" for e-acute, \"EUR\"), //IGNORE as -c\n"
        "  -c                   leave out what cannot be converted\n"
        "      --replace        write U+FFFD or the target's \"?\" for it instead\n"
        "      --lenient        read C0 80 and encoded surrogates in UTF-8 as characters\n"
        "  -s, --silent         no warnings about what was replaced or left out\n"
        "  -o, --output FILE    write to FILE instead of standard output (replaced at the\n"
        "                       end, so FILE may also be an input)\n"
        "      --add-signature  start the output with a byte-order mark (UTF-8, UTF-16, UTF-32)\n"
        "      --remove-signature  drop a byte-order mark that starts the input\n"
        "  -l, --list           list the encodings, each with its aliases, one a line\n"
        "      --list-pairs     list the converters, one \"FROM TO\" pair a line\n"
        "      --normalize NAME print the canonical name of an encoding\n"
        "      --detect         print the detected encoding of each file (and its\n"
        "                       language, where the encoding tells it)\n"
        "      --data-dir DIR   data directory with conv30/ (default: $ZP_NLS_DATADIRECTORY,\n"
        "                       else the one installed with the library, else the current\n"
        "                       directory if it has conv30/ and the library has none)\n"
        "      --chunk-size N   bytes read and written at a time (default 32768)\n"
        "  -h, --help           show this help\n"
        "  -V, --version        show the version\n"
        "  --                   what follows is a FILE, not an option\n\n"
        "Exit status: 0 converted; 1 a conversion or file failed; 2 wrong usage.\n");
}

struct Options {
    std::string from, to, output, normalize, dataDirectory, chunkSize;
    bool list = false, listPairs = false, detect = false, help = false, version = false;
    bool omit = false, replace = false, silent = false, addSignature = false,
         removeSignature = false, lenient = false;
    std::vector<std::string> files;
};

// Options take their value as the next argument, after "=" (--to-code=X), or
// attached to a one-letter option (-fUTF-8), as iconv accepts them.
bool parseOptions(int argc, char** argv, Options* options) {
    const struct {
        const char* shortName;
        const char* longName;
        std::string Options::*field;
    } valued[] = {{"-f", "--from", &Options::from},
                  {"", "--from-code", &Options::from},
                  {"-t", "--to", &Options::to},
                  {"", "--to-code", &Options::to},
                  {"-o", "--output", &Options::output},
                  {"", "--normalize", &Options::normalize},
                  {"", "--data-dir", &Options::dataDirectory},
                  {"", "--chunk-size", &Options::chunkSize}};
    const struct {
        const char* shortName;
        const char* longName;
        bool Options::*field;
    } flags[] = {{"-l", "--list", &Options::list},
                 {"", "--list-pairs", &Options::listPairs},
                 {"", "--detect", &Options::detect},
                 {"-h", "--help", &Options::help},
                 {"-V", "--version", &Options::version},
                 {"-c", "", &Options::omit},
                 {"", "--replace", &Options::replace},
                 {"", "--lenient", &Options::lenient},
                 {"-s", "--silent", &Options::silent},
                 {"", "--add-signature", &Options::addSignature},
                 {"", "--remove-signature", &Options::removeSignature}};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            options->files.insert(options->files.end(), argv + i + 1, argv + argc);
            break;
        }
        bool known = false;
        for (const auto& option : valued) {
            const std::string shortName = option.shortName, longName = option.longName;
            std::string value;
            bool matched = true;
            if (arg == shortName || arg == longName) {
                if (i + 1 >= argc) {
                    fprintf(stderr, "velta: option '%s' needs a value\n", arg.c_str());
                    return false;
                }
                value = argv[++i];
            } else if (arg.rfind(longName + "=", 0) == 0) {
                value = arg.substr(longName.size() + 1);
            } else if (!shortName.empty() && arg.size() > 2 && arg.rfind(shortName, 0) == 0) {
                value = arg.substr(2);
            } else {
                matched = false;
            }
            if (!matched) continue;
            options->*(option.field) = value;
            known = true;
            break;
        }
        for (const auto& flag : flags) {
            if (known || (arg != flag.shortName && arg != flag.longName) || arg.empty()) continue;
            options->*(flag.field) = true;
            known = true;
        }
        if (known) continue;
        if (arg.size() > 1 && arg[0] == '-') {
            fprintf(stderr, "velta: unknown option '%s'\n", arg.c_str());
            return false;
        }
        options->files.push_back(arg);
    }
    if (!options->chunkSize.empty()) {
        char* end = nullptr;
        const unsigned long size = strtoul(options->chunkSize.c_str(), &end, 10);
        if (*end != '\0' || size == 0 || size > kMaxPiece) {
            fprintf(stderr, "velta: --chunk-size takes a number from 1 to %zu\n", kMaxPiece);
            return false;
        }
    }
    return true;
}

class Input {
public:
    explicit Input(const std::string& name) : fName(name == "-" ? "standard input" : name) {
        fFile = name == "-" ? stdin : fopen(name.c_str(), "rb");
        if (fFile == nullptr) fError = strerror(errno);
    }
    ~Input() {
        if (fFile != nullptr && fFile != stdin) fclose(fFile);
    }
    bool ok() const { return fFile != nullptr; }
    const std::string& name() const { return fName; }
    const std::string& error() const { return fError; }
    // Reads up to `size` bytes; fewer only at the end of the file or on error.
    size_t read(unsigned char* buffer, size_t size) {
        const size_t got = fread(buffer, 1, size, fFile);
        if (got < size && ferror(fFile)) fError = strerror(errno);
        return got;
    }
    // Appends up to `size` bytes; false at the end of the file or on error.
    bool read(std::vector<unsigned char>* buffer, size_t size) {
        const size_t start = buffer->size();
        buffer->resize(start + size);
        const size_t got = read(buffer->data() + start, size);
        buffer->resize(start + got);
        return got != 0;
    }
    bool failed() const { return fFile != nullptr && ferror(fFile); }

private:
    std::string fName;
    std::string fError;
    FILE* fFile;
};

// Says what went wrong with a file, in the form "velta: NAME: REASON".
void reportFileError(const std::string& name, int error) {
    fprintf(stderr, "velta: %s: %s\n", name.c_str(), strerror(error));
}

// Flushes standard output after the listings; false, with a message, when
// it has lost any of them.
bool standardOutputWritten() {
    if (fflush(stdout) == 0 && !ferror(stdout)) return true;
    reportFileError("standard output", errno);
    return false;
}

#if defined(_WIN32)
int openExclusive(const std::string& path) {
    return _open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
}
bool replaceFile(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    errno = EACCES;
    return false;
}
void keepPermissions(int, const struct stat&) {}
#else
int openExclusive(const std::string& path) {
    return open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0666);
}
bool replaceFile(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}
// A replaced file keeps its permission bits, as sed -i keeps them.
void keepPermissions(int descriptor, const struct stat& target) {
    if (fchmod(descriptor, target.st_mode & 07777) != 0) {
        // Then it has the bits of a new file: the text still gets written.
    }
}
#endif

// Where the converted text goes: standard output, or a file written under a
// temporary name beside it and renamed over it at the end (as sort -o and
// sed -i do), so that an output that is also an input is read whole before
// it is replaced, and a run that converts nothing leaves it as it was. A
// target that is not a regular file (a device, a pipe) is written directly.
class Output {
public:
    ~Output() {
        if (fFile != nullptr && fFile != stdout) fclose(fFile);
        if (!fTemporary.empty()) remove(fTemporary.c_str());
    }
    // Opens the output; false, with a message, when it cannot.
    bool open(const std::string& target) {
        if (target.empty() || target == "-") {
            fFile = stdout;
            fName = "standard output";
            return true;
        }
        fName = target;
        struct stat existing;
        const bool exists = stat(target.c_str(), &existing) == 0;
        if (exists && !S_ISREG(existing.st_mode)) {
            fFile = fopen(target.c_str(), "wb");
            if (fFile == nullptr) reportFileError(fName, errno);
            return fFile != nullptr;
        }
        int descriptor = -1;
        for (unsigned attempt = 0; descriptor < 0 && attempt < 100; ++attempt) {
            fTemporary =
                target + ".velta-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
            descriptor = openExclusive(fTemporary);
            if (descriptor < 0 && errno != EEXIST) break;
        }
        if (descriptor < 0) {
            reportFileError(fName, errno);
            fTemporary.clear();
            return false;
        }
        if (exists) keepPermissions(descriptor, existing);
        fFile = fdopen(descriptor, "wb");
        if (fFile == nullptr) {
            reportFileError(fName, errno);
            close(descriptor);
            return false;
        }
        return true;
    }
    // Writes all of `bytes`; false, with a message the first time, when it
    // cannot.
    bool write(const unsigned char* bytes, size_t size) {
        if (fFailed) return false;
        if (size == 0 || fwrite(bytes, 1, size, fFile) == size) return true;
        return fail(errno);
    }
    // Flushes and closes the output, and with `keep` puts it in place of the
    // target; without, the target stays as it was. False, with a message,
    // when the output is not all written.
    bool finish(bool keep) {
        if (!fFailed && (fflush(fFile) != 0 || ferror(fFile))) fail(errno);
        if (fFile != stdout) {
            FILE* file = fFile;
            fFile = nullptr;
            if (fclose(file) != 0 && !fFailed) fail(errno);
        }
        if (fTemporary.empty()) return !fFailed;
        if (keep && !fFailed && !replaceFile(fTemporary, fName)) fail(errno);
        if (!keep || fFailed) remove(fTemporary.c_str());
        fTemporary.clear();
        return !fFailed;
    }
    bool failed() const { return fFailed; }

private:
    bool fail(int error) {
        if (!fFailed) reportFileError(fName, error);
        fFailed = true;
        return false;
    }
    FILE* fFile = nullptr;
    std::string fName;
    std::string fTemporary;  // the file written until it replaces the target
    bool fFailed = false;
};

// Counts the characters of a text in an encoding, fed in pieces: each is
// decoded to UTF-32, and a character that a piece cuts counts in the next.
class CharacterCounter {
public:
    explicit CharacterCounter(const char* encoding) {
        if (NLS_NewEncodingConverter(encoding, "UTF-32LE", &fObject) != NLS_SUCCESS)
            fObject = nullptr;
    }
    ~CharacterCounter() {
        if (fObject != nullptr) NLS_DeleteEncodingConverter(fObject);
    }
    CharacterCounter(const CharacterCounter&) = delete;
    CharacterCounter& operator=(const CharacterCounter&) = delete;
    bool available() const { return fObject != nullptr; }
    void restart() { NLS_ResetEncodingConverter(fObject); }
    // The characters that `bytes` complete.
    uint64_t count(const unsigned char* bytes, size_t size) {
        unsigned char decoded[4096];
        uint64_t characters = 0;
        size_t at = 0;
        NLS_Status status;
        do {
            uint32_t read = 0, written = 0;
            status = NLS_ConvertStream(fObject, bytes + at, static_cast<uint32_t>(size - at),
                                       decoded, sizeof decoded, 0, &read, &written);
            at += read;
            characters += written / 4;
        } while (status == NLS_RESULT_TRUNCATED);
        return characters;
    }

private:
    EncodingConverter* fObject = nullptr;
};

// Where a byte offset of the input lies: line, and column counted in
// characters of the input, for encodings in which a line feed is the byte
// 0x0A. Only the bytes of the line at hand are decoded again, when an error
// needs its column, or a piece at a time when the line grows long.
class LinePosition {
public:
    LinePosition(const char* encoding, bool counted) : fCounted(counted), fCounter(encoding) {}
    // Takes note of `size` bytes read at `offset`.
    void read(const unsigned char* bytes, size_t size, uint64_t offset) {
        if (!fCounted) return;
        size_t lineStart = 0;
        for (size_t i = 0; i < size; ++i) {
            if (bytes[i] != '\n') continue;
            ++fLines;
            lineStart = i + 1;
            fLineStart = offset + i + 1;
        }
        if (lineStart != 0) startLine();
        fLine.insert(fLine.end(), bytes + lineStart, bytes + size);
        if (fLine.size() >= kLongLine && fCounter.available()) {
            fColumnCharacters += fCounter.count(fLine.data(), fLine.size());
            fLine.clear();
        }
    }
    // " (line L, column C)" for an offset at or after the bytes noted last,
    // in the bytes now at hand, which start at `bytesOffset`; "" when not
    // counted.
    std::string describe(uint64_t target, const unsigned char* bytes, uint64_t bytesOffset) {
        if (!fCounted) return "";
        uint64_t lines = fLines, lineStart = fLineStart;
        for (uint64_t at = bytesOffset; at < target; ++at) {
            if (bytes[at - bytesOffset] != '\n') continue;
            ++lines;
            lineStart = at + 1;
        }
        if (lineStart >= bytesOffset && lineStart != fLineStart) startLine();
        const uint64_t from = lineStart > bytesOffset ? lineStart - bytesOffset : 0;
        const uint64_t to = target > bytesOffset ? target - bytesOffset : 0;
        uint64_t column = 1;
        if (!fCounter.available()) {
            column += target >= lineStart ? target - lineStart : 0;
        } else if (to >= from) {
            column += fColumnCharacters + fCounter.count(fLine.data(), fLine.size()) +
                      fCounter.count(bytes + from, static_cast<size_t>(to - from));
        }
        return " (line " + std::to_string(lines + 1) + ", column " + std::to_string(column) + ")";
    }

private:
    static const size_t kLongLine = 64 * 1024;
    void startLine() {
        fLine.clear();
        fColumnCharacters = 0;
        if (fCounter.available()) fCounter.restart();
    }
    bool fCounted;
    CharacterCounter fCounter;
    uint64_t fLines = 0;
    uint64_t fLineStart = 0;
    std::vector<unsigned char> fLine;  // bytes of the line not yet counted
    uint64_t fColumnCharacters = 0;    // characters of the line counted so far
};

// A line on standard error, when it is a terminal, for inputs past a few
// megabytes: bytes done and the rate, redrawn about once a second.
class Progress {
public:
    explicit Progress(bool wanted) : fShown(wanted && isatty(fileno(stderr))), fStart(now()) {}
    ~Progress() {
        if (fDrawn) fprintf(stderr, "\n");
    }
    void update(uint64_t bytes) {
        if (!fShown || bytes < kThreshold) return;
        const double elapsed = now() - fStart;
        if (elapsed - fLastDrawn < 1.0) return;
        fLastDrawn = elapsed;
        fDrawn = true;
        fprintf(stderr, "\rvelta: %llu MB converted, %.0f MB/s ",
                static_cast<unsigned long long>(bytes >> 20), bytes / 1048576.0 / elapsed);
    }

private:
    static double now() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    static const uint64_t kThreshold = 8u << 20;
    bool fShown;
    bool fDrawn = false;
    double fStart;
    double fLastDrawn = 0;
};

struct Conversion {
    EncodingConverter* object;
    Output* out;
    const char* from;
    size_t chunkSize;
    bool linesCounted;
    bool silent;
    int32_t policy;
    std::vector<unsigned char> skippedPrefix;  // a byte-order mark to drop, or empty
};

void warnAboutSubstitutions(const Conversion& conversion, const std::string& name) {
    NLS_ConversionReport report = {0, NLS_NO_SUBSTITUTION, 0};
    NLS_GetConversionReport(conversion.object, &report);
    if (conversion.silent || report.substituted == 0) return;
    fprintf(stderr, "velta: %s: %u character%s %s, the first at byte offset %llu\n", name.c_str(),
            report.substituted, report.substituted == 1 ? "" : "s",
            conversion.policy == NLS_POLICY_SKIP ? "left out" : "replaced",
            static_cast<unsigned long long>(report.firstOffset));
}

// Streams one input through the conversion object in blocks of `chunkSize`
// bytes: the library joins characters, runs and modes that a block cuts, so
// memory stays flat and the output equals a conversion of the whole input.
bool convertStream(const Conversion& conversion, Input& input) {
    const size_t chunkSize = conversion.chunkSize;
    std::vector<unsigned char> block(chunkSize);
    std::vector<unsigned char> output(chunkSize < kMinOutputSize ? kMinOutputSize : chunkSize);
    LinePosition position(conversion.from, conversion.linesCounted);
    Progress progress(!conversion.silent);
    uint64_t offset = 0;  // input bytes converted before the block
    bool first = true;
    for (;;) {
        size_t got = input.read(block.data(), chunkSize);
        if (input.failed()) {
            fprintf(stderr, "velta: %s: %s\n", input.name().c_str(), input.error().c_str());
            return false;
        }
        const bool last = got < chunkSize;
        size_t start = 0;
        const std::vector<unsigned char>& mark = conversion.skippedPrefix;
        if (first && !mark.empty() && got >= mark.size() &&
            memcmp(block.data(), mark.data(), mark.size()) == 0)
            start = mark.size();
        first = false;
        size_t at = start;
        NLS_Status status;
        do {
            uint32_t read = 0, written = 0;
            status = NLS_ConvertStream(conversion.object, block.data() + at,
                                       static_cast<uint32_t>(got - at), output.data(),
                                       static_cast<uint32_t>(output.size()), last, &read, &written);
            at += read;
            if (!conversion.out->write(output.data(), written)) return false;
        } while (status == NLS_RESULT_TRUNCATED);
        if (status < 0) {
            NLS_ConversionReport report = {0, NLS_NO_SUBSTITUTION, 0};
            NLS_GetConversionReport(conversion.object, &report);
            const bool stopped = status == NLS_INVALID_INPUT || status == NLS_UNMAPPABLE;
            const uint64_t where =
                (stopped && report.firstKind != NLS_NO_SUBSTITUTION ? report.firstOffset
                                                                    : offset + at - start) +
                start;
            fprintf(stderr, "velta: %s: cannot convert: %s at byte offset %llu%s\n",
                    input.name().c_str(), NLS_GetStatusMessage(status),
                    static_cast<unsigned long long>(where),
                    position.describe(where, block.data(), offset).c_str());
            return false;
        }
        position.read(block.data(), got, offset);
        offset += got;
        progress.update(offset);
        if (last) {
            warnAboutSubstitutions(conversion, input.name());
            return true;
        }
    }
}

// The bytes of U+FEFF in an encoding, or nothing where it has none.
std::vector<unsigned char> byteOrderMark(const char* encoding) {
    unsigned char bytes[16];
    uint32_t written = 0;
    EncodingConverter* object = nullptr;
    std::vector<unsigned char> mark;
    if (NLS_NewEncodingConverter("UTF-8", encoding, &object) != NLS_SUCCESS) return mark;
    NLS_SetConversionPolicy(object, NLS_POLICY_STOP);
    uint32_t read = 0;
    if (NLS_ConvertStream(object, reinterpret_cast<const unsigned char*>("\xEF\xBB\xBF"), 3, bytes,
                          sizeof bytes, 1, &read, &written) == NLS_SUCCESS)
        mark.assign(bytes, bytes + written);
    NLS_DeleteEncodingConverter(object);
    return mark;
}

bool lineFeedIsTheByte0A(const char* encoding) {
    unsigned char bytes[16];
    uint32_t written = 0;
    return NLS_ConvertBuffer("UTF-8", encoding, reinterpret_cast<const unsigned char*>("\n"), 1,
                             bytes, sizeof bytes, &written) == NLS_SUCCESS &&
           written == 1 && bytes[0] == '\n';
}

bool isMarkedForm(const char* encoding) {
    const std::string canonical = NLS_GetNormalizedEncodingName(encoding);
    return canonical == "UTF-16" || canonical == "UTF-32";
}

// The encoding of the locale's text (setlocale(LC_ALL, "") has run), as
// iconv takes it for an encoding left out: nl_langinfo(CODESET), which in
// the C locale names ASCII; on Windows the ANSI code page.
const std::string& localeEncoding() {
    static const std::string encoding = [] {
#if defined(_WIN32)
        const unsigned page = GetACP();
        return page == 65001 ? std::string("UTF-8") : "cp" + std::to_string(page);
#else
        const char* codeset = nl_langinfo(CODESET);
        return std::string(codeset != nullptr && *codeset != '\0' ? codeset : "US-ASCII");
#endif
    }();
    return encoding;
}

int runConversion(const Options& options) {
    // iconv's suffixes of the target name: //TRANSLIT, //IGNORE.
    std::string to = options.to;
    bool transliterate = false, ignore = options.omit;
    for (size_t suffix; (suffix = to.rfind("//")) != std::string::npos; to.erase(suffix)) {
        std::string word = to.substr(suffix + 2);
        for (char& c : word) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        if (word == "TRANSLIT") {
            transliterate = true;
        } else if (word == "IGNORE") {
            ignore = true;
        } else if (!word.empty()) {
            fprintf(stderr, "velta: unknown suffix '//%s' of '%s'\n", word.c_str(),
                    options.to.c_str());
            return kUsage;
        }
    }
    const char* from = options.from.empty() ? localeEncoding().c_str() : options.from.c_str();
    if (to.empty()) to = localeEncoding();
    if (!NLS_EncodingConverterExists(from, to.c_str())) {
        fprintf(stderr, "velta: no conversion from '%s' to '%s'\n", from, to.c_str());
        return kFailed;
    }
    EncodingConverter* object = nullptr;
    if (NLS_NewEncodingConverter(from, to.c_str(), &object) != NLS_SUCCESS) {
        fprintf(stderr, "velta: cannot make a converter from '%s' to '%s'\n", from, to.c_str());
        return kFailed;
    }
    Output output;
    Conversion conversion = {object,         &output,         from, kDefaultChunkSize, false,
                             options.silent, NLS_POLICY_STOP, {}};
    conversion.policy = options.replace ? NLS_POLICY_REPLACE
                        : transliterate ? NLS_POLICY_TRANSLITERATE
                        : ignore        ? NLS_POLICY_SKIP
                                        : NLS_POLICY_STOP;
    NLS_SetConversionPolicy(object, conversion.policy);
    NLS_SetConversionOption(object, NLS_OPTION_STRICT_UNICODE, options.lenient ? 0 : 1);
    conversion.linesCounted = lineFeedIsTheByte0A(from);
    if (options.removeSignature && !isMarkedForm(from))
        conversion.skippedPrefix = byteOrderMark(from);
    if (!options.chunkSize.empty())
        conversion.chunkSize = strtoul(options.chunkSize.c_str(), nullptr, 10);
    if (!output.open(options.output)) {
        NLS_DeleteEncodingConverter(object);
        return kFailed;
    }
    int result = kOk;
    if (options.addSignature && !isMarkedForm(to.c_str())) {
        const std::vector<unsigned char> mark = byteOrderMark(to.c_str());
        if (!output.write(mark.data(), mark.size())) result = kFailed;
    }
    // As iconv: an input that cannot be opened is passed over; a conversion
    // that fails ends the run, after what comes before it.
    std::vector<std::string> files = options.files;
    if (files.empty()) files.push_back("-");
    bool converted = false;
    for (size_t i = 0; !output.failed() && i < files.size(); ++i) {
        Input input(files[i]);
        if (!input.ok()) {
            fprintf(stderr, "velta: %s: %s\n", files[i].c_str(), input.error().c_str());
            result = kFailed;
            continue;
        }
        converted = true;
        if (!convertStream(conversion, input)) {
            result = kFailed;
            break;
        }
    }
    NLS_DeleteEncodingConverter(object);
    if (!output.finish(converted)) result = kFailed;
    return result;
}

// One line an encoding: "NAME: ALIAS ALIAS ...".
void printEncodingName(const char* encoding, const char* alias, void* context) {
    bool* lineOpen = static_cast<bool*>(context);
    if (alias != nullptr) {
        printf(" %s", alias);
        return;
    }
    printf("%s%s:", *lineOpen ? "\n" : "", encoding);
    *lineOpen = true;
}

int listEncodings() {
    bool lineOpen = false;
    const NLS_Status status = NLS_ListEncodingNames(&printEncodingName, &lineOpen);
    if (lineOpen) printf("\n");
    return status == NLS_SUCCESS ? kOk : kFailed;
}

// Prints the canonical name of an encoding that some converter reads or
// writes; an unknown name is said to be one.
int normalizeName(const char* name) {
    const char* canonical = NLS_GetNormalizedEncodingName(name);
    if (strcmp(canonical, "ISO-10646-UCS-2") != 0 &&
        !NLS_EncodingConverterExists(canonical, "ISO-10646-UCS-2") &&
        !NLS_EncodingConverterExists("ISO-10646-UCS-2", canonical)) {
        fprintf(stderr, "velta: unknown encoding '%s'\n", name);
        return kFailed;
    }
    printf("%s\n", canonical);
    return kOk;
}

int listConverters() {
    EncondingConverterList* list = nullptr;
    if (NLS_NewEncodingConverterEnumeration("*", "*", &list) != NLS_SUCCESS) return kFailed;
    uint32_t count = 0;
    NLS_CountEncodingConverters(list, &count);
    for (uint32_t i = 0; i < count; ++i) {
        char from[NLS_NAME_BUFFER_SIZE], to[NLS_NAME_BUFFER_SIZE];
        if (NLS_GetEncodingConverterListItem(list, i, from, to) == NLS_SUCCESS)
            printf("%s %s\n", from, to);
    }
    NLS_DeleteEncodingConverterEnumeration(list);
    return kOk;
}

int detectFiles(const std::vector<std::string>& names) {
    std::vector<std::string> files = names;
    if (files.empty()) files.push_back("-");
    int result = kOk;
    for (const std::string& name : files) {
        Input input(name);
        if (!input.ok()) {
            fprintf(stderr, "velta: %s: %s\n", name.c_str(), input.error().c_str());
            result = kFailed;
            continue;
        }
        std::vector<unsigned char> buffer;
        while (buffer.size() < kDetectSize && input.read(&buffer, kDetectSize - buffer.size())) {
        }
        NLS_LanguageGuess guess = {nullptr, 0, ""};
        size_t count = 0;
        const NLS_Status status =
            NLS_GuessEncodingsAndLanguages(buffer.data(), buffer.size(), &guess, 1, &count);
        // The language, where the guess tells it, follows the encoding.
        const bool found = status == NLS_SUCCESS && count != 0;
        printf("%s: %s%s%s\n", input.name().c_str(), found ? guess.encodingName : "unknown",
               found && *guess.language != '\0' ? " " : "", found ? guess.language : "");
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    setlocale(LC_ALL, "");
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        printUsage(stderr);
        return kUsage;
    }
    if (options.help) {
        printUsage(stdout);
        return standardOutputWritten() ? kOk : kFailed;
    }
    if (options.version) {
        printf("velta %s\n", kVersion);
        if (strcmp(NLS_GetVersion(), kVersion) != 0) printf("library %s\n", NLS_GetVersion());
        return standardOutputWritten() ? kOk : kFailed;
    }
    const int modes =
        options.list + options.listPairs + options.detect + !options.normalize.empty();
    if (modes > 1 || (modes == 1 && (!options.from.empty() || !options.to.empty()))) {
        fprintf(stderr,
                "velta: give one of -f FROM and -t TO, --list, --list-pairs, --normalize NAME "
                "or --detect\n");
        printUsage(stderr);
        return kUsage;
    }
    NLS_EncInitialize(nullptr,
                      options.dataDirectory.empty() ? nullptr : options.dataDirectory.c_str());
    int result;
    if (options.list)
        result = listEncodings();
    else if (options.listPairs)
        result = listConverters();
    else if (options.detect)
        result = detectFiles(options.files);
    else if (!options.normalize.empty())
        result = normalizeName(options.normalize.c_str());
    else
        result = runConversion(options);
    if (modes == 1 && !standardOutputWritten()) result = kFailed;
    NLS_EncTerminate();
    return result;
}
