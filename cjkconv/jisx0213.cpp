// EUC-JISX0213 and SHIFT_JISX0213 to and from UCS-2, as glibc's charmaps
// have them: the two planes of JIS X 0213:2004 in one grid, laid out as EUC
// (plane 1 in two bytes 0xA1-0xFE, plane 2 after 0x8F, half-width katakana
// after 0x8E) or as Shift_JIS (JIS X 0213 annex 1: leads 0x81-0x9F and
// 0xE0-0xEF for plane 1, 0xF0-0xFC for plane 2, half-width katakana in one
// byte 0xA1-0xDF). ASCII is itself in both. 303 characters are beyond the BMP
// (surrogate pairs here). 25 codes stand for two characters (a kana and
// U+309A, IPA letters and their accents or tone marks): the decoder writes
// both, and the encoder holds a character that may start such a pair until
// the next one shows whether it does, across calls, up to the end of the text.
#include "cjkconv/indexes/jisx0213.h"
#include "cjkconv/charmap_codes.h"
#include "cjkconv/jisx0213_grid.h"

namespace cjk {

namespace {

using velta::StepResult;
using velta::StepState;

const uint32_t kPlaneSize = kJisx0213PlaneSize;

uint32_t bmpUnitAt(uint32_t pointer) {
    const uint32_t codePoint = jisx0213Character(pointer);
    return codePoint < 0x10000 ? codePoint : 0;
}

Decoded halfWidthKatakana(uint32_t length, unsigned char byte) {
    return character(length, 0xFF61 + byte - 0xA1u);
}

struct EucJisx0213Decoding {
    static uint32_t pair(uint32_t lead, uint32_t trail) {
        if (!graphic(lead) || !graphic(trail)) return 0;
        return bmpUnitAt((lead - 0xA1) * 94 + trail - 0xA1);
    }

    static Decoded decode(const unsigned char* s, uint32_t n) {
        if (s[0] == 0x8E) return decodeKatakana(s, n);
        const uint32_t plane = s[0] == 0x8F ? 1 : 0;
        if (plane == 0 && !graphic(s[0])) return malformed(1);
        for (uint32_t k = 1; k < 2 + plane; ++k) {
            if (n <= k) return cut();
            if (!graphic(s[k])) return brokenAt(k, s[k]);
        }
        const uint32_t pointer = plane * kPlaneSize + (s[plane] - 0xA1u) * 94 + s[plane + 1] - 0xA1;
        return jisx0213Code(pointer, 2 + plane, malformed(2 + plane));
    }

    static Decoded decodeKatakana(const unsigned char* s, uint32_t n) {
        if (n < 2) return cut();
        if (!between(s[1], 0xA1, 0xDF)) return brokenAt(1, s[1]);
        return halfWidthKatakana(2, s[1]);
    }
};

// The plane 2 rows (numbered from 1) of the Shift_JIS leads 0xF0-0xF4, two a
// lead (JIS X 0213 annex 1); leads 0xF5-0xFC carry rows 79-94 in order.
const uint8_t kPlane2RowsOfLead[5][2] = {{1, 8}, {3, 4}, {5, 12}, {13, 14}, {15, 78}};

// A Shift_JIS lead carries two rows: trails 0x40-0x9E (not 0x7F) are the
// cells of the first, 0x9F-0xFC those of the second. False where the two
// bytes are no such code.
bool shiftJisPointer(uint32_t lead, uint32_t trail, uint32_t* pointer) {
    uint32_t second, cell;
    if (between(trail, 0x40, 0x7E) || between(trail, 0x80, 0x9E)) {
        second = 0;
        cell = trail - (trail < 0x80 ? 0x40 : 0x41);
    } else if (between(trail, 0x9F, 0xFC)) {
        second = 1;
        cell = trail - 0x9F;
    } else {
        return false;
    }
    uint32_t plane = 0, row;  // row from 0
    if (between(lead, 0x81, 0x9F)) {
        row = 2 * (lead - 0x81) + second;
    } else if (between(lead, 0xE0, 0xEF)) {
        row = 62 + 2 * (lead - 0xE0) + second;
    } else if (between(lead, 0xF0, 0xF4)) {
        plane = 1;
        row = kPlane2RowsOfLead[lead - 0xF0][second] - 1u;
    } else if (between(lead, 0xF5, 0xFC)) {
        plane = 1;
        row = 78 + 2 * (lead - 0xF5) + second;
    } else {
        return false;
    }
    *pointer = plane * kPlaneSize + row * 94 + cell;
    return true;
}

bool shiftJisLead(uint32_t byte) {
    return between(byte, 0x81, 0x9F) || between(byte, 0xE0, 0xFC);
}

struct ShiftJisx0213Decoding {
    static uint32_t pair(uint32_t lead, uint32_t trail) {
        uint32_t pointer;
        return shiftJisPointer(lead, trail, &pointer) ? bmpUnitAt(pointer) : 0;
    }

    static Decoded decode(const unsigned char* s, uint32_t n) {
        if (between(s[0], 0xA1, 0xDF)) return halfWidthKatakana(1, s[0]);
        if (!shiftJisLead(s[0])) return malformed(1);
        if (n < 2) return cut();
        uint32_t pointer;
        if (!shiftJisPointer(s[0], s[1], &pointer)) return brokenAt(1, s[1]);
        return jisx0213Code(pointer, 2, unmappedPair(s[1]));
    }
};

// The bytes of a code of the grid in each form, packed as CodeTable packs
// them; 0 where the form has no place for it.
uint32_t eucCodeOf(uint32_t pointer) {
    const uint32_t rest = pointer % kPlaneSize;
    const uint32_t code = (0xA1 + rest / 94) << 8 | (0xA1 + rest % 94);
    return pointer < kPlaneSize ? code : 0x8F0000 | code;
}

uint32_t shiftJisLeadOf(uint32_t plane, uint32_t row) {
    if (plane == 0) return row < 62 ? 0x81 + row / 2 : 0xE0 + (row - 62) / 2;
    if (row >= 78) return 0xF5 + (row - 78) / 2;
    for (uint32_t lead = 0; lead < 5; ++lead)
        for (uint32_t second = 0; second < 2; ++second)
            if (kPlane2RowsOfLead[lead][second] == row + 1) return 0xF0 + lead;
    return 0;
}

uint32_t shiftJisCodeOf(uint32_t pointer) {
    const uint32_t row = pointer % kPlaneSize / 94, cell = pointer % 94;
    const uint32_t lead = shiftJisLeadOf(pointer / kPlaneSize, row);
    // Odd rows (from 1) are the first of their lead's two.
    const uint32_t trail = row % 2 == 0 ? cell + 0x40 + (cell >= 0x3F ? 1 : 0) : cell + 0x9F;
    return lead == 0 ? 0 : lead << 8 | trail;
}

uint32_t writeCode(uint32_t code, unsigned char* bytes) {
    uint32_t length = 0;
    for (int shift = 16; shift >= 0; shift -= 8)
        if (length != 0 || (code >> shift & 0xFF) != 0)
            bytes[length++] = static_cast<unsigned char>(code >> shift);
    return length;
}

// Code point to bytes in one form. `jisRoman`: the form's single bytes are
// JIS X 0201's, whose yen sign and overline (0x5C, 0x7E; read back as ASCII
// here) it writes for U+00A5 and U+203E, as iconv does.
struct Jisx0213Codes : CodeTable<512> {
    Jisx0213Codes(uint32_t (*codeOf)(uint32_t pointer), uint32_t katakanaLead, bool jisRoman) {
        for (uint32_t byte = 0xA1; byte <= 0xDF; ++byte)
            add(0xFF61 + byte - 0xA1, katakanaLead << 8 | byte);
        for (uint32_t pointer = 0; pointer < kJisx0213IndexLength; ++pointer) {
            const uint32_t codePoint = jisx0213Character(pointer);
            if (codePoint != 0) add(codePoint, codeOf(pointer));
        }
        if (jisRoman) {
            add(0x00A5, 0x5C);
            add(0x203E, 0x7E);
        }
        finish();
    }
};

struct EucForm {
    static constexpr const char* kName = "EUC-JISX0213";
    static uint32_t codeOf(uint32_t pointer) { return eucCodeOf(pointer); }
    static const Jisx0213Codes& codes() {
        static const Jisx0213Codes table(eucCodeOf, 0x8E, false);
        return table;
    }
};

struct ShiftJisForm {
    static constexpr const char* kName = "SHIFT_JISX0213";
    static uint32_t codeOf(uint32_t pointer) { return shiftJisCodeOf(pointer); }
    static const Jisx0213Codes& codes() {
        static const Jisx0213Codes table(shiftJisCodeOf, 0, true);
        return table;
    }
};

// The encoder: a character that may start a code of two characters is held
// (read, not yet written) until the next one shows whether it does, or the
// text ends; the held character is the state between calls.
template <typename Form>
class TJisx0213Encoder : public velta::TStepShell<TJisx0213Encoder<Form>> {
    using Shell = velta::TStepShell<TJisx0213Encoder<Form>>;

public:
    TJisx0213Encoder() : Shell(TConverterIdentity{NLS_UCS2_NAME, Form::kName, 0, 4, 1}) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fHeld = 0; }
    void saveState(StepState* state) const { velta::saveStepState(fHeld, state); }
    void restoreState(const StepState& state) { velta::restoreStepState(&fHeld, state); }

    StepResult step(const unsigned char* in, uint32_t length, unsigned char* out, uint32_t capacity,
                    bool textEnds) {
        const uint32_t units = length / 2;
        uint32_t p = 0, o = 0;
        while (p < units) {
            const uint16_t unit = velta::loadUnit(in + 2 * p);
            if (fHeld != 0) {
                // The held character with this one as one code, or alone.
                uint32_t pointer = 0;
                const bool pair = jisx0213PairPointer(fHeld, unit, &pointer);
                if (!writeHeld(pair, pointer, out + o, capacity - o, &o))
                    return velta::outputFull(2 * p, o);
                if (pair) ++p;
                continue;
            }
            const velta::UnitCharacter character = velta::characterAt(in, units, p);
            if (character.cut) return velta::cutAtEnd(2 * p, o);
            const uint32_t codePoint = character.codePoint, taken = character.units;
            if (startsJisx0213Pair(codePoint)) {
                fHeld = codePoint;
                ++p;
                continue;
            }
            unsigned char bytes[4];
            const uint32_t written = unit < 0x80 ? (bytes[0] = static_cast<unsigned char>(unit), 1)
                                                 : fCodes->write(codePoint, bytes);
            if (written == 0) return velta::unmappableAt(2 * p, o, 2 * taken, codePoint);
            if (capacity - o < written) return velta::outputFull(2 * p, o);
            for (uint32_t k = 0; k < written; ++k) out[o + k] = bytes[k];
            o += written;
            p += taken;
        }
        if (2 * p != length) return velta::cutAtEnd(2 * p, o);
        if (textEnds && fHeld != 0 && !writeHeld(false, 0, out + o, capacity - o, &o))
            return velta::outputFull(2 * p, o);
        return velta::inputUsed(2 * p, o);
    }

private:
    // Writes the held character alone, or with the one after it as the code
    // of two at `pointer` (`pair`), and lets it go; false without room.
    bool writeHeld(bool pair, uint32_t pointer, unsigned char* out, uint32_t room,
                   uint32_t* written) {
        unsigned char bytes[4];
        const uint32_t length =
            pair ? writeCode(Form::codeOf(pointer), bytes) : fCodes->write(fHeld, bytes);
        if (room < length) return false;
        for (uint32_t k = 0; k < length; ++k) out[k] = bytes[k];
        *written += length;
        fHeld = 0;
        return true;
    }

    const Jisx0213Codes* fCodes = &Form::codes();
    uint32_t fHeld = 0;
};

}  // namespace

uint32_t jisx0213Character(uint32_t pointer) {
    return gridCharacter(kJisx0213Index, kJisx0213IndexBeyondBmp, pointer);
}

Decoded jisx0213Code(uint32_t pointer, uint32_t length, Decoded none) {
    const uint32_t codePoint = jisx0213Character(pointer);
    if (codePoint != 0) return character(length, codePoint);
    for (const Jisx0213Pair& pair : kJisx0213Pairs)
        if (pair.pointer == pointer) return character(length, pair.first, pair.second);
    return none;
}

// Read back from the character's EUC-JISX0213 bytes.
bool jisx0213PointerOf(uint32_t codePoint, uint32_t* pointer) {
    unsigned char bytes[4];
    const uint32_t length = EucForm::codes().write(codePoint, bytes);
    if (length < 2 || bytes[0] == 0x8E) return false;
    const uint32_t plane = length == 3 ? 1 : 0;
    *pointer = plane * kPlaneSize + (bytes[plane] - 0xA1u) * 94 + bytes[plane + 1] - 0xA1;
    return true;
}

bool jisx0213PairPointer(uint32_t first, uint32_t second, uint32_t* pointer) {
    for (const Jisx0213Pair& pair : kJisx0213Pairs) {
        if (pair.first == first && pair.second == second) {
            *pointer = pair.pointer;
            return true;
        }
    }
    return false;
}

bool startsJisx0213Pair(uint32_t codePoint) {
    if (codePoint > 0x31F7) return false;
    for (const Jisx0213Pair& pair : kJisx0213Pairs)
        if (pair.first == codePoint) return true;
    return false;
}

}  // namespace cjk

CJKCONV_EXPORT TEncodingConverter* NEWEUCJISX0213TOUNICODE() {
    return cjk::makeConverter<cjk::TMultiByteDecoder<cjk::EucJisx0213Decoding>>(
        cjk::EucForm::kName);
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOEUCJISX0213() {
    return cjk::makeConverter<cjk::TJisx0213Encoder<cjk::EucForm>>();
}

CJKCONV_EXPORT TEncodingConverter* NEWSHIFTJISX0213TOUNICODE() {
    return cjk::makeConverter<cjk::TMultiByteDecoder<cjk::ShiftJisx0213Decoding>>(
        cjk::ShiftJisForm::kName);
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOSHIFTJISX0213() {
    return cjk::makeConverter<cjk::TJisx0213Encoder<cjk::ShiftJisForm>>();
}
