// The table-driven engines of the base converter: bytes of a character set to
// UCS-2 and back, trying up to four tables (each with its byte form) in slot
// order for every character. Neither keeps state between calls.
#include "converters/table_engine.h"

#include <string.h>

#include <new>

#include "common/text_kernels.h"
#include "common/units.h"
#include "converters/mapping_tables.h"
#include "velta/converter.h"

using namespace velta;

namespace {

const uint16_t kNoMapping = 0xFFFD;

struct ReadCode {
    uint16_t code;
    uint32_t length;
};

inline bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// EUC trail bytes: the code's 7-bit value with the high bit set.
inline bool isEucTrail(unsigned char b) {
    return b >= 0xA1 && b <= 0xFE;
}

// Whether the bytes after the first are ones the cell's method can end a
// character with: the cell's box of low bytes for raw and 0x8E forms, a set
// high bit for EUC forms, 10xxxxxx for the UTF-8-like forms. A lead byte
// followed by anything else is read as one byte, so the byte after it is
// read afresh and never swallowed.
bool trailFits(const uByteFormCell& cell, const unsigned char* p) {
    switch (cell.method) {
        case 1:
        case 3:
            return cell.minLow <= p[1] && p[1] <= cell.maxLow;
        case 2:
            return (p[1] & 0x80) != 0;
        case 4:
            return isContinuation(p[1]);
        case 5:
            return isContinuation(p[1]) && isContinuation(p[2]);
        default:
            return true;
    }
}

// Reads the code at p by a cell's method; the cell's length bounds the read.
bool readByCell(const uByteFormCell& cell, const unsigned char* p, uint32_t remaining,
                ReadCode* read) {
    static const uint8_t kBytesRead[6] = {1, 2, 2, 2, 2, 3};
    if (cell.method > 5 || cell.length < kBytesRead[cell.method] || remaining < cell.length ||
        !trailFits(cell, p))
        return false;
    uint32_t code;
    switch (cell.method) {
        case 0:
            code = p[0];
            break;
        case 1:
            code = p[0] * 256u + p[1];
            break;
        case 2:
            code = (p[0] * 256u + p[1]) & 0x7F7F;
            break;
        case 3:
            code = p[1];
            break;
        case 4:
            code = ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu);
            break;
        default:
            code = ((p[0] & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
            break;
    }
    *read = {static_cast<uint16_t>(code), cell.length};
    return true;
}

bool readByForm(const uByteFormTable& form, const unsigned char* p, uint32_t remaining,
                ReadCode* read) {
    const unsigned char b = p[0];
    switch (form.kind) {
        case kSingleByte:
            *read = {b, 1};
            return true;
        case kDoubleByte:
            if (remaining < 2) return false;
            *read = {static_cast<uint16_t>(b * 256u + p[1]), 2};
            return true;
        case kCellList:
            for (int i = 0; i < form.cellCount && i < kMaxByteFormCells; ++i) {
                const uByteFormCell& cell = form.cells[i];
                if (cell.firstLow <= b && b <= cell.firstHigh)
                    return readByCell(cell, p, remaining, read);
            }
            return false;
        case kEucDoubleByte:
            if (remaining < 2 || !isEucTrail(p[1])) return false;
            *read = {static_cast<uint16_t>((b * 256u + p[1]) & 0x7F7F), 2};
            return true;
        case kEucThreeByte:
            if (remaining < 3 || b != 0x8F || !isEucTrail(p[1]) || !isEucTrail(p[2])) return false;
            *read = {static_cast<uint16_t>((p[1] * 256u + p[2]) & 0x7F7F), 3};
            return true;
        case kEucFourByte:
            if (remaining < 4 || b != 0x8E || p[1] != 0xA2 || !isEucTrail(p[2]) ||
                !isEucTrail(p[3]))
                return false;
            *read = {static_cast<uint16_t>((p[2] * 256u + p[3]) & 0x7F7F), 4};
            return true;
        default:
            return false;
    }
}

// Writes a code by a cell's method; false when the method or length is unusable.
uint32_t writeByCell(const uByteFormCell& cell, uint16_t code, unsigned char* out) {
    const unsigned char high = static_cast<unsigned char>(code >> 8);
    const unsigned char low = static_cast<unsigned char>(code);
    static const uint8_t kBytesWritten[6] = {1, 2, 2, 2, 2, 3};
    if (cell.method > 5 || cell.length != kBytesWritten[cell.method]) return 0;
    switch (cell.method) {
        case 0:
            out[0] = low;
            break;
        case 1:
            out[0] = high;
            out[1] = low;
            break;
        case 2:
            out[0] = high | 0x80;
            out[1] = low | 0x80;
            break;
        case 3:
            out[0] = 0x8E;
            out[1] = low;
            break;
        case 4:
            out[0] = static_cast<unsigned char>(0xC0 | ((code >> 6) & 0x1F));
            out[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            break;
        default:
            out[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
            out[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
            out[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            break;
    }
    return cell.length;
}

// The bytes of a code by a byte form, into out (at least 4 bytes); 0 when the
// form cannot write it.
uint32_t writeByForm(const uByteFormTable& form, uint16_t code, unsigned char* out) {
    const unsigned char high = static_cast<unsigned char>(code >> 8);
    const unsigned char low = static_cast<unsigned char>(code);
    switch (form.kind) {
        case kSingleByte:
            out[0] = low;
            return 1;
        case kDoubleByte:
            out[0] = high;
            out[1] = low;
            return 2;
        case kCellList:
            for (int i = 0; i < form.cellCount && i < kMaxByteFormCells; ++i) {
                const uByteFormCell& cell = form.cells[i];
                if (cell.minHigh <= high && high <= cell.maxHigh && cell.minLow <= low &&
                    low <= cell.maxLow)
                    return writeByCell(cell, code, out);
            }
            return 0;
        case kEucDoubleByte:
            out[0] = high | 0x80;
            out[1] = low | 0x80;
            return 2;
        case kEucThreeByte:
            out[0] = 0x8F;
            out[1] = high | 0x80;
            out[2] = low | 0x80;
            return 3;
        case kEucFourByte:
            out[0] = 0x8E;
            out[1] = 0xA2;
            out[2] = high | 0x80;
            out[3] = low | 0x80;
            return 4;
        default:
            return 0;
    }
}

// The expanded table of a set that is one single-byte table tried for every
// first byte, or null when the set is anything else.
// Text with a few letters outside ASCII (Latin text: about one in ten) has
// runs too short for a kernel call to pay; they go through the table. A run
// is taken for long when the next sixteen characters are ASCII, all of them:
// a look at the first and the sixteenth alone sent most words of such text
// to the kernel.
enum : uint32_t { kLongRun = 16 };

inline bool startsLongAsciiRun(const unsigned char* bytes, uint32_t left) {
    if (left < kLongRun) return false;
    uint64_t words[2];
    memcpy(words, bytes, sizeof words);
    return ((words[0] | words[1]) & 0x8080808080808080u) == 0;
}

// Units go through the table at about one a cycle, so the kernel is worth a
// call only for a longer run (Latin prose has one every few sentences).
enum : uint32_t { kLongUnitRun = 64 };

inline bool startsLongAsciiRunOfUnits(const unsigned char* units, uint32_t left) {
    if (left < kLongUnitRun) return false;
    uint64_t words[kLongUnitRun / 4];
    memcpy(words, units, sizeof words);
    uint64_t any = 0;
    for (uint64_t word : words) any |= word;
    return (any & 0xFF80FF80FF80FF80u) == 0;
}

// How much of what is left one kernel call takes: where 0x7F may cut a run
// short, a bounded piece, so that no byte is converted again and again.
inline uint32_t asciiSpan(uint16_t ascii, uint32_t left) {
    enum : uint32_t { kPiece = 256 };
    return ascii == kAsciiButDelete && left > kPiece ? kPiece : left;
}

// The part of an ASCII run (its bytes) that maps byte for byte: where 0x7F
// is not itself, up to it.
inline uint32_t runBeforeDelete(uint16_t ascii, const unsigned char* bytes, uint32_t run) {
    if (ascii != kAsciiButDelete || run == 0) return run;
    const void* found = memchr(bytes, 0x7F, run);
    return found == nullptr
               ? run
               : static_cast<uint32_t>(static_cast<const unsigned char*>(found) - bytes);
}

const uint16_t* singleByteTable(const uTableSet& set, uint32_t tableCount, const void* module) {
    if (tableCount != 1 || set.forms[0] == nullptr || set.forms[0]->kind != kSingleByte ||
        set.slots[0].lowByte != 0x00 || set.slots[0].highByte != 0xFF)
        return nullptr;
    return expandedTable(set.tables[0], module);
}

inline bool cellHolds(const uByteFormCell& cell, uint16_t code) {
    const unsigned high = code >> 8, low = code & 0xFF;
    return cell.minHigh <= high && high <= cell.maxHigh && cell.minLow <= low && low <= cell.maxLow;
}

inline bool boxesMeet(const uByteFormCell& a, const uByteFormCell& b) {
    return a.minHigh <= b.maxHigh && b.minHigh <= a.maxHigh && a.minLow <= b.maxLow &&
           b.minLow <= a.maxLow;
}

// Whether no code lies in the boxes of two cells, so that the cell holding
// it is the first that does.
bool boxesApart(const uByteFormTable& form) {
    const int count =
        form.cellCount < int(kMaxByteFormCells) ? form.cellCount : int(kMaxByteFormCells);
    for (int k = 0; k < count; ++k)
        for (int l = k + 1; l < count; ++l)
            if (boxesMeet(form.cells[k], form.cells[l])) return false;
    return true;
}

// The cell of a list that wrote the last code, tried first for the next
// where cells never share a code: the codes of a text mostly share one (kana
// and kanji in Shift_JIS).
struct CellInUse {
    const uByteFormCell* cell = nullptr;
    int apart = -1;  // boxesApart of the form, found at the first code

    uint32_t write(const uByteFormTable& form, uint16_t code, unsigned char* out) {
        if (apart < 0) apart = boxesApart(form) ? 1 : 0;
        if (apart == 0) return writeByForm(form, code, out);
        if (cell == nullptr || !cellHolds(*cell, code)) {
            cell = nullptr;
            for (int k = 0; k < form.cellCount && k < kMaxByteFormCells; ++k) {
                if (cellHolds(form.cells[k], code)) {
                    cell = &form.cells[k];
                    break;
                }
            }
            if (cell == nullptr) return 0;
        }
        return writeByCell(*cell, code, out);
    }
};

// Units that a table maps and a byte form writes, while the output has room
// for any character; returns the units taken. Everything else (surrogates,
// unmapped units, the last bytes of room) is left to the step's loop.
uint32_t encodeMappedUnits(const uTableSet& set, const TableEngine& engine,
                           const unsigned char* source, uint32_t units, unsigned char* target,
                           uint32_t capacity, uint32_t* written) {
    enum : uint32_t { kLongestCode = 4 };
    uint32_t out = *written;
    uint32_t i = 0;
    CellInUse cells[kTableSlots];
    for (; i < units && capacity - out >= kLongestCode; ++i) {
        const uint16_t x = loadUnit(source + 2 * i);
        if (isHighSurrogate(x) || isLowSurrogate(x)) break;
        uint16_t code = kNoMapping;
        uint32_t j = 0;
        while (j < engine.slots && (set.tables[j] == nullptr ||
                                    !lookupIndexed(engine.indexes[j], set.tables[j], x, &code)))
            ++j;
        if (j == engine.slots || set.forms[j] == nullptr) break;
        const uint32_t count = set.forms[j]->kind == kCellList
                                   ? cells[j].write(*set.forms[j], code, target + out)
                                   : writeByForm(*set.forms[j], code, target + out);
        if (count == 0) break;
        out += count;
    }
    *written = out;
    return i;
}

// Bytes of one single-byte table over every first byte: each byte is one
// unit, ASCII runs through the kernel. Stops at a byte the table lacks and
// where input or room ends.
uint32_t decodeSingleBytes(const uint16_t* units, const unsigned char* source, uint32_t count,
                           unsigned char* target) {
    const uint16_t ascii = units[kAsciiIsItself];
    uint32_t p = 0;
    while (p < count) {
        if (ascii != 0 && startsLongAsciiRun(source + p, count - p)) {
            const uint32_t span = asciiSpan(ascii, count - p);
            const uint32_t run =
                textKernels().widenAscii(source + p, span, target + 2 * p, 2 * span);
            const uint32_t taken = runBeforeDelete(ascii, source + p, run);
            p += taken;
            if (p == count) break;
            if (taken == span) continue;  // a piece of a longer run
        }
        // Where no long run starts, the table takes the next kLongRun bytes
        // before the next look.
        const uint32_t end = count - p < kLongRun ? count : p + kLongRun;
        for (; p < end; ++p) {
            const unsigned char b = source[p];
            const uint16_t unit = b < 0x20 ? b : units[b];
            if (unit == kNoMapping) return p;
            storeUnit(target + 2 * p, unit);
        }
    }
    return p;
}

// Units of one single-byte table: each unit one byte. Stops at a unit the
// table lacks (but for those up to 0x20, which are themselves), at a high
// surrogate and where input or room ends.
// Four units that the table maps (no surrogate among them) written with one
// test; false, writing nothing, for any other four.
inline bool encodeFourMapped(const uint16_t* codes, const unsigned char* source,
                             unsigned char* target) {
    uint16_t units[4], bytes[4];
    bool mapped = true;
    for (uint32_t k = 0; k < 4; ++k) {
        units[k] = loadUnit(source + 2 * k);
        bytes[k] = codes[units[k]];
        mapped &= (bytes[k] != kNoMapping) & !isHighSurrogate(units[k]);
    }
    if (!mapped) return false;
    for (uint32_t k = 0; k < 4; ++k) target[k] = static_cast<unsigned char>(bytes[k]);
    return true;
}

uint32_t encodeSingleBytes(const uint16_t* codes, const unsigned char* source, uint32_t count,
                           unsigned char* target) {
    const uint16_t ascii = codes[kAsciiIsItself];
    const auto narrow = textKernels().narrowThroughCodes;
    uint32_t i = 0;
    while (i < count) {
        if (ascii != 0 && startsLongAsciiRunOfUnits(source + 2 * i, count - i)) {
            const uint32_t span = asciiSpan(ascii, count - i);
            const uint32_t run = textKernels().narrowAscii(source + 2 * i, span, target + i, span);
            const uint32_t mapped =
                runBeforeDelete(ascii, target + i, run);  // the bytes of the run
            i += mapped;
            if (mapped != 0) continue;
        }
        // A bounded stretch, so that a long ASCII run after it finds the kernel.
        const uint32_t stretch = count - i < kLongUnitRun ? count - i : kLongUnitRun;
        uint32_t mapped =
            narrow != nullptr ? narrow(codes, source + 2 * i, stretch, target + i) : 0;
        while (stretch - mapped >= 4 &&
               encodeFourMapped(codes, source + 2 * (i + mapped), target + i + mapped))
            mapped += 4;
        i += mapped;
        if (mapped != 0) continue;
        const uint16_t x = loadUnit(source + 2 * i);
        if (isHighSurrogate(x)) break;  // a character of two units
        const uint16_t code = codes[x];
        if (code == kNoMapping && x > 0x20) break;
        target[i++] = static_cast<unsigned char>(code == kNoMapping ? x : code);
    }
    return i;
}

// The unit at `i` where one single-byte table lacks it (any unit above 0x20
// but a surrogate, which may be half a character), else 0.
uint16_t unitLackedAt(const uint16_t* codes, const unsigned char* source, uint32_t units,
                      uint32_t i) {
    const uint16_t x = i < units ? loadUnit(source + 2 * i) : 0;
    return x > 0x20 && !isSurrogate(x) && codes[x] == kNoMapping ? x : 0;
}

// The unit of the character at p, kNoMapping where no table maps it.
uint16_t readByTables(const uTableSet& set, const TableEngine& engine, const unsigned char* p,
                      uint32_t remaining, uint32_t* length) {
    const unsigned char b = p[0];
    *length = 1;
    if (b < 0x20) return b;
    for (uint32_t i = 0; i < engine.slots; ++i) {
        if (set.tables[i] == nullptr || set.forms[i] == nullptr) continue;
        if (b < set.slots[i].lowByte || b > set.slots[i].highByte) continue;
        ReadCode read;
        if (!readByForm(*set.forms[i], p, remaining, &read)) continue;
        uint16_t mapped;
        if (lookupIndexed(engine.indexes[i], set.tables[i], read.code, &mapped)) {
            *length = read.length;
            return mapped;
        }
    }
    return kNoMapping;
}

// The bytes of a unit by the first table that maps it: the count, 0 where
// the unit is mapped but its byte form fails; false where no table maps it.
bool writeByTables(const uTableSet& set, const TableEngine& engine, uint16_t x,
                   unsigned char* bytes, uint32_t* count) {
    for (uint32_t j = 0; j < engine.slots; ++j) {
        if (set.tables[j] == nullptr) continue;
        uint16_t code;
        if (lookupIndexed(engine.indexes[j], set.tables[j], x, &code)) {
            *count = set.forms[j] != nullptr ? writeByForm(*set.forms[j], code, bytes) : 0;
            return true;
        }
    }
    return false;
}

uint32_t smaller(uint32_t a, uint32_t b) {
    return a < b ? a : b;
}

}  // namespace

namespace velta {

TableEngine tableEngineOf(const uTableSet& set, uint32_t tableCount, const void* module) {
    TableEngine engine{};
    engine.slots = smaller(tableCount, kTableSlots);
    for (uint32_t k = 0; k < kTableSlots; ++k) engine.indexes[k] = tableIndex(set.tables[k]);
    engine.singleByte = singleByteTable(set, tableCount, module);
    return engine;
}

StepResult decodeByTables(const uTableSet& set, const TableEngine& engine,
                          const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                          uint32_t targetCapacity) {
    uint32_t p = 0;
    uint32_t written = 0;
    if (engine.singleByte != nullptr) {
        p = decodeSingleBytes(engine.singleByte, source, smaller(sourceLength, targetCapacity / 2),
                              target);
        written = 2 * p;
    }
    while (p < sourceLength) {
        if (targetCapacity - written < 2) return outputFull(p, written);
        uint32_t length;
        const uint16_t unit = readByTables(set, engine, source + p, sourceLength - p, &length);
        if (unit == kNoMapping) return malformedAt(p, written, length);
        storeUnit(target + written, unit);
        written += 2;
        p += length;
    }
    return inputUsed(p, written);
}

StepResult encodeByTables(const uTableSet& set, const TableEngine& engine,
                          const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                          uint32_t targetCapacity) {
    const uint32_t units = sourceLength / 2;
    uint32_t i = 0;
    uint32_t written = 0;
    if (engine.singleByte != nullptr) {
        // A unit the table lacks needs no search of it: text of another
        // script (Chinese into x-mac-roman) comes here at every character.
        if (const uint16_t lacked = unitLackedAt(engine.singleByte, source, units, 0))
            return unmappableAt(0, 0, 2, lacked);
        i = encodeSingleBytes(engine.singleByte, source, smaller(units, targetCapacity), target);
        written = i;
        if (const uint16_t lacked = unitLackedAt(engine.singleByte, source, units, i))
            return unmappableAt(2 * i, written, 2, lacked);
    }
    while (i < units) {
        i += encodeMappedUnits(set, engine, source + 2 * i, units - i, target, targetCapacity,
                               &written);
        if (i == units) break;
        const uint16_t x = loadUnit(source + 2 * i);
        if (isHighSurrogate(x)) {
            if (i + 1 == units) return cutAtEnd(2 * i, written);
            const uint16_t next = loadUnit(source + 2 * i + 2);
            if (isLowSurrogate(next))
                return unmappableAt(2 * i, written, 4,
                                    0x10000 + ((x - 0xD800u) << 10) + (next - 0xDC00u));
        }
        unsigned char bytes[4];
        uint32_t count = 0;
        if (!writeByTables(set, engine, x, bytes, &count)) {
            if (x > 0x20) return unmappableAt(2 * i, written, 2, x);
            bytes[0] = static_cast<unsigned char>(x);
            count = 1;
        }
        if (count == 0) return unmappableAt(2 * i, written, 2, x);
        if (targetCapacity - written < count) return outputFull(2 * i, written);
        memcpy(target + written, bytes, count);
        written += count;
        ++i;
    }
    if (2 * i != sourceLength) return cutAtEnd(2 * i, written);
    return inputUsed(2 * i, written);
}

Written TTableStepConverter::writeChosen(const uint16_t* units, uint32_t count, unsigned char* out,
                                         uint32_t capacity, uint32_t* written) {
    const uint16_t* codes = fEngine.singleByte;
    bool mapped = fDirection != 0 && codes != nullptr;
    for (uint32_t i = 0; mapped && i < count; ++i)
        mapped = !isSurrogate(units[i]) && (codes[units[i]] != kNoMapping || units[i] <= 0x20);
    if (!mapped) return TTableRules::writeChosen(units, count, out, capacity, written);
    if (roomBefore(capacity) < count) return Written::kNoRoom;
    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t code = codes[units[i]];  // units up to 0x20 are themselves
        out[i] = static_cast<unsigned char>(code == kNoMapping ? units[i] : code);
    }
    *written = count;
    return Written::kDone;
}

TTableStepConverter::TTableStepConverter(
    const char* from, const char* to, const UnicodeTableSet* tableSet,
    const UnicodeTableList* tableList1, const UnicodeTableList* tableList2, unsigned short csid,
    unsigned short expansionFactor, resourceMapTable* resourceMap, void* module, char direction)
    : TTableRules(from, to, tableSet, tableList1, tableList2, csid, expansionFactor, resourceMap,
                  module, direction),
      fEngine(
          tableEngineOf(direction != 0 ? fFromUCS2Tables : fToUCS2Tables, fTableCount, fModule)) {}

TTableStepConverter::TTableStepConverter(const TConverterIdentity& identity,
                                         const uTableSet& tables, uint32_t tableCount, void* module)
    : TTableRules(identity), fEngine() {
    (fDirection != 0 ? fFromUCS2Tables : fToUCS2Tables) = tables;
    fTableCount = tableCount;
    fModule = module;
    fEngine = tableEngineOf(tables, tableCount, module);
}

}  // namespace velta

// The engines of a converter of a library built against the published
// interface without a policy of its own: what no table maps is replaced.
NLS_Status TEncodingConverter::ConvertToUnicode(unsigned char* target, uint32_t* targetLength,
                                                uint32_t targetCapacity,
                                                const unsigned char* source, uint32_t sourceLength,
                                                uint32_t* sourceConsumed) {
    TTableStepConverter shell({fFromEncoding, fToEncoding, fCSID, fExpansionFactor, 0},
                              fToUCS2Tables, fTableCount, fModule);
    return shell.Convert(target, targetLength, targetCapacity, source, sourceLength,
                         sourceConsumed);
}

NLS_Status TEncodingConverter::ConvertFromUnicode(unsigned char* target, uint32_t* targetLength,
                                                  uint32_t targetCapacity,
                                                  const unsigned char* source,
                                                  uint32_t sourceLength, uint32_t* sourceConsumed) {
    TTableStepConverter shell({fFromEncoding, fToEncoding, fCSID, fExpansionFactor, 1},
                              fFromUCS2Tables, fTableCount, fModule);
    return shell.Convert(target, targetLength, targetCapacity, source, sourceLength,
                         sourceConsumed);
}

// The same under the converter's own policy, its report kept in it.
NLS_Status TTableConverter::Convert(unsigned char* target, uint32_t* targetLength,
                                    uint32_t targetCapacity, const unsigned char* source,
                                    uint32_t sourceLength, uint32_t* sourceConsumed) {
    TTableStepConverter shell({fFromEncoding, fToEncoding, fCSID, fExpansionFactor, fDirection},
                              fDirection != 0 ? fFromUCS2Tables : fToUCS2Tables, fTableCount,
                              fModule);
    shell.SetPolicy(Policy());
    shell.SetInputEnds(InputEnds());
    const NLS_Status status =
        shell.Convert(target, targetLength, targetCapacity, source, sourceLength, sourceConsumed);
    uint32_t count;
    int32_t kind;
    int64_t offset;
    shell.TakeReport(&count, &kind, &offset);
    if (kind != NLS_NO_SUBSTITUTION && count == 0) NoteSubstitution(kind, offset, false);
    for (uint32_t k = 0; k < count; ++k) NoteSubstitution(kind, offset, true);
    return status;
}

TEncodingConverter* NLS_NewTableStepConverter(
    const char* from, const char* to, const UnicodeTableSet* tableSet,
    const UnicodeTableList* tableList1, const UnicodeTableList* tableList2, unsigned short csid,
    unsigned short expansionFactor, resourceMapTable* resourceMap, void* module, char direction) {
    return new (std::nothrow)
        velta::TTableStepConverter(from, to, tableSet, tableList1, tableList2, csid,
                                   expansionFactor, resourceMap, module, direction);
}
