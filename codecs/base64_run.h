// The machinery shared by UTF-7 (RFC 2152) and IMAP modified UTF-7
// (RFC 3501, section 5.1.3): the bit buffer of a base64 run, the alphabets,
// and an output that keeps the bytes a full buffer could not take.
#ifndef VELTA_CODECS_BASE64_RUN_H
#define VELTA_CODECS_BASE64_RUN_H

#include <stdint.h>
#include <string.h>

#include "common/step_shell.h"
#include "common/text_kernels.h"
#include "common/units.h"
#include "velta/converter.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velta {

// Valid bits sit at the top of a 32-bit accumulator.
struct BitBuffer {
    uint32_t bits = 0;
    uint32_t count = 0;

    void add(uint32_t value, uint32_t width) {
        bits |= value << (32 - width - count);
        count += width;
    }
    uint32_t take(uint32_t width) {
        const uint32_t value = bits >> (32 - width);
        bits = width < 32 ? bits << width : 0;
        count -= width;
        return value;
    }
    // Zero bits up to the next multiple of six.
    void padToSextet() { count += (6 - count % 6) % 6; }
    // Bits that no 16-bit unit will take; must be zero at the end of a run.
    bool leftoverIsZero() const { return bits == 0; }
    void clear() { bits = count = 0; }
};

// A base64 alphabet and its inverse for codes 0..127 (-1 outside it).
struct Base64Alphabet {
    char digits[65];
    int8_t index[128];
    char pairs[4096][2];  // the two digits of each twelve bits
};

// Built once, on first use, by the thread-safe initialisation of statics.
const Base64Alphabet& utf7Alphabet();          // A-Z a-z 0-9 + /
const Base64Alphabet& modifiedUtf7Alphabet();  // A-Z a-z 0-9 + ,

inline int base64Index(const Base64Alphabet& alphabet, unsigned char c) {
    return c < 128 ? alphabet.index[c] : -1;
}

// Writes into the caller's buffer and keeps, in order, what did not fit; the
// next call delivers the kept bytes before anything else.
class ByteOutput {
public:
    enum { kMaxPending = 8 };

    ByteOutput(unsigned char* target, uint32_t capacity, unsigned char* pending,
               uint32_t* pendingCount)
        : fTarget(target),
          fCapacity(capacity),
          fWritten(0),
          fPending(pending),
          fPendingCount(pendingCount) {}

    // Delivers kept bytes; true when none is left.
    bool flushPending() {
        uint32_t delivered = 0;
        while (delivered < *fPendingCount && fWritten < fCapacity)
            fTarget[fWritten++] = fPending[delivered++];
        for (uint32_t i = delivered; i < *fPendingCount; ++i) fPending[i - delivered] = fPending[i];
        *fPendingCount -= delivered;
        return *fPendingCount == 0;
    }
    void put(unsigned char byte) {
        if (*fPendingCount == 0 && fWritten < fCapacity)
            fTarget[fWritten++] = byte;
        else if (*fPendingCount < kMaxPending)
            fPending[(*fPendingCount)++] = byte;
    }
    bool full() const { return *fPendingCount != 0; }
    // Room for n bytes written straight into the caller's buffer, or null;
    // advance(n) then counts them.
    unsigned char* space(uint32_t n) {
        return (*fPendingCount == 0 && fCapacity - fWritten >= n) ? fTarget + fWritten : nullptr;
    }
    void advance(uint32_t n) { fWritten += n; }
    uint32_t room() const { return fCapacity - fWritten; }
    uint32_t written() const { return fWritten; }
    unsigned char* target() const { return fTarget; }
    uint32_t capacity() const { return fCapacity; }

private:
    unsigned char* fTarget;
    uint32_t fCapacity;
    uint32_t fWritten;
    unsigned char* fPending;
    uint32_t* fPendingCount;
};

// Writes the base64 digits of every whole sextet in the buffer.
inline void putSextets(BitBuffer& buffer, const Base64Alphabet& alphabet, ByteOutput& out) {
    while (buffer.count >= 6) out.put(static_cast<unsigned char>(alphabet.digits[buffer.take(6)]));
}

// Eight base64 digits carry exactly three 16-bit units (48 bits): the fast
// paths of both UTF-7 forms move whole groups while a run is aligned to one.
enum { kGroupDigits = 8, kGroupUnits = 3 };

// Decodes eight digits at s into three units at target; false (nothing
// written) when one of them is not in the alphabet.
inline bool decodeDigitGroup(const Base64Alphabet& alphabet, const unsigned char* s,
                             unsigned char* target) {
    uint64_t bits = 0;
    for (int i = 0; i < kGroupDigits; ++i) {
        const int sextet = base64Index(alphabet, s[i]);
        if (sextet < 0) return false;
        bits = bits << 6 | static_cast<uint64_t>(sextet);
    }
    storeUnit(target, static_cast<uint16_t>(bits >> 32));
    storeUnit(target + 2, static_cast<uint16_t>(bits >> 16));
    storeUnit(target + 4, static_cast<uint16_t>(bits));
    return true;
}

// Encodes three units into eight digits, two digits a lookup.
inline void encodeUnitGroup(const Base64Alphabet& alphabet, uint16_t a, uint16_t b, uint16_t c,
                            unsigned char* out) {
    const uint64_t bits = static_cast<uint64_t>(a) << 32 | static_cast<uint64_t>(b) << 16 | c;
    for (int i = 0; i < kGroupDigits / 2; ++i)
        memcpy(out + 2 * i, alphabet.pairs[(bits >> (36 - 12 * i)) & 0xFFF], 2);
}

// What a decoder's step stopped at that its state must pass once the shell
// has met it (passMalformedRun).
enum class RunStop : uint8_t {
    kNone,
    kBadEnd,    // the run ends badly: it is closed
    kLoneLow,   // the digit completes a lone low surrogate: it is dropped
    kLoneHigh,  // the high surrogate held is lone: it is dropped
};

// The state of a decoder between calls: inside a run or not, the bits read
// but not yet stored, whether the run has had a base64 digit or a unit, and
// (read strictly) a high surrogate held until the unit after it.
struct Base64DecoderState {
    bool shifted = false;
    bool first = false;
    bool wroteOne = false;
    RunStop stop = RunStop::kNone;
    uint16_t heldHigh = 0;
    uint8_t stoppedSextet = 0;
    BitBuffer buffer;
};

// The unit that `sextet` completes, or -1 where it completes none.
inline int32_t unitCompletedBy(const Base64DecoderState& state, int sextet) {
    if (state.buffer.count + 6 < 16) return -1;
    BitBuffer next = state.buffer;
    next.add(static_cast<uint32_t>(sextet), 6);
    return static_cast<int32_t>(next.take(16));
}

// Adds one base64 digit of a run; returns the unit it completes (-1: none).
inline int32_t addSextet(Base64DecoderState& state, int sextet) {
    state.buffer.add(static_cast<uint32_t>(sextet), 6);
    state.first = false;
    if (state.buffer.count < 16) return -1;
    state.wroteOne = true;
    return static_cast<int32_t>(state.buffer.take(16));
}

// Whether ending the run now would be valid, without ending it: it produced
// a unit (unless `emptyRunAllowed`) and left only zero bits behind.
inline bool runCanEnd(const Base64DecoderState& state, bool emptyRunAllowed) {
    return (state.wroteOne || emptyRunAllowed) && state.buffer.leftoverIsZero();
}

inline void endRun(Base64DecoderState& state) {
    state.buffer.clear();
    state.shifted = false;
}

// The two forms of UTF-7: the byte that opens a base64 run (written before
// "-", it stands for itself) and whether that byte inside a run closes it.
// What a UTF-7 encoder (either form) keeps between calls: whether a run is
// open, its bits, and the bytes a full output could not take.
struct Utf7EncoderState {
    bool shifted = false;
    BitBuffer buffer;
    unsigned char pending[ByteOutput::kMaxPending] = {};
    uint32_t pendingCount = 0;
};

struct Utf7Form {
    const Base64Alphabet& alphabet;
    unsigned char shift;  // "+" (RFC 2152) or "&" (RFC 3501)
    bool shiftClosesRun;  // "&" closes a run of modified UTF-7
};

// How a decoder reads: `asBefore` reads a whole sextet left over as nothing,
// as the older flat functions did; `strictUnicode` reads a lone surrogate
// as malformed.
struct Utf7Reading {
    bool asBefore;
    bool strictUnicode;
};

// Decodes UTF-7 text of either form into UCS-2 (a step: see
// common/step_shell.h), keeping the run state in `state` between steps: a
// byte is read only once everything it yields is stored. The end of the
// input ends any run when the text ends there; otherwise the run goes on in
// the next step. A byte above 0x7F and a run that ends badly are malformed
// (the run stays open until passMalformedRun), and so, read strictly, is a
// lone surrogate.
StepResult decodeUtf7Step(const Utf7Form& form, Base64DecoderState& state, Utf7Reading reading,
                          const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                          uint32_t targetCapacity, bool textEnds);
// Passes what the step stopped at, once the shell has met it.
void passMalformedRun(Base64DecoderState& state);
// What the older flat functions wrote for malformed UTF-7: a byte above 0x7F
// as its own unit, nothing for a run that ended badly (a lone surrogate,
// which only the strict reading meets, has none).
bool olderUtf7Replacement(const StepResult& result, ChosenText* text);

// The decoder of a UTF-7 form: `Form` gives its identity() and its form()
// (the alphabet made on first use, so the constructor makes it).
template <typename Form>
class TUtf7FormDecoder : public TStepShell<TUtf7FormDecoder<Form>> {
public:
    TUtf7FormDecoder() : TStepShell<TUtf7FormDecoder<Form>>(Form::identity()) { Form::form(); }
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fState = Base64DecoderState(); }
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds) {
        return decodeUtf7Step(Form::form(), fState,
                              {this->ReadsAsBefore(), this->fOptions.strictUnicode}, source,
                              sourceLength, target, targetCapacity, textEnds);
    }
    void saveState(StepState* state) const { saveStepState(fState, state); }
    void restoreState(const StepState& state) { restoreStepState(&fState, state); }
    void passedOver(const StepResult&) { passMalformedRun(fState); }
    bool olderReplacement(const StepResult& result, ChosenText* text) const {
        return olderUtf7Replacement(result, text);
    }
    // The older flat functions, on an object whose policy was never chosen,
    // have always ended a call that met malformed UTF-7 with -1302.
    bool keepsInvalidStatus() const { return this->ReadsAsBefore(); }
    NLS_Status outputFullStatus() const { return NLS_OUTPUT_FULL; }

private:
    Base64DecoderState fState;
};

// While the run is aligned to a group: encodes the units that travel in it
// (`inRun`) up to the first that does not, in whole groups as far as the
// output has room for their digits, blocks of twelve by the vector kernel.
// Returns the units taken (none when the run is not aligned).
template <typename InRun>
uint32_t encodeAlignedGroups(const Base64Alphabet& alphabet, const BitBuffer& buffer,
                             const unsigned char* source, uint32_t unitsLeft, ByteOutput& out,
                             InRun inRun) {
    unsigned char* space = buffer.count == 0 ? out.space(kGroupDigits) : nullptr;
    if (space == nullptr) return 0;
    const uint32_t roomForUnits = out.room() / kGroupDigits * kGroupUnits;
    const uint32_t limit = unitsLeft < roomForUnits ? unitsLeft : roomForUnits;
    uint32_t joining = 0;
    while (joining < limit && inRun(loadUnit(source + 2 * joining))) ++joining;
    joining -= joining % kGroupUnits;
    uint32_t done = 0;
    const auto kernel = textKernels().encodeBase64Units;
    if (kernel != nullptr) done = kernel(source, joining, space, out.room(), alphabet.digits[63]);
    for (; done < joining; done += kGroupUnits)
        encodeUnitGroup(alphabet, loadUnit(source + 2 * done), loadUnit(source + 2 * done + 2),
                        loadUnit(source + 2 * done + 4), space + done / kGroupUnits * kGroupDigits);
    out.advance(joining / kGroupUnits * kGroupDigits);
    return joining;
}

// The printable units that stand for themselves in a form: 0x20 up to
// `last`, but for two that must shift (the same one twice where only one
// must). Other units may stand for themselves too (tabs, line ends): the
// form's own test says.
struct DirectPrintables {
    uint16_t last;
    uint16_t shifted;
    uint16_t alsoShifted;
};

// Narrows the units of `printables` from `source` (at most `units`, which
// `target` has room for), eight at a time where SSE2 is; returns how many.
inline uint32_t narrowDirectPrintables(const DirectPrintables& printables,
                                       const unsigned char* source, uint32_t units,
                                       unsigned char* target) {
    uint32_t done = 0;
#if defined(__SSE2__)
    const __m128i belowFirst = _mm_set1_epi16(0x1F);
    const __m128i pastLast = _mm_set1_epi16(static_cast<short>(printables.last + 1));
    const __m128i shifted = _mm_set1_epi16(static_cast<short>(printables.shifted));
    const __m128i alsoShifted = _mm_set1_epi16(static_cast<short>(printables.alsoShifted));
    for (; units - done >= 8; done += 8) {
        const __m128i unitsHere =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * done));
        // Signed compares: units from 0x8000 up are below 0x20 to them.
        const __m128i inRange = _mm_and_si128(_mm_cmpgt_epi16(unitsHere, belowFirst),
                                              _mm_cmplt_epi16(unitsHere, pastLast));
        const __m128i shifts = _mm_or_si128(_mm_cmpeq_epi16(unitsHere, shifted),
                                            _mm_cmpeq_epi16(unitsHere, alsoShifted));
        const unsigned direct =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(shifts, inRange)));
        // All eight bytes lie within the room; only the run counts.
        _mm_storel_epi64(reinterpret_cast<__m128i*>(target + done),
                         _mm_packus_epi16(unitsHere, unitsHere));
        if (direct != 0xFFFF) return done + static_cast<uint32_t>(__builtin_ctz(~direct)) / 2;
    }
#endif
    for (; done < units; ++done) {
        const uint16_t unit = loadUnit(source + 2 * done);
        if (unit < 0x20 || unit > printables.last || unit == printables.shifted ||
            unit == printables.alsoShifted)
            break;
        target[done] = static_cast<unsigned char>(unit);
    }
    return done;
}

// Copies the units that stand for themselves (no base64 run open), as long
// as the output has room; returns how many.
template <typename MustShift>
uint32_t copyDirectRun(const unsigned char* source, uint32_t units, ByteOutput& out,
                       MustShift mustShift, const DirectPrintables& printables) {
    unsigned char* space = out.full() ? nullptr : out.space(0);
    const uint32_t limit = space == nullptr ? 0 : units < out.room() ? units : out.room();
    enum : uint32_t { kUnitByUnit = 4 };  // a space between runs needs no vector
    uint32_t direct = 0;
    uint16_t unit;
    while (direct < limit && direct < kUnitByUnit &&
           !mustShift(unit = loadUnit(source + 2 * direct)))
        space[direct++] = static_cast<unsigned char>(unit);
    while (direct == kUnitByUnit || (direct > kUnitByUnit && direct < limit)) {
        direct +=
            narrowDirectPrintables(printables, source + 2 * direct, limit - direct, space + direct);
        if (direct == limit || mustShift(unit = loadUnit(source + 2 * direct))) break;
        space[direct++] = static_cast<unsigned char>(unit);
    }
    out.advance(direct);
    return direct;
}

// A short run written whole, where no run is open: the units from `source`
// that travel in it (`inRun`, at most kShortRun of them) up to the direct
// unit after them, as `shift`, their digits (the last padded with zero bits)
// and "-" where `hyphenBefore` that unit, as the unit-at-a-time path writes
// them. Returns the units taken; 0, writing nothing, where the run is longer,
// reaches the end of the input or does not fit, or its first unit is one
// that opens no run (`opens`).
template <typename InRun, typename Opens, typename HyphenBefore>
uint32_t encodeShortRun(const Base64Alphabet& alphabet, unsigned char shift,
                        const unsigned char* source, uint32_t unitsLeft, ByteOutput& out,
                        InRun inRun, Opens opens, HyphenBefore hyphenBefore) {
    enum : uint32_t { kShortRun = 24 };
    if (unitsLeft == 0 || !opens(loadUnit(source))) return 0;
    uint32_t n = 0;
    while (n < unitsLeft && n <= kShortRun && inRun(loadUnit(source + 2 * n))) ++n;
    if (n == 0 || n == unitsLeft || n > kShortRun) return 0;
    const uint32_t digits = (16 * n + 5) / 6;
    const bool hyphen = hyphenBefore(loadUnit(source + 2 * n));
    unsigned char* space = out.space(1 + digits + (hyphen ? 1 : 0));
    if (space == nullptr) return 0;
    *space++ = shift;
    uint32_t done = 0;
    for (; n - done >= kGroupUnits; done += kGroupUnits, space += kGroupDigits)
        encodeUnitGroup(alphabet, loadUnit(source + 2 * done), loadUnit(source + 2 * done + 2),
                        loadUnit(source + 2 * done + 4), space);
    if (done < n) {
        const uint16_t second = n - done == 2 ? loadUnit(source + 2 * done + 2) : 0;
        unsigned char group[kGroupDigits];
        encodeUnitGroup(alphabet, loadUnit(source + 2 * done), second, 0, group);
        const uint32_t rest = n - done == 2 ? 6 : 3;
        memcpy(space, group, rest);
        space += rest;
    }
    if (hyphen) *space = '-';
    out.advance(1 + digits + (hyphen ? 1 : 0));
    return n;
}

// What an encoder's loop over closed runs needs of its form.
struct Utf7EncoderForm {
    DirectPrintables printables;
    bool lineEndsDirect;  // tab, CR and LF stand for themselves too (RFC 2152)
    unsigned char shift;  // the shift unit alone opens no run: shift and "-"
    bool shiftJoinsRun;   // inside a run the shift unit travels in it (RFC 2152)
    bool hyphenAlways;    // a run always ends in "-" (RFC 3501)
};

// While no run is open and nothing is kept: direct units and whole runs
// (shift, digits, "-" where the form wants it) of windows of 32 units
// classified at once, as long as the output has room for all a run writes
// and the input holds the unit after it. Returns the units taken; the
// unit-at-a-time path takes over where it stops (a run of hundreds of units
// too), writing what it would have written.
uint32_t encodeClosedRuns(const Base64Alphabet& alphabet, const Utf7EncoderForm& form,
                          const unsigned char* source, uint32_t units, ByteOutput& out);

// The encoders' loop over UCS-2 units from `position`: closed runs written
// whole while the output has room to spare, direct runs copied while no run
// is open, short runs written whole (`shortRun`: units taken, 0 for none),
// aligned groups of an open run written whole, and every other unit given to
// `encodeOne` (which opens and closes runs in `state`; false stops before its
// unit). Returns false when the output filled or `encodeOne` stopped;
// `position` is then the unit not taken.
template <typename MustShift, typename JoinsGroup, typename ShortRun, typename EncodeOne>
bool encodeUnits(const Base64Alphabet& alphabet, const Utf7EncoderState& state,
                 const unsigned char* source, uint32_t units, uint32_t& position, ByteOutput& out,
                 MustShift mustShift, const Utf7EncoderForm& form, JoinsGroup joinsGroup,
                 ShortRun shortRun, EncodeOne encodeOne) {
    for (; position < units; ++position) {
        if (out.full()) return false;
        if (!state.shifted) {
            position +=
                encodeClosedRuns(alphabet, form, source + 2 * position, units - position, out);
            if (position == units) break;
            position += copyDirectRun(source + 2 * position, units - position, out, mustShift,
                                      form.printables);
            if (position == units) break;
            const uint32_t taken = shortRun(source + 2 * position, units - position);
            if (taken != 0) {
                position += taken - 1;
                continue;
            }
        }
        const uint32_t grouped =
            state.shifted ? encodeAlignedGroups(alphabet, state.buffer, source + 2 * position,
                                                units - position, out, joinsGroup)
                          : 0;
        if (grouped != 0) {
            position += grouped - 1;
            continue;
        }
        if (!encodeOne(loadUnit(source + 2 * position))) return false;
    }
    return true;
}

}  // namespace velta

#endif
