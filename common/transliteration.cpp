#include "common/transliteration.h"

#include <algorithm>

#include "velta/nls.h"

namespace velta {

const char* transliterationOf(uint32_t unit) {
    const TransliterationEntry* end = kTransliterations + kTransliterationCount;
    const TransliterationEntry* found = std::lower_bound(
        kTransliterations, end, unit,
        [](const TransliterationEntry& entry, uint32_t value) { return entry.unit < value; });
    return found != end && found->unit == unit ? found->standIn : nullptr;
}

const char* substituteFor(int32_t policy, uint32_t unit) {
    const char* standIn = policy == NLS_POLICY_TRANSLITERATE ? transliterationOf(unit) : nullptr;
    return standIn != nullptr ? standIn : "?";
}

}  // namespace velta
