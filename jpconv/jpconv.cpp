// jpconv: the Japanese converter library, loaded by the Velta registry from
// its data directory (jpconv3230.so, jpconv3230.dll). It derives its
// converters from the exported TEncodingConverter:
//   Shift_JIS       the table engines with the Shift_JIS cells (table id 4);
//   EUC-JP          the table engines with four slots: ASCII, JIS X 0208
//                   (two bytes), half-width katakana (0x8E and a byte) and
//                   JIS X 0212 (0x8F and two bytes);
//   ISO-2022-JP     escape sequences (RFC 1468) switching between ASCII,
//                   JIS X 0201 Roman and JIS X 0208, over the same JIS X 0208
//                   tables; the mode is kept between calls. The decoder also
//                   reads JIS X 0212 after ESC $ ( D (RFC 2237, ISO-2022-JP-1),
//                   which the detector counts as ISO-2022-JP.
// The decoders leave a character that the end of the input cuts short
// unconsumed and report -1304, the encoders a high surrogate that ends the
// input, so that a stream may be split anywhere; the ISO-2022-JP encoder
// returns to ASCII only where the text ends.
#include <string.h>

#include <new>

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

inline void storeUnit(unsigned char* p, uint16_t unit) {
    memcpy(p, &unit, 2);
}

inline bool isHighSurrogate(uint16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

inline bool isLowSurrogate(uint16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

inline bool appendUnitTerminator(unsigned char* target, uint32_t written, uint32_t capacity) {
    if (capacity < 2 || written > capacity - 2) return false;
    storeUnit(target + written, 0);
    return true;
}

// The table engine, holding back a character cut by the end of the input.
// Where a character is cut is found by reading the input as the engine does:
// a lead byte and the bytes after it are one character when the table maps
// them, else the lead byte alone is one U+FFFD and the next byte is read
// afresh; so a lead byte that the end of the input parts from its trail
// bytes waits for them, and no other.
class TMultiByteToUnicodeConverter : public TEncodingConverter, public TStreamConverter {
public:
    // The bytes of the input before a character that its end cuts short.
    typedef uint32_t (*CompleteLength)(const uTableSet& tables, const unsigned char* source,
                                       uint32_t length);

    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    TMultiByteToUnicodeConverter(const char* from, const UnicodeTableSet* set,
                                 CompleteLength complete)
        : TEncodingConverter(from, kUcs2Name, set, nullptr, nullptr, set->csid, 2, gResourceMap,
                             tableModule(), 0),
          fComplete(complete) {}

    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override {
        if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                    sourceConsumed))
            return NLS_INVALID_PARAMETER;
        // Only what the output can take is searched for a cut character, so
        // that a call does work in proportion to what it converts: a unit of
        // output comes from at most four bytes of input.
        const uint64_t reach = 2 * static_cast<uint64_t>(targetCapacity) + 8;
        const uint32_t window = reach < sourceLength ? static_cast<uint32_t>(reach) : sourceLength;
        const uint32_t complete = fComplete(fToUCS2Tables, source, window);
        if (complete == 0) {
            *targetLength = 0;
            *sourceConsumed = 0;
            const bool terminated = appendUnitTerminator(target, 0, targetCapacity);
            if (sourceLength == 0) return terminated ? NLS_SUCCESS : NLS_RESULT_TRUNCATED;
            return window < sourceLength ? NLS_RESULT_TRUNCATED : NLS_SEQUENCE_INCOMPLETE;
        }
        const NLS_Status status = TEncodingConverter::Convert(target, targetLength, targetCapacity,
                                                              source, complete, sourceConsumed);
        if (status == NLS_SUCCESS && complete < sourceLength)
            return window < sourceLength ? NLS_RESULT_TRUNCATED : NLS_SEQUENCE_INCOMPLETE;
        return status;
    }

    // A byte that cannot begin a character of several bytes ends one, as its
    // last byte or alone, so reading may start after the last such byte.
    static uint32_t completeShiftJis(const uTableSet& tables, const unsigned char* s, uint32_t n) {
        uint32_t i = afterLast(s, n, [](unsigned char b) { return !shiftJisLead(b); });
        while (i < n) {
            const unsigned char b = s[i];
            if (!shiftJisLead(b)) {
                ++i;
                continue;
            }
            if (i + 1 >= n) return i;
            const unsigned char next = s[i + 1];
            i += between(next, 0x40, 0xFC) &&
                         maps(tables.tables[0], static_cast<uint16_t>(b << 8 | next))
                     ? 2
                     : 1;
        }
        return n;
    }

    // Slots: ASCII, JIS X 0208, katakana after 0x8E, JIS X 0212 after 0x8F.
    static uint32_t completeEucJp(const uTableSet& tables, const unsigned char* s, uint32_t n) {
        uint32_t i =
            afterLast(s, n, [](unsigned char b) { return !eucByte(b) && b != 0x8E && b != 0x8F; });
        while (i < n) {
            const unsigned char b = s[i];
            if (b != 0x8E && b != 0x8F && !eucByte(b)) {
                ++i;
                continue;
            }
            if (i + 1 >= n) return i;
            const unsigned char next = s[i + 1];
            if (b == 0x8E) {
                i += between(next, 0xA1, 0xDF) && maps(tables.tables[2], next) ? 2 : 1;
            } else if (b != 0x8F) {
                i += eucByte(next) && maps(tables.tables[1], eucCode(b, next)) ? 2 : 1;
            } else if (!eucByte(next)) {
                ++i;
            } else {
                if (i + 2 >= n) return i;
                i += eucByte(s[i + 2]) && maps(tables.tables[3], eucCode(next, s[i + 2])) ? 3 : 1;
            }
        }
        return n;
    }

private:
    template <typename Isolated>
    static uint32_t afterLast(const unsigned char* s, uint32_t n, Isolated isolated) {
        for (uint32_t i = n; i > 0; --i)
            if (isolated(s[i - 1])) return i;
        return 0;
    }

    static bool shiftJisLead(unsigned char b) {
        return between(b, 0x81, 0x9F) || between(b, 0xE0, 0xFC);
    }
    static bool eucByte(unsigned char b) { return between(b, 0xA1, 0xFE); }
    static uint16_t eucCode(unsigned char high, unsigned char low) {
        return static_cast<uint16_t>((high << 8 | low) & 0x7F7F);
    }
    static bool maps(const uTable* table, uint16_t code) {
        uint16_t unit;
        return table != nullptr && LookupCode(table, code, &unit) && unit != 0xFFFD;
    }

    CompleteLength fComplete;
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
            if (b == kEscape) {
                const uint32_t length =
                    sourceLength - in >= 3 && source[in + 1] == '$' && source[in + 2] == '(' ? 4
                                                                                             : 3;
                if (sourceLength - in < length) {
                    status = NLS_SEQUENCE_INCOMPLETE;
                    break;
                }
                const int mode = length == 4 ? (source[in + 3] == 'D'   ? kJis0212
                                                : source[in + 3] == 'B' ? kJis0208
                                                                        : -1)
                                             : escapeMode(source[in + 1], source[in + 2]);
                if (mode >= 0) {
                    fMode = static_cast<Mode>(mode);
                    in += length;
                    continue;
                }
            }
            uint16_t unit;
            uint32_t length = 1;
            if (b < 0x21 || b == 0x7F) {
                unit = b;  // controls and space stand for themselves in every mode
            } else if (b >= 0x80) {
                unit = 0xFFFD;
            } else if (fMode == kJis0208 || fMode == kJis0212) {
                if (sourceLength - in < 2) {
                    status = status == NLS_SUCCESS ? NLS_SEQUENCE_INCOMPLETE : status;
                    break;
                }
                length = 2;
                const uint16_t code = static_cast<uint16_t>(b << 8 | source[in + 1]);
                const uTable* table = fToUCS2Tables.tables[fMode == kJis0208 ? 0 : 1];
                if (!LookupCode(table, code, &unit)) unit = 0xFFFD;
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
                if (b >= 0x80) status = NLS_INVALID_INPUT;
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
    static int escapeMode(unsigned char first, unsigned char second) {
        if (first == '(' && second == 'B') return kAscii;
        if (first == '(' && second == 'J') return kRoman;
        if (first == '(' && second == 'I') return kKatakana;
        if (first == '$' && (second == 'B' || second == '@')) return kJis0208;
        return -1;
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
    // A surrogate pair is one character with no JIS form: one "?".
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
                put('?');
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
    unsigned char fPending[16] = {};
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
                                              &TMultiByteToUnicodeConverter::completeShiftJis);
}

JPCONV_EXPORT TEncodingConverter* NEWUNICODETOSHIFTJIS() {
    return new (std::nothrow)
        TTableConverter(kUcs2Name, kShiftJisName, &kShiftJisSet, nullptr, nullptr, kShiftJisCsid, 2,
                        gResourceMap, tableModule(), 1);
}

JPCONV_EXPORT TEncodingConverter* NEWEUCJPTOUNICODE() {
    return make<TMultiByteToUnicodeConverter>(kEucJpName, &kEucJpSet,
                                              &TMultiByteToUnicodeConverter::completeEucJp);
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
