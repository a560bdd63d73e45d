// Two converters joined through UCS-2: source to UCS-2, then UCS-2 to target.
#ifndef VELTA_API_TCHAINEDCONVERTER_H
#define VELTA_API_TCHAINEDCONVERTER_H

#include "common/conversion_options.h"
#include "common/step_shell.h"
#include "velta/converter.h"

// Runs the first converter into an intermediate UCS-2 buffer and the second
// from that buffer into the caller's output, piece by piece, until the input
// is consumed or the output is full. Text that does not fit waits in the
// buffer (result 2) and goes out first in the next call. When the second
// converter takes text in pieces, the buffer has a fixed size, whatever the
// input; otherwise it holds the first converter's output for a whole call, so
// that such a converter sees each call's text whole. A first stage that fails
// or cannot progress reports its own status once its text has been
// delivered, so a drain loop always ends and nothing is dropped.
class TChainedConverter : public TEncodingConverter,
                          public TStreamConverter,
                          public velta::TOptionTaker {
public:
    // Both halves take the options.
    void TakeOptions(const velta::ConversionOptions& options) override;
    TChainedConverter(const char* from, const char* to, TEncodingConverter* first,
                      TEncodingConverter* second);
    ~TChainedConverter() override;
    TChainedConverter(const TChainedConverter&) = delete;
    TChainedConverter& operator=(const TChainedConverter&) = delete;

    void Reset() override;
    void SetInputEnds(bool ends) override;
    void SetPolicy(int32_t policy) override;
    // What becomes of text that a call cannot deliver.
    enum class Undelivered : uint8_t {
        kWaits,          // it waits for the next call (the older stream functions)
        kWaitsInStream,  // it waits, its input read (NLS_ConvertStream); a stop gives it back
        kGivenBack,      // it is given back as unread input (exact input positions)
    };
    void SetUndelivered(Undelivered undelivered) { fUndelivered = undelivered; }
    void SetGiveBackUndelivered(bool giveBack) {
        fUndelivered = giveBack ? Undelivered::kGivenBack : Undelivered::kWaits;
    }
    void TakeReport(uint32_t* count, int32_t* firstKind, int64_t* firstOffset) override;
    // The text has ended: a high surrogate waiting for its pair is dropped
    // (the caller has dealt with it as malformed input).
    void DropWaitingHighSurrogate();
    // Converts UCS-2 text through the second converter into `target` (once
    // all that waited has gone out); returns the bytes written. Its report is not kept: the
    // caller has counted what the text stands for.
    uint32_t ConvertPivotText(const unsigned char* text, uint32_t length, unsigned char* target,
                              uint32_t capacity);
    void TargetBufferSize(const unsigned char* source, uint32_t sourceLength,
                          uint32_t* size) override;
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;

private:
    enum : uint32_t {
        kPieceCapacity = 32 * 1024,
        kHeldCapacity = 64,
        kSizedRefillFrom = 1024,
        kLeastRefillRoom = 64
    };

    void findStageInterfaces();
    bool ensureIntermediateCapacity(uint32_t capacity);
    uint32_t intermediateCapacityFor(const unsigned char* source, uint32_t sourceLength);
    NLS_Status refill(const unsigned char* source, uint32_t sourceLength, uint32_t callOffset,
                      uint32_t* consumed);
    void noteFirstStageReport();
    void noteSecondStageReport(uint32_t textStart);
    void note(uint32_t count, int32_t kind, int64_t offset, bool byFirstStage);
    int64_t sourceOffsetOfText(uint32_t bufferOffset);
    void rememberWaitingOffset(uint32_t callStart);
    void rollBackUndeliveredText(uint32_t* consumed);
    void keepOrForgetRefill(uint32_t consumed);
    void markRefill();
    bool hasRefillMark() const;
    bool copyAtRefillMark();
    void releaseRefillMark();
    bool keepRefillInput();
    void endFirstStage(uint32_t consumed);
    bool cutEndsAsMalformed() const;
    velta::Action malformedAction() const;
    bool firstStageStoppedWith(NLS_Status status) const;
    bool appendText(const unsigned char* text, uint32_t length);
    NLS_Status replaceEndOfText(int64_t offset);
    bool endTextWithLoneHighSurrogate();
    NLS_Status deliver(unsigned char* target, uint32_t targetCapacity, uint32_t* written,
                       bool textEnds);
    NLS_Status deliverLastUnit(unsigned char* target, uint32_t targetCapacity, uint32_t* written);
    const unsigned char* waitingText() const;
    void consumeWaiting(uint32_t delivered);

    unsigned char* fIntermediate;  // owned; reused from call to call
    uint32_t fIntermediateSize;    // bytes of text waiting
    TEncodingConverter* fSecond;
    TEncodingConverter* fFirst;
    TStreamConverter* fFirstInPieces;   // the first converter's piece interface, if any
    TStreamConverter* fSecondInPieces;  // the second converter's, if any
    // The stages' step interfaces and option takers, if they have them.
    velta::TSteppedConverter* fFirstStepped;
    const velta::TSteppedConverter* fSecondStepped;
    velta::TOptionTaker* fFirstTaker;
    velta::TOptionTaker* fSecondTaker;
    velta::ConversionOptions fOptions;
    uint32_t fIntermediateCapacity;
    uint32_t fIntermediateStart;         // offset of the waiting text
    NLS_Status fPendingOutcome;          // first stage's result, reported once delivered
    uint32_t fHeldSize;                  // one character's output that did not fit
    unsigned char fHeld[kHeldCapacity];  // delivered first, whole, by the next call

    // The latest refill of this call: the first converter as it was before
    // it (a copy, where the converter can make one), its input and where its
    // text starts in the buffer. Converting that input again with the copy
    // tells which input bytes made which text: the offsets of substitutions
    // the second converter makes, and where to take the input back when
    // text is left undelivered, so that no text waits from call to call.
    // A refill whose text still waits when its call ends keeps its input
    // (from then on fRefillSource points at fKeptInput, and fRefillStart,
    // negative, is from the start of the next call's input).
    TEncodingConverter* fRefillCopy;
    velta::StepState fRefillState;  // instead of the copy, where the converter says its state
    bool fMarkByValue = false;
    bool fMarkUntouched = false;  // the mark is the first converter's initial state
    bool fFirstUntouched = true;  // it has read nothing since it was made or reset
    const unsigned char* fRefillSource;
    uint32_t fRefillLength;
    int64_t fRefillStart;                 // in the call's input
    uint32_t fRefillTaken;                // the input bytes it read
    unsigned char* fKeptInput = nullptr;  // owned
    uint32_t fKeptCapacity = 0;
    uint32_t fRefillTextBegin;
    uint32_t fRefillSubstitutions;  // the first converter's, in the latest refill
    // Where in the call's input (before it, from an earlier call: negative)
    // the one character that waits from before the latest refill was made;
    // known only for one character. Other text that waits is placed at the
    // refill, which never lies before the substitution it stands for.
    int64_t fWaitingOffset = 0;
    bool fWaitingKnown = false;
    // Where the character began whose rest a roll-back left waiting, in the
    // call's input (kNowhere: none).
    static constexpr int64_t kNowhere = INT64_MIN;
    int64_t fRestOfCharacterAt = kNowhere;

    Undelivered fUndelivered;
    uint32_t fRefillRoom;  // at most this much text a refill: about what the output takes

    // Substitutions of this call, for TakeReport.
    uint32_t fCount;
    int32_t fFirstKind;
    int64_t fFirstOffset;
    bool fFirstByFirstStage = false;
};

#endif
