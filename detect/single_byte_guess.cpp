// Which single-byte encoding, and which language, a text is in. Each reading
// (an encoding and a language written in it) maps a byte to a symbol of the
// language's model (a letter, or a kind of other character); the text costs
// the sum over its byte pairs of the cost of the second symbol after the
// first (-log2 P, from generators/generate_language_models.py), and the
// cheapest reading wins. One pass over the text counts its pairs; a reading
// then looks up each distinct pair with a non-ASCII byte once, and each
// language the pairs of ASCII (which every encoding here reads alike) once.
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

// The byte pairs of a text. A pair of ASCII bytes is counted by the classes
// of its bytes (every reading maps ASCII alike: a letter by its lower case,
// anything else to one symbol), in a plain array. A pair with a non-ASCII
// byte is counted in an open-addressed table keyed by the pair; at most
// kMaxPairs distinct ones are kept (text has far fewer; the rest of a binary
// file is ignored).
const uint32_t kAsciiClasses = 27;  // 0: not a letter; 1-26: a to z
const uint32_t kSlots = 4096;
const uint32_t kMaxPairs = 3072;

struct PairCounts {
    uint32_t ascii[kAsciiClasses * kAsciiClasses];
    uint16_t keyAt[kSlots];  // 0: free (a kept pair has a byte >= 0x80)
    uint16_t slotOf[kMaxPairs];
    uint32_t countAt[kSlots];
    uint32_t distinct = 0;
    uint32_t highPairs = 0;  // pairs with a non-ASCII byte
};

uint32_t asciiClass(uint32_t byte) {
    const uint32_t lower = byte | 0x20;
    return lower - 'a' < 26 ? lower - 'a' + 1 : 0;
}

uint32_t slotFor(uint32_t key) {
    return (key * 40503u >> 4) & (kSlots - 1);
}

void countHighPair(PairCounts& counts, uint32_t key) {
    uint32_t slot = slotFor(key);
    while (counts.keyAt[slot] != 0 && counts.keyAt[slot] != key) slot = (slot + 1) & (kSlots - 1);
    if (counts.keyAt[slot] == 0) {
        if (counts.distinct == kMaxPairs) return;
        counts.keyAt[slot] = static_cast<uint16_t>(key);
        counts.countAt[slot] = 0;
        counts.slotOf[counts.distinct++] = static_cast<uint16_t>(slot);
    }
    ++counts.countAt[slot];
    ++counts.highPairs;
}

// The text starts after a space: its first byte is scored as a word start.
void countPairs(const unsigned char* p, uint32_t n, PairCounts& counts) {
    uint32_t previous = ' ';
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t current = p[i];
        if ((previous | current) & 0x80)
            countHighPair(counts, previous << 8 | current);
        else
            ++counts.ascii[asciiClass(previous) * kAsciiClasses + asciiClass(current)];
        previous = current;
    }
}

bool isLetter(uint8_t symbol) {
    const uint32_t s = symbol & kSymbolMask;
    return s == kForeignLetter || s >= kFirstLetter;
}

uint32_t pairCost(const uint8_t* symbols, const uint8_t (*costs)[models::kSymbols], uint32_t key) {
    const uint8_t first = symbols[key >> 8], second = symbols[key & 0xFF];
    uint32_t cost = costs[first & kSymbolMask][second & kSymbolMask];
    if (second & kUnassigned) cost += kUnassignedCost;
    const bool firstLower = isLetter(first) && !(first & kUpperCase);
    if (firstLower && (second & kUpperCase)) cost += kCaseSwapCost;
    return cost;
}

uint64_t highPairsCost(const PairCounts& counts, uint32_t reading) {
    const uint8_t* symbols = kByteSymbols[reading];
    const auto costs = kPairCosts[kReadingsOf[reading].language];
    uint64_t total = 0;
    for (uint32_t i = 0; i < counts.distinct; ++i) {
        const uint32_t slot = counts.slotOf[i];
        total += static_cast<uint64_t>(counts.countAt[slot]) *
                 pairCost(symbols, costs, counts.keyAt[slot]);
    }
    return total;
}

// What the ASCII pairs cost in a language: the same in all its readings.
uint64_t asciiPairsCost(const PairCounts& counts, uint32_t language) {
    const uint8_t* symbols = kByteSymbols[models::kAReadingOf[language]];
    const auto costs = kPairCosts[language];
    uint8_t symbolOf[kAsciiClasses];
    symbolOf[0] = symbols[' '];
    for (uint32_t letter = 1; letter < kAsciiClasses; ++letter)
        symbolOf[letter] = symbols['a' + letter - 1] & kSymbolMask;
    uint64_t total = 0;
    for (uint32_t first = 0; first < kAsciiClasses; ++first) {
        const uint32_t* row = counts.ascii + first * kAsciiClasses;
        const uint8_t* rowCosts = costs[symbolOf[first]];
        for (uint32_t second = 0; second < kAsciiClasses; ++second)
            total += static_cast<uint64_t>(row[second]) * rowCosts[symbolOf[second]];
    }
    return total;
}

// Confidence from how far the text's mean pair cost is above what the
// language's own held-out text costs, and from how much text there is.
uint32_t confidenceOf(uint64_t total, uint32_t pairs, uint32_t language) {
    if (pairs == 0) return 0;
    const double expected = models::kModels[language].heldOutCost;
    const double mean = static_cast<double>(total) / pairs;
    const double closeness = mean <= expected ? 1.0 : expected / mean;
    const double amount = pairs / (pairs + 4.0);
    const double confidence = 100.0 * closeness * closeness * amount;
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

}  // namespace

uint32_t GuessSingleByte(const unsigned char* p, uint32_t n, LanguageGuess* guesses,
                         uint32_t capacity) {
    PairCounts counts;
    memset(counts.ascii, 0, sizeof counts.ascii);
    memset(counts.keyAt, 0, sizeof counts.keyAt);
    countPairs(p, n, counts);
    if (counts.highPairs == 0) return 0;
    uint64_t asciiCost[models::kLanguages];
    for (uint32_t language = 0; language < models::kLanguages; ++language)
        asciiCost[language] = asciiPairsCost(counts, language);
    // The best language of each encoding (readings come grouped by encoding).
    Scored best[models::kEncodings];
    uint32_t encodings = 0;
    for (uint32_t reading = 0; reading < kReadings; ++reading) {
        const uint32_t language = kReadingsOf[reading].language;
        const Scored scored = {highPairsCost(counts, reading) + asciiCost[language], reading};
        const uint32_t encoding = kReadingsOf[reading].encoding;
        if (encodings == encoding)
            best[encodings++] = scored;
        else if (scored.cost < best[encodings - 1].cost)
            best[encodings - 1] = scored;
    }
    std::sort(best, best + encodings, cheaper);
    const uint32_t bestLanguage = kReadingsOf[best[0].reading].language;
    const uint32_t bestConfidence = confidenceOf(best[0].cost, n, bestLanguage);
    uint32_t filled = 0;
    for (uint32_t i = 0; i < encodings && filled < capacity; ++i) {
        const models::Reading reading = kReadingsOf[best[i].reading];
        const models::Encoding& encoding = models::kEncodingNames[reading.encoding];
        const char* language = models::kModels[reading.language].language;
        const uint32_t confidence = relativeConfidence(bestConfidence, best[i].cost - best[0].cost);
        guesses[filled++] = LanguageGuess{encoding.name, confidence, language};
        if (encoding.twin != nullptr && filled < capacity)
            guesses[filled++] = LanguageGuess{encoding.twin, confidence, language};
    }
    return filled;
}

}  // namespace velta
