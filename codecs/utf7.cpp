// UTF-7 (RFC 2152) to and from UCS-2. Characters of the direct, optional
// direct and space sets stand for themselves; everything else travels in
// base64 runs opened by "+" and closed by "-" or any byte outside the base64
// alphabet. Between calls each converter keeps exactly the state of a run that
// a full output interrupted; the end of a call's input ends any run, unless
// more input follows (SetInputEnds(false)).
#include <string.h>

#include <initializer_list>
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

const TConverterIdentity kDecoder = {kUtf7Name, kUcs2Name, kUtf7DecoderCsid, 2, 0};
const TConverterIdentity kEncoder = {kUcs2Name, kUtf7Name, kUtf7EncoderCsid, 6, 1};

struct Utf7Decoding {
    static TConverterIdentity identity() { return kDecoder; }
    static Utf7Form form() { return Utf7Form{utf7Alphabet(), '+', false}; }
};

// A final odd byte waits unread with status 2, as it always has.
class TUnicodeToUTF7Converter : public TStepShell<TUnicodeToUTF7Converter> {
public:
    TUnicodeToUTF7Converter() : TStepShell(kEncoder) {
        utf7Alphabet();
        mustShiftTable();
    }
    void Reset() override { fState = Utf7EncoderState(); }
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds);
    void saveState(StepState* state) const { saveStepState(fState, state); }
    void restoreState(const StepState& state) { restoreStepState(&fState, state); }
    NLS_Status statusOfCut(uint32_t) const { return NLS_RESULT_TRUNCATED; }

private:
    void encodeUnit(const Base64Alphabet& alphabet, uint16_t unit, ByteOutput& out);

    Utf7EncoderState fState;
};

bool isBase64DigitOrHyphen(const Base64Alphabet& alphabet, uint16_t unit) {
    return unit == '-' || (unit < 128 && alphabet.index[unit] >= 0);
}

// A unit that no direct run or aligned group took: "+" opens a run before a
// unit that must shift ("+-" for "+" itself); a direct unit closes an open
// run, with "-" where the unit could be read as part of it.
void TUnicodeToUTF7Converter::encodeUnit(const Base64Alphabet& alphabet, uint16_t unit,
                                         ByteOutput& out) {
    const bool needShift = mustShift(mustShiftTable(), unit);
    if (needShift && !fState.shifted) {
        out.put('+');
        if (unit == '+') {
            out.put('-');
            return;
        }
        fState.shifted = true;
    }
    if (fState.shifted) {
        if (needShift)
            fState.buffer.add(unit, 16);
        else
            fState.buffer.padToSextet();
        putSextets(fState.buffer, alphabet, out);
        if (needShift) return;
        if (isBase64DigitOrHyphen(alphabet, unit)) out.put('-');
        fState.shifted = false;
    }
    out.put(static_cast<unsigned char>(unit));
}

// Every unit is read whole: what its bytes do not fit into the output is
// kept and delivered first by the next call, which also goes on with an open
// run without a new "+". The end of the text closes a run without "-".
StepResult TUnicodeToUTF7Converter::step(const unsigned char* source, uint32_t sourceLength,
                                         unsigned char* target, uint32_t targetCapacity,
                                         bool textEnds) {
    const MustShiftTable& table = mustShiftTable();
    const Base64Alphabet& alphabet = utf7Alphabet();
    const auto shifts = [&table](uint16_t unit) { return mustShift(table, unit); };
    ByteOutput out(target, targetCapacity, fState.pending, &fState.pendingCount);
    const uint32_t units = sourceLength / 2;
    uint32_t position = 0;
    const auto encodeOne = [&](uint16_t unit) {
        encodeUnit(alphabet, unit, out);
        return true;
    };
    // "+" alone is written "+-", never opening a run.
    const auto shortRun = [&](const unsigned char* from, uint32_t left) {
        return encodeShortRun(
            alphabet, '+', from, left, out, shifts, [](uint16_t unit) { return unit != '+'; },
            [&alphabet](uint16_t unit) { return isBase64DigitOrHyphen(alphabet, unit); });
    };
    // Every printable but "+", "\\" and "~" stands for itself (RFC 2152 sets D and O).
    const Utf7EncoderForm form = {{'}', '+', '\\'}, true, '+', true, false};
    if (!out.flushPending() || !encodeUnits(alphabet, fState, source, units, position, out, shifts,
                                            form, shifts, shortRun, encodeOne))
        return outputFull(2 * position, out.written());
    if (fState.shifted && textEnds) {
        fState.buffer.padToSextet();
        putSextets(fState.buffer, alphabet, out);
        fState.shifted = false;
    }
    if (out.full()) return outputFull(2 * position, out.written());
    if (2 * position != sourceLength) return cutAtEnd(2 * position, out.written());
    return inputUsed(2 * position, out.written());
}

}  // namespace

TEncodingConverter* NEWUTF7TOUNICODEENCODINGCONVERTER() {
    return newStepConverter<TUtf7FormDecoder<Utf7Decoding>>();
}

TEncodingConverter* NEWUNICODETOUTF7ENCODINGCONVERTER() {
    return newStepConverter<TUnicodeToUTF7Converter>();
}
