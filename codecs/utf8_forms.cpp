// UTF-8 to and from UTF-16LE, UTF-16BE, UTF-32LE and UTF-32BE in one step,
// with the UTF-8 converters' own steps. For UTF-16 the units are the
// machine's, swapped a block at a time where the named order is the other
// one; UTF-32 is widened from, or narrowed to, a block of such units. Each
// converter gives the text, status and report of the two converters through
// UCS-2 it stands for. Where the form's rule for surrogates differs from
// UTF-8's (an encoded surrogate, ED A0-BF, pairs with the next one or is
// malformed; a lone surrogate unit or a UTF-32 value that is no character is
// malformed), the rest of the text goes through those two converters, until
// the converter is reset: such text is rare, and the pair of them is what
// defines it. The same shell runs UTF-8 and a single-byte encoding in one
// pass, in place of the chain of the two (fuseChain).
#include <string.h>

#include <algorithm>
#include <typeinfo>

#include "api/TChainedConverter.h"
#include "codecs/library_codecs.h"
#include "codecs/single_byte.h"
#include "codecs/utf8_steps.h"
#include "common/step_shell.h"
#include "common/text_kernels.h"
#include "common/units.h"
#include "velta/factories.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velta {

namespace {

// Output (or, for UTF-16 input, input) bytes swapped at a time: small enough
// to stay in the first-level cache between the step and the swap.
const uint32_t kSwapBlock = 8192;
// Bytes of a block between two calls of a kernel that takes the regular text
// itself: room for what stopped it, and little more.
const uint32_t kIrregularBlock = 256;

// Whether such a kernel is worth a call: not for the few bytes of a step past
// malformed input (stepPastMalformed), of which it would take none.
inline bool worthAKernel(uint32_t bytes) {
    return bytes > kPastMalformedBytes;
}

// Reverses the bytes of each of the `bytes` / 2 units from `source` into
// `target` (the same buffer, or one that does not overlap it).
void swapUnits(const unsigned char* source, unsigned char* target, uint32_t bytes) {
    uint32_t done = 0;
#if defined(__SSE2__)
    for (; bytes - done >= 16; done += 16) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + done),
                         _mm_or_si128(_mm_slli_epi16(units, 8), _mm_srli_epi16(units, 8)));
    }
#endif
    for (; bytes - done >= 2; done += 2) {
        const unsigned char first = source[done];
        target[done] = source[done + 1];
        target[done + 1] = first;
    }
}

// What the direct converters share: the pair of converters through UCS-2
// that takes over at a surrogate, and the report of what it met.
class TPivotFallback {
public:
    TPivotFallback() = default;
    TPivotFallback(const TPivotFallback&) : TPivotFallback() {}  // a copy starts direct
    TPivotFallback& operator=(const TPivotFallback&) = delete;
    ~TPivotFallback() { release(); }

    bool active() const { return fPivot != nullptr; }
    void release() {
        if (fPivot != nullptr) fPivot->ReleaseEncodingConverter();
        fPivot = nullptr;
        fCount = 0;
        fFirstKind = NLS_NO_SUBSTITUTION;
        fFirstOffset = 0;
    }
    // `giveBack`: text the target cannot take yet is given back as unread
    // input (the fallback of a stream), else it waits in the chain.
    bool start(const TStreamConverter& owner, const ConversionOptions& options, const char* from,
               const char* to, TEncodingConverter* first, TEncodingConverter* second,
               bool giveBack = true) {
        if (first == nullptr || second == nullptr) {
            if (first != nullptr) first->ReleaseEncodingConverter();
            if (second != nullptr) second->ReleaseEncodingConverter();
            return false;
        }
        fPivot = new (std::nothrow) TChainedConverter(from, to, first, second);
        if (fPivot == nullptr) {
            first->ReleaseEncodingConverter();
            second->ReleaseEncodingConverter();
            return false;
        }
        fPivot->SetGiveBackUndelivered(giveBack);
        fPivot->TakeOptions(options);
        fPivot->SetPolicy(owner.Policy());
        fPivot->SetInputEnds(owner.InputEnds());
        return true;
    }
    void setPolicy(int32_t policy) {
        if (fPivot != nullptr) fPivot->SetPolicy(policy);
    }
    void setInputEnds(bool ends) {
        if (fPivot != nullptr) fPivot->SetInputEnds(ends);
    }
    void takeOptions(const ConversionOptions& options) {
        if (fPivot != nullptr) fPivot->TakeOptions(options);
    }
    // What waits in the chain goes, as a chain's Reset does.
    void reset() {
        if (fPivot != nullptr) fPivot->Reset();
        fCount = 0;
        fFirstKind = NLS_NO_SUBSTITUTION;
        fFirstOffset = 0;
    }
    // Converts `offset` bytes into the call's input; the report keeps that.
    NLS_Status convert(uint32_t offset, unsigned char* target, uint32_t* targetLength,
                       uint32_t capacity, const unsigned char* source, uint32_t length,
                       uint32_t* consumed) {
        const NLS_Status status =
            fPivot->Convert(target, targetLength, capacity, source, length, consumed);
        uint32_t count = 0;
        int32_t kind = NLS_NO_SUBSTITUTION;
        int64_t first = 0;
        fPivot->TakeReport(&count, &kind, &first);
        fCount += count;
        if (fFirstKind == NLS_NO_SUBSTITUTION && kind != NLS_NO_SUBSTITUTION) {
            fFirstKind = kind;
            fFirstOffset = offset + first;
        }
        return status;
    }
    // Joins the pivot's report to `owner`'s own, which came first.
    void joinReport(uint32_t* count, int32_t* firstKind, int64_t* firstOffset) {
        *count += fCount;
        if (*firstKind == NLS_NO_SUBSTITUTION) {
            *firstKind = fFirstKind;
            *firstOffset = fFirstOffset;
        }
        fCount = 0;
        fFirstKind = NLS_NO_SUBSTITUTION;
        fFirstOffset = 0;
    }

private:
    TChainedConverter* fPivot = nullptr;
    uint32_t fCount = 0;
    int32_t fFirstKind = NLS_NO_SUBSTITUTION;
    int64_t fFirstOffset = 0;
};

const char* utf16Name(ByteOrder order) {
    return order == ByteOrder::kBig ? "UTF-16BE" : "UTF-16LE";
}

const char* utf32Name(ByteOrder order) {
    return order == ByteOrder::kBig ? "UTF-32BE" : "UTF-32LE";
}

// Units of UCS-2 (U+FFFD, say) as code points, in the order they come.
template <typename Write>
bool forEachCodePoint(const uint16_t* units, uint32_t count, Write write) {
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t value = units[i];
        if (isHighSurrogate(value) && i + 1 < count && isLowSurrogate(units[i + 1]))
            value = ((value - 0xD800) << 10) + (units[++i] - 0xDC00) + 0x10000;
        if (!write(value)) return false;
    }
    return true;
}

// The shell of every direction: `Direction` gives the identity, the step,
// the converters of the pivot, their expansion factors, how its target
// writes units of UCS-2 and the statuses the pair of them gives.
template <typename Direction>
class TFormDirect : public TStepShell<TFormDirect<Direction>>, public TReplacementWriter {
    using Shell = TStepShell<TFormDirect<Direction>>;

public:
    using Form = typename Direction::Form;
    explicit TFormDirect(const Form& form)
        : Shell(Direction::identity(form)), fSwapped(Direction::swapped(form)), fForm(form) {}
    // The chain's bound, so that a buffer sized for it serves as before.
    void TargetBufferSize(const unsigned char*, uint32_t sourceLength, uint32_t* size) override {
        if (size == nullptr) return;
        const uint64_t pivot = static_cast<uint64_t>(Direction::kToPivotFactor) * sourceLength + 2;
        const uint64_t bound = Direction::kFromPivotFactor * pivot + 2;
        *size = bound > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bound);
    }
    // (A copy starts without the pair of converters, nor the text that waits
    // in the chain of the older calls: none where they are in use.)
    TEncodingConverter* CloneConverter() const override {
        return fFallback.active() || fChainHolds ? nullptr : CloneByCopy(*this);
    }
    void Reset() override {
        fFallback.release();
        fOlderCalls.reset();
        fChainHolds = false;
    }
    uint32_t WriteReplacement(unsigned char* out, uint32_t capacity) const override {
        unsigned char replacement[4];
        const uint32_t length = Direction::replacement(fForm, replacement);
        if (capacity < length) return 0;
        memcpy(out, replacement, length);
        return length;
    }
    void SetPolicy(int32_t policy) override {
        TStreamConverter::SetPolicy(policy);
        fFallback.setPolicy(policy);
        fOlderCalls.setPolicy(policy);
    }
    void SetInputEnds(bool ends) override {
        TStreamConverter::SetInputEnds(ends);
        fFallback.setInputEnds(ends);
        fOlderCalls.setInputEnds(ends);
    }
    void TakeOptions(const ConversionOptions& options) override {
        Shell::TakeOptions(options);
        fOlderCalls.takeOptions(options);
    }
    void TakeReport(uint32_t* count, int32_t* firstKind, int64_t* firstOffset) override {
        TStreamConverter::TakeReport(count, firstKind, firstOffset);
        fFallback.joinReport(count, firstKind, firstOffset);
        fOlderCalls.joinReport(count, firstKind, firstOffset);
    }

    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override {
        if (!this->FillsToEnd() && Direction::olderCallsRunTheChain(fForm))
            return convertAsTheChain(target, targetLength, targetCapacity, source, sourceLength,
                                     sourceConsumed);
        return convertInOnePass(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed);
    }
    // The steps until a surrogate, then the pair of converters from there.
    NLS_Status convertInOnePass(unsigned char* target, uint32_t* targetLength,
                                uint32_t targetCapacity, const unsigned char* source,
                                uint32_t sourceLength, uint32_t* sourceConsumed) {
        uint32_t in = 0, out = 0;
        if (!fFallback.active()) {
            fAtSurrogate = false;
            const NLS_Status status = Shell::Convert(target, targetLength, targetCapacity, source,
                                                     sourceLength, sourceConsumed);
            if (!fAtSurrogate || status != NLS_SUCCESS) return status;
            in = *sourceConsumed;
            out = *targetLength;
            if (!fFallback.start(*this, this->fOptions, Direction::from(fForm),
                                 Direction::to(fForm), Direction::toPivot(fForm),
                                 Direction::fromPivot(fForm)))
                return NLS_OUT_OF_MEMORY;
        } else if (this->InvalidConvertArguments(target, targetLength, targetCapacity, source,
                                                 sourceLength, sourceConsumed)) {
            return NLS_INVALID_PARAMETER;
        }
        uint32_t made = 0, taken = 0;
        const NLS_Status status = fFallback.convert(in, target + out, &made, targetCapacity - out,
                                                    source + in, sourceLength - in, &taken);
        *targetLength = out + made;
        *sourceConsumed = in + taken;
        fPivotStop = stopOfPivot(status, *sourceConsumed == sourceLength);
        return status;
    }
    // Where the pair of converters ran, why it ended, read from its status.
    Stop LastStop() const override { return fFallback.active() ? fPivotStop : Shell::LastStop(); }

    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds) {
        const auto directionStep = [this](const unsigned char* in, uint32_t length,
                                          unsigned char* out, uint32_t capacity, bool ends) {
            return Direction::step(fForm, fSwapped, this->fOptions.strictUnicode, in, length, out,
                                   capacity, ends, &fAtSurrogate);
        };
        if (!Direction::kStepsShortPastMalformed || !fPastMalformed)
            return directionStep(source, sourceLength, target, targetCapacity, textEnds);
        fPastMalformed = false;
        return stepPastMalformed(directionStep, source, sourceLength, target, targetCapacity,
                                 textEnds, &fAtSurrogate);
    }
    void passedOver(const StepResult& result) { fPastMalformed = result.stop == Stop::kMalformed; }
    Written writeChosen(const uint16_t* units, uint32_t count, unsigned char* out,
                        uint32_t capacity, uint32_t* written) {
        return Direction::writeUnits(fForm, units, count, out, capacity, written);
    }
    bool writesChosenAlike() const { return true; }  // every form here writes without state
    uint32_t terminatorWidth() const { return Direction::kTerminatorWidth; }
    NLS_Status outputFullStatus() const { return Direction::kOutputFullStatus; }

private:
    // The older calls keep the results of the chain this converter stands
    // for (its input read whole, the text that does not fit waiting in it
    // for the next call), which callers may rely on. A call that one pass
    // converts whole gives them as it is (what it replaces, it replaces as
    // the chain does); any other, and any while the chain holds text, runs
    // through the chain itself from the call's start. (Streams fill the
    // output to its end and run in one pass: they give the chain's text,
    // status and report.)
    NLS_Status convertAsTheChain(unsigned char* target, uint32_t* targetLength, uint32_t capacity,
                                 const unsigned char* source, uint32_t length, uint32_t* consumed) {
        if (!fChainHolds && !fFallback.active()) {
            const NLS_Status status =
                convertInOnePass(target, targetLength, capacity, source, length, consumed);
            if (status == NLS_SUCCESS && *consumed == length && !fFallback.active()) return status;
            uint32_t count = 0;  // the pass's report goes with its text
            int32_t kind = NLS_NO_SUBSTITUTION;
            int64_t first = 0;
            TStreamConverter::TakeReport(&count, &kind, &first);
            fFallback.release();
        }
        if (!fOlderCalls.active() &&
            !fOlderCalls.start(*this, this->fOptions, Direction::from(fForm), Direction::to(fForm),
                               Direction::toPivot(fForm), Direction::fromPivot(fForm), false))
            return NLS_OUT_OF_MEMORY;
        const NLS_Status status =
            fOlderCalls.convert(0, target, targetLength, capacity, source, length, consumed);
        fChainHolds = status != NLS_SUCCESS;
        return status;
    }

    static Stop stopOfPivot(NLS_Status status, bool allRead) {
        switch (status) {
            case NLS_RESULT_TRUNCATED:
            case NLS_OUTPUT_FULL:
                return Stop::kOutputFull;
            case NLS_UNMAPPABLE:
                return Stop::kUnmappable;
            case NLS_SEQUENCE_INCOMPLETE:
                return Stop::kCutAtEnd;
            default:
                if (status < 0) return Stop::kMalformed;
                return allRead ? Stop::kInputUsed : Stop::kCutAtEnd;
        }
    }

    TPivotFallback fFallback;
    TPivotFallback fOlderCalls;  // where Direction::olderCallsRunTheChain
    Stop fPivotStop = Stop::kInputUsed;
    bool fChainHolds = false;  // the last older call ran through fOlderCalls, unfinished
    bool fSwapped;             // the named order is not the machine's
    bool fAtSurrogate = false;
    bool fPastMalformed = false;  // the next step starts past replaced or skipped input
    Form fForm;
};

// What the directions of the Unicode forms share: the form is a byte order.
struct OrderedForm {
    using Form = ByteOrder;
    static bool swapped(ByteOrder order) { return (order == ByteOrder::kBig) != bigEndianHost(); }
    // A direct converter of the registry: no chain stands behind it.
    static bool olderCallsRunTheChain(ByteOrder) { return false; }
    // Whether a step past malformed input starts short (stepPastMalformed):
    // where the UTF-8 decoder's kernels start each step.
    static const bool kStepsShortPastMalformed = false;
};

struct FromUtf8 : OrderedForm {
    enum : uint32_t { kToPivotFactor = 2, kFromPivotFactor = 2 };
    static const bool kStepsShortPastMalformed = true;
    static TConverterIdentity identity(ByteOrder order) {
        return {"UTF-8", utf16Name(order), 0, 2, 0};
    }
    static const char* from(ByteOrder) { return "UTF-8"; }
    static const char* to(ByteOrder order) { return utf16Name(order); }
    static TEncodingConverter* toPivot(ByteOrder) { return NEWUTF8TOUNICODEENCODINGCONVERTER(); }
    static TEncodingConverter* fromPivot(ByteOrder order) { return newUtf16Encoder(order); }
    static uint32_t replacement(ByteOrder order, unsigned char* out) {
        out[0] = order == ByteOrder::kBig ? 0xFF : 0xFD;
        out[1] = order == ByteOrder::kBig ? 0xFD : 0xFF;
        return 2;
    }
    enum : uint32_t { kTerminatorWidth = 2 };
    static const NLS_Status kOutputFullStatus = NLS_OUTPUT_FULL;
    static Written writeUnits(ByteOrder order, const uint16_t* units, uint32_t count,
                              unsigned char* out, uint32_t capacity, uint32_t* written) {
        if (capacity < 2 * count) return Written::kNoRoom;
        for (uint32_t i = 0; i < count; ++i)
            storeUnitOrdered(out + 2 * i, units[i], order == ByteOrder::kBig);
        *written = 2 * count;
        return Written::kDone;
    }

    // In the other order, the output is decoded a block at a time and
    // swapped while it is in the cache; a block that fills is not the end.
    // Where a kernel writes that order itself, it takes the regular text and
    // the blocks are only what it stops at.
    static StepResult step(ByteOrder, bool swapped, bool strict, const unsigned char* source,
                           uint32_t length, unsigned char* target, uint32_t capacity, bool,
                           bool* atSurrogate) {
        const auto decodeSwapped = swapped ? textKernels().decodeUtf8Swapped : nullptr;
        const uint32_t block = decodeSwapped != nullptr ? kIrregularBlock : kSwapBlock;
        uint32_t in = 0, out = 0;
        for (;;) {
            if (decodeSwapped != nullptr && worthAKernel(length - in)) {
                uint32_t produced = 0;
                in += decodeSwapped(source + in, length - in, target + out, capacity - out,
                                    &produced);
                out += produced;
            }
            const uint32_t room = capacity - out;
            const bool limited = swapped && room > block;
            StepResult result = decodeUtf8Units({true, atSurrogate, strict}, source + in,
                                                length - in, target + out, limited ? block : room);
            if (swapped) swapUnits(target + out, target + out, result.written);
            in += result.read;
            out += result.written;
            if (limited && result.stop == Stop::kOutputFull && !*atSurrogate) continue;
            result.read = in;
            result.written = out;
            return result;
        }
    }
};

// What the directions that write UTF-8 share.
struct IntoUtf8 : OrderedForm {
    static const char* to(ByteOrder) { return "UTF-8"; }
    static TEncodingConverter* fromPivot(ByteOrder) { return NEWUNICODETOUTF8ENCODINGCONVERTER(); }
    static uint32_t replacement(ByteOrder, unsigned char* out) {
        out[0] = 0xEF;
        out[1] = 0xBF;
        out[2] = 0xBD;
        return 3;
    }
    enum : uint32_t { kTerminatorWidth = 1 };
    // A character without room gives -1304, as the UTF-8 encoder does.
    static const NLS_Status kOutputFullStatus = NLS_SEQUENCE_INCOMPLETE;
    static Written writeUnits(ByteOrder, const uint16_t* units, uint32_t count, unsigned char* out,
                              uint32_t capacity, uint32_t* written) {
        unsigned char bytes[2 * kMaxChosenUnits];
        for (uint32_t i = 0; i < count; ++i) storeUnit(bytes + 2 * i, units[i]);
        const StepResult result =
            encodeUtf8Units({false, nullptr, false}, bytes, 2 * count, out, capacity);
        if (result.stop != Stop::kInputUsed) return Written::kNoRoom;
        *written = result.written;
        return Written::kDone;
    }
};

struct ToUtf8 : IntoUtf8 {
    enum : uint32_t { kToPivotFactor = 1, kFromPivotFactor = 4 };
    static TConverterIdentity identity(ByteOrder order) {
        return {utf16Name(order), "UTF-8", 0, 4, 1};
    }
    static const char* from(ByteOrder order) { return utf16Name(order); }
    static TEncodingConverter* toPivot(ByteOrder order) { return newUtf16Decoder(order); }

    static StepResult step(ByteOrder, bool swapped, bool, const unsigned char* source,
                           uint32_t length, unsigned char* target, uint32_t capacity, bool,
                           bool* atSurrogate) {
        if (!swapped)
            return encodeUtf8Units({true, atSurrogate, false}, source, length, target, capacity);
        return stepSwapped(source, length, target, capacity, atSurrogate);
    }

    // The input is swapped a block at a time into the machine's order. A
    // block that ends in a high surrogate leaves it for the next block.
    // Where a kernel reads that order itself, it takes the regular text and
    // the blocks are only what it stops at.
    static StepResult stepSwapped(const unsigned char* source, uint32_t length,
                                  unsigned char* target, uint32_t capacity, bool* atSurrogate) {
        const auto encodeSwapped = textKernels().encodeUtf8Swapped;
        const uint32_t limit = encodeSwapped != nullptr ? kIrregularBlock : kSwapBlock;
        unsigned char units[kSwapBlock];
        uint32_t in = 0, out = 0;
        for (;;) {
            if (encodeSwapped != nullptr) {
                uint32_t written = 0;
                in += 2 * encodeSwapped(source + in, (length - in) / 2, target + out,
                                        capacity - out, &written);
                out += written;
            }
            // No more units than the room left takes (a byte each at the
            // least) and two more: the room fills before a pair can be cut
            // at the block's end, and a pair at its start fits in it. The
            // end of each piece of a stream comes here.
            const uint32_t room = capacity - out;
            const uint32_t most = room < limit / 2 ? std::min(limit, 2 * room + 4) : limit;
            const uint32_t block = length - in > most ? most : length - in;
            swapUnits(source + in, units, block);
            if (block % 2 != 0) units[block - 1] = source[in + block - 1];
            StepResult result = encodeUtf8Units({true, atSurrogate, false}, units, block,
                                                target + out, capacity - out);
            const bool lastBlock = block == length - in;
            const bool pairCut = result.stop == Stop::kCutAtEnd && result.read + 2 == block &&
                                 isHighSurrogate(loadUnit(units + result.read));
            in += result.read;
            out += result.written;
            const bool goOn = result.stop == Stop::kInputUsed || pairCut;
            if (*atSurrogate || lastBlock || !goOn) {
                result.read = in;
                result.written = out;
                return result;
            }
        }
    }
};

// Reverses the bytes of each of the `bytes` / 4 values at p.
void swapValues(unsigned char* p, uint32_t bytes) {
    uint32_t done = 0;
#if defined(__SSE2__)
    for (; bytes - done >= 16; done += 16) {
        __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + done));
        values = _mm_or_si128(_mm_slli_epi16(values, 8), _mm_srli_epi16(values, 8));
        values = _mm_shufflehi_epi16(_mm_shufflelo_epi16(values, 0xB1), 0xB1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + done), values);
    }
#endif
    for (; bytes - done >= 4; done += 4)
        storeUnit32(p + done, __builtin_bswap32(loadUnit32(p + done)));
}

// UTF-16 units of `bytes` / 2 in the machine's order, complete pairs only,
// widened to UTF-32 in the machine's order, then swapped to the named one;
// returns the bytes written.
uint32_t widenToUtf32(const unsigned char* units, uint32_t bytes, unsigned char* target,
                      uint32_t room, bool bigEndian) {
    const TextKernels& kernels = textKernels();
    uint32_t in = 0, out = 0;
    // The kernel takes all but the last units and the end of the room.
    if (kernels.widenToUcs4 != nullptr && bytes >= 64)
        in = 2 * kernels.widenToUcs4(units, bytes / 2, target, room, &out);
#if defined(__SSE2__)
    // Eight units without surrogates at a time: the end of each piece of a
    // stream comes here.
    const __m128i surrogateTop = _mm_set1_epi16(static_cast<short>(0xD800));
    for (; bytes - in >= 16; in += 16, out += 32) {
        const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + in));
        const __m128i top = _mm_and_si128(eight, _mm_set1_epi16(static_cast<short>(0xF800)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(top, surrogateTop)) != 0) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + out),
                         _mm_unpacklo_epi16(eight, _mm_setzero_si128()));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + out + 16),
                         _mm_unpackhi_epi16(eight, _mm_setzero_si128()));
    }
#endif
    while (in < bytes) {
        uint32_t value = loadUnit(units + in);
        in += 2;
        if (isHighSurrogate(value)) {
            value = ((value - 0xD800) << 10) + (loadUnit(units + in) - 0xDC00) + 0x10000;
            in += 2;
        }
        storeUnit32(target + out, value);
        out += 4;
    }
    if (bigEndian != bigEndianHost()) swapValues(target, out);
    return out;
}

struct FromUtf8ToUtf32 : OrderedForm {
    enum : uint32_t { kToPivotFactor = 2, kFromPivotFactor = 4 };
    static const bool kStepsShortPastMalformed = true;
    static TConverterIdentity identity(ByteOrder order) {
        return {"UTF-8", utf32Name(order), 0, 4, 0};
    }
    static const char* from(ByteOrder) { return "UTF-8"; }
    static const char* to(ByteOrder order) { return utf32Name(order); }
    static TEncodingConverter* toPivot(ByteOrder) { return NEWUTF8TOUNICODEENCODINGCONVERTER(); }
    static TEncodingConverter* fromPivot(ByteOrder order) { return newUtf32Encoder(order); }
    static uint32_t replacement(ByteOrder order, unsigned char* out) {
        const bool big = order == ByteOrder::kBig;
        out[big ? 3 : 0] = 0xFD;
        out[big ? 2 : 1] = 0xFF;
        out[big ? 1 : 2] = 0x00;
        out[big ? 0 : 3] = 0x00;
        return 4;
    }
    enum : uint32_t { kTerminatorWidth = 4 };
    static const NLS_Status kOutputFullStatus = NLS_OUTPUT_FULL;
    static Written writeUnits(ByteOrder order, const uint16_t* units, uint32_t count,
                              unsigned char* out, uint32_t capacity, uint32_t* written) {
        uint32_t at = 0;
        const bool fits = forEachCodePoint(units, count, [&](uint32_t value) {
            if (capacity - at < 4) return false;
            storeUnit32Ordered(out + at, value, order == ByteOrder::kBig);
            at += 4;
            return true;
        });
        if (!fits) return Written::kNoRoom;
        *written = at;
        return Written::kDone;
    }

    // A block of units, each of which makes at most four bytes, is decoded
    // where the output surely takes it, then widened. Room for one unit but
    // not two is tried again with room for a pair: a character that needs
    // one fills it alone. Where a kernel writes the values itself, it takes
    // the regular text and the blocks are only what it stops at.
    static StepResult step(ByteOrder, bool swapped, bool strict, const unsigned char* source,
                           uint32_t length, unsigned char* target, uint32_t capacity, bool,
                           bool* atSurrogate) {
        const bool bigEndian = swapped != bigEndianHost();
        uint32_t in = 0, out = 0;
        // A step past malformed input the shell replaced: its ASCII and the
        // next byte malformed alone (Latin-1 text read as UTF-8) need no
        // units staged.
        if (length <= kPastMalformedBytes) {
            const uint32_t toOrder = swapped ? 24 : 0;  // an ASCII value's byte, first or last
            for (; in < length && source[in] < 0x80; ++in, out += 4) {
                if (capacity - out < 4) return outputFull(in, out);
                storeUnit32(target + out, uint32_t{source[in]} << toOrder);
            }
            if (in == length) return inputUsed(in, out);
            if (startsMalformedAlone(source + in, length - in)) return malformedAt(in, out, 1);
        }
        const auto decodeDirect = textKernels().decodeUtf8ToUtf32;
        unsigned char units[kSwapBlock];
        for (;;) {
            // Text the kernel takes nothing of (malformed or irregular
            // forms) goes through whole blocks.
            uint32_t block = kSwapBlock;
            if (decodeDirect != nullptr && worthAKernel(length - in)) {
                uint32_t produced = 0;
                const uint32_t taken = decodeDirect(source + in, length - in, target + out,
                                                    capacity - out, &produced, swapped);
                in += taken;
                out += produced;
                if (taken != 0) block = kIrregularBlock;
            }
            const uint32_t room = capacity - out;
            // The end of each piece of a stream: the kernel filled the room.
            if (room < 4 && startsPlainUtf8(source + in, length - in)) return outputFull(in, out);
            uint32_t unitRoom = room / 4 * 2 > block ? block : room / 4 * 2;
            StepResult result = decodeUtf8Units({true, atSurrogate, strict}, source + in,
                                                length - in, units, unitRoom);
            if (result.stop == Stop::kOutputFull && result.written == 0 && result.read == 0 &&
                unitRoom == 2 && room >= 4 && !*atSurrogate) {
                unitRoom = 4;
                result = decodeUtf8Units({true, atSurrogate, strict}, source + in, length - in,
                                         units, unitRoom);
            }
            out += widenToUtf32(units, result.written, target + out, capacity - out, bigEndian);
            in += result.read;
            if (result.stop != Stop::kOutputFull || result.written == 0 || *atSurrogate) {
                result.read = in;
                result.written = out;
                return result;
            }
        }
    }
};

struct FromUtf32ToUtf8 : IntoUtf8 {
    enum : uint32_t { kToPivotFactor = 1, kFromPivotFactor = 4 };
    static TConverterIdentity identity(ByteOrder order) {
        return {utf32Name(order), "UTF-8", 0, 1, 1};
    }
    static const char* from(ByteOrder order) { return utf32Name(order); }
    static TEncodingConverter* toPivot(ByteOrder order) { return newUtf32Decoder(order); }

    // Values up to a malformed one (past U+10FFFF, or a surrogate) narrowed
    // to units in the machine's order; returns the values taken.
    static uint32_t narrow(const unsigned char* source, uint32_t values, bool bigEndian,
                           unsigned char* units, uint32_t* bytes) {
        uint32_t taken = 0, out = 0;
        for (; taken < values; ++taken) {
            uint32_t value = loadUnit32Ordered(source + 4 * taken, bigEndian);
            if (value > 0x10FFFF || isSurrogate(value)) break;
            if (value > 0xFFFF) {
                value -= 0x10000;
                storeUnit(units + out, static_cast<uint16_t>(0xD800 + (value >> 10)));
                value = 0xDC00 + (value & 0x3FF);
                out += 2;
            }
            storeUnit(units + out, static_cast<uint16_t>(value));
            out += 2;
        }
        *bytes = out;
        return taken;
    }

    // A block of values is narrowed and encoded; the values the encoder
    // took are its units less the second halves of pairs. Where a kernel
    // reads the values itself, it takes the characters and the blocks are
    // only what it stops at (whole blocks where it takes nothing).
    static StepResult step(ByteOrder, bool swapped, bool, const unsigned char* source,
                           uint32_t length, unsigned char* target, uint32_t capacity, bool,
                           bool* atSurrogate) {
        const bool bigEndian = swapped != bigEndianHost();
        const auto encodeDirect = textKernels().encodeUtf32ToUtf8;
        unsigned char units[kSwapBlock];
        uint32_t in = 0, out = 0;
        for (;;) {
            uint32_t most = kSwapBlock / 4;
            if (encodeDirect != nullptr) {
                uint32_t written = 0;
                const uint32_t taken = encodeDirect(source + in, (length - in) / 4, target + out,
                                                    capacity - out, &written, swapped);
                in += 4 * taken;
                out += written;
                if (taken != 0) most = kIrregularBlock / 4;
            }
            // No more values than the room left takes (a byte each at the
            // least) and one more, to find it full: the end of each piece of
            // a stream comes here.
            if (capacity - out < most) most = capacity - out + 1;
            const uint32_t available = (length - in) / 4;
            const uint32_t block = available > most ? most : available;
            uint32_t bytes = 0;
            const uint32_t values = narrow(source + in, block, bigEndian, units, &bytes);
            const StepResult result = encodeUtf8Units({false, nullptr, false}, units, bytes,
                                                      target + out, capacity - out);
            uint32_t valuesTaken = values;
            if (result.read != bytes) {
                valuesTaken = result.read / 2;
                for (uint32_t i = 0; i < result.read; i += 2)
                    if (isLowSurrogate(loadUnit(units + i))) --valuesTaken;
            }
            out += result.written;
            in += 4 * valuesTaken;
            if (result.stop != Stop::kInputUsed) return outputFull(in, out);
            if (values < block) {
                *atSurrogate = true;
                return inputUsed(in, out);
            }
            if (block == available) return in != length ? cutAtEnd(in, out) : inputUsed(in, out);
        }
    }
};

// UTF-8 and a single-byte encoding: the two converters' steps over a block
// of UCS-2 on the stack, so that the chain of them runs in one pass and
// keeps no text between calls. A stop in the block is placed at the bytes
// of the unit it names: in UTF-8 by their lead bytes, in the single-byte
// encoding a byte a unit (where pairs of bytes make one, by reading again).
// Blocks of 8 KB stay in the first-level cache and cost two calls per 4,096
// characters; blocks of 1 KB ran 10 % behind the chain on Latin text.
const uint32_t kFusedBlockUnits = 4096;
// The first block of each step: a step comes again after each character the
// encoding lacks.
const uint32_t kFirstFusedBlock = 32;

// The bytes of the first `units` units that the UTF-8 step made of
// `source` (well-formed there; four bytes make a pair of units).
uint32_t utf8BytesOfUnits(const unsigned char* source, uint32_t units) {
    uint32_t bytes = 0;
    while (units != 0) {
        const unsigned char lead = source[bytes];
        const uint32_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        bytes += length;
        units -= length == 4 && units > 1 ? 2 : 1;
    }
    return bytes;
}

// ISO-8859-1 as a table of the single-byte steps, each byte the code point
// of its value (the first 256 of ISO/IEC 10646), so that the chains of UTF-8
// and ISO-8859-1's own converters run in one pass too.
constexpr SingleByteTable makeLatin1Table() {
    SingleByteTable table{kLatin1Name, true, {}, nullptr, 0};
    for (uint32_t byte = 0; byte < 256; ++byte) table.units[byte] = static_cast<uint16_t>(byte);
    return table;
}

constexpr SingleByteTable kLatin1Table = makeLatin1Table();

// The form's index for ISO-8859-1, whose converters are built in, not made
// from a table of kSingleByteTables.
const uint32_t kLatin1Index = UINT32_MAX;

// Each unit's byte in ISO-8859-1, as bytesOfUnits gives the others' (three
// bytes past the end, 0 for none): built once, when first needed.
const uint8_t* latin1BytesOfUnits() {
    static const uint8_t* const bytes = [] {
        uint8_t* fresh = new (std::nothrow) uint8_t[0x10000 + 3]();
        if (fresh != nullptr)
            for (uint32_t unit = 1; unit < 0x100; ++unit) fresh[unit] = static_cast<uint8_t>(unit);
        return fresh;
    }();
    return bytes;
}

// A whole two- or three-byte UTF-8 sequence of a character (not overlong,
// not an encoded surrogate); length 0 for anything else.
struct ShortSequence {
    uint16_t unit;
    uint32_t length;
};

ShortSequence shortSequenceAt(const unsigned char* p, uint32_t length) {
    if (length >= 2 && p[0] >= 0xC2 && p[0] <= 0xDF && (p[1] & 0xC0) == 0x80)
        return {static_cast<uint16_t>((p[0] & 0x1F) << 6 | (p[1] & 0x3F)), 2};
    if (length >= 3 && (p[0] & 0xF0) == 0xE0 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
        const uint32_t unit = (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
        if (unit >= 0x800 && (unit < 0xD800 || unit > 0xDFFF))
            return {static_cast<uint16_t>(unit), 3};
    }
    return {0, 0};
}

struct SingleByteEncoderForm {
    TUnicodeToSingleByteConverter encoder;
    uint32_t index;
    unsigned char questionMark;  // "?" in the encoding's own byte
    bool keepsAscii;             // as keepsAsciiBytes says
    Utf8Window window;           // as windowOf chose it
};

// Whether ASCII is its own bytes in the encoding: then UTF-8 ASCII goes
// straight to them.
bool keepsAsciiBytes(const TUnicodeToSingleByteConverter& encoder) {
    const uint8_t* bytes = encoder.bytes();
    if (encoder.table().units[0] != 0) return false;
    for (uint32_t unit = 1; unit < 0x80; ++unit)
        if (bytes[unit] != unit) return false;
    return true;
}

// The characters of `count` from `first` that the encoding has bytes for,
// but U+0080-U+00BF (the C1 controls and Latin-1 signs, which every
// ISO-8859 part has and no script's text is made of).
uint32_t lettersHeld(const uint8_t* bytes, uint32_t first, uint32_t count) {
    uint32_t held = 0;
    for (uint32_t unit = first; unit < first + count; ++unit)
        held += bytes[unit] != 0 && unit >= 0xC0;
    return held;
}

// The window of the encoding's script, whose text goes from UTF-8 straight
// to its bytes (ASCII must be its own bytes): the block of 128 three-byte
// characters it has the most of, where it has half of them or more (Thai in
// windows-874); else the four two-byte leads in a row whose characters it
// has the most of (the Latin letters of windows-1252 or ISO-8859-2,
// Cyrillic, Greek, Hebrew, Arabic).
Utf8Window windowOf(const TUnicodeToSingleByteConverter& encoder) {
    Utf8Window window{};
    const uint8_t* bytes = encoder.bytes();
    if (!keepsAsciiBytes(encoder)) return window;
    uint32_t best = 0, most = 63;
    for (uint32_t base = 0x800; base < 0x10000; base += 128) {
        const uint32_t count = lettersHeld(bytes, base, 128);
        if (count > most) {
            best = base;
            most = count;
        }
    }
    if (best != 0) {
        window.lead = static_cast<unsigned char>(0xE0 | best >> 12);
        window.second = static_cast<unsigned char>(0x80 | (best >> 6 & 0x3F));
        memcpy(window.bytes, bytes + best, 128);
        return window;
    }
    most = 0;
    for (uint32_t lead = 0xC2; lead + 3 <= 0xDF; ++lead) {
        // Of windows with as many, the one with most under its first two
        // leads, where the kernel looks up half as much.
        const uint32_t first = (lead - 0xC0) << 6;
        const uint32_t count = lettersHeld(bytes, first, 256) << 8 | lettersHeld(bytes, first, 128);
        if (count > most) {
            window.lead = static_cast<unsigned char>(lead);
            most = count;
        }
    }
    if (window.lead != 0) memcpy(window.bytes, bytes + ((window.lead - 0xC0) << 6), 256);
    return window;
}

struct SingleByteDecoderForm {
    TSingleByteToUnicodeConverter decoder;
    uint32_t index;
    uint32_t utf8[256];            // as makeUtf8OfBytes gives them
    unsigned char highUnits[256];  // as makeUtf8OfBytes gives them
    uint32_t firstOwnByte;         // as firstOwnByteOf gives it
};

struct Utf8ToSingleByte {
    using Form = SingleByteEncoderForm;
    // The window kernel's first block ends at malformed input at once.
    static const bool kStepsShortPastMalformed = false;
    enum : uint32_t { kToPivotFactor = 2, kFromPivotFactor = 1, kTerminatorWidth = 1 };
    static const NLS_Status kOutputFullStatus = NLS_RESULT_TRUNCATED;
    static bool swapped(const Form&) { return false; }
    static TConverterIdentity identity(const Form& form) {
        return {"UTF-8", form.encoder.table().name, 0, 2, 0};
    }
    static const char* from(const Form&) { return "UTF-8"; }
    static const char* to(const Form& form) { return form.encoder.table().name; }
    static TEncodingConverter* toPivot(const Form&) { return NEWUTF8TOUNICODEENCODINGCONVERTER(); }
    static TEncodingConverter* fromPivot(const Form& form) {
        return form.index == kLatin1Index ? NEWUNICODETOLATIN1ENCODINGCONVERTER()
                                          : newSingleByteEncoder(form.index);
    }
    static bool olderCallsRunTheChain(const Form&) { return true; }
    // U+FFFD is in no single-byte encoding: its replacement is "?".
    static uint32_t replacement(const Form& form, unsigned char* out) {
        out[0] = form.questionMark;
        return 1;
    }
    static Written writeUnits(Form& form, const uint16_t* units, uint32_t count, unsigned char* out,
                              uint32_t capacity, uint32_t* written) {
        return form.encoder.writeChosen(units, count, out, capacity, written);
    }

    // A unit makes a byte or two: a block of as many units as the room left
    // (two at least, for a pair) fills the output or ends the input, and
    // the encoder takes it whole where each makes one byte (a block it
    // stopped in has its UTF-8 counted again, a character at a time).
    // Where ASCII is its own bytes, it goes straight to them (with the
    // window's characters, where there is one), and the blocks take only
    // what stopped that: a few characters where a long run of those shows
    // the text is mostly them, else a block of Latin text. Blocks start
    // small in each step and double while they go through whole: a step
    // comes again after each character the encoding lacks, and text with
    // many of them (French in ISO-8859-2) decoded a whole block for each.
    static StepResult step(Form& form, bool, bool strict, const unsigned char* source,
                           uint32_t length, unsigned char* target, uint32_t capacity, bool,
                           bool* atSurrogate) {
        unsigned char block[2 * kFusedBlockUnits];
        uint32_t in = 0, out = 0;
        uint32_t grown = kFirstFusedBlock;
        for (;;) {
            uint32_t direct = 0, written = 0;
            if (form.keepsAscii) {
                direct = textKernels().narrowUtf8Window(source + in, length - in, form.window,
                                                        target + out, capacity - out, &written);
                in += direct;
                out += written;
            }
            if (in == length) return inputUsed(in, out);
            if (out == capacity) return outputFull(in, out);
            if (form.keepsAscii) {
                // Where the window stopped at a character the encoding lacks
                // (French in ISO-8859-2 meets one every few words), it is
                // said without decoding a block for the encoder to find it.
                const ShortSequence next = shortSequenceAt(source + in, length - in);
                if (next.length != 0 && form.encoder.bytes()[next.unit] == 0 &&
                    form.encoder.lacks(next.unit))
                    return unmappableAt(in, out, next.length, next.unit);
            }
            const uint32_t room = capacity - out;
            const uint32_t most =
                direct >= kIrregularBlock ? std::min(grown, kIrregularBlock) : grown;
            const uint32_t units = room < most ? (room < 2 ? 2 : room) : most;
            const StepResult decoded = decodeUtf8Units({true, atSurrogate, strict}, source + in,
                                                       length - in, block, 2 * units);
            const StepResult encoded =
                form.encoder.step(block, decoded.written, target + out, room, false);
            if (encoded.stop != Stop::kInputUsed) {
                const uint32_t at = in + utf8BytesOfUnits(source + in, encoded.read / 2);
                out += encoded.written;
                if (encoded.stop == Stop::kUnmappable)
                    return unmappableAt(at, out, utf8BytesOfUnits(source + at, encoded.length / 2),
                                        encoded.character);
                return encoded.stop == Stop::kOutputFull ? outputFull(at, out) : cutAtEnd(at, out);
            }
            in += decoded.read;
            out += encoded.written;
            if (decoded.stop == Stop::kOutputFull) {  // the block was full
                if (grown < kFusedBlockUnits) grown *= 2;
                continue;
            }
            StepResult result = decoded;  // the input used, or what stopped the UTF-8 step
            result.read = in;
            result.written = out;
            return result;
        }
    }
};

// Each byte's character as UTF-8, first byte lowest, with its length in the
// top byte, 0 for a byte without a character; and for bytes 0x80-0xFF the
// low bytes of their units, then the high bytes (FF FF for none), as the
// vector kernel reads them. None where bytes may pair.
void makeUtf8OfBytes(const TSingleByteToUnicodeConverter& decoder, uint32_t* utf8,
                     unsigned char* highUnits) {
    for (uint32_t byte = 0; byte < 256; ++byte) {
        const uint16_t unit = decoder.table().units[byte];
        unsigned char bytes[4] = {};
        const bool character = decoder.unitPerByte() && unit < 0xFFFD && !isSurrogate(unit);
        const uint32_t length = character ? writeUtf8Sequence(unit, bytes) : 0;
        utf8[byte] = length == 0 ? 0 : (bytes[0] | bytes[1] << 8 | bytes[2] << 16 | length << 24);
        if (byte < 0x80) continue;
        highUnits[byte - 0x80] = static_cast<unsigned char>(character ? unit : 0xFF);
        highUnits[byte] = static_cast<unsigned char>(character ? unit >> 8 : 0xFF);
    }
}

// The first byte from which on every byte is the unit of its own value (the
// Latin-1 letters of windows-1252 from 0xA0, of ISO-8859-15 from 0xBF), or
// 0x100 where byte 0xFF is not.
uint32_t firstOwnByteOf(const TSingleByteToUnicodeConverter& decoder) {
    uint32_t first = 0x100;
    while (first > 0x80 && decoder.unitPerByte() && decoder.table().units[first - 1] == first - 1)
        --first;
    return first;
}

// Bytes of one character each straight to UTF-8, in one pass over the text:
// the vector kernel first, where the set has one; then sixteen ASCII bytes
// are copied, other blocks of sixteen each written a byte at a time as four
// bytes of which only the character's count (no branch for its length:
// Cyrillic or Greek prose changes length every few bytes). Stops before a
// byte without a character, which the steps read.
void decodeSingleBytesToUtf8(const SingleByteDecoderForm& form, const unsigned char* source,
                             uint32_t length, uint32_t* in, unsigned char* target,
                             uint32_t capacity, uint32_t* out) {
    const uint32_t* utf8 = form.utf8;
    const bool keepsAscii = form.decoder.table().keepsAscii;
    uint32_t i = *in, o = *out;
    const auto kernel = textKernels().decodeBytesToUtf8;
    if (kernel != nullptr && keepsAscii) {
        uint32_t written = 0;
        i += kernel(form.highUnits, form.firstOwnByte, source + i, length - i, target + o,
                    capacity - o, &written);
        o += written;
    }
    // A block of sixteen makes 48 bytes at most, and the last store writes
    // four.
    while (length - i >= 16 && capacity - o >= 49) {
        uint64_t words[2];
        memcpy(words, source + i, sizeof words);
        if (keepsAscii && ((words[0] | words[1]) & 0x8080808080808080u) == 0) {
            memcpy(target + o, words, sizeof words);
            i += 16;
            o += 16;
            continue;
        }
        for (uint32_t k = 0; k < 16; ++k) {
            const uint32_t sequence = utf8[source[i]];
            if (sequence == 0) {
                *in = i;
                *out = o;
                return;
            }
            storeUnit32Ordered(target + o, sequence, false);
            o += sequence >> 24;
            ++i;
        }
    }
    for (; i < length; ++i) {
        const uint32_t sequence = utf8[source[i]];
        const uint32_t bytes = sequence >> 24;
        if (sequence == 0 || capacity - o < bytes) break;
        for (uint32_t b = 0; b < bytes; ++b)
            target[o + b] = static_cast<unsigned char>(sequence >> 8 * b);
        o += bytes;
    }
    *in = i;
    *out = o;
}

// Whether the byte is a character whose UTF-8 is longer than the room.
bool nextCharacterOverflows(const SingleByteDecoderForm& form, unsigned char byte, uint32_t room) {
    const uint32_t sequence = form.utf8[byte];
    return sequence != 0 && sequence >> 24 > room;
}

struct SingleByteToUtf8 {
    using Form = SingleByteDecoderForm;
    static const bool kStepsShortPastMalformed = false;
    enum : uint32_t { kToPivotFactor = 2, kFromPivotFactor = 4, kTerminatorWidth = 1 };
    static const NLS_Status kOutputFullStatus = NLS_RESULT_TRUNCATED;
    static bool swapped(const Form&) { return false; }
    static TConverterIdentity identity(const Form& form) {
        return {form.decoder.table().name, "UTF-8", 0, 4, 1};
    }
    static const char* from(const Form& form) { return form.decoder.table().name; }
    static const char* to(const Form&) { return "UTF-8"; }
    static TEncodingConverter* toPivot(const Form& form) {
        return form.index == kLatin1Index ? NEWLATIN1TOUNICODEENCODINGCONVERTER()
                                          : newSingleByteDecoder(form.index);
    }
    static bool olderCallsRunTheChain(const Form&) { return true; }
    static TEncodingConverter* fromPivot(const Form&) {
        return NEWUNICODETOUTF8ENCODINGCONVERTER();
    }
    static uint32_t replacement(const Form&, unsigned char* out) {
        return IntoUtf8::replacement(ByteOrder::kLittle, out);
    }
    static Written writeUnits(Form&, const uint16_t* units, uint32_t count, unsigned char* out,
                              uint32_t capacity, uint32_t* written) {
        return IntoUtf8::writeUnits(ByteOrder::kLittle, units, count, out, capacity, written);
    }

    // A unit makes a byte of UTF-8 at least: a block of as many units as
    // the room left fills the output or ends the input.
    static StepResult step(Form& form, bool, bool strict, const unsigned char* source,
                           uint32_t length, unsigned char* target, uint32_t capacity, bool textEnds,
                           bool*) {
        unsigned char block[2 * kFusedBlockUnits];
        uint32_t in = 0, out = 0;
        const bool direct = form.decoder.unitPerByte();
        for (;;) {
            if (direct) decodeSingleBytesToUtf8(form, source, length, &in, target, capacity, &out);
            if (in == length) return inputUsed(in, out);
            if (out == capacity ||
                (direct && nextCharacterOverflows(form, source[in], capacity - out)))
                return outputFull(in, out);
            const uint32_t room = capacity - out;
            // Where bytes go straight to UTF-8, the blocks take only what
            // stopped them: the end of the room, or a byte without a
            // character.
            const uint32_t most = direct ? kIrregularBlock : kFusedBlockUnits;
            const uint32_t units = room < most ? room : most;
            const StepResult decoded =
                form.decoder.step(source + in, length - in, block, 2 * units, textEnds);
            const StepResult encoded = encodeUtf8Units({false, nullptr, strict}, block,
                                                       decoded.written, target + out, room);
            if (encoded.stop != Stop::kInputUsed) {  // the output is full
                out += encoded.written;
                return outputFull(
                    in + bytesOfUnits(form, source + in, length - in, encoded.read / 2, textEnds),
                    out);
            }
            in += decoded.read;
            out += encoded.written;
            if (decoded.stop == Stop::kOutputFull) continue;  // the block was full
            StepResult result = decoded;  // the input used, or what stopped the decoder
            result.read = in;
            result.written = out;
            return result;
        }
    }

    // The bytes that made the first `units` units of `source`.
    static uint32_t bytesOfUnits(Form& form, const unsigned char* source, uint32_t length,
                                 uint32_t units, bool textEnds) {
        if (form.decoder.unitPerByte()) return units;
        unsigned char again[2 * kFusedBlockUnits];
        return form.decoder.step(source, length, again, 2 * units, textEnds).read;
    }
};

}  // namespace

TEncodingConverter* newUtf8ToUtf16(ByteOrder order) {
    return newStepConverter<TFormDirect<FromUtf8>>(order);
}

TEncodingConverter* newUtf16ToUtf8(ByteOrder order) {
    return newStepConverter<TFormDirect<ToUtf8>>(order);
}

TEncodingConverter* newUtf8ToUtf32(ByteOrder order) {
    return newStepConverter<TFormDirect<FromUtf8ToUtf32>>(order);
}

TEncodingConverter* newUtf32ToUtf8(ByteOrder order) {
    return newStepConverter<TFormDirect<FromUtf32ToUtf8>>(order);
}

namespace {

TEncodingConverter* fuseUtf8ToSingleByte(TUnicodeToSingleByteConverter encoder, uint32_t index) {
    const uint16_t questionMark = '?';
    unsigned char bytes[32] = {};
    storeUnit(bytes, questionMark);
    unsigned char mark = '?';
    encoder.step(bytes, 2, &mark, 1, false);
    return newStepConverter<TFormDirect<Utf8ToSingleByte>>(
        SingleByteEncoderForm{encoder, index, mark, keepsAsciiBytes(encoder), windowOf(encoder)});
}

TEncodingConverter* fuseSingleByteToUtf8(const TSingleByteToUnicodeConverter& decoder,
                                         uint32_t index) {
    SingleByteDecoderForm form{decoder, index, {}, {}, firstOwnByteOf(decoder)};
    makeUtf8OfBytes(decoder, form.utf8, form.highUnits);
    return newStepConverter<TFormDirect<SingleByteToUtf8>>(form);
}

uint32_t indexOf(const SingleByteTable& table) {
    return static_cast<uint32_t>(&table - kSingleByteTables);
}

}  // namespace

TEncodingConverter* fuseChain(TEncodingConverter* first, TEncodingConverter* second) {
    TEncodingConverter* fused = nullptr;
    if (isUtf8Decoder(first)) {
        if (typeid(*second) == typeid(TUnicodeToSingleByteConverter)) {
            const auto* encoder = static_cast<TUnicodeToSingleByteConverter*>(second);
            fused = fuseUtf8ToSingleByte(*encoder, indexOf(encoder->table()));
        } else if (isLatin1Encoder(second) && latin1BytesOfUnits() != nullptr) {
            fused = fuseUtf8ToSingleByte(
                TUnicodeToSingleByteConverter(kLatin1Table, latin1BytesOfUnits()), kLatin1Index);
        }
    } else if (isUtf8Encoder(second)) {
        if (typeid(*first) == typeid(TSingleByteToUnicodeConverter)) {
            const auto* decoder = static_cast<TSingleByteToUnicodeConverter*>(first);
            fused = fuseSingleByteToUtf8(*decoder, indexOf(decoder->table()));
        } else if (isLatin1Decoder(first)) {
            fused = fuseSingleByteToUtf8(TSingleByteToUnicodeConverter(kLatin1Table), kLatin1Index);
        }
    }
    if (fused == nullptr) return nullptr;
    first->ReleaseEncodingConverter();
    second->ReleaseEncodingConverter();
    return fused;
}

}  // namespace velta
