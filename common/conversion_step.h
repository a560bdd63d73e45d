// What one step of a converter tells the shell around it (common/step_shell.h):
// why it stopped. A step never writes a substitute, never skips, never
// counts: it stops before a sequence it cannot convert, with `read` at it,
// and the shell applies the caller's action. The shape is encoding_rs's
// DecoderResult and ICU's single error callback.
#ifndef VELTA_COMMON_CONVERSION_STEP_H
#define VELTA_COMMON_CONVERSION_STEP_H

#include <stdint.h>
#include <string.h>

namespace velta {

enum class Stop : uint8_t {
    kInputUsed,   // every input byte read; only state waits (a base64 run, a shift)
    kOutputFull,  // the next character (or the closing of a state) does not fit
    kMalformed,   // `length` bytes at `read` are not a character
    kUnmappable,  // the target lacks `character`, whose `length` bytes start at `read`
    kCutAtEnd,    // the input ends inside a character: the bytes from `read` wait
};

struct StepResult {
    Stop stop;
    uint32_t read;
    uint32_t written;
    uint32_t length;     // kMalformed, kUnmappable
    uint32_t character;  // kUnmappable: the code point
};

inline StepResult inputUsed(uint32_t read, uint32_t written) {
    return {Stop::kInputUsed, read, written, 0, 0};
}
inline StepResult outputFull(uint32_t read, uint32_t written) {
    return {Stop::kOutputFull, read, written, 0, 0};
}
inline StepResult malformedAt(uint32_t read, uint32_t written, uint32_t length) {
    return {Stop::kMalformed, read, written, length, 0};
}
inline StepResult unmappableAt(uint32_t read, uint32_t written, uint32_t length,
                               uint32_t character) {
    return {Stop::kUnmappable, read, written, length, character};
}
inline StepResult cutAtEnd(uint32_t read, uint32_t written) {
    return {Stop::kCutAtEnd, read, written, 0, 0};
}

// The state a codec keeps between steps, as a value: the shell keeps a copy
// to undo a step whose output it does not take (a stand-in that does not
// fit), and a chain to read a block of its input again.
struct StepState {
    uint64_t words[4];
};

template <typename State>
inline void saveStepState(const State& state, StepState* saved) {
    static_assert(sizeof(State) <= sizeof(StepState), "a codec's state fits a StepState");
    memcpy(saved->words, &state, sizeof state);
}

template <typename State>
inline void restoreStepState(State* state, const StepState& saved) {
    memcpy(state, saved.words, sizeof *state);
}

}  // namespace velta

#endif
