// Ranks the encodings a buffer of real text may be in, each with a
// confidence: byte order marks; UTF-16 without one (its zero bytes);
// ISO-2022-JP (its escapes); UTF-8 (valid with multi-byte sequences); and the
// legacy encodings, each read by its own byte grammar. A legacy reading is
// judged by what its characters are: invalid sequences rule it out; the rows
// that hold a language's common characters (GB 2312 level 1, Big5's frequent
// characters, KS X 1001 Hangul, JIS X 0208 level 1) count for it, the rest of
// each table (symbols, extensions, user-defined areas) against it. Real
// Japanese text has kana, Korean text is mostly Hangul in rows 0xB0-0xC8,
// Chinese text spreads over rows 0xB0-0xF7, and Big5 text has trail bytes
// below 0x80; a reading without its language's mark is discounted.
// The single-byte encodings are told apart by language models
// (single_byte_guess.cpp).
#include <stddef.h>
#include <string.h>

#include <algorithm>

#include "detect/detection.h"

namespace velta {

namespace {

const char kEucJpName[] = "Extended_UNIX_Code_Packed_Format_for_Japanese";

// Single-byte guesses given at most; from this confidence on, the legacy CJK
// readings are not tried.
const uint32_t kMaxSingleByte = 12;
const uint32_t kSureSingleByte = 90;

inline bool in(uint32_t value, uint32_t low, uint32_t high) {
    return value - low <= high - low;
}

// What one character of a legacy reading is worth as evidence.
enum CharacterClass { kInvalid, kCommon, kLessCommon, kSymbol, kRare, kMark };

// A legacy reading: its counts over the examined bytes.
struct Reading {
    double weight = 0;        // sum over non-ASCII characters of what each is worth
    uint32_t characters = 0;  // non-ASCII characters
    uint32_t invalid = 0;
    uint32_t marks = 0;       // kana for Japanese, Hangul for Korean
    uint32_t lowTrails = 0;   // two-byte characters with a trail byte below 0x80
    uint32_t spreadRows = 0;  // (GB) characters in rows 0xC9-0xF7
};

double worth(CharacterClass kind) {
    switch (kind) {
        case kCommon:
        case kMark:
            return 1.0;
        case kLessCommon:
            return 0.6;
        case kSymbol:
            return 0.5;
        case kRare:
            return 0.05;
        default:
            return 0.0;
    }
}

// One character of a reading at p: its length (at least 1) and class.
typedef uint32_t (*Grammar)(const unsigned char* p, uint32_t n, CharacterClass* kind);

uint32_t readGbk(const unsigned char* p, uint32_t n, CharacterClass* kind) {
    const uint32_t lead = p[0];
    *kind = kInvalid;
    if (lead == 0x80) {
        *kind = kSymbol;  // the euro sign
        return 1;
    }
    if (lead == 0xFF || n < 2) return 1;
    const uint32_t trail = p[1];
    if (in(trail, 0x30, 0x39)) {
        if (n < 4 || !in(p[2], 0x81, 0xFE) || !in(p[3], 0x30, 0x39)) return 1;
        *kind = kRare;
        return 4;
    }
    if (!in(trail, 0x40, 0x7E) && !in(trail, 0x80, 0xFE)) return 1;
    if (trail < 0xA1 || lead < 0xA1 || in(lead, 0xAA, 0xAF) || lead > 0xF7)
        *kind = kRare;  // GBK's extensions and user-defined areas
    else if (lead <= 0xA3)
        *kind = kSymbol;
    else if (lead <= 0xA9)
        *kind = kRare;  // kana, Greek, Cyrillic, pinyin, box drawing
    else if (lead <= 0xD7)
        *kind = kCommon;
    else
        *kind = kLessCommon;
    return 2;
}

uint32_t readBig5(const unsigned char* p, uint32_t n, CharacterClass* kind) {
    const uint32_t lead = p[0];
    *kind = kInvalid;
    if (lead == 0x80 || lead == 0xFF || n < 2) return 1;
    const uint32_t trail = p[1];
    if (!in(trail, 0x40, 0x7E) && !in(trail, 0xA1, 0xFE)) return 1;
    const uint32_t code = lead << 8 | trail;
    if (lead < 0xA1 || in(code, 0xC6A1, 0xC8FE) || code >= 0xF9D6 || in(code, 0xA3C0, 0xA3FE))
        *kind = kRare;  // HKSCS, ETEN's additions, unassigned
    else if (lead <= 0xA3)
        *kind = kSymbol;
    else if (code <= 0xC67E)
        *kind = kCommon;
    else
        *kind = kLessCommon;
    return 2;
}

uint32_t readEucKr(const unsigned char* p, uint32_t n, CharacterClass* kind) {
    const uint32_t lead = p[0];
    *kind = kInvalid;
    if (lead == 0x80 || lead == 0xFF || n < 2) return 1;
    const uint32_t trail = p[1];
    if (!in(trail, 0x41, 0xFE)) return 1;
    if (trail < 0xA1)
        *kind = lead <= 0xC6 ? kLessCommon : kInvalid;  // UHC's other syllables
    else if (in(lead, 0xB0, 0xC8))
        *kind = kMark;
    else if (lead <= 0xA3)
        *kind = kSymbol;
    else if (lead == 0xA4)
        *kind = kLessCommon;  // Hangul letters
    else if (in(lead, 0xCA, 0xFD))
        *kind = kSymbol;  // Hanja
    else
        *kind = kRare;
    return 2;
}

uint32_t readEucJp(const unsigned char* p, uint32_t n, CharacterClass* kind) {
    const uint32_t lead = p[0];
    *kind = kInvalid;
    if (lead == 0x8E) {
        if (n < 2 || !in(p[1], 0xA1, 0xDF)) return 1;
        *kind = kRare;
        return 2;
    }
    if (lead == 0x8F) {
        if (n < 3 || !in(p[1], 0xA1, 0xFE) || !in(p[2], 0xA1, 0xFE)) return 1;
        *kind = kRare;
        return 3;
    }
    if (!in(lead, 0xA1, 0xFE) || n < 2 || !in(p[1], 0xA1, 0xFE)) return 1;
    if (lead == 0xA4 || lead == 0xA5)
        *kind = kMark;
    else if (in(lead, 0xA1, 0xA3))
        *kind = kSymbol;
    else if (in(lead, 0xB0, 0xCF))
        *kind = kCommon;
    else if (in(lead, 0xD0, 0xF4))
        *kind = kLessCommon;
    else
        *kind = kRare;
    return 2;
}

uint32_t readShiftJis(const unsigned char* p, uint32_t n, CharacterClass* kind) {
    const uint32_t lead = p[0];
    *kind = kInvalid;
    if (in(lead, 0xA1, 0xDF)) {
        *kind = kRare;  // half-width katakana
        return 1;
    }
    if (!in(lead, 0x81, 0x9F) && !in(lead, 0xE0, 0xFC)) return 1;
    if (n < 2 || (!in(p[1], 0x40, 0x7E) && !in(p[1], 0x80, 0xFC))) return 1;
    const uint32_t code = lead << 8 | p[1];
    if (in(code, 0x829F, 0x82F1) || in(code, 0x8340, 0x8396))
        *kind = kMark;
    else if (lead <= 0x82)
        *kind = kSymbol;
    else if (in(code, 0x889F, 0x9872))
        *kind = kCommon;
    else if (in(code, 0x989F, 0xEAA4))
        *kind = kLessCommon;
    else
        *kind = kRare;
    return 2;
}

// (A template, so that each grammar is inlined into its own loop.)
template <Grammar grammar>
Reading read(const unsigned char* p, uint32_t n) {
    Reading reading;
    uint32_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        CharacterClass kind;
        const uint32_t length = grammar(p + i, n - i, &kind);
        ++reading.characters;
        reading.weight += worth(kind);
        if (kind == kInvalid) ++reading.invalid;
        if (kind == kMark) ++reading.marks;
        if (length == 2 && p[i + 1] < 0x80) ++reading.lowTrails;
        if (length == 2 && in(p[i], 0xC9, 0xF7) && p[i + 1] >= 0xA1) ++reading.spreadRows;
        i += length;
    }
    // A character cut by the end of the buffer is not held against it.
    if (reading.invalid != 0 && n != 0 && p[n - 1] >= 0x80) --reading.invalid;
    return reading;
}

// Confidence in percent from a reading's share of good characters, its
// invalid ones, and how many there are.
uint32_t confidenceOf(double naturalness, const Reading& reading) {
    if (reading.characters == 0) return 0;
    const double invalidShare = static_cast<double>(reading.invalid) / reading.characters;
    double confidence = naturalness * (1.0 - std::min(1.0, 20.0 * invalidShare));
    confidence *= static_cast<double>(reading.characters) / (reading.characters + 2.0);
    return confidence <= 0 ? 0 : static_cast<uint32_t>(100.0 * confidence + 0.5);
}

double share(uint32_t part, uint32_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / whole;
}

uint32_t guessGb(const unsigned char* p, uint32_t n) {
    const Reading r = read<readGbk>(p, n);
    double naturalness = r.characters == 0 ? 0 : r.weight / r.characters;
    // Hangul rows alone (Korean) or no trail below 0xA1 at all is not
    // Chinese text unless it spreads over the rows of less common characters.
    if (r.characters >= 20 && share(r.spreadRows, r.characters) < 0.04) naturalness *= 0.5;
    return confidenceOf(naturalness, r);
}

const uint32_t kFewestForTrailShare = 10;

uint32_t guessBig5(const unsigned char* p, uint32_t n) {
    const Reading r = read<readBig5>(p, n);
    double naturalness = r.characters == 0 ? 0 : r.weight / r.characters;
    if (r.characters >= 20 && share(r.lowTrails, r.characters) < 0.1) naturalness *= 0.6;
    // Big5 text has trail bytes below 0x80 in about two characters of five;
    // Latin text with a few accented letters, read as Big5, in nearly all.
    const uint32_t pairs = r.characters - r.invalid;
    if (pairs >= kFewestForTrailShare && share(r.lowTrails, pairs) > 0.9) naturalness *= 0.5;
    return confidenceOf(naturalness, r);
}

template <Grammar grammar>
uint32_t guessWithMarks(double leastMarks, const unsigned char* p, uint32_t n) {
    const Reading r = read<grammar>(p, n);
    double naturalness = r.characters == 0 ? 0 : r.weight / r.characters;
    if (share(r.marks, r.characters) < leastMarks) naturalness *= 0.4;
    return confidenceOf(naturalness, r);
}

bool hasIso2022JpEscape(const unsigned char* p, uint32_t n) {
    for (uint32_t i = 0; i + 2 < n; ++i)
        if (p[i] == 0x1B && p[i + 1] == '$' && (p[i + 2] == 'B' || p[i + 2] == '@')) return true;
    return false;
}

uint32_t countHighBytes(const unsigned char* p, uint32_t n) {
    uint32_t high = 0;
    for (uint32_t i = 0; i < n; ++i) high += p[i] >> 7;
    return high;
}

bool allBelow0x80(const unsigned char* p, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        if (p[i] >= 0x80) return false;
    return true;
}

// UTF-16 without a byte order mark: text with any ASCII in it (spaces, line
// ends) has zero bytes, mostly at odd offsets (little-endian) or mostly at
// even ones (Hangul and CJK units have a few of the other kind); legacy and
// UTF-8 text has none. Most units must be characters real text uses, nearly
// all of them in text without zero bytes (legacy CJK text read as UTF-16
// makes Hangul of about half its pairs).
uint32_t guessUtf16(const unsigned char* p, uint32_t n, bool bigEndian, bool zeros) {
    if (n < 4) return 0;
    uint32_t zerosHere = 0, zerosThere = 0, plausible = 0, highBytes = 0, units = n / 2;
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        // Without zero bytes, more than one unit in twenty out of place rules it out.
        if (!zeros && 20 * (i / 2 - plausible) > units) return 0;
        const unsigned char high = bigEndian ? p[i] : p[i + 1];
        const unsigned char low = bigEndian ? p[i + 1] : p[i];
        highBytes += (high >= 0x80) + (low >= 0x80);
        zerosHere += high == 0;
        zerosThere += low == 0;
        const uint32_t unit = static_cast<uint32_t>(high) << 8 | low;
        plausible += unit == 0x09 || unit == 0x0A || unit == 0x0D || in(unit, 0x20, 0x7E) ||
                     in(unit, 0xA0, 0x52F) || in(unit, 0x2000, 0x206F) ||
                     in(unit, 0x3000, 0x30FF) || in(unit, 0x4E00, 0x9FFF) ||
                     in(unit, 0xAC00, 0xD7A3) || in(unit, 0xFF00, 0xFFEF);
    }
    if (zerosHere < 3 * zerosThere) return 0;
    const double plausibleShare = share(plausible, units);
    if (zerosHere == 0 && (units < 16 || plausibleShare < 0.95 || highBytes * 4 < n))
        return 0;  // (Latin text, pairs of letters, reads as CJK ideographs)
    // Without zero bytes it is the weaker reading: Shift_JIS kanji, read as
    // big-endian units, are CJK ideographs too.
    const double confidence = plausibleShare * units / (units + 2.0) * (zerosHere == 0 ? 0.8 : 1.0);
    return static_cast<uint32_t>(100.0 * confidence + 0.5);
}

bool byLikelihood(const LanguageGuess& a, const LanguageGuess& b) {
    return a.confidence > b.confidence;
}

}  // namespace

uint32_t RankEncodings(const unsigned char* p, uint32_t n, LanguageGuess* ranked) {
    uint32_t found = 0;
    auto add = [&](const char* name, uint32_t confidence) {
        if (confidence != 0) ranked[found++] = LanguageGuess{name, std::min(confidence, 100u), ""};
    };
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        add("UTF-8", 100);
    } else if (n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
        add("UTF-16", 100);
    } else {
        const bool zeros = memchr(p, 0, n) != nullptr;
        // (UTF-16 without zero bytes needs a high byte in every other unit.)
        if (zeros || 4 * countHighBytes(p, n) >= n) {
            add("UTF-16LE", guessUtf16(p, n, false, zeros));
            add("UTF-16BE", guessUtf16(p, n, true, zeros));
        }
        if (!zeros) {
            const Utf8Walk walk = walkUtf8(p, n);
            const bool ascii = allBelow0x80(p, n);
            if (ascii && hasIso2022JpEscape(p, n)) add("ISO-2022-JP", 100);
            if (ascii) add("US-ASCII", 100);
            if (!walk.invalid) add("UTF-8", ascii || walk.complete > 0 ? 100 : 0);
            if (!ascii) {
                const uint32_t singleByte = GuessSingleByte(p, n, ranked + found, kMaxSingleByte);
                // Text that reads as a language in a single-byte encoding
                // this surely is not CJK text (which reads as noise there).
                const bool sure = singleByte != 0 && ranked[found].confidence >= kSureSingleByte;
                found += singleByte;
                if (!sure) {
                    add("GB18030", guessGb(p, n));
                    add("Big5", guessBig5(p, n));
                    add("EUC-KR", guessWithMarks<readEucKr>(0.4, p, n));
                    add("Shift_JIS", guessWithMarks<readShiftJis>(0.05, p, n));
                    add(kEucJpName, guessWithMarks<readEucJp>(0.05, p, n));
                }
            }
        }
    }
    std::stable_sort(ranked, ranked + found, byLikelihood);
    return found;
}

}  // namespace velta

using namespace velta;

NLS_Status NLS_GuessEncodings(const unsigned char* buffer, uint32_t length,
                              NLS_EncodingGuess* guesses, uint32_t capacity, uint32_t* count) {
    if (count == nullptr || (buffer == nullptr && length != 0) ||
        (guesses == nullptr && capacity != 0))
        return NLS_INVALID_PARAMETER;
    *count = 0;
    if (length == 0) return NLS_NOT_DETECTED;
    LanguageGuess ranked[kMaxGuesses];
    const uint32_t found = RankEncodings(buffer, std::min(length, kExaminedBytes), ranked);
    const uint32_t reported = std::min(found, capacity);
    for (uint32_t i = 0; i < reported; ++i) {
        guesses[i].encodingName = ranked[i].name;
        guesses[i].confidence = ranked[i].confidence;
    }
    *count = reported;
    return found == 0 ? NLS_NOT_DETECTED : NLS_SUCCESS;
}
