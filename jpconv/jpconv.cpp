// jpconv: the Japanese converter library, loaded by the Velta registry from
// its data directory (jpconv3230.so, jpconv3230.dll). It derives its
// converters from the exported TEncodingConverter:
//   Shift_JIS       ASCII, half-width katakana and JIS X 0208 (jpconv/jis0208.h,
//                   the one copy of the set, which windows-31j reads too);
//   EUC-JP          ASCII, JIS X 0208 (two bytes), half-width katakana (0x8E
//                   and a byte) and JIS X 0212 (0x8F and two bytes, from the
//                   table JIS0212);
//   ISO-2022-JP     escape sequences (RFC 1468) switching between ASCII,
//                   JIS X 0201 Roman and JIS X 0208, over the same JIS X 0208
//                   tables; the mode is kept between calls. The decoder also
//                   reads JIS X 0212 after ESC $ ( D (RFC 2237, ISO-2022-JP-1),
//                   which the detector counts as ISO-2022-JP. An ESC that
//                   starts none of these escapes is malformed input and the
//                   bytes after it are read again; the encoder has no form
//                   for SO, SI and ESC themselves (they would shift).
//   ISO-2022-JP-2   in iso2022_jp2.cpp, over the same JIS tables
//                   (jpconv/jis_tables.h).
// Each converter is a step (common/step_shell.h): it stops before what it
// cannot convert and says why, and the shell around it applies the caller's
// actions. The decoders leave a character that the end of the input cuts
// short unconsumed (-1304), the encoders a high surrogate that ends the
// input, so that a stream may be split anywhere; the ISO-2022-JP encoder
// returns to ASCII only where the text ends.
#include <string.h>

#include <new>

#include "common/step_shell.h"
#include "common/units.h"
#include "jpconv/jis0208.h"
#include "jpconv/jis_tables.h"
#include "velta/table_module.h"
#include "velta/velta.h"

#if !defined(_WIN32)
#include "jpconv/tables.h"
#endif

#if defined(_WIN32)
#define JPCONV_EXPORT extern "C" __declspec(dllexport)
#else
#define JPCONV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using velta::cutAtEnd;
using velta::inputUsed;
using velta::loadUnit;
using velta::malformedAt;
using velta::newStepConverter;
using velta::outputFull;
using velta::restoreStepState;
using velta::saveStepState;
using velta::StepResult;
using velta::StepState;
using velta::storeUnit;
using velta::TStepShell;
using velta::unmappableAt;

namespace jis {

const char kUcs2Name[] = NLS_UCS2_NAME;
const char kShiftJisName[] = "Shift_JIS";
const char kEucJpName[] = "Extended_UNIX_Code_Packed_Format_for_Japanese";
const char kIso2022JpName[] = "ISO-2022-JP";

enum : unsigned short { kShiftJisCsid = 260, kEucJpCsid = 261, kIso2022JpCsid = 515 };
enum : uint16_t { kAsciiTable = 1, kKatakanaTable = 27, kJis0212Table = 30 };
enum { kEucKatakanaSlot = 1, kEucJis0212Slot = 2 };

resourceMapTable gResourceMap[] = {
    {kAsciiTable, {"JASCII.UF", 0, nullptr, nullptr}, {"JASCII.UT", 0, nullptr, nullptr}},
    {kKatakanaTable, {"JISKANA.UF", 0, nullptr, nullptr}, {"JISKANA.UT", 0, nullptr, nullptr}},
    {kJis0212Table, {"JIS0212.UF", 0, nullptr, nullptr}, {"JIS0212.UT", 0, nullptr, nullptr}},
    {0, {nullptr, 0, nullptr, nullptr}, {nullptr, 0, nullptr, nullptr}},
};

const UnicodeTableSlot kEmptySlot = {0, 0xFF, 0x00};
// JIS X 0208 has no table here (jpconv/jis0208.h). A set ends at its first
// empty slot.
const UnicodeTableSet kShiftJisSet = {kShiftJisCsid,
                                      {kEmptySlot, kEmptySlot, kEmptySlot, kEmptySlot}};
const UnicodeTableSet kEucJpSet = {kEucJpCsid,
                                   {{kAsciiTable, 0x00, 0x7F},
                                    {kKatakanaTable, 0x8E, 0x8E},
                                    {kJis0212Table, 0x8F, 0x8F},
                                    kEmptySlot}};
const UnicodeTableSet kIso2022JpSet = {
    kIso2022JpCsid, {{kJis0212Table, 0x21, 0x7E}, kEmptySlot, kEmptySlot, kEmptySlot}};

// The module whose resources hold the tables.
void* tableModule() {
    return NLS_LIBRARY_TABLE_MODULE(gJapaneseResources);
}

inline bool between(unsigned char b, unsigned char low, unsigned char high) {
    return low <= b && b <= high;
}

// A result through a table's index where it has one, else cell by cell;
// 0xFFFD where the table has none. (The lookups are TEncodingConverter's,
// reached through a class of its own.)
struct TableLookup : private TEncodingConverter {
    static uint16_t result(const uTable* table, const uint16_t* index, uint16_t code) {
        if (index != nullptr) return IndexedResult(index, code);
        uint16_t found;
        return LookupIndexedCode(nullptr, table, code, &found) ? found : 0xFFFD;
    }
};

uint16_t lookup(const uTable* table, const uint16_t* index, uint16_t code) {
    return TableLookup::result(table, index, code);
}

}  // namespace jis

namespace {

using namespace jis;

// Shift_JIS and EUC-JP to UCS-2 over the tables of their slots. A lead byte
// and the bytes after it are one character where the table maps them, else
// malformed; a byte after the lead that has no character with it is taken
// with it unless it is ASCII, which is read again (as the WHATWG decoders
// do): a failed trail is never read as a new lead that would take the ASCII
// after it. A lead that the end of the input parts from its trail bytes
// waits for them.
class TMultiByteToUnicodeConverter : public TStepShell<TMultiByteToUnicodeConverter> {
public:
    // The character at the start of the input: its bytes (0 where the input
    // ends inside it) and its unit (kNoCharacter for none).
    struct Read {
        uint32_t length;
        uint16_t unit;
    };
    // The tables of the slots and their indexes, found when the converter
    // is made, so that each character costs one step through an index.
    struct Tables {
        const uTable* tables[kTableSlots];
        const uint16_t* indexes[kTableSlots];
        const Jis0208* jis0208;
    };
    typedef Read (*ReadCharacter)(const Tables& tables, const unsigned char* source,
                                  uint32_t length);

    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    TMultiByteToUnicodeConverter(const char* from, const UnicodeTableSet* set, ReadCharacter read)
        : TStepShell(from, kUcs2Name, set, nullptr, nullptr, set->csid, 2, gResourceMap,
                     tableModule(), 0),
          fRead(read),
          fTables(indexedTables()) {}

    // The loop is compiled once per reader, so that reading a character
    // makes no call.
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool) {
        if (fRead == &readShiftJis)
            return stepWith<readShiftJis>(source, sourceLength, target, targetCapacity);
        return stepWith<readEucJp>(source, sourceLength, target, targetCapacity);
    }

    // ASCII, half-width katakana 0xA1-0xDF, else a lead 0x81-0x9F or
    // 0xE0-0xFC and a trail 0x40-0x7E or 0x80-0xFC: JIS X 0208 by its
    // pointer.
    static Read readShiftJis(const Tables& tables, const unsigned char* s, uint32_t n) {
        const unsigned char b = s[0];
        if (b < 0x80) return Read{1, b};
        if (between(b, 0xA1, 0xDF)) return Read{1, static_cast<uint16_t>(0xFF61 + b - 0xA1)};
        const uint16_t leadPart = kShiftJisPointers.ofLead[b];
        if (leadPart == kShiftJisPointers.kNone) return Read{1, kNoCharacter};
        if (n < 2) return Read{0, 0};
        const unsigned char trail = s[1];
        const uint16_t trailPart = kShiftJisPointers.ofTrail[trail];
        if (trailPart == kShiftJisPointers.kNone) return failedAt(trail, 2);
        const uint16_t unit = tables.jis0208->character(leadPart + trailPart);
        return unit != kNoCharacter ? Read{2, unit} : failedAt(trail, 2);
    }

    // ASCII, JIS X 0208, katakana after 0x8E, JIS X 0212 after 0x8F.
    static Read readEucJp(const Tables& tables, const unsigned char* s, uint32_t n) {
        const unsigned char b = s[0];
        if (b < 0x20) return Read{1, b};
        if (b < 0x80) return Read{1, lookupIn(tables, 0, b)};
        if (b != 0x8E && b != 0x8F && !eucByte(b)) return Read{1, kNoCharacter};
        if (n < 2) return Read{0, 0};
        const unsigned char next = s[1];
        uint16_t unit = kNoCharacter;
        if (b == 0x8E) {
            if (between(next, 0xA1, 0xDF)) unit = lookupIn(tables, kEucKatakanaSlot, next);
        } else if (b != 0x8F) {
            if (eucByte(next)) unit = tables.jis0208->characterOfCode(b, next);
        } else if (eucByte(next)) {
            if (n < 3) return Read{0, 0};
            if (eucByte(s[2])) unit = lookupIn(tables, kEucJis0212Slot, eucCode(next, s[2]));
            return unit != kNoCharacter ? Read{3, unit} : failedAt(s[2], 3);
        }
        return unit != kNoCharacter ? Read{2, unit} : failedAt(next, 2);
    }

private:
    static constexpr uint16_t kNoCharacter = 0xFFFD;

    template <ReadCharacter readCharacter>
    StepResult stepWith(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                        uint32_t targetCapacity) const {
        uint32_t in = 0, out = 0;
        while (in < sourceLength) {
            const Read read = readCharacter(fTables, source + in, sourceLength - in);
            if (read.length == 0) return cutAtEnd(in, out);
            if (read.unit == kNoCharacter) return malformedAt(in, out, read.length);
            if (targetCapacity - out < 2) return outputFull(in, out);
            storeUnit(target + out, read.unit);
            out += 2;
            in += read.length;
        }
        return inputUsed(in, out);
    }

    // The bytes up to `byte`, the `length`th, without a character: `byte`
    // with them unless it is ASCII.
    static Read failedAt(unsigned char byte, uint32_t length) {
        return Read{byte < 0x80 ? length - 1 : length, kNoCharacter};
    }
    static bool eucByte(unsigned char b) { return between(b, 0xA1, 0xFE); }
    static uint16_t eucCode(unsigned char high, unsigned char low) {
        return static_cast<uint16_t>((high << 8 | low) & 0x7F7F);
    }
    static uint16_t lookupIn(const Tables& tables, int slot, uint16_t code) {
        return lookup(tables.tables[slot], tables.indexes[slot], code);
    }
    Tables indexedTables() const {
        Tables tables;
        for (int slot = 0; slot < kTableSlots; ++slot) {
            tables.tables[slot] = fToUCS2Tables.tables[slot];
            tables.indexes[slot] = TableIndex(tables.tables[slot]);
        }
        tables.jis0208 = &Jis0208::standard();
        return tables;
    }

    ReadCharacter fRead;
    Tables fTables;
};

// ISO-2022-JP character sets, chosen by ESC ( B, ESC ( J, ESC ( I,
// ESC $ @ or ESC $ B, and ESC $ ( D.
enum Mode : uint8_t { kAscii, kRoman, kKatakana, kJis0208, kJis0212 };

const unsigned char kEscape = 0x1B;

// The escape into each mode that the encoder writes, and its length.
const char* const kEscapeInto[] = {"\x1B(B", "\x1B(J", "\x1B(I", "\x1B$B", "\x1B$(D"};
const uint32_t kEscapeLength[] = {3, 3, 3, 3, 4};

class TISO2022JPToUnicodeConverter : public TStepShell<TISO2022JPToUnicodeConverter> {
public:
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    TISO2022JPToUnicodeConverter()
        : TStepShell(kIso2022JpName, kUcs2Name, &kIso2022JpSet, nullptr, nullptr, kIso2022JpCsid, 2,
                     gResourceMap, tableModule(), 0),
          fJis0212Index(TableIndex(fToUCS2Tables.tables[0])),
          fJis0208(&Jis0208::standard()) {}
    void Reset() override { fMode = kAscii; }
    void saveState(StepState* state) const { saveStepState(fMode, state); }
    void restoreState(const StepState& state) { restoreStepState(&fMode, state); }

    // An escape changes the mode and writes nothing; an ESC that starts none
    // is malformed alone, and the bytes after it are read again.
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool) {
        uint32_t in = 0, out = 0;
        while (in < sourceLength) {
            if (source[in] == kEscape) {
                const Escape escape = readEscape(source + in, sourceLength - in);
                if (escape.length == 0) return cutAtEnd(in, out);
                if (escape.mode < 0) return malformedAt(in, out, 1);
                fMode = static_cast<Mode>(escape.mode);
                in += escape.length;
                continue;
            }
            if (fMode == kJis0208) {
                const uint32_t run = decodeJis0208Run(source + in, sourceLength - in, target + out,
                                                      targetCapacity - out);
                in += 2 * run;
                out += 2 * run;
                if (run != 0) continue;
            }
            const Read read = readCharacter(source + in, sourceLength - in);
            if (read.length == 0) return cutAtEnd(in, out);
            if (read.unit == 0xFFFD) return malformedAt(in, out, read.length);
            if (targetCapacity - out < 2) return outputFull(in, out);
            storeUnit(target + out, read.unit);
            out += 2;
            in += read.length;
        }
        return inputUsed(in, out);
    }

private:
    // The JIS X 0208 characters from `s` on while the room holds them, up to
    // a byte that is no lead or trail (a control, a space, an ESC), a code
    // without a character or the end of the input: the bulk of Japanese
    // text, without the mode's choice at every character. Returns them.
    uint32_t decodeJis0208Run(const unsigned char* s, uint32_t n, unsigned char* target,
                              uint32_t room) const {
        uint32_t k = 0;
        for (; n - 2 * k >= 2 && room - 2 * k >= 2; ++k) {
            const unsigned char lead = s[2 * k], trail = s[2 * k + 1];
            if (!between(lead, 0x21, 0x7E) || !between(trail, 0x21, 0x7E)) break;
            const uint16_t unit = fJis0208->characterOfCode(lead, trail);
            if (unit == Jis0208::kNone) break;
            storeUnit(target + 2 * k, unit);
        }
        return k;
    }

    // The character at the start of the input in the present mode: its
    // bytes (0 where the input ends inside it) and its unit (0xFFFD: none).
    struct Read {
        uint32_t length;
        uint16_t unit;
    };
    Read readCharacter(const unsigned char* s, uint32_t n) const {
        const unsigned char b = s[0];
        if (b < 0x21 || b == 0x7F) return Read{1, b};  // controls and space in every mode
        if (b >= 0x80) return Read{1, 0xFFFD};
        if (fMode == kJis0208 || fMode == kJis0212) {
            if (n < 2) return Read{0, 0};
            // A byte that is no trail is not taken: it may be a control, a
            // space or an ESC, and is read again.
            const unsigned char trail = s[1];
            if (!between(trail, 0x21, 0x7E)) return Read{1, 0xFFFD};
            if (fMode == kJis0208) return Read{2, fJis0208->characterOfCode(b, trail)};
            return Read{2, lookup(fToUCS2Tables.tables[0], fJis0212Index,
                                  static_cast<uint16_t>(b << 8 | trail))};
        }
        if (fMode == kKatakana) return Read{1, b <= 0x5F ? uint16_t(0xFF40 + b) : uint16_t(0xFFFD)};
        if (fMode == kRoman && b == 0x5C) return Read{1, 0x00A5};
        if (fMode == kRoman && b == 0x7E) return Read{1, 0x203E};
        return Read{1, b};
    }

    // What the bytes from an ESC on are: an escape of `length` bytes into
    // `mode`; the start of one that the end of the input cuts (length 0); or
    // no escape (mode -1, length 1: the ESC alone is malformed).
    struct Escape {
        uint32_t length;
        int mode;
    };
    static Escape readEscape(const unsigned char* s, uint32_t n) {
        static const struct {
            const char* bytes;
            Mode mode;
        } kEscapes[] = {{"\x1B(B", kAscii},   {"\x1B(J", kRoman},   {"\x1B(I", kKatakana},
                        {"\x1B$@", kJis0208}, {"\x1B$B", kJis0208}, {"\x1B$(B", kJis0208},
                        {"\x1B$(D", kJis0212}};
        bool cut = false;
        for (const auto& escape : kEscapes) {
            const uint32_t length = static_cast<uint32_t>(strlen(escape.bytes));
            if (memcmp(s, escape.bytes, n < length ? n : length) != 0) continue;
            if (n < length)
                cut = true;
            else
                return Escape{length, escape.mode};
        }
        return Escape{cut ? 0u : 1u, -1};
    }

    const uint16_t* fJis0212Index;
    const Jis0208* fJis0208;
    Mode fMode = kAscii;
};

// UCS-2 to ISO-2022-JP: ASCII, JIS X 0201 Roman for the yen sign and the
// overline, JIS X 0208 for the rest it holds. The mode is kept between
// calls and returns to ASCII only where the text ends; a character and the
// escape before it are written whole or not at all.
class TUnicodeToISO2022JPConverter : public TStepShell<TUnicodeToISO2022JPConverter> {
public:
    TUnicodeToISO2022JPConverter()
        : TStepShell(kUcs2Name, kIso2022JpName, &kIso2022JpSet, nullptr, nullptr, kIso2022JpCsid, 8,
                     gResourceMap, tableModule(), 1),
          fJis0208(&Jis0208::standard()) {}
    void Reset() override { fMode = kAscii; }
    void saveState(StepState* state) const { saveStepState(fMode, state); }
    void restoreState(const StepState& state) { restoreStepState(&fMode, state); }

    // A high surrogate that ends the input waits for its pair; a surrogate
    // pair is one character, which no set here holds.
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds) {
        const uint32_t units = sourceLength / 2;
        uint32_t out = 0;
        for (uint32_t position = 0; position < units; ++position) {
            const uint16_t unit = loadUnit(source + 2 * position);
            const Form form = formOf(unit);
            if (form.length == 0) return velta::lackedUnitAt(source, units, position, out);
            const uint32_t escape = form.mode == fMode ? 0 : kEscapeLength[form.mode];
            if (targetCapacity - out < escape + form.length) return outputFull(2 * position, out);
            out += switchTo(form.mode, target + out);
            for (uint32_t i = 0; i < form.length; ++i) target[out++] = form.bytes[i];
        }
        if (2 * units != sourceLength) return cutAtEnd(2 * units, out);
        if (textEnds && fMode != kAscii) {
            if (targetCapacity - out < kEscapeLength[kAscii]) return outputFull(sourceLength, out);
            out += switchTo(kAscii, target + out);
        }
        return inputUsed(sourceLength, out);
    }

private:
    // The mode a unit is written in and its bytes there; length 0 where no
    // set holds it.
    struct Form {
        Mode mode;
        uint8_t length;
        unsigned char bytes[2];
    };

    // JIS X 0201 Roman holds ASCII but for "\\" and "~", whose bytes there
    // are YEN SIGN and OVERLINE: those two switch back to ASCII, and so does
    // the end of a line, which RFC 1468 wants in ASCII.
    Form formOf(uint16_t unit) const {
        const Form none = {kAscii, 0, {0, 0}};
        if (isShiftOrEscape(unit)) return none;
        if (unit < 0x80) {
            const bool staysRoman =
                fMode == kRoman && unit != 0x5C && unit != 0x7E && unit != '\n' && unit != '\r';
            return Form{staysRoman ? kRoman : kAscii, 1, {static_cast<unsigned char>(unit), 0}};
        }
        if (unit == 0x00A5) return Form{kRoman, 1, {0x5C, 0}};
        if (unit == 0x203E) return Form{kRoman, 1, {0x7E, 0}};
        const uint16_t code = fJis0208->codeOf(unit);
        if (code == 0) return none;
        return Form{
            kJis0208, 2, {static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code)}};
    }

    // SO, SI and ESC would be read as shifts and escapes: ISO-2022-JP text
    // cannot carry them as characters (RFC 1468; the WHATWG encoder fails them).
    static bool isShiftOrEscape(uint16_t unit) {
        return unit == 0x0E || unit == 0x0F || unit == kEscape;
    }

    // Writes the escape into `mode` unless it is in force; returns its bytes.
    uint32_t switchTo(Mode mode, unsigned char* out) {
        if (mode == fMode) return 0;
        memcpy(out, kEscapeInto[mode], kEscapeLength[mode]);
        fMode = mode;
        return kEscapeLength[mode];
    }

    const Jis0208* fJis0208;
    Mode fMode = kAscii;
};

// The Shift_JIS bytes of every BMP character that has them (0x100 | a byte,
// or lead << 8 | trail, leads being 0x81 and above; 0 for none), laid out
// once so that a character costs one load: ASCII, YEN SIGN and OVERLINE as
// JIS X 0201 gives them (0x5C, 0x7E), as Python's shift_jis codec and glibc's
// SJIS write them, the half-width katakana, JIS X 0208. Built on first need,
// kept for the process.
struct ShiftJisCodes {
    static const uint16_t kOneByte = 0x100;
    static const uint16_t kFirstPair = 0x8140;
    uint16_t codeOf[0x10000];

    static const ShiftJisCodes& get() {
        static const ShiftJisCodes codes;
        return codes;
    }

private:
    ShiftJisCodes() : codeOf() {
        for (uint32_t unit = 0; unit < 0x80; ++unit)
            codeOf[unit] = static_cast<uint16_t>(kOneByte | unit);
        const Jis0208& jis0208 = Jis0208::standard();
        for (uint32_t unit = 0x80; unit <= 0xFFFF; ++unit) {
            uint32_t pointer;
            if (!jis0208.find(unit, &pointer)) continue;
            const uint32_t lead = pointer / 188, trail = pointer % 188;
            codeOf[unit] = static_cast<uint16_t>((lead + (lead < 0x1F ? 0x81 : 0xC1)) << 8 |
                                                 (trail + (trail < 0x3F ? 0x40 : 0x41)));
        }
        for (uint32_t unit = 0xFF61; unit <= 0xFF9F; ++unit)
            codeOf[unit] = static_cast<uint16_t>(kOneByte | (unit - 0xFF61 + 0xA1));
        codeOf[0x00A5] = kOneByte | 0x5C;
        codeOf[0x203E] = kOneByte | 0x7E;
    }
};

// UCS-2 to Shift_JIS or EUC-JP: ASCII as it is, half-width katakana, JIS X
// 0208, and for EUC-JP JIS X 0212 after 0x8F. Shift_JIS also writes YEN SIGN
// and OVERLINE as the bytes JIS X 0201 gives them (0x5C, 0x7E), as Python's
// shift_jis codec and glibc's SJIS do. A high surrogate that ends the input
// waits for its pair.
class TUnicodeToJisBytesConverter : public TStepShell<TUnicodeToJisBytesConverter> {
public:
    enum class Form { kShiftJis, kEucJp };

    TUnicodeToJisBytesConverter(Form form)
        : TStepShell(kUcs2Name, form == Form::kShiftJis ? kShiftJisName : kEucJpName,
                     form == Form::kShiftJis ? &kShiftJisSet : &kEucJpSet, nullptr, nullptr,
                     form == Form::kShiftJis ? kShiftJisCsid : kEucJpCsid,
                     form == Form::kShiftJis ? 2 : 3, gResourceMap, tableModule(), 1),
          fForm(form),
          fJis0208(&Jis0208::standard()),
          fShiftJis(form == Form::kShiftJis ? &ShiftJisCodes::get() : nullptr),
          fJis0212Index(TableIndex(fFromUCS2Tables.tables[kEucJis0212Slot])) {}

    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool) {
        const uint32_t units = sourceLength / 2;
        uint32_t position = 0, out = 0;
        if (fForm == Form::kShiftJis)
            shiftJisRun(source, units, &position, target, targetCapacity, &out);
        for (; position < units; ++position) {
            const uint16_t unit = loadUnit(source + 2 * position);
            unsigned char bytes[3];
            const uint32_t length =
                fForm == Form::kShiftJis ? shiftJisBytes(unit, bytes) : eucJpBytes(unit, bytes);
            if (length == 0) return velta::lackedUnitAt(source, units, position, out);
            if (targetCapacity - out < length) return outputFull(2 * position, out);
            for (uint32_t i = 0; i < length; ++i) target[out++] = bytes[i];
        }
        if (2 * units != sourceLength) return cutAtEnd(2 * units, out);
        return inputUsed(sourceLength, out);
    }

private:
    // Shift_JIS while the room left holds two bytes for every unit left,
    // so that no character checks it: stops before a character it lacks.
    void shiftJisRun(const unsigned char* source, uint32_t units, uint32_t* position,
                     unsigned char* target, uint32_t targetCapacity, uint32_t* out) const {
        const uint16_t* codes = fShiftJis->codeOf;
        uint32_t p = *position, o = *out;
        for (;;) {
            const uint32_t room = (targetCapacity - o) / 2;
            const uint32_t end = p + (units - p < room ? units - p : room);
            if (end == p) break;
            for (; p < end; ++p) {
                const uint16_t code = codes[loadUnit(source + 2 * p)];
                if (code >= ShiftJisCodes::kFirstPair) {
                    target[o] = static_cast<unsigned char>(code >> 8);
                    target[o + 1] = static_cast<unsigned char>(code);
                    o += 2;
                } else if (code != 0) {
                    target[o++] = static_cast<unsigned char>(code);
                } else {
                    *position = p;
                    *out = o;
                    return;
                }
            }
        }
        *position = p;
        *out = o;
    }

    uint32_t shiftJisBytes(uint16_t unit, unsigned char* bytes) const {
        const uint16_t code = fShiftJis->codeOf[unit];
        if (code == 0) return 0;
        if (code < ShiftJisCodes::kFirstPair) {
            bytes[0] = static_cast<unsigned char>(code);
            return 1;
        }
        bytes[0] = static_cast<unsigned char>(code >> 8);
        bytes[1] = static_cast<unsigned char>(code);
        return 2;
    }

    uint32_t eucJpBytes(uint16_t unit, unsigned char* bytes) const {
        if (unit < 0x80) {
            bytes[0] = static_cast<unsigned char>(unit);
            return 1;
        }
        if (unit >= 0xFF61 && unit <= 0xFF9F) {
            bytes[0] = 0x8E;
            bytes[1] = static_cast<unsigned char>(unit - 0xFF61 + 0xA1);
            return 2;
        }
        if (const uint16_t code = fJis0208->codeOf(unit)) {
            bytes[0] = static_cast<unsigned char>(code >> 8 | 0x80);
            bytes[1] = static_cast<unsigned char>(code | 0x80);
            return 2;
        }
        const uint16_t code = lookup(fFromUCS2Tables.tables[kEucJis0212Slot], fJis0212Index, unit);
        if (code == 0xFFFD) return 0;
        bytes[0] = 0x8F;
        bytes[1] = static_cast<unsigned char>(code >> 8 | 0x80);
        bytes[2] = static_cast<unsigned char>(code | 0x80);
        return 3;
    }

    Form fForm;
    const Jis0208* fJis0208;
    const ShiftJisCodes* fShiftJis;
    const uint16_t* fJis0212Index;
};

}  // namespace

JPCONV_EXPORT TEncodingConverter* NEWSHIFTJISTOUNICODE() {
    return newStepConverter<TMultiByteToUnicodeConverter>(
        kShiftJisName, &kShiftJisSet, &TMultiByteToUnicodeConverter::readShiftJis);
}

JPCONV_EXPORT TEncodingConverter* NEWUNICODETOSHIFTJIS() {
    return newStepConverter<TUnicodeToJisBytesConverter>(
        TUnicodeToJisBytesConverter::Form::kShiftJis);
}

JPCONV_EXPORT TEncodingConverter* NEWEUCJPTOUNICODE() {
    return newStepConverter<TMultiByteToUnicodeConverter>(kEucJpName, &kEucJpSet,
                                                          &TMultiByteToUnicodeConverter::readEucJp);
}

JPCONV_EXPORT TEncodingConverter* NEWUNICODETOEUCJP() {
    return newStepConverter<TUnicodeToJisBytesConverter>(TUnicodeToJisBytesConverter::Form::kEucJp);
}

JPCONV_EXPORT TEncodingConverter* NEWISO2022JPTOUNICODE() {
    return newStepConverter<TISO2022JPToUnicodeConverter>();
}

JPCONV_EXPORT TEncodingConverter* NEWUNICODETOISO2022JP() {
    return newStepConverter<TUnicodeToISO2022JPConverter>();
}
