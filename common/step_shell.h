// The one shell around every step-based converter: argument checks, the
// actions for malformed input and for characters the target lacks, the
// report, and the published Convert contract (velta/converter.h).
//
// A codec derives from TStepShell<Codec> and defines
//     StepResult step(const unsigned char* in, uint32_t inLength,
//                     unsigned char* out, uint32_t outCapacity, bool textEnds);
// (common/conversion_step.h says what it returns; `textEnds` is false while
// more input may follow, so that a run or a shift stays open). A codec with
// state between steps also hides saveState and restoreState below; a codec
// whose neither side is UCS-2 hides writeChosen; one whose target is not
// UCS-2 but keeps no state hides writesChosenAlike; a target whose units are
// not one byte (decoders: two) hides terminatorWidth; a codec whose older
// results give another status than 2 for a full output hides
// outputFullStatus, and one whose older results give another status than
// -1304 for bytes that wait at the end of the input hides statusOfCut. The
// encoders that have always held TEncodingConverter as a virtual base
// (UTF-8, UCS-4, escaped Unicode: their class layout is published) derive
// from TStepShell<Codec, TVirtualConverterBase> and, as the most-derived
// class, build that base themselves.
#ifndef VELTA_COMMON_STEP_SHELL_H
#define VELTA_COMMON_STEP_SHELL_H

#include <stdint.h>

#include <new>
#include <type_traits>
#include <utility>

#include "common/conversion_options.h"
#include "common/conversion_policy.h"
#include "common/conversion_step.h"
#include "common/units.h"
#include "velta/converter.h"

namespace velta {

// Whether Convert's pointers cannot be used as given: a null out-count, a
// null buffer with a non-zero length. Inline: a stream's every piece asks.
inline bool convertArgumentsInvalid(const unsigned char* target, const uint32_t* targetLength,
                                    uint32_t targetCapacity, const unsigned char* source,
                                    uint32_t sourceLength, const uint32_t* sourceConsumed) {
    return targetLength == nullptr || sourceConsumed == nullptr ||
           (target == nullptr && targetCapacity != 0) || (source == nullptr && sourceLength != 0);
}

// The actions in force for one call.
struct Actions {
    Action malformed;
    Action unmappable;
    Action fallback;
    uint32_t substitute;
};

Actions actionsFor(int32_t policy, const ConversionOptions& options);

// Characters the shell writes in place of what a step stopped at: at most
// kMaxChosenUnits UCS-2 units ("&#1114111;", a pair of \uXXXX escapes).
enum : uint32_t { kMaxChosenUnits = 12 };
struct ChosenText {
    uint16_t units[kMaxChosenUnits];
    uint32_t count;
};

// What `action` writes for `result` (kMalformed or kUnmappable); false where
// the action writes nothing or has nothing for this character (a
// transliteration without a stand-in).
bool chosenTextFor(Action action, const StepResult& result, const Actions& actions,
                   ChosenText* text);
// The replacement of malformed input: U+FFFD; where the target lacks it
// (writeChosen fails), "?".
ChosenText replacementText();
ChosenText questionMarkText();

// The character at unit `p` of UCS-2 input that an encoder lacks: the
// unit, or a surrogate pair as one code point; a high surrogate that ends
// the input waits for its pair.
inline StepResult lackedUnitAt(const unsigned char* in, uint32_t units, uint32_t p,
                               uint32_t written) {
    const UnitCharacter character = characterAt(in, units, p);
    if (character.cut) return cutAtEnd(2 * p, written);
    return unmappableAt(2 * p, written, 2 * character.units, character.codePoint);
}

// What the conversion object and a chain ask of a step-based converter,
// through the pointer they find once, when they are made.
class TSteppedConverter {
public:
    // Why the latest Convert ended.
    virtual Stop LastStop() const = 0;
    // The codec's state between steps, as a value, and back.
    virtual void SaveStepState(StepState* state) const = 0;
    virtual void RestoreStepState(const StepState& state) = 0;
    // Its other interfaces, so that one cast finds them all.
    virtual TStreamConverter* StreamInterface() = 0;
    virtual TOptionTaker* OptionInterface() = 0;
    virtual const TReplacementWriter* ReplacementInterface() const = 0;
    // Whether calls from now on may fill the output to its last byte: a
    // stream writes no terminator, so the codecs that keep room for one
    // (the table engine's published results) need not there.
    virtual void FillOutputToEnd(bool toEnd) = 0;

protected:
    ~TSteppedConverter() = default;
};

// The interfaces of a converter beyond TEncodingConverter, found when an
// object or a chain is made: through one cast from a step-based converter,
// else one cast each (a converter library's converter). Null where absent.
struct ConverterInterfaces {
    TSteppedConverter* stepped = nullptr;
    TStreamConverter* pieces = nullptr;
    TOptionTaker* taker = nullptr;
    const TReplacementWriter* replacement = nullptr;
};
ConverterInterfaces interfacesOf(TEncodingConverter* converter);

struct TVirtualConverterBase : public virtual TEncodingConverter {
protected:
    // Never runs: the most-derived class builds the virtual base.
    TVirtualConverterBase() : TEncodingConverter(TConverterIdentity{}) {}
};

// How writeChosen ends.
enum class Written : uint8_t { kDone, kNoRoom, kNotInTarget };

template <typename Codec, typename Base = TEncodingConverter>
class TStepShell : public Base,
                   public TStreamConverter,
                   public TOptionTaker,
                   public TSteppedConverter {
public:
    void TakeOptions(const ConversionOptions& options) override { fOptions = options; }
    Stop LastStop() const override { return fLastStop; }
    void SaveStepState(StepState* state) const override {
        static_cast<const Codec&>(*this).saveState(state);
    }
    void RestoreStepState(const StepState& state) override { codec().restoreState(state); }
    void FillOutputToEnd(bool toEnd) override { fFillsToEnd = toEnd; }
    TStreamConverter* StreamInterface() override { return this; }
    TOptionTaker* OptionInterface() override { return this; }
    const TReplacementWriter* ReplacementInterface() const override {
        if constexpr (std::is_base_of<TReplacementWriter, Codec>::value)
            return static_cast<const Codec*>(this);
        return nullptr;
    }

    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override {
        if (convertArgumentsInvalid(target, targetLength, targetCapacity, source, sourceLength,
                                    sourceConsumed))
            return NLS_INVALID_PARAMETER;
        uint32_t read = 0, written = 0;
        const NLS_Status status =
            runSteps(source, sourceLength, target, targetCapacity, &read, &written);
        *targetLength = written;
        *sourceConsumed = read;
        // A stop at malformed input or a character the target lacks is
        // said whether or not the terminator fits.
        const bool stopped = fLastStop == Stop::kMalformed || fLastStop == Stop::kUnmappable;
        if (!appendTerminator(target, written, targetCapacity) && !stopped) {
            if (fLastStop == Stop::kInputUsed) fLastStop = Stop::kOutputFull;
            return NLS_RESULT_TRUNCATED;
        }
        return status;
    }

    // Defaults a codec hides where it differs.
    void saveState(StepState*) const {}
    void restoreState(const StepState&) {}
    uint32_t terminatorWidth() const { return this->fDirection == 0 ? 2 : 1; }
    NLS_Status outputFullStatus() const { return NLS_RESULT_TRUNCATED; }
    NLS_Status statusOfCut(uint32_t /*waitingBytes*/) const { return NLS_SEQUENCE_INCOMPLETE; }
    // What the older flat functions wrote in place of malformed input, where
    // a codec kept its own results for them (ReadsAsBefore).
    bool olderReplacement(const StepResult&, ChosenText*) const { return false; }
    // Told once the action for what the step stopped at is applied (not
    // under stop, nor when the output had no room): a codec whose stop
    // leaves state to close (a base64 run) closes it here.
    void passedOver(const StepResult&) {}
    // Whether a call that replaced malformed input ends with -1302, as the
    // older results of some codecs do.
    bool keepsInvalidStatus() const { return false; }
    // Whether the same chosen text always comes out as the same bytes: a
    // target without state (a decoder's UCS-2 among them). Malformed input,
    // or a character the target lacks, met again in a call then takes the
    // bytes written for the first.
    bool writesChosenAlike() const { return this->fDirection == 0; }
    // Writes `count` units of UCS-2 as the target does, in its present
    // state: whole (kDone, *written set) or not at all.
    Written writeChosen(const uint16_t* units, uint32_t count, unsigned char* out,
                        uint32_t capacity, uint32_t* written) {
        if (this->fDirection == 0) return storeChosenUnits(units, count, out, capacity, written);
        return encodeChosenUnits(units, count, out, capacity, written);
    }

protected:
    using Base::Base;
    explicit TStepShell(const TConverterIdentity& identity) : TEncodingConverter(identity) {}

    Codec& codec() { return static_cast<Codec&>(*this); }
    const Codec& codec() const { return static_cast<const Codec&>(*this); }
    // Whether the older flat functions call on an object whose policy was
    // never chosen: some codecs keep the results those always gave.
    bool ReadsAsBefore() const { return replacesAsBefore(Policy()); }
    // Whether this call writes no terminator (FillOutputToEnd).
    bool FillsToEnd() const { return fFillsToEnd; }
    // The room the terminator keeps free at the end of the output: none
    // where the call writes none.
    uint32_t KeptForTerminator() const { return fFillsToEnd ? 0 : codec().terminatorWidth(); }

    ConversionOptions fOptions;

private:
    enum class Next : uint8_t { kGoOn, kStopHere, kAsFirst };
    // More than the room any codec keeps for its terminator.
    enum : uint32_t { kTerminatorsRoom = 8 };

    // Inlined into Convert: where the compiler kept it apart (UCS-2 to
    // UCS-4), its call and frame were a sixteenth of what a stream's piece
    // costs beyond its text.
    __attribute__((always_inline)) NLS_Status runSteps(const unsigned char* source, uint32_t length,
                                                       unsigned char* target, uint32_t capacity,
                                                       uint32_t* read, uint32_t* written) {
        // Found at the first stop: most calls meet none.
        Actions actions{};
        bool actionsFound = false;
        const bool ends = InputEnds();
        fReplacedMalformed = false;
        fRepeats[0].known = fRepeats[1].known = false;
        uint32_t in = 0, out = 0;
        NLS_Status status = NLS_SUCCESS;
        for (;;) {
            const StepResult result =
                codec().step(source + in, length - in, target + out, capacity - out, ends);
            in += result.read;
            out += result.written;
            fLastStop = result.stop;
            if (result.stop == Stop::kInputUsed) break;
            if (result.stop == Stop::kOutputFull) {
                status = codec().outputFullStatus();
                break;
            }
            if (result.stop == Stop::kCutAtEnd) {
                status = codec().statusOfCut(length - in);
                break;
            }
            const Next repeated = repeat(result, in, target, capacity, &out);
            if (repeated == Next::kAsFirst) {
                if (!actionsFound) {
                    actions = actionsFor(Policy(), fOptions);
                    actionsFound = true;
                }
                if (meet(result, actions, in, target, capacity, &out, &status) == Next::kStopHere)
                    break;
            }
            in += result.length;
        }
        *read = in;
        *written = out;
        if (status == NLS_SUCCESS && fReplacedMalformed && codec().keepsInvalidStatus())
            status = NLS_INVALID_INPUT;
        return status;
    }

    // Applies the action for what the step stopped at, `at` bytes into the
    // call's input.
    Next meet(const StepResult& result, const Actions& actions, uint32_t at, unsigned char* target,
              uint32_t capacity, uint32_t* out, NLS_Status* status) {
        const bool malformed = result.stop == Stop::kMalformed;
        const int32_t kind = malformed ? NLS_MALFORMED_INPUT : NLS_UNMAPPABLE_CHARACTER;
        fChosenWritten = 0;
        // U+FFFD already stands for malformed input that an earlier stage
        // replaced: the target's replacement is written over it, not counted
        // again.
        const bool replacesReplacement =
            !malformed && result.character == 0xFFFD && actions.malformed == Action::kReplace;
        Action action = malformed || replacesReplacement ? actions.malformed : actions.unmappable;
        ChosenText text;
        bool chosen = malformed && ReadsAsBefore() && codec().olderReplacement(result, &text);
        const bool olderText = chosen;
        if (chosen)
            action = Action::kReplace;
        else
            chosen = chosenTextFor(action, result, actions, &text);
        if (replacesReplacement) text = questionMarkText();
        if (!chosen && action == Action::kTransliterate) {
            action = actions.fallback;
            chosen = chosenTextFor(action, result, actions, &text);
        }
        if (action == Action::kStop) {
            NoteSubstitution(kind, at, false);
            fLastStop = result.stop;
            *status = malformed ? NLS_INVALID_INPUT : NLS_UNMAPPABLE;
            return Next::kStopHere;
        }
        if (chosen) {
            const Written done = writeWithFallback(text, malformed, target + *out, capacity - *out);
            if (done == Written::kNoRoom) {
                fLastStop = Stop::kOutputFull;
                *status = codec().outputFullStatus();
                return Next::kStopHere;
            }
            *out += fChosenWritten;
        }
        if (!replacesReplacement) NoteSubstitution(kind, at, true);
        if (malformed && action == Action::kReplace) fReplacedMalformed = true;
        const bool alike = malformed
                               ? !olderText
                               : !replacesReplacement && !dependsOnCharacter(actions.unmappable);
        if (alike) remember(malformed, action, target + *out - fChosenWritten);
        codec().passedOver(result);
        return Next::kGoOn;
    }

    // Whether what `action` writes for a character the target lacks is the
    // character's own (a stand-in, an escape), not the same for every one.
    static bool dependsOnCharacter(Action action) {
        return action != Action::kReplace && action != Action::kSkip &&
               action != Action::kSubstitute;
    }

    // What malformed input, or a character the target lacks, came out as,
    // for the rest of the call: the same action, the same chosen text, so
    // no lookup and no write through the codec.
    void remember(bool malformed, Action action, const unsigned char* bytes) {
        // A codec's own older replacement may differ from one input to the next.
        constexpr bool hasOlderReplacements =
            !std::is_same<decltype(&Codec::olderReplacement),
                          decltype(&TStepShell::olderReplacement)>::value;
        if (malformed && hasOlderReplacements && ReadsAsBefore()) return;
        Repeat& kept = fRepeats[malformed ? 0 : 1];
        if (!codec().writesChosenAlike() || fChosenWritten > sizeof kept.bytes) return;
        kept.known = true;
        kept.replaces = malformed && action == Action::kReplace;
        kept.length = static_cast<uint8_t>(fChosenWritten);
        for (uint32_t i = 0; i < fChosenWritten; ++i) kept.bytes[i] = bytes[i];
    }
    // Near the end of the output, where a codec may keep room for a
    // terminator, and for U+FFFD the target lacks (written over, not
    // counted), the chosen text goes the way of the first.
    Next repeat(const StepResult& result, uint32_t at, unsigned char* target, uint32_t capacity,
                uint32_t* out) {
        const bool malformed = result.stop == Stop::kMalformed;
        const Repeat& kept = fRepeats[malformed ? 0 : 1];
        if (!kept.known || (!malformed && result.character == 0xFFFD) ||
            capacity - *out < kept.length + kTerminatorsRoom)
            return Next::kAsFirst;
        for (uint32_t i = 0; i < kept.length; ++i) target[*out + i] = kept.bytes[i];
        *out += kept.length;
        NoteSubstitution(malformed ? NLS_MALFORMED_INPUT : NLS_UNMAPPABLE_CHARACTER, at, true);
        if (kept.replaces) fReplacedMalformed = true;
        codec().passedOver(result);
        return Next::kGoOn;
    }

    // The chosen text, else (where the target lacks it) the replacement,
    // else "?", else nothing.
    Written writeWithFallback(const ChosenText& text, bool malformed, unsigned char* out,
                              uint32_t capacity) {
        fChosenWritten = 0;
        Written done = codec().writeChosen(text.units, text.count, out, capacity, &fChosenWritten);
        if (done != Written::kNotInTarget) return done;
        if (malformed) {
            const ChosenText replacement = replacementText();
            if (text.units[0] != replacement.units[0]) {
                done = codec().writeChosen(replacement.units, replacement.count, out, capacity,
                                           &fChosenWritten);
                if (done != Written::kNotInTarget) return done;
            }
        }
        const ChosenText question = questionMarkText();
        done = codec().writeChosen(question.units, question.count, out, capacity, &fChosenWritten);
        if (done != Written::kNotInTarget) return done;
        fChosenWritten = 0;
        return Written::kDone;
    }

    Written storeChosenUnits(const uint16_t* units, uint32_t count, unsigned char* out,
                             uint32_t capacity, uint32_t* written) {
        if (capacity < 2 * count) return Written::kNoRoom;
        for (uint32_t i = 0; i < count; ++i) storeUnit(out + 2 * i, units[i]);
        *written = 2 * count;
        return Written::kDone;
    }

    // An encoder from UCS-2 writes the units through its own step, so that
    // a stateful target (ISO-2022-JP, UTF-7) writes them in its state; a
    // step that does not take them all leaves the state as it was.
    Written encodeChosenUnits(const uint16_t* units, uint32_t count, unsigned char* out,
                              uint32_t capacity, uint32_t* written) {
        // At least the 32 bytes that a vector ASCII run reads at once, and
        // zeroed: it never does for so few units, but GCC cannot tell
        // (-Warray-bounds, -Wmaybe-uninitialized).
        enum : uint32_t { kBytes = 2 * kMaxChosenUnits > 32 ? 2 * kMaxChosenUnits : 32 };
        unsigned char bytes[kBytes] = {};
        for (uint32_t i = 0; i < count; ++i) storeUnit(bytes + 2 * i, units[i]);
        StepState saved;
        codec().saveState(&saved);
        const StepResult result = codec().step(bytes, 2 * count, out, capacity, false);
        if (result.stop == Stop::kInputUsed && result.read == 2 * count) {
            *written = result.written;
            return Written::kDone;
        }
        codec().restoreState(saved);
        return result.stop == Stop::kOutputFull ? Written::kNoRoom : Written::kNotInTarget;
    }

    bool appendTerminator(unsigned char* target, uint32_t written, uint32_t capacity) {
        const uint32_t width = codec().terminatorWidth();
        if (capacity < width || written > capacity - width) return false;
        for (uint32_t i = 0; i < width; ++i) target[written + i] = 0;
        return true;
    }

    struct Repeat {
        bool known;
        bool replaces;
        uint8_t length;
        unsigned char bytes[8];
    };

    Stop fLastStop = Stop::kInputUsed;
    Repeat fRepeats[2] = {};  // malformed input, a character the target lacks
    uint32_t fChosenWritten = 0;
    bool fReplacedMalformed = false;
    bool fFillsToEnd = false;
};

// A factory's work: the library's module known, then the converter (null
// without memory) at the address of its TEncodingConverter part.
template <typename Codec, typename... Arguments>
TEncodingConverter* newStepConverter(Arguments&&... arguments) {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) Codec(std::forward<Arguments>(arguments)...);
}

}  // namespace velta

#endif
