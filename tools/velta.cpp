// velta: converts text between encodings with the Velta library, in the
// spirit of iconv. Written against the flat interface only.
//
//   velta -f FROM -t TO [-o OUTPUT] [FILE...]
//   velta -l | --list
//   velta --normalize NAME
//   velta --detect [FILE...]
//
// Input is decoded to UCS-2 and encoded to the target as a stream, in pieces
// cut where no converter keeps state (after a line feed in the source, after
// a letter, digit or space in the UCS-2 text), so memory stays bounded and
// the output equals a conversion of the whole input at once.
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
const size_t kMaxPiece = 256 * 1024;         // a piece is cut here even without a line feed
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
            "  -l, --list           list the available converters, one \"FROM TO\" pair a line\n"
            "      --normalize NAME print the canonical name of an encoding\n"
            "      --detect         print the detected encoding of each file\n"
            "      --data-dir DIR   data directory with conv30/ (default: $ZP_NLS_DATADIRECTORY)\n"
            "      --chunk-size N   bytes read and written at a time (default 32768)\n"
            "  -h, --help           show this help\n"
            "  -V, --version        show the version\n");
}

struct Options {
    std::string from, to, output, normalize, dataDirectory, chunkSize;
    bool list = false, detect = false, help = false, version = false;
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
    // Appends up to `size` bytes; false at the end of the file or on error.
    bool read(std::vector<unsigned char>* buffer, size_t size) {
        const size_t start = buffer->size();
        buffer->resize(start + size);
        const size_t got = fread(buffer->data() + start, 1, size, fFile);
        buffer->resize(start + got);
        if (got == 0 && ferror(fFile)) fError = strerror(errno);
        return got != 0;
    }
    bool failed() const { return fFile != nullptr && ferror(fFile); }

private:
    std::string fName;
    std::string fError;
    FILE* fFile;
};

// The width of the code units of an encoding's text: pieces are cut on their
// boundaries.
size_t unitWidth(const char* canonicalName) {
    if (strcmp(canonicalName, "ISO-10646-UCS-2") == 0) return 2;
    if (strcmp(canonicalName, "ISO-10646-UCS-4") == 0) return 4;
    return 1;
}

// Where a piece of source text may end: just after the last line feed unit
// at or after `from` (no decoder keeps state across one) or, in the UTF-7
// forms, after a "-" (which always leaves a base64 run); 0 when there is
// none. A piece that must be cut without one ends at the last unit boundary
// that does not split a UTF-16 surrogate pair.
size_t lastLineEnd(const std::vector<unsigned char>& buffer, size_t from, size_t width,
                   bool hyphenEndsRuns) {
    const size_t whole = buffer.size() - buffer.size() % width;
    from -= from % width;
    for (size_t end = whole; end >= from + width; end -= width) {
        bool lineFeed = buffer[end - width] == '\n' || (hyphenEndsRuns && buffer[end - 1] == '-');
        for (size_t k = 1; k < width; ++k) lineFeed = lineFeed && buffer[end - width + k] == 0;
        if (lineFeed) return end;
    }
    return 0;
}

size_t forcedCut(const std::vector<unsigned char>& buffer, size_t width) {
    const size_t whole = buffer.size() - buffer.size() % width;
    if (width == 2 && whole >= 2) {
        const uint16_t last = static_cast<uint16_t>(buffer[whole - 2] | buffer[whole - 1] << 8);
        if (last >= 0xD800 && last <= 0xDBFF) return whole - 2;
    }
    return whole;
}

// Where UCS-2 text bound for an encoder may end: just after a letter, digit
// or space, which every encoder writes as itself outside any base64 run, so
// no encoder carries state across the cut. 0 when there is none.
size_t lastPlainUnit(const std::vector<unsigned char>& units) {
    for (size_t end = units.size() - units.size() % 2; end >= 2; end -= 2) {
        const unsigned low = units[end - 2], high = units[end - 1];
        if (high == 0 && (low == ' ' || (low >= '0' && low <= '9') || (low >= 'A' && low <= 'Z') ||
                          (low >= 'a' && low <= 'z')))
            return end;
    }
    return 0;
}

// One conversion object and the documented drain: while the status is 2, or
// input is carried and the last call made progress.
class Stage {
public:
    Stage(EncodingConverter* object, uint32_t outputSize)
        : fObject(object), fOutputSize(outputSize), fOutput(outputSize) {}
    ~Stage() {
        if (fObject != nullptr) NLS_DeleteEncodingConverter(fObject);
    }
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    // Appends the output to `produced`; `remainder` is the unconsumed tail.
    NLS_Status convert(const unsigned char* data, size_t size, std::vector<unsigned char>* produced,
                       size_t* remainder) {
        uint32_t written = 0;
        NLS_Status status = NLS_ConvertStreamBuffer(fObject, data, static_cast<uint32_t>(size),
                                                    fOutput.data(), fOutputSize, &written);
        produced->insert(produced->end(), fOutput.begin(), fOutput.begin() + written);
        uint32_t overflow = 0;
        NLS_GetConversionOverflowSize(fObject, &overflow);
        bool progressed = true;
        while (status == NLS_RESULT_TRUNCATED ||
               (overflow != 0 && progressed && status != NLS_INVALID_INPUT)) {
            const uint32_t before = overflow;
            status = NLS_ConverterGetOverflow(fObject, fOutput.data(), fOutputSize, &written);
            produced->insert(produced->end(), fOutput.begin(), fOutput.begin() + written);
            NLS_GetConversionOverflowSize(fObject, &overflow);
            progressed = written != 0 || overflow < before;
            if (!progressed && status == NLS_RESULT_TRUNCATED) break;
        }
        *remainder = overflow / 7;
        return status;
    }
    void reset() { NLS_ResetEncodingConverter(fObject); }

private:
    EncodingConverter* fObject;
    uint32_t fOutputSize;
    std::vector<unsigned char> fOutput;
};

// Source text to UCS-2 (the decoding stage), UCS-2 to target text (the
// encoding stage): the chain a conversion object would build, run in pieces
// cut where neither stage keeps state.
class Pipeline {
public:
    Pipeline(const char* from, const char* to, FILE* out, uint32_t outputSize)
        : fFrom(from), fTo(to), fOut(out), fOutputSize(outputSize) {}

    bool open() {
        if (strcmp(fFrom, kUcs2) != 0 && !make(fFrom, kUcs2, &fDecoder)) return false;
        if (strcmp(fTo, kUcs2) != 0 && !make(kUcs2, fTo, &fEncoder)) return false;
        return true;
    }

    void reset() {
        if (fDecoder) fDecoder->reset();
        if (fEncoder) fEncoder->reset();
        fUnits.clear();
    }

    // Decodes one piece of source text; what a cut character left behind is
    // returned in `carried`. False on an error (reported).
    bool decodePiece(const unsigned char* data, size_t size, uint64_t offset, bool last,
                     const std::string& name, std::vector<unsigned char>* carried) {
        if (size == 0) {
            carried->clear();
            return encodeUnits(last);
        }
        if (!fDecoder) {  // the source is UCS-2 itself
            fUnits.insert(fUnits.end(), data, data + size);
            carried->clear();
            return encodeUnits(last);
        }
        size_t remainder = 0;
        const size_t before = fUnits.size();
        const NLS_Status status = fDecoder->convert(data, size, &fUnits, &remainder);
        if (status == NLS_INVALID_INPUT) {
            fUnits.resize(before);
            return reportInvalidLine(data, size, offset, name);
        }
        carried->assign(data + size - remainder, data + size);
        const bool cutCharacter = status == NLS_SEQUENCE_INCOMPLETE && !last;
        if ((status >= 0 && remainder == 0) || cutCharacter)
            return encodeUnits(last && remainder == 0);
        encodeUnits(true);
        fprintf(stderr, "velta: %s: %s (%s) at byte offset %llu\n", name.c_str(),
                status == NLS_SEQUENCE_INCOMPLETE ? "incomplete sequence at the end of the input"
                                                  : "conversion failed",
                statusName(status), static_cast<unsigned long long>(offset + size - remainder));
        return false;
    }

private:
    static constexpr const char* kUcs2 = "ISO-10646-UCS-2";

    bool make(const char* from, const char* to, std::unique_ptr<Stage>* stage) {
        EncodingConverter* object = nullptr;
        if (NLS_NewEncodingConverter(from, to, &object) != NLS_SUCCESS) return false;
        stage->reset(new Stage(object, fOutputSize));
        return true;
    }

    // Encodes the UCS-2 text gathered so far up to its last safe cut (all of
    // it at the end) and writes the result.
    bool encodeUnits(bool all) {
        const size_t cut = all ? fUnits.size() : lastPlainUnit(fUnits);
        if (cut == 0) return true;
        bool ok = true;
        if (!fEncoder) {
            ok = write(fUnits.data(), cut);
        } else {
            std::vector<unsigned char> produced;
            size_t remainder = 0;
            const NLS_Status status = fEncoder->convert(fUnits.data(), cut, &produced, &remainder);
            ok = write(produced.data(), produced.size());
            if (status < 0 && status != NLS_SEQUENCE_INCOMPLETE) {
                fprintf(stderr, "velta: conversion to '%s' failed (%s)\n", fTo, statusName(status));
                ok = false;
            }
        }
        fUnits.erase(fUnits.begin(), fUnits.begin() + static_cast<std::ptrdiff_t>(cut));
        return ok;
    }

    // Finds the first line of the piece that holds invalid input, writes the
    // conversion of the lines before it, and reports where it starts.
    bool reportInvalidLine(const unsigned char* data, size_t size, uint64_t offset,
                           const std::string& name) {
        std::unique_ptr<Stage> fresh;
        size_t start = 0;
        if (make(fFrom, kUcs2, &fresh)) {
            while (start < size) {
                const unsigned char* lineFeed =
                    static_cast<const unsigned char*>(memchr(data + start, '\n', size - start));
                const size_t lineEnd = lineFeed ? static_cast<size_t>(lineFeed - data) + 1 : size;
                std::vector<unsigned char> units;
                size_t remainder = 0;
                if (fresh->convert(data + start, lineEnd - start, &units, &remainder) ==
                    NLS_INVALID_INPUT)
                    break;
                fUnits.insert(fUnits.end(), units.begin(), units.end());
                start = lineEnd;
            }
        }
        encodeUnits(true);
        fprintf(stderr, "velta: %s: invalid input (%s) in the line at byte offset %llu\n",
                name.c_str(), statusName(NLS_INVALID_INPUT),
                static_cast<unsigned long long>(offset + (start < size ? start : 0)));
        return false;
    }

    bool write(const unsigned char* bytes, size_t size) {
        if (size == 0) return true;
        if (fwrite(bytes, 1, size, fOut) != size) {
            fprintf(stderr, "velta: cannot write the output: %s\n", strerror(errno));
            return false;
        }
        return true;
    }

    const char* fFrom;
    const char* fTo;
    FILE* fOut;
    uint32_t fOutputSize;
    std::unique_ptr<Stage> fDecoder;
    std::unique_ptr<Stage> fEncoder;
    std::vector<unsigned char> fUnits;  // decoded text not yet encoded
};

bool convertStream(Pipeline& pipeline, Input& input, const char* from, size_t chunkSize) {
    const size_t width = unitWidth(from);
    const bool hyphenEndsRuns =
        strcmp(from, "UNICODE-1-1-UTF-7") == 0 || strcmp(from, "IMAP-MODIFIED-UTF-7") == 0;
    std::vector<unsigned char> buffer;
    std::vector<unsigned char> carried;
    uint64_t offset = 0;
    size_t scanned = 0;  // bytes of the buffer already searched for a line feed
    bool more = true;
    while (more) {
        more = input.read(&buffer, chunkSize);
        if (input.failed()) {
            fprintf(stderr, "velta: %s: %s\n", input.name().c_str(), input.error().c_str());
            return false;
        }
        size_t cut = buffer.size();
        if (more) {
            cut = lastLineEnd(buffer, scanned, width, hyphenEndsRuns);
            scanned = buffer.size();
            if (cut == 0 && buffer.size() >= kMaxPiece) cut = forcedCut(buffer, width);
            if (cut == 0) continue;
        }
        const bool last = !more;
        if (!pipeline.decodePiece(buffer.data(), cut, offset, last, input.name(), &carried))
            return false;
        // What the piece did not consume goes in front of the rest.
        offset += cut - carried.size();
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(cut));
        buffer.insert(buffer.begin(), carried.begin(), carried.end());
        scanned = carried.size();
    }
    return true;
}

int runConversion(const Options& options) {
    if (!NLS_EncodingConverterExists(options.from.c_str(), options.to.c_str())) {
        fprintf(stderr, "velta: no conversion from '%s' to '%s'\n", options.from.c_str(),
                options.to.c_str());
        return kFailed;
    }
    FILE* out = stdout;
    if (!options.output.empty() && options.output != "-") {
        out = fopen(options.output.c_str(), "wb");
        if (out == nullptr) {
            fprintf(stderr, "velta: %s: %s\n", options.output.c_str(), strerror(errno));
            return kFailed;
        }
    }
    const char* from = NLS_GetNormalizedEncodingName(options.from.c_str());
    const char* to = NLS_GetNormalizedEncodingName(options.to.c_str());
    const size_t chunkSize = options.chunkSize.empty()
                                 ? kDefaultChunkSize
                                 : strtoul(options.chunkSize.c_str(), nullptr, 10);
    const uint32_t outputSize =
        static_cast<uint32_t>(chunkSize < kMinOutputSize ? kMinOutputSize : chunkSize);
    Pipeline pipeline(from, to, out, outputSize);
    int result = kOk;
    if (!pipeline.open()) {
        fprintf(stderr, "velta: cannot make a converter from '%s' to '%s'\n", options.from.c_str(),
                options.to.c_str());
        result = kFailed;
    }
    std::vector<std::string> files = options.files;
    if (files.empty()) files.push_back("-");
    for (size_t i = 0; result == kOk && i < files.size(); ++i) {
        Input input(files[i]);
        if (!input.ok()) {
            fprintf(stderr, "velta: %s: %s\n", files[i].c_str(), input.error().c_str());
            result = kFailed;
            break;
        }
        pipeline.reset();
        if (!convertStream(pipeline, input, from, chunkSize)) result = kFailed;
    }
    if (fflush(out) != 0) result = kFailed;
    if (out != stdout) fclose(out);
    return result;
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
    const int modes = options.list + options.detect + !options.normalize.empty() +
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
