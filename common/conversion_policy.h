// The policy value a conversion object gives its converter for the older
// flat functions (NLS_ConvertBuffer, NLS_ConvertStreamBuffer) when the caller
// never chose a policy: it replaces as NLS_POLICY_REPLACE does, except where
// those functions have always given other results (UTF-7: a malformed run
// left out with -1302, a byte above 0x7F read as its own unit).
#ifndef VELTA_COMMON_CONVERSION_POLICY_H
#define VELTA_COMMON_CONVERSION_POLICY_H

#include <stdint.h>

namespace velta {

// Apart from every NLS_POLICY_* value and from TStreamConverter::kNoRoom.
enum : int32_t { kPolicyAsBefore = 16 };

inline bool replacesAsBefore(int32_t policy) {
    return policy == kPolicyAsBefore;
}

}  // namespace velta

#endif
