#include "api/TChainedConverter.h"

#include <string.h>

#include <initializer_list>
#include <new>

#include "api/conversion_limits.h"
#include "common/units.h"

using velta::isHardFailure;
using velta::Stop;
using velta::stopShortOfInput;

TChainedConverter::TChainedConverter(const char* from, const char* to, TEncodingConverter* first,
                                     TEncodingConverter* second)
    : TEncodingConverter(from, to, nullptr, nullptr, nullptr, 0, 2, nullptr, nullptr, 0),
      fIntermediate(nullptr),
      fIntermediateSize(0),
      fSecond(second),
      fFirst(first),
      fFirstInPieces(nullptr),
      fSecondInPieces(nullptr),
      fFirstStepped(nullptr),
      fSecondStepped(nullptr),
      fFirstTaker(nullptr),
      fSecondTaker(nullptr),
      fIntermediateCapacity(0),
      fIntermediateStart(0),
      fPendingOutcome(NLS_SUCCESS),
      fHeldSize(0),
      fRefillCopy(nullptr),
      fRefillSource(nullptr),
      fRefillLength(0),
      fRefillStart(0),
      fRefillTaken(0),
      fRefillTextBegin(0),
      fRefillSubstitutions(0),
      fUndelivered(Undelivered::kWaits),
      fRefillRoom(UINT32_MAX),
      fCount(0),
      fFirstKind(NLS_NO_SUBSTITUTION),
      fFirstOffset(0) {
    findStageInterfaces();
}

// Each stage's interfaces, found once (again where the first converter is
// replaced by its copy).
void TChainedConverter::findStageInterfaces() {
    const velta::ConverterInterfaces first = velta::interfacesOf(fFirst);
    const velta::ConverterInterfaces second = velta::interfacesOf(fSecond);
    fFirstInPieces = first.pieces;
    fFirstStepped = first.stepped;
    // The first converter writes into the chain's own buffer, which takes
    // no terminator: it may fill it to the end.
    if (fFirstStepped != nullptr) fFirstStepped->FillOutputToEnd(true);
    fFirstTaker = first.taker;
    fSecondInPieces = second.pieces;
    fSecondStepped = second.stepped;
    fSecondTaker = second.taker;
}

TChainedConverter::~TChainedConverter() {
    delete[] fIntermediate;
    delete[] fKeptInput;
    if (fRefillCopy != nullptr) fRefillCopy->ReleaseEncodingConverter();
    if (fFirst != nullptr) fFirst->ReleaseEncodingConverter();
    if (fSecond != nullptr) fSecond->ReleaseEncodingConverter();
}

// Drops the waiting text and returns both halves to their initial state.
void TChainedConverter::Reset() {
    fIntermediateSize = 0;
    fIntermediateStart = 0;
    fPendingOutcome = NLS_SUCCESS;
    fHeldSize = 0;
    releaseRefillMark();
    fRefillSource = nullptr;
    fFirstUntouched = true;
    fWaitingKnown = false;
    fRestOfCharacterAt = kNowhere;
    fFirst->Reset();
    fSecond->Reset();
}

void TChainedConverter::SetInputEnds(bool ends) {
    TStreamConverter::SetInputEnds(ends);
    if (fFirstInPieces != nullptr) fFirstInPieces->SetInputEnds(ends);
}

void TChainedConverter::TakeOptions(const velta::ConversionOptions& options) {
    fOptions = options;
    for (velta::TOptionTaker* taker : {fFirstTaker, fSecondTaker})
        if (taker != nullptr) taker->TakeOptions(options);
}

velta::Action TChainedConverter::malformedAction() const {
    return velta::actionsFor(Policy(), fOptions).malformed;
}

// Whether the first stage's failure ends its text there. A converter that
// does not speak in steps may say -1302 where it replaced and went on.
bool TChainedConverter::firstStageStoppedWith(NLS_Status status) const {
    if (!isHardFailure(status)) return false;
    return status != NLS_INVALID_INPUT || fFirstStepped != nullptr ||
           malformedAction() == velta::Action::kStop;
}

void TChainedConverter::SetPolicy(int32_t policy) {
    TStreamConverter::SetPolicy(policy);
    if (fFirstInPieces != nullptr) fFirstInPieces->SetPolicy(policy);
    if (fSecondInPieces != nullptr) fSecondInPieces->SetPolicy(policy);
}

void TChainedConverter::TakeReport(uint32_t* count, int32_t* firstKind, int64_t* firstOffset) {
    *count = fCount;
    *firstKind = fFirstKind;
    *firstOffset = fFirstOffset;
    fCount = 0;
    fFirstKind = NLS_NO_SUBSTITUTION;
    fFirstOffset = 0;
}

// Only the stream call (which gives undelivered text back) reads a cut at
// the end of the text as malformed input; the older calls report -1304.
bool TChainedConverter::cutEndsAsMalformed() const {
    return fUndelivered != Undelivered::kWaits && InputEnds() &&
           malformedAction() != velta::Action::kStop;
}

// U+FFFD (nothing, under the skip policy) joins the waiting text in place of
// what the text ends with, met at `offset` in the call's input.
NLS_Status TChainedConverter::replaceEndOfText(int64_t offset) {
    ++fCount;
    // Input given back is met again: the count goes with it.
    if (fRefillSource != nullptr) ++fRefillSubstitutions;
    note(0, NLS_MALFORMED_INPUT, offset, true);
    if (malformedAction() != velta::Action::kReplace) return NLS_SUCCESS;
    unsigned char replacement[2];
    velta::storeUnit(replacement, 0xFFFD);
    return appendText(replacement, 2) ? NLS_SUCCESS : NLS_OUT_OF_MEMORY;
}

// A high surrogate that ends the text is a lone one: malformed input for
// the second converter, met where the character that made it was.
bool TChainedConverter::endTextWithLoneHighSurrogate() {
    if (!cutEndsAsMalformed() || fIntermediateSize < 2) return false;
    const uint32_t last = fIntermediateStart + fIntermediateSize - 2;
    if (!velta::isHighSurrogate(velta::loadUnit(fIntermediate + last))) return false;
    const int64_t offset = sourceOffsetOfText(last);
    fIntermediateSize -= 2;
    if (replaceEndOfText(offset) != NLS_SUCCESS) fPendingOutcome = NLS_OUT_OF_MEMORY;
    return true;
}

void TChainedConverter::DropWaitingHighSurrogate() {
    if (fIntermediateSize == 2 && velta::isHighSurrogate(velta::loadUnit(waitingText())))
        consumeWaiting(2);
}

uint32_t TChainedConverter::ConvertPivotText(const unsigned char* text, uint32_t length,
                                             unsigned char* target, uint32_t capacity) {
    if (fSecondInPieces != nullptr) fSecondInPieces->SetInputEnds(false);
    uint32_t produced = 0;
    uint32_t consumed = 0;
    fSecond->Convert(target, &produced, capacity, text, length, &consumed);
    if (fSecondInPieces != nullptr) {
        uint32_t count = 0;
        int32_t kind = NLS_NO_SUBSTITUTION;
        int64_t offset = 0;
        fSecondInPieces->TakeReport(&count, &kind, &offset);
    }
    return produced < capacity ? produced : capacity;
}

// The first substitution is the first in the input: the second converter's
// may come before one the first converter met further on in the same refill.
void TChainedConverter::note(uint32_t count, int32_t kind, int64_t offset, bool byFirstStage) {
    fCount += count;
    if (kind != NLS_NO_SUBSTITUTION &&
        (fFirstKind == NLS_NO_SUBSTITUTION || offset < fFirstOffset)) {
        fFirstKind = kind;
        fFirstOffset = offset;
        fFirstByFirstStage = byFirstStage;
    }
}

void TChainedConverter::noteFirstStageReport() {
    if (fFirstInPieces == nullptr) return;
    uint32_t count = 0;
    int32_t kind = NLS_NO_SUBSTITUTION;
    int64_t offset = 0;
    fFirstInPieces->TakeReport(&count, &kind, &offset);
    fRefillSubstitutions += count;
    note(count, kind, fRefillStart + offset, true);
}

// `textStart`: where in the buffer the text the second converter was given
// began.
void TChainedConverter::noteSecondStageReport(uint32_t textStart) {
    if (fSecondInPieces == nullptr) return;
    uint32_t count = 0;
    int32_t kind = NLS_NO_SUBSTITUTION;
    int64_t offset = 0;
    fSecondInPieces->TakeReport(&count, &kind, &offset);
    const bool needed = kind != NLS_NO_SUBSTITUTION &&
                        (fFirstKind == NLS_NO_SUBSTITUTION || fFirstOffset >= fRefillStart);
    if (kind != NLS_NO_SUBSTITUTION && !needed) kind = NLS_NO_SUBSTITUTION;  // a later one
    note(count, kind, needed ? sourceOffsetOfText(textStart + static_cast<uint32_t>(offset)) : 0,
         false);
}

namespace {

// Converts input again with `converter` until it has made `units` units of
// text; returns the input bytes that took. The output has room for the units
// still wanted (and the terminator), so a window grown for a long character
// ("\\u00" cut short before more text) never goes past them.
// What the converter met on the way goes to `report`, its first offset from
// the start of `source`.
struct ReplayReport {
    uint32_t count = 0;
    int32_t firstKind = NLS_NO_SUBSTITUTION;
    int64_t firstOffset = 0;
};

uint32_t replay(TEncodingConverter* converter, TStreamConverter* pieces,
                const unsigned char* source, uint32_t length, uint32_t units,
                uint32_t* madeUnits = nullptr, ReplayReport* report = nullptr,
                uint32_t* lastTextAt = nullptr) {
    if (pieces != nullptr) pieces->SetInputEnds(false);
    enum : uint32_t { kWindow = 2048 };
    unsigned char scratch[2 * kWindow + 8];
    uint32_t consumed = 0;
    uint32_t made = 0;
    uint32_t grown = 0;
    // Room for the rest of a character of several units where fewer are
    // wanted: a surrogate pair, a code of two characters, a TSCII code of
    // four (0x82 is SRI, U+0BB8 U+0BCD U+0BB0 U+0BC0).
    enum : uint32_t { kMostUnitsOfOneCode = 4 };
    uint32_t spare = 0;
    while (made < units && consumed < length) {
        uint32_t window = units - made + grown;
        if (window > kWindow) window = kWindow;
        if (window > length - consumed) window = length - consumed;
        uint32_t produced = 0;
        uint32_t taken = 0;
        // Room for the units wanted and an odd byte, which no unit fills: a
        // window of n bytes makes at most n units in most encodings, but a
        // TSCII byte makes up to four, and one in the terminator's place
        // would run past the unit sought and hide where its character starts.
        // (A converter that keeps room for its terminator makes a unit less,
        // and the next window goes on from there.)
        uint32_t room = 2 * (units - made + spare) + 1;
        if (room > sizeof scratch) room = sizeof scratch;
        converter->Convert(scratch, &produced, room, source + consumed, window, &taken);
        if (taken > window) taken = window;
        if (pieces != nullptr && report != nullptr) {
            uint32_t count = 0;
            int32_t kind = NLS_NO_SUBSTITUTION;
            int64_t offset = 0;
            pieces->TakeReport(&count, &kind, &offset);
            report->count += count;
            if (report->firstKind == NLS_NO_SUBSTITUTION && kind != NLS_NO_SUBSTITUTION) {
                report->firstKind = kind;
                report->firstOffset = consumed + offset;
            }
        }
        if (produced != 0 && lastTextAt != nullptr) *lastTextAt = consumed;
        consumed += taken;
        made += produced / 2;
        if (taken == 0 && spare == 0) {
            spare = kMostUnitsOfOneCode - 1;
            continue;
        }
        spare = 0;
        // The rest is a cut character, or one longer than a window: stop.
        if (taken == 0 && (window == length - consumed || window == kWindow)) break;
        // A character longer than the window: a byte more at a time over the
        // lengths of most characters, so that the window that first takes it
        // ends with it; then twice as long.
        grown = taken == 0 ? (grown < 8 ? grown + 1 : 2 * grown) : 0;
    }
    if (madeUnits != nullptr) *madeUnits = made;
    return consumed;
}

}  // namespace

// The offset, in the call's input, of the character that made the text at
// `bufferOffset`: exact for text of the latest refill when the first
// converter's state there is known; else the start of that refill or of the
// call. The first converter is read again from that state, and left as it was.
int64_t TChainedConverter::sourceOffsetOfText(uint32_t bufferOffset) {
    if (fRefillSource == nullptr || bufferOffset < fRefillTextBegin)
        return fWaitingKnown ? fWaitingOffset : fRefillSource != nullptr ? fRefillStart : 0;
    if (!hasRefillMark()) return fRefillStart;
    TEncodingConverter* reader = fFirst;
    TStreamConverter* pieces = fFirstInPieces;
    velta::StepState now;
    if (fMarkByValue) {
        fFirstStepped->SaveStepState(&now);
        fFirstStepped->RestoreStepState(fRefillState);
    } else {
        pieces = copyAtRefillMark() ? dynamic_cast<TStreamConverter*>(fRefillCopy) : nullptr;
        reader = pieces != nullptr ? pieces->CloneConverter() : nullptr;
        if (reader == nullptr) return fRefillStart;
        pieces = dynamic_cast<TStreamConverter*>(reader);
    }
    ReplayReport ignored;  // met when the refill was made
    const uint32_t units = (bufferOffset - fRefillTextBegin) / 2;
    uint32_t made = 0, lastTextAt = 0;
    uint32_t bytes =
        replay(reader, pieces, fRefillSource, fRefillLength, units, &made, &ignored, &lastTextAt);
    // A unit that is not the first of its character (the second of a pair,
    // or of a code that stands for two characters, made or still waiting in
    // the converter) starts where it does.
    bool insideCharacter = made > units;
    if (!insideCharacter && made != 0) {
        unsigned char scratch[16];
        uint32_t produced = 0;
        uint32_t taken = 0;
        reader->Convert(scratch, &produced, sizeof scratch, fRefillSource + bytes, 0, &taken);
        insideCharacter = produced != 0;
    }
    if (insideCharacter) bytes = lastTextAt;
    // Bytes that make no text of their own before the character (a UTF-7
    // "+", an escape sequence, a byte order mark) are not its start: a
    // stream cut after them meets the character at the same offset. The
    // window grows a byte at a time, so that it holds such bytes whole
    // before it also holds the character after them.
    uint32_t window = 1;
    while (!insideCharacter && bytes < fRefillLength && window <= 8) {
        if (window > fRefillLength - bytes) window = fRefillLength - bytes;
        unsigned char scratch[64];
        uint32_t produced = 0;
        uint32_t taken = 0;
        reader->Convert(scratch, &produced, sizeof scratch, fRefillSource + bytes, window, &taken);
        if (produced != 0) break;
        if (taken == 0) {
            if (window == fRefillLength - bytes) break;
            ++window;
            continue;
        }
        bytes += taken;
        window = 1;
    }
    if (fMarkByValue) {
        uint32_t count = 0;
        int32_t kind = NLS_NO_SUBSTITUTION;
        int64_t offset = 0;
        if (pieces != nullptr) pieces->TakeReport(&count, &kind, &offset);
        fFirstStepped->RestoreStepState(now);
        if (pieces != nullptr) pieces->SetInputEnds(InputEnds());
    } else {
        reader->ReleaseEncodingConverter();
    }
    return fRefillStart + bytes;
}

// The first converter's state where the latest refill began: a value where
// the converter says its state; else, where it has read nothing since it was
// made or reset, its initial state (copied only when needed); else a copy.
void TChainedConverter::markRefill() {
    releaseRefillMark();
    if (fFirstStepped != nullptr) {
        fFirstStepped->SaveStepState(&fRefillState);
        fMarkByValue = true;
    } else if (fFirstUntouched) {
        fMarkUntouched = true;
    } else if (fFirstInPieces != nullptr) {
        fRefillCopy = fFirstInPieces->CloneConverter();
    }
    fFirstUntouched = false;
}

bool TChainedConverter::hasRefillMark() const {
    return fMarkByValue || fMarkUntouched || fRefillCopy != nullptr;
}

// The copy of the first converter as it was at the refill's start, made
// now where the mark is its initial state.
bool TChainedConverter::copyAtRefillMark() {
    if (fMarkUntouched && fRefillCopy == nullptr && fFirstInPieces != nullptr) {
        fRefillCopy = fFirstInPieces->CloneConverter();
        if (fRefillCopy != nullptr) fRefillCopy->Reset();
    }
    fMarkUntouched = false;
    return fRefillCopy != nullptr;
}

void TChainedConverter::releaseRefillMark() {
    if (fRefillCopy != nullptr) fRefillCopy->ReleaseEncodingConverter();
    fRefillCopy = nullptr;
    fMarkByValue = false;
    fMarkUntouched = false;
}

// Finds where the one character still waiting was made while the input that
// made it is at hand, as an offset from `callStart` (the start of the next
// call's input at the end of a call).
void TChainedConverter::rememberWaitingOffset(uint32_t callStart) {
    const unsigned char* text = fIntermediate + fIntermediateStart;
    const bool oneCharacter =
        fIntermediateSize == 2 ||
        (fIntermediateSize == 4 && velta::isHighSurrogate(velta::loadUnit(text)) &&
         velta::isLowSurrogate(velta::loadUnit(text + 2)));
    const int64_t restAt = fRestOfCharacterAt;
    fRestOfCharacterAt = kNowhere;
    if (!oneCharacter) {
        fWaitingKnown = false;
    } else if (restAt != kNowhere) {
        fWaitingKnown = true;
        fWaitingOffset = restAt - callStart;
    } else if (fRefillSource == nullptr || fIntermediateStart < fRefillTextBegin) {
        fWaitingOffset -= callStart;  // it waited from before: known as it was
    } else {
        fWaitingKnown = hasRefillMark();
        fWaitingOffset = sourceOffsetOfText(fIntermediateStart) - callStart;
    }
}

// Text of this call's refill that could not go out is given back as input:
// the first converter becomes its copy, converted again up to the text that
// went out, and the call reports as consumed only what made that text.
void TChainedConverter::rollBackUndeliveredText(uint32_t* consumed) {
    if (fRefillSource == nullptr || !hasRefillMark() || fIntermediateSize == 0) return;
    const uint32_t delivered =
        fIntermediateStart > fRefillTextBegin ? fIntermediateStart - fRefillTextBegin : 0;
    if (delivered > fRefillLength * 2) return;  // not text of that input: nothing to give back
    TEncodingConverter* reader = fRefillCopy;
    TStreamConverter* pieces = nullptr;
    velta::StepState now;
    if (fMarkByValue) {
        reader = fFirst;
        pieces = fFirstInPieces;
        fFirstStepped->SaveStepState(&now);
        fFirstStepped->RestoreStepState(fRefillState);
    } else {
        if (!copyAtRefillMark()) return;
        reader = fRefillCopy;
        pieces = dynamic_cast<TStreamConverter*>(reader);
    }
    uint32_t made = 0, lastTextAt = 0;
    ReplayReport met;
    const uint32_t bytes = replay(reader, pieces, fRefillSource, fRefillLength, delivered / 2,
                                  &made, &met, &lastTextAt);
    if (2 * made < delivered) {  // the first converter cannot tell: the text keeps waiting
        if (fMarkByValue) fFirstStepped->RestoreStepState(now);
        if (fMarkByValue && pieces != nullptr) pieces->SetInputEnds(InputEnds());
        return;
    }
    if (pieces != nullptr) pieces->SetInputEnds(InputEnds());
    fCount = fCount - fRefillSubstitutions + met.count;  // what is given back is met again later
    if (!fMarkByValue) {
        fFirst->ReleaseEncodingConverter();
        fFirst = fRefillCopy;
        fRefillCopy = nullptr;
        findStageInterfaces();
    }
    fMarkByValue = false;
    // Text of an earlier call's input given back: this call reads nothing.
    const int64_t givenBackAt = fRefillStart + bytes;
    *consumed = givenBackAt > 0 ? static_cast<uint32_t>(givenBackAt) : 0;
    if (fFirstKind != NLS_NO_SUBSTITUTION && fFirstByFirstStage && fFirstOffset > givenBackAt) {
        fFirstKind = NLS_NO_SUBSTITUTION;  // met in what is given back: it comes again
        fFirstOffset = 0;
    }
    note(0, met.firstKind, fRefillStart + met.firstOffset, true);
    // What stays: a carried cut unit not yet delivered, or the rest of a
    // character (the low half of a pair) whose first units went out.
    fIntermediateSize = fIntermediateStart < fRefillTextBegin
                            ? fRefillTextBegin - fIntermediateStart
                            : 2 * made - delivered;
    if (fIntermediateSize == 0) fIntermediateStart = 0;
    // The rest of a character is placed where the character began.
    fRestOfCharacterAt = fIntermediateStart >= fRefillTextBegin && fIntermediateSize != 0
                             ? fRefillStart + lastTextAt
                             : kNowhere;
    fPendingOutcome = NLS_SUCCESS;
}

// At the end of a call: the latest refill's input is kept while its text
// waits (the caller's buffer goes away), so that a substitution or a stop
// the second converter meets in that text later is placed exactly.
void TChainedConverter::keepOrForgetRefill(uint32_t consumed) {
    const bool textWaits =
        fIntermediateSize != 0 && fIntermediateStart + fIntermediateSize > fRefillTextBegin;
    if (fRefillSource != nullptr && hasRefillMark() && textWaits && keepRefillInput()) {
        fRefillStart -= consumed;
        return;
    }
    releaseRefillMark();
    fRefillSource = nullptr;
}

bool TChainedConverter::keepRefillInput() {
    if (fRefillTaken > fRefillLength) fRefillTaken = fRefillLength;
    if (fRefillSource == fKeptInput) return true;
    if (fRefillTaken > fKeptCapacity) {
        unsigned char* kept = new (std::nothrow) unsigned char[fRefillTaken];
        if (kept == nullptr) return false;
        delete[] fKeptInput;
        fKeptInput = kept;
        fKeptCapacity = fRefillTaken;
    }
    if (fRefillTaken != 0) memcpy(fKeptInput, fRefillSource, fRefillTaken);
    fRefillSource = fKeptInput;
    fRefillLength = fRefillTaken;
    return true;
}

void TChainedConverter::TargetBufferSize(const unsigned char* source, uint32_t sourceLength,
                                         uint32_t* size) {
    if (size == nullptr) return;
    uint32_t intermediate = 0;
    fFirst->TargetBufferSize(source, sourceLength, &intermediate);
    fSecond->TargetBufferSize(source, intermediate, size);
}

bool TChainedConverter::ensureIntermediateCapacity(uint32_t capacity) {
    if (capacity <= fIntermediateCapacity) return true;
    unsigned char* buffer = new (std::nothrow) unsigned char[capacity];
    if (buffer == nullptr) return false;
    if (fIntermediateSize != 0)
        memcpy(buffer, fIntermediate + fIntermediateStart, fIntermediateSize);
    delete[] fIntermediate;
    fIntermediate = buffer;
    fIntermediateStart = 0;
    fIntermediateCapacity = capacity;
    return true;
}

// A second converter that takes text in pieces gets it in pieces of a fixed
// size; any other gets the first converter's output for all of a call's input.
uint32_t TChainedConverter::intermediateCapacityFor(const unsigned char* source,
                                                    uint32_t sourceLength) {
    uint32_t capacity = kPieceCapacity;
    if (fSecondInPieces == nullptr) {
        fFirst->TargetBufferSize(source, sourceLength, &capacity);
        if (capacity < 4) capacity = 4;
    }
    const uint64_t total = static_cast<uint64_t>(capacity) + fIntermediateSize;
    return total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
}

// Converts input into the buffer after the waiting text. What the first
// converter cannot go on with (an error, a cut character, no progress)
// becomes the outcome reported once its text is delivered.
NLS_Status TChainedConverter::refill(const unsigned char* source, uint32_t sourceLength,
                                     uint32_t callOffset, uint32_t* consumed) {
    *consumed = 0;
    rememberWaitingOffset(0);  // before the buffer moves
    fRefillStart = callOffset;
    if (!ensureIntermediateCapacity(intermediateCapacityFor(source, sourceLength)))
        return NLS_OUT_OF_MEMORY;
    if (fIntermediateStart != 0) {
        memmove(fIntermediate, fIntermediate + fIntermediateStart, fIntermediateSize);
        fIntermediateStart = 0;
    }
    markRefill();
    fRefillSource = source;
    fRefillLength = sourceLength;
    fRefillTextBegin = fIntermediateSize;
    fRefillSubstitutions = 0;
    uint32_t room = fIntermediateCapacity - fIntermediateSize;
    if (room > fRefillRoom) room = fRefillRoom;
    uint32_t produced = 0;
    uint32_t taken = 0;
    const NLS_Status status = fFirst->Convert(fIntermediate + fIntermediateSize, &produced, room,
                                              source, sourceLength, &taken);
    if (taken > sourceLength) taken = sourceLength;
    if (produced > room) produced = room;
    fIntermediateSize += produced;
    *consumed = taken;
    fRefillTaken = taken;
    noteFirstStageReport();
    if (status == NLS_SEQUENCE_INCOMPLETE && taken < sourceLength && cutEndsAsMalformed()) {
        // The text ends inside a character: malformed input, like any other.
        *consumed = sourceLength;
        return replaceEndOfText(fRefillStart + taken);
    }
    if (isHardFailure(status))
        fPendingOutcome = status;
    else if (taken + produced == 0 && taken < sourceLength)
        fPendingOutcome = status < 0 ? status : NLS_SEQUENCE_INCOMPLETE;
    else if (taken < sourceLength &&
             stopShortOfInput(fFirstStepped, status, room, produced) != Stop::kOutputFull)
        fPendingOutcome = status < 0 ? status : NLS_RESULT_TRUNCATED;
    return NLS_SUCCESS;
}

// Lets the first converter end what it holds open, with no input: a run
// ends (and is reported if invalid); what that makes (a U+FFFD for a run cut
// short) joins the waiting text.
void TChainedConverter::endFirstStage(uint32_t consumed) {
    unsigned char closing[64];
    uint32_t produced = 0;
    uint32_t taken = 0;
    fFirstUntouched = false;
    const NLS_Status status =
        fFirst->Convert(closing, &produced, sizeof closing, nullptr, 0, &taken);
    if (produced > sizeof closing) produced = sizeof closing;
    if (isHardFailure(status) && status != NLS_INVALID_PARAMETER) fPendingOutcome = status;
    if (!appendText(closing, produced)) fPendingOutcome = NLS_OUT_OF_MEMORY;
    uint32_t count = 0;
    int32_t kind = NLS_NO_SUBSTITUTION;
    int64_t offset = 0;
    fFirstInPieces->TakeReport(&count, &kind, &offset);
    note(count, kind, static_cast<int64_t>(consumed) + offset, true);
}

// Text after what waits. It goes where it is, so that the latest refill's
// text keeps its place; only when the buffer must move is that forgotten
// (the text then waits from call to call instead of being given back).
bool TChainedConverter::appendText(const unsigned char* text, uint32_t length) {
    if (length == 0) return true;
    if (fIntermediateCapacity - fIntermediateStart - fIntermediateSize < length) {
        fRefillSource = nullptr;
        if (fIntermediateStart != 0 && fIntermediateSize != 0)
            memmove(fIntermediate, fIntermediate + fIntermediateStart, fIntermediateSize);
        fIntermediateStart = 0;
        if (!ensureIntermediateCapacity(fIntermediateSize + length)) return false;
    }
    memcpy(fIntermediate + fIntermediateStart + fIntermediateSize, text, length);
    fIntermediateSize += length;
    return true;
}

// Runs the second converter over the waiting text. Returns 1 when all of it
// went out, 2 when the output is full, -1304 when what waits is a character
// cut by the end of the text so far (it stays, to be joined by what follows),
// or the second converter's failure.
NLS_Status TChainedConverter::deliver(unsigned char* target, uint32_t targetCapacity,
                                      uint32_t* written, bool textEnds) {
    // Nothing waits, and the text goes on: the second converter has nothing to do.
    if (fIntermediateSize == 0 && fHeldSize == 0 && !textEnds) return NLS_SUCCESS;
    if (fHeldSize != 0) {  // a character's output, delivered whole
        if (targetCapacity - *written < fHeldSize) return NLS_RESULT_TRUNCATED;
        memcpy(target + *written, fHeld, fHeldSize);
        *written += fHeldSize;
        fHeldSize = 0;
    }
    if (fSecondInPieces != nullptr) fSecondInPieces->SetInputEnds(textEnds);
    const uint32_t room = targetCapacity - *written;
    const uint32_t textStart = fIntermediateStart;
    uint32_t delivered = 0;
    uint32_t produced = 0;
    const NLS_Status status =
        fSecond->Convert(target != nullptr ? target + *written : nullptr, &produced, room,
                         waitingText(), fIntermediateSize, &delivered);
    if (produced > room) produced = room;
    *written += produced;
    noteSecondStageReport(textStart);
    consumeWaiting(delivered);
    if (isHardFailure(status)) return status;
    if (fIntermediateSize == 0) return status == NLS_RESULT_TRUNCATED ? status : NLS_SUCCESS;
    if (stopShortOfInput(fSecondStepped, status, room, produced) == Stop::kCutAtEnd)
        return NLS_SEQUENCE_INCOMPLETE;
    if (fIntermediateSize > 2) return NLS_RESULT_TRUNCATED;
    return deliverLastUnit(target, targetCapacity, written);
}

// One unit waits and the output has little room: whether it is a cut
// character or one whose bytes did not fit is asked of the converter again,
// with room to spare. Output so made waits, whole, for an output it fits.
NLS_Status TChainedConverter::deliverLastUnit(unsigned char* target, uint32_t targetCapacity,
                                              uint32_t* written) {
    uint32_t delivered = 0;
    uint32_t produced = 0;
    const uint32_t textStart = fIntermediateStart;
    const NLS_Status status = fSecond->Convert(fHeld, &produced, kHeldCapacity, waitingText(),
                                               fIntermediateSize, &delivered);
    if (produced > kHeldCapacity) produced = kHeldCapacity;
    noteSecondStageReport(textStart);
    consumeWaiting(delivered);
    // A converter that stops may first write what it kept of the character
    // before (ISO-2022-JP's bytes that did not fit): that goes out first, and
    // the unit it stopped at, still waiting, stops the next call again.
    if (isHardFailure(status) && produced == 0) return status;
    if (delivered == 0 && produced == 0) return NLS_SEQUENCE_INCOMPLETE;
    fHeldSize = produced;
    if (targetCapacity - *written < fHeldSize) return NLS_RESULT_TRUNCATED;
    memcpy(target + *written, fHeld, fHeldSize);
    *written += fHeldSize;
    fHeldSize = 0;
    if (isHardFailure(status)) return status;
    return fIntermediateSize == 0 ? NLS_SUCCESS : NLS_RESULT_TRUNCATED;
}

const unsigned char* TChainedConverter::waitingText() const {
    return fIntermediateSize != 0 ? fIntermediate + fIntermediateStart : nullptr;
}

void TChainedConverter::consumeWaiting(uint32_t delivered) {
    if (delivered > fIntermediateSize) delivered = fIntermediateSize;
    fIntermediateStart += delivered;
    fIntermediateSize -= delivered;
    if (fIntermediateSize == 0) fIntermediateStart = 0;
}

NLS_Status TChainedConverter::Convert(unsigned char* target, uint32_t* targetLength,
                                      uint32_t targetCapacity, const unsigned char* source,
                                      uint32_t sourceLength, uint32_t* sourceConsumed) {
    if (velta::convertArgumentsInvalid(target, targetLength, targetCapacity, source, sourceLength,
                                       sourceConsumed))
        return NLS_INVALID_PARAMETER;
    uint32_t consumed = 0;
    uint32_t written = 0;
    NLS_Status result;
    bool firstEnded = false;
    // Where the first converter stopped short of a call's input is found
    // again from this call's input; only its failures wait to be reported.
    // Under a policy that writes substitutes, a -1302 only says that the text
    // already delivered had some: a caller that takes text back (a stream)
    // has it in the report, and the next input goes on.
    const bool onlyReplaced =
        fPendingOutcome == NLS_INVALID_INPUT && fUndelivered != Undelivered::kWaits &&
        !firstStageStoppedWith(fPendingOutcome) && malformedAction() == velta::Action::kReplace;
    if (!isHardFailure(fPendingOutcome) || onlyReplaced) fPendingOutcome = NLS_SUCCESS;
    // Text that does not go out is given back and converted again: a refill
    // makes little more than the output can take, so small outputs cost no
    // more per byte than large ones.
    fRefillRoom = UINT32_MAX;
    if (fUndelivered == Undelivered::kGivenBack && targetCapacity < kPieceCapacity / 4)
        fRefillRoom = 4 * targetCapacity + 64;
    for (;;) {
        const bool more = fPendingOutcome == NLS_SUCCESS && consumed < sourceLength;
        if (!more && InputEnds() && !firstEnded && fFirstInPieces != nullptr &&
            fPendingOutcome == NLS_SUCCESS) {
            // The text ends: the first converter ends what it holds open (a
            // run), even when this call brought it no input, before the
            // second one is told that the text ends.
            firstEnded = true;
            endFirstStage(consumed);
        }
        // A stop of the first converter ends the text it made there (under
        // other policies its -1302 only says it replaced something).
        const bool stopped = firstStageStoppedWith(fPendingOutcome);
        const bool textEnds = (InputEnds() || stopped) && !more;
        NLS_Status delivered = deliver(target, targetCapacity, &written, textEnds);
        // A high surrogate that the second converter leaves waiting at the end
        // of the text is a lone one (a target that writes lone surrogates, as
        // UTF-7 does, has taken it like any other).
        if (textEnds && !stopped && delivered == NLS_SEQUENCE_INCOMPLETE &&
            endTextWithLoneHighSurrogate())
            delivered = deliver(target, targetCapacity, &written, textEnds);
        if (isHardFailure(delivered) || delivered == NLS_RESULT_TRUNCATED) {
            result = delivered;  // a first-stage outcome waits for its text to go out
            break;
        }
        if (!more) {
            result = fPendingOutcome != NLS_SUCCESS ? fPendingOutcome : delivered;
            fPendingOutcome = NLS_SUCCESS;
            break;
        }
        // Text left waiting keeps its refill's input, copied, for a stop or
        // a substitution in it to be placed: where the output takes a few
        // KiB, a refill of a unit for each byte of room (a unit makes a byte
        // or more; one a policy drops is made up by another refill) leaves
        // none waiting in single-byte text, and little elsewhere. Smaller
        // outputs keep whole pieces: a refill a call would cost more.
        if (fUndelivered == Undelivered::kWaitsInStream && targetCapacity >= kSizedRefillFrom &&
            targetCapacity < kPieceCapacity / 4) {
            const uint32_t room = 2 * (targetCapacity - written);
            fRefillRoom = room < kLeastRefillRoom ? kLeastRefillRoom : room;
        }
        uint32_t taken = 0;
        const NLS_Status status =
            refill(source + consumed, sourceLength - consumed, consumed, &taken);
        consumed += taken;
        if (status != NLS_SUCCESS) {
            result = status;
            break;
        }
    }
    // A stop gives back the text from where it stopped, so that the call
    // reads no further than the character it stopped at.
    if ((fUndelivered == Undelivered::kGivenBack && result == NLS_RESULT_TRUNCATED) ||
        (fUndelivered != Undelivered::kWaits && isHardFailure(result)))
        rollBackUndeliveredText(&consumed);
    rememberWaitingOffset(consumed);
    keepOrForgetRefill(consumed);
    *targetLength = written;
    *sourceConsumed = consumed;
    return result;
}
