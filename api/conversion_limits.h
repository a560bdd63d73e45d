// Why a converter stopped short of its input, for the conversion object and
// the chain.
#ifndef VELTA_API_CONVERSION_LIMITS_H
#define VELTA_API_CONVERSION_LIMITS_H

#include <stdint.h>

#include "common/conversion_step.h"
#include "common/step_shell.h"
#include "velta/nls.h"

namespace velta {

// A status that ends a conversion: not a full output, not a cut character.
inline bool isHardFailure(int32_t status) {
    return status < 0 && status != -1303 && status != -1304;
}

// More than any converter writes for one character (an escaped surrogate pair
// takes 12 bytes, an ISO-2022-JP character with its escape 5). A converter
// that stops with input left and this much room unused stopped at a character
// cut by the end of its input (or at input it cannot convert), not because
// its output was full.
enum : uint32_t { kRoomForAnyCharacter = 32 };

// Why a Convert call that `stepped` (null for a converter that does not say)
// made ended short of its input. The library's own converters say; for the
// others (those of libraries built against the published headers, and ours
// that do not speak in steps yet) it is inferred from the room they left.
inline Stop stopShortOfInput(const TSteppedConverter* stepped, NLS_Status status, uint32_t capacity,
                             uint32_t written) {
    if (stepped != nullptr) return stepped->LastStop();
    if (isHardFailure(status))
        return status == NLS_UNMAPPABLE ? Stop::kUnmappable : Stop::kMalformed;
    return capacity - written >= kRoomForAnyCharacter ? Stop::kCutAtEnd : Stop::kOutputFull;
}

}  // namespace velta

#endif
