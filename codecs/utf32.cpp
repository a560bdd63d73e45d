// UTF-32 (Unicode, chapter 3) to and from UCS-2 in the machine's byte order.
// UTF-32BE and UTF-32LE have a fixed order; UTF-32 takes its order from a
// byte-order mark that starts the text (big-endian without one) and writes a
// mark, then little-endian. Values above U+10FFFF and surrogates are malformed:
// U+FFFD; characters above U+FFFF become surrogate pairs, and a pair becomes
// one value again. Kept between calls: whether the text's mark has been read
// or written.
#include "codecs/library_codecs.h"
#include "codecs/unicode_forms.h"

namespace velta {

namespace {

const uint16_t kReplacement = 0xFFFD;

struct Utf32 {
    enum : unsigned short { kDecoderExpansion = 1, kEncoderExpansion = 4 };

    static const char* name(ByteOrder order) {
        return order == ByteOrder::kBig      ? "UTF-32BE"
               : order == ByteOrder::kLittle ? "UTF-32LE"
                                             : "UTF-32";
    }

    // 1 to 3 bytes that the end of the input leaves wait for the rest of
    // their unit (-1304).
    static NLS_Status decode(TStreamConverter& converter, ByteOrderReader& order,
                             unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                             const unsigned char* source, uint32_t sourceLength,
                             uint32_t* sourceConsumed) {
        uint32_t in = 0, out = 0;
        if (!order.known && sourceLength >= 4) {
            order.known = true;
            order.bigEndian = loadUnit32Ordered(source, false) != 0xFEFF;
            if (loadUnit32Ordered(source, order.bigEndian) == 0xFEFF) in = 4;
        }
        NLS_Status status = NLS_SUCCESS;
        while (status == NLS_SUCCESS && sourceLength - in >= 4)
            status = decodeValue(converter, loadUnit32Ordered(source + in, order.bigEndian), target,
                                 &out, targetCapacity, &in);
        if (status == NLS_SUCCESS && in != sourceLength) status = NLS_SEQUENCE_INCOMPLETE;
        if (status == NLS_SUCCESS && converter.InputEnds()) order.reset();
        *targetLength = out;
        *sourceConsumed = in;
        if (!appendUnitTerminator(target, out, targetCapacity)) return NLS_RESULT_TRUNCATED;
        return status;
    }

    // One value `*in` bytes into the input: a unit, a pair, or what the
    // policy makes of a malformed one.
    static NLS_Status decodeValue(TStreamConverter& converter, uint32_t value,
                                  unsigned char* target, uint32_t* out, uint32_t capacity,
                                  uint32_t* in) {
        if (value > 0x10FFFF || isSurrogate(value)) {
            const MalformedRule rule = meetMalformedRule(converter, *in, capacity - *out >= 2);
            if (rule == MalformedRule::kStop) return NLS_INVALID_INPUT;
            if (rule == MalformedRule::kSkip) {
                *in += 4;
                return NLS_SUCCESS;
            }
            value = kReplacement;
        }
        const uint32_t units = value > 0xFFFF ? 2 : 1;
        if (capacity - *out < 2 * units) return NLS_OUTPUT_FULL;
        if (units == 1) {
            storeUnit(target + *out, static_cast<uint16_t>(value));
        } else {
            value -= 0x10000;
            storeUnit(target + *out, static_cast<uint16_t>(0xD800 + (value >> 10)));
            storeUnit(target + *out + 2, static_cast<uint16_t>(0xDC00 + (value & 0x3FF)));
        }
        *out += 2 * units;
        *in += 4;
        return NLS_SUCCESS;
    }

    // A surrogate pair becomes one value, a lone surrogate U+FFFD; a high
    // surrogate that ends the input waits for its pair (-1304, unconsumed).
    static NLS_Status encode(TStreamConverter& converter, ByteOrderWriter& order,
                             unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                             const unsigned char* source, uint32_t sourceLength,
                             uint32_t* sourceConsumed) {
        uint32_t in = 0, out = 0;
        NLS_Status status = NLS_OUTPUT_FULL;
        if (order.writeMark(4, target, targetCapacity, sourceLength, &out)) status = NLS_SUCCESS;
        while (status == NLS_SUCCESS && sourceLength - in >= 2)
            status = encodeCharacter(converter, order.bigEndian(), source, sourceLength, &in,
                                     target, targetCapacity, &out);
        if (status == NLS_SUCCESS && in != sourceLength) status = NLS_SEQUENCE_INCOMPLETE;
        if (status == NLS_SUCCESS && converter.InputEnds()) order.reset();
        *targetLength = out;
        *sourceConsumed = in;
        if (!appendUnit32Terminator(target, out, targetCapacity)) return NLS_RESULT_TRUNCATED;
        return status;
    }

    static NLS_Status encodeCharacter(TStreamConverter& converter, bool bigEndian,
                                      const unsigned char* source, uint32_t length, uint32_t* in,
                                      unsigned char* target, uint32_t capacity, uint32_t* out) {
        uint32_t value = loadUnit(source + *in);
        uint32_t taken = 2;
        if (isHighSurrogate(value)) {
            if (length - *in < 4) return NLS_SEQUENCE_INCOMPLETE;
            const uint32_t low = loadUnit(source + *in + 2);
            if (isLowSurrogate(low)) {
                value = ((value - 0xD800) << 10) + (low - 0xDC00) + 0x10000;
                taken = 4;
            }
        }
        if (taken == 2 && isSurrogate(value)) {
            const MalformedRule rule = meetMalformedRule(converter, *in, capacity - *out >= 4);
            if (rule == MalformedRule::kStop) return NLS_INVALID_INPUT;
            if (rule == MalformedRule::kSkip) {
                *in += 2;
                return NLS_SUCCESS;
            }
            value = kReplacement;
        }
        if (capacity - *out < 4) return NLS_OUTPUT_FULL;
        storeUnit32Ordered(target + *out, value, bigEndian);
        *out += 4;
        *in += taken;
        return NLS_SUCCESS;
    }
};

}  // namespace

TEncodingConverter* newUtf32Decoder(ByteOrder order) {
    return newCodecConverter<TFormDecoder<Utf32>>(order);
}

TEncodingConverter* newUtf32Encoder(ByteOrder order) {
    return newCodecConverter<TFormEncoder<Utf32>>(order);
}

}  // namespace velta
