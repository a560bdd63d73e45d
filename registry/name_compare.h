// Name comparison of the registry: bytes compared with only the ASCII
// letters folded to lower case; a hyphen and an underscore differ.
#ifndef VELTA_REGISTRY_NAME_COMPARE_H
#define VELTA_REGISTRY_NAME_COMPARE_H

#include <stddef.h>
#include <stdint.h>

namespace velta {

inline unsigned char foldAsciiLower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
}

// Negative, zero or positive like strcmp on the folded bytes.
inline int compareNamesIgnoringCase(const char* a, const char* b) {
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        const int cx = foldAsciiLower(*x);
        const int cy = foldAsciiLower(*y);
        if (cx != cy || cx == 0) return cx - cy;
    }
}

inline bool namesEqual(const char* a, const char* b) {
    return compareNamesIgnoringCase(a, b) == 0;
}

// Copies a name into a 64-byte field; false (and the field left empty) when
// it does not fit.
bool copyNameField(char* field, const char* name);

// True when the name has fewer than 64 bytes.
bool nameFitsField(const char* name);

inline bool isWildcardName(const char* name) {
    return name == nullptr || name[0] == '*';
}

}  // namespace velta

#endif
