// UTF-32 (Unicode, chapter 3) to and from UCS-2 in the machine's byte order.
// UTF-32BE and UTF-32LE have a fixed order; UTF-32 takes its order from a
// byte-order mark that starts the text (big-endian without one) and writes a
// mark, then little-endian. Values above U+10FFFF and surrogates are
// malformed; characters above U+FFFF become surrogate pairs, and a pair becomes
// one value again. Kept between calls: whether the text's mark has been read
// or written.
#include "codecs/library_codecs.h"
#include "codecs/unicode_forms.h"

namespace velta {

namespace {

struct Utf32 {
    enum : unsigned short { kDecoderExpansion = 1, kEncoderExpansion = 4, kUnitWidth = 4 };

    static const char* name(ByteOrder order) {
        return order == ByteOrder::kBig      ? "UTF-32BE"
               : order == ByteOrder::kLittle ? "UTF-32LE"
                                             : "UTF-32";
    }

    // 1 to 3 bytes that the end of the input leaves wait for the rest of
    // their unit.
    static StepResult decode(ByteOrderReader& order, const unsigned char* source,
                             uint32_t sourceLength, unsigned char* target, uint32_t targetCapacity,
                             bool textEnds) {
        uint32_t in = 0, out = 0;
        if (!order.known && sourceLength >= 4) {
            order.known = true;
            order.bigEndian = loadUnit32Ordered(source, false) != 0xFEFF;
            if (loadUnit32Ordered(source, order.bigEndian) == 0xFEFF) in = 4;
        }
        for (; sourceLength - in >= 4; in += 4) {
            uint32_t value = loadUnit32Ordered(source + in, order.bigEndian);
            if (value > 0x10FFFF || isSurrogate(value)) return malformedAt(in, out, 4);
            const uint32_t units = value > 0xFFFF ? 2 : 1;
            if (targetCapacity - out < 2 * units) return outputFull(in, out);
            if (units == 1) {
                storeUnit(target + out, static_cast<uint16_t>(value));
            } else {
                value -= 0x10000;
                storeUnit(target + out, static_cast<uint16_t>(0xD800 + (value >> 10)));
                storeUnit(target + out + 2, static_cast<uint16_t>(0xDC00 + (value & 0x3FF)));
            }
            out += 2 * units;
        }
        if (in != sourceLength) return cutAtEnd(in, out);
        if (textEnds) order.reset();
        return inputUsed(in, out);
    }

    // A surrogate pair becomes one value, a lone surrogate is malformed; a
    // high surrogate that ends the input waits for its pair.
    static StepResult encode(ByteOrderWriter& order, const unsigned char* source,
                             uint32_t sourceLength, unsigned char* target, uint32_t targetCapacity,
                             bool textEnds) {
        uint32_t in = 0, out = 0;
        if (!order.writeMark(4, target, targetCapacity, sourceLength, &out))
            return outputFull(0, 0);
        while (sourceLength - in >= 2) {
            uint32_t value = loadUnit(source + in);
            uint32_t taken = 2;
            if (isHighSurrogate(value)) {
                if (sourceLength - in < 4) return cutAtEnd(in, out);
                const uint32_t low = loadUnit(source + in + 2);
                if (isLowSurrogate(low)) {
                    value = ((value - 0xD800) << 10) + (low - 0xDC00) + 0x10000;
                    taken = 4;
                }
            }
            if (taken == 2 && isSurrogate(value)) return malformedAt(in, out, 2);
            if (targetCapacity - out < 4) return outputFull(in, out);
            storeUnit32Ordered(target + out, value, order.bigEndian());
            out += 4;
            in += taken;
        }
        if (in != sourceLength) return cutAtEnd(in, out);
        if (textEnds) order.reset();
        return inputUsed(in, out);
    }
};

}  // namespace

TEncodingConverter* newUtf32Decoder(ByteOrder order) {
    return newStepConverter<TFormDecoder<Utf32>>(order);
}

TEncodingConverter* newUtf32Encoder(ByteOrder order) {
    return newStepConverter<TFormEncoder<Utf32>>(order);
}

}  // namespace velta
