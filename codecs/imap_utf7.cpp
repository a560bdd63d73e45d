// IMAP modified UTF-7 (RFC 3501, section 5.1.3) to and from UCS-2: the
// mailbox-name form of UTF-7. Printable ASCII but "&" stands for itself, "&"
// is written "&-", and everything else travels in base64 runs (alphabet ending
// in "+,") opened by "&" and always closed by "-". Between calls each
// converter keeps exactly the state of a run that a full output interrupted;
// the end of a call's input ends any run, unless more input follows
// (SetInputEnds(false)).
#include <new>

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

class TModifiedUTF7ToUnicodeConverter : public TEncodingConverter, public TStreamConverter {
public:
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    TModifiedUTF7ToUnicodeConverter()
        : TEncodingConverter(kImapName, kUcs2Name, nullptr, nullptr, nullptr, kImapCsid, 6, nullptr,
                             nullptr, 0) {
        modifiedUtf7Alphabet();
        fStatus = NLS_SUCCESS;
    }
    ~TModifiedUTF7ToUnicodeConverter() override = default;
    void Reset() override { fState = Base64DecoderState(); }
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;

private:
    Base64DecoderState fState;  // fState.shifted: inside a base64 run
};

class TUnicodeToModifiedUTF7Converter : public TEncodingConverter, public TStreamConverter {
public:
    TUnicodeToModifiedUTF7Converter()
        : TEncodingConverter(kUcs2Name, kImapName, nullptr, nullptr, nullptr, kImapCsid, 6, nullptr,
                             nullptr, 1) {
        modifiedUtf7Alphabet();
        fStatus = NLS_SUCCESS;
    }
    ~TUnicodeToModifiedUTF7Converter() override = default;
    void Reset() override {
        fShifted = false;
        fBuffer.clear();
        fPendingCount = 0;
    }
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;

private:
    bool fShifted = false;  // a base64 run is open
    BitBuffer fBuffer;
    unsigned char fPending[ByteOutput::kMaxPending] = {};
    uint32_t fPendingCount = 0;
};

NLS_Status TModifiedUTF7ToUnicodeConverter::Convert(unsigned char* target, uint32_t* targetLength,
                                                    uint32_t targetCapacity,
                                                    const unsigned char* source,
                                                    uint32_t sourceLength,
                                                    uint32_t* sourceConsumed) {
    if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed))
        return NLS_INVALID_PARAMETER;
    return decodeUtf7Text(Utf7Form{modifiedUtf7Alphabet(), '&', true}, *this, fState, target,
                          targetLength, targetCapacity, source, sourceLength, sourceConsumed);
}

// "&", "&-" and "-&-" are written only with a byte to spare after them;
// without it the call stops before the unit (-1303). Other bytes fill the
// output to the last byte, and what does not fit is kept for the next call.
NLS_Status TUnicodeToModifiedUTF7Converter::Convert(unsigned char* target, uint32_t* targetLength,
                                                    uint32_t targetCapacity,
                                                    const unsigned char* source,
                                                    uint32_t sourceLength,
                                                    uint32_t* sourceConsumed) {
    if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed))
        return NLS_INVALID_PARAMETER;
    const Base64Alphabet& alphabet = modifiedUtf7Alphabet();
    ByteOutput out(target, targetCapacity, fPending, &fPendingCount);
    const uint32_t units = sourceLength / 2;
    uint32_t position = 0;
    NLS_Status status = NLS_SUCCESS;
    auto putWithSpareByte = [&out](const char* bytes, uint32_t count) {
        if (out.full() || out.room() < count + 1) return false;
        for (uint32_t i = 0; i < count; ++i) out.put(static_cast<unsigned char>(bytes[i]));
        return true;
    };
    bool stopped = !out.flushPending();
    for (; !stopped && position < units; ++position) {
        if (out.full()) {
            stopped = true;
            break;
        }
        if (!fShifted) {
            position += copyDirectRun(source + 2 * position, units - position, out, mustShift);
            if (position == units) break;
        }
        // "&" inside a run closes it, so it never joins a group.
        if (fShifted &&
            encodeAlignedGroup(alphabet, fBuffer, source + 2 * position, units - position, out,
                               [](uint16_t unit) { return mustShift(unit) && unit != '&'; })) {
            position += kGroupUnits - 1;
            continue;
        }
        const uint16_t r = loadUnit(source + 2 * position);
        const bool needShift = mustShift(r);
        if (needShift && !fShifted) {
            if (!putWithSpareByte(r == '&' ? "&-" : "&", r == '&' ? 2 : 1)) {
                stopped = true;
                break;
            }
            if (r == '&') continue;
            fShifted = true;
        } else if (needShift && r == '&') {
            fBuffer.padToSextet();
            putSextets(fBuffer, alphabet, out);
            if (!putWithSpareByte("-&-", 3)) {
                stopped = true;
                break;
            }
            fShifted = false;
            continue;
        }
        if (fShifted) {
            if (needShift)
                fBuffer.add(r, 16);
            else
                fBuffer.padToSextet();
            putSextets(fBuffer, alphabet, out);
            if (needShift) continue;
            out.put('-');
            fShifted = false;
        }
        out.put(static_cast<unsigned char>(r));
    }
    if (!stopped && fShifted && InputEnds()) {
        fBuffer.padToSextet();
        putSextets(fBuffer, alphabet, out);
        out.put('-');
        fShifted = false;
    }
    if (stopped) status = NLS_OUTPUT_FULL;
    if (status == NLS_SUCCESS && 2 * position != sourceLength) status = NLS_RESULT_TRUNCATED;
    uint32_t end = out.written();
    *targetLength = end;
    *sourceConsumed = 2 * position;
    if (out.full()) return NLS_RESULT_TRUNCATED;
    // An interrupted run is shown closed; the "-" is not counted, and the next
    // call goes on with the run.
    if (fShifted && end < targetCapacity) target[end++] = '-';
    if (!appendByteTerminator(target, end, targetCapacity)) return NLS_RESULT_TRUNCATED;
    return status;
}

}  // namespace

TEncodingConverter* NEWMODIFIEDUTF7TOUNICODEENCODINGCONVERTER() {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) TModifiedUTF7ToUnicodeConverter();
}

TEncodingConverter* NEWUNICODETOMODIFIEDUTF7ENCODINGCONVERTER() {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) TUnicodeToModifiedUTF7Converter();
}
