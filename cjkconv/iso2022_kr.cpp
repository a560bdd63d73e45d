// ISO-2022-KR (RFC 1557) to and from UCS-2: ASCII, and KS X 1001 between
// SO and SI, its bytes without the high bits, after the designation
// ESC $ ) C. The encoder writes the designation before the first character
// of a text and returns to ASCII (SI) before every ASCII character and
// where the text ends, as glibc and ICU do. The decoder takes the
// designation anywhere; between SO and SI only pairs of 0x21-0x7E are
// characters (a line end there is malformed, as in glibc and ICU).
#include "cjkconv/euc_kr.h"
#include "common/step_shell.h"

namespace cjk {

namespace {

using velta::StepResult;
using velta::StepState;

const char kIso2022KrName[] = "ISO-2022-KR";
const unsigned char kDesignation[] = {0x1B, 0x24, 0x29, 0x43};  // ESC $ ) C
const unsigned char kShiftOut = 0x0E;
const unsigned char kShiftIn = 0x0F;
const unsigned char kEscape = 0x1B;

// How many bytes of the designation the input starts with.
uint32_t designationBytes(const unsigned char* in, uint32_t length) {
    uint32_t matched = 0;
    while (matched < sizeof kDesignation && matched < length &&
           in[matched] == kDesignation[matched])
        ++matched;
    return matched;
}

bool isShiftedByte(unsigned char b) {
    return between(b, 0x21, 0x7E);
}

class TIso2022KrDecoder : public velta::TStepShell<TIso2022KrDecoder> {
public:
    TIso2022KrDecoder() : TStepShell({kIso2022KrName, NLS_UCS2_NAME, 0, 2, 0}) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fShifted = false; }
    void saveState(StepState* state) const { velta::saveStepState(fShifted, state); }
    void restoreState(const StepState& state) { velta::restoreStepState(&fShifted, state); }

    StepResult step(const unsigned char* in, uint32_t length, unsigned char* out, uint32_t capacity,
                    bool) {
        uint32_t i = 0, o = 0;
        while (i < length) {
            const unsigned char b = in[i];
            if (b == kEscape) {
                const uint32_t matched = designationBytes(in + i, length - i);
                if (matched == sizeof kDesignation) {
                    i += matched;
                    continue;
                }
                if (matched == length - i) return velta::cutAtEnd(i, o);
                return velta::malformedAt(i, o, matched);
            }
            if (b == kShiftOut || b == kShiftIn) {
                fShifted = b == kShiftOut;
                ++i;
                continue;
            }
            if (capacity - o < 2) return velta::outputFull(i, o);
            if (!fShifted) {
                if (b >= 0x80) return velta::malformedAt(i, o, 1);
                velta::storeUnit(out + o, b);
                o += 2;
                ++i;
                continue;
            }
            if (!isShiftedByte(b)) return velta::malformedAt(i, o, 1);
            if (length - i < 2) return velta::cutAtEnd(i, o);
            if (!isShiftedByte(in[i + 1])) return velta::malformedAt(i, o, 1);
            const uint32_t character = eucKrCharacter(b | 0x80u, in[i + 1] | 0x80u);
            if (character == 0) return velta::malformedAt(i, o, 2);
            velta::storeUnit(out + o, static_cast<uint16_t>(character));
            o += 2;
            i += 2;
        }
        return velta::inputUsed(i, o);
    }

private:
    bool fShifted = false;
};

class TIso2022KrEncoder : public velta::TStepShell<TIso2022KrEncoder> {
public:
    TIso2022KrEncoder()
        : TStepShell({NLS_UCS2_NAME, kIso2022KrName, 0, 4, 1}), fCodes(&EucKrLayout::codes()) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fState = State(); }
    void saveState(StepState* state) const { velta::saveStepState(fState, state); }
    void restoreState(const StepState& state) { velta::restoreStepState(&fState, state); }

    StepResult step(const unsigned char* in, uint32_t length, unsigned char* out, uint32_t capacity,
                    bool textEnds) {
        const uint32_t units = length / 2;
        uint32_t p = 0, o = 0;
        for (; p < units; ++p) {
            const uint16_t unit = velta::loadUnit(in + 2 * p);
            unsigned char bytes[2] = {0, 0};
            const bool ascii =
                unit < 0x80 && unit != kShiftOut && unit != kShiftIn && unit != kEscape;
            if (!ascii && !shiftedBytes(unit, bytes)) return velta::lackedUnitAt(in, units, p, o);
            const uint32_t needed =
                (fState.designated ? 0 : 4) + (ascii ? 1 : 2) + (ascii == fState.shifted ? 1 : 0);
            if (capacity - o < needed) return velta::outputFull(2 * p, o);
            o += designate(out + o);
            if (ascii) {
                o += shift(out + o, false);
                out[o++] = static_cast<unsigned char>(unit);
            } else {
                o += shift(out + o, true);
                out[o++] = bytes[0] & 0x7F;
                out[o++] = bytes[1] & 0x7F;
            }
        }
        if (2 * p != length) return velta::cutAtEnd(2 * p, o);
        if (textEnds) {
            if (fState.shifted && capacity - o < 1) return velta::outputFull(2 * p, o);
            o += shift(out + o, false);
            fState.designated = false;  // the next text has its own designation
        }
        return velta::inputUsed(2 * p, o);
    }

private:
    struct State {
        bool designated = false;
        bool shifted = false;
    };

    // The KS X 1001 bytes of a unit (with their high bits), false for none.
    bool shiftedBytes(uint16_t unit, unsigned char* bytes) const {
        return fCodes->write(unit, bytes) == 2 && bytes[0] >= 0xA1 && bytes[1] >= 0xA1;
    }

    uint32_t designate(unsigned char* out) {
        if (fState.designated) return 0;
        fState.designated = true;
        memcpy(out, kDesignation, sizeof kDesignation);
        return sizeof kDesignation;
    }

    uint32_t shift(unsigned char* out, bool shifted) {
        if (fState.shifted == shifted) return 0;
        fState.shifted = shifted;
        out[0] = shifted ? kShiftOut : kShiftIn;
        return 1;
    }

    const TwoByteCodes* fCodes;
    State fState;
};

}  // namespace

}  // namespace cjk

CJKCONV_EXPORT TEncodingConverter* NEWISO2022KRTOUNICODE() {
    return cjk::makeConverter<cjk::TIso2022KrDecoder>();
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOISO2022KR() {
    return cjk::makeConverter<cjk::TIso2022KrEncoder>();
}
