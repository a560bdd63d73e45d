// Velta for C++17: a header-only layer over the flat functions of nls.h.
//
//   velta::Result r = velta::convert("UTF-8", "latin1", "caf\xC3\xA9");
//   if (r) use(r.output); else std::cerr << r.message << " at byte " << r.offset;
//
//   velta::Converter c("UTF-16", "UTF-8");            // a stream, fed in pieces
//   std::string out;
//   c.feed(piece, /*last=*/false, out);               // appends to out
//   c.feed(rest, /*last=*/true, [](const char* p, size_t n) { write(p, n); });
//
// Nothing here throws but convert_or_throw and the allocations of
// std::string and std::vector.
#ifndef VELTA_VELTA_HPP
#define VELTA_VELTA_HPP

#include <stddef.h>
#include <stdint.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "velta/nls.h"
#include "velta/version.h"

namespace velta {

enum class Policy : int32_t {
    replace = NLS_POLICY_REPLACE,
    stop = NLS_POLICY_STOP,
    skip = NLS_POLICY_SKIP,
    transliterate = NLS_POLICY_TRANSLITERATE
};

// A conversion's outcome: the output, and on failure the status, its
// description and the input offset it happened at.
struct Result {
    std::string output;
    NLS_Status status = NLS_SUCCESS;
    std::string message;
    uint64_t offset = 0;
    NLS_ConversionReport report = {0, NLS_NO_SUBSTITUTION, 0};

    bool ok() const { return status >= 0; }
    explicit operator bool() const { return ok(); }
};

// The exception of convert_or_throw.
class Error : public std::runtime_error {
public:
    Error(NLS_Status status, uint64_t offset, const std::string& message)
        : std::runtime_error(message), fStatus(status), fOffset(offset) {}
    NLS_Status status() const { return fStatus; }
    uint64_t offset() const { return fOffset; }

private:
    NLS_Status fStatus;
    uint64_t fOffset;
};

inline const char* message(NLS_Status status) {
    return NLS_GetStatusMessage(status);
}

// A conversion object: movable, not copyable, released when it goes.
class Converter {
public:
    // Strict by default: C0 80 and encoded surrogates in UTF-8 are
    // malformed input (set_strict_unicode(false) reads them leniently).
    Converter(const char* from, const char* to) {
        fStatus = NLS_NewEncodingConverter(from, to, &fObject);
        set_strict_unicode(true);
    }
    Converter(const std::string& from, const std::string& to)
        : Converter(from.c_str(), to.c_str()) {}
    Converter(Converter&& other) noexcept
        : fObject(std::exchange(other.fObject, nullptr)), fStatus(other.fStatus) {}
    Converter& operator=(Converter&& other) noexcept {
        if (this != &other) {
            release();
            fObject = std::exchange(other.fObject, nullptr);
            fStatus = other.fStatus;
        }
        return *this;
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() { release(); }

    // Whether the conversion exists; status() says why not.
    bool valid() const { return fObject != nullptr; }
    explicit operator bool() const { return valid(); }
    NLS_Status status() const { return fStatus; }

    NLS_Status set_policy(Policy policy) {
        return valid() ? NLS_SetConversionPolicy(fObject, static_cast<int32_t>(policy)) : fStatus;
    }
    NLS_Status set_strict_unicode(bool strict) {
        return valid() ? NLS_SetConversionOption(fObject, NLS_OPTION_STRICT_UNICODE, strict ? 1 : 0)
                       : fStatus;
    }
    NLS_ConversionReport report() const {
        NLS_ConversionReport report = {0, NLS_NO_SUBSTITUTION, 0};
        if (valid()) NLS_GetConversionReport(fObject, &report);
        return report;
    }
    void reset() {
        if (valid()) NLS_ResetEncodingConverter(fObject);
    }

    // Converts one piece of a stream (cut anywhere) and gives its output to
    // `sink`: a std::string to append to, or a callable (const char*, size_t).
    // `last` ends the text. Returns 1, or a negative status.
    template <typename Sink>
    NLS_Status feed(std::string_view piece, bool last, Sink&& sink) {
        if (!valid()) return fStatus;
        unsigned char buffer[4096];
        const unsigned char* data = reinterpret_cast<const unsigned char*>(piece.data());
        size_t position = 0;
        NLS_Status status;
        do {
            uint32_t read = 0, written = 0;
            status = NLS_ConvertStream(fObject, data + position,
                                       static_cast<uint32_t>(piece.size() - position), buffer,
                                       sizeof buffer, last ? 1 : 0, &read, &written);
            position += read;
            deliver(sink, reinterpret_cast<const char*>(buffer), written);
        } while (status == NLS_RESULT_TRUNCATED);
        return status;
    }

    EncodingConverter* handle() const { return fObject; }

private:
    static void deliver(std::string& sink, const char* bytes, size_t size) {
        sink.append(bytes, size);
    }
    template <typename Callable>
    static void deliver(Callable& sink, const char* bytes, size_t size) {
        if (size != 0) sink(bytes, size);
    }
    void release() {
        if (fObject != nullptr) NLS_DeleteEncodingConverter(fObject);
        fObject = nullptr;
    }

    EncodingConverter* fObject = nullptr;
    NLS_Status fStatus = NLS_SUCCESS;
};

// Converts a whole text. With Policy::stop, a malformed or unmappable
// character ends it: the output holds what came before, and offset says
// where it is.
inline Result convert(const char* from, const char* to, std::string_view input,
                      Policy policy = Policy::replace) {
    Result result;
    Converter converter(from, to);
    if (!converter) {
        result.status = converter.status();
        result.message = message(result.status);
        return result;
    }
    converter.set_policy(policy);
    result.status = converter.feed(input, true, result.output);
    result.report = converter.report();
    if (!result.ok()) {
        result.message = message(result.status);
        result.offset = result.report.firstKind != NLS_NO_SUBSTITUTION
                            ? result.report.firstOffset
                            : static_cast<uint64_t>(input.size());
    }
    return result;
}

// The same, throwing velta::Error where convert would return a failure.
inline std::string convert_or_throw(const char* from, const char* to, std::string_view input,
                                    Policy policy = Policy::stop) {
    Result result = convert(from, to, input, policy);
    if (!result) throw Error(result.status, result.offset, result.message);
    return std::move(result.output);
}

// The canonical name of an encoding (an unknown name answers itself).
inline std::string normalize(const char* name) {
    const char* canonical = NLS_GetNormalizedEncodingName(name);
    return canonical != nullptr ? canonical : "";
}

struct Encoding {
    std::string name;
    std::vector<std::string> aliases;
};

// Every encoding that a converter reads or writes, with its aliases.
inline std::vector<Encoding> list() {
    std::vector<Encoding> encodings;
    NLS_ListEncodingNames(
        [](const char* encoding, const char* alias, void* context) {
            auto* list = static_cast<std::vector<Encoding>*>(context);
            if (alias == nullptr)
                list->push_back(Encoding{encoding, {}});
            else
                list->back().aliases.emplace_back(alias);
        },
        &encodings);
    return encodings;
}

// The likely encoding of a buffer, or "" when none is detected.
inline std::string detect(std::string_view bytes) {
    NLS_DetectedEncoding detected = {nullptr, 0, 0, 0};
    uint32_t count = 0;
    const NLS_Status status =
        NLS_DetectEncodingForBuffer(reinterpret_cast<const unsigned char*>(bytes.data()),
                                    static_cast<uint32_t>(bytes.size()), &detected, 1, &count);
    return status == NLS_SUCCESS && count != 0 && detected.encodingName != nullptr
               ? detected.encodingName
               : "";
}

// The version of the library that is loaded.
inline const char* version() {
    return NLS_GetVersion();
}

}  // namespace velta

#endif
