// ISO-2022-CN and ISO-2022-CN-EXT (RFC 1922) to and from UCS-2. ASCII, and
// two-byte codes without their high bits: GB 2312 (ESC $ ) A) or CNS 11643
// plane 1 (ESC $ ) G) between SO and SI; CNS plane 2 (ESC $ * H) for the
// one character after SS2 (ESC N); in the EXT form also CNS planes 3-7
// (ESC $ + I to M) for the one character after SS3 (ESC O), and ISO-IR-165
// (ESC $ ) E) between SO and SI, as glibc's iconv reads it (ISO-2022-CN
// names that designation malformed, as glibc does). The designations hold
// until the line ends ("\n"), as RFC 1922 says; a text starts and ends in
// ASCII with nothing designated.
//
// The encoder writes what glibc's iconv writes: a character in the set
// that SO designates now is written in it (but where ISO-IR-165 is
// designated and ASCII or a single-shifted character has come after it,
// glibc tries CNS plane 1 there), others in GB 2312 first, then CNS plane
// 2, (EXT) ISO-IR-165, CNS plane 1 and (EXT) CNS planes 3-7; a designation
// just before its first character on a line, SO before the first two-byte
// character after ASCII, SI before ASCII and where the text ends. Unlike
// glibc it writes SS2/SS3 before every character it applies to and SO
// after one where SO is not in force (glibc's output reads back otherwise
// there), and it treats the bytes SO, SI and ESC in the text as characters
// the target lacks.
#include "cjkconv/cns11643.h"
#include "cjkconv/gb2312.h"
#include "cjkconv/indexes/iso_ir_165.h"
#include "common/step_shell.h"

#include <algorithm>

namespace cjk {

namespace {

using velta::StepResult;
using velta::StepState;

const char kIso2022CnName[] = "ISO-2022-CN";
const char kIso2022CnExtName[] = "ISO-2022-CN-EXT";
const unsigned char kShiftOut = 0x0E;
const unsigned char kShiftIn = 0x0F;
const unsigned char kEscape = 0x1B;

// The sets a designation names: what SO shifts to (G1), what SS2 (G2) and
// SS3 (G3) take one character from.
enum Set : uint8_t {
    kNoSet,
    kGb2312,
    kCnsPlane1,
    kCnsPlane2,
    kCnsPlane3,  // planes 3-7 follow in order
    kCnsPlane7 = kCnsPlane3 + 4,
    kIsoIr165,
    kSingleShift2,
    kSingleShift3,
};

uint32_t planeOf(Set set) {
    return set - kCnsPlane1 + 1u;
}

// The bytes after ESC of each escape sequence: ISO-2022-CN's first (with
// ISO-IR-165's), the EXT form's after them.
struct Escape {
    const char* bytes;
    Set set;
};
const Escape kEscapes[] = {{"$)A", kGb2312},
                           {"$)G", kCnsPlane1},
                           {"$*H", kCnsPlane2},
                           {"N", kSingleShift2},
                           {"$)E", kIsoIr165},
                           {"$+I", kCnsPlane3},
                           {"$+J", Set(kCnsPlane3 + 1)},
                           {"$+K", Set(kCnsPlane3 + 2)},
                           {"$+L", Set(kCnsPlane3 + 3)},
                           {"$+M", kCnsPlane7},
                           {"O", kSingleShift3}};
const uint32_t kCnEscapes = 5;  // ISO-IR-165's too: ISO-2022-CN names it malformed
const uint32_t kCnExtEscapes = sizeof kEscapes / sizeof kEscapes[0];

// The escape sequence that starts `in` (at ESC): its set and length, or
// how many bytes of some sequence it matches (kNoSet).
struct EscapeMatch {
    Set set;
    uint32_t length;
};
EscapeMatch matchEscape(const unsigned char* in, uint32_t length, bool extended) {
    uint32_t longest = 1;
    for (uint32_t k = 0; k < (extended ? kCnExtEscapes : kCnEscapes); ++k) {
        const char* bytes = kEscapes[k].bytes;
        uint32_t matched = 1;
        while (bytes[matched - 1] != '\0' && matched < length &&
               in[matched] == static_cast<unsigned char>(bytes[matched - 1]))
            ++matched;
        if (bytes[matched - 1] == '\0') return EscapeMatch{kEscapes[k].set, matched};
        if (matched > longest) longest = matched;
    }
    return EscapeMatch{kNoSet, longest};
}

bool isSevenBitGraphic(unsigned char b) {
    return between(b, 0x21, 0x7E);
}

// The sets SO shifts to, whose characters run on until SI.
bool isShiftOutSet(Set set) {
    return set == kGb2312 || set == kCnsPlane1 || set == kIsoIr165;
}

// ISO-IR-165 is GB 2312 but for the codes kIsoIr165Pointers lists: the
// place of a pointer there, kIsoIr165Length where it is not listed.
uint32_t isoIr165Entry(uint32_t pointer) {
    const uint16_t* end = kIsoIr165Pointers + kIsoIr165Length;
    const uint16_t* at = std::lower_bound(kIsoIr165Pointers, end, pointer);
    return at != end && *at == pointer ? static_cast<uint32_t>(at - kIsoIr165Pointers)
                                       : kIsoIr165Length;
}

uint32_t isoIr165Character(unsigned char first, unsigned char second) {
    const uint32_t entry = isoIr165Entry((first - 0x21u) * 94 + second - 0x21u);
    if (entry != kIsoIr165Length) return kIsoIr165Characters[entry];
    return gb2312Character(first | 0x80u, second | 0x80u);
}

// The places in kIsoIr165Characters in the order of their characters, for
// the encoder to find the characters ISO-IR-165 adds to GB 2312.
class IsoIr165Additions {
public:
    static const IsoIr165Additions& instance() {
        static const IsoIr165Additions additions;
        return additions;
    }

    // The pointer of a character among the listed codes, or -1.
    int32_t pointerOf(uint32_t character) const {
        const uint16_t* end = fOrder + kIsoIr165Length;
        const uint16_t* at = std::lower_bound(
            fOrder, end, character,
            [](uint16_t entry, uint32_t wanted) { return kIsoIr165Characters[entry] < wanted; });
        if (at == end || kIsoIr165Characters[*at] != character) return -1;
        return kIsoIr165Pointers[*at];
    }

private:
    IsoIr165Additions() {
        for (uint32_t k = 0; k < kIsoIr165Length; ++k) fOrder[k] = static_cast<uint16_t>(k);
        std::sort(fOrder, fOrder + kIsoIr165Length, [](uint16_t a, uint16_t b) {
            return kIsoIr165Characters[a] < kIsoIr165Characters[b];
        });
    }

    uint16_t fOrder[kIsoIr165Length];
};

// The character of a code of `set` (bytes 0x21-0x7E), 0 for none.
uint32_t characterOf(Set set, unsigned char first, unsigned char second) {
    if (set == kGb2312) return gb2312Character(first | 0x80u, second | 0x80u);
    if (set == kIsoIr165) return isoIr165Character(first, second);
    return cnsCharacter(planeOf(set), first | 0x80u, second | 0x80u);
}

// What the decoder and the encoder keep: the designated sets and whether
// SO is in force; the encoder also the set of the last character it wrote
// (kNoSet after ASCII).
struct Designations {
    Set g1 = kNoSet;
    Set g2 = kNoSet;
    Set g3 = kNoSet;
    Set last = kNoSet;
    bool shifted = false;

    void endLine() { g1 = g2 = g3 = kNoSet; }
};

uint32_t storeCharacter(unsigned char* out, uint32_t character) {
    if (character < 0x10000) {
        velta::storeUnit(out, static_cast<uint16_t>(character));
        return 2;
    }
    velta::storeUnit(out, static_cast<uint16_t>(0xD800 + ((character - 0x10000) >> 10)));
    velta::storeUnit(out + 2, static_cast<uint16_t>(0xDC00 + (character & 0x3FF)));
    return 4;
}

class TIso2022CnDecoder : public velta::TStepShell<TIso2022CnDecoder> {
public:
    TIso2022CnDecoder(const char* name, bool extended)
        : TStepShell({name, NLS_UCS2_NAME, 0, 2, 0}), fExtended(extended) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fState = Designations(); }
    void saveState(StepState* state) const { velta::saveStepState(fState, state); }
    void restoreState(const StepState& state) { velta::restoreStepState(&fState, state); }

    StepResult step(const unsigned char* in, uint32_t length, unsigned char* out, uint32_t capacity,
                    bool) {
        uint32_t i = 0, o = 0;
        while (i < length) {
            const unsigned char b = in[i];
            if (b == kEscape) {
                const EscapeMatch escape = matchEscape(in + i, length - i, fExtended);
                if (escape.set == kNoSet) {
                    if (escape.length == length - i) return velta::cutAtEnd(i, o);
                    return velta::malformedAt(i, o, escape.length);
                }
                if (escape.set == kSingleShift2 || escape.set == kSingleShift3) {
                    const StepResult shifted = readSingleShift(in, length, i, out, capacity, o,
                                                               escape.set == kSingleShift2);
                    if (shifted.stop != velta::Stop::kInputUsed) return shifted;
                    i = shifted.read;
                    o = shifted.written;
                    continue;
                }
                if (!designate(escape.set)) return velta::malformedAt(i, o, escape.length);
                i += escape.length;
                continue;
            }
            if (b == kShiftOut) {
                if (fState.g1 == kNoSet) return velta::malformedAt(i, o, 1);
                fState.shifted = true;
                ++i;
                continue;
            }
            if (b == kShiftIn) {
                fState.shifted = false;
                ++i;
                continue;
            }
            if (capacity - o < 2) return velta::outputFull(i, o);
            if (!fState.shifted) {
                if (b >= 0x80) return velta::malformedAt(i, o, 1);
                velta::storeUnit(out + o, b);
                o += 2;
                ++i;
                if (b == '\n') fState.endLine();
                continue;
            }
            if (!isSevenBitGraphic(b)) return velta::malformedAt(i, o, 1);
            if (length - i < 2) return velta::cutAtEnd(i, o);
            if (!isSevenBitGraphic(in[i + 1])) return velta::malformedAt(i, o, 1);
            const uint32_t character = characterOf(fState.g1, b, in[i + 1]);
            if (character == 0) return velta::malformedAt(i, o, 2);
            if (character >= 0x10000 && capacity - o < 4) return velta::outputFull(i, o);
            o += storeCharacter(out + o, character);
            i += 2;
        }
        return velta::inputUsed(i, o);
    }

private:
    bool designate(Set set) {
        if (set == kIsoIr165 && !fExtended) return false;
        if (isShiftOutSet(set)) {
            fState.g1 = set;
        } else if (set == kCnsPlane2) {
            fState.g2 = set;
        } else {
            fState.g3 = set;
        }
        return true;
    }

    // ESC N or ESC O at `i` and the one character it takes from G2 or G3;
    // kInputUsed with read and written past it.
    StepResult readSingleShift(const unsigned char* in, uint32_t length, uint32_t i,
                               unsigned char* out, uint32_t capacity, uint32_t o, bool two) const {
        const Set set = two ? fState.g2 : fState.g3;
        if (set == kNoSet) return velta::malformedAt(i, o, 2);
        for (uint32_t k = 2; k < 4; ++k) {
            if (length - i <= k) return velta::cutAtEnd(i, o);
            if (!isSevenBitGraphic(in[i + k])) return velta::malformedAt(i, o, k);
        }
        const uint32_t character = characterOf(set, in[i + 2], in[i + 3]);
        if (character == 0) return velta::malformedAt(i, o, 4);
        if (capacity - o < (character >= 0x10000 ? 4u : 2u)) return velta::outputFull(i, o);
        return velta::inputUsed(i + 4, o + storeCharacter(out + o, character));
    }

    Designations fState;
    bool fExtended;
};

// Where the encoder writes a character: its set and its two bytes (without
// the high bits).
struct Placed {
    Set set;
    unsigned char bytes[2];
};

class TIso2022CnEncoder : public velta::TStepShell<TIso2022CnEncoder> {
public:
    TIso2022CnEncoder(const char* name, bool extended)
        : TStepShell({NLS_UCS2_NAME, name, 0, 4, 1}),
          fGb2312(&Gb2312Layout::codes()),
          fIsoIr165(&IsoIr165Additions::instance()),
          fExtended(extended) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fState = Designations(); }
    void saveState(StepState* state) const { velta::saveStepState(fState, state); }
    void restoreState(const StepState& state) { velta::restoreStepState(&fState, state); }

    StepResult step(const unsigned char* in, uint32_t length, unsigned char* out, uint32_t capacity,
                    bool textEnds) {
        const uint32_t units = length / 2;
        uint32_t p = 0, o = 0;
        while (p < units) {
            const uint16_t unit = velta::loadUnit(in + 2 * p);
            if (unit < 0x80 && unit != kShiftOut && unit != kShiftIn && unit != kEscape) {
                if (capacity - o < (fState.shifted ? 2u : 1u)) return velta::outputFull(2 * p, o);
                o += shift(out + o, false);
                out[o++] = static_cast<unsigned char>(unit);
                fState.last = kNoSet;
                if (unit == '\n') fState.endLine();
                ++p;
                continue;
            }
            uint32_t character = unit, taken = 1;
            if (velta::isHighSurrogate(unit) && p + 1 < units &&
                velta::isLowSurrogate(velta::loadUnit(in + 2 * p + 2))) {
                character = 0x10000 + ((unit - 0xD800u) << 10) +
                            (velta::loadUnit(in + 2 * p + 2) - 0xDC00u);
                taken = 2;
            }
            Placed placed;
            if (!place(character, &placed)) return velta::lackedUnitAt(in, units, p, o);
            if (capacity - o < bytesFor(placed.set)) return velta::outputFull(2 * p, o);
            o += write(placed, out + o);
            p += taken;
        }
        if (2 * p != length) return velta::cutAtEnd(2 * p, o);
        if (textEnds) {
            if (fState.shifted && capacity - o < 1) return velta::outputFull(2 * p, o);
            o += shift(out + o, false);
            fState = Designations();  // the next text designates its own sets
        }
        return velta::inputUsed(2 * p, o);
    }

private:
    // The set SO designates first, then the others in glibc's order.
    bool place(uint32_t character, Placed* placed) const {
        const CnsCode cns = cnsCodeOf(character);
        const Set first = setTriedFirst();
        if (first != kNoSet && placeIn(first, character, cns, placed)) return true;
        return placeIn(kGb2312, character, cns, placed) ||
               placeIn(kCnsPlane2, character, cns, placed) ||
               (fExtended && placeIn(kIsoIr165, character, cns, placed)) || placeInCns(cns, placed);
    }

    // The set SO designates, except that glibc's iconv tries CNS plane 1
    // first where ISO-IR-165 is designated but the last character was
    // written otherwise (ASCII or a single-shifted one came between).
    Set setTriedFirst() const {
        return fState.g1 == kIsoIr165 && fState.last != kIsoIr165 ? kCnsPlane1 : fState.g1;
    }

    bool placeIn(Set set, uint32_t character, const CnsCode& cns, Placed* placed) const {
        if (set == kGb2312 || set == kIsoIr165) return placeInGb(set, character, placed);
        return cns.plane == planeOf(set) && placeInCns(cns, placed);
    }

    // GB 2312, or ISO-IR-165: GB 2312's codes but those it reads otherwise,
    // and its own.
    bool placeInGb(Set set, uint32_t character, Placed* placed) const {
        unsigned char gb[2] = {0, 0};
        int32_t pointer = -1;
        if (character < 0x10000 && fGb2312->write(character, gb) == 2)
            pointer = (gb[0] - 0xA1) * 94 + gb[1] - 0xA1;
        if (set == kIsoIr165) {
            if (pointer >= 0 && isoIr165Entry(static_cast<uint32_t>(pointer)) != kIsoIr165Length)
                pointer = -1;
            if (pointer < 0) pointer = fIsoIr165->pointerOf(character);
        }
        if (pointer < 0) return false;
        *placed = Placed{set,
                         {static_cast<unsigned char>(pointer / 94 + 0x21),
                          static_cast<unsigned char>(pointer % 94 + 0x21)}};
        return true;
    }

    bool placeInCns(const CnsCode& cns, Placed* placed) const {
        if (cns.plane == 0 || cns.plane > (fExtended ? 7u : 2u)) return false;
        *placed = Placed{Set(kCnsPlane1 + cns.plane - 1),
                         {static_cast<unsigned char>(cns.row & 0x7F),
                          static_cast<unsigned char>(cns.cell & 0x7F)}};
        return true;
    }

    // The bytes a character of `set` takes at most here: its designation,
    // SO or a single shift, and its code.
    uint32_t bytesFor(Set set) const {
        if (isShiftOutSet(set)) return (fState.g1 == set ? 0 : 4) + (fState.shifted ? 0 : 1) + 2;
        const Set designated = set == kCnsPlane2 ? fState.g2 : fState.g3;
        return (designated == set ? 0 : 4) + 2 + 2;
    }

    uint32_t write(const Placed& placed, unsigned char* out) {
        uint32_t o = 0;
        const Set set = placed.set;
        if (isShiftOutSet(set)) {
            if (fState.g1 != set) o += writeDesignation(set, out + o);
            fState.g1 = set;
            o += shift(out + o, true);
        } else {
            Set& designated = set == kCnsPlane2 ? fState.g2 : fState.g3;
            if (designated != set) o += writeDesignation(set, out + o);
            designated = set;
            out[o++] = kEscape;
            out[o++] = set == kCnsPlane2 ? 'N' : 'O';
        }
        out[o++] = placed.bytes[0];
        out[o++] = placed.bytes[1];
        fState.last = set;
        return o;
    }

    static uint32_t writeDesignation(Set set, unsigned char* out) {
        for (const Escape& escape : kEscapes) {
            if (escape.set != set) continue;
            out[0] = kEscape;
            memcpy(out + 1, escape.bytes, 3);
            return 4;
        }
        return 0;
    }

    uint32_t shift(unsigned char* out, bool shifted) {
        if (fState.shifted == shifted) return 0;
        fState.shifted = shifted;
        out[0] = shifted ? kShiftOut : kShiftIn;
        return 1;
    }

    const TwoByteCodes* fGb2312;
    const IsoIr165Additions* fIsoIr165;
    Designations fState;
    bool fExtended;
};

}  // namespace

}  // namespace cjk

CJKCONV_EXPORT TEncodingConverter* NEWISO2022CNTOUNICODE() {
    return cjk::makeConverter<cjk::TIso2022CnDecoder>(cjk::kIso2022CnName, false);
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOISO2022CN() {
    return cjk::makeConverter<cjk::TIso2022CnEncoder>(cjk::kIso2022CnName, false);
}

CJKCONV_EXPORT TEncodingConverter* NEWISO2022CNEXTTOUNICODE() {
    return cjk::makeConverter<cjk::TIso2022CnDecoder>(cjk::kIso2022CnExtName, true);
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOISO2022CNEXT() {
    return cjk::makeConverter<cjk::TIso2022CnEncoder>(cjk::kIso2022CnExtName, true);
}
