#include "jpconv/jis0208.h"

#include "jpconv/indexes/jis0208.h"

namespace jis {

const uint16_t* const kWholeJis0208Index = kJis0208Index;
const uint32_t kWholeJis0208IndexLength = kJis0208IndexLength;

namespace {

// The index also holds row 13 (NEC's special characters) and rows 89-92
// and 115-119 (the IBM extensions); JIS X 0208 assigns rows 1-8 and 16-84.
bool standardRow(uint32_t pointer) {
    const uint32_t row = pointer / Jis0208::kCellsPerRow + 1;
    return (row >= 1 && row <= 8) || (row >= 16 && row <= 84);
}

}  // namespace

const Jis0208& Jis0208::standard() {
    static const Jis0208 set;
    return set;
}

// Where a character has two pointers the lower one is its code.
Jis0208::Jis0208() : fCharacters(), fCodes() {
    for (uint32_t pointer = 0; pointer < kCellsPerRow * kCellsPerRow; ++pointer) {
        const uint16_t character = kJis0208Index[pointer];
        fCharacters[pointer] = standardRow(pointer) && character != 0 ? character : kNone;
    }
    for (uint32_t i = 0; i < kJisX0208StandardLength; ++i)
        fCharacters[kJisX0208Standard[i][0]] = kJisX0208Standard[i][1];
    for (uint32_t pointer = kCellsPerRow * kCellsPerRow; pointer-- > 0;) {
        const uint16_t character = fCharacters[pointer];
        if (character != kNone)
            fCodes[character] = static_cast<uint16_t>((0x21 + pointer / kCellsPerRow) << 8 |
                                                      (0x21 + pointer % kCellsPerRow));
    }
}

}  // namespace jis
