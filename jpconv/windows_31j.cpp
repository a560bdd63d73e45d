// windows-31j (Windows code page 932) to and from UCS-2, as the WHATWG
// Encoding Standard defines it ("shift_jis"): Shift_JIS with the NEC and IBM
// extensions of the jis0208 index, codes 0xF040-0xF9FC read as the private
// use area U+E000-U+E757, 0x80 as U+0080. The encoder writes the IBM codes
// (0xFA-0xFC) for characters that also have NEC-selected ones (0xED, 0xEE),
// and writes nothing for the private use area, as the standard says.
#include "common/multibyte_codec.h"
#include "jpconv/jis0208.h"

namespace cjk {

namespace {

const uint32_t kPointersPerLead = 188;
const uint32_t kFirstPrivateUsePointer = 8836;
const uint32_t kLastPrivateUsePointer = 10715;

struct Windows31jDecoding {
    static uint32_t pair(uint32_t lead, uint32_t trail) {
        const uint32_t pointer =
            uint32_t{jis::kShiftJisPointers.ofLead[lead]} + jis::kShiftJisPointers.ofTrail[trail];
        if (pointer >= jis::ShiftJisPointers::kNone) return 0;  // no lead, or no trail
        return between(pointer, kFirstPrivateUsePointer, kLastPrivateUsePointer)
                   ? 0xE000 + pointer - kFirstPrivateUsePointer
                   : jis::kWholeJis0208Index[pointer];
    }

    static Decoded decode(const unsigned char* s, uint32_t n) {
        if (s[0] == 0x80) return character(1, 0x0080);
        if (between(s[0], 0xA1, 0xDF)) return character(1, 0xFF61 + s[0] - 0xA1u);
        if (!between(s[0], 0x81, 0x9F) && !between(s[0], 0xE0, 0xFC)) return malformed(1);
        if (n < 2) return cut();
        if (!between(s[1], 0x40, 0x7E) && !between(s[1], 0x80, 0xFC)) return unmappedPair(s[1]);
        const uint32_t pointer = (s[0] - (s[0] < 0xA0 ? 0x81u : 0xC1u)) * kPointersPerLead + s[1] -
                                 (s[1] < 0x7F ? 0x40u : 0x41u);
        if (between(pointer, kFirstPrivateUsePointer, kLastPrivateUsePointer))
            return character(2, 0xE000 + pointer - kFirstPrivateUsePointer);
        const uint32_t codePoint = jis::kWholeJis0208Index[pointer];
        return codePoint != 0 ? character(2, codePoint) : unmappedPair(s[1]);
    }
};

bool necSelectedIbmExtension(uint32_t pointer) {
    return between(pointer, 8272, 8835);
}

uint32_t shiftJisLayout(uint32_t pointer, unsigned char* bytes) {
    const uint32_t lead = pointer / kPointersPerLead;
    const uint32_t trail = pointer % kPointersPerLead;
    bytes[0] = static_cast<unsigned char>(lead + (lead < 0x1F ? 0x81 : 0xC1));
    bytes[1] = static_cast<unsigned char>(trail + (trail < 0x3F ? 0x40 : 0x41));
    return 2;
}

const TwoByteCodes& windows31jCodes() {
    static const TwoByteCodes codes(jis::kWholeJis0208Index, jis::kWholeJis0208IndexLength,
                                    &necSelectedIbmExtension, nullptr, &shiftJisLayout);
    return codes;
}

class Windows31jEncoding {
public:
    Windows31jEncoding() : fCodes(&windows31jCodes()) {}

    uint32_t encode(uint32_t codePoint, unsigned char* bytes) const {
        if (codePoint == 0x80 || codePoint == 0xA5 || codePoint == 0x203E) {
            bytes[0] = codePoint == 0x80 ? 0x80 : codePoint == 0xA5 ? 0x5C : 0x7E;
            return 1;
        }
        if (between(codePoint, 0xFF61, 0xFF9F)) {
            bytes[0] = static_cast<unsigned char>(codePoint - 0xFF61 + 0xA1);
            return 1;
        }
        if (codePoint == 0x2212) codePoint = 0xFF0D;
        return fCodes->write(codePoint, bytes);
    }
    // The one-byte characters above are not in it: the encoder asks encode.
    const uint16_t* unitCodes() const { return fCodes->codeOf; }

private:
    const TwoByteCodes* fCodes;
};

const char kWindows31jName[] = "windows-31j";

}  // namespace

}  // namespace cjk

CJK_FACTORY_EXPORT TEncodingConverter* NEWWINDOWS31JTOUNICODE() {
    return cjk::makeConverter<cjk::TMultiByteDecoder<cjk::Windows31jDecoding>>(
        cjk::kWindows31jName);
}

CJK_FACTORY_EXPORT TEncodingConverter* NEWUNICODETOWINDOWS31J() {
    return cjk::makeConverter<cjk::TMultiByteEncoder<cjk::Windows31jEncoding>>(
        cjk::kWindows31jName, cjk::Windows31jEncoding());
}
