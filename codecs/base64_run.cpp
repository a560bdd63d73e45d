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

// Whether a run may end here. Bits left over must be zero; a whole sextet
// left over (a unit cut short, "+AGEA-") is malformed too, except for the
// older flat functions, which have always read it as nothing.
bool runMayEnd(const Base64DecoderState& state, bool emptyRunAllowed, bool asBefore) {
    return runCanEnd(state, emptyRunAllowed) && (state.buffer.count < 6 || asBefore);
}

// A run that cannot end where it does (bits left over, an empty "+" run):
// malformed, `length` bytes (the closing "-" or none) at `in`. The run stays
// open until the shell has met it (passBadRunEnd), so that a call that stops
// there meets it again when the caller comes back.
StepResult badRunEnd(Base64DecoderState& state, uint32_t in, uint32_t out, uint32_t length) {
    state.endingBadly = true;
    return malformedAt(in, out, length);
}

}  // namespace

void passBadRunEnd(Base64DecoderState& state) {
    if (!state.endingBadly) return;
    state.endingBadly = false;
    state.buffer.clear();
    state.shifted = false;
}

StepResult decodeUtf7Step(const Utf7Form& form, Base64DecoderState& state, bool asBefore,
                          const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                          uint32_t targetCapacity, bool textEnds) {
    uint32_t in = 0;
    uint32_t out = 0;
    for (;;) {
        if (in == sourceLength) {
            if (textEnds && state.shifted) {
                if (!runMayEnd(state, false, asBefore)) return badRunEnd(state, in, out, 0);
                endRunIsValid(state, false);
            }
            return inputUsed(in, out);
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
                if (!decodeSextet(state, sextet, target, targetCapacity, &out))
                    return outputFull(in, out);
                ++in;
                continue;
            }
            // "-" (or, in modified UTF-7, the shift byte) closes the run;
            // "+-" ("&-") stands for the shift byte itself.
            if (c == '-' || (form.shiftClosesRun && c == form.shift)) {
                const bool literalShift = state.first && c == '-';
                if (literalShift && targetCapacity - out < 2) return outputFull(in, out);
                if (!runMayEnd(state, literalShift, asBefore)) return badRunEnd(state, in, out, 1);
                endRunIsValid(state, literalShift);
                if (literalShift) {
                    storeUnit(target + out, form.shift);
                    out += 2;
                }
                ++in;
                continue;
            }
            if (!runMayEnd(state, false, asBefore)) return badRunEnd(state, in, out, 0);
            endRunIsValid(state, false);
        }
        if (c == form.shift) {
            state.shifted = true;
            state.first = true;
            state.wroteOne = false;
            ++in;
            continue;
        }
        // A byte above 0x7F is no UTF-7; the older flat functions wrote it
        // as its own unit (the `character` the shell takes from it then).
        if (c > 0x7F) return {Stop::kMalformed, in, out, 1, c};
        if (targetCapacity - out < 2) return outputFull(in, out);
        storeUnit(target + out, c);
        out += 2;
        ++in;
    }
}

bool olderUtf7Replacement(const StepResult& result, ChosenText* text) {
    text->count = 0;
    if (result.character != 0) text->units[text->count++] = static_cast<uint16_t>(result.character);
    return true;
}

}  // namespace velta
