// UTF-7 (RFC 2152) to and from UCS-2. Characters of the direct, optional
// direct and space sets stand for themselves; everything else travels in
// base64 runs opened by "+" and closed by "-" or any byte outside the base64
// alphabet. Between calls each converter keeps exactly the state of a run that
// a full output interrupted; the end of a call's input ends any run, unless
// more input follows (SetInputEnds(false)).
#include <string.h>

#include <initializer_list>
#include <new>

#include "codecs/base64_run.h"
#include "velta/factories.h"

using namespace velta;

namespace {

const char kUtf7Name[] = "UNICODE-1-1-UTF-7";
const char kUcs2Name[] = NLS_UCS2_NAME;
const unsigned short kUtf7DecoderCsid = 547;
const unsigned short kUtf7EncoderCsid = 290;

// 1 for the codes 0..127 that must travel in base64: everything but the
// direct characters, the optional direct characters and the spaces. Backspace
// is no space of RFC 2152 (rule 3): strict decoders reject it written
// directly, so it travels in base64 too; the decoder accepts it either way.
struct MustShiftTable {
    uint8_t mustShift[128];
    MustShiftTable() {
        static const char kDirect[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789'(),-./:?";
        static const char kSpaces[] = " \t\r\n";
        static const char kOptionalDirect[] = "!\"#$%&*;<=>@[]^_`{|}";
        memset(mustShift, 1, sizeof mustShift);
        for (const char* set : {kDirect, kSpaces, kOptionalDirect})
            for (const char* c = set; *c != 0; ++c) mustShift[static_cast<unsigned char>(*c)] = 0;
    }
};

const MustShiftTable& mustShiftTable() {
    static const MustShiftTable table;
    return table;
}

inline bool mustShift(const MustShiftTable& table, uint16_t unit) {
    return unit > 0x7F || table.mustShift[unit];
}

class TUTF7ToUnicodeConverter : public TEncodingConverter, public TStreamConverter {
public:
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    TUTF7ToUnicodeConverter()
        : TEncodingConverter(kUtf7Name, kUcs2Name, nullptr, nullptr, nullptr, kUtf7DecoderCsid, 2,
                             nullptr, nullptr, 0) {
        utf7Alphabet();
        fStatus = NLS_SUCCESS;
    }
    ~TUTF7ToUnicodeConverter() override = default;
    void Reset() override { fState = Base64DecoderState(); }
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;

private:
    Base64DecoderState fState;
};

class TUnicodeToUTF7Converter : public TEncodingConverter, public TStreamConverter {
public:
    TUnicodeToUTF7Converter()
        : TEncodingConverter(kUcs2Name, kUtf7Name, nullptr, nullptr, nullptr, kUtf7EncoderCsid, 6,
                             nullptr, nullptr, 1) {
        utf7Alphabet();
        mustShiftTable();
        fStatus = NLS_SUCCESS;
    }
    ~TUnicodeToUTF7Converter() override = default;
    void Reset() override {
        fShifted = false;
        fBuffer.clear();
        fPendingCount = 0;
    }
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;

private:
    bool fShifted = false;
    BitBuffer fBuffer;
    unsigned char fPending[ByteOutput::kMaxPending] = {};
    uint32_t fPendingCount = 0;
};

NLS_Status TUTF7ToUnicodeConverter::Convert(unsigned char* target, uint32_t* targetLength,
                                            uint32_t targetCapacity, const unsigned char* source,
                                            uint32_t sourceLength, uint32_t* sourceConsumed) {
    if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed))
        return NLS_INVALID_PARAMETER;
    return decodeUtf7Text(Utf7Form{utf7Alphabet(), '+', false}, *this, fState, target, targetLength,
                          targetCapacity, source, sourceLength, sourceConsumed);
}

bool isBase64DigitOrHyphen(uint16_t unit) {
    return unit == '-' || (unit < 128 && utf7Alphabet().index[unit] >= 0);
}

// Every unit is consumed whole: what its bytes do not fit into the output is
// kept and delivered first by the next call, which also goes on with an open
// run without a new "+". The end of the input closes a run without "-".
NLS_Status TUnicodeToUTF7Converter::Convert(unsigned char* target, uint32_t* targetLength,
                                            uint32_t targetCapacity, const unsigned char* source,
                                            uint32_t sourceLength, uint32_t* sourceConsumed) {
    if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed))
        return NLS_INVALID_PARAMETER;
    const Base64Alphabet& alphabet = utf7Alphabet();
    const MustShiftTable& table = mustShiftTable();
    ByteOutput out(target, targetCapacity, fPending, &fPendingCount);
    const uint32_t units = sourceLength / 2;
    uint32_t position = 0;
    NLS_Status status = NLS_SUCCESS;
    if (out.flushPending()) {
        for (; position < units; ++position) {
            if (out.full()) {
                status = NLS_OUTPUT_FULL;
                break;
            }
            if (!fShifted) {
                position +=
                    copyDirectRun(source + 2 * position, units - position, out,
                                  [&table](uint16_t unit) { return mustShift(table, unit); });
                if (position == units) break;
            }
            if (fShifted &&
                encodeAlignedGroup(alphabet, fBuffer, source + 2 * position, units - position, out,
                                   [&table](uint16_t unit) { return mustShift(table, unit); })) {
                position += kGroupUnits - 1;
                continue;
            }
            const uint16_t r = loadUnit(source + 2 * position);
            const bool needShift = mustShift(table, r);
            if (needShift && !fShifted) {
                out.put('+');
                if (r == '+') {
                    out.put('-');
                    continue;
                }
                fShifted = true;
            }
            if (fShifted) {
                if (needShift)
                    fBuffer.add(r, 16);
                else
                    fBuffer.padToSextet();
                putSextets(fBuffer, alphabet, out);
                if (needShift) continue;
                if (isBase64DigitOrHyphen(r)) out.put('-');
                fShifted = false;
            }
            out.put(static_cast<unsigned char>(r));
        }
        if (position == units && fShifted && InputEnds()) {
            fBuffer.padToSextet();
            putSextets(fBuffer, alphabet, out);
            fShifted = false;
        }
    } else {
        status = NLS_OUTPUT_FULL;
    }
    if (status == NLS_SUCCESS && 2 * position != sourceLength) status = NLS_RESULT_TRUNCATED;
    *targetLength = out.written();
    *sourceConsumed = 2 * position;
    if (out.full() || !appendByteTerminator(target, out.written(), targetCapacity))
        return NLS_RESULT_TRUNCATED;
    return status;
}

}  // namespace

TEncodingConverter* NEWUTF7TOUNICODEENCODINGCONVERTER() {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) TUTF7ToUnicodeConverter();
}

TEncodingConverter* NEWUNICODETOUTF7ENCODINGCONVERTER() {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) TUnicodeToUTF7Converter();
}
