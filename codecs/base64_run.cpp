#include "codecs/base64_run.h"

#include <string.h>

#include "common/conversion_policy.h"

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

// Whether a run may end here. Bits left over must be zero; a whole sextet
// left over (a unit cut short, "+AGEA-") is malformed too, except for the
// older flat functions, which have always read it as nothing.
bool runMayEnd(const TStreamConverter& converter, const Base64DecoderState& state,
               bool emptyRunAllowed) {
    return runCanEnd(state, emptyRunAllowed) &&
           (state.buffer.count < 6 || replacesAsBefore(converter.Policy()));
}

// Whether the policy writes U+FFFD for what it meets: every policy that
// writes, but the older flat functions leave a malformed run out.
bool writesReplacement(const TStreamConverter& converter) {
    return converter.WritesSubstitute() && !replacesAsBefore(converter.Policy());
}

// A run that cannot end where it does (bits left over, an empty "+" run),
// under the policy: U+FFFD where the policy writes, and the status becomes
// NLS_INVALID_INPUT unless the policy skips; false when the policy stops or
// the output has no room for U+FFFD. Then the run stays as it is, so that the
// byte is met again if the caller comes back.
bool meetBadRunEnd(TStreamConverter& converter, uint32_t offset, unsigned char* target,
                   uint32_t capacity, uint32_t* out, NLS_Status* status) {
    const bool replaces = writesReplacement(converter);
    if (replaces && capacity - *out < 2) {
        *status = NLS_OUTPUT_FULL;
        return false;
    }
    const int32_t policy = converter.Substitute(NLS_MALFORMED_INPUT, offset);
    if (policy != NLS_POLICY_SKIP) *status = NLS_INVALID_INPUT;
    if (policy == NLS_POLICY_STOP) return false;
    if (replaces) {
        storeUnit(target + *out, 0xFFFD);
        *out += 2;
    }
    return true;
}

// "-" (or, in modified UTF-7, the shift byte) inside a run closes it; "+-"
// ("&-") stands for the shift byte itself. False where the call stops.
bool closeRun(const Utf7Form& form, TStreamConverter& converter, Base64DecoderState& state,
              unsigned char c, uint32_t in, unsigned char* target, uint32_t capacity, uint32_t* out,
              NLS_Status* status) {
    const bool literalShift = state.first && c == '-';
    if (literalShift && capacity - *out < 2) {
        *status = NLS_OUTPUT_FULL;
        return false;
    }
    if (!runMayEnd(converter, state, literalShift) &&
        !meetBadRunEnd(converter, in, target, capacity, out, status))
        return false;
    endRunIsValid(state, literalShift);
    if (literalShift) {
        storeUnit(target + *out, form.shift);
        *out += 2;
    }
    return true;
}

// A byte outside a run stands for itself; one above 0x7F is malformed: U+FFFD
// where the policy writes (the older flat functions write it as its own
// unit). False where the call stops.
bool decodeDirectByte(TStreamConverter& converter, unsigned char c, uint32_t* in,
                      unsigned char* target, uint32_t capacity, uint32_t* out, NLS_Status* status) {
    if (capacity - *out < 2) {
        *status = NLS_OUTPUT_FULL;
        return false;
    }
    uint16_t unit = c;
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
        if (!replacesAsBefore(policy)) unit = 0xFFFD;
    }
    storeUnit(target + *out, unit);
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
            if (converter.InputEnds() && state.shifted) {
                if (!runMayEnd(converter, state, false) &&
                    !meetBadRunEnd(converter, in, target, targetCapacity, &out, &status))
                    break;
                endRunIsValid(state, false);
            }
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
                if (!closeRun(form, converter, state, c, in, target, targetCapacity, &out, &status))
                    break;
                ++in;
                continue;
            }
            if (!runMayEnd(converter, state, false) &&
                !meetBadRunEnd(converter, in, target, targetCapacity, &out, &status))
                break;
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
