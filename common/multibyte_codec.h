// The shape of the CJK converters (cjkconv, and windows-31j in jpconv): a codec
// is a decode step, which reads one character from its first byte, and an
// encode step, which writes one code point; the steps below own the ASCII
// runs, the runs of two-byte characters, surrogate pairs and the output-full
// rule, and say why they stopped; the shell around them (common/step_shell.h)
// applies the caller's actions and writes the terminator.
//
// Decoding follows the WHATWG Encoding Standard's decoders: a lead byte
// followed by a byte that makes no character with it is one U+FFFD for both
// bytes, unless that byte is ASCII, which is then read again. So a lead never
// takes an ASCII byte it has no character with, and a failed trail is never
// read as a new lead that would take the ASCII byte after it.
// A character cut short by the end of the input is left unconsumed (-1304)
// for the next piece of a stream.
#ifndef VELTA_COMMON_MULTIBYTE_CODEC_H
#define VELTA_COMMON_MULTIBYTE_CODEC_H

#include <stdint.h>
#include <string.h>

#include <new>
#include <type_traits>
#include <utility>

#include "common/ascii_runs.h"
#include "common/step_shell.h"
#include "common/two_byte_codes.h"
#include "common/units.h"
#include "velta/velta.h"

// The factories that the converter libraries export by name.
#if defined(_WIN32)
#define CJK_FACTORY_EXPORT extern "C" __declspec(dllexport)
#else
#define CJK_FACTORY_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace cjk {

using velta::isHighSurrogate;
using velta::isLowSurrogate;

// What a decode step makes of the bytes at the start of a character.
struct Decoded {
    uint32_t length;           // bytes taken; 0 when the input ends inside the character
    uint32_t codePoint;        // kMalformed for bytes without a character
    uint32_t secondCodePoint;  // a second code point (Big5), or 0
};

const uint32_t kMalformed = 0xFFFFFFFFu;

inline Decoded character(uint32_t length, uint32_t codePoint, uint32_t second = 0) {
    return Decoded{length, codePoint, second};
}
inline Decoded malformed(uint32_t length) {
    return Decoded{length, kMalformed, 0};
}
inline Decoded cut() {
    return Decoded{0, 0, 0};
}

inline bool between(uint32_t value, uint32_t low, uint32_t high) {
    return value - low <= high - low;
}

// A lead and the byte after it without a character, whether or not that
// byte lies in the trail range: the byte is read again when it is ASCII.
inline Decoded unmappedPair(unsigned char trail) {
    return malformed(trail < 0x80 ? 1 : 2);
}

// Writes a code point as one or two UCS-2 units; returns the units.
inline uint32_t storeCodePoint(unsigned char* target, uint32_t codePoint) {
    if (codePoint < 0x10000) {
        velta::storeUnit(target, static_cast<uint16_t>(codePoint));
        return 1;
    }
    codePoint -= 0x10000;
    velta::storeUnit(target, static_cast<uint16_t>(0xD800 + (codePoint >> 10)));
    velta::storeUnit(target + 2, static_cast<uint16_t>(0xDC00 + (codePoint & 0x3FF)));
    return 2;
}

inline uint32_t unitsOf(uint32_t codePoint) {
    return codePoint < 0x10000 ? 1 : 2;
}

// Fills `pointerOf` with the first pointer of every BMP code point in an
// index (plus one; 0 for none). `skip` says which pointers the encoder never
// writes; `last` which code points take the last of their pointers rather
// than the first.
template <typename Index>
void fillPointers(uint16_t (&pointerOf)[0x10000], const Index* index, uint32_t length,
                  bool (*skip)(uint32_t), bool (*last)(uint32_t)) {
    memset(pointerOf, 0, sizeof pointerOf);
    for (uint32_t pointer = 0; pointer < length; ++pointer) {
        const uint32_t codePoint = index[pointer];
        if (codePoint == 0 || codePoint > 0xFFFF || (skip != nullptr && skip(pointer))) continue;
        if (pointerOf[codePoint] == 0 || (last != nullptr && last(codePoint)))
            pointerOf[codePoint] = static_cast<uint16_t>(pointer + 1);
    }
}

// The two bytes of every BMP code point that an encoding writes in two, as
// lead << 8 | trail (0 for none; no lead is 0): the pointers of fillPointers
// laid out once by `layout`, so that a character takes one load, without
// the division and the branch of laying out its pointer.
struct TwoByteCodes {
    uint16_t codeOf[0x10000];

    template <typename Index>
    TwoByteCodes(const Index* index, uint32_t length, bool (*skip)(uint32_t),
                 bool (*last)(uint32_t),
                 uint32_t (*layout)(uint32_t pointer, unsigned char* bytes)) {
        fillPointers(codeOf, index, length, skip, last);
        for (uint16_t& entry : codeOf) {
            unsigned char bytes[4];
            if (entry != 0)
                entry = layout(entry - 1u, bytes) == 2
                            ? static_cast<uint16_t>(bytes[0] << 8 | bytes[1])
                            : 0;
        }
    }

    // The bytes of a code point; 0 where it has none.
    uint32_t write(uint32_t codePoint, unsigned char* bytes) const {
        const uint32_t code = codePoint <= 0xFFFF ? codeOf[codePoint] : 0;
        if (code == 0) return 0;
        bytes[0] = static_cast<unsigned char>(code >> 8);
        bytes[1] = static_cast<unsigned char>(code);
        return 2;
    }
};

// The encode step of an encoding whose characters are its index's pointers
// laid out as bytes: `Layout::codes()` holds their bytes.
template <typename Layout>
class IndexEncoding {
public:
    IndexEncoding() : fCodes(&Layout::codes()) {}

    uint32_t encode(uint32_t codePoint, unsigned char* bytes) const {
        return fCodes->write(codePoint, bytes);
    }
    const uint16_t* unitCodes() const { return fCodes->codeOf; }

private:
    const TwoByteCodes* fCodes;
};

// Whether a codec's text has words of two-byte characters with a space
// between them (Korean): the run of pairs then takes a lone ASCII byte.
template <typename Codec, typename = void>
struct SpacesWords : std::false_type {};
template <typename Codec>
struct SpacesWords<Codec, std::void_t<decltype(Codec::kSpacesWords)>>
    : std::integral_constant<bool, Codec::kSpacesWords> {};

// Decoder: `Codec::decode(source, length)` reads the character at the start
// of `source` (its first byte at least 0x80); `Codec::pair(lead, trail)` is
// the one BMP unit of a two-byte character, or 0 for anything else (the
// decode step then reads it), so that runs of two-byte characters, the bulk
// of CJK text, take a short loop. The step stops before bytes without a
// character and before a character cut by the end of the input.
template <typename Codec>
class TMultiByteDecoder : public velta::TStepShell<TMultiByteDecoder<Codec>> {
public:
    explicit TMultiByteDecoder(const char* name)
        : velta::TStepShell<TMultiByteDecoder<Codec>>(
              TConverterIdentity{name, NLS_UCS2_NAME, 0, 2, 0}) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }

    velta::StepResult step(const unsigned char* source, uint32_t sourceLength,
                           unsigned char* target, uint32_t targetCapacity, bool) {
        uint32_t in = 0, out = 0;
        const velta::WidenAsciiBytes widenAscii = velta::twoByteKernels().widenAscii;
        while (in < sourceLength) {
            const uint32_t room = (targetCapacity - out) / 2;
            if (source[in] < 0x80) {
                // A full output (the end of a stream's piece) stops here,
                // without a call that finds no room.
                if (room == 0) return velta::outputFull(in, out);
                const uint32_t run = (widenAscii != nullptr ? widenAscii : velta::widenAsciiRun)(
                    source + in, sourceLength - in, target + out, targetCapacity - out);
                in += run;
                out += 2 * run;
                if (run != 0) continue;
                velta::storeUnit(target + out, source[in++]);
                out += 2;
                continue;
            }
            const uint32_t runStart = in;
            for (uint32_t left = room; left != 0 && sourceLength - in >= 2; --left) {
                if constexpr (SpacesWords<Codec>::value) {
                    // One ASCII byte stays in the run; two go to the ASCII
                    // kernel.
                    if (source[in] < 0x80) {
                        if (source[in + 1] < 0x80) break;
                        velta::storeUnit(target + out, source[in++]);
                        out += 2;
                        continue;
                    }
                }
                const uint32_t unit = Codec::pair(source[in], source[in + 1]);
                if (unit == 0) break;
                velta::storeUnit(target + out, static_cast<uint16_t>(unit));
                out += 2;
                in += 2;
            }
            if (in != runStart) continue;
            const Decoded read = Codec::decode(source + in, sourceLength - in);
            if (read.length == 0) return velta::cutAtEnd(in, out);
            if (read.codePoint == kMalformed) return velta::malformedAt(in, out, read.length);
            const uint32_t units = unitsOf(read.codePoint) +
                                   (read.secondCodePoint != 0 ? unitsOf(read.secondCodePoint) : 0);
            if (room < units) return velta::outputFull(in, out);
            out += 2 * storeCodePoint(target + out, read.codePoint);
            if (read.secondCodePoint != 0)
                out += 2 * storeCodePoint(target + out, read.secondCodePoint);
            in += read.length;
        }
        return velta::inputUsed(in, out);
    }
};

// Whether eight units of UCS-2 ASCII start at `source`: a run the vector
// kernel takes faster than a loop a unit at a time.
inline bool eightAsciiUnitsAhead(const unsigned char* source) {
    uint64_t words[2];
    memcpy(words, source, sizeof words);
    return ((words[0] | words[1]) & 0xFF80FF80FF80FF80u) == 0;
}

// A codec that lays out the two bytes of its two-byte characters in a table
// (`unitCodes()`: lead << 8 | trail a BMP unit, 0 for none) lets the
// encoder find them with one load, without a call.
template <typename Codec, typename = void>
struct HasUnitCodes : std::false_type {};
template <typename Codec>
struct HasUnitCodes<Codec, std::void_t<decltype(std::declval<const Codec&>().unitCodes())>>
    : std::true_type {};

// Encoder: `codec.encode(codePoint, bytes)` writes the bytes of a code point
// (at most four) and returns their number, 0 where the encoding lacks it.
// ASCII is itself in every encoding here. The step stops before a character
// without bytes (a surrogate pair is one character) and before a high
// surrogate that ends the input, which waits for its pair.
template <typename Codec>
class TMultiByteEncoder : public velta::TStepShell<TMultiByteEncoder<Codec>> {
public:
    TMultiByteEncoder(const char* name, const Codec& codec)
        : velta::TStepShell<TMultiByteEncoder<Codec>>(
              TConverterIdentity{NLS_UCS2_NAME, name, 0, 4, 1}),
          fCodec(codec) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }

    velta::StepResult step(const unsigned char* source, uint32_t sourceLength,
                           unsigned char* target, uint32_t targetCapacity, bool) {
        const uint32_t units = sourceLength / 2;
        uint32_t position = 0, out = 0;
        const velta::TwoByteKernels kernels = velta::twoByteKernels();
        velta::EncodeTwoByteCodes kernel = nullptr;
        if constexpr (HasUnitCodes<Codec>::value) kernel = kernels.encode;
        while (position < units) {
            // A full output (the end of a stream's piece) goes straight to
            // the character that stops it.
            if (out != targetCapacity && tookRun(source, units, &position, target, targetCapacity,
                                                 &out, kernel, kernels.narrowAscii))
                continue;
            const uint16_t unit = velta::loadUnit(source + 2 * position);
            const velta::UnitCharacter character = velta::characterAt(source, units, position);
            if (character.cut) return velta::cutAtEnd(2 * position, out);
            const uint32_t codePoint = character.codePoint, taken = character.units;
            unsigned char bytes[4];
            const uint32_t length = unit < 0x80 ? (bytes[0] = static_cast<unsigned char>(unit), 1)
                                                : fCodec.encode(codePoint, bytes);
            if (length == 0) return velta::unmappableAt(2 * position, out, 2 * taken, codePoint);
            if (targetCapacity - out < length) return velta::outputFull(2 * position, out);
            for (uint32_t k = 0; k < length; ++k) target[out + k] = bytes[k];
            out += length;
            position += taken;
        }
        if (2 * position != sourceLength) return velta::cutAtEnd(2 * position, out);
        return velta::inputUsed(2 * position, out);
    }

    // The chosen text a character at a time, as the step writes it: the
    // encoding has no state, and text with many characters to replace
    // wrote each replacement through a step of its own.
    bool writesChosenAlike() const { return true; }
    velta::Written writeChosen(const uint16_t* units, uint32_t count, unsigned char* out,
                               uint32_t capacity, uint32_t* written) {
        unsigned char bytes[4 * velta::kMaxChosenUnits];
        uint32_t length = 0;
        for (uint32_t i = 0; i < count; ++i) {
            const uint16_t unit = units[i];
            // A surrogate: the step says what it makes of it.
            const uint32_t made = unit < 0x80
                                      ? (bytes[length] = static_cast<unsigned char>(unit), 1)
                                  : velta::isSurrogate(unit) ? 0
                                                             : fCodec.encode(unit, bytes + length);
            // The step stops at a first character the encoding lacks (U+FFFD,
            // which stands for malformed input) without writing.
            if (made == 0 && i == 0 && !velta::isSurrogate(unit))
                return velta::Written::kNotInTarget;
            if (made == 0) return Shell::writeChosen(units, count, out, capacity, written);
            length += made;
        }
        if (capacity < length) return velta::Written::kNoRoom;
        for (uint32_t k = 0; k < length; ++k) out[k] = bytes[k];
        *written = length;
        return velta::Written::kDone;
    }

private:
    using Shell = velta::TStepShell<TMultiByteEncoder<Codec>>;

    // The runs below, then a run of ASCII; false where none took anything.
    bool tookRun(const unsigned char* source, uint32_t units, uint32_t* position,
                 unsigned char* target, uint32_t targetCapacity, uint32_t* out,
                 velta::EncodeTwoByteCodes kernel, velta::NarrowAsciiUnits narrowAscii) const {
        const uint32_t runStart = *position;
        twoByteRun(source, units, position, target, targetCapacity, out, kernel);
        pairRun(source, units, position, target, targetCapacity, out);
        if (*position != runStart) return true;
        if (velta::loadUnit(source + 2 * runStart) >= 0x80) return false;
        const uint32_t run = (narrowAscii != nullptr ? narrowAscii : velta::narrowAsciiRun)(
            source + 2 * runStart, units - runStart, target + *out, targetCapacity - *out);
        *position += run;
        *out += run;
        return run != 0;
    }

    // Runs of characters of two bytes, the bulk of CJK text, and the short
    // ASCII runs between them (spaces, punctuation), while the room left
    // holds two bytes for every unit left, so that no character checks it.
    // Stops at anything else, and where eight ASCII units come next.
    // The kernel, where there is one, takes what it can before each chunk
    // that starts with a character of two bytes.
    void twoByteRun(const unsigned char* source, uint32_t units, uint32_t* position,
                    unsigned char* target, uint32_t targetCapacity, uint32_t* out,
                    velta::EncodeTwoByteCodes kernel) const {
        enum : uint32_t { kChunk = 256 };
        // Taken once: the stores below could alias the codec's members.
        const uint16_t* codes = nullptr;
        if constexpr (HasUnitCodes<Codec>::value) codes = fCodec.unitCodes();
        uint32_t p = *position, o = *out;
        bool spaced = false;  // text with a space every few characters (Korean)
        for (;;) {
            if (kernel != nullptr && units - p >= 16 &&
                startsTwoByteCharacter(codes, velta::loadUnit(source + 2 * p))) {
                uint32_t written = 0;
                p += kernel(source + 2 * p, units - p, codes, target + o, targetCapacity - o,
                            &written);
                o += written;
            }
            const uint32_t room = (targetCapacity - o) / 2;
            const uint32_t left = units - p < room ? units - p : room;
            const uint32_t end = p + (left < kChunk ? left : kChunk);
            if (end == p || (end - p >= 8 && eightAsciiUnitsAhead(source + 2 * p))) break;
            const uint32_t start = p;
            uint32_t ascii = 0;
            if (spaced)
                p = spacedChunk(codes, source, p, end, target, &o, &ascii);
            else
                p = denseChunk(codes, source, p, end, target, &o, &ascii);
            if (p != end) break;
            spaced = ascii * 8 > end - start;
        }
        *position = p;
        *out = o;
    }

    // Whether a unit is a character of two bytes (not ASCII, not one of
    // four bytes or none).
    static bool startsTwoByteCharacter(const uint16_t* codes, uint16_t unit) {
        return unit >= 0x80 && codes[unit] != 0;
    }

    // Runs of surrogate pairs (emoji) and the single ASCII units between
    // them, while the room left holds four bytes: each character without
    // the general loop's calls. Stops at anything else, a longer run of
    // ASCII among it, and a character the encoding lacks.
    void pairRun(const unsigned char* source, uint32_t units, uint32_t* position,
                 unsigned char* target, uint32_t targetCapacity, uint32_t* out) const {
        uint32_t p = *position, o = *out;
        while (units - p >= 2 && targetCapacity - o >= 4) {
            const uint16_t unit = velta::loadUnit(source + 2 * p);
            const uint16_t next = velta::loadUnit(source + 2 * p + 2);
            if (unit < 0x80) {
                if (!velta::isHighSurrogate(next)) break;
                target[o++] = static_cast<unsigned char>(unit);
                ++p;
                continue;
            }
            if (!velta::isHighSurrogate(unit) || !velta::isLowSurrogate(next)) break;
            unsigned char bytes[4];
            const uint32_t length = fCodec.encode(velta::joinSurrogates(unit, next), bytes);
            if (length == 0) break;
            for (uint32_t k = 0; k < length; ++k) target[o + k] = bytes[k];
            o += length;
            p += 2;
        }
        *position = p;
        *out = o;
    }

    // Where ASCII is rare, a branch on it that the processor predicts.
    uint32_t denseChunk(const uint16_t* codes, const unsigned char* source, uint32_t p,
                        uint32_t end, unsigned char* target, uint32_t* out, uint32_t* ascii) const {
        uint32_t o = *out;
        for (; p < end; ++p) {
            const uint16_t unit = velta::loadUnit(source + 2 * p);
            if (unit < 0x80) {
                if (unit == 0) break;  // NUL: the kernel takes it
                target[o++] = static_cast<unsigned char>(unit);
                ++*ascii;
                continue;
            }
            const uint32_t code = codes != nullptr ? codes[unit] : twoBytesOf(unit);
            if (code == 0) break;
            target[o] = static_cast<unsigned char>(code >> 8);
            target[o + 1] = static_cast<unsigned char>(code);
            o += 2;
        }
        *out = o;
        return p;
    }

    // Where spaces come every few characters, no branch on them: two bytes
    // are stored for every unit (the room holds two a unit), and for a unit
    // of ASCII the second is written over by the unit after it, which is
    // therefore looked at first: a unit of ASCII before one that will not
    // be written, and the last unit, go to the dense loop.
    uint32_t spacedChunk(const uint16_t* codes, const unsigned char* source, uint32_t p,
                         uint32_t end, unsigned char* target, uint32_t* out,
                         uint32_t* ascii) const {
        uint32_t o = *out;
        uint32_t next = codeOf(codes, velta::loadUnit(source + 2 * p));
        for (; p + 1 < end; ++p) {
            const uint32_t code = next;
            next = codeOf(codes, velta::loadUnit(source + 2 * p + 2));
            const bool isAscii = code < 0x8000;
            if (code == 0 || (isAscii && next == 0)) break;  // NUL too: the kernel takes it
            target[o] = static_cast<unsigned char>(code >> 8);
            target[o + 1] = static_cast<unsigned char>(code);
            o += isAscii ? 1 : 2;
            *ascii += isAscii;
        }
        *out = o;
        return denseChunk(codes, source, p, end, target, out, ascii);
    }

    // A unit's bytes as the spaced loop stores them: ASCII as its byte << 8,
    // two bytes as lead << 8 | trail (leads are 0x81 and above), 0 for NUL
    // and for anything else.
    uint32_t codeOf(const uint16_t* codes, uint16_t unit) const {
        const uint32_t twoBytes = codes != nullptr ? codes[unit] : twoBytesOf(unit);
        return unit < 0x80 ? static_cast<uint32_t>(unit) << 8 : twoBytes;
    }

    // The two bytes of a unit (lead << 8 | trail), 0 where it has none or more.
    uint32_t twoBytesOf(uint16_t unit) const {
        unsigned char bytes[4];
        if (velta::isSurrogate(unit) || fCodec.encode(unit, bytes) != 2) return 0;
        return static_cast<uint32_t>(bytes[0] << 8 | bytes[1]);
    }

    Codec fCodec;
};

// The factories of a converter library: never throw, null where memory is short.
template <typename Converter, typename... Arguments>
TEncodingConverter* makeConverter(Arguments... arguments) {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) Converter(arguments...);
}

}  // namespace cjk

#endif
