// Mapping tables: their lookup, the byte forms, and the shared resource map
// through which converters load the tables of a module with reference counts.
#include "converters/mapping_tables.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "linker/platform.h"

using namespace velta::platform;

namespace velta {

namespace {

enum CellFormat { kRangeWithOffset = 0, kRangeWithData = 1, kSingleCode = 2 };

// Cells: method, length, first-byte range, then the (high, low) box of codes
// written by the cell.
const uByteFormTable kSingleByteForm = {0, kSingleByte, {}};
const uByteFormTable kEucDoubleByteForm = {0, kEucDoubleByte, {}};
const uByteFormTable kEucThreeByteForm = {0, kEucThreeByte, {}};
const uByteFormTable kEucFourByteForm = {0, kEucFourByte, {}};
const uByteFormTable kShiftJisCells = {4,
                                       kCellList,
                                       {{0, 1, 0x00, 0x7F, 0x00, 0x00, 0x00, 0x7F},
                                        {0, 1, 0xA1, 0xDF, 0x00, 0xA1, 0x00, 0xDF},
                                        {1, 2, 0x81, 0x9F, 0x81, 0x40, 0x9F, 0xFC},
                                        {1, 2, 0xE0, 0xFC, 0xE0, 0x40, 0xFC, 0xFC}}};
const uByteFormTable kDoubleByteCells = {
    2,
    kCellList,
    {{0, 1, 0x00, 0x7F, 0x00, 0x00, 0x00, 0x7F}, {1, 2, 0xA1, 0xFE, 0xA1, 0x40, 0xFE, 0xFE}}};
const uByteFormTable kKatakanaCells = {
    2,
    kCellList,
    {{0, 1, 0x00, 0x7F, 0x00, 0x00, 0x00, 0x7F}, {3, 2, 0x8E, 0x8E, 0x00, 0xA1, 0x00, 0xDF}}};
const uByteFormTable kUtf8LikeCells = {3,
                                       kCellList,
                                       {{0, 1, 0x00, 0x7F, 0x00, 0x00, 0x00, 0x7F},
                                        {4, 2, 0xC0, 0xDF, 0x00, 0x00, 0x07, 0xFF},
                                        {5, 3, 0xE0, 0xEF, 0x08, 0x00, 0xFF, 0xFF}}};

// The form of each table id 0..63.
const uByteFormTable* const kFormOfTableId[64] = {
    &kSingleByteForm,
    &kSingleByteForm,
    &kSingleByteForm,
    nullptr,  // 0-3
    &kShiftJisCells,
    nullptr,
    &kSingleByteForm,
    &kDoubleByteCells,  // 4-7
    &kEucDoubleByteForm,
    nullptr,
    &kSingleByteForm,
    &kSingleByteForm,  // 8-11
    &kEucDoubleByteForm,
    nullptr,
    &kSingleByteForm,
    &kSingleByteForm,  // 12-15
    &kSingleByteForm,
    &kSingleByteForm,
    &kSingleByteForm,
    &kSingleByteForm,  // 16-19
    &kSingleByteForm,
    &kSingleByteForm,
    &kSingleByteForm,
    &kSingleByteForm,  // 20-23
    &kEucDoubleByteForm,
    &kEucFourByteForm,
    &kEucDoubleByteForm,
    &kKatakanaCells,  // 24-27
    &kEucDoubleByteForm,
    &kSingleByteForm,
    &kEucThreeByteForm,
    &kEucDoubleByteForm,  // 28-31
    nullptr,
    nullptr,
    &kUtf8LikeCells,
    nullptr,  // 32-35
    nullptr,
    &kDoubleByteCells,
    nullptr,
    &kSingleByteForm,  // 36-39
    &kSingleByteForm,
    &kSingleByteForm,
    &kSingleByteForm,
    &kSingleByteForm,  // 40-43
    &kSingleByteForm,
    &kSingleByteForm,
    &kSingleByteForm,
    nullptr,  // 44-47
};

// Units: [0] N cells, [1] P format array, [2] Q cells, [3] R data; formats
// are 4 bits a cell, four cells a unit; cell i is units Q+3i .. Q+3i+2.
struct Cell {
    unsigned format;
    uint16_t first;
    uint16_t last;
    uint16_t value;
};

Cell cellOf(const uTable* table, uint32_t i) {
    const uTable* formats = table + table[1];
    const uTable* cells = table + table[2];
    const unsigned format = (formats[i / 4] >> (4 * (i % 4))) & 0xF;
    const uint16_t a = cells[3 * i], b = cells[3 * i + 1], c = cells[3 * i + 2];
    return {format, a, format == kSingleCode ? a : b, c};
}

// Cells of another format never match.
bool cellMaps(const Cell& cell, uint32_t x) {
    return cell.format <= kSingleCode && cell.first <= x && x <= cell.last;
}

uint16_t resultOf(const uTable* table, const Cell& cell, uint32_t x) {
    switch (cell.format) {
        case kRangeWithOffset:
            return static_cast<uint16_t>(cell.value - cell.first + x);
        case kRangeWithData:
            return (table + table[3])[cell.value + (x - cell.first)];
        default:
            return cell.value;
    }
}

// The index: 256 block numbers, one per high byte, then the blocks of 256
// results, block 0 shared by every high byte that no cell reaches. Cells
// are written last to first, so that the first cell that maps a code gives
// its result, as in the search.
enum : uint32_t { kBlockUnits = 256 };

const uint16_t* buildTableIndex(const uTable* table) {
    const uint32_t cellCount = table[0];
    bool reached[kBlockUnits] = {};
    for (uint32_t i = 0; i < cellCount; ++i) {
        const Cell cell = cellOf(table, i);
        if (cell.format > kSingleCode || cell.first > cell.last) continue;
        for (uint32_t high = cell.first >> 8; high <= uint32_t(cell.last >> 8); ++high)
            reached[high] = true;
    }
    uint32_t blocks = 1;
    uint16_t blockOf[kBlockUnits];
    for (uint32_t high = 0; high < kBlockUnits; ++high)
        blockOf[high] = static_cast<uint16_t>(reached[high] ? blocks++ : 0);
    const uint32_t units = kBlockUnits * (1 + blocks);
    uint16_t* index = new (std::nothrow) uint16_t[units];
    if (index == nullptr) return nullptr;
    std::copy(blockOf, blockOf + kBlockUnits, index);
    std::fill(index + kBlockUnits, index + units, kNoTableResult);
    for (uint32_t i = cellCount; i-- > 0;) {
        const Cell cell = cellOf(table, i);
        if (cell.format > kSingleCode) continue;
        for (uint32_t x = cell.first; x <= cell.last; ++x)
            index[kBlockUnits * (1 + blockOf[x >> 8]) + (x & 0xFF)] = resultOf(table, cell, x);
    }
    return index;
}

// Loads and releases change reference counts shared by every converter.
std::mutex gResourceMapLock;

// The indexes of the loaded tables, one per table address, found without a
// lock: a slot is published by storing its index before its table, and
// emptied (table first) only when the last converter holding the table lets
// it go, so a reader holding a table never sees its slot change. Changed
// under gResourceMapLock.
struct IndexSlot {
    std::atomic<const uTable*> table;
    std::atomic<const uint16_t*> index;
    uint32_t holders;
};
const uint32_t kIndexSlots = 64;
IndexSlot gIndexes[kIndexSlots];

uint32_t firstSlotFor(const uTable* table) {
    return static_cast<uint32_t>((reinterpret_cast<uintptr_t>(table) >> 4) * 0x9E3779B1u) %
           kIndexSlots;
}

IndexSlot* slotHolding(const uTable* table) {
    const uint32_t first = firstSlotFor(table);
    for (uint32_t k = 0; k < kIndexSlots; ++k) {
        IndexSlot& slot = gIndexes[(first + k) % kIndexSlots];
        if (slot.table.load(std::memory_order_acquire) == table) return &slot;
    }
    return nullptr;
}

// A table with more slots than that, or whose index cannot be allocated,
// is searched cell by cell.
void retainIndex(const uTable* table) {
    if (IndexSlot* held = slotHolding(table)) {
        ++held->holders;
        return;
    }
    const uint32_t first = firstSlotFor(table);
    for (uint32_t k = 0; k < kIndexSlots; ++k) {
        IndexSlot& slot = gIndexes[(first + k) % kIndexSlots];
        if (slot.table.load(std::memory_order_relaxed) != nullptr) continue;
        const uint16_t* index = buildTableIndex(table);
        if (index == nullptr) return;
        slot.holders = 1;
        slot.index.store(index, std::memory_order_relaxed);
        slot.table.store(table, std::memory_order_release);
        return;
    }
}

void releaseIndex(const uTable* table) {
    IndexSlot* slot = slotHolding(table);
    if (slot == nullptr || --slot->holders > 0) return;
    const uint16_t* index = slot->index.load(std::memory_order_relaxed);
    slot->table.store(nullptr, std::memory_order_release);
    slot->index.store(nullptr, std::memory_order_relaxed);
    delete[] index;
}

resourceRecord* findRecord(uint16_t tableId, resourceMapTable* map, bool fromUCS2) {
    if (map == nullptr) return nullptr;
    for (resourceMapTable* row = map; row->tableId != 0; ++row) {
        if (row->tableId == tableId) return fromUCS2 ? &row->fromUCS2 : &row->toUCS2;
    }
    return nullptr;
}

const void* loadRecord(uint16_t tableId, void* module, resourceMapTable* map, bool fromUCS2) {
    std::lock_guard<std::mutex> guard(gResourceMapLock);
    resourceRecord* record = findRecord(tableId, map, fromUCS2);
    if (record == nullptr) return nullptr;
    const void* data;
    if (record->refCount > 0) {
        data = Platform_LockResource(record->handle);
        if (data == nullptr) return nullptr;
    } else {
        if (module == nullptr) return nullptr;
        void* resource = Platform_FindResource(module, record->name);
        if (resource == nullptr) return nullptr;
        record->handle = Platform_LoadResource(module, resource);
        if (record->handle == nullptr) return nullptr;
        data = Platform_LockResource(record->handle);
        if (data == nullptr) return nullptr;
        record->data = data;
        retainIndex(static_cast<const uTable*>(data));
    }
    ++record->refCount;
    return data;
}

void releaseRecord(uint16_t tableId, resourceMapTable* map, bool fromUCS2) {
    std::lock_guard<std::mutex> guard(gResourceMapLock);
    resourceRecord* record = findRecord(tableId, map, fromUCS2);
    if (record == nullptr) return;
    if (record->refCount > 0 && --record->refCount > 0) return;
    if (record->data != nullptr) releaseIndex(static_cast<const uTable*>(record->data));
    if (record->handle != nullptr) Platform_FreeResource(record->handle);
    record->data = nullptr;
    record->handle = nullptr;
    record->refCount = 0;
}

}  // namespace

resourceMapTable gLibraryResourceMap[] = {
    {2, {"L8859-1.UF", 0, nullptr, nullptr}, {"L8859-1.UT", 0, nullptr, nullptr}},
    {6, {"MACROMAN.UF", 0, nullptr, nullptr}, {"MACROMAN.UT", 0, nullptr, nullptr}},
    {0, {nullptr, 0, nullptr, nullptr}, {nullptr, 0, nullptr, nullptr}},
};

bool lookupTable(const uTable* table, uint16_t x, uint16_t* result) {
    if (table == nullptr) return false;
    const uint32_t cellCount = table[0];
    for (uint32_t i = 0; i < cellCount; ++i) {
        const Cell cell = cellOf(table, i);
        if (!cellMaps(cell, x)) continue;
        *result = resultOf(table, cell, x);
        return true;
    }
    return false;
}

const uint16_t* tableIndex(const uTable* table) {
    if (table == nullptr) return nullptr;
    const IndexSlot* slot = slotHolding(table);
    return slot != nullptr ? slot->index.load(std::memory_order_relaxed) : nullptr;
}

const uByteFormTable* byteFormForTable(uint16_t tableId) {
    return kFormOfTableId[tableId & 0x3F];
}

namespace {

// Tables expanded so far: published by storing the expansion before the
// table, so that a reader that sees the table sees its expansion.
struct ExpandedSlot {
    std::atomic<const uTable*> table;
    std::atomic<const uint16_t*> units;
};
const uint32_t kExpandedSlots = 32;
ExpandedSlot gExpanded[kExpandedSlots];

const uint16_t* findExpanded(const uTable* table) {
    for (const ExpandedSlot& slot : gExpanded) {
        const uTable* held = slot.table.load(std::memory_order_acquire);
        if (held == nullptr) return nullptr;
        if (held == table) return slot.units.load(std::memory_order_relaxed);
    }
    return nullptr;
}

}  // namespace

const uint16_t* expandedTable(const uTable* table, const void* module) {
    if (table == nullptr || module == nullptr || module != TEncodingConverter::LibraryModule())
        return nullptr;
    if (const uint16_t* units = findExpanded(table)) return units;
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    if (const uint16_t* units = findExpanded(table)) return units;
    for (ExpandedSlot& slot : gExpanded) {
        if (slot.table.load(std::memory_order_relaxed) != nullptr) continue;
        uint16_t* results = new (std::nothrow) uint16_t[kAsciiIsItself + 1];
        if (results == nullptr) return nullptr;
        bool asciiIsItself = true;
        for (uint32_t code = 0; code <= 0xFFFF; ++code) {
            uint16_t result;
            results[code] =
                lookupTable(table, static_cast<uint16_t>(code), &result) ? result : 0xFFFD;
            if (code < 0x7F && results[code] != code && !(code < 0x20 && results[code] == 0xFFFD))
                asciiIsItself = false;
        }
        results[kAsciiIsItself] = !asciiIsItself          ? 0
                                  : results[0x7F] == 0x7F ? kAsciiAll
                                                          : kAsciiButDelete;
        slot.units.store(results, std::memory_order_relaxed);
        slot.table.store(table, std::memory_order_release);
        return results;
    }
    return nullptr;  // more tables than slots: searched cell by cell
}

}  // namespace velta

using velta::byteFormForTable;

bool TEncodingConverter::LookupCode(const uTable* table, uint16_t code, uint16_t* result) {
    return velta::lookupIndexed(velta::tableIndex(table), table, code, result);
}

const uint16_t* TEncodingConverter::TableIndex(const uTable* table) {
    return velta::tableIndex(table);
}

bool TEncodingConverter::LookupIndexedCode(const uint16_t* index, const uTable* table,
                                           uint16_t code, uint16_t* result) {
    return velta::lookupIndexed(index, table, code, result);
}

const uTable* TEncodingConverter::LoadFromUCS2Table(unsigned short tableId) {
    return static_cast<const uTable*>(velta::loadRecord(tableId, fModule, fResourceMap, true));
}

const uTable* TEncodingConverter::LoadToUCS2Table(unsigned short tableId) {
    return static_cast<const uTable*>(velta::loadRecord(tableId, fModule, fResourceMap, false));
}

void TEncodingConverter::UnloadFromUCS2Table(unsigned short tableId) {
    velta::releaseRecord(tableId, fResourceMap, true);
}

void TEncodingConverter::UnloadToUCS2Table(unsigned short tableId) {
    velta::releaseRecord(tableId, fResourceMap, false);
}

namespace {

void emptyTableSet(uTableSet* set) {
    for (int k = 0; k < kTableSlots; ++k) {
        set->tables[k] = nullptr;
        set->forms[k] = nullptr;
        set->slots[k] = {0, 0xFF, 0x00};
    }
}

}  // namespace

NLS_Status TEncodingConverter::LoadUCS2TableSet(unsigned short, uTableSet* set, int fromUCS2) {
    if (set == nullptr) return NLS_INVALID_PARAMETER;
    emptyTableSet(set);
    uint32_t filled = 0;
    for (int k = 0; fUnicodeTableSet != nullptr && k < kTableSlots; ++k) {
        const UnicodeTableSlot& slot = fUnicodeTableSet->slots[k];
        if (slot.tableId == 0) break;
        set->slots[k] = slot;
        set->tables[k] = fromUCS2 ? LoadFromUCS2Table(slot.tableId) : LoadToUCS2Table(slot.tableId);
        if (set->tables[k] == nullptr) {
            fStatus = NLS_TABLE_NOT_LOADED;
            return NLS_TABLE_NOT_LOADED;
        }
        set->forms[k] = byteFormForTable(slot.tableId);
        ++filled;
    }
    fTableCount = filled;
    fStatus = NLS_SUCCESS;
    return NLS_SUCCESS;
}

void TEncodingConverter::UnloadUCS2TableSet(uTableSet* set, int fromUCS2) {
    if (set == nullptr) return;
    for (int k = 0; k < kTableSlots; ++k) {
        if (set->slots[k].tableId != 0 && set->tables[k] != nullptr) {
            if (fromUCS2)
                UnloadFromUCS2Table(set->slots[k].tableId);
            else
                UnloadToUCS2Table(set->slots[k].tableId);
        }
        set->slots[k].tableId = 0;
        set->tables[k] = nullptr;
        set->forms[k] = nullptr;
    }
}
