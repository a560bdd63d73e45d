// Buffer detection: a UTF-8 validity scan, a Japanese detector (Shift_JIS,
// EUC-JP, ISO-2022-JP) and the ranked guesses. Stateless functions over one
// buffer.
#ifndef VELTA_DETECT_DETECTION_H
#define VELTA_DETECT_DETECTION_H

#include <stdint.h>

#include "velta/nls.h"

namespace velta {

// Japanese detection codes, numbered like the character-set identifiers.
enum JapaneseCode : uint16_t {
    kNotJapanese = 0,
    kUndecided = 1,
    kShiftJisCode = 260,
    kEucJpCode = 261,
    kIso2022JpCode = 515,
};

// Fills name, score (complete multi-byte sequences) and invalid (0 or 1).
void ScanUTF8(const unsigned char* buffer, uint32_t length, NLS_DetectedEncoding* record);
uint16_t DetectJapanese(uint16_t preferred, const unsigned char* buffer, uint32_t length);
// 1: the text is of this encoding; 0: it is not; -1: no verdict.
int CheckShiftJIS(const unsigned char* buffer, uint32_t length);
int CheckEUCJP(const unsigned char* buffer, uint32_t length);

// The walk shared by the scan and the UTF-8 detector object.
struct Utf8Walk {
    uint32_t complete = 0;  // multi-byte sequences completed
    bool invalid = false;   // a byte broke the form (the walk stopped there)
    bool cutAtEnd = false;  // the buffer ended inside a sequence
};
Utf8Walk walkUtf8(const unsigned char* buffer, uint32_t length);

// An encoding a text may be in, and the language it reads as ("" when the
// encoding's detector does not tell).
struct LanguageGuess {
    const char* name;
    uint32_t confidence;  // 1 to 100
    const char* language;
};

// At most the first kExaminedBytes of a text are read: enough for any verdict.
const uint32_t kExaminedBytes = 64 * 1024;
// No text gets more guesses than this.
const uint32_t kMaxGuesses = 24;

// The single-byte encodings the text reads best in, cheapest first, each with
// the language it reads best as; at most `capacity`.
uint32_t GuessSingleByte(const unsigned char* p, uint32_t n, LanguageGuess* guesses,
                         uint32_t capacity);
// Every guess for the text, most likely first (up to kMaxGuesses).
uint32_t RankEncodings(const unsigned char* p, uint32_t n, LanguageGuess* ranked);

}  // namespace velta

#endif
