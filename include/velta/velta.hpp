// Velta for C++17 and C++20: a header-only layer over the flat functions of
// nls.h.
//
//   velta::Result r = velta::convert("UTF-8", "latin1", "caf\xC3\xA9");
//   if (r) use(r.output); else std::cerr << r.message << " at byte " << r.offset;
//
//   velta::Converter c("UTF-16", "UTF-8");            // a stream, fed in pieces
//   std::string out;
//   c.feed(piece, /*last=*/false, out);               // appends to out
//   c.feed(rest, /*last=*/true, [](const char* p, size_t n) { write(p, n); });
//
// Input is any velta::Bytes: a std::string_view, a C string, a std::string,
// and in C++20 a std::u8string_view or a std::span<const std::byte>. Results
// go into a std::string, a std::u16string or std::u32string (to_u16string,
// to_u32string), a caller's buffer (convert_into), an output iterator
// (convert_copy) or a std::ostream. Lengths are size_t throughout.
//
// Nothing here throws but convert_or_throw and the allocations of the
// standard containers.
#ifndef VELTA_VELTA_HPP
#define VELTA_VELTA_HPP

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <cstddef>
#include <istream>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#if __cplusplus >= 202002L && __has_include(<span>)
#include <span>
#endif

#include "velta/nls.h"
#include "velta/version.h"

namespace velta {

enum class Policy : int32_t {
    replace = NLS_POLICY_REPLACE,
    stop = NLS_POLICY_STOP,
    skip = NLS_POLICY_SKIP,
    transliterate = NLS_POLICY_TRANSLITERATE
};

// The outcome of a call: the codes of nls.h. Negative codes are failures.
enum class Status : int32_t {
    success = NLS_SUCCESS,
    truncated = NLS_RESULT_TRUNCATED,
    out_of_memory = NLS_OUT_OF_MEMORY,
    no_source_converter = NLS_NO_SOURCE_CONVERTER,
    no_target_converter = NLS_NO_TARGET_CONVERTER,
    invalid_parameter = NLS_INVALID_PARAMETER,
    table_not_loaded = NLS_TABLE_NOT_LOADED,
    no_converter = NLS_NO_CONVERTER,
    enumeration_not_made = NLS_ENUMERATION_NOT_MADE,
    not_detected = NLS_NOT_DETECTED,
    not_initialized = NLS_NOT_INITIALIZED,
    library_not_loaded = NLS_LIBRARY_NOT_LOADED,
    converter_not_found = NLS_CONVERTER_NOT_FOUND,
    invalid_input = NLS_INVALID_INPUT,
    output_full = NLS_OUTPUT_FULL,
    sequence_incomplete = NLS_SEQUENCE_INCOMPLETE,
    unmappable = NLS_UNMAPPABLE,
    entry_point_not_found = NLS_ENTRY_POINT_NOT_FOUND
};

inline bool succeeded(Status status) {
    return static_cast<int32_t>(status) >= 0;
}
inline const char* message(Status status) {
    return NLS_GetStatusMessage(static_cast<NLS_Status>(status));
}
inline const char* message(NLS_Status status) {
    return NLS_GetStatusMessage(status);
}

// Comparisons with the flat codes, for code written against NLS_Status.
constexpr bool operator==(Status status, NLS_Status code) {
    return static_cast<NLS_Status>(status) == code;
}
constexpr bool operator==(NLS_Status code, Status status) {
    return status == code;
}
constexpr bool operator!=(Status status, NLS_Status code) {
    return !(status == code);
}
constexpr bool operator!=(NLS_Status code, Status status) {
    return !(status == code);
}
inline std::ostream& operator<<(std::ostream& out, Status status) {
    return out << static_cast<NLS_Status>(status) << " (" << message(status) << ")";
}

// A view of input bytes, made from the text types a caller has at hand.
class Bytes {
public:
    constexpr Bytes() = default;
    Bytes(const void* data, size_t size) : fData(static_cast<const char*>(data)), fSize(size) {}
    Bytes(const char* text) : fData(text), fSize(text != nullptr ? strlen(text) : 0) {}
    Bytes(const std::string& text) : fData(text.data()), fSize(text.size()) {}
    constexpr Bytes(std::string_view text) : fData(text.data()), fSize(text.size()) {}
#if defined(__cpp_char8_t)
    Bytes(const char8_t* text) : Bytes(std::u8string_view(text)) {}
    Bytes(const std::u8string& text) : Bytes(text.data(), text.size()) {}
    Bytes(std::u8string_view text) : Bytes(text.data(), text.size()) {}
#endif
#if defined(__cpp_lib_span)
    template <size_t Extent>
    Bytes(std::span<const std::byte, Extent> bytes) : Bytes(bytes.data(), bytes.size()) {}
    template <size_t Extent>
    Bytes(std::span<std::byte, Extent> bytes) : Bytes(bytes.data(), bytes.size()) {}
    Bytes(const std::vector<std::byte>& bytes) : Bytes(bytes.data(), bytes.size()) {}
#endif
    const char* data() const {
        return fData;
    }
    size_t size() const {
        return fSize;
    }
    const unsigned char* bytes() const {
        return reinterpret_cast<const unsigned char*>(fData);
    }

private:
    const char* fData = nullptr;
    size_t fSize = 0;
};

// What a call came to: the status, and on failure its description and the
// input offset it happened at.
struct Outcome {
    Status status = Status::success;
    std::string message;
    uint64_t offset = 0;
    NLS_ConversionReport report = {0, NLS_NO_SUBSTITUTION, 0};

    bool ok() const { return succeeded(status); }
    explicit operator bool() const { return ok(); }
};

// A conversion's outcome with its output.
template <typename Text>
struct BasicResult : Outcome {
    Text output;
};
using Result = BasicResult<std::string>;

// The exception of convert_or_throw.
class Error : public std::runtime_error {
public:
    Error(Status status, uint64_t offset, const std::string& message)
        : std::runtime_error(message), fStatus(status), fOffset(offset) {}
    Status status() const { return fStatus; }
    uint64_t offset() const { return fOffset; }

private:
    Status fStatus;
    uint64_t fOffset;
};

// A conversion object: movable, not copyable, released when it goes.
class Converter {
public:
    // Strict by default: C0 80 and encoded surrogates in UTF-8 are
    // malformed input (set_strict_unicode(false) reads them leniently).
    Converter(std::string_view from, std::string_view to) {
        fStatus =
            NLS_NewEncodingConverter(std::string(from).c_str(), std::string(to).c_str(), &fObject);
        if (fStatus < 0) fObject = nullptr;
        set_strict_unicode(true);
    }
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
    Status status() const { return static_cast<Status>(fStatus); }

    Status set_policy(Policy policy) {
        return valid() ? static_cast<Status>(
                             NLS_SetConversionPolicy(fObject, static_cast<int32_t>(policy)))
                       : status();
    }
    Status set_strict_unicode(bool strict) {
        return valid() ? static_cast<Status>(NLS_SetConversionOption(
                             fObject, NLS_OPTION_STRICT_UNICODE, strict ? 1 : 0))
                       : status();
    }
    NLS_ConversionReport report() const {
        NLS_ConversionReport report = {0, NLS_NO_SUBSTITUTION, 0};
        if (valid()) NLS_GetConversionReport(fObject, &report);
        return report;
    }
    void reset() {
        if (valid()) NLS_ResetEncodingConverter(fObject);
    }

    // Converts one piece of a stream (cut anywhere, of any length) and gives
    // its output to `sink`: a std::string to append to, or a callable
    // (const char*, size_t). `last` ends the text. Returns Status::success or
    // a failure.
    template <typename Sink>
    Status feed(Bytes piece, bool last, Sink&& sink) {
        if (!valid()) return status();
        char buffer[16384];
        size_t position = 0;
        NLS_Status code;
        do {
            // The flat functions take 32-bit lengths: a larger piece goes in slices.
            const size_t slice = std::min(piece.size() - position, kMaxSlice);
            const bool ends = last && position + slice == piece.size();
            uint32_t read = 0, written = 0;
            code =
                NLS_ConvertStream(fObject, piece.bytes() + position, static_cast<uint32_t>(slice),
                                  reinterpret_cast<unsigned char*>(buffer), sizeof buffer,
                                  ends ? 1 : 0, &read, &written);
            position += read;
            deliver(sink, buffer, written);
        } while (code == NLS_RESULT_TRUNCATED || (code >= 0 && position < piece.size()));
        return static_cast<Status>(code);
    }

    EncodingConverter* handle() const { return fObject; }

private:
    static constexpr size_t kMaxSlice = size_t{1} << 30;
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

namespace detail {

// A converter for a one-call conversion, or the outcome of failing to make it.
inline bool prepare(Converter& converter, Policy policy, Outcome& outcome) {
    if (!converter) {
        outcome.status = converter.status();
        outcome.message = message(outcome.status);
        return false;
    }
    converter.set_policy(policy);
    return true;
}

// Fills in the report, and on failure the message and the offset: where the
// conversion stopped, else where the input ran out (`consumed` bytes in).
inline void conclude(const Converter& converter, Status status, uint64_t consumed,
                     Outcome& outcome) {
    outcome.status = status;
    outcome.report = converter.report();
    if (outcome.ok()) return;
    outcome.message = message(status);
    outcome.offset =
        outcome.report.firstKind != NLS_NO_SUBSTITUTION ? outcome.report.firstOffset : consumed;
}

// A whole text through a fresh converter into `sink`.
template <typename Sink>
Outcome convertInto(std::string_view from, std::string_view to, Bytes input, Policy policy,
                    Sink&& sink) {
    Outcome outcome;
    Converter converter(from, to);
    if (!prepare(converter, policy, outcome)) return outcome;
    const Status status = converter.feed(input, true, sink);
    conclude(converter, status, input.size(), outcome);
    return outcome;
}

inline bool bigEndianHost() {
    const uint16_t probe = 1;
    unsigned char first;
    memcpy(&first, &probe, 1);
    return first == 0;
}

// A text as UTF-16 or UTF-32 in the machine's byte order, in code units.
template <typename Units>
BasicResult<Units> toUnits(std::string_view from, Bytes input, Policy policy, const char* big,
                           const char* little) {
    using Unit = typename Units::value_type;
    BasicResult<Units> result;
    std::string bytes;
    static_cast<Outcome&>(result) =
        convertInto(from, bigEndianHost() ? big : little, input, policy, bytes);
    result.output.resize(bytes.size() / sizeof(Unit));
    if (!result.output.empty())
        memcpy(&result.output[0], bytes.data(), result.output.size() * sizeof(Unit));
    return result;
}

}  // namespace detail

// Converts a whole text. With Policy::stop, a malformed or unmappable
// character ends it: the output holds what came before, and offset says
// where it is.
inline Result convert(std::string_view from, std::string_view to, Bytes input,
                      Policy policy = Policy::replace) {
    Result result;
    static_cast<Outcome&>(result) = detail::convertInto(from, to, input, policy, result.output);
    return result;
}

// The same, into UTF-16 or UTF-32 code units.
inline BasicResult<std::u16string> to_u16string(std::string_view from, Bytes input,
                                                Policy policy = Policy::replace) {
    return detail::toUnits<std::u16string>(from, input, policy, "UTF-16BE", "UTF-16LE");
}
inline BasicResult<std::u32string> to_u32string(std::string_view from, Bytes input,
                                                Policy policy = Policy::replace) {
    return detail::toUnits<std::u32string>(from, input, policy, "UTF-32BE", "UTF-32LE");
}

// The same, into a caller's buffer of `capacity` bytes: `size` says how many
// it holds. A buffer too small fails with Status::output_full, holding the
// output's first `capacity` bytes (the last character may be cut).
struct BufferResult : Outcome {
    size_t size = 0;
};
inline BufferResult convert_into(std::string_view from, std::string_view to, Bytes input,
                                 char* buffer, size_t capacity, Policy policy = Policy::replace) {
    BufferResult result;
    Converter converter(from, to);
    if (!detail::prepare(converter, policy, result)) return result;
    const size_t kMaxSlice = size_t{1} << 30;
    size_t position = 0;
    NLS_Status code;
    do {
        const size_t slice = std::min(input.size() - position, kMaxSlice);
        const size_t room = std::min(capacity - result.size, kMaxSlice);
        uint32_t read = 0, written = 0;
        code = NLS_ConvertStream(
            converter.handle(), input.bytes() + position, static_cast<uint32_t>(slice),
            reinterpret_cast<unsigned char*>(buffer) + result.size, static_cast<uint32_t>(room),
            position + slice == input.size() ? 1 : 0, &read, &written);
        position += read;
        result.size += written;
        if (code == NLS_RESULT_TRUNCATED && room == capacity - (result.size - written))
            code = NLS_OUTPUT_FULL;
    } while (code == NLS_RESULT_TRUNCATED || (code >= 0 && position < input.size()));
    detail::conclude(converter, static_cast<Status>(code), position, result);
    return result;
}

// The same, through an output iterator of char: `out` is where it stopped.
template <typename OutputIterator>
struct CopyResult : Outcome {
    OutputIterator out;
};
template <typename OutputIterator>
CopyResult<OutputIterator> convert_copy(std::string_view from, std::string_view to, Bytes input,
                                        OutputIterator out, Policy policy = Policy::replace) {
    CopyResult<OutputIterator> result{{}, out};
    static_cast<Outcome&>(result) =
        detail::convertInto(from, to, input, policy, [&result](const char* bytes, size_t size) {
            result.out = std::copy(bytes, bytes + size, result.out);
        });
    return result;
}

// Converts a std::istream into a std::ostream a piece at a time, so memory
// stays flat whatever the size. An input stream that fails fails with
// Status::invalid_parameter, an output stream that fails with
// Status::output_full; offset is then the input read so far.
inline Outcome convert(std::string_view from, std::string_view to, std::istream& in,
                       std::ostream& out, Policy policy = Policy::replace) {
    Outcome outcome;
    Converter converter(from, to);
    if (!detail::prepare(converter, policy, outcome)) return outcome;
    std::vector<char> piece(65536);
    uint64_t consumed = 0;
    Status status = Status::success;
    while (succeeded(status)) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const size_t got = static_cast<size_t>(in.gcount());
        if (in.bad()) {
            status = Status::invalid_parameter;
            break;
        }
        const bool last = !in;
        status =
            converter.feed(Bytes(piece.data(), got), last, [&out](const char* bytes, size_t size) {
                out.write(bytes, static_cast<std::streamsize>(size));
            });
        if (!out) status = Status::output_full;
        consumed += got;
        if (last) break;
    }
    detail::conclude(converter, status, consumed, outcome);
    return outcome;
}

// The same as convert, throwing velta::Error where convert would return a
// failure.
inline std::string convert_or_throw(std::string_view from, std::string_view to, Bytes input,
                                    Policy policy = Policy::stop) {
    Result result = convert(from, to, input, policy);
    if (!result) throw Error(result.status, result.offset, result.message);
    return std::move(result.output);
}

// The canonical name of an encoding that some converter reads or writes, or
// nothing for a name no converter knows.
inline std::optional<std::string> normalize(std::string_view name) {
    const std::string given(name);
    const char* canonical = NLS_GetNormalizedEncodingName(given.c_str());
    if (canonical == nullptr) return std::nullopt;
    const bool known = strcmp(canonical, NLS_UCS2_NAME) == 0 ||
                       NLS_EncodingConverterExists(canonical, NLS_UCS2_NAME) ||
                       NLS_EncodingConverterExists(NLS_UCS2_NAME, canonical);
    if (!known) return std::nullopt;
    return std::string(canonical);
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

// The likely encoding of a text (as velta --detect names it), or "" when
// none fits.
inline std::string detect(Bytes bytes) {
    NLS_EncodingGuess guess = {nullptr, 0};
    uint32_t count = 0;
    // The detector reads the start of a text only: a longer one is cut.
    const uint32_t length = static_cast<uint32_t>(std::min<size_t>(bytes.size(), UINT32_MAX));
    const NLS_Status status = NLS_GuessEncodings(bytes.bytes(), length, &guess, 1, &count);
    return status == NLS_SUCCESS && count != 0 && guess.encodingName != nullptr ? guess.encodingName
                                                                                : "";
}

// A guess at a text's encoding, with the language the text reads as in it
// ("" where the encoding's detector does not tell).
struct Guess {
    std::string encoding;
    uint32_t confidence = 0;  // 1 to 100
    std::string language;
};

namespace detail {
inline std::vector<Guess> toGuesses(const NLS_LanguageGuess* found, size_t count) {
    std::vector<Guess> guesses;
    for (size_t i = 0; i < count; ++i)
        guesses.push_back(Guess{found[i].encodingName, found[i].confidence, found[i].language});
    return guesses;
}
}  // namespace detail

// The encodings a text may be in, most likely first, at most `most` of them
// (none when nothing fits).
inline std::vector<Guess> guess(Bytes bytes, size_t most = 8) {
    std::vector<NLS_LanguageGuess> found(most);
    size_t count = 0;
    NLS_GuessEncodingsAndLanguages(bytes.bytes(), bytes.size(), found.data(), most, &count);
    return detail::toGuesses(found.data(), count);
}

// Guesses a text fed piece by piece, from all it was fed: movable, not
// copyable. A reader may stop feeding once the first guess is sure enough.
class Guesser {
public:
    Guesser() {
        if (NLS_NewEncodingGuesser(&fObject) != NLS_SUCCESS) fObject = nullptr;
    }
    Guesser(Guesser&& other) noexcept : fObject(std::exchange(other.fObject, nullptr)) {}
    Guesser& operator=(Guesser&& other) noexcept {
        if (this != &other) {
            NLS_DeleteEncodingGuesser(fObject);
            fObject = std::exchange(other.fObject, nullptr);
        }
        return *this;
    }
    Guesser(const Guesser&) = delete;
    Guesser& operator=(const Guesser&) = delete;
    ~Guesser() { NLS_DeleteEncodingGuesser(fObject); }

    // Whether the guesser got its memory.
    bool valid() const { return fObject != nullptr; }
    explicit operator bool() const { return valid(); }
    Status feed(Bytes piece) {
        return valid() ? static_cast<Status>(
                             NLS_FeedEncodingGuesser(fObject, piece.bytes(), piece.size()))
                       : Status::out_of_memory;
    }
    std::vector<Guess> guesses(size_t most = 8) const {
        std::vector<NLS_LanguageGuess> found(most);
        size_t count = 0;
        if (valid()) NLS_GetEncodingGuesses(fObject, found.data(), most, &count);
        return detail::toGuesses(found.data(), count);
    }

private:
    NLS_EncodingGuesser* fObject = nullptr;
};

// The version of the library that is loaded.
inline const char* version() {
    return NLS_GetVersion();
}

}  // namespace velta

#endif
