// UTF-8 (RFC 3629 forms, plus the older five- and six-byte forms) to and from
// UCS-2. No state is kept between calls: every consumed count lies at a
// character boundary.
#include <new>

#include "codecs/ascii_runs.h"
#include "converters/units.h"
#include "velta/factories.h"

using namespace velta;

namespace {

const char kUtf8Name[] = "UTF-8";
const char kUcs2Name[] = NLS_UCS2_NAME;
const unsigned short kUtf8Csid = 290;
const uint16_t kReplacement = 0xFFFD;

// Trailing bytes announced by a lead byte: 0xC0 110xxxxx 1, 0xE0 1110xxxx 2,
// 0xF0 11110xxx 3, 0xF8 111110xx 4, 0xFC 1111110x 5; bytes below 0xC0 none.
inline uint32_t trailingCount(unsigned char lead) {
    if (lead < 0xC0) return 0;
    if (lead < 0xE0) return 1;
    if (lead < 0xF0) return 2;
    if (lead < 0xF8) return 3;
    if (lead < 0xFC) return 4;
    return 5;
}

// Subtracted after the bytes are summed with 6-bit shifts: it removes the
// lead-byte marks and the 10xxxxxx marks of the trailing bytes.
const uint32_t kOffsets[6] = {0x00000000u, 0x00003080u, 0x000E2080u,
                              0x03C82080u, 0xFA082080u, 0x82082080u};
const unsigned char kFirstByteMark[5] = {0x00, 0x00, 0xC0, 0xE0, 0xF0};

inline bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

class TUTF8ToUnicodeConverter : public TEncodingConverter {
public:
    TUTF8ToUnicodeConverter()
        : TEncodingConverter(kUtf8Name, kUcs2Name, nullptr, nullptr, nullptr, kUtf8Csid, 2,
                             nullptr, nullptr, 0) {
        fStatus = NLS_SUCCESS;
    }
    ~TUTF8ToUnicodeConverter() override = default;

    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;
};

class TUnicodeToUTF8Converter : public virtual TEncodingConverter {
public:
    TUnicodeToUTF8Converter()
        : TEncodingConverter(kUcs2Name, kUtf8Name, nullptr, nullptr, nullptr, kUtf8Csid, 4,
                             nullptr, nullptr, 1) {
        fStatus = NLS_SUCCESS;
    }
    ~TUnicodeToUTF8Converter() override = default;

    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;
};

// A lead byte followed by a byte that is not 10xxxxxx yields one U+FFFD for
// the bytes read so far, and decoding resumes at that byte. Complete
// sequences decode by their arithmetic, overlong forms and encoded surrogates
// included, so that everything the encoder writes comes back. A sequence cut
// by the end of the input stops the call (-1304) with its lead unconsumed.
NLS_Status TUTF8ToUnicodeConverter::Convert(unsigned char* target, uint32_t* targetLength,
                                            uint32_t targetCapacity, const unsigned char* source,
                                            uint32_t sourceLength, uint32_t* sourceConsumed) {
    if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed))
        return NLS_INVALID_PARAMETER;
    uint32_t in = 0;
    uint32_t out = 0;
    NLS_Status status = NLS_SUCCESS;
    while (in < sourceLength) {
        const unsigned char lead = source[in];
        if (lead < 0x80) {
            const uint32_t run = widenAsciiRun(source + in, sourceLength - in, target + out,
                                               targetCapacity - out);
            in += run;
            out += 2 * run;
            if (run != 0) continue;
        }
        const uint32_t trailing = trailingCount(lead);
        uint32_t length = trailing + 1;
        uint32_t value = lead;
        for (uint32_t i = 1; i <= trailing; ++i) {
            if (in + i >= sourceLength) {
                status = NLS_SEQUENCE_INCOMPLETE;
                break;
            }
            const unsigned char next = source[in + i];
            if (!isContinuation(next)) {
                value = kReplacement;
                length = i;
                break;
            }
            value = (value << 6) + next;
        }
        if (status != NLS_SUCCESS) break;
        if (length == trailing + 1) value -= kOffsets[trailing];
        if (value > 0x10FFFF) value = kReplacement;
        if (value <= 0xFFFF) {
            if (targetCapacity - out < 2) {
                status = NLS_OUTPUT_FULL;
                break;
            }
            storeUnit(target + out, static_cast<uint16_t>(value));
            out += 2;
        } else {
            if (targetCapacity - out < 4) {
                status = NLS_OUTPUT_FULL;
                break;
            }
            value -= 0x10000;
            storeUnit(target + out, static_cast<uint16_t>(0xD800 + (value >> 10)));
            storeUnit(target + out + 2, static_cast<uint16_t>(0xDC00 + (value & 0x3FF)));
            out += 4;
        }
        in += length;
    }
    *targetLength = out;
    *sourceConsumed = in;
    if (!appendUnitTerminator(target, out, targetCapacity)) return NLS_RESULT_TRUNCATED;
    return status;
}

// A surrogate pair becomes one four-byte sequence; a lone surrogate is
// written from its own value. A unit or pair whose bytes do not fit stops the
// call (-1304) unconsumed. A final odd byte is no unit: it is left unconsumed
// and reported as an incomplete sequence.
NLS_Status TUnicodeToUTF8Converter::Convert(unsigned char* target, uint32_t* targetLength,
                                            uint32_t targetCapacity, const unsigned char* source,
                                            uint32_t sourceLength, uint32_t* sourceConsumed) {
    if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed))
        return NLS_INVALID_PARAMETER;
    const uint32_t units = sourceLength / 2;
    uint32_t position = 0;
    uint32_t out = 0;
    NLS_Status status = NLS_SUCCESS;
    while (position < units) {
        const uint32_t run = narrowAsciiRun(source + 2 * position, units - position, target + out,
                                            targetCapacity - out);
        position += run;
        out += run;
        if (position == units) break;
        uint32_t value = loadUnit(source + 2 * position);
        uint32_t taken = 1;
        if (value >= 0xD800 && value <= 0xDBFF && position + 1 < units) {
            const uint32_t low = loadUnit(source + 2 * position + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                value = ((value - 0xD800) << 10) + (low - 0xDC00) + 0x10000;
                taken = 2;
            }
        }
        const uint32_t length = value < 0x80 ? 1 : value < 0x800 ? 2 : value < 0x10000 ? 3 : 4;
        if (targetCapacity - out < length) {
            status = NLS_SEQUENCE_INCOMPLETE;
            break;
        }
        for (uint32_t i = length - 1; i > 0; --i) {
            target[out + i] = static_cast<unsigned char>(0x80 | (value & 0x3F));
            value >>= 6;
        }
        target[out] = static_cast<unsigned char>(kFirstByteMark[length] | value);
        out += length;
        position += taken;
    }
    if (status == NLS_SUCCESS && 2 * position != sourceLength) status = NLS_SEQUENCE_INCOMPLETE;
    *targetLength = out;
    *sourceConsumed = 2 * position;
    if (!appendByteTerminator(target, out, targetCapacity)) return NLS_RESULT_TRUNCATED;
    return status;
}

}  // namespace

TEncodingConverter* NEWUTF8TOUNICODEENCODINGCONVERTER() {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) TUTF8ToUnicodeConverter();
}

TEncodingConverter* NEWUNICODETOUTF8ENCODINGCONVERTER() {
    TEncodingConverter::LibraryModule();
    TUnicodeToUTF8Converter* converter = new (std::nothrow) TUnicodeToUTF8Converter();
    return converter;  // converted to the address of its TEncodingConverter base
}
