// IMAP modified UTF-7 (RFC 3501, section 5.1.3) to and from UCS-2: the
// mailbox-name form of UTF-7. Printable ASCII but "&" stands for itself, "&"
// is written "&-", and everything else travels in base64 runs (alphabet ending
// in "+,") opened by "&" and always closed by "-". Between calls each
// converter keeps exactly the state of a run that a full output interrupted;
// the end of a call's input ends any run, unless more input follows
// (SetInputEnds(false)).
#include "codecs/base64_run.h"
#include "velta/factories.h"

using namespace velta;

namespace {

const char kImapName[] = "IMAP-MODIFIED-UTF-7";
const char kUcs2Name[] = NLS_UCS2_NAME;
const unsigned short kImapCsid = 290;

inline bool mustShift(uint16_t unit) {
    return unit < 0x20 || unit >= 0x7F || unit == '&';
}

const TConverterIdentity kDecoder = {kImapName, kUcs2Name, kImapCsid, 6, 0};
const TConverterIdentity kEncoder = {kUcs2Name, kImapName, kImapCsid, 6, 1};

struct ModifiedUtf7Decoding {
    static TConverterIdentity identity() { return kDecoder; }
    static Utf7Form form() { return Utf7Form{modifiedUtf7Alphabet(), '&', true}; }
};

// "&", "&-" and "-&-" are written only with a byte to spare after them;
// without it the call stops before the unit (-1303). Other bytes fill the
// output to the last byte, and what does not fit is kept for the next call.
// A final odd byte waits unread with status 2, as it always has.
class TUnicodeToModifiedUTF7Converter : public TStepShell<TUnicodeToModifiedUTF7Converter> {
public:
    TUnicodeToModifiedUTF7Converter() : TStepShell(kEncoder), fAlphabet(&modifiedUtf7Alphabet()) {}
    void Reset() override { fState = Utf7EncoderState(); }
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds);
    void saveState(StepState* state) const { saveStepState(fState, state); }
    void restoreState(const StepState& state) { restoreStepState(&fState, state); }
    NLS_Status outputFullStatus() const { return NLS_OUTPUT_FULL; }
    NLS_Status statusOfCut(uint32_t) const { return NLS_RESULT_TRUNCATED; }

private:
    bool encodeUnit(uint16_t unit, ByteOutput& out);
    void closeRun(ByteOutput& out);

    Utf7EncoderState fState;
    const Base64Alphabet* fAlphabet;
};

// Bytes that are written only with a byte to spare after them.
bool putWithSpareByte(ByteOutput& out, const char* bytes, uint32_t count) {
    if (out.full() || out.room() < count + 1) return false;
    for (uint32_t i = 0; i < count; ++i) out.put(static_cast<unsigned char>(bytes[i]));
    return true;
}

void TUnicodeToModifiedUTF7Converter::closeRun(ByteOutput& out) {
    fState.buffer.padToSextet();
    putSextets(fState.buffer, *fAlphabet, out);
}

// A unit that no direct run or aligned group took; false when the output
// cannot take the "&", "&-" or "-&-" it needs.
bool TUnicodeToModifiedUTF7Converter::encodeUnit(uint16_t unit, ByteOutput& out) {
    const bool needShift = mustShift(unit);
    if (needShift && !fState.shifted) {
        if (!putWithSpareByte(out, unit == '&' ? "&-" : "&", unit == '&' ? 2 : 1)) return false;
        if (unit == '&') return true;
        fState.shifted = true;
    } else if (needShift && unit == '&') {
        closeRun(out);
        if (!putWithSpareByte(out, "-&-", 3)) return false;
        fState.shifted = false;
        return true;
    }
    if (fState.shifted) {
        if (!needShift) {
            closeRun(out);
            out.put('-');
            fState.shifted = false;
        } else {
            fState.buffer.add(unit, 16);
            putSextets(fState.buffer, *fAlphabet, out);
            return true;
        }
    }
    out.put(static_cast<unsigned char>(unit));
    return true;
}

StepResult TUnicodeToModifiedUTF7Converter::step(const unsigned char* source, uint32_t sourceLength,
                                                 unsigned char* target, uint32_t targetCapacity,
                                                 bool textEnds) {
    ByteOutput out(target, targetCapacity, fState.pending, &fState.pendingCount);
    const uint32_t units = sourceLength / 2;
    uint32_t position = 0;
    // "&" inside a run closes it, so it never joins a group.
    const auto joinsGroup = [](uint16_t unit) { return mustShift(unit) && unit != '&'; };
    const Base64Alphabet& alphabet = *fAlphabet;
    const auto encodeOne = [&](uint16_t unit) { return encodeUnit(unit, out); };
    // A run always ends in "-"; "&" is written "&-", never inside a run.
    const auto shortRun = [&](const unsigned char* from, uint32_t left) {
        return encodeShortRun(
            alphabet, '&', from, left, out, joinsGroup, [](uint16_t unit) { return unit != '&'; },
            [](uint16_t) { return true; });
    };
    // Every printable but "&" stands for itself (RFC 3501, section 5.1.3).
    const Utf7EncoderForm form = {{'~', '&', '&'}, false, '&', false, true};
    if (!out.flushPending() || !encodeUnits(alphabet, fState, source, units, position, out,
                                            mustShift, form, joinsGroup, shortRun, encodeOne))
        return outputFull(2 * position, out.written());
    if (fState.shifted && textEnds) {
        closeRun(out);
        out.put('-');
        fState.shifted = false;
    }
    if (out.full()) return outputFull(2 * position, out.written());
    if (2 * position != sourceLength) return cutAtEnd(2 * position, out.written());
    return inputUsed(2 * position, out.written());
}

// A run still open at the end of a call is shown closed: a "-" after the
// output, not counted, where a byte is free; the next call goes on with
// the run.
NLS_Status TUnicodeToModifiedUTF7Converter::Convert(unsigned char* target, uint32_t* targetLength,
                                                    uint32_t targetCapacity,
                                                    const unsigned char* source,
                                                    uint32_t sourceLength,
                                                    uint32_t* sourceConsumed) {
    const NLS_Status status = TStepShell::Convert(target, targetLength, targetCapacity, source,
                                                  sourceLength, sourceConsumed);
    if (status == NLS_INVALID_PARAMETER || !fState.shifted || fState.pendingCount != 0 ||
        *targetLength >= targetCapacity)
        return status;
    target[*targetLength] = '-';
    if (targetCapacity - *targetLength < 2) return NLS_RESULT_TRUNCATED;
    target[*targetLength + 1] = 0;
    return status;
}

}  // namespace

TEncodingConverter* NEWMODIFIEDUTF7TOUNICODEENCODINGCONVERTER() {
    return newStepConverter<TUtf7FormDecoder<ModifiedUtf7Decoding>>();
}

TEncodingConverter* NEWUNICODETOMODIFIEDUTF7ENCODINGCONVERTER() {
    return newStepConverter<TUnicodeToModifiedUTF7Converter>();
}
