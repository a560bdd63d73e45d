// JIS X 0208 from the one copy of it the library has, the WHATWG jis0208
// index (jpconv/indexes/jis0208.h): windows-31j reads it whole, with the
// NEC and IBM extensions of Windows; Shift_JIS, EUC-JP, ISO-2022-JP and
// ISO-2022-JP-2 read the standard's rows 1-8 and 16-84 of it, with the few
// characters listed after it in place of those Windows chose.
#ifndef VELTA_JPCONV_JIS0208_H
#define VELTA_JPCONV_JIS0208_H

#include <stdint.h>

namespace jis {

// The whole index: pointer to code point, 0 for none.
extern const uint16_t* const kWholeJis0208Index;
extern const uint32_t kWholeJis0208IndexLength;

class Jis0208 {
public:
    static const uint32_t kCellsPerRow = 94;
    static const uint16_t kNone = 0xFFFD;

    // Built on first need, kept for the process.
    static const Jis0208& standard();

    // The character at pointer (row - 1) * 94 + cell - 1; kNone where the
    // standard has none.
    uint16_t character(uint32_t pointer) const {
        return pointer < kCellsPerRow * kCellsPerRow ? fCharacters[pointer] : kNone;
    }
    // A character's pointer; false where the standard lacks it.
    bool find(uint32_t unit, uint32_t* pointer) const {
        const uint16_t code = codeOf(unit);
        if (code == 0) return false;
        *pointer = ((code >> 8) - 0x21u) * kCellsPerRow + (code & 0xFF) - 0x21u;
        return true;
    }

    // By the seven-bit bytes of ISO-2022-JP (or those of EUC-JP, whose high
    // bits are ignored): the character, kNone for none.
    uint16_t characterOfCode(unsigned char high, unsigned char low) const {
        const uint32_t row = (high & 0x7Fu) - 0x21u, cell = (low & 0x7Fu) - 0x21u;
        return row < kCellsPerRow && cell < kCellsPerRow ? fCharacters[row * kCellsPerRow + cell]
                                                         : kNone;
    }
    // A character's seven-bit code (high byte << 8 | low byte), 0 for none.
    uint16_t codeOf(uint32_t unit) const { return unit <= 0xFFFF ? fCodes[unit] : 0; }

private:
    Jis0208();

    uint16_t fCharacters[kCellsPerRow * kCellsPerRow];
    uint16_t fCodes[0x10000];
};

}  // namespace jis

#endif
