// A conversion step whose input position is exact, for callers that must
// say precisely how far the input went (the iconv interface).
#ifndef VELTA_API_EXACT_CONVERT_H
#define VELTA_API_EXACT_CONVERT_H

#include <stddef.h>
#include <stdint.h>

#include "velta/nls.h"

namespace velta {

struct ExactResult {
    NLS_Status status;
    size_t read;
    size_t written;
};

// Converts like NLS_ConvertStream (the object's policy, report and state;
// any length), but `read` is exact:
//  1: all of src was read (with `last`, the text has ended).
//  2: the output is full; `read` ends right after the last input character
//     whose output was written in full (none is written in part; a shift
//     sequence or byte-order mark that opens the next one may be written,
//     as glibc does).
//  NLS_SEQUENCE_INCOMPLETE: src ends in a character cut short; `read` stops
//     before its bytes. Without `last` the object keeps them and expects them
//     again at the start of the next src; with `last` the text has ended.
//  another negative status: a stop under NLS_POLICY_STOP; `read` is at the
//     character it stopped at.
// After 2 or an incomplete character, call again with src + read.
ExactResult convertExact(EncodingConverter* object, const unsigned char* src, size_t srcLength,
                         unsigned char* dst, size_t dstCapacity, bool last);

// The same, with the lengths of each call to the object held under `slice`
// (the tests take 32-bit lengths apart with it).
ExactResult convertExactInSlices(EncodingConverter* object, const unsigned char* src,
                                 size_t srcLength, unsigned char* dst, size_t dstCapacity,
                                 bool last, size_t slice);

// Characters the object's report counts as replaced or left out whose output
// convertExact has not written yet (it writes them on the next call).
uint32_t pendingSubstitutions(EncodingConverter* object);

// Drops what convertExact keeps for an object that is reset or deleted.
void forgetExactState(EncodingConverter* object);

}  // namespace velta

#endif
