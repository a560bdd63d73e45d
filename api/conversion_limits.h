// What the conversion object and the chain may assume of every converter.
#ifndef VELTA_API_CONVERSION_LIMITS_H
#define VELTA_API_CONVERSION_LIMITS_H

#include <stdint.h>

namespace velta {

// More than any converter writes for one character (an escaped surrogate pair
// takes 12 bytes, an ISO-2022-JP character with its escape 5). A converter
// that stops with input left and this much room unused stopped at a character
// cut by the end of its input (or at input it cannot convert), not because
// its output was full.
enum : uint32_t { kRoomForAnyCharacter = 32 };

inline bool stoppedWithRoomToSpare(uint32_t capacity, uint32_t written) {
    return capacity - written >= kRoomForAnyCharacter;
}

// A status that ends a conversion: not a full output, not a cut character.
inline bool isHardFailure(int32_t status) {
    return status < 0 && status != -1303 && status != -1304;
}

}  // namespace velta

#endif
