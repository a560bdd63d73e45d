// Mapping-table lookup and the built-in byte forms of the table-driven engines.
#ifndef VELTA_CONVERTERS_MAPPING_TABLES_H
#define VELTA_CONVERTERS_MAPPING_TABLES_H

#include <stdint.h>

#include "velta/converter.h"

namespace velta {

// The byte layouts of character-set codes (uByteFormTable::kind).
enum ByteFormKind : uint16_t {
    kSingleByte = 0,     // b
    kDoubleByte = 1,     // b0 b1
    kCellList = 2,       // per cell
    kEucDoubleByte = 3,  // (b0 b1) & 0x7F7F
    kEucThreeByte = 4,   // 0x8F b1 b2
    kEucFourByte = 5,    // 0x8E 0xA2 b2 b3
};

// Looks x up: the first cell, in order, that matches gives the result.
bool lookupTable(const uTable* table, uint16_t x, uint16_t* result);

// The index of a table loaded through a resource map (built when it is
// first loaded, dropped when the last converter releases it): its result for
// every code in two levels, kNoTableResult where no cell maps. Null for
// other tables, which are searched cell by cell.
enum : uint16_t { kNoTableResult = 0xFFFD };
const uint16_t* tableIndex(const uTable* table);

// Looks x up by a table's index, or by its cells where it has none; a result
// of kNoTableResult is no mapping either way. Converter libraries read the
// index with TEncodingConverter::IndexedResult: the two must agree.
inline bool lookupIndexed(const uint16_t* index, const uTable* table, uint16_t x,
                          uint16_t* result) {
    if (index == nullptr) return lookupTable(table, x, result);
    *result = index[256u * (1u + index[x >> 8]) + (x & 0xFFu)];
    return *result != kNoTableResult;
}

// The table expanded to one result per 16-bit code (0xFFFD where no cell
// maps), built once and kept for the life of the process; entry
// kAsciiIsItself, after the codes, is kAsciiAll when codes 0x00-0x7F map to
// themselves (those below 0x20 may be unmapped), kAsciiButDelete when all
// but 0x7F do (Mac OS Roman), else 0. Only tables of the library's
// own module qualify (their addresses never change); others get null and are
// searched cell by cell. Finding a table built before takes no lock.
enum : uint32_t { kAsciiIsItself = 0x10000 };
enum : uint16_t { kAsciiAll = 1, kAsciiButDelete = 2 };
const uint16_t* expandedTable(const uTable* table, const void* module);

// The byte form of a table id (id & 0x3F), or null where there is none.
const uByteFormTable* byteFormForTable(uint16_t tableId);

// The library's own resource map: Latin-1 (table id 2) and Mac Roman (6).
extern resourceMapTable gLibraryResourceMap[];

}  // namespace velta

#endif
