// Which single-byte encoding, and which language, a text is in. Each reading
// (an encoding and a language written in it) maps a byte to a symbol of the
// language's model (a letter, or a kind of other character); the text costs
// the sum over its byte pairs of the cost of the second symbol after the
// first (-log2 P, from generators/generate_language_models.py), and the
// cheapest reading wins. One pass over the text counts its pairs; a reading
// then looks up each distinct pair with a non-ASCII byte once, and each
// language the pairs of ASCII (which every encoding here reads alike) once.
#include <math.h>
#include <string.h>

#include <algorithm>

#include "detect/detection.h"
#include "detect/models/language_models.h"

namespace velta {

namespace {

using models::kByteSymbols;
using models::kPairCosts;
using models::kReadings;
using models::kReadingsOf;

const uint8_t kSymbolMask = 0x3F;
const uint8_t kUpperCase = 0x40;
const uint8_t kUnassigned = 0x80;
const uint8_t kForeignLetter = 1;  // a letter not in the language's alphabet
const uint8_t kFirstLetter = 4;    // symbols below are not letters of the alphabet

// Quarter bits. A byte real text does not hold (unassigned, a C1 control)
// costs as much as a pair never seen; an upper-case letter right after a
// lower-case one (a reading that swaps cases, as KOI8-R read as windows-1251)
// costs a few bits more than its pair.
const uint32_t kUnassignedCost = 100;
const uint32_t kCaseSwapCost = 12;

// A byte as the counts see it: ASCII by its class (every reading maps ASCII
// alike: a letter by its lower case, anything else to one symbol), 0-26; a
// byte 0x80-0xFF as itself, 27-154.
const uint32_t kAsciiClasses = 27;  // 0: not a letter; 1-26: a to z
const uint32_t kUnits = kAsciiClasses + 128;

struct UnitTable {
    uint8_t of[256];
};

constexpr UnitTable unitTable() {
    UnitTable table = {};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        const uint32_t lower = byte | 0x20;
        table.of[byte] = static_cast<uint8_t>(byte >= 0x80       ? byte - 0x80 + kAsciiClasses
                                              : lower - 'a' < 26 ? lower - 'a' + 1
                                                                 : 0);
    }
    return table;
}

constexpr UnitTable kUnitTable = unitTable();
const uint8_t* const kUnitOf = kUnitTable.of;

// The single bytes and byte pairs of a text. The pairs are counted in a
// table of each thread's own, all zeros between calls: each pair seen is
// listed (those of ASCII alone apart) with its count, and its entry zeroed
// again, so that no call clears the table (48 kilobytes) and scoring touches
// only the pairs of the text. At most kMostBytes are counted, so no count
// overflows.
const uint32_t kMostBytes = 0xFFFF;

struct PairTable {
    uint16_t counts[kUnits * kUnits];
};

thread_local PairTable tPairs;

// The thread's table, its address taken once a call (read through a volatile,
// so that the compiler does not look it up again at every pair).
uint16_t* threadPairTable() {
    PairTable* volatile table = &tPairs;
    return table->counts;
}

struct Counts {
    uint16_t singles[kUnits];
    uint16_t asciiPairsSeen[kAsciiClasses * kAsciiClasses];
    uint16_t asciiPairCounts[kAsciiClasses * kAsciiClasses];
    uint16_t highPairsSeen[kUnits * kUnits + 1];  // (+1: the list is written one ahead)
    uint16_t highPairCounts[kUnits * kUnits];
    uint8_t highBytes[128];  // the bytes 0x80-0xFF seen, less 0x80
    uint32_t asciiSeen = 0;
    uint32_t highSeen = 0;
    uint32_t highBytesSeen = 0;
};

uint32_t pairIndex(uint32_t seen) {
    return (seen >> 8) * kUnits + (seen & 0xFF);
}

// The text starts after a space: its first byte is scored as a word start.
// Each pair is written to the list and kept there when it is new (no branch:
// new pairs come at random).
void countBytes(const unsigned char* p, uint32_t n, Counts& counts) {
    uint16_t* const table = threadPairTable();
    uint16_t* listed = counts.highPairsSeen;
    uint32_t seen = 0;
    uint32_t previous = 0;  // a space's class
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t current = kUnitOf[p[i]];
        const uint16_t count = table[previous * kUnits + current];
        table[previous * kUnits + current] = static_cast<uint16_t>(count + 1);
        listed[seen] = static_cast<uint16_t>(previous << 8 | current);
        seen += count == 0;
        previous = current;
    }
    // The pairs of ASCII apart; the others stay, in order. A byte's count is
    // that of the pairs it ends.
    memset(counts.singles, 0, sizeof counts.singles);
    for (uint32_t i = 0; i < seen; ++i) {
        const uint16_t pair = listed[i];
        uint16_t& entry = table[pairIndex(pair)];
        counts.singles[pair & 0xFF] = static_cast<uint16_t>(counts.singles[pair & 0xFF] + entry);
        if ((pair >> 8) < kAsciiClasses && (pair & 0xFF) < kAsciiClasses) {
            counts.asciiPairCounts[counts.asciiSeen] = entry;
            counts.asciiPairsSeen[counts.asciiSeen++] = pair;
        } else {
            counts.highPairCounts[counts.highSeen] = entry;
            listed[counts.highSeen++] = pair;
        }
        entry = 0;
    }
    for (uint32_t b = 0; b < 128; ++b)
        if (counts.singles[kAsciiClasses + b] != 0)
            counts.highBytes[counts.highBytesSeen++] = static_cast<uint8_t>(b);
}

// A byte of each unit (the class of an ASCII byte is read alike in every
// reading: its space or its lower-case letter).
struct ByteTable {
    uint8_t of[kUnits];
};

constexpr ByteTable byteTable() {
    ByteTable table = {};
    table.of[0] = ' ';
    for (uint32_t letter = 1; letter < kAsciiClasses; ++letter)
        table.of[letter] = static_cast<uint8_t>('a' + letter - 1);
    for (uint32_t high = 0; high < 128; ++high)
        table.of[kAsciiClasses + high] = static_cast<uint8_t>(0x80 + high);
    return table;
}

constexpr ByteTable kByteTable = byteTable();
const uint8_t* const kByteOf = kByteTable.of;

// An upper-case letter right after a lower-case one costs kCaseSwapCost more.
// At most this many distinct pairs with a non-ASCII byte are scored (text has
// a few hundred; the rest of a binary file is not read).
const uint32_t kMaxListedPairs = 4096;

// A distinct pair of the text: the bytes it reads as, and how often.
struct CountedPair {
    uint8_t first;
    uint8_t second;
    uint16_t count;
};

// The pairs with a non-ASCII byte, made compact for the readings to walk.
uint32_t listHighPairs(const Counts& counts, CountedPair* pairs) {
    const uint32_t count = std::min(counts.highSeen, kMaxListedPairs);
    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t seen = counts.highPairsSeen[i];
        pairs[i] = CountedPair{kByteOf[seen >> 8], kByteOf[seen & 0xFF], counts.highPairCounts[i]};
    }
    return count;
}

// The pairs of ASCII: the same in every reading of a language.
uint64_t asciiPairsCost(const Counts& counts, uint32_t language) {
    const uint8_t(*costs)[kAsciiClasses] = models::kAsciiPairCosts[language];
    uint32_t total = 0;
    for (uint32_t i = 0; i < counts.asciiSeen; ++i) {
        const uint32_t seen = counts.asciiPairsSeen[i];
        total += counts.asciiPairCounts[i] * costs[seen >> 8][seen & 0xFF];
    }
    return total;
}

// What a symbol adds to the cost of the pair it ends: a byte real text does
// not hold; an upper-case letter after a lower-case one (kCaseSwapCost, where
// the first symbol's entry is a lower-case letter).
struct SymbolTable {
    uint8_t extra[256];
    uint8_t lowerLetter[256];
};

constexpr SymbolTable symbolTable() {
    SymbolTable table = {};
    for (uint32_t symbol = 0; symbol < 256; ++symbol) {
        table.extra[symbol] = symbol & kUnassigned ? kUnassignedCost : 0;
        const uint32_t s = symbol & kSymbolMask;
        table.lowerLetter[symbol] =
            (s == kForeignLetter || s >= kFirstLetter) && !(symbol & kUpperCase);
    }
    return table;
}

constexpr SymbolTable kSymbolTable = symbolTable();

// (Sums fit 32 bits: at most kMostBytes pairs, each under 256 quarter bits.)
uint64_t pairsCost(const CountedPair* pairs, uint32_t count, const uint8_t* symbols,
                   const uint8_t (*costs)[models::kSymbols]) {
    uint32_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t first = symbols[pairs[i].first], second = symbols[pairs[i].second];
        const uint32_t caseSwap = kSymbolTable.lowerLetter[first] & (second >> 6);
        const uint32_t cost = costs[first & kSymbolMask][second & kSymbolMask] +
                              kSymbolTable.extra[second] + caseSwap * kCaseSwapCost;
        total += pairs[i].count * cost;
    }
    return total;
}

// What the bytes from 0x80 up cost, each as often as the text has it.
uint64_t highBytesCost(const Counts& counts, const uint8_t* costs) {
    const uint16_t* high = counts.singles + kAsciiClasses;
    uint64_t total = 0;
    for (uint32_t i = 0; i < counts.highBytesSeen; ++i) {
        const uint32_t b = counts.highBytes[i];
        total += static_cast<uint64_t>(high[b]) * costs[b];
    }
    return total;
}

// What the single bytes cost in a reading: a first, cheap judgement.
uint64_t singlesCost(const Counts& counts, uint32_t reading, const uint64_t* asciiCost) {
    return highBytesCost(counts, models::kHighByteCosts[reading]) +
           asciiCost[kReadingsOf[reading].language];
}

// The least any reading of an encoding can cost by its single bytes.
uint64_t leastCost(const Counts& counts, uint32_t encoding, const uint64_t* asciiCost) {
    uint64_t total = highBytesCost(counts, models::kLeastHighByteCosts[encoding]);
    uint64_t leastAscii = UINT64_MAX;
    for (uint32_t reading = models::kFirstReading[encoding];
         reading < models::kFirstReading[encoding + 1]; ++reading)
        leastAscii = std::min(leastAscii, asciiCost[kReadingsOf[reading].language]);
    return total + leastAscii;
}

uint64_t asciiSinglesCost(const Counts& counts, uint32_t language) {
    const uint8_t* costs = models::kAsciiCosts[language];
    uint32_t total = 0;
    for (uint32_t unit = 0; unit < kAsciiClasses; ++unit)
        total += static_cast<uint32_t>(counts.singles[unit]) * costs[unit];
    return total;
}

// Confidence from how far the mean cost of the text's pairs with a non-ASCII
// byte is above what those of the language's own held-out text cost, and
// from how many there are.
uint32_t confidenceOf(uint64_t total, uint32_t pairs, uint32_t language) {
    if (pairs == 0) return 0;
    const double expected = models::kModels[language].heldOutCost;
    const double mean = static_cast<double>(total) / pairs;
    const double closeness = mean <= expected ? 1.0 : expected / mean;
    const double amount = pairs / (pairs + 1.0);
    const double confidence = 100.0 * sqrt(closeness) * amount;
    return confidence < 1.0 ? 1 : static_cast<uint32_t>(confidence + 0.5);
}

// A worse reading's confidence: the best one's, less for each bit its text
// costs more (so the readings keep their order, and two that read the text
// the same keep the same confidence).
uint32_t relativeConfidence(uint32_t best, uint64_t extraCost) {
    const double extraBits = extraCost / 4.0;
    const uint32_t confidence = static_cast<uint32_t>(best / (1.0 + extraBits / 16.0) + 0.5);
    return confidence == 0 ? 1 : confidence;
}

struct Scored {
    uint64_t cost;
    uint32_t reading;
};

bool cheaper(const Scored& a, const Scored& b) {
    return a.cost < b.cost || (a.cost == b.cost && a.reading < b.reading);
}

// Insertion sort: a handful of readings.
void sortCheapestFirst(Scored* scored, uint32_t count) {
    for (uint32_t i = 1; i < count; ++i)
        for (uint32_t j = i; j > 0 && cheaper(scored[j], scored[j - 1]); --j)
            std::swap(scored[j], scored[j - 1]);
}

// Whether two encodings read every byte 0x80-0xFF of the text alike.
bool readAlike(const Counts& counts, uint32_t a, uint32_t b) {
    const uint8_t* same = models::kSameBytes[a][b];
    for (uint32_t i = 0; i < counts.highBytesSeen; ++i) {
        const uint32_t byte = counts.highBytes[i];
        if (!(same[byte / 8] >> (byte % 8) & 1)) return false;
    }
    return true;
}

// Western text (windows-1252, ISO-8859-15, ISO-8859-1) is by far the most
// common single-byte text. Lists of names from many languages read better
// as some other language; when such text reads so in another encoding, the
// bytes the two encodings read differently decide.
struct WesternTable {
    bool of[models::kEncodings];
};

WesternTable westernTable() {
    WesternTable table = {};
    for (uint32_t encoding = 0; encoding < models::kEncodings; ++encoding) {
        const char* name = models::kEncodingNames[encoding].name;
        table.of[encoding] = strcmp(name, "windows-1252") == 0 ||
                             strcmp(name, "ISO-8859-15") == 0 ||
                             strcmp(name, "ISO_8859-1:1987") == 0;
    }
    return table;
}

bool isWestern(uint32_t encoding) {
    static const WesternTable western = westernTable();
    return western.of[encoding];
}

bool readsDifferently(const uint8_t* same, uint32_t byte) {
    return byte >= 0x80 && !(same[(byte - 0x80) / 8] >> ((byte - 0x80) % 8) & 1);
}

// What the pairs with a byte two encodings read differently cost in a reading
// of one of them.
uint64_t differingPairsCost(const CountedPair* pairs, uint32_t count, const uint8_t* same,
                            uint32_t reading) {
    const uint8_t* symbols = kByteSymbols[reading];
    const auto costs = kPairCosts[kReadingsOf[reading].language];
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i)
        if (readsDifferently(same, pairs[i].first) || readsDifferently(same, pairs[i].second))
            total += pairsCost(pairs + i, 1, symbols, costs);
    return total;
}

// A reading beats a Western one only where the bytes they read differently
// cost clearly less in it: by kEvidenceCost, and a quarter bit more for each
// kEvidenceBytes bytes of the text (lists of names, read as the wrong
// language, cost less in it by their shared letters alone).
const uint64_t kEvidenceCost = 24;
const uint64_t kEvidenceBytes = 64;

bool clearlyNotWestern(const CountedPair* pairs, uint32_t count, uint32_t reading, uint32_t western,
                       uint32_t length) {
    const uint8_t* same =
        models::kSameBytes[kReadingsOf[reading].encoding][kReadingsOf[western].encoding];
    const uint64_t own = differingPairsCost(pairs, count, same, reading);
    const uint64_t westernCost = differingPairsCost(pairs, count, same, western);
    return westernCost > own + kEvidenceCost + length / kEvidenceBytes;
}

}  // namespace

// The encodings whose readings cost least by their single bytes are judged
// by their pairs, each in the languages it reads best as.
const uint32_t kJudgedEncodings = 5;
const uint32_t kJudgedLanguages = 3;
// ... those that cost at most a third and 32 bits more than the cheapest.
const uint64_t kJudgedMargin = 3;
const uint64_t kJudgedSlack = 128;

namespace {

// The cheapest readings by single bytes: kJudgedLanguages of each of the
// kJudgedEncodings cheapest encodings. Returns their number.
uint64_t priorCost(uint32_t encoding) {
    return models::kEncodingNames[encoding].priorCost;
}

// A reading far dearer than the cheapest is not judged further.
uint64_t dearestJudged(uint64_t cheapest) {
    return cheapest + cheapest / kJudgedMargin + kJudgedSlack;
}

// Encodings are visited from the least each of their readings can cost (the
// cheapest byte of any of its languages, byte by byte) up; once that bound
// passes the encodings already found, the rest cannot be among them.
uint32_t chooseReadings(const Counts& counts, Scored* chosen) {
    uint64_t asciiCost[models::kLanguages];
    for (uint32_t language = 0; language < models::kLanguages; ++language)
        asciiCost[language] = asciiSinglesCost(counts, language);
    Scored bounds[models::kEncodings];
    for (uint32_t encoding = 0; encoding < models::kEncodings; ++encoding)
        bounds[encoding] =
            Scored{leastCost(counts, encoding, asciiCost) + priorCost(encoding), encoding};
    sortCheapestFirst(bounds, models::kEncodings);
    Scored perEncoding[kJudgedEncodings][kJudgedLanguages] = {};
    uint32_t kept[kJudgedEncodings] = {};
    uint32_t found = 0;
    for (uint32_t i = 0; i < models::kEncodings; ++i) {
        if (found == kJudgedEncodings && bounds[i].cost > perEncoding[found - 1][0].cost) break;
        if (found != 0 && bounds[i].cost > dearestJudged(perEncoding[0][0].cost)) break;
        const uint32_t encoding = bounds[i].reading;
        Scored group[kJudgedLanguages] = {};
        uint32_t inGroup = 0;
        for (uint32_t reading = models::kFirstReading[encoding];
             reading < models::kFirstReading[encoding + 1]; ++reading) {
            const Scored scored = {singlesCost(counts, reading, asciiCost) + priorCost(encoding),
                                   reading};
            if (inGroup < kJudgedLanguages)
                group[inGroup++] = scored;
            else if (cheaper(scored, group[kJudgedLanguages - 1]))
                group[kJudgedLanguages - 1] = scored;
            sortCheapestFirst(group, inGroup);
        }
        // Keep the kJudgedEncodings cheapest groups, cheapest first.
        uint32_t at = found < kJudgedEncodings ? found++ : kJudgedEncodings;
        if (at == kJudgedEncodings) {
            if (!cheaper(group[0], perEncoding[kJudgedEncodings - 1][0])) continue;
            at = kJudgedEncodings - 1;
        }
        for (; at > 0 && cheaper(group[0], perEncoding[at - 1][0]); --at) {
            memcpy(perEncoding[at], perEncoding[at - 1], sizeof perEncoding[at]);
            kept[at] = kept[at - 1];
        }
        memcpy(perEncoding[at], group, sizeof group);
        kept[at] = inGroup;
    }
    const uint64_t dearest = dearestJudged(perEncoding[0][0].cost);
    uint32_t count = 0;
    for (uint32_t i = 0; i < found; ++i)
        for (uint32_t j = 0; j < kept[i]; ++j)
            if (i == 0 || perEncoding[i][j].cost <= dearest) chosen[count++] = perEncoding[i][j];
    return count;
}

// The readings of windows-1252 judged besides, where none of the Western
// encodings is and the text's bytes read mostly as in the cheapest encoding
// (at most one in kBytesADifference differently): lists of names from many
// languages, in windows-1252, that read better in another encoding as
// another language. Returns their number.
const uint32_t kBytesADifference = 32;

uint32_t addWesternReadings(const Counts& counts, uint32_t length, Scored* chosen,
                            uint32_t judged) {
    for (uint32_t i = 0; i < judged; ++i)
        if (isWestern(kReadingsOf[chosen[i].reading].encoding)) return 0;
    const uint32_t western = 0;  // windows-1252, first of the encodings
    const uint8_t* same = models::kSameBytes[kReadingsOf[chosen[0].reading].encoding][western];
    uint32_t differing = 0;
    for (uint32_t i = 0; i < counts.highBytesSeen; ++i) {
        const uint32_t byte = counts.highBytes[i];
        if (!(same[byte / 8] >> (byte % 8) & 1)) differing += counts.singles[kAsciiClasses + byte];
    }
    if (differing * kBytesADifference > length) return 0;
    uint64_t asciiCost[models::kLanguages];
    Scored group[kJudgedLanguages];
    uint32_t inGroup = 0;
    for (uint32_t reading = models::kFirstReading[western];
         reading < models::kFirstReading[western + 1]; ++reading) {
        const uint32_t language = kReadingsOf[reading].language;
        asciiCost[language] = asciiSinglesCost(counts, language);
        const Scored scored = {singlesCost(counts, reading, asciiCost), reading};
        if (inGroup < kJudgedLanguages)
            group[inGroup++] = scored;
        else if (cheaper(scored, group[kJudgedLanguages - 1]))
            group[kJudgedLanguages - 1] = scored;
        sortCheapestFirst(group, inGroup);
    }
    memcpy(chosen + judged, group, inGroup * sizeof group[0]);
    return inGroup;
}

}  // namespace

uint32_t GuessSingleByte(const unsigned char* p, uint32_t n, LanguageGuess* guesses,
                         uint32_t capacity) {
    Counts counts;
    n = std::min(n, kMostBytes);
    countBytes(p, n, counts);
    if (counts.highSeen == 0) return 0;
    Scored chosen[(kJudgedEncodings + 1) * kJudgedLanguages];
    uint32_t judged = chooseReadings(counts, chosen);
    judged += addWesternReadings(counts, n, chosen, judged);
    CountedPair highPairs[kMaxListedPairs];
    const uint32_t highPairCount = listHighPairs(counts, highPairs);
    uint32_t highPairTotal = 0;
    for (uint32_t i = 0; i < highPairCount; ++i) highPairTotal += highPairs[i].count;
    // The pairs of ASCII cost the same in every reading of a language.
    uint64_t asciiPairs[models::kLanguages];
    bool asciiPairsKnown[models::kLanguages] = {};
    // The judged readings by their pairs, best language of each encoding first.
    Scored best[kJudgedEncodings + 1];
    uint64_t bestHighCost[kJudgedEncodings + 1] = {};
    uint64_t pairCosts[(kJudgedEncodings + 1) * kJudgedLanguages];
    uint32_t encodings = 0;
    for (uint32_t i = 0; i < judged; ++i) {
        const uint32_t reading = chosen[i].reading;
        const uint32_t language = kReadingsOf[reading].language;
        const uint32_t encoding = kReadingsOf[reading].encoding;
        const uint8_t* units = kByteSymbols[reading];
        const auto costs = kPairCosts[language];
        if (!asciiPairsKnown[language]) {
            asciiPairs[language] = asciiPairsCost(counts, language);
            asciiPairsKnown[language] = true;
        }
        // A language in an encoding that reads the text as one judged before
        // (windows-1252 and ISO-8859-15 on most Western text) costs the same.
        uint32_t alike = 0;
        while (alike < i &&
               (kReadingsOf[chosen[alike].reading].language != language ||
                !readAlike(counts, kReadingsOf[chosen[alike].reading].encoding, encoding)))
            ++alike;
        pairCosts[i] =
            alike < i ? pairCosts[alike] : pairsCost(highPairs, highPairCount, units, costs);
        const uint64_t cost = pairCosts[i] + asciiPairs[language] + priorCost(encoding);
        uint32_t j = 0;
        while (j < encodings && kReadingsOf[best[j].reading].encoding != encoding) ++j;
        if (j == encodings) {
            bestHighCost[j] = pairCosts[i];
            best[encodings++] = Scored{cost, reading};
        } else if (cheaper(Scored{cost, reading}, best[j])) {
            bestHighCost[j] = pairCosts[i];
            best[j] = Scored{cost, reading};
        }
    }
    // (The confidence is that of the winner's pairs with a non-ASCII byte.)
    uint32_t winnerAt = 0;
    for (uint32_t j = 1; j < encodings; ++j)
        if (cheaper(best[j], best[winnerAt])) winnerAt = j;
    uint32_t westernAt = encodings;
    for (uint32_t j = 0; j < encodings; ++j)
        if (isWestern(kReadingsOf[best[j].reading].encoding) &&
            (westernAt == encodings || cheaper(best[j], best[westernAt])))
            westernAt = j;
    if (westernAt < encodings && westernAt != winnerAt &&
        !isWestern(kReadingsOf[best[winnerAt].reading].encoding) &&
        !readAlike(counts, kReadingsOf[best[winnerAt].reading].encoding,
                   kReadingsOf[best[westernAt].reading].encoding) &&
        !clearlyNotWestern(highPairs, highPairCount, best[winnerAt].reading,
                           best[westernAt].reading, n)) {
        // The Western reading comes first, the others keep their order.
        const Scored western = best[westernAt];
        sortCheapestFirst(best, encodings);
        uint32_t at = 0;
        while (best[at].reading != western.reading) ++at;
        for (; at > 0; --at) best[at] = best[at - 1];
        best[0] = western;
        winnerAt = westernAt;
    } else {
        sortCheapestFirst(best, encodings);
    }
    const uint64_t winnerHighCost = bestHighCost[winnerAt];
    const uint32_t bestLanguage = kReadingsOf[best[0].reading].language;
    const uint32_t bestConfidence = confidenceOf(winnerHighCost, highPairTotal, bestLanguage);
    // The winner and every encoding that reads the text as it does, in the
    // order users expect them, then the other readings.
    const uint32_t winner = kReadingsOf[best[0].reading].encoding;
    const char* winnerLanguage = models::kModels[bestLanguage].language;
    bool listed[models::kEncodings] = {};
    uint32_t filled = 0;
    auto add = [&](uint32_t encoding, uint32_t confidence, const char* language) {
        listed[encoding] = true;
        const models::Encoding& names = models::kEncodingNames[encoding];
        if (filled < capacity) guesses[filled++] = LanguageGuess{names.name, confidence, language};
        if (names.twin != nullptr && filled < capacity)
            guesses[filled++] = LanguageGuess{names.twin, confidence, language};
    };
    for (uint32_t encoding = 0; encoding < models::kEncodings; ++encoding)
        if (encoding == winner || readAlike(counts, winner, encoding))
            add(encoding, bestConfidence, winnerLanguage);
    for (uint32_t i = 1; i < encodings; ++i) {
        const models::Reading reading = kReadingsOf[best[i].reading];
        if (!listed[reading.encoding])
            add(reading.encoding,
                relativeConfidence(bestConfidence,
                                   best[i].cost > best[0].cost ? best[i].cost - best[0].cost : 0),
                models::kModels[reading.language].language);
    }
    return filled;
}

}  // namespace velta
