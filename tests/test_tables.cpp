// The table-driven engines over small synthetic tables of every byte form.
#include <gtest/gtest.h>

#include <vector>

#include "converter_calls.h"
#include "velta/internals.h"

namespace {

using namespace velta_test;

struct Cell {
    uint16_t format, a, b, c;
};

// Lays cells and data out as a stored table: N, P, Q, R, formats, cells, data.
std::vector<uint16_t> makeTable(const std::vector<Cell>& cells,
                                const std::vector<uint16_t>& data = {}) {
    const uint16_t n = static_cast<uint16_t>(cells.size());
    const uint16_t p = 4, q = static_cast<uint16_t>(p + (n + 3) / 4),
                   r = static_cast<uint16_t>(q + 3 * n);
    std::vector<uint16_t> table = {n, p, q, r};
    table.resize(q, 0);
    for (uint16_t i = 0; i < n; ++i)
        table[p + i / 4] |= static_cast<uint16_t>(cells[i].format << (4 * (i % 4)));
    for (const Cell& cell : cells) table.insert(table.end(), {cell.a, cell.b, cell.c});
    table.insert(table.end(), data.begin(), data.end());
    return table;
}

const Cell kAscii = {0, 0x00, 0x7F, 0x00};

// Table ids: 1 (single byte), 4 (Shift_JIS cells), 8 (EUC double byte),
// 30 (EUC three byte), 25 (EUC four byte), 34 (UTF-8-like cells).
const std::vector<uint16_t> kSingleTo = makeTable({kAscii});
const std::vector<uint16_t> kShiftJisTo =
    makeTable({kAscii, {2, 0x82A0, 0, 0x3042}, {2, 0x00A1, 0, 0xFF61}});
const std::vector<uint16_t> kShiftJisFrom =
    makeTable({kAscii, {2, 0x3042, 0, 0x82A0}, {2, 0xFF61, 0, 0x00A1}});
const std::vector<uint16_t> kEucTo = makeTable({{1, 0x2422, 0x2423, 0}}, {0x3042, 0xFFFD});
const std::vector<uint16_t> kEucFrom = makeTable({{2, 0x3042, 0, 0x2422}});
const std::vector<uint16_t> kEuc3To = makeTable({{2, 0x3021, 0, 0x4E02}});
const std::vector<uint16_t> kEuc3From = makeTable({{2, 0x4E02, 0, 0x3021}});
const std::vector<uint16_t> kEuc4To = makeTable({{2, 0x2121, 0, 0x3000}});
const std::vector<uint16_t> kEuc4From = makeTable({{2, 0x3000, 0, 0x2121}});
const std::vector<uint16_t> kUtf8LikeFrom = makeTable({{0, 0x0000, 0xFFFF, 0x0000}});
// Cells of every format that overlap (the first that maps a code gives its
// result), one of a format no engine knows, and codes at both ends.
const std::vector<uint16_t> kOverlapping = makeTable({{2, 0x1234, 0, 0x0041},
                                                      {1, 0x1200, 0x12FF, 256},
                                                      {0, 0x1100, 0x13FF, 0x5000},
                                                      {3, 0x0000, 0xFFFF, 0x7777},
                                                      {2, 0xFFFF, 0, 0x0042},
                                                      {0, 0x0000, 0x0003, 0xFFFC},
                                                      {1, 0x12F0, 0x1310, 0}},
                                                     [] {
                                                         std::vector<uint16_t> data(512);
                                                         for (size_t i = 0; i < data.size(); ++i)
                                                             data[i] = static_cast<uint16_t>(i * 7);
                                                         return data;
                                                     }());

const NLS_ResourceEntry kEntries[] = {
    {"S.UT", kSingleTo.data(), 0},      {"S.UF", kSingleTo.data(), 0},
    {"SJ.UT", kShiftJisTo.data(), 0},   {"SJ.UF", kShiftJisFrom.data(), 0},
    {"EUC.UT", kEucTo.data(), 0},       {"EUC.UF", kEucFrom.data(), 0},
    {"EUC3.UT", kEuc3To.data(), 0},     {"EUC3.UF", kEuc3From.data(), 0},
    {"EUC4.UT", kEuc4To.data(), 0},     {"EUC4.UF", kEuc4From.data(), 0},
    {"U8.UF", kUtf8LikeFrom.data(), 0}, {"IX.UT", kOverlapping.data(), 0},
};
const NLS_ResourceDirectory kModule = {kEntries, sizeof kEntries / sizeof kEntries[0]};

resourceMapTable gMap[] = {
    {1, {"S.UF", 0, nullptr, nullptr}, {"S.UT", 0, nullptr, nullptr}},
    {4, {"SJ.UF", 0, nullptr, nullptr}, {"SJ.UT", 0, nullptr, nullptr}},
    {8, {"EUC.UF", 0, nullptr, nullptr}, {"EUC.UT", 0, nullptr, nullptr}},
    {30, {"EUC3.UF", 0, nullptr, nullptr}, {"EUC3.UT", 0, nullptr, nullptr}},
    {25, {"EUC4.UF", 0, nullptr, nullptr}, {"EUC4.UT", 0, nullptr, nullptr}},
    {34, {"U8.UF", 0, nullptr, nullptr}, {"U8.UT", 0, nullptr, nullptr}},
    {99, {"MISSING.UF", 0, nullptr, nullptr}, {"MISSING.UT", 0, nullptr, nullptr}},
    {40, {"IX.UF", 0, nullptr, nullptr}, {"IX.UT", 0, nullptr, nullptr}},
    {0, {nullptr, 0, nullptr, nullptr}, {nullptr, 0, nullptr, nullptr}},
};

const UnicodeTableSlot kEmpty = {0, 0xFF, 0x00};

class TableConverter : public TEncodingConverter {
public:
    TableConverter(const UnicodeTableSet* set, char direction,
                   void* module = const_cast<NLS_ResourceDirectory*>(&kModule))
        : TEncodingConverter("x-table", NLS_UCS2_NAME, set, nullptr, nullptr, 0, 2, gMap, module,
                             direction) {}
    uint32_t tableCount() const { return fTableCount; }
    using TEncodingConverter::LoadToUCS2Table;
    using TEncodingConverter::UnloadToUCS2Table;
    using TEncodingConverter::UnloadUCS2TableSet;
    uTableSet* toSet() { return &fToUCS2Tables; }
    using TEncodingConverter::LookupCode;
};

const UnicodeTableSet kShiftJisSet = {0, {{4, 0x00, 0xFF}, kEmpty, kEmpty, kEmpty}};
const UnicodeTableSet kEucSet = {
    0, {{1, 0x00, 0x7F}, {8, 0xA1, 0xFE}, {30, 0x8F, 0x8F}, {25, 0x8E, 0x8E}}};
const UnicodeTableSet kUtf8LikeSet = {0, {{34, 0x00, 0xFF}, kEmpty, kEmpty, kEmpty}};
const UnicodeTableSet kNoTablesSet = {0, {kEmpty, kEmpty, kEmpty, kEmpty}};
const UnicodeTableSet kMissingSet = {0, {{1, 0x00, 0xFF}, {99, 0x00, 0xFF}, kEmpty, kEmpty}};

struct EngineCase {
    const UnicodeTableSet* set;
    char direction;
    const char* input;
    uint32_t capacity;
    const char* output;
    uint32_t consumed;
    NLS_Status status;
};

TEST(TableEngine, ReadsAndWritesEveryByteForm) {
    const EngineCase cases[] = {
        // Shift_JIS-like cells: one byte, katakana byte, two bytes.
        {&kShiftJisSet, 0, "41 82 A0 A1", 64, "41 00 42 30 61 FF", 4, NLS_SUCCESS},
        {&kShiftJisSet, 0, "41 82", 64, "41 00 FD FF", 2, NLS_SUCCESS},
        {&kShiftJisSet, 1, "41 00 42 30 61 FF", 64, "41 82 A0 A1", 6, NLS_SUCCESS},
        {&kShiftJisSet, 1, "42 30", 2, "", 0, NLS_RESULT_TRUNCATED},
        // EUC: double byte (kind 3), three bytes after 0x8F (kind 4), four bytes after 0x8E 0xA2
        // (kind 5).
        {&kEucSet, 0, "41 A4 A2 8F B0 A1 8E A2 A1 A1", 64, "41 00 42 30 02 4E 00 30", 10,
         NLS_SUCCESS},
        {&kEucSet, 0, "A4 A3", 64, "FD FF FD FF", 2, NLS_SUCCESS},
        {&kEucSet, 0, "8E A1 A1 A1", 64, "FD FF FD FF FD FF FD FF", 4, NLS_SUCCESS},
        {&kEucSet, 1, "41 00 42 30 02 4E 00 30", 64, "41 A4 A2 8F B0 A1 8E A2 A1 A1", 8,
         NLS_SUCCESS},
        {&kEucSet, 1, "00 30", 4, "", 0, NLS_RESULT_TRUNCATED},
        {&kEucSet, 1, "00 30", 5, "8E A2 A1 A1", 2, NLS_SUCCESS},
        // UTF-8-like cells: 0x00E9 needs three bytes of room for C3 A9 and the
        // terminator; with less it waits for the next call, never replaced.
        {&kUtf8LikeSet, 1, "E9 00", 3, "C3 A9", 2, NLS_SUCCESS},
        {&kUtf8LikeSet, 1, "E9 00", 2, "", 0, NLS_RESULT_TRUNCATED},
        {&kUtf8LikeSet, 1, "41 00 E9 00", 3, "41", 2, NLS_RESULT_TRUNCATED},
        {&kUtf8LikeSet, 1, "AC 20", 64, "E2 82 AC", 2, NLS_SUCCESS},
        // Cells whose boxes overlap: the first that holds a code writes it.
        {&kUtf8LikeSet, 1, "E9 00 41 00 AC 20 E9 00", 64, "C3 A9 41 E2 82 AC C3 A9", 8,
         NLS_SUCCESS},
        // Without tables: controls stand for themselves, the rest is replaced.
        {&kNoTablesSet, 0, "00 09 41 FF", 64, "00 00 09 00 FD FF FD FF", 4, NLS_SUCCESS},
        {&kNoTablesSet, 1, "00 00 20 00 41 00", 64, "00 20 3F", 6, NLS_SUCCESS},
    };
    for (const EngineCase& c : cases) {
        TableConverter converter(c.set, c.direction);
        ASSERT_EQ(converter.GetStatus(), NLS_SUCCESS);
        const CallResult result = callConvert(&converter, hexBytes(c.input), c.capacity);
        EXPECT_EQ(hex(result.output), c.output) << c.input;
        EXPECT_EQ(result.consumed, c.consumed) << c.input;
        EXPECT_EQ(result.status, c.status) << c.input;
        EXPECT_TRUE(result.guardIntact);
    }
}

// The result of the first cell that maps x, as the stored cells say.
bool firstCellResult(const std::vector<uint16_t>& table, uint32_t x, uint16_t* result) {
    const uint16_t* cells = table.data() + table[2];
    for (uint32_t i = 0; i < table[0]; ++i) {
        const unsigned format = (table[table[1] + i / 4] >> (4 * (i % 4))) & 0xF;
        const uint16_t a = cells[3 * i], b = cells[3 * i + 1], c = cells[3 * i + 2];
        if (format == 2 && x == a)
            *result = c;
        else if (format == 0 && a <= x && x <= b)
            *result = static_cast<uint16_t>(c - a + x);
        else if (format == 1 && a <= x && x <= b)
            *result = table[table[3] + c + (x - a)];
        else
            continue;
        return true;
    }
    return false;
}

// A loaded table is looked up through its index, any other by its cells:
// both give every code the first matching cell's result.
TEST(TableEngine, LookupsGiveTheFirstMatchingCellForEveryCode) {
    TableConverter converter(&kNoTablesSet, 0);
    const uTable* loaded = converter.LoadToUCS2Table(40);
    ASSERT_EQ(loaded, kOverlapping.data());
    const std::vector<uint16_t> unloaded = kOverlapping;
    for (const uTable* table : {loaded, static_cast<const uTable*>(unloaded.data())}) {
        for (uint32_t x = 0; x <= 0xFFFF; ++x) {
            uint16_t expected = 0xFFFD, found = 0xFFFD;
            const bool maps = firstCellResult(kOverlapping, x, &expected) && expected != 0xFFFD;
            const bool foundMaps =
                TableConverter::LookupCode(table, static_cast<uint16_t>(x), &found) &&
                found != 0xFFFD;
            ASSERT_EQ(foundMaps, maps) << std::hex << x;
            ASSERT_EQ(maps ? found : 0xFFFD, expected) << std::hex << x;
        }
    }
    converter.UnloadToUCS2Table(40);
}

TEST(TableEngine, ASetWithoutTablesLoadsNothing) {
    TableConverter converter(&kNoTablesSet, 0);
    EXPECT_EQ(converter.GetStatus(), NLS_SUCCESS);
    EXPECT_EQ(converter.tableCount(), 0u);
}

TEST(TableEngine, AMissingTableFailsTheConverterButKeepsEarlierTablesLoaded) {
    const int32_t before = gMap[0].toUCS2.refCount;
    TableConverter converter(&kMissingSet, 0);
    EXPECT_EQ(converter.GetStatus(), NLS_TABLE_NOT_LOADED);
    EXPECT_EQ(converter.tableCount(), 0u);
    EXPECT_EQ(gMap[0].toUCS2.refCount, before + 1);
    TableConverter noModule(&kShiftJisSet, 0, nullptr);
    if (gMap[1].toUCS2.refCount == 0) {
        EXPECT_EQ(noModule.GetStatus(), NLS_TABLE_NOT_LOADED);
    }
}

TEST(TableEngine, ReferenceCountsTrackLoadsAndReleases) {
    TableConverter converter(&kNoTablesSet, 0);
    const int32_t before = gMap[2].toUCS2.refCount;
    const uTable* first = converter.LoadToUCS2Table(8);
    const uTable* second = converter.LoadToUCS2Table(8);
    EXPECT_EQ(first, second);
    EXPECT_EQ(gMap[2].toUCS2.refCount, before + 2);
    converter.UnloadToUCS2Table(8);
    converter.UnloadToUCS2Table(8);
    EXPECT_EQ(gMap[2].toUCS2.refCount, before);
    if (before == 0) {
        EXPECT_EQ(gMap[2].toUCS2.data, nullptr);
        converter.UnloadToUCS2Table(8);
        EXPECT_EQ(gMap[2].toUCS2.refCount, 0);
    }
    EXPECT_EQ(converter.LoadToUCS2Table(77), nullptr) << "an id absent from the map";
}

TEST(TableEngine, UnloadingASetEmptiesIt) {
    TableConverter converter(&kEucSet, 0);
    ASSERT_EQ(converter.tableCount(), 4u);
    const int32_t before = gMap[2].toUCS2.refCount;
    converter.UnloadUCS2TableSet(converter.toSet(), 0);
    EXPECT_EQ(gMap[2].toUCS2.refCount, before - 1);
    for (int k = 0; k < kTableSlots; ++k) {
        EXPECT_EQ(converter.toSet()->tables[k], nullptr);
        EXPECT_EQ(converter.toSet()->slots[k].tableId, 0);
    }
}

TEST(TableEngine, ArgumentRulesAndSmallCapacities) {
    TableConverter decoder(&kShiftJisSet, 0);
    TableConverter encoder(&kShiftJisSet, 1);
    unsigned char out[8];
    uint32_t written = 0, consumed = 0;
    const unsigned char in[] = {0x41, 0x42};
    EXPECT_EQ(decoder.Convert(out, &written, 8, in, 0, &consumed), NLS_INVALID_PARAMETER);
    EXPECT_EQ(decoder.Convert(out, &written, 0, in, 2, &consumed), NLS_INVALID_PARAMETER);
    EXPECT_EQ(decoder.Convert(nullptr, &written, 8, in, 2, &consumed), NLS_INVALID_PARAMETER);
    EXPECT_EQ(encoder.Convert(nullptr, &written, 8, in, 2, &consumed), NLS_INVALID_PARAMETER);
    for (uint32_t capacity = 0; capacity < 4; ++capacity) {
        const CallResult decoded = callConvert(&decoder, hexBytes("41 42"), capacity);
        EXPECT_TRUE(decoded.guardIntact) << capacity;
        if (capacity > 0) {
            EXPECT_EQ(decoded.status, NLS_RESULT_TRUNCATED) << capacity;
            EXPECT_EQ(decoded.consumed, 0u);
        }
        const CallResult encoded = callConvert(&encoder, hexBytes("41 00 42 00"), capacity);
        EXPECT_TRUE(encoded.guardIntact) << capacity;
        EXPECT_EQ(encoded.written, capacity > 0 ? capacity - 1 : 0) << capacity;
        EXPECT_EQ(encoded.status, capacity == 3 ? NLS_SUCCESS : NLS_RESULT_TRUNCATED) << capacity;
    }
}

TEST(TableEngine, ACopySharesTheTablesAndConvertsAlike) {
    TableConverter converter(&kShiftJisSet, 0);
    const int32_t before = gMap[1].toUCS2.refCount;
    TEncodingConverter copy(converter);
    EXPECT_EQ(gMap[1].toUCS2.refCount, before);
    const Bytes input = hexBytes("41 82 A0 A1 FF");
    EXPECT_EQ(callConvert(&copy, input, 64).output, callConvert(&converter, input, 64).output);
}

}  // namespace
