// velta: converts text between encodings with the Velta library, in the
// spirit of iconv. Written against the flat interface only.
//
//   velta -f FROM -t TO [-o OUTPUT] [FILE...]
//   velta -l | --list
//   velta --normalize NAME
//   velta --detect [FILE...]
//
// Input is read in fixed-size blocks and converted as one stream through one
// conversion object (NLS_ConvertStream), so memory stays flat and the output
// equals a conversion of the whole input at once.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "velta/nls.h"

namespace {

const char kVersion[] = "velta 3.2.30";
const size_t kDefaultChunkSize = 32 * 1024;  // bytes read at a time
const size_t kMaxPiece = 256 * 1024;         // the largest block read at a time
const uint32_t kMinOutputSize = 64;          // room for the longest form of any character
const size_t kDetectSize = 1024 * 1024;      // bytes of a file examined by --detect

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2 };

const char* statusName(NLS_Status status) {
    switch (status) {
        case NLS_SUCCESS:
            return "NLS_SUCCESS";
        case NLS_RESULT_TRUNCATED:
            return "NLS_RESULT_TRUNCATED";
        case NLS_OUT_OF_MEMORY:
            return "NLS_OUT_OF_MEMORY";
        case NLS_NO_SOURCE_CONVERTER:
            return "NLS_NO_SOURCE_CONVERTER";
        case NLS_NO_TARGET_CONVERTER:
            return "NLS_NO_TARGET_CONVERTER";
        case NLS_INVALID_PARAMETER:
            return "NLS_INVALID_PARAMETER";
        case NLS_TABLE_NOT_LOADED:
            return "NLS_TABLE_NOT_LOADED";
        case NLS_NO_CONVERTER:
            return "NLS_NO_CONVERTER";
        case NLS_ENUMERATION_NOT_MADE:
            return "NLS_ENUMERATION_NOT_MADE";
        case NLS_NOT_DETECTED:
            return "NLS_NOT_DETECTED";
        case NLS_NOT_INITIALIZED:
            return "NLS_NOT_INITIALIZED";
        case NLS_LIBRARY_NOT_LOADED:
            return "NLS_LIBRARY_NOT_LOADED";
        case NLS_CONVERTER_NOT_FOUND:
            return "NLS_CONVERTER_NOT_FOUND";
        case NLS_INVALID_INPUT:
            return "NLS_INVALID_INPUT";
        case NLS_OUTPUT_FULL:
            return "NLS_OUTPUT_FULL";
        case NLS_SEQUENCE_INCOMPLETE:
            return "NLS_SEQUENCE_INCOMPLETE";
        case NLS_ENTRY_POINT_NOT_FOUND:
            return "NLS_ENTRY_POINT_NOT_FOUND";
        default:
            return "unknown status";
    }
}

void printUsage(FILE* out) {
    fprintf(out,
            "Usage: velta -f FROM -t TO [-o OUTPUT] [FILE...]\n"
            "       velta -l | --list\n"
            "       velta --normalize NAME\n"
            "       velta --detect [FILE...]\n"
            "Converts text between encodings; FILE \"-\" or none reads standard input.\n\n"
            "Options:\n"
            "  -f, --from NAME      encoding of the input (any name or alias the registry knows)\n"
            "  -t, --to NAME        encoding of the output\n"
            "  -o, --output FILE    write to FILE instead of standard output\n"
            "  -l, --list           list the encodings, each with its aliases, one a line\n"
            "      --list-pairs     list the converters, one \"FROM TO\" pair a line\n"
            "      --normalize NAME print the canonical name of an encoding\n"
            "      --detect         print the detected encoding of each file\n"
            "      --data-dir DIR   data directory with conv30/ (default: $ZP_NLS_DATADIRECTORY)\n"
            "      --chunk-size N   bytes read and written at a time (default 32768)\n"
            "  -h, --help           show this help\n"
            "  -V, --version        show the version\n");
}

struct Options {
    std::string from, to, output, normalize, dataDirectory, chunkSize;
    bool list = false, listPairs = false, detect = false, help = false, version = false;
    std::vector<std::string> files;
};

bool parseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string* target) {
            if (i + 1 >= argc) {
                fprintf(stderr, "velta: option '%s' needs a value\n", arg.c_str());
                return false;
            }
            *target = argv[++i];
            return true;
        };
        if (arg == "-f" || arg == "--from") {
            if (!value(&options->from)) return false;
        } else if (arg == "-t" || arg == "--to") {
            if (!value(&options->to)) return false;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(&options->output)) return false;
        } else if (arg == "--normalize") {
            if (!value(&options->normalize)) return false;
        } else if (arg == "--data-dir") {
            if (!value(&options->dataDirectory)) return false;
        } else if (arg == "--chunk-size") {
            if (!value(&options->chunkSize)) return false;
            char* end = nullptr;
            const unsigned long size = strtoul(options->chunkSize.c_str(), &end, 10);
            if (*end != '\0' || size == 0 || size > kMaxPiece) {
                fprintf(stderr, "velta: --chunk-size takes a number from 1 to %zu\n", kMaxPiece);
                return false;
            }
        } else if (arg == "-l" || arg == "--list") {
            options->list = true;
        } else if (arg == "--list-pairs") {
            options->listPairs = true;
        } else if (arg == "--detect") {
            options->detect = true;
        } else if (arg == "-h" || arg == "--help") {
            options->help = true;
        } else if (arg == "-V" || arg == "--version") {
            options->version = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            fprintf(stderr, "velta: unknown option '%s'\n", arg.c_str());
            return false;
        } else {
            options->files.push_back(arg);
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

bool writeAll(FILE* out, const unsigned char* bytes, size_t size) {
    if (size == 0 || fwrite(bytes, 1, size, out) == size) return true;
    fprintf(stderr, "velta: cannot write the output: %s\n", strerror(errno));
    return false;
}

// Streams one input through the conversion object in blocks of `chunkSize`
// bytes: the library joins characters, runs and modes that a block cuts, so
// memory stays flat and the output equals a conversion of the whole input.
bool convertStream(EncodingConverter* object, Input& input, size_t chunkSize, FILE* out) {
    std::vector<unsigned char> block(chunkSize);
    std::vector<unsigned char> output(chunkSize < kMinOutputSize ? kMinOutputSize : chunkSize);
    uint64_t offset = 0;  // input bytes converted before the block
    for (;;) {
        const size_t got = input.read(block.data(), chunkSize);
        if (input.failed()) {
            fprintf(stderr, "velta: %s: %s\n", input.name().c_str(), input.error().c_str());
            return false;
        }
        const bool last = got < chunkSize;
        size_t position = 0;
        NLS_Status status;
        do {
            uint32_t read = 0, written = 0;
            status = NLS_ConvertStream(object, block.data() + position,
                                       static_cast<uint32_t>(got - position), output.data(),
                                       static_cast<uint32_t>(output.size()), last, &read, &written);
            position += read;
            if (!writeAll(out, output.data(), written)) return false;
        } while (status == NLS_RESULT_TRUNCATED);
        if (status < 0) {
            fprintf(stderr, "velta: %s: %s (%s) at byte offset %llu\n", input.name().c_str(),
                    status == NLS_SEQUENCE_INCOMPLETE
                        ? "incomplete sequence at the end of the input"
                    : status == NLS_INVALID_INPUT ? "invalid input"
                                                  : "conversion failed",
                    statusName(status), static_cast<unsigned long long>(offset + position));
            return false;
        }
        offset += position;
        if (last) return true;
    }
}

int runConversion(const Options& options) {
    if (!NLS_EncodingConverterExists(options.from.c_str(), options.to.c_str())) {
        fprintf(stderr, "velta: no conversion from '%s' to '%s'\n", options.from.c_str(),
                options.to.c_str());
        return kFailed;
    }
    EncodingConverter* object = nullptr;
    if (NLS_NewEncodingConverter(options.from.c_str(), options.to.c_str(), &object) !=
        NLS_SUCCESS) {
        fprintf(stderr, "velta: cannot make a converter from '%s' to '%s'\n", options.from.c_str(),
                options.to.c_str());
        return kFailed;
    }
    FILE* out = stdout;
    if (!options.output.empty() && options.output != "-") {
        out = fopen(options.output.c_str(), "wb");
        if (out == nullptr) {
            fprintf(stderr, "velta: %s: %s\n", options.output.c_str(), strerror(errno));
            NLS_DeleteEncodingConverter(object);
            return kFailed;
        }
    }
    const size_t chunkSize = options.chunkSize.empty()
                                 ? kDefaultChunkSize
                                 : strtoul(options.chunkSize.c_str(), nullptr, 10);
    int result = kOk;
    std::vector<std::string> files = options.files;
    if (files.empty()) files.push_back("-");
    for (size_t i = 0; result == kOk && i < files.size(); ++i) {
        Input input(files[i]);
        if (!input.ok()) {
            fprintf(stderr, "velta: %s: %s\n", files[i].c_str(), input.error().c_str());
            result = kFailed;
            break;
        }
        if (!convertStream(object, input, chunkSize, out)) result = kFailed;
    }
    NLS_DeleteEncodingConverter(object);
    if (fflush(out) != 0) result = kFailed;
    if (out != stdout) fclose(out);
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
        NLS_DetectedEncoding detected = {nullptr, 0, 0, 0};
        uint32_t count = 0;
        const NLS_Status status = NLS_DetectEncodingForBuffer(
            buffer.data(), static_cast<uint32_t>(buffer.size()), &detected, 1, &count);
        printf("%s: %s\n", input.name().c_str(),
               status == NLS_SUCCESS && count ? detected.encodingName : "unknown");
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        printUsage(stderr);
        return kUsage;
    }
    if (options.help) {
        printUsage(stdout);
        return kOk;
    }
    if (options.version) {
        printf("%s\n", kVersion);
        return kOk;
    }
    const int modes = options.list + options.listPairs + options.detect + !options.normalize.empty() +
                      (!options.from.empty() || !options.to.empty());
    if (modes != 1 || (modes == 1 && (options.from.empty() != options.to.empty()))) {
        fprintf(stderr, "velta: give -f FROM -t TO, --list, --normalize NAME or --detect\n");
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
    else if (!options.normalize.empty()) {
        printf("%s\n", NLS_GetNormalizedEncodingName(options.normalize.c_str()));
        result = kOk;
    } else
        result = runConversion(options);
    NLS_EncTerminate();
    return result;
}
