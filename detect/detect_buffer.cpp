#include <stddef.h>

#include "detect/detection.h"

namespace velta {

namespace {

const char kUtf8Name[] = "UTF-8";
const char kShiftJisName[] = "Shift_JIS";
const char kEucJpName[] = "Extended_UNIX_Code_Packed_Format_for_Japanese";
const char kIso2022JpName[] = "ISO-2022-JP";
const char kLatin1Name[] = "ISO_8859-1:1987";
const unsigned char kEscape = 0x1B;

inline bool inRange(unsigned char c, unsigned char low, unsigned char high) {
    return c >= low && c <= high;
}

// ESC "$B", ESC "$@", ESC "(J", ESC "(I" or ESC "$(D" at p (p[0] is ESC).
bool isIso2022JpEscape(const unsigned char* p, uint32_t n) {
    if (n < 3) return false;
    const unsigned char a = p[1], b = p[2];
    if ((a == '$' && (b == 'B' || b == '@')) || (a == '(' && (b == 'J' || b == 'I'))) return true;
    return n >= 4 && a == '$' && b == '(' && p[3] == 'D';
}

uint16_t decideOnRest(uint16_t preferred, const unsigned char* p, uint32_t n) {
    const int euc = CheckEUCJP(p, n);
    if (euc == 1) return kEucJpCode;
    const int sjis = CheckShiftJIS(p, n);
    if (sjis == 1) return kShiftJisCode;
    if (euc == 0 && sjis == -1) return kShiftJisCode;
    if (euc == -1 && sjis == 0) return kEucJpCode;
    if (n == 0) return kUndecided;
    if (preferred == kShiftJisCode) return sjis == -1 ? kShiftJisCode : kUndecided;
    if (preferred == kEucJpCode) return euc == -1 ? kEucJpCode : kUndecided;
    return (euc == -1 && sjis == -1) ? kEucJpCode : kUndecided;
}

}  // namespace

// Lead 110xxxxx expects 1 trailing byte, 1110xxxx 2, 11110xxx 3; trailing
// bytes are 10xxxxxx. Overlong forms and surrogates are not judged.
Utf8Walk walkUtf8(const unsigned char* buffer, uint32_t length) {
    Utf8Walk walk;
    uint32_t expected = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const unsigned char b = buffer[i];
        if (expected == 0) {
            if (b < 0x80) continue;
            if ((b & 0xE0) == 0xC0)
                expected = 1;
            else if ((b & 0xF0) == 0xE0)
                expected = 2;
            else if ((b & 0xF8) == 0xF0)
                expected = 3;
            else {
                walk.invalid = true;
                return walk;
            }
        } else {
            if ((b & 0xC0) != 0x80) {
                walk.invalid = true;
                return walk;
            }
            if (--expected == 0) ++walk.complete;
        }
    }
    walk.cutAtEnd = expected != 0;
    return walk;
}

void ScanUTF8(const unsigned char* buffer, uint32_t length, NLS_DetectedEncoding* record) {
    const Utf8Walk walk = walkUtf8(buffer, length);
    record->encodingName = kUtf8Name;
    record->score = walk.complete;
    record->invalid = walk.invalid ? 1 : 0;
}

int CheckShiftJIS(const unsigned char* p, uint32_t n) {
    if (n == 0) return -1;
    while (n > 0) {
        const unsigned char c = p[0];
        if (c < 0x80 || c == 0xA0 || inRange(c, 0xA1, 0xDF)) {
            ++p;
            --n;
        } else if (c == 0x80 || c >= 0xF0) {
            return 0;
        } else {  // 0x81-0x9F, 0xE0-0xEF: a double-byte lead
            if (n == 1) return -1;
            const unsigned char c2 = p[1];
            if (!inRange(c2, 0x40, 0xFC)) return 0;
            if (c <= 0x9F && !((c == 0x8E || c == 0x8F) && c2 > 0xA0)) return 1;
            p += 2;
            n -= 2;
        }
    }
    return -1;
}

int CheckEUCJP(const unsigned char* p, uint32_t n) {
    if (n == 0) return -1;
    while (n > 0) {
        const unsigned char c = p[0];
        if (c < 0x80 || c == 0xA0) {
            ++p;
            --n;
        } else if (c == 0x8E) {  // half-width katakana
            if (n == 1) return -1;
            if (!inRange(p[1], 0xA1, 0xDF)) return 0;
            p += 2;
            n -= 2;
        } else if (c == 0x8F) {  // JIS X 0212
            if (n == 1) return -1;
            if (!inRange(p[1], 0xA1, 0xFE)) return 0;
            if (n == 2) return -1;
            if (!inRange(p[2], 0xA1, 0xFE)) return 0;
            p += 3;
            n -= 3;
        } else if (inRange(c, 0xF0, 0xFE)) {
            if (n == 1) return -1;
            return inRange(p[1], 0xA1, 0xFE) ? 1 : 0;
        } else if (c == 0xFF) {
            return 0;
        } else {
            if (n == 1) return -1;
            if (!inRange(p[1], 0xA1, 0xFE)) return 0;
            p += 2;
            n -= 2;
        }
    }
    return -1;
}

// Escapes first (ISO-2022-JP); then the first high bytes decide when they
// can; what stays ambiguous goes to the two checks.
uint16_t DetectJapanese(uint16_t preferred, const unsigned char* p, uint32_t n) {
    while (n > 0 && (p[0] < 0x80 || p[0] == 0xA0)) {
        if (p[0] == kEscape && isIso2022JpEscape(p, n)) return kIso2022JpCode;
        ++p;
        --n;
    }
    while (n > 0) {
        const unsigned char c = p[0];
        if (c == 0x80 || c == 0xFF) return kNotJapanese;
        if (c < 0x8E) return kShiftJisCode;
        if (c == 0xA0) {
            ++p;
            --n;
            continue;
        }
        if (inRange(c, 0xF0, 0xFE)) return kEucJpCode;
        if (inRange(c, 0x8E, 0x9F) || inRange(c, 0xA1, 0xDF)) break;
        // 0xE0-0xEF
        if (n == 1) {
            p += 1;
            n = 0;
            break;
        }
        const unsigned char c2 = p[1];
        if (c2 < 0x41) return kNotJapanese;
        if (c2 <= 0xA0) return kShiftJisCode;
        if (c2 > 0xFC) return kEucJpCode;
        p += 2;
        n -= 2;
        while (n > 0 && p[0] < 0x80) {
            ++p;
            --n;
        }
    }
    return decideOnRest(preferred, p, n);
}

}  // namespace velta

using namespace velta;

NLS_Status NLS_DetectEncodingForBuffer(const unsigned char* buffer, uint32_t length,
                                       NLS_DetectedEncoding* results, uint32_t,
                                       uint32_t* resultCount) {
    if (results == nullptr || resultCount == nullptr || (buffer == nullptr && length != 0))
        return NLS_INVALID_PARAMETER;
    if (buffer == nullptr) buffer = reinterpret_cast<const unsigned char*>("");
    const uint16_t code = DetectJapanese(kShiftJisCode, buffer, length);
    NLS_DetectedEncoding scan;
    ScanUTF8(buffer, length, &scan);
    const char* name = nullptr;
    uint32_t score = 1;
    if (scan.invalid == 0 && scan.score > 0) {
        name = kUtf8Name;
        score = scan.score;
    } else if (code == kShiftJisCode) {
        name = kShiftJisName;
    } else if (code == kEucJpCode) {
        name = kEucJpName;
    } else if (code == kIso2022JpCode) {
        name = kIso2022JpName;
    }
    if (name == nullptr) {
        *resultCount = 0;
        return NLS_NOT_DETECTED;
    }
    results[0].encodingName = name;
    results[0].score = score;
    results[0].invalid = 0;
    *resultCount = 1;
    return NLS_SUCCESS;
}

NLS_Status NLS_DetectEncodingForUCS2(const unsigned char*, uint32_t, NLS_DetectedEncoding* results,
                                     uint32_t, uint32_t* resultCount) {
    if (results == nullptr || resultCount == nullptr) return NLS_INVALID_PARAMETER;
    results[0].encodingName = kLatin1Name;
    results[0].score = 1;
    results[0].invalid = 0;
    *resultCount = 1;
    return NLS_SUCCESS;
}
