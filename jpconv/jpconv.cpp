// jpconv: the Japanese converter library, loaded by the Velta registry from
// its data directory (jpconv3230.so, jpconv3230.dll). It derives its
// converters from the exported TEncodingConverter:
//   Shift_JIS       the Shift_JIS table (table id 4): decoded here, encoded
//                   by the table engine;
//   EUC-JP          four slots: ASCII, JIS X 0208 (two bytes), half-width
//                   katakana (0x8E and a byte) and JIS X 0212 (0x8F and two
//                   bytes): decoded here, encoded by the table engine;
//   ISO-2022-JP     escape sequences (RFC 1468) switching between ASCII,
//                   JIS X 0201 Roman and JIS X 0208, over the same JIS X 0208
//                   tables; the mode is kept between calls. The decoder also
//                   reads JIS X 0212 after ESC $ ( D (RFC 2237, ISO-2022-JP-1),
//                   which the detector counts as ISO-2022-JP. An ESC that
//                   starts none of these escapes is malformed input and the
//                   bytes after it are read again; the encoder has no form
//                   for SO, SI and ESC themselves (they would shift).
// The decoders leave a character that the end of the input cuts short
// unconsumed and report -1304, the encoders a high surrogate that ends the
// input, so that a stream may be split anywhere; the ISO-2022-JP encoder
// returns to ASCII only where the text ends.
#include <string.h>

#include <new>

#include "common/transliteration.h"
#include "common/units.h"
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

using velta::appendUnitTerminator;
using velta::isHighSurrogate;
using velta::isLowSurrogate;
using velta::storeUnit;

namespace {

const char kUcs2Name[] = NLS_UCS2_NAME;
const char kShiftJisName[] = "Shift_JIS";
const char kEucJpName[] = "Extended_UNIX_Code_Packed_Format_for_Japanese";
const char kIso2022JpName[] = "ISO-2022-JP";

enum : unsigned short { kShiftJisCsid = 260, kEucJpCsid = 261, kIso2022JpCsid = 515 };
enum : uint16_t {
    kAsciiTable = 1,
    kShiftJisTable = 4,
    kJis0208Table = 8,
    kKatakanaTable = 27,
    kJis0212Table = 30
};

resourceMapTable gResourceMap[] = {
    {kAsciiTable, {"JASCII.UF", 0, nullptr, nullptr}, {"JASCII.UT", 0, nullptr, nullptr}},
    {kShiftJisTable, {"SJIS.UF", 0, nullptr, nullptr}, {"SJIS.UT", 0, nullptr, nullptr}},
    {kJis0208Table, {"JIS0208.UF", 0, nullptr, nullptr}, {"JIS0208.UT", 0, nullptr, nullptr}},
    {kKatakanaTable, {"JISKANA.UF", 0, nullptr, nullptr}, {"JISKANA.UT", 0, nullptr, nullptr}},
    {kJis0212Table, {"JIS0212.UF", 0, nullptr, nullptr}, {"JIS0212.UT", 0, nullptr, nullptr}},
    {0, {nullptr, 0, nullptr, nullptr}, {nullptr, 0, nullptr, nullptr}},
};

const UnicodeTableSlot kEmptySlot = {0, 0xFF, 0x00};
const UnicodeTableSet kShiftJisSet = {
    kShiftJisCsid, {{kShiftJisTable, 0x00, 0xFF}, kEmptySlot, kEmptySlot, kEmptySlot}};
const UnicodeTableSet kEucJpSet = {kEucJpCsid,
                                   {{kAsciiTable, 0x00, 0x7F},
                                    {kJis0208Table, 0xA1, 0xFE},
                                    {kKatakanaTable, 0x8E, 0x8E},
                                    {kJis0212Table, 0x8F, 0x8F}}};
const UnicodeTableSet kIso2022JpSet = {
    kIso2022JpCsid,
    {{kJis0208Table, 0x21, 0x7E}, {kJis0212Table, 0x21, 0x7E}, kEmptySlot, kEmptySlot}};

// The module whose resources hold the tables.
void* tableModule() {
    return NLS_LIBRARY_TABLE_MODULE(gJapaneseResources);
}

inline bool between(unsigned char b, unsigned char low, unsigned char high) {
    return low <= b && b <= high;
}

// Shift_JIS and EUC-JP to UCS-2 over the tables of their slots. A lead byte
// and the bytes after it are one character where the table maps them, else
// one U+FFFD; a byte after the lead that has no character with it is taken
// with it unless it is ASCII, which is read again (as the WHATWG decoders
// do): a failed trail is never read as a new lead that would take the ASCII
// after it. A lead that the end of the input parts from its trail bytes
// waits for them (-1304).
class TMultiByteToUnicodeConverter : public TEncodingConverter, public TStreamConverter {
public:
    // The character at the start of the input: its bytes (0 where the input
    // ends inside it) and its unit (kNoCharacter for none).
    struct Read {
        uint32_t length;
        uint16_t unit;
    };
    // The tables of the slots and their indexes, found once a call so that
    // each character costs one step through an index.
    struct Tables {
        const uTable* tables[kTableSlots];
        const uint16_t* indexes[kTableSlots];
    };
    typedef Read (*ReadCharacter)(const Tables& tables, const unsigned char* source,
                                  uint32_t length);

    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    TMultiByteToUnicodeConverter(const char* from, const UnicodeTableSet* set, ReadCharacter read)
        : TEncodingConverter(from, kUcs2Name, set, nullptr, nullptr, set->csid, 2, gResourceMap,
                             tableModule(), 0),
          fRead(read) {}

    // The loop is compiled once per reader, so that reading a character
    // makes no call.
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override {
        if (fRead == &readShiftJis)
            return convertWith<readShiftJis>(target, targetLength, targetCapacity, source,
                                             sourceLength, sourceConsumed);
        return convertWith<readEucJp>(target, targetLength, targetCapacity, source, sourceLength,
                                      sourceConsumed);
    }

    template <ReadCharacter readCharacter>
    NLS_Status convertWith(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                           const unsigned char* source, uint32_t sourceLength,
                           uint32_t* sourceConsumed) {
        if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                    sourceConsumed))
            return NLS_INVALID_PARAMETER;
        uint32_t in = 0, out = 0;
        NLS_Status status = NLS_SUCCESS;
        const Tables tables = indexedTables();
        while (in < sourceLength) {
            const Read read = readCharacter(tables, source + in, sourceLength - in);
            if (read.length == 0) {
                status = NLS_SEQUENCE_INCOMPLETE;
                break;
            }
            const bool room = targetCapacity - out >= 4;  // the unit and the terminator
            if (read.unit == kNoCharacter) {
                const int32_t policy = SubstituteIfRoom(NLS_MALFORMED_INPUT, in, room);
                if (policy == kNoRoom) {
                    status = NLS_RESULT_TRUNCATED;
                    break;
                }
                if (policy == NLS_POLICY_STOP) {
                    status = NLS_INVALID_INPUT;
                    break;
                }
                if (policy == NLS_POLICY_SKIP) {
                    in += read.length;
                    continue;
                }
            } else if (!room) {
                status = NLS_RESULT_TRUNCATED;
                break;
            }
            storeUnit(target + out, read.unit);
            out += 2;
            in += read.length;
        }
        *targetLength = out;
        *sourceConsumed = in;
        if (!appendUnitTerminator(target, out, targetCapacity)) return NLS_RESULT_TRUNCATED;
        return status;
    }

    // One table: lead bytes 0x81-0x9F and 0xE0-0xFC and a trail, else one byte.
    static Read readShiftJis(const Tables& tables, const unsigned char* s, uint32_t n) {
        const unsigned char b = s[0];
        if (b < 0x20) return Read{1, b};
        if (!between(b, 0x81, 0x9F) && !between(b, 0xE0, 0xFC))
            return Read{1, lookup(tables, 0, b)};
        if (n < 2) return Read{0, 0};
        const uint16_t unit = lookup(tables, 0, static_cast<uint16_t>(b << 8 | s[1]));
        return unit != kNoCharacter ? Read{2, unit} : failedAt(s[1], 2);
    }

    // Slots: ASCII, JIS X 0208, katakana after 0x8E, JIS X 0212 after 0x8F.
    static Read readEucJp(const Tables& tables, const unsigned char* s, uint32_t n) {
        const unsigned char b = s[0];
        if (b < 0x20) return Read{1, b};
        if (b < 0x80) return Read{1, lookup(tables, 0, b)};
        if (b != 0x8E && b != 0x8F && !eucByte(b)) return Read{1, kNoCharacter};
        if (n < 2) return Read{0, 0};
        const unsigned char next = s[1];
        uint16_t unit = kNoCharacter;
        if (b == 0x8E) {
            if (between(next, 0xA1, 0xDF)) unit = lookup(tables, 2, next);
        } else if (b != 0x8F) {
            if (eucByte(next)) unit = lookup(tables, 1, eucCode(b, next));
        } else if (eucByte(next)) {
            if (n < 3) return Read{0, 0};
            if (eucByte(s[2])) unit = lookup(tables, 3, eucCode(next, s[2]));
            return unit != kNoCharacter ? Read{3, unit} : failedAt(s[2], 3);
        }
        return unit != kNoCharacter ? Read{2, unit} : failedAt(next, 2);
    }

private:
    static constexpr uint16_t kNoCharacter = 0xFFFD;

    // The bytes up to `byte`, the `length`th, without a character: `byte`
    // with them unless it is ASCII.
    static Read failedAt(unsigned char byte, uint32_t length) {
        return Read{byte < 0x80 ? length - 1 : length, kNoCharacter};
    }
    static bool eucByte(unsigned char b) { return between(b, 0xA1, 0xFE); }
    static uint16_t eucCode(unsigned char high, unsigned char low) {
        return static_cast<uint16_t>((high << 8 | low) & 0x7F7F);
    }
    static uint16_t lookup(const Tables& tables, int slot, uint16_t code) {
        if (tables.indexes[slot] != nullptr) return IndexedResult(tables.indexes[slot], code);
        uint16_t unit;
        return LookupIndexedCode(nullptr, tables.tables[slot], code, &unit) ? unit : kNoCharacter;
    }
    Tables indexedTables() const {
        Tables tables;
        for (int slot = 0; slot < kTableSlots; ++slot) {
            tables.tables[slot] = fToUCS2Tables.tables[slot];
            tables.indexes[slot] = TableIndex(tables.tables[slot]);
        }
        return tables;
    }

    ReadCharacter fRead;
};

// ISO-2022-JP character sets, chosen by ESC ( B, ESC ( J, ESC ( I,
// ESC $ @ or ESC $ B, and ESC $ ( D.
enum Mode { kAscii, kRoman, kKatakana, kJis0208, kJis0212 };

const unsigned char kEscape = 0x1B;

class TISO2022JPToUnicodeConverter : public TEncodingConverter, public TStreamConverter {
public:
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    TISO2022JPToUnicodeConverter()
        : TEncodingConverter(kIso2022JpName, kUcs2Name, &kIso2022JpSet, nullptr, nullptr,
                             kIso2022JpCsid, 2, gResourceMap, tableModule(), 0) {}
    void Reset() override { fMode = kAscii; }

    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override {
        if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                    sourceConsumed))
            return NLS_INVALID_PARAMETER;
        NLS_Status status = NLS_SUCCESS;
        uint32_t in = 0, out = 0;
        while (in < sourceLength) {
            const unsigned char b = source[in];
            uint16_t unit;
            uint32_t length = 1;
            if (b == kEscape) {
                const Escape escape = readEscape(source + in, sourceLength - in);
                if (escape.length == 0) {
                    status = NLS_SEQUENCE_INCOMPLETE;
                    break;
                }
                if (escape.mode >= 0) {
                    fMode = static_cast<Mode>(escape.mode);
                    in += escape.length;
                    continue;
                }
                unit = 0xFFFD;  // an ESC that starts no escape; the bytes after it are read again
            } else if (b < 0x21 || b == 0x7F) {
                unit = b;  // controls and space stand for themselves in every mode
            } else if (b >= 0x80) {
                unit = 0xFFFD;
            } else if (fMode == kJis0208 || fMode == kJis0212) {
                if (sourceLength - in < 2) {
                    status = status == NLS_SUCCESS ? NLS_SEQUENCE_INCOMPLETE : status;
                    break;
                }
                // A byte that is no trail is not taken: it may be a control,
                // a space or an ESC, and is read again.
                const unsigned char trail = source[in + 1];
                length = between(trail, 0x21, 0x7E) ? 2 : 1;
                const uint16_t code = static_cast<uint16_t>(b << 8 | trail);
                const uTable* table = fToUCS2Tables.tables[fMode == kJis0208 ? 0 : 1];
                if (length == 1 || !LookupCode(table, code, &unit)) unit = 0xFFFD;
            } else if (fMode == kKatakana) {
                unit = b <= 0x5F ? static_cast<uint16_t>(0xFF40 + b) : 0xFFFD;
            } else if (fMode == kRoman && (b == 0x5C || b == 0x7E)) {
                unit = b == 0x5C ? 0x00A5 : 0x203E;
            } else {
                unit = b;
            }
            if (unit == 0xFFFD) {
                const int32_t policy =
                    SubstituteIfRoom(NLS_MALFORMED_INPUT, in, targetCapacity - out >= 2);
                if (policy == NLS_POLICY_STOP) {
                    status = NLS_INVALID_INPUT;
                    break;
                }
                if (policy == NLS_POLICY_SKIP) {
                    in += length;
                    continue;
                }
            }
            if (targetCapacity - out < 2) {
                if (status == NLS_SEQUENCE_INCOMPLETE) status = NLS_SUCCESS;
                status = status == NLS_SUCCESS ? NLS_OUTPUT_FULL : status;
                break;
            }
            storeUnit(target + out, unit);
            out += 2;
            in += length;
        }
        *targetLength = out;
        *sourceConsumed = in;
        if (!appendUnitTerminator(target, out, targetCapacity)) return NLS_RESULT_TRUNCATED;
        if (status == NLS_OUTPUT_FULL) return NLS_RESULT_TRUNCATED;
        return status;
    }

private:
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

    Mode fMode = kAscii;
};

class TUnicodeToISO2022JPConverter : public TEncodingConverter, public TStreamConverter {
public:
    TUnicodeToISO2022JPConverter()
        : TEncodingConverter(kUcs2Name, kIso2022JpName, &kIso2022JpSet, nullptr, nullptr,
                             kIso2022JpCsid, 8, gResourceMap, tableModule(), 1) {}
    void Reset() override {
        fMode = kAscii;
        fPendingCount = 0;
    }

    // Every unit is consumed whole; bytes that do not fit are kept and
    // written first by the next call. The end of the text returns to ASCII.
    // A surrogate pair is one character with no JIS form: one "?". A
    // character without a JIS form is "?" or its ASCII stand-in.
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override {
        if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                    sourceConsumed))
            return NLS_INVALID_PARAMETER;
        fTarget = target;
        fCapacity = targetCapacity;
        fWritten = 0;
        const uint32_t units = sourceLength / 2;
        uint32_t position = 0;
        NLS_Status status = NLS_SUCCESS;
        if (flushPending()) {
            for (; position < units && fPendingCount == 0; ++position) {
                uint16_t unit;
                memcpy(&unit, source + 2 * position, 2);
                uint32_t taken = 1;
                if (isHighSurrogate(unit)) {
                    if (position + 1 == units) {
                        status = NLS_SEQUENCE_INCOMPLETE;
                        break;
                    }
                    uint16_t next;
                    memcpy(&next, source + 2 * position + 2, 2);
                    if (isLowSurrogate(next)) taken = 2;
                }
                if (taken == 1 && encode(unit)) continue;
                const int32_t policy = SubstituteUnmappable(taken == 1 ? unit : 0, 2 * position);
                if (policy == NLS_POLICY_STOP) {
                    status = NLS_UNMAPPABLE;
                    break;
                }
                position += taken - 1;
                if (policy == NLS_POLICY_SKIP) continue;
                switchTo(kAscii);
                for (const char* p = velta::substituteFor(policy, taken == 1 ? unit : 0xFFFD);
                     *p != 0; ++p)
                    put(static_cast<unsigned char>(*p));
            }
            if (position == units && InputEnds()) switchTo(kAscii);
        }
        *targetLength = fWritten;
        *sourceConsumed = 2 * position;
        if (fPendingCount != 0 || fWritten >= fCapacity) return NLS_RESULT_TRUNCATED;
        target[fWritten] = 0;
        if (status != NLS_SUCCESS) return status;
        return 2 * position == sourceLength ? NLS_SUCCESS : NLS_RESULT_TRUNCATED;
    }

private:
    // JIS X 0201 Roman holds ASCII but for "\\" and "~", whose bytes there
    // are YEN SIGN and OVERLINE: those two switch back to ASCII, and so does
    // the end of a line, which RFC 1468 wants in ASCII. False, with nothing
    // written, for a unit no set holds.
    bool encode(uint16_t unit) {
        if (isShiftOrEscape(unit)) return false;
        if (unit < 0x80) {
            if (fMode != kRoman || unit == 0x5C || unit == 0x7E || unit == '\n' || unit == '\r')
                switchTo(kAscii);
            put(static_cast<unsigned char>(unit));
            return true;
        }
        if (unit == 0x00A5 || unit == 0x203E) {
            switchTo(kRoman);
            put(unit == 0x00A5 ? 0x5C : 0x7E);
            return true;
        }
        uint16_t code;
        if (!LookupCode(fFromUCS2Tables.tables[0], unit, &code) || code == 0xFFFD) return false;
        switchTo(kJis0208);
        put(static_cast<unsigned char>(code >> 8));
        put(static_cast<unsigned char>(code));
        return true;
    }

    // SO, SI and ESC would be read as shifts and escapes: ISO-2022-JP text
    // cannot carry them as characters (RFC 1468; the WHATWG encoder fails them).
    static bool isShiftOrEscape(uint16_t unit) {
        return unit == 0x0E || unit == 0x0F || unit == kEscape;
    }

    void switchTo(Mode mode) {
        if (mode == fMode) return;
        static const char* const kEscapes[] = {"\x1B(B", "\x1B(J", "\x1B(I", "\x1B$B", "\x1B$(D"};
        for (const char* p = kEscapes[mode]; *p != 0; ++p) put(static_cast<unsigned char>(*p));
        fMode = mode;
    }

    void put(unsigned char byte) {
        if (fPendingCount == 0 && fWritten < fCapacity)
            fTarget[fWritten++] = byte;
        else if (fPendingCount < sizeof fPending)
            fPending[fPendingCount++] = byte;
    }

    bool flushPending() {
        uint32_t delivered = 0;
        while (delivered < fPendingCount && fWritten < fCapacity)
            fTarget[fWritten++] = fPending[delivered++];
        memmove(fPending, fPending + delivered, fPendingCount - delivered);
        fPendingCount -= delivered;
        return fPendingCount == 0;
    }

    Mode fMode = kAscii;
    unsigned char fPending[32] = {};  // an escape and the longest stand-in
    uint32_t fPendingCount = 0;
    unsigned char* fTarget = nullptr;
    uint32_t fCapacity = 0;
    uint32_t fWritten = 0;
};

template <typename Converter, typename... Arguments>
TEncodingConverter* make(Arguments... arguments) {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) Converter(arguments...);
}

}  // namespace

JPCONV_EXPORT TEncodingConverter* NEWSHIFTJISTOUNICODE() {
    return make<TMultiByteToUnicodeConverter>(kShiftJisName, &kShiftJisSet,
                                              &TMultiByteToUnicodeConverter::readShiftJis);
}

JPCONV_EXPORT TEncodingConverter* NEWUNICODETOSHIFTJIS() {
    return new (std::nothrow)
        TTableConverter(kUcs2Name, kShiftJisName, &kShiftJisSet, nullptr, nullptr, kShiftJisCsid, 2,
                        gResourceMap, tableModule(), 1);
}

JPCONV_EXPORT TEncodingConverter* NEWEUCJPTOUNICODE() {
    return make<TMultiByteToUnicodeConverter>(kEucJpName, &kEucJpSet,
                                              &TMultiByteToUnicodeConverter::readEucJp);
}

JPCONV_EXPORT TEncodingConverter* NEWUNICODETOEUCJP() {
    return new (std::nothrow) TTableConverter(kUcs2Name, kEucJpName, &kEucJpSet, nullptr, nullptr,
                                              kEucJpCsid, 3, gResourceMap, tableModule(), 1);
}

JPCONV_EXPORT TEncodingConverter* NEWISO2022JPTOUNICODE() {
    return make<TISO2022JPToUnicodeConverter>();
}

JPCONV_EXPORT TEncodingConverter* NEWUNICODETOISO2022JP() {
    return make<TUnicodeToISO2022JPConverter>();
}
