// Buffer detection: a UTF-8 validity scan and a Japanese detector (Shift_JIS,
// EUC-JP, ISO-2022-JP). Stateless functions over one buffer.
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

}  // namespace velta

#endif
