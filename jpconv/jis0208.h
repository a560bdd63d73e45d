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

// The parts of a Shift_JIS pointer (188 a lead) that its lead and its trail
// give, each found with one load: kanji make the branches of the arithmetic
// unpredictable. kNone for a byte that is no lead, or no trail.
struct ShiftJisPointers {
    static const uint16_t kNone = 0xFFFF;
    uint16_t ofLead[256];
    uint16_t ofTrail[256];
    constexpr ShiftJisPointers() : ofLead(), ofTrail() {
        for (uint32_t b = 0; b < 256; ++b) {
            const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
            const bool trail = (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
            ofLead[b] = lead ? static_cast<uint16_t>((b - (b < 0xA0 ? 0x81 : 0xC1)) * 188) : kNone;
            ofTrail[b] = trail ? static_cast<uint16_t>(b - (b < 0x7F ? 0x40 : 0x41)) : kNone;
        }
    }
};
inline constexpr ShiftJisPointers kShiftJisPointers;

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
