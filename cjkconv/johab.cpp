// JOHAB to and from UCS-2, as glibc's charmap JOHAB has it (KS C 5601-1992
// annex 3, Windows code page 1361): the Hangul syllables and jamo in leads
// 0x84-0xD3, whose bits spell the syllable's letters, and the symbols and
// Hanja of KS X 1001 rearranged into leads 0xD8-0xF9; trails 0x31-0xFE.
// 0x5C is the backslash here, as every ASCII byte is itself; U+20A9 WON
// SIGN, which the charmap puts at 0x5C, is written there too.
#include "cjkconv/indexes/johab.h"
#include "cjkconv/charmap_codes.h"

namespace cjk {

namespace {

const uint32_t kPointersPerLead = 206;

bool johabLead(uint32_t byte) {
    return between(byte, 0x84, 0xF9);
}
bool johabTrail(uint32_t byte) {
    return between(byte, 0x31, 0xFE);
}
uint32_t pointerOf(uint32_t lead, uint32_t trail) {
    return (lead - 0x84) * kPointersPerLead + trail - 0x31;
}

struct JohabDecoding {
    static uint32_t pair(uint32_t lead, uint32_t trail) {
        if (!johabLead(lead) || !johabTrail(trail)) return 0;
        return kJohabIndex[pointerOf(lead, trail)];
    }

    static Decoded decode(const unsigned char* s, uint32_t n) {
        if (!johabLead(s[0])) return malformed(1);
        if (n < 2) return cut();
        if (!johabTrail(s[1])) return brokenAt(1, s[1]);
        const uint32_t codePoint = kJohabIndex[pointerOf(s[0], s[1])];
        return codePoint != 0 ? character(2, codePoint) : unmappedPair(s[1]);
    }
};

const uint32_t kWonSign = 0x20A9;

struct JohabCodes : CodeTable<1> {
    JohabCodes() {
        for (uint32_t pointer = 0; pointer < kJohabIndexLength; ++pointer) {
            const uint32_t codePoint = kJohabIndex[pointer];
            const uint32_t lead = 0x84 + pointer / kPointersPerLead;
            if (codePoint != 0) add(codePoint, lead << 8 | (0x31 + pointer % kPointersPerLead));
        }
        add(kWonSign, 0x5C);
        finish();
    }
};

const JohabCodes& johabCodes() {
    static const JohabCodes codes;
    return codes;
}

class JohabEncoding {
public:
    JohabEncoding() : fCodes(&johabCodes()) {}

    uint32_t encode(uint32_t codePoint, unsigned char* bytes) const {
        return fCodes->write(codePoint, bytes);
    }

private:
    const JohabCodes* fCodes;
};

const char kJohabName[] = "JOHAB";

}  // namespace

}  // namespace cjk

CJKCONV_EXPORT TEncodingConverter* NEWJOHABTOUNICODE() {
    return cjk::makeConverter<cjk::TMultiByteDecoder<cjk::JohabDecoding>>(cjk::kJohabName);
}

CJKCONV_EXPORT TEncodingConverter* NEWUNICODETOJOHAB() {
    return cjk::makeConverter<cjk::TMultiByteEncoder<cjk::JohabEncoding>>(cjk::kJohabName,
                                                                          cjk::JohabEncoding());
}
