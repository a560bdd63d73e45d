// HZ-GB-2312 (RFC 1843) to and from UCS-2: ASCII, and GB 2312 between "~{"
// and "~}", its bytes without the high bits; "~~" is "~" and "~" before a
// line end joins the lines. The encoder returns to ASCII before every ASCII
// character and where the text ends, and writes "~" as "~~", as Python's
// hz codec does (ICU keeps "~~" inside GB mode and leaves the last run
// open). Between "~{" and "~}" a byte that cannot start a pair (a line end
// among them) is malformed, as in ICU; a lead whose second byte is not in
// 0x21-0x7E is malformed alone and that byte is read again.
#include "cjkconv/gb2312.h"
#include "common/step_shell.h"

namespace cjk {

namespace {

using velta::StepResult;
using velta::StepState;

const char kHzName[] = "HZ-GB-2312";

bool isGbByte(unsigned char b) {
    return between(b, 0x21, 0x7E);
}

class THzDecoder : public velta::TStepShell<THzDecoder> {
public:
    THzDecoder() : TStepShell({kHzName, NLS_UCS2_NAME, 0, 2, 0}) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fGb = false; }
    void saveState(StepState* state) const { velta::saveStepState(fGb, state); }
    void restoreState(const StepState& state) { velta::restoreStepState(&fGb, state); }

    StepResult step(const unsigned char* in, uint32_t length, unsigned char* out, uint32_t capacity,
                    bool) {
        uint32_t i = 0, o = 0;
        while (i < length) {
            const unsigned char b = in[i];
            if (b == '~') {
                if (length - i < 2) return velta::cutAtEnd(i, o);
                const unsigned char next = in[i + 1];
                if (next == '{' || next == '}') {
                    fGb = next == '{';
                    i += 2;
                    continue;
                }
                if (next == '\n') {
                    i += 2;
                    continue;
                }
                if (next != '~') return velta::malformedAt(i, o, 1);
            }
            if (capacity - o < 2) return velta::outputFull(i, o);
            if (b == '~') {
                velta::storeUnit(out + o, '~');
                o += 2;
                i += 2;
                continue;
            }
            if (!fGb) {
                if (b >= 0x80) return velta::malformedAt(i, o, 1);
                velta::storeUnit(out + o, b);
                o += 2;
                ++i;
                continue;
            }
            if (!isGbByte(b)) return velta::malformedAt(i, o, 1);
            if (length - i < 2) return velta::cutAtEnd(i, o);
            if (!isGbByte(in[i + 1])) return velta::malformedAt(i, o, 1);
            const uint32_t character = gb2312Character(b | 0x80u, in[i + 1] | 0x80u);
            if (character == 0) return velta::malformedAt(i, o, 2);
            velta::storeUnit(out + o, static_cast<uint16_t>(character));
            o += 2;
            i += 2;
        }
        return velta::inputUsed(i, o);
    }

private:
    bool fGb = false;
};

class THzEncoder : public velta::TStepShell<THzEncoder> {
public:
    THzEncoder() : TStepShell({NLS_UCS2_NAME, kHzName, 0, 3, 1}), fCodes(&Gb2312Layout::codes()) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fGb = false; }
    void saveState(StepState* state) const { velta::saveStepState(fGb, state); }
    void restoreState(const StepState& state) { velta::restoreStepState(&fGb, state); }

    StepResult step(const unsigned char* in, uint32_t length, unsigned char* out, uint32_t capacity,
                    bool textEnds) {
        const uint32_t units = length / 2;
        uint32_t p = 0, o = 0;
        for (; p < units; ++p) {
            const uint16_t unit = velta::loadUnit(in + 2 * p);
            const bool ascii = unit < 0x80;
            unsigned char bytes[2] = {0, 0};
            if (!ascii && fCodes->write(unit, bytes) != 2)
                return velta::lackedUnitAt(in, units, p, o);
            const uint32_t needed = (ascii == fGb ? 2 : 0) + (ascii && unit != '~' ? 1 : 2);
            if (capacity - o < needed) return velta::outputFull(2 * p, o);
            o += enter(out + o, !ascii);
            if (ascii) {
                out[o++] = static_cast<unsigned char>(unit);
                if (unit == '~') out[o++] = '~';
            } else {
                out[o++] = bytes[0] & 0x7F;
                out[o++] = bytes[1] & 0x7F;
            }
        }
        if (2 * p != length) return velta::cutAtEnd(2 * p, o);
        if (textEnds) {
            if (fGb && capacity - o < 2) return velta::outputFull(2 * p, o);
            o += enter(out + o, false);
        }
        return velta::inputUsed(2 * p, o);
    }

private:
    // "~{" into GB mode, "~}" out of it; nothing where the mode is right.
    uint32_t enter(unsigned char* out, bool gb) {
        if (fGb == gb) return 0;
        fGb = gb;
        out[0] = '~';
        out[1] = gb ? '{' : '}';
        return 2;
    }

    const TwoByteCodes* fCodes;
    bool fGb = false;
};

}  // namespace

}  // namespace cjk

CJKCONV_EXPORT TEncodingConverter* NEWHZTOUNICODE() {
    return cjk::makeConverter<cjk::THzDecoder>();
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOHZ() {
    return cjk::makeConverter<cjk::THzEncoder>();
}
