#include "codecs/base64_run.h"

#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velta {

namespace {

Base64Alphabet makeAlphabet(const char* digits) {
    Base64Alphabet alphabet;
    memcpy(alphabet.digits, digits, 65);
    for (int c = 0; c < 128; ++c) alphabet.index[c] = -1;
    for (int i = 0; i < 64; ++i)
        alphabet.index[static_cast<unsigned char>(digits[i])] = static_cast<int8_t>(i);
    for (int bits = 0; bits < 4096; ++bits) {
        alphabet.pairs[bits][0] = digits[bits >> 6];
        alphabet.pairs[bits][1] = digits[bits & 0x3F];
    }
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

// Bytes that stand for themselves (ASCII but the shift byte, outside a run)
// widened to units while room lasts, sixteen at a time where SSE2 is;
// returns the bytes taken. Whatever else comes is the step's.
__attribute__((noinline)) uint32_t directRun(unsigned char shift, const unsigned char* source,
                                             uint32_t length, unsigned char* target,
                                             uint32_t room) {
    const uint32_t limit = length < room / 2 ? length : room / 2;
    uint32_t done = 0;
#if defined(__SSE2__)
    const __m128i shifts = _mm_set1_epi8(static_cast<char>(shift));
    const __m128i zero = _mm_setzero_si128();
    while (limit - done >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done));
        const unsigned others = static_cast<unsigned>(
            _mm_movemask_epi8(bytes) | _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, shifts)));
        const uint32_t run = others == 0 ? 16 : static_cast<uint32_t>(__builtin_ctz(others));
        // All 32 bytes lie within the room; only the run counts.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 2 * done),
                         _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 2 * done + 16),
                         _mm_unpackhi_epi8(bytes, zero));
        done += run;
        if (run != 16) return done;
    }
#endif
    for (; done < limit && source[done] < 0x80 && source[done] != shift; ++done)
        storeUnit(target + 2 * done, source[done]);
    return done;
}

// Whether a run may end here. Bits left over must be zero; a whole sextet
// left over (a unit cut short, "+AGEA-") is malformed too, except for the
// older flat functions, which have always read it as nothing.
bool runMayEnd(const Base64DecoderState& state, bool emptyRunAllowed, bool asBefore) {
    return runCanEnd(state, emptyRunAllowed) && (state.buffer.count < 6 || asBefore);
}

// Malformed input that the state passes once the shell has met it: until
// then the run stays as it is, so that a call that stops there meets it
// again when the caller comes back. `length`: the bytes the shell passes
// (the closing "-", the digit of a lone low surrogate, or none).
StepResult stopInRun(Base64DecoderState& state, RunStop stop, uint32_t in, uint32_t out,
                     uint32_t length, uint32_t loneSurrogate = 0) {
    state.stop = stop;
    return {Stop::kMalformed, in, out, length, loneSurrogate};
}

// One base64 digit `in` bytes into the input; false, with *result set,
// where the step stops before it. Read strictly, a high surrogate is held
// until the unit after it shows it paired.
bool decodeDigit(Base64DecoderState& state, bool strict, int sextet, uint32_t in,
                 unsigned char* target, uint32_t capacity, uint32_t* out, StepResult* result) {
    const int32_t unit = unitCompletedBy(state, sextet);
    if (strict && unit >= 0) {
        if (state.heldHigh != 0 && !isLowSurrogate(static_cast<uint32_t>(unit))) {
            *result = stopInRun(state, RunStop::kLoneHigh, in, *out, 0, state.heldHigh);
            return false;
        }
        if (state.heldHigh == 0 && isLowSurrogate(static_cast<uint32_t>(unit))) {
            state.stoppedSextet = static_cast<uint8_t>(sextet);
            *result = stopInRun(state, RunStop::kLoneLow, in, *out, 1, static_cast<uint32_t>(unit));
            return false;
        }
    }
    const uint32_t needed = unit < 0                                                 ? 0
                            : strict && isHighSurrogate(static_cast<uint32_t>(unit)) ? 0
                            : state.heldHigh != 0                                    ? 4
                                                                                     : 2;
    if (capacity - *out < needed) {
        *result = outputFull(in, *out);
        return false;
    }
    addSextet(state, sextet);
    if (needed == 0 && unit >= 0) state.heldHigh = static_cast<uint16_t>(unit);
    if (needed == 0) return true;
    if (state.heldHigh != 0) {
        storeUnit(target + *out, state.heldHigh);
        *out += 2;
        state.heldHigh = 0;
    }
    storeUnit(target + *out, static_cast<uint16_t>(unit));
    *out += 2;
    return true;
}

bool groupHasSurrogate(const unsigned char* units) {
    for (uint32_t i = 0; i < kGroupUnits; ++i)
        if (isSurrogate(loadUnit(units + 2 * i))) return true;
    return false;
}

// Eight digits while a run is aligned to them (not while a high surrogate
// waits for its pair); read strictly, a group with a surrogate goes digit
// by digit.
bool decodeGroup(const Utf7Form& form, Base64DecoderState& state, bool strict,
                 const unsigned char* source, uint32_t length, unsigned char* target,
                 uint32_t capacity) {
    if (state.buffer.count != 0 || state.heldHigh != 0 || length < kGroupDigits ||
        capacity < 2 * kGroupUnits || !decodeDigitGroup(form.alphabet, source, target))
        return false;
    if (strict && groupHasSurrogate(target)) return false;
    state.first = false;
    state.wroteOne = true;
    return true;
}

// A whole run, from the shift byte at source[0] to the byte after its last
// digit, where the input holds that byte and the run is well formed: it has
// a unit, leaves fewer than six bits and all of them zero, and (read
// strictly) pairs every surrogate. Its units go out at once where the output
// has room for all of them. Returns the bytes taken (a closing "-" among
// them) and sets *written, or 0 for anything else, which the byte-by-byte
// path reads as it always has.
uint32_t decodeClosedRun(const Utf7Form& form, bool strict, const unsigned char* source,
                         uint32_t length, unsigned char* target, uint32_t capacity,
                         uint32_t* written) {
    uint32_t in = 1, out = 0;
    uint32_t bits = 0, count = 0;  // the bits not yet in a unit, lowest
    bool highWaits = false;
    for (;;) {
        // A run of one unit (three digits, an accented letter in Latin
        // text) does not try a group.
        if (count == 0 && !highWaits && length - in > kGroupDigits &&
            capacity - out >= 2 * kGroupUnits &&
            (in > 1 || base64Index(form.alphabet, source[in + 3]) >= 0) &&
            decodeDigitGroup(form.alphabet, source + in, target + out) &&
            !(strict && groupHasSurrogate(target + out))) {
            in += kGroupDigits;
            out += 2 * kGroupUnits;
            continue;
        }
        const int sextet = in < length ? base64Index(form.alphabet, source[in]) : -1;
        if (sextet < 0) break;
        ++in;
        bits = bits << 6 | static_cast<uint32_t>(sextet);
        count += 6;
        if (count < 16) continue;
        count -= 16;
        const uint32_t unit = bits >> count;
        bits &= (1u << count) - 1;
        if (strict && (isLowSurrogate(unit) != highWaits)) return 0;
        highWaits = strict && isHighSurrogate(unit);
        if (capacity - out < 2) return 0;
        storeUnit(target + out, static_cast<uint16_t>(unit));
        out += 2;
    }
    if (in == length || out == 0 || count >= 6 || bits != 0 || highWaits) return 0;
    const unsigned char end = source[in];
    if (end > 0x7F || (form.shiftClosesRun && end == form.shift)) return 0;
    *written = out;
    return end == '-' ? in + 1 : in;
}

}  // namespace

void passMalformedRun(Base64DecoderState& state) {
    switch (state.stop) {
        case RunStop::kBadEnd:
            endRun(state);
            break;
        case RunStop::kLoneLow:
            addSextet(state, state.stoppedSextet);
            break;
        case RunStop::kLoneHigh:
            state.heldHigh = 0;
            break;
        case RunStop::kNone:
            break;
    }
    state.stop = RunStop::kNone;
}

StepResult decodeUtf7Step(const Utf7Form& form, Base64DecoderState& state, Utf7Reading reading,
                          const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                          uint32_t targetCapacity, bool textEnds) {
    const bool strict = reading.strictUnicode;
    uint32_t in = 0;
    uint32_t out = 0;
    for (;;) {
        const bool ends = in == sourceLength;
        if (ends && !(textEnds && state.shifted)) return inputUsed(in, out);
        const unsigned char c = ends ? 0 : source[in];
        if (!ends && state.shifted &&
            decodeGroup(form, state, strict, source + in, sourceLength - in, target + out,
                        targetCapacity - out)) {
            in += kGroupDigits;
            out += 2 * kGroupUnits;
            continue;
        }
        const int sextet = ends ? -1 : base64Index(form.alphabet, c);
        if (state.shifted && sextet >= 0) {
            StepResult stop;
            if (!decodeDigit(state, strict, sextet, in, target, targetCapacity, &out, &stop))
                return stop;
            ++in;
            continue;
        }
        if (state.shifted) {
            // Whatever ends the run ends a high surrogate's wait for its pair.
            if (state.heldHigh != 0)
                return stopInRun(state, RunStop::kLoneHigh, in, out, 0, state.heldHigh);
            // "-" (or, in modified UTF-7, the shift byte) closes the run;
            // "+-" ("&-") stands for the shift byte itself.
            const bool closing = !ends && (c == '-' || (form.shiftClosesRun && c == form.shift));
            const bool literalShift = closing && state.first && c == '-';
            if (literalShift && targetCapacity - out < 2) return outputFull(in, out);
            if (!runMayEnd(state, literalShift, reading.asBefore))
                return stopInRun(state, RunStop::kBadEnd, in, out, closing ? 1 : 0);
            endRun(state);
            if (literalShift) {
                storeUnit(target + out, form.shift);
                out += 2;
            }
            in += closing ? 1 : 0;
            continue;
        }
        if (c == form.shift) {
            uint32_t written = 0;
            const uint32_t taken = decodeClosedRun(form, strict, source + in, sourceLength - in,
                                                   target + out, targetCapacity - out, &written);
            if (taken != 0) {
                in += taken;
                out += written;
                state.first = false;
                state.wroteOne = true;
                continue;
            }
            state.shifted = true;
            state.first = true;
            state.wroteOne = false;
            ++in;
            continue;
        }
        // A byte above 0x7F is no UTF-7; the older flat functions wrote it
        // as its own unit (the `character` the shell takes from it then).
        if (c > 0x7F) return {Stop::kMalformed, in, out, 1, c};
        // A lone byte between runs (a space between emoji) is cheaper below.
        if (sourceLength - in > 1 && source[in + 1] < 0x80 && source[in + 1] != form.shift) {
            const uint32_t run = directRun(form.shift, source + in, sourceLength - in, target + out,
                                           targetCapacity - out);
            in += run;
            out += 2 * run;
            if (run != 0) continue;
        }
        if (targetCapacity - out < 2) return outputFull(in, out);
        storeUnit(target + out, c);
        out += 2;
        ++in;
    }
}

namespace {

// A run from kLongRun units up is left to the unit-at-a-time path, which
// writes it as it goes without looking for its end first.
enum : uint32_t { kBlockUnits = 8, kWindowUnits = 32, kLongRun = 256 };
const uint64_t kWholeWindow = 0xFFFFFFFF;

// Sorts units of a form: those that stand for themselves and those that
// travel in a run, by eight where SSE2 is (a bit a unit, the first lowest).
class UnitClasses {
public:
    explicit UnitClasses(const Utf7EncoderForm& form)
        : fLast(form.printables.last),
          fShifted(form.printables.shifted),
          fAlsoShifted(form.printables.alsoShifted),
          // A space stands for itself in both forms: comparing with it
          // adds nothing where a form has no such unit.
          fTab(form.lineEndsDirect ? '\t' : ' '),
          fLineFeed(form.lineEndsDirect ? '\n' : ' '),
          fReturn(form.lineEndsDirect ? '\r' : ' '),
          fOutsideRuns(form.shiftJoinsRun ? ' ' : form.shift),
          fShiftOutsideRuns(!form.shiftJoinsRun)
#if defined(__SSE2__)
          ,
          fBelowFirstLanes(_mm_set1_epi16(0x1F)),
          fPastLastLanes(lanesOf(static_cast<uint16_t>(fLast + 1))),
          fShiftedLanes(lanesOf(fShifted)),
          fAlsoShiftedLanes(lanesOf(fAlsoShifted)),
          fTabLanes(lanesOf(fTab)),
          fLineFeedLanes(lanesOf(fLineFeed)),
          fReturnLanes(lanesOf(fReturn)),
          fOutsideRunsLanes(lanesOf(fOutsideRuns))
#endif
    {
    }

    bool direct(uint16_t unit) const {
        return (unit >= 0x20 && unit <= fLast && unit != fShifted && unit != fAlsoShifted) ||
               unit == fTab || unit == fLineFeed || unit == fReturn;
    }
    bool joins(uint16_t unit) const {
        return !direct(unit) && unit != fOutsideRuns;
    }

    // The direct units of the kWindowUnits at `source`, whose low bytes go
    // to the kWindowUnits bytes at `target`; `joining` gets those that travel
    // in a run.
    uint32_t classifyWindow(const unsigned char* source, unsigned char* target,
                            uint32_t* joining) const {
        uint32_t directUnits = 0;
        *joining = 0;
        for (uint32_t i = 0; i < kWindowUnits; i += 2 * kBlockUnits) {
            uint32_t joiningHere;
            directUnits |= classifySixteen(source + 2 * i, target + i, &joiningHere) << i;
            *joining |= joiningHere << i;
        }
        return directUnits;
    }
    // Those of the eight at `source` that travel in a run.
    uint32_t joinEight(const unsigned char* source) const {
#if defined(__SSE2__)
        const __m128i units = load(source);
        // No unit from 0x80 up stands for itself: eight of them (CJK text)
        // all join.
        const __m128i ascii = _mm_cmpeq_epi16(
            _mm_and_si128(units, lanesOf(static_cast<uint16_t>(0xFF80))), _mm_setzero_si128());
        if (_mm_movemask_epi8(ascii) == 0) return 0xFF;
        const __m128i outside =
            _mm_or_si128(directOf(units), _mm_cmpeq_epi16(units, fOutsideRunsLanes));
        return ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(outside, outside))) & 0xFF;
#else
        uint32_t joining = 0;
        for (uint32_t i = 0; i < kBlockUnits; ++i)
            joining |= (joins(loadUnit(source + 2 * i)) ? 1u : 0u) << i;
        return joining;
#endif
    }

private:
    uint32_t classifySixteen(const unsigned char* source, unsigned char* target,
                             uint32_t* joining) const {
#if defined(__SSE2__)
        const __m128i first = load(source);
        const __m128i second = load(source + 2 * kBlockUnits);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target), _mm_packus_epi16(first, second));
        __m128i outside = _mm_packs_epi16(directOf(first), directOf(second));
        const uint32_t directUnits = static_cast<uint32_t>(_mm_movemask_epi8(outside));
        if (fShiftOutsideRuns)
            outside =
                _mm_or_si128(outside, _mm_packs_epi16(_mm_cmpeq_epi16(first, fOutsideRunsLanes),
                                                      _mm_cmpeq_epi16(second, fOutsideRunsLanes)));
        *joining = ~static_cast<uint32_t>(_mm_movemask_epi8(outside)) & 0xFFFF;
        return directUnits;
#else
        uint32_t directUnits = 0;
        *joining = 0;
        for (uint32_t i = 0; i < 2 * kBlockUnits; ++i) {
            const uint16_t unit = loadUnit(source + 2 * i);
            target[i] = static_cast<unsigned char>(unit);
            directUnits |= (direct(unit) ? 1u : 0u) << i;
            *joining |= (joins(unit) ? 1u : 0u) << i;
        }
        return directUnits;
#endif
    }

#if defined(__SSE2__)
    static __m128i lanesOf(uint16_t unit) {
        return _mm_set1_epi16(static_cast<short>(unit));
    }
    static __m128i load(const unsigned char* source) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
    }
    __m128i directOf(__m128i units) const {
        // Signed compares: units from 0x8000 up are below 0x20 to them.
        const __m128i printable = _mm_and_si128(_mm_cmpgt_epi16(units, fBelowFirstLanes),
                                                _mm_cmplt_epi16(units, fPastLastLanes));
        const __m128i shifted = _mm_or_si128(_mm_cmpeq_epi16(units, fShiftedLanes),
                                             _mm_cmpeq_epi16(units, fAlsoShiftedLanes));
        const __m128i lineEnds = _mm_or_si128(_mm_cmpeq_epi16(units, fTabLanes),
                                              _mm_or_si128(_mm_cmpeq_epi16(units, fLineFeedLanes),
                                                           _mm_cmpeq_epi16(units, fReturnLanes)));
        return _mm_or_si128(_mm_andnot_si128(shifted, printable), lineEnds);
    }
#endif

    uint16_t fLast, fShifted, fAlsoShifted, fTab, fLineFeed, fReturn, fOutsideRuns;
    bool fShiftOutsideRuns;
#if defined(__SSE2__)
    __m128i fBelowFirstLanes, fPastLastLanes, fShiftedLanes, fAlsoShiftedLanes, fTabLanes,
        fLineFeedLanes, fReturnLanes, fOutsideRunsLanes;
#endif
};

// The low bytes of `count` units, sixteen at a time where SSE2 is: input
// and room hold the units and bytes up to the next multiple of sixteen.
void narrowUnits(const unsigned char* source, uint32_t count, unsigned char* target) {
#if defined(__SSE2__)
    for (uint32_t i = 0; i < count; i += 2 * kBlockUnits) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * i));
        const __m128i second =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * i + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + i), _mm_packus_epi16(first, second));
    }
#else
    for (uint32_t i = 0; i < count; ++i)
        target[i] = static_cast<unsigned char>(loadUnit(source + 2 * i));
#endif
}

// A run known to go on for `run` units, followed up to its end, the end of
// the input or kLongRun units (at least), whichever comes first.
uint32_t followRun(const UnitClasses& classes, uint32_t run, const unsigned char* source,
                   uint32_t units) {
    while (units - run >= kBlockUnits && run < kLongRun) {
        const uint32_t more = static_cast<uint32_t>(
            __builtin_ctz(~classes.joinEight(source + 2 * run) | 1u << kBlockUnits));
        run += more;
        if (more < kBlockUnits) return run;
    }
    while (run < units && run < kLongRun && classes.joins(loadUnit(source + 2 * run))) ++run;
    return run;
}

// The digits of `run` units, the last padded with zero bits; the last group
// is stored whole (eight bytes), which `target` has room for.
template <typename Kernel>
void encodeRunDigits(const Base64Alphabet& alphabet, Kernel kernel, const unsigned char* source,
                     uint32_t run, unsigned char* target, uint32_t room) {
    uint32_t done = 0;
    if (kernel != nullptr && run >= 4 * kGroupUnits)
        done = kernel(source, run, target, room, alphabet.digits[63]);
    target += done / kGroupUnits * kGroupDigits;
    for (; run - done >= kGroupUnits; done += kGroupUnits, target += kGroupDigits)
        encodeUnitGroup(alphabet, loadUnit(source + 2 * done), loadUnit(source + 2 * done + 2),
                        loadUnit(source + 2 * done + 4), target);
    if (done == run) return;
    const uint16_t second = run - done == 2 ? loadUnit(source + 2 * done + 2) : 0;
    encodeUnitGroup(alphabet, loadUnit(source + 2 * done), second, 0, target);
}

}  // namespace

uint32_t encodeClosedRuns(const Base64Alphabet& alphabet, const Utf7EncoderForm& form,
                          const unsigned char* source, uint32_t units, ByteOutput& out) {
    enum : uint32_t { kLeastUnits = kWindowUnits + 2 * kBlockUnits };
    unsigned char* const target = out.full() || units < kLeastUnits ? nullptr : out.space(0);
    if (target == nullptr) return 0;
    const uint32_t room = out.room();
    const UnitClasses classes(form);
    const auto kernel = textKernels().encodeBase64Units;
    uint32_t in = 0;
    uint32_t written = 0;
    // Windows of units classified (and narrowed) at once, walked a stretch at
    // a time; a later direct stretch narrowed by sixteen reads up to sixteen
    // units past its window.
    while (units - in >= kLeastUnits && room - written >= kWindowUnits) {
        const unsigned char* const window = source + 2 * in;
        uint32_t joining;
        const uint64_t direct = classes.classifyWindow(window, target + written, &joining);
        // A branch, not the count below, so that the next window's loads
        // need not wait for this one's classes.
        if (direct == kWholeWindow) {
            in += kWindowUnits;
            written += kWindowUnits;
            continue;
        }
        uint32_t at = static_cast<uint32_t>(__builtin_ctzll(~direct));
        written += at;
        bool stopped = false;
        while (at < kWindowUnits) {
            if (loadUnit(window + 2 * at) == form.shift) {
                // "&-" of modified UTF-7 wants a byte to spare after it.
                if (room - written < 3) {
                    stopped = true;
                    break;
                }
                target[written] = form.shift;
                target[written + 1] = '-';
                written += 2;
                ++at;
            } else {
                uint32_t run = static_cast<uint32_t>(__builtin_ctzll(~(uint64_t{joining} >> at)));
                if (at + run == kWindowUnits)
                    run = followRun(classes, run, window + 2 * at, units - in - at);
                const uint32_t groups = (run + kGroupUnits - 1) / kGroupUnits;
                // A run that reaches the end of the input may go on in the
                // next call.
                if (run == units - in - at || run >= kLongRun ||
                    room - written < 2 + groups * kGroupDigits) {
                    stopped = true;
                    break;
                }
                target[written++] = form.shift;
                encodeRunDigits(alphabet, kernel, window + 2 * at, run, target + written,
                                room - written);
                written += (16 * run + 5) / 6;
                at += run;
                const uint16_t next = loadUnit(window + 2 * at);
                if (form.hyphenAlways || next == '-' || (next < 128 && alphabet.index[next] >= 0))
                    target[written++] = '-';
                if (at >= kWindowUnits) break;
            }
            const uint32_t directUnits = static_cast<uint32_t>(__builtin_ctzll(~(direct >> at)));
            if (room - written < directUnits + 2 * kBlockUnits) {
                stopped = true;
                break;
            }
            narrowUnits(window + 2 * at, directUnits, target + written);
            written += directUnits;
            at += directUnits;
        }
        in += at;
        if (stopped) break;
    }
    out.advance(written);
    return in;
}

bool olderUtf7Replacement(const StepResult& result, ChosenText* text) {
    if (isSurrogate(result.character)) return false;  // read strictly: U+FFFD
    text->count = 0;
    if (result.character != 0) text->units[text->count++] = static_cast<uint16_t>(result.character);
    return true;
}

}  // namespace velta
