// ISO-2022-JP-3 to and from UCS-2, as glibc's iconv has it: ISO-2022-JP's
// sets (ASCII after ESC ( B, JIS X 0201 Roman after ESC ( J, its katakana
// after ESC ( I, JIS X 0208 after ESC $ @ or ESC $ B) and JIS X 0213 plane 1
// after ESC $ ( O (2000) or ESC $ ( Q (2004), plane 2 after ESC $ ( P, each
// set's bytes 0x21-0x7E. Controls and the space are themselves in every set.
// The encoder stays in the set in force while it holds the character, else
// takes the first that does of ASCII, Roman, katakana, JIS X 0208, plane 1
// (ESC $ ( Q only for the ten characters of 2004), plane 2; it returns to
// ASCII before a space or a control and where the text ends. It holds a
// character that may begin a JIS X 0213 code of two, as the EUC and
// Shift_JIS forms do (cjkconv/jisx0213.cpp).
#include <string.h>

#include "cjkconv/indexes/jisx0213_sets.h"
#include "cjkconv/jisx0213_grid.h"
#include "common/step_shell.h"

namespace cjk {

namespace {

using velta::StepResult;
using velta::StepState;

const char kIso2022Jp3Name[] = "ISO-2022-JP-3";
const unsigned char kEscape = 0x1B;

enum Set : uint8_t { kAscii, kRoman, kKatakana, kJis0208, kPlane1, kPlane1Of2004, kPlane2 };

// The escape into each set that the encoder writes.
const char* const kEscapeInto[] = {"\x1B(B",  "\x1B(J",  "\x1B(I", "\x1B$B",
                                   "\x1B$(O", "\x1B$(Q", "\x1B$(P"};

uint32_t escapeLength(Set set) {
    return static_cast<uint32_t>(strlen(kEscapeInto[set]));
}

bool graphicByte(uint32_t byte) {
    return between(byte, 0x21, 0x7E);
}

bool inJis0208(uint32_t pointer) {
    return pointer < kJisx0213PlaneSize &&
           (kJisx0208Codes[pointer / 32] >> (pointer % 32) & 1) != 0;
}

// JIS X 0208's character at a plane 1 pointer it holds.
uint32_t jis0208Character(uint32_t pointer) {
    for (const Jisx0208Otherwise& entry : kJisx0208Otherwise)
        if (entry.pointer == pointer) return entry.character;
    return jisx0213Character(pointer);
}

bool of2004(uint32_t pointer) {
    for (uint16_t added : kJisx0213Of2004)
        if (added == pointer) return true;
    return false;
}

class TIso2022Jp3Decoder : public velta::TStepShell<TIso2022Jp3Decoder> {
public:
    TIso2022Jp3Decoder() : TStepShell({kIso2022Jp3Name, NLS_UCS2_NAME, 0, 2, 0}) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fSet = kAscii; }
    void saveState(StepState* state) const { velta::saveStepState(fSet, state); }
    void restoreState(const StepState& state) { velta::restoreStepState(&fSet, state); }

    // An escape changes the set and writes nothing; an ESC that starts none
    // is malformed alone, and the bytes after it are read again.
    StepResult step(const unsigned char* in, uint32_t length, unsigned char* out, uint32_t capacity,
                    bool) {
        uint32_t i = 0, o = 0;
        while (i < length) {
            if (in[i] == kEscape) {
                const Escape escape = readEscape(in + i, length - i);
                if (escape.length == 0) return velta::cutAtEnd(i, o);
                if (escape.set < 0) return velta::malformedAt(i, o, 1);
                fSet = static_cast<Set>(escape.set);
                i += escape.length;
                continue;
            }
            const Decoded read = readCharacter(in + i, length - i);
            if (read.length == 0) return velta::cutAtEnd(i, o);
            if (read.codePoint == kMalformed) return velta::malformedAt(i, o, read.length);
            const uint32_t units = unitsOf(read.codePoint) +
                                   (read.secondCodePoint != 0 ? unitsOf(read.secondCodePoint) : 0);
            if ((capacity - o) / 2 < units) return velta::outputFull(i, o);
            o += 2 * storeCodePoint(out + o, read.codePoint);
            if (read.secondCodePoint != 0) o += 2 * storeCodePoint(out + o, read.secondCodePoint);
            i += read.length;
        }
        return velta::inputUsed(i, o);
    }

private:
    Decoded readCharacter(const unsigned char* s, uint32_t n) const {
        const unsigned char b = s[0];
        if (b < 0x21 || b == 0x7F) return character(1, b);
        if (b >= 0x80) return malformed(1);
        switch (fSet) {
            case kAscii:
                return character(1, b);
            case kRoman:
                return character(1, b == 0x5C ? 0x00A5 : b == 0x7E ? 0x203E : b);
            case kKatakana:
                return b <= 0x5F ? character(1, 0xFF40 + b) : malformed(1);
            default:
                break;
        }
        if (n < 2) return cut();
        // A byte that is no second byte is not taken: it may be a control,
        // a space or an ESC, and is read again.
        if (!graphicByte(s[1])) return malformed(1);
        const uint32_t pointer = (b - 0x21u) * 94 + s[1] - 0x21;
        if (fSet == kJis0208)
            return inJis0208(pointer) ? character(2, jis0208Character(pointer)) : malformed(2);
        return jisx0213Code(fSet == kPlane2 ? kJisx0213PlaneSize + pointer : pointer, 2,
                            malformed(2));
    }

    // The bytes from an ESC on: an escape of `length` bytes into `set`; the
    // start of one that the end of the input cuts (length 0); or no escape
    // (set -1, length 1: the ESC alone is malformed).
    struct Escape {
        uint32_t length;
        int set;
    };
    static Escape readEscape(const unsigned char* s, uint32_t n) {
        static const struct {
            const char* bytes;
            Set set;
        } kEscapes[] = {{"\x1B(B", kAscii},   {"\x1B(J", kRoman},   {"\x1B(I", kKatakana},
                        {"\x1B$@", kJis0208}, {"\x1B$B", kJis0208}, {"\x1B$(O", kPlane1},
                        {"\x1B$(Q", kPlane1}, {"\x1B$(P", kPlane2}};
        bool cutShort = false;
        for (const auto& escape : kEscapes) {
            const uint32_t length = static_cast<uint32_t>(strlen(escape.bytes));
            if (memcmp(s, escape.bytes, n < length ? n : length) != 0) continue;
            if (n < length)
                cutShort = true;
            else
                return Escape{length, escape.set};
        }
        return Escape{cutShort ? 0u : 1u, -1};
    }

    Set fSet = kAscii;
};

// The set a character is written in and its bytes there; length 0 where no
// set holds it.
struct Form {
    Set set;
    uint8_t length;
    unsigned char bytes[2];
};

Form twoBytes(Set set, uint32_t pointer) {
    const uint32_t rest = pointer % kJisx0213PlaneSize;
    return Form{set,
                2,
                {static_cast<unsigned char>(0x21 + rest / 94),
                 static_cast<unsigned char>(0x21 + rest % 94)}};
}

// Plane 1's escape for a pointer: ESC $ ( O but for the characters of 2004.
Set plane1SetOf(uint32_t pointer, Set current) {
    if (current == kPlane1Of2004 || of2004(pointer)) return kPlane1Of2004;
    return kPlane1;
}

class TIso2022Jp3Encoder : public velta::TStepShell<TIso2022Jp3Encoder> {
public:
    TIso2022Jp3Encoder() : TStepShell({NLS_UCS2_NAME, kIso2022Jp3Name, 0, 8, 1}) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fState = State(); }
    void saveState(StepState* state) const { velta::saveStepState(fState, state); }
    void restoreState(const StepState& state) { velta::restoreStepState(&fState, state); }

    StepResult step(const unsigned char* in, uint32_t length, unsigned char* out, uint32_t capacity,
                    bool textEnds) {
        const uint32_t units = length / 2;
        uint32_t p = 0, o = 0;
        while (p < units) {
            const uint16_t unit = velta::loadUnit(in + 2 * p);
            if (fState.held != 0) {
                // The held character with this one as one code, or alone.
                uint32_t pointer = 0;
                const bool pair = jisx0213PairPointer(fState.held, unit, &pointer);
                const Form form = pair ? twoBytes(plane1SetOf(pointer, fState.set), pointer)
                                       : formOf(fState.held);
                if (!write(form, out + o, capacity - o, &o)) return velta::outputFull(2 * p, o);
                fState.held = 0;
                if (pair) ++p;
                continue;
            }
            const velta::UnitCharacter character = velta::characterAt(in, units, p);
            if (character.cut) return velta::cutAtEnd(2 * p, o);
            const uint32_t codePoint = character.codePoint, taken = character.units;
            if (startsJisx0213Pair(codePoint)) {
                fState.held = codePoint;
                ++p;
                continue;
            }
            const Form form = formOf(codePoint);
            if (form.length == 0) return velta::unmappableAt(2 * p, o, 2 * taken, codePoint);
            if (!write(form, out + o, capacity - o, &o)) return velta::outputFull(2 * p, o);
            p += taken;
        }
        if (2 * p != length) return velta::cutAtEnd(2 * p, o);
        if (textEnds && !closeText(out + o, capacity - o, &o)) return velta::outputFull(2 * p, o);
        return velta::inputUsed(2 * p, o);
    }

private:
    struct State {
        uint32_t held = 0;  // a character that may begin a code of two
        Set set = kAscii;
    };

    // The held character, then ASCII; false without room for what is left.
    bool closeText(unsigned char* out, uint32_t room, uint32_t* written) {
        if (fState.held != 0) {
            const uint32_t before = *written;
            if (!write(formOf(fState.held), out, room, written)) return false;
            fState.held = 0;
            out += *written - before;
            room -= *written - before;
        }
        const Form ascii = {kAscii, 0, {0, 0}};
        return write(ascii, out, room, written);
    }

    Form formOf(uint32_t codePoint) const {
        const Form none = {kAscii, 0, {0, 0}};
        // SO, SI and ESC would be read as shifts and escapes.
        if (codePoint == 0x0E || codePoint == 0x0F || codePoint == kEscape) return none;
        const unsigned char byte = static_cast<unsigned char>(codePoint);
        if (codePoint < 0x80) {
            const bool staysRoman = fState.set == kRoman && graphicByte(codePoint) &&
                                    codePoint != 0x5C && codePoint != 0x7E;
            return Form{staysRoman ? kRoman : kAscii, 1, {byte, 0}};
        }
        if (codePoint == 0x00A5) return Form{kRoman, 1, {0x5C, 0}};
        if (codePoint == 0x203E) return Form{kRoman, 1, {0x7E, 0}};
        if (between(codePoint, 0xFF61, 0xFF9F))
            return Form{kKatakana, 1, {static_cast<unsigned char>(codePoint - 0xFF40), 0}};
        for (const Jisx0208Otherwise& entry : kJisx0208Otherwise)
            if (entry.character == codePoint) return twoBytes(kJis0208, entry.pointer);
        uint32_t pointer;
        if (!jisx0213PointerOf(codePoint, &pointer)) return none;
        if (pointer >= kJisx0213PlaneSize) return twoBytes(kPlane2, pointer);
        const bool staysInPlane1 =
            fState.set == kPlane1Of2004 || (fState.set == kPlane1 && !of2004(pointer));
        if (inJis0208(pointer) && jis0208Character(pointer) == codePoint && !staysInPlane1)
            return twoBytes(kJis0208, pointer);
        return twoBytes(plane1SetOf(pointer, fState.set), pointer);
    }

    // Writes the escape into the form's set unless it is in force, then the
    // form's bytes: all or nothing.
    bool write(const Form& form, unsigned char* out, uint32_t room, uint32_t* written) {
        const uint32_t escape = form.set == fState.set ? 0 : escapeLength(form.set);
        if (room < escape + form.length) return false;
        memcpy(out, kEscapeInto[form.set], escape);
        memcpy(out + escape, form.bytes, form.length);
        fState.set = form.set;
        *written += escape + form.length;
        return true;
    }

    State fState;
};

}  // namespace

}  // namespace cjk

CJKCONV_EXPORT TEncodingConverter* NEWISO2022JP3TOUNICODE() {
    return cjk::makeConverter<cjk::TIso2022Jp3Decoder>();
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOISO2022JP3() {
    return cjk::makeConverter<cjk::TIso2022Jp3Encoder>();
}
