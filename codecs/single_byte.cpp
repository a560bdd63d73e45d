// The single-byte encodings (the WHATWG Encoding Standard's, glibc's charmaps)
// to and from UCS-2: a character from a table for each byte. Where a table
// keeps ASCII in bytes 0x00-0x7F, runs of ASCII go through the vector
// kernels; EBCDIC and the national ISO 646 variants take every byte from the
// table. A byte without a character is malformed: U+FFFD. A character without
// a byte, a surrogate pair counted as one, becomes "?". Where a table gives a
// character several bytes, the lowest is written (as glibc's iconv does).
// ISO 6937 and T.61 put a non-spacing diacritic before its letter: the two
// bytes are one character, from a list; a diacritic that ends the input waits
// for the next call (-1304), one before a byte it does not take is malformed
// and that byte is read afresh. TCVN5712-1 puts a combining mark after its
// letter: a letter and a mark that make one character, from a list, read as
// it (as glibc's decoder composes them), so a letter that ends the input
// waits for what follows until the text ends. No state is kept between calls.
#include <string.h>

#include <algorithm>
#include <atomic>
#include <new>

#include "codecs/single_byte.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codecs/library_codecs.h"
#include "codecs/single_byte_tables.h"
#include "common/step_shell.h"
#include "common/text_kernels.h"
#include "common/units.h"

namespace velta {

namespace {

// The vector ASCII kernel is entered only where this many ASCII bytes
// come next: prose in Cyrillic, Greek or Thai has a space every few
// letters, and Latin prose a letter outside ASCII every few words; a call
// for a short run costs more than the table.
const uint32_t kAsciiProbe = 16;

bool asciiBytesAhead(const unsigned char* source) {
    uint64_t words[2];
    memcpy(words, source, sizeof words);
    return ((words[0] | words[1]) & 0x8080808080808080u) == 0;
}

// Units in the machine's order: each 16-bit lane of a word is one unit.
// The table takes a unit a cycle, so the kernel is worth a call only for a
// long run: Latin prose has one every few sentences.
const uint32_t kAsciiUnitProbe = 64;

bool asciiUnitsAhead(const unsigned char* source) {
    uint64_t words[kAsciiUnitProbe / 4];
    memcpy(words, source, sizeof words);
    uint64_t any = 0;
    for (uint64_t word : words) any |= word;
    return (any & 0xFF80FF80FF80FF80u) == 0;
}

// Units to bytes through the table, four at a time, up to the first without
// a byte; returns the units taken.
uint32_t encodeByTable(const uint8_t* bytes, uint32_t unitOfByteZero, const unsigned char* source,
                       uint32_t count, unsigned char* target) {
    uint32_t k = 0;
    for (; count - k >= 4; k += 4) {
        const uint8_t a = bytes[loadUnit(source + 2 * k)];
        const uint8_t b = bytes[loadUnit(source + 2 * k + 2)];
        const uint8_t c = bytes[loadUnit(source + 2 * k + 4)];
        const uint8_t d = bytes[loadUnit(source + 2 * k + 6)];
        if ((a == 0) | (b == 0) | (c == 0) | (d == 0)) break;
        target[k] = a;
        target[k + 1] = b;
        target[k + 2] = c;
        target[k + 3] = d;
    }
    for (; k < count; ++k) {
        const uint16_t unit = loadUnit(source + 2 * k);
        const uint8_t byte = bytes[unit];
        if (byte == 0 && unit != unitOfByteZero) break;
        target[k] = byte;
    }
    return k;
}

// Units that are their own bytes (ASCII, and from `sameFrom` up to 0xFF)
// narrowed eight at a time where SSE2 is; returns how many. Latin-1 text in
// windows-1252 or ISO-8859-1 is all such units.
uint32_t narrowSameBytes(const unsigned char* source, uint32_t count, unsigned char* target,
                         uint32_t sameFrom) {
    uint32_t done = 0;
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF00));
    const __m128i lastAscii = _mm_set1_epi16(0x7F);
    const __m128i first = _mm_set1_epi16(static_cast<short>(sameFrom));
    const __m128i zero = _mm_setzero_si128();
    for (; count - done >= 8; done += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * done));
        // Below 0x100 (signed compares are safe then), and not in the gap.
        const __m128i oneByte = _mm_cmpeq_epi16(_mm_and_si128(units, high), zero);
        const __m128i gap =
            _mm_and_si128(_mm_cmpgt_epi16(units, lastAscii), _mm_cmplt_epi16(units, first));
        const unsigned same =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(gap, oneByte)));
        // All eight bytes lie within the room; only the run counts.
        _mm_storel_epi64(reinterpret_cast<__m128i*>(target + done), _mm_packus_epi16(units, units));
        if (same != 0xFFFF) return done + static_cast<uint32_t>(__builtin_ctz(~same)) / 2;
    }
#else
    (void)source;
    (void)target;
    (void)sameFrom;
    (void)count;
#endif
    return done;
}

uint32_t smaller(uint32_t a, uint32_t b) {
    return a < b ? a : b;
}

// The character of a diacritic and the byte after it, 0xFFFD for none.
uint16_t unitOfPair(const SingleByteTable& table, unsigned char diacritic, unsigned char letter) {
    const uint16_t code = static_cast<uint16_t>(diacritic << 8 | letter);
    uint32_t low = 0, high = table.pairCount;
    while (low < high) {
        const uint32_t middle = (low + high) / 2;
        const uint16_t found = table.pairs[2 * middle];
        if (found == code) return table.pairs[2 * middle + 1];
        if (found < code)
            low = middle + 1;
        else
            high = middle;
    }
    return 0xFFFD;
}

// The two bytes of a character that only a diacritic and a letter make, 0
// for none (no pair starts with byte 0x00). The pairs are few (at most 200).
uint16_t pairOfUnit(const SingleByteTable& table, uint16_t unit) {
    for (uint32_t i = 0; i < table.pairCount; ++i)
        if (table.pairs[2 * i + 1] == unit) return table.pairs[2 * i];
    return 0;
}

// Unit to byte, one table per encoding, built when first needed and kept for
// the process; 0 where a unit has no byte (but for the unit of byte 0x00
// itself, see unitOfByteZero). The lowest byte of a character wins. ASCII
// is in it too, so that a unit's byte is one load whatever the text.
const uint8_t* bytesOfUnits(uint32_t index) {
    static std::atomic<const uint8_t*> built[kMaxSingleByteTables];
    const uint8_t* bytes = built[index].load(std::memory_order_acquire);
    if (bytes != nullptr) return bytes;
    // Three bytes past the end for a kernel that reads each unit's byte as
    // the 32-bit value at its offset.
    uint8_t* fresh = new (std::nothrow) uint8_t[0x10000 + 3]();
    if (fresh == nullptr) return nullptr;
    const SingleByteTable& table = kSingleByteTables[index];
    const uint32_t lowest = table.keepsAscii ? 0x80 : 0;
    for (uint32_t b = 0x100; b-- > lowest;) {
        const uint16_t unit = table.units[b];
        if (unit != 0xFFFD && unit != kDiacriticByte && (!table.keepsAscii || unit >= 0x80))
            fresh[unit] = static_cast<uint8_t>(b);
    }
    if (table.keepsAscii)
        for (uint32_t unit = 1; unit < 0x80; ++unit) fresh[unit] = static_cast<uint8_t>(unit);
    const uint8_t* expected = nullptr;
    if (!built[index].compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) {
        delete[] fresh;  // another thread built it first
        return expected;
    }
    return fresh;
}

}  // namespace

// Bytes with a character of their own, eight at a time through the table,
// or through the vector kernel where eight ASCII bytes come next. Stops
// before a byte that needs a decision (no character, a diacritic) and where
// input or room ends; Step takes it from there.
void TSingleByteToUnicodeConverter::decodePlain(const unsigned char* source, uint32_t sourceLength,
                                                uint32_t* in, unsigned char* target,
                                                uint32_t targetCapacity, uint32_t* out,
                                                WidenAscii widen) const {
    const uint16_t* units = fUnits;
    uint32_t i = *in;
    uint32_t o = *out;
    for (;;) {
        uint32_t block = smaller(sourceLength - i, (targetCapacity - o) / 2);
        if (block == 0) break;
        if (block >= kAsciiProbe) {
            if (widen != nullptr && asciiBytesAhead(source + i)) {
                const uint32_t run =
                    widen(source + i, sourceLength - i, target + o, targetCapacity - o);
                i += run;
                o += 2 * run;
                if (run != 0) continue;
            }
            block = kAsciiProbe;
        }
        uint32_t k = 0;
        for (; k < block; ++k) {
            const uint16_t unit = units[source[i + k]];
            if (unit >= 0xFFFD) break;  // no character, or a diacritic
            storeUnit(target + o + 2 * k, unit);
        }
        i += k;
        o += 2 * k;
        if (k != block) break;
    }
    *in = i;
    *out = o;
}

// A byte without a character is malformed; a diacritic is one with the
// letter after it, and waits for it where the input ends.
StepResult TSingleByteToUnicodeConverter::step(const unsigned char* source, uint32_t sourceLength,
                                               unsigned char* target, uint32_t targetCapacity,
                                               bool textEnds) {
    if (fComposes) return composingStep(source, sourceLength, target, targetCapacity, textEnds);
    uint32_t in = 0;
    uint32_t out = 0;
    const WidenAscii widen = fKeepsAscii ? textKernels().widenAscii : nullptr;
    for (;;) {
        decodePlain(source, sourceLength, &in, target, targetCapacity, &out, widen);
        if (in == sourceLength) return inputUsed(in, out);
        if (targetCapacity - out < 2) return outputFull(in, out);
        if (fUnits[source[in]] != kDiacriticByte) return malformedAt(in, out, 1);
        if (in + 1 == sourceLength) return cutAtEnd(in, out);
        const uint16_t unit = unitOfPair(*fTable, source[in], source[in + 1]);
        if (unit == 0xFFFD) return malformedAt(in, out, 1);
        storeUnit(target + out, unit);
        out += 2;
        in += 2;
    }
}

StepResult TSingleByteToUnicodeConverter::composingStep(const unsigned char* source,
                                                        uint32_t sourceLength,
                                                        unsigned char* target,
                                                        uint32_t targetCapacity,
                                                        bool textEnds) const {
    uint32_t in = 0;
    uint32_t out = 0;
    for (; in < sourceLength; ++in, out += 2) {
        if (targetCapacity - out < 2) return outputFull(in, out);
        uint16_t unit = fUnits[source[in]];
        if (unit == 0xFFFD) return malformedAt(in, out, 1);
        if (startsPair(source[in])) {
            if (in + 1 == sourceLength && !textEnds) return cutAtEnd(in, out);
            const uint16_t composed =
                in + 1 < sourceLength ? unitOfPair(*fTable, source[in], source[in + 1]) : 0xFFFD;
            if (composed != 0xFFFD) {
                unit = composed;
                ++in;
            }
        }
        storeUnit(target + out, unit);
    }
    return inputUsed(in, out);
}

// Units with a byte of their own, through the table a block at a time, or
// through the vector kernel where a long ASCII run comes next. Stops
// before a unit without a byte (surrogates have none) and where input or
// room ends; Step takes it from there.
void TUnicodeToSingleByteConverter::encodePlain(const unsigned char* source, uint32_t units,
                                                uint32_t* position, unsigned char* target,
                                                uint32_t targetCapacity, uint32_t* out,
                                                NarrowAscii narrow) const {
    const uint8_t* bytes = fBytes;
    const uint32_t unitOfByteZero = fUnitOfByteZero;
    const uint32_t sameFrom = fSameFrom;
    const auto table = textKernels().narrowThroughBytes;
    uint32_t p = *position;
    uint32_t o = *out;
    for (;;) {
        uint32_t block = smaller(units - p, targetCapacity - o);
        if (block == 0) break;
        if (block >= kAsciiUnitProbe) {
            if (narrow != nullptr && asciiUnitsAhead(source + 2 * p)) {
                const uint32_t run =
                    narrow(source + 2 * p, units - p, target + o, targetCapacity - o);
                p += run;
                o += run;
                if (run != 0) continue;
            }
            block = kAsciiUnitProbe;
        }
        uint32_t k =
            sameFrom < 0x100 ? narrowSameBytes(source + 2 * p, block, target + o, sameFrom) : 0;
        if (table != nullptr) k += table(bytes, source + 2 * (p + k), block - k, target + o + k);
        k += encodeByTable(bytes, unitOfByteZero, source + 2 * (p + k), block - k, target + o + k);
        p += k;
        o += k;
        if (k != block) break;
    }
    *position = p;
    *out = o;
}

// A high surrogate that ends the input waits for its pair.
StepResult TUnicodeToSingleByteConverter::step(const unsigned char* source, uint32_t sourceLength,
                                               unsigned char* target, uint32_t targetCapacity,
                                               bool) {
    const uint32_t units = sourceLength / 2;
    uint32_t position = 0;
    uint32_t out = 0;
    const NarrowAscii narrow = fKeepsAscii ? textKernels().narrowAscii : nullptr;
    for (;;) {
        encodePlain(source, units, &position, target, targetCapacity, &out, narrow);
        if (position == units)
            return 2 * position == sourceLength ? inputUsed(2 * position, out)
                                                : cutAtEnd(2 * position, out);
        if (out == targetCapacity) return outputFull(2 * position, out);
        const uint16_t unit = loadUnit(source + 2 * position);
        if (const uint16_t pair = pairOfUnit(*fTable, unit)) {
            if (targetCapacity - out < 2) return outputFull(2 * position, out);
            target[out++] = static_cast<unsigned char>(pair >> 8);
            target[out++] = static_cast<unsigned char>(pair & 0xFF);
            ++position;
            continue;
        }
        return lackedUnitAt(source, units, position, out);
    }
}

bool TUnicodeToSingleByteConverter::lacks(uint16_t unit) const {
    return fBytes[unit] == 0 && unit != fUnitOfByteZero && pairOfUnit(*fTable, unit) == 0;
}

Written TUnicodeToSingleByteConverter::writeChosen(const uint16_t* units, uint32_t count,
                                                   unsigned char* out, uint32_t capacity,
                                                   uint32_t* written) {
    for (uint32_t i = 0; i < count; ++i) {
        if (fBytes[units[i]] != 0 || units[i] == fUnitOfByteZero) continue;
        // The step stops at a first unit of none (U+FFFD, which stands for
        // malformed input) without writing, where it has room for any.
        if (i == 0 && lacks(units[0]))
            return capacity == 0 ? Written::kNoRoom : Written::kNotInTarget;
        // A unit of two bytes, or one after others: as the step says.
        return TStepShell::writeChosen(units, count, out, capacity, written);
    }
    if (capacity < count) return Written::kNoRoom;
    for (uint32_t i = 0; i < count; ++i) out[i] = fBytes[units[i]];
    *written = count;
    return Written::kDone;
}

TEncodingConverter* newSingleByteDecoder(uint32_t index) {
    if (index >= kSingleByteTableCount) return nullptr;
    return newStepConverter<TSingleByteToUnicodeConverter>(kSingleByteTables[index]);
}

TEncodingConverter* newSingleByteEncoder(uint32_t index) {
    if (index >= kSingleByteTableCount || index >= kMaxSingleByteTables) return nullptr;
    const uint8_t* bytes = bytesOfUnits(index);
    if (bytes == nullptr) return nullptr;
    return newStepConverter<TUnicodeToSingleByteConverter>(kSingleByteTables[index], bytes);
}

}  // namespace velta
