// The two planes of JIS X 0213 (cjkconv/indexes/jisx0213.h, kept in
// cjkconv/jisx0213.cpp), for the encodings that lay them out: EUC-JISX0213,
// SHIFT_JISX0213 and ISO-2022-JP-3. A pointer is (row - 1) * 94 + cell - 1,
// plane 2 kJisx0213PlaneSize further.
#ifndef VELTA_CJKCONV_JISX0213_GRID_H
#define VELTA_CJKCONV_JISX0213_GRID_H

#include <stdint.h>

#include "cjkconv/cjkconv.h"

namespace cjk {

const uint32_t kJisx0213PlaneSize = 94 * 94;

// The one character of a code; 0 for none and for a code of two.
uint32_t jisx0213Character(uint32_t pointer);
// The code at `pointer`, `length` bytes: its character or its two; `none`
// where the grid has nothing there.
Decoded jisx0213Code(uint32_t pointer, uint32_t length, Decoded none);
// The pointer of a character's code; false where JIS X 0213 lacks it.
bool jisx0213PointerOf(uint32_t codePoint, uint32_t* pointer);
// The pointer of the code of `first` followed by `second`; false for none.
bool jisx0213PairPointer(uint32_t first, uint32_t second, uint32_t* pointer);
// Whether a character may begin a code of two.
bool startsJisx0213Pair(uint32_t codePoint);

}  // namespace cjk

#endif
