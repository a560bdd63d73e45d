// UTF-8 (RFC 3629 forms, plus the older five- and six-byte forms) to and from
// UCS-2. No state is kept between calls: every consumed count lies at a
// character boundary, and a character cut by the end of the input (a high
// surrogate, for the encoder) is left for the next call.
#include <new>

#include "converters/units.h"
#include "kernels/text_kernels.h"
#include "velta/factories.h"

using namespace velta;

namespace {

const char kUtf8Name[] = "UTF-8";
const char kUcs2Name[] = NLS_UCS2_NAME;
const unsigned short kUtf8Csid = 290;
const uint16_t kReplacement = 0xFFFD;
// Input (bytes or units) below which the vector kernel is not worth a call.
const uint32_t kKernelBlock = 64;

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

// The least value of each length: a smaller one is an overlong form, which
// could smuggle "/" or "\" past a check made on the bytes (RFC 3629, section
// 10). C0 80 is let through: Java's modified UTF-8 writes U+0000 so.
const uint32_t kLeastValues[6] = {0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};

inline bool isOverlong(uint32_t value, uint32_t trailing, const unsigned char* sequence) {
    return value < kLeastValues[trailing] && !(sequence[0] == 0xC0 && sequence[1] == 0x80);
}

inline bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

inline uint32_t load32(const unsigned char* p) {
    uint32_t value;
    memcpy(&value, p, 4);
    return value;
}

inline bool littleEndianHost() {
    const uint16_t probe = 1;
    unsigned char first;
    memcpy(&first, &probe, 1);
    return first == 1;
}

// Decodes a run of complete sequences of one length (2, 3 or 4 bytes, by
// the first lead byte) into units while room lasts; returns the bytes taken
// and the output bytes in *produced. Values are computed by masks, which
// equals the offset arithmetic for well-formed trailing bytes. On
// little-endian hosts a sequence is checked from one 32-bit word.
inline uint32_t decodeMultiByteRun(const unsigned char* __restrict s, uint32_t length,
                                   unsigned char* __restrict target, uint32_t room,
                                   uint32_t* produced) {
    uint32_t in = 0, out = 0;
    const unsigned char first = s[0];
    if (first < 0xE0) {
        while (length - in >= 2 && room - out >= 2 && s[in] >= 0xC2 && s[in] < 0xE0 &&
               isContinuation(s[in + 1])) {
            storeUnit(target + out,
                      static_cast<uint16_t>(((s[in] & 0x1Fu) << 6) | (s[in + 1] & 0x3Fu)));
            in += 2;
            out += 2;
        }
    } else if (first < 0xF0) {
        if (littleEndianHost()) {
            // 1110xxxx 10xxxxxx 10xxxxxx as the low three bytes of a word.
            while (length - in >= 4 && room - out >= 2) {
                const uint32_t word = load32(s + in);
                if ((word & 0xC0C0F0u) != 0x8080E0u) break;
                const uint32_t unit =
                    ((word & 0x0Fu) << 12) | ((word & 0x3F00u) >> 2) | ((word & 0x3F0000u) >> 16);
                if (unit < 0x800) break;  // overlong: the general form below
                storeUnit(target + out, static_cast<uint16_t>(unit));
                in += 3;
                out += 2;
            }
        }
        while (length - in >= 3 && room - out >= 2 && (s[in] & 0xF0) == 0xE0 &&
               isContinuation(s[in + 1]) && isContinuation(s[in + 2])) {
            const uint32_t unit =
                ((s[in] & 0x0Fu) << 12) | ((s[in + 1] & 0x3Fu) << 6) | (s[in + 2] & 0x3Fu);
            if (unit < 0x800) break;
            storeUnit(target + out, static_cast<uint16_t>(unit));
            in += 3;
            out += 2;
        }
    } else {
        if (littleEndianHost()) {
            // 11110xxx 10xxxxxx 10xxxxxx 10xxxxxx read as one word; a pair of
            // units is stored as one word too.
            while (length - in >= 4 && room - out >= 4) {
                const uint32_t word = load32(s + in);
                if ((word & 0xC0C0C0F8u) != 0x808080F0u) break;
                const uint32_t value = ((word & 0x07u) << 18) | ((word & 0x3F00u) << 4) |
                                       ((word & 0x3F0000u) >> 10) | ((word & 0x3F000000u) >> 24);
                if (value < 0x10000 || value > 0x10FFFF) break;  // the general form below
                const uint32_t offset = value - 0x10000;
                const uint32_t pair =
                    (0xD800u + (offset >> 10)) | ((0xDC00u + (offset & 0x3FF)) << 16);
                memcpy(target + out, &pair, 4);
                in += 4;
                out += 4;
            }
        }
        while (length - in >= 4 && room - out >= 4) {
            const bool wellFormed =
                littleEndianHost() ? (load32(s + in) & 0xC0C0C0F8u) == 0x808080F0u
                                   : (s[in] & 0xF8) == 0xF0 && isContinuation(s[in + 1]) &&
                                         isContinuation(s[in + 2]) && isContinuation(s[in + 3]);
            if (!wellFormed) break;
            uint32_t value = ((s[in] & 0x07u) << 18) | ((s[in + 1] & 0x3Fu) << 12) |
                             ((s[in + 2] & 0x3Fu) << 6) | (s[in + 3] & 0x3Fu);
            if (value < 0x10000 || value > 0x10FFFF) break;  // the general form below
            if (value <= 0xFFFF) {
                storeUnit(target + out, static_cast<uint16_t>(value));
                out += 2;
            } else {
                value -= 0x10000;
                storeUnit(target + out, static_cast<uint16_t>(0xD800 + (value >> 10)));
                storeUnit(target + out + 2, static_cast<uint16_t>(0xDC00 + (value & 0x3FF)));
                out += 4;
            }
            in += 4;
        }
    }
    *produced = out;
    return in;
}

// Encodes a run of units that all take the same form (two bytes, three
// bytes, or surrogate pairs to four bytes, by the first unit) while room
// lasts; returns the units taken and the bytes written in *written. With
// room for a whole word, a three-byte form is stored as one 32-bit word
// whose fourth byte the next character overwrites.
inline uint32_t encodeMultiByteRun(const unsigned char* __restrict s, uint32_t units,
                                   unsigned char* __restrict target, uint32_t room,
                                   uint32_t* written) {
    uint32_t in = 0, out = 0;
    const uint32_t first = loadUnit(s);
    uint32_t unit;
    if (first < 0x800) {
        while (in < units && room - out >= 2 && (unit = loadUnit(s + 2 * in)) >= 0x80 &&
               unit < 0x800) {
            target[out] = static_cast<unsigned char>(0xC0 | (unit >> 6));
            target[out + 1] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
            ++in;
            out += 2;
        }
    } else if (first < 0xD800 || first > 0xDFFF) {
        if (littleEndianHost() && room >= 4) {
            // Units whose words surely fit: each takes three bytes and its
            // word reaches one byte further.
            const uint32_t fit = (room - 1) / 3;
            const uint32_t count = units < fit ? units : fit;
            while (in < count) {
                unit = loadUnit(s + 2 * in);
                if (unit < 0x800 || unit - 0xD800 < 0x800) break;
                const uint32_t word = (0xE0u | (unit >> 12)) |
                                      ((0x80u | ((unit >> 6) & 0x3F)) << 8) |
                                      ((0x80u | (unit & 0x3F)) << 16);
                memcpy(target + 3 * in, &word, 4);
                ++in;
            }
            out = 3 * in;
        }
        while (in < units && room - out >= 3 && (unit = loadUnit(s + 2 * in)) >= 0x800 &&
               unit - 0xD800 >= 0x800) {
            target[out] = static_cast<unsigned char>(0xE0 | (unit >> 12));
            target[out + 1] = static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F));
            target[out + 2] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
            ++in;
            out += 3;
        }
    } else {
        uint32_t high, low;
        while (units - in >= 2 && room - out >= 4 && (high = loadUnit(s + 2 * in)) >= 0xD800 &&
               high <= 0xDBFF && (low = loadUnit(s + 2 * in + 2)) >= 0xDC00 && low <= 0xDFFF) {
            const uint32_t value = ((high - 0xD800) << 10) + (low - 0xDC00) + 0x10000;
            const uint32_t word =
                (0xF0u | (value >> 18)) | ((0x80u | ((value >> 12) & 0x3F)) << 8) |
                ((0x80u | ((value >> 6) & 0x3F)) << 16) | ((0x80u | (value & 0x3F)) << 24);
            if (littleEndianHost()) {
                memcpy(target + out, &word, 4);
            } else {
                for (int i = 0; i < 4; ++i)
                    target[out + i] = static_cast<unsigned char>(word >> (8 * i));
            }
            in += 2;
            out += 4;
        }
    }
    *written = out;
    return in;
}

class TUTF8ToUnicodeConverter : public TEncodingConverter, public TStreamConverter {
public:
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    TUTF8ToUnicodeConverter()
        : TEncodingConverter(kUtf8Name, kUcs2Name, nullptr, nullptr, nullptr, kUtf8Csid, 2, nullptr,
                             nullptr, 0) {
        fStatus = NLS_SUCCESS;
    }
    ~TUTF8ToUnicodeConverter() override = default;

    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;
};

class TUnicodeToUTF8Converter : public virtual TEncodingConverter, public TStreamConverter {
public:
    TUnicodeToUTF8Converter()
        : TEncodingConverter(kUcs2Name, kUtf8Name, nullptr, nullptr, nullptr, kUtf8Csid, 4, nullptr,
                             nullptr, 1) {
        fStatus = NLS_SUCCESS;
    }
    ~TUnicodeToUTF8Converter() override = default;

    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;
};

// A lead byte followed by a byte that is not 10xxxxxx yields one U+FFFD for
// the bytes read so far, and decoding resumes at that byte; so does a byte
// that cannot start a character (10xxxxxx, 0xFE, 0xFF) by itself. Complete
// sequences decode by their arithmetic, encoded surrogates included, so that
// everything the encoder writes comes back; an overlong sequence but C0 80
// is one U+FFFD. A sequence cut by the end of the input stops the call
// (-1304) with its lead unconsumed.
NLS_Status TUTF8ToUnicodeConverter::Convert(unsigned char* target, uint32_t* targetLength,
                                            uint32_t targetCapacity, const unsigned char* source,
                                            uint32_t sourceLength, uint32_t* sourceConsumed) {
    if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed))
        return NLS_INVALID_PARAMETER;
    const TextKernels& kernels = textKernels();
    uint32_t in = 0;
    uint32_t out = 0;
    uint32_t kernelFrom = 0;  // after an irregular character, the kernel waits a block
    NLS_Status status = NLS_SUCCESS;
    while (in < sourceLength) {
        if (kernels.decodeUtf8 != nullptr && in >= kernelFrom && sourceLength - in >= kKernelBlock &&
            targetCapacity - out >= 2 * kKernelBlock) {
            uint32_t produced = 0;
            in += kernels.decodeUtf8(source + in, sourceLength - in, target + out,
                                     targetCapacity - out, &produced);
            out += produced;
            kernelFrom = in + 16;
            continue;
        }
        const unsigned char lead = source[in];
        const uint32_t room = targetCapacity - out;
        if (lead < 0x80 && room >= 2 && (sourceLength - in == 1 || source[in + 1] >= 0x80)) {
            storeUnit(target + out, lead);  // a lone ASCII byte between other characters
            out += 2;
            ++in;
            continue;
        }
        if (lead < 0x80) {
            const uint32_t run =
                kernels.widenAscii(source + in, sourceLength - in, target + out, room);
            if (run != 0) {
                in += run;
                out += 2 * run;
                continue;
            }
            if (room < 2) {
                status = NLS_OUTPUT_FULL;
                break;
            }
            storeUnit(target + out, lead);
            out += 2;
            ++in;
            continue;
        }
        // Runs of whole sequences of the common forms, while room lasts:
        // 110xxxxx 10xxxxxx, 1110xxxx 10xxxxxx 10xxxxxx, 11110xxx and three.
        if (lead >= 0xC0 && lead < 0xF8) {
            uint32_t produced = 0;
            const uint32_t taken =
                decodeMultiByteRun(source + in, sourceLength - in, target + out, room, &produced);
            if (taken != 0) {
                in += taken;
                out += produced;
                continue;
            }
        }
        const uint32_t trailing = lead < 0xC0 || lead >= 0xFE ? 0 : trailingCount(lead);
        uint32_t length = trailing + 1;
        uint32_t value = trailing == 0 ? kReplacement : lead;
        bool malformed = trailing == 0;
        for (uint32_t i = 1; i <= trailing; ++i) {
            if (in + i >= sourceLength) {
                status = NLS_SEQUENCE_INCOMPLETE;
                break;
            }
            const unsigned char next = source[in + i];
            if (!isContinuation(next)) {
                value = kReplacement;
                malformed = true;
                length = i;
                break;
            }
            value = (value << 6) + next;
        }
        if (status != NLS_SUCCESS) break;
        if (trailing != 0 && length == trailing + 1) {
            value -= kOffsets[trailing];
            malformed = isOverlong(value, trailing, source + in) || value > 0x10FFFF;
            if (malformed) value = kReplacement;
        }
        if (malformed && !WritesSubstitute()) {
            if (Substitute(NLS_MALFORMED_INPUT, in) == NLS_POLICY_STOP) {
                status = NLS_INVALID_INPUT;
                break;
            }
            in += length;
            continue;
        }
        if (malformed && room >= 2) Substitute(NLS_MALFORMED_INPUT, in);
        if (value <= 0xFFFF) {
            if (room < 2) {
                status = NLS_OUTPUT_FULL;
                break;
            }
            storeUnit(target + out, static_cast<uint16_t>(value));
            out += 2;
        } else {
            if (room < 4) {
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
// written from its own value, but a high surrogate that ends the input waits
// for its pair (-1304, unconsumed). A unit or pair whose bytes do not fit
// stops the call (-1304) unconsumed. A final odd byte is no unit: it is left
// unconsumed and reported as an incomplete sequence.
NLS_Status TUnicodeToUTF8Converter::Convert(unsigned char* target, uint32_t* targetLength,
                                            uint32_t targetCapacity, const unsigned char* source,
                                            uint32_t sourceLength, uint32_t* sourceConsumed) {
    if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed))
        return NLS_INVALID_PARAMETER;
    const TextKernels& kernels = textKernels();
    const uint32_t units = sourceLength / 2;
    uint32_t position = 0;
    uint32_t out = 0;
    uint32_t kernelFrom = 0;  // after a lone surrogate, the kernel waits a block
    NLS_Status status = NLS_SUCCESS;
    while (position < units) {
        if (kernels.encodeUtf8 != nullptr && position >= kernelFrom &&
            units - position >= kKernelBlock && targetCapacity - out >= 4 * kKernelBlock) {
            uint32_t written = 0;
            position += kernels.encodeUtf8(source + 2 * position, units - position, target + out,
                                           targetCapacity - out, &written);
            out += written;
            kernelFrom = position + 16;
            continue;
        }
        uint32_t value = loadUnit(source + 2 * position);
        if (value < 0x80 && out < targetCapacity &&
            (position + 1 == units || loadUnit(source + 2 * position + 2) >= 0x80)) {
            target[out++] = static_cast<unsigned char>(value);  // a lone ASCII unit
            ++position;
            continue;
        }
        if (value < 0x80) {
            const uint32_t run = kernels.narrowAscii(source + 2 * position, units - position,
                                                     target + out, targetCapacity - out);
            if (run != 0) {
                position += run;
                out += run;
                continue;
            }
        }
        if (value >= 0x80) {
            uint32_t written = 0;
            const uint32_t run = encodeMultiByteRun(source + 2 * position, units - position,
                                                    target + out, targetCapacity - out, &written);
            if (run != 0) {
                position += run;
                out += written;
                continue;
            }
        }
        uint32_t taken = 1;
        if (isHighSurrogate(value) && position + 1 == units) {
            status = NLS_SEQUENCE_INCOMPLETE;
            break;
        }
        if (isHighSurrogate(value)) {
            const uint32_t low = loadUnit(source + 2 * position + 2);
            if (isLowSurrogate(low)) {
                value = ((value - 0xD800) << 10) + (low - 0xDC00) + 0x10000;
                taken = 2;
            }
        }
        const uint32_t length = value < 0x80 ? 1 : value < 0x800 ? 2 : value < 0x10000 ? 3 : 4;
        if (targetCapacity - out < length) {
            status = NLS_SEQUENCE_INCOMPLETE;
            break;
        }
        unsigned char* p = target + out;
        switch (length) {
            case 1:
                p[0] = static_cast<unsigned char>(value);
                break;
            case 2:  // 110xxxxx 10xxxxxx
                p[0] = static_cast<unsigned char>(0xC0 | (value >> 6));
                p[1] = static_cast<unsigned char>(0x80 | (value & 0x3F));
                break;
            case 3:  // 1110xxxx 10xxxxxx 10xxxxxx
                p[0] = static_cast<unsigned char>(0xE0 | (value >> 12));
                p[1] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
                p[2] = static_cast<unsigned char>(0x80 | (value & 0x3F));
                break;
            default:  // 11110xxx 10xxxxxx 10xxxxxx 10xxxxxx
                p[0] = static_cast<unsigned char>(0xF0 | (value >> 18));
                p[1] = static_cast<unsigned char>(0x80 | ((value >> 12) & 0x3F));
                p[2] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
                p[3] = static_cast<unsigned char>(0x80 | (value & 0x3F));
                break;
        }
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
