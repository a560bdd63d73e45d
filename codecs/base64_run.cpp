#include "codecs/base64_run.h"

#include <string.h>

namespace velta {

namespace {

Base64Alphabet makeAlphabet(const char* digits) {
    Base64Alphabet alphabet;
    memcpy(alphabet.digits, digits, 65);
    for (int c = 0; c < 128; ++c) alphabet.index[c] = -1;
    for (int i = 0; i < 64; ++i)
        alphabet.index[static_cast<unsigned char>(digits[i])] = static_cast<int8_t>(i);
    return alphabet;
}

}  // namespace

const Base64Alphabet& utf7Alphabet() {
    static const Base64Alphabet alphabet =
        makeAlphabet("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    return alphabet;
}

const Base64Alphabet& modifiedUtf7Alphabet() {
    static const Base64Alphabet alphabet =
        makeAlphabet("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,");
    return alphabet;
}

namespace {

// A run that cannot end where it does (bits left over, an empty "+" run),
// under the policy: the status becomes NLS_INVALID_INPUT unless the policy
// skips; false when the policy stops. Under the stop policy the run stays as
// it is, so that the byte is met again if the caller comes back.
bool meetBadRunEnd(TStreamConverter& converter, uint32_t offset, NLS_Status* status) {
    const int32_t policy = converter.Substitute(NLS_MALFORMED_INPUT, offset);
    if (policy != NLS_POLICY_SKIP) *status = NLS_INVALID_INPUT;
    return policy != NLS_POLICY_STOP;
}

// "-" (or, in modified UTF-7, the shift byte) inside a run closes it; "+-"
// ("&-") stands for the shift byte itself. False where the call stops.
bool closeRun(const Utf7Form& form, TStreamConverter& converter, Base64DecoderState& state,
              unsigned char c, uint32_t in, unsigned char* target, uint32_t capacity,
              uint32_t* out, NLS_Status* status) {
    const bool literalShift = state.first && c == '-';
    if (literalShift && capacity - *out < 2) {
        *status = NLS_OUTPUT_FULL;
        return false;
    }
    if (!runCanEnd(state, literalShift) && !meetBadRunEnd(converter, in, status)) return false;
    endRunIsValid(state, literalShift);
    if (literalShift) {
        storeUnit(target + *out, form.shift);
        *out += 2;
    }
    return true;
}

// A byte outside a run stands for itself; one above 0x7F is malformed but,
// replaced, is written as its own unit. False where the call stops.
bool decodeDirectByte(TStreamConverter& converter, unsigned char c, uint32_t* in,
                      unsigned char* target, uint32_t capacity, uint32_t* out,
                      NLS_Status* status) {
    if (capacity - *out < 2) {
        *status = NLS_OUTPUT_FULL;
        return false;
    }
    if (c > 0x7F) {
        const int32_t policy = converter.Substitute(NLS_MALFORMED_INPUT, *in);
        if (policy == NLS_POLICY_STOP) {
            *status = NLS_INVALID_INPUT;
            return false;
        }
        if (policy == NLS_POLICY_SKIP) {
            ++*in;
            return true;
        }
        *status = NLS_INVALID_INPUT;
    }
    storeUnit(target + *out, c);
    *out += 2;
    ++*in;
    return true;
}

}  // namespace

NLS_Status decodeUtf7Text(const Utf7Form& form, TStreamConverter& converter,
                          Base64DecoderState& state, unsigned char* target, uint32_t* targetLength,
                          uint32_t targetCapacity, const unsigned char* source,
                          uint32_t sourceLength, uint32_t* sourceConsumed) {
    NLS_Status status = NLS_SUCCESS;
    uint32_t in = 0;
    uint32_t out = 0;
    for (;;) {
        if (in == sourceLength) {
            if (converter.InputEnds() && state.shifted && !endRunIsValid(state, false) &&
                converter.Substitute(NLS_MALFORMED_INPUT, in) != NLS_POLICY_SKIP)
                status = NLS_INVALID_INPUT;
            break;
        }
        const unsigned char c = source[in];
        if (state.shifted && state.buffer.count == 0 && sourceLength - in >= kGroupDigits &&
            targetCapacity - out >= 2 * kGroupUnits &&
            decodeDigitGroup(form.alphabet, source + in, target + out)) {
            state.first = false;
            state.wroteOne = true;
            in += kGroupDigits;
            out += 2 * kGroupUnits;
            continue;
        }
        if (state.shifted) {
            const int sextet = base64Index(form.alphabet, c);
            if (sextet >= 0) {
                if (!decodeSextet(state, sextet, target, targetCapacity, &out)) {
                    status = NLS_OUTPUT_FULL;
                    break;
                }
                ++in;
                continue;
            }
            if (c == '-' || (form.shiftClosesRun && c == form.shift)) {
                if (!closeRun(form, converter, state, c, in, target, targetCapacity, &out,
                              &status))
                    break;
                ++in;
                continue;
            }
            if (!runCanEnd(state, false) && !meetBadRunEnd(converter, in, &status)) break;
            endRunIsValid(state, false);
        }
        if (c == form.shift) {
            state.shifted = true;
            state.first = true;
            state.wroteOne = false;
            ++in;
            continue;
        }
        if (!decodeDirectByte(converter, c, &in, target, targetCapacity, &out, &status)) break;
    }
    *targetLength = out;
    *sourceConsumed = in;
    if (!appendUnitTerminator(target, out, targetCapacity)) return NLS_RESULT_TRUNCATED;
    return status;
}

}  // namespace velta
