// The single-byte steps (codecs/single_byte.cpp), for the converters that
// run one of them beside the UTF-8 steps in one call (codecs/utf8_forms.cpp).
#ifndef VELTA_CODECS_SINGLE_BYTE_H
#define VELTA_CODECS_SINGLE_BYTE_H

#include <stdint.h>

#include <algorithm>

#include "codecs/single_byte_tables.h"
#include "common/step_shell.h"

namespace velta {

// No unit has this byte-0 character: a table whose byte 0x00 has none.
const uint32_t kNoUnit = 0x10000;

using WidenAscii = uint32_t (*)(const unsigned char*, uint32_t, unsigned char*, uint32_t);
using NarrowAscii = uint32_t (*)(const unsigned char*, uint32_t, unsigned char*, uint32_t);

class TSingleByteToUnicodeConverter : public TStepShell<TSingleByteToUnicodeConverter> {
public:
    explicit TSingleByteToUnicodeConverter(const SingleByteTable& table)
        : TStepShell({table.name, NLS_UCS2_NAME, 0, 2, 0}),
          fTable(&table),
          fUnits(table.units),
          fKeepsAscii(table.keepsAscii),
          fLettersOfPairs() {
        const bool diacriticsFirst =
            std::find(table.units, table.units + 256, kDiacriticByte) != table.units + 256;
        for (uint32_t i = 0; i < table.pairCount && !diacriticsFirst; ++i) {
            const uint32_t letter = table.pairs[2 * i] >> 8;
            fLettersOfPairs[letter / 64] |= uint64_t{1} << letter % 64;
        }
        fComposes = table.pairCount != 0 && !diacriticsFirst;
    }
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds);
    const SingleByteTable& table() const { return *fTable; }
    // Whether each byte is one unit, so that the units of a text place its bytes.
    bool unitPerByte() const { return fTable->pairCount == 0; }

private:
    void decodePlain(const unsigned char* source, uint32_t sourceLength, uint32_t* in,
                     unsigned char* target, uint32_t targetCapacity, uint32_t* out,
                     WidenAscii widen) const;
    StepResult composingStep(const unsigned char* source, uint32_t sourceLength,
                             unsigned char* target, uint32_t targetCapacity, bool textEnds) const;
    bool startsPair(unsigned char b) const { return fLettersOfPairs[b / 64] >> b % 64 & 1; }

    const SingleByteTable* fTable;
    const uint16_t* fUnits;
    bool fKeepsAscii;
    bool fComposes = false;       // a letter and the mark after it may be one character
    uint64_t fLettersOfPairs[4];  // the bytes that start a pair, where fComposes
};

class TUnicodeToSingleByteConverter : public TStepShell<TUnicodeToSingleByteConverter> {
public:
    TUnicodeToSingleByteConverter(const SingleByteTable& table, const uint8_t* bytes)
        : TStepShell({NLS_UCS2_NAME, table.name, 0, 1, 1}),
          fTable(&table),
          fBytes(bytes),
          fUnitOfByteZero(table.units[0] == 0xFFFD ? kNoUnit : table.units[0]),
          fKeepsAscii(table.keepsAscii),
          fSameFrom(firstOfSameBytes(table, bytes)) {}
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds);
    const SingleByteTable& table() const { return *fTable; }
    // Each unit's byte, 0 for none (and for U+0000 where that is byte 0).
    const uint8_t* bytes() const { return fBytes; }
    // Whether the encoding has neither a byte nor a pair of bytes for a unit
    // (a surrogate has none).
    bool lacks(uint16_t unit) const;
    // The chosen text a byte a unit through the table, as the step writes
    // it: the encoding has no state, and text with many characters to
    // replace wrote each replacement through a step of its own.
    Written writeChosen(const uint16_t* units, uint32_t count, unsigned char* out,
                        uint32_t capacity, uint32_t* written);
    bool writesChosenAlike() const { return true; }

private:
    void encodePlain(const unsigned char* source, uint32_t units, uint32_t* position,
                     unsigned char* target, uint32_t targetCapacity, uint32_t* out,
                     NarrowAscii narrow) const;

    // The lowest unit from which every unit up to 0xFF is its own byte (as
    // ASCII is): 0x80 for ISO-8859-1, 0xA0 for windows-1252; 0x100 where
    // that leaves out letters of U+00C0-U+00FF (their runs would be short).
    static uint32_t firstOfSameBytes(const SingleByteTable& table, const uint8_t* bytes) {
        uint32_t first = 0x100;
        while (table.keepsAscii && first > 0x80 && bytes[first - 1] == first - 1) --first;
        return first <= 0xC0 ? first : 0x100;
    }

    const SingleByteTable* fTable;
    const uint8_t* fBytes;
    uint32_t fUnitOfByteZero;
    bool fKeepsAscii;
    uint32_t fSameFrom;
};

}  // namespace velta

#endif
