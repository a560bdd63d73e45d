// Conversion with exact input positions, for interfaces whose callers
// continue from the input pointer (iconv(3): E2BIG leaves it right after the
// last character written, EILSEQ at the bad one).
#ifndef VELTA_API_EXACT_CONVERT_H
#define VELTA_API_EXACT_CONVERT_H

#include <stddef.h>

#include "velta/nls.h"

namespace velta {

struct ExactResult {
    NLS_Status status;
    size_t read;
    size_t written;
};

// Converts as NLS_ConvertStream does (the object's policy, report and
// state; `last` ends the text), with lengths of any size, and `read` exact:
// when the output fills (status 2) it ends right after the last input
// character whose output was written in full; at a stop under
// NLS_POLICY_STOP it is the offset of the bad character; with `last` and a
// character cut short under NLS_POLICY_STOP the status is -1304 and `read`
// ends before the cut bytes. Without `last`, a character cut by the end of
// src is kept in the object and counted as read, as NLS_ConvertStream does.
ExactResult convertExact(EncodingConverter* object, const unsigned char* src, size_t srcLength,
                         unsigned char* dst, size_t dstCapacity, bool last);

}  // namespace velta

#endif
