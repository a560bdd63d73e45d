// The vector kernels behind the hottest loops. One set is chosen once, for
// the CPU the library runs on (VELTA_KERNEL or NLS_UseKernel may force one);
// every set gives the bytes the portable code gives. A kernel converts only
// the regular part of a text (whole, well-formed characters while input and
// room hold whole blocks) and returns where it stopped; the codec's own loop
// meets everything else, so malformed input, cut characters and the
// output-full rule stay in one place.
#ifndef VELTA_COMMON_TEXT_KERNELS_H
#define VELTA_COMMON_TEXT_KERNELS_H

#include <stdint.h>

namespace velta {

// The UTF-8 characters of one script and their bytes in a single-byte
// encoding, 0 for none. Three-byte characters, a block of 128 (U+0E00-
// U+0E7F, Thai, is lead E0, second byte B8 or B9); or two-byte ones under
// four leads in a row, 256 (from lead C2, U+0080-U+017F: the Latin-1
// letters and Latin Extended-A; from D0, U+0400-U+04FF: Cyrillic).
struct Utf8Window {
    unsigned char lead;    // 0: none (ASCII alone); a three-byte window's is 0xE0 or more
    unsigned char second;  // of a three-byte window: even, the next for the second half
    unsigned char bytes[256];
};

inline bool isTwoByteWindow(const Utf8Window& window) {
    return window.lead != 0 && window.lead < 0xE0;
}

// The byte of the window's character whose UTF-8 starts at `p` (a lead),
// with how many bytes it takes; none (0) where it is not one of the
// window's, or the encoding lacks it, or it is cut at `length`.
struct WindowByte {
    unsigned char byte;
    uint32_t length;
};

inline WindowByte windowByteAt(const Utf8Window& window, const unsigned char* p, uint32_t length) {
    if (isTwoByteWindow(window)) {
        const unsigned offset = static_cast<unsigned char>(p[0] - window.lead);
        if (offset > 3 || length < 2 || (p[1] & 0xC0) != 0x80) return {0, 0};
        return {window.bytes[offset << 6 | (p[1] & 0x3F)], 2};
    }
    if (p[0] != window.lead || length < 3 || (p[1] & 0xFE) != window.second ||
        (p[2] & 0xC0) != 0x80)
        return {0, 0};
    return {window.bytes[(p[1] & 1) << 6 | (p[2] & 0x3F)], 3};
}

struct TextKernels {
    const char* name;
    // ASCII bytes widened to UCS-2 units while room lasts; returns bytes taken.
    uint32_t (*widenAscii)(const unsigned char* source, uint32_t length, unsigned char* target,
                           uint32_t room);
    // ASCII units narrowed to bytes while room lasts; returns units taken.
    uint32_t (*narrowAscii)(const unsigned char* source, uint32_t units, unsigned char* target,
                            uint32_t room);
    // UTF-8 of one to four bytes (no overlong form, no encoded surrogate,
    // nothing past U+10FFFF) to UCS-2 with surrogate pairs; returns bytes
    // taken and sets *produced to output bytes. Null where the set has none.
    uint32_t (*decodeUtf8)(const unsigned char* source, uint32_t length, unsigned char* target,
                           uint32_t room, uint32_t* produced);
    // UCS-2 units without lone surrogates to UTF-8; returns units taken and
    // sets *written to output bytes. Null where the set has none.
    uint32_t (*encodeUtf8)(const unsigned char* source, uint32_t units, unsigned char* target,
                           uint32_t room, uint32_t* written);
    // UCS-4 units up to U+10FFFF to UCS-2, with surrogate pairs; returns
    // units taken and sets *produced to output bytes. Null where none.
    uint32_t (*narrowUcs4)(const unsigned char* source, uint32_t units, unsigned char* target,
                           uint32_t room, uint32_t* produced);
    // UCS-2 units to UCS-4, surrogate pairs joined, up to a lone
    // surrogate; returns units taken and sets *produced to output bytes.
    // Null where none.
    uint32_t (*widenToUcs4)(const unsigned char* source, uint32_t units, unsigned char* target,
                            uint32_t room, uint32_t* produced);
    // UTF-16 in the machine's order copied up to its first lone surrogate
    // (or a high surrogate whose pair is not in the input or the room);
    // lengths and the return value in bytes.
    uint32_t (*copyUtf16)(const unsigned char* source, uint32_t length, unsigned char* target,
                          uint32_t room);
    // UCS-2 units as the base64 digits of their big-endian bytes (UTF-7
    // runs), twelve units to 32 digits at a time while input and room hold a
    // block: digit 62 is "+", digit 63 `last`. Returns units taken (a
    // multiple of twelve); digits written are 8/3 of them. Null where none.
    uint32_t (*encodeBase64Units)(const unsigned char* source, uint32_t units,
                                  unsigned char* target, uint32_t room, char last);
    // decodeUtf8 writing the units in the other order than the machine's
    // (UTF-16 of that order); the codec's loop takes the end of the input,
    // as it does everything irregular. Null where none.
    uint32_t (*decodeUtf8Swapped)(const unsigned char* source, uint32_t length,
                                  unsigned char* target, uint32_t room, uint32_t* produced);
    // encodeUtf8 reading units in the other order than the machine's.
    uint32_t (*encodeUtf8Swapped)(const unsigned char* source, uint32_t units,
                                  unsigned char* target, uint32_t room, uint32_t* written);
    // UTF-8 (as decodeUtf8 reads it) to UCS-4 values in the machine's
    // order, or swapped, up to the last value the room holds; returns bytes
    // taken and sets *produced to output bytes. Null where the set has none.
    uint32_t (*decodeUtf8ToUtf32)(const unsigned char* source, uint32_t length,
                                  unsigned char* target, uint32_t room, uint32_t* produced,
                                  bool swapped);
    // UCS-4 characters (up to U+10FFFF, no surrogates), in the machine's
    // order or swapped, to UTF-8; returns values taken and sets *written to output
    // bytes. Null where the set has none.
    uint32_t (*encodeUtf32ToUtf8)(const unsigned char* source, uint32_t values,
                                  unsigned char* target, uint32_t room, uint32_t* written,
                                  bool swapped);
    // UTF-8 of ASCII (kept as its bytes) and of the window's characters
    // (written as their bytes) to a single-byte encoding, up to anything
    // else or the end of the room; returns bytes taken and sets *written to
    // output bytes.
    uint32_t (*narrowUtf8Window)(const unsigned char* source, uint32_t length,
                                 const Utf8Window& window, unsigned char* target, uint32_t room,
                                 uint32_t* written);
    // Bytes of a single-byte encoding whose ASCII is its own to UTF-8, the
    // characters of bytes 0x80-0xFF from `highUnits` (128 low bytes of
    // their units, then 128 high bytes; FF FF for none, else a unit below
    // U+FFFD and no surrogate; each byte from `firstOwnByte` on, 0x80 to
    // 0x100 for none, is the unit of its own value), 32 at a time while the
    // input holds a block, up to a block with a byte of none; with less than
    // 128 bytes of room, up to a block of other bytes than ASCII and those
    // from `firstOwnByte`, whose characters are taken while they fit.
    // Returns bytes taken and sets *written to output bytes. Null where none.
    uint32_t (*decodeBytesToUtf8)(const unsigned char* highUnits, uint32_t firstOwnByte,
                                  const unsigned char* source, uint32_t length,
                                  unsigned char* target, uint32_t room, uint32_t* written);
    // UCS-2 units to their bytes in a single-byte encoding, sixteen at a
    // time through `bytes` (each unit's byte, 0 for none; readable three
    // bytes past its 0x10000), up to the first unit whose byte is 0; the
    // target has room for all `units`. Returns units taken. Null where none.
    uint32_t (*narrowThroughBytes)(const uint8_t* bytes, const unsigned char* source,
                                   uint32_t units, unsigned char* target);
    // The same through `codes` (each unit's byte, or 0xFFFD for none;
    // readable two bytes past its 0x10000 entries), up to the first unit
    // whose code is 0 or 0xFFFD.
    uint32_t (*narrowThroughCodes)(const uint16_t* codes, const unsigned char* source,
                                   uint32_t units, unsigned char* target);
    // Every byte to the unit of its value (ISO-8859-1), 32 at a time while
    // `count` bytes hold a block; the target has room for all of them.
    // Returns bytes taken. Null where the set has none.
    uint32_t (*widenBytes)(const unsigned char* source, uint32_t count, unsigned char* target);
};

// The set in use: the best the CPU has, unless one was forced.
const TextKernels& textKernels();

// Forces a set by name ("scalar", "sse2", "avx2"), or with null goes back to
// the automatic choice; false when the name is unknown or the CPU lacks it.
bool useTextKernels(const char* name);

extern const TextKernels kScalarKernels;
// The portable narrowUtf8Window, which the vector sets end with.
uint32_t narrowUtf8WindowPortable(const unsigned char* source, uint32_t length,
                                  const Utf8Window& window, unsigned char* target, uint32_t room,
                                  uint32_t* written);
// The AVX2 set; null where the build or the CPU has none.
const TextKernels* avx2Kernels();

}  // namespace velta

#endif
