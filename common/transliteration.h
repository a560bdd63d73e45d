// ASCII stand-ins for characters an encoding lacks, for the transliterating
// policy (iconv's //TRANSLIT): base letters for letters with diacritics,
// plain quotes, dashes and spaces for typographic ones, "EUR" for the euro
// sign. Generated from resources/transliteration.txt.
#ifndef VELTA_COMMON_TRANSLITERATION_H
#define VELTA_COMMON_TRANSLITERATION_H

#include <stdint.h>

namespace velta {

struct TransliterationEntry {
    uint16_t unit;
    const char* standIn;
};

extern const TransliterationEntry kTransliterations[];  // sorted by unit
extern const uint32_t kTransliterationCount;

// The stand-in of a unit, or null.
const char* transliterationOf(uint32_t unit);

// What an encoder writes for a character its encoding lacks, under a policy
// that writes something: the stand-in under NLS_POLICY_TRANSLITERATE where
// there is one, else "?". `unit` is 0xFFFD for a surrogate pair.
const char* substituteFor(int32_t policy, uint32_t unit);

}  // namespace velta

#endif
