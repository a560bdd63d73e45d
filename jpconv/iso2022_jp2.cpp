// ISO-2022-JP-2 (RFC 1554) to and from UCS-2. Escapes choose the set of the
// bytes 0x21-0x7E: ASCII (ESC ( B), JIS X 0201 Roman (ESC ( J) and
// katakana (ESC ( I, as glibc reads and writes it), JIS X 0208 (ESC $ @,
// ESC $ B), JIS X 0212 (ESC $ ( D), GB 2312 (ESC $ A) and KS C 5601
// (ESC $ ( C); the high half of ISO-8859-1 (ESC . A) or ISO-8859-7
// (ESC . F) is designated to G2, whose characters each follow SS2 (ESC N)
// as a byte 0x20-0x7F. Controls and space read as themselves in every set.
//
// The encoder writes what glibc's iconv writes: a character in the set in
// force if that set has it, else in the G2 set designated if that has it,
// else in the first of JIS X 0201 Roman, JIS X 0208, JIS X 0212, ISO-8859-1,
// ISO-8859-7, GB 2312, KS C 5601 and JIS X 0201 katakana that has it;
// ASCII again before a line end and where the text ends; the G2
// designation again after a line end. The JIS tables are ISO-2022-JP's
// (jpconv/jis_tables.h), GB 2312 and KS C 5601 those of GB2312 and EUC-KR
// (cjkconv's headers), ISO-8859-7 the single-byte converter's
// (resources/single_byte/ISO-8859-7.txt).
#include <string.h>

#include "cjkconv/euc_kr.h"
#include "cjkconv/gb2312.h"
#include "codecs/single_byte_tables.h"
#include "common/step_shell.h"
#include "jpconv/jis0208.h"
#include "jpconv/jis_tables.h"

#if defined(_WIN32)
#define JPCONV_EXPORT extern "C" __declspec(dllexport)
#else
#define JPCONV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using velta::StepResult;
using velta::StepState;

const char kIso2022Jp2Name[] = "ISO-2022-JP-2";
const unsigned char kEscape = 0x1B;

// The sets, in the encoder's order of preference after the sets in force.
enum Set : uint8_t {
    kAscii,
    kRoman,
    kJis0208,
    kJis0212,
    kLatin1High,
    kGreekHigh,
    kGb2312,
    kKsc5601,
    kKatakana,
    kNoSet,
};

bool isG2(Set set) {
    return set == kLatin1High || set == kGreekHigh;
}

bool isTwoByte(Set set) {
    return set == kJis0208 || set == kJis0212 || set == kGb2312 || set == kKsc5601;
}

// The escapes, the encoder's first for each set.
struct Escape {
    const char* bytes;  // after ESC
    Set set;
};
const Escape kEscapes[] = {{"(B", kAscii},    {"(J", kRoman},      {"$B", kJis0208},
                           {"$(D", kJis0212}, {"$A", kGb2312},     {"$(C", kKsc5601},
                           {"(I", kKatakana}, {".A", kLatin1High}, {".F", kGreekHigh},
                           {"$@", kJis0208},  {"N", kNoSet}};

// The escape at `in` (ESC): its entry and length; length 0 where the input
// ends inside one, 1 with entry null where none starts here.
struct EscapeMatch {
    const Escape* escape;
    uint32_t length;
};
EscapeMatch matchEscape(const unsigned char* in, uint32_t length) {
    bool cut = false;
    for (const Escape& escape : kEscapes) {
        const uint32_t size = 1 + static_cast<uint32_t>(strlen(escape.bytes));
        const uint32_t compared = length < size ? length - 1 : size - 1;
        if (memcmp(in + 1, escape.bytes, compared) != 0) continue;
        if (length < size)
            cut = true;
        else
            return EscapeMatch{&escape, size};
    }
    return EscapeMatch{nullptr, cut ? 0u : 1u};
}

const Escape& escapeInto(Set set) {
    for (const Escape& escape : kEscapes)
        if (escape.set == set) return escape;
    return kEscapes[0];
}

uint32_t escapeLength(Set set) {
    return 1 + static_cast<uint32_t>(strlen(escapeInto(set).bytes));
}

// ISO-8859-7's table: the single-byte converters' own.
const velta::SingleByteTable* greekTable() {
    static const velta::SingleByteTable* const table = [] {
        for (uint32_t k = 0; k < velta::kSingleByteTableCount; ++k)
            if (strcmp(velta::kSingleByteTables[k].name, "ISO-8859-7") == 0)
                return &velta::kSingleByteTables[k];
        return static_cast<const velta::SingleByteTable*>(nullptr);
    }();
    return table;
}

// The character of a G2 byte (0x20-0x7F), 0 for none.
uint32_t highHalfCharacter(Set set, unsigned char byte) {
    const uint32_t high = byte | 0x80u;
    if (set == kLatin1High) return high >= 0xA0 ? high : 0;
    const velta::SingleByteTable* table = greekTable();
    if (table == nullptr || high < 0xA0) return 0;
    const uint16_t unit = table->units[high];
    return unit == 0xFFFD ? 0 : unit;
}

// The G2 byte of a character (0x20-0x7F), 0 for none.
unsigned char highHalfByte(Set set, uint16_t unit) {
    if (set == kLatin1High) return unit >= 0xA0 && unit <= 0xFF ? unit & 0x7F : 0;
    const velta::SingleByteTable* table = greekTable();
    if (table == nullptr) return 0;
    for (uint32_t high = 0xA0; high <= 0xFF; ++high)
        if (table->units[high] == unit) return static_cast<unsigned char>(high & 0x7F);
    return 0;
}

bool isSevenBitGraphic(unsigned char b) {
    return b >= 0x21 && b <= 0x7E;
}

// The decoder's and the encoder's state: the set of G0 and that of G2.
struct Sets {
    Set g0 = kAscii;
    Set g2 = kNoSet;
};

class TIso2022Jp2Decoder : public velta::TStepShell<TIso2022Jp2Decoder> {
public:
    TIso2022Jp2Decoder()
        : TStepShell(kIso2022Jp2Name, NLS_UCS2_NAME, &jis::kIso2022JpSet, nullptr, nullptr, 0, 2,
                     jis::gResourceMap, jis::tableModule(), 0),
          fJis0212Index(TableIndex(fToUCS2Tables.tables[0])),
          fJis0208(&jis::Jis0208::standard()) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fSets = Sets(); }
    void saveState(StepState* state) const { velta::saveStepState(fSets, state); }
    void restoreState(const StepState& state) { velta::restoreStepState(&fSets, state); }

    StepResult step(const unsigned char* in, uint32_t length, unsigned char* out, uint32_t capacity,
                    bool) {
        uint32_t i = 0, o = 0;
        while (i < length) {
            uint32_t read = 0, character = 0;
            if (in[i] == kEscape) {
                const EscapeMatch match = matchEscape(in + i, length - i);
                if (match.length == 0) return velta::cutAtEnd(i, o);
                if (match.escape == nullptr) return velta::malformedAt(i, o, 1);
                if (match.escape->set != kNoSet) {
                    (isG2(match.escape->set) ? fSets.g2 : fSets.g0) = match.escape->set;
                    i += match.length;
                    continue;
                }
                // SS2 and the one byte it takes from G2.
                if (fSets.g2 == kNoSet) return velta::malformedAt(i, o, 2);
                if (length - i < 3) return velta::cutAtEnd(i, o);
                if (in[i + 2] < 0x20 || in[i + 2] > 0x7F) return velta::malformedAt(i, o, 2);
                character = highHalfCharacter(fSets.g2, in[i + 2]);
                if (character == 0) return velta::malformedAt(i, o, 3);
                read = 3;
            } else {
                const unsigned char b = in[i];
                if (b >= 0x80) return velta::malformedAt(i, o, 1);
                read = 1;
                character = b;
                if (b >= 0x21 && b != 0x7F && fSets.g0 != kAscii) {
                    if (isTwoByte(fSets.g0) && length - i < 2) return velta::cutAtEnd(i, o);
                    // A byte that is no trail may be a control or an ESC: it
                    // is read again.
                    if (isTwoByte(fSets.g0) && !isSevenBitGraphic(in[i + 1]))
                        return velta::malformedAt(i, o, 1);
                    read = isTwoByte(fSets.g0) ? 2 : 1;
                    character = characterIn(fSets.g0, in + i);
                    if (character == 0) return velta::malformedAt(i, o, read);
                }
            }
            if (capacity - o < 2) return velta::outputFull(i, o);
            velta::storeUnit(out + o, static_cast<uint16_t>(character));
            o += 2;
            i += read;
        }
        return velta::inputUsed(i, o);
    }

private:
    // The character of the byte or two at `s` in a set of G0 other than
    // ASCII; 0 for none.
    uint32_t characterIn(Set set, const unsigned char* s) const {
        const unsigned char b = s[0];
        switch (set) {
            case kRoman:
                return b == 0x5C ? 0x00A5 : b == 0x7E ? 0x203E : b;
            case kKatakana:
                return b <= 0x5F ? 0xFF40u + b : 0;
            case kJis0208:
            case kJis0212: {
                const uint16_t unit = set == kJis0208
                                          ? fJis0208->characterOfCode(b, s[1])
                                          : jis::lookup(fToUCS2Tables.tables[0], fJis0212Index,
                                                        static_cast<uint16_t>(b << 8 | s[1]));
                return unit == 0xFFFD ? 0 : unit;
            }
            case kGb2312:
                return cjk::gb2312Character(b | 0x80u, s[1] | 0x80u);
            case kKsc5601:
                return cjk::eucKrCharacter(b | 0x80u, s[1] | 0x80u);
            default:
                return b;
        }
    }

    const uint16_t* fJis0212Index;
    const jis::Jis0208* fJis0208;
    Sets fSets;
};

class TIso2022Jp2Encoder : public velta::TStepShell<TIso2022Jp2Encoder> {
public:
    TIso2022Jp2Encoder()
        : TStepShell(NLS_UCS2_NAME, kIso2022Jp2Name, &jis::kIso2022JpSet, nullptr, nullptr, 0, 8,
                     jis::gResourceMap, jis::tableModule(), 1),
          fJis0212Index(TableIndex(fFromUCS2Tables.tables[0])),
          fJis0208(&jis::Jis0208::standard()),
          fGb2312(&cjk::Gb2312Layout::codes()),
          fKsc5601(&cjk::EucKrLayout::codes()) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fSets = Sets(); }
    void saveState(StepState* state) const { velta::saveStepState(fSets, state); }
    void restoreState(const StepState& state) { velta::restoreStepState(&fSets, state); }

    StepResult step(const unsigned char* in, uint32_t length, unsigned char* out, uint32_t capacity,
                    bool textEnds) {
        const uint32_t units = length / 2;
        uint32_t p = 0, o = 0;
        for (; p < units; ++p) {
            const uint16_t unit = velta::loadUnit(in + 2 * p);
            Form form;
            if (!formOf(unit, &form)) return velta::lackedUnitAt(in, units, p, o);
            if (capacity - o < bytesFor(form)) return velta::outputFull(2 * p, o);
            o += write(form, out + o);
            if (unit == '\n') fSets.g2 = kNoSet;  // designated again on the next line
        }
        if (2 * p != length) return velta::cutAtEnd(2 * p, o);
        if (textEnds) {
            if (fSets.g0 != kAscii && capacity - o < escapeLength(kAscii))
                return velta::outputFull(2 * p, o);
            o += switchTo(kAscii, out + o);
            fSets = Sets();
        }
        return velta::inputUsed(2 * p, o);
    }

private:
    struct Form {
        Set set;
        uint8_t length;
        unsigned char bytes[2];
    };

    // SO, SI and ESC would read as shifts and escapes; a line end returns
    // to ASCII, and "\\" and "~" do from JIS X 0201 Roman, whose bytes for
    // them are YEN SIGN and OVERLINE.
    bool formOf(uint16_t unit, Form* form) const {
        if (unit == 0x0E || unit == 0x0F || unit == kEscape) return false;
        if (unit < 0x80) {
            const bool staysRoman =
                fSets.g0 == kRoman && unit != 0x5C && unit != 0x7E && unit != '\n' && unit != '\r';
            *form = Form{staysRoman ? kRoman : kAscii, 1, {static_cast<unsigned char>(unit), 0}};
            return true;
        }
        if (fSets.g0 != kAscii && formIn(fSets.g0, unit, form)) return true;
        if (fSets.g2 != kNoSet && formIn(fSets.g2, unit, form)) return true;
        for (Set set = kRoman; set != kNoSet; set = static_cast<Set>(set + 1))
            if (formIn(set, unit, form)) return true;
        return false;
    }

    bool formIn(Set set, uint16_t unit, Form* form) const {
        unsigned char bytes[2] = {0, 0};
        switch (set) {
            case kRoman:
                if (unit != 0x00A5 && unit != 0x203E) return false;
                *form = Form{set, 1, {unit == 0x00A5 ? uint8_t(0x5C) : uint8_t(0x7E), 0}};
                return true;
            case kKatakana:
                if (unit < 0xFF61 || unit > 0xFF9F) return false;
                *form = Form{set, 1, {static_cast<unsigned char>(unit - 0xFF40), 0}};
                return true;
            case kJis0208:
            case kJis0212: {
                const uint16_t code =
                    set == kJis0208 ? fJis0208->codeOf(unit)
                                    : jis::lookup(fFromUCS2Tables.tables[0], fJis0212Index, unit);
                if (code == 0 || code == 0xFFFD) return false;
                *form =
                    Form{set,
                         2,
                         {static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code)}};
                return true;
            }
            case kGb2312:
            case kKsc5601: {
                const cjk::TwoByteCodes* codes = set == kGb2312 ? fGb2312 : fKsc5601;
                if (codes->write(unit, bytes) != 2 || bytes[0] < 0xA1 || bytes[1] < 0xA1)
                    return false;
                *form = Form{set,
                             2,
                             {static_cast<unsigned char>(bytes[0] & 0x7F),
                              static_cast<unsigned char>(bytes[1] & 0x7F)}};
                return true;
            }
            case kLatin1High:
            case kGreekHigh: {
                const unsigned char byte = highHalfByte(set, unit);
                if (byte == 0) return false;
                *form = Form{set, 1, {byte, 0}};
                return true;
            }
            default:
                return false;
        }
    }

    uint32_t bytesFor(const Form& form) const {
        if (isG2(form.set)) return (fSets.g2 == form.set ? 0 : escapeLength(form.set)) + 3;
        return (fSets.g0 == form.set ? 0 : escapeLength(form.set)) + form.length;
    }

    uint32_t write(const Form& form, unsigned char* out) {
        uint32_t o = 0;
        if (isG2(form.set)) {
            if (fSets.g2 != form.set) o += writeEscape(form.set, out);
            fSets.g2 = form.set;
            out[o++] = kEscape;
            out[o++] = 'N';
        } else {
            o += switchTo(form.set, out);
        }
        for (uint32_t k = 0; k < form.length; ++k) out[o++] = form.bytes[k];
        return o;
    }

    uint32_t switchTo(Set set, unsigned char* out) {
        if (fSets.g0 == set) return 0;
        fSets.g0 = set;
        return writeEscape(set, out);
    }

    static uint32_t writeEscape(Set set, unsigned char* out) {
        const Escape& escape = escapeInto(set);
        out[0] = kEscape;
        memcpy(out + 1, escape.bytes, strlen(escape.bytes));
        return escapeLength(set);
    }

    const uint16_t* fJis0212Index;  // from UCS-2
    const jis::Jis0208* fJis0208;
    const cjk::TwoByteCodes* fGb2312;
    const cjk::TwoByteCodes* fKsc5601;
    Sets fSets;
};

}  // namespace

JPCONV_EXPORT TEncodingConverter* NEWISO2022JP2TOUNICODE() {
    return velta::newStepConverter<TIso2022Jp2Decoder>();
}

JPCONV_EXPORT TEncodingConverter* NEWUNICODETOISO2022JP2() {
    return velta::newStepConverter<TIso2022Jp2Encoder>();
}
