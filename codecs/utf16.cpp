// UTF-16 (RFC 2781) to and from UCS-2 in the machine's byte order. UTF-16BE
// and UTF-16LE have a fixed order; UTF-16 takes its order from a byte-order
// mark that starts the text (big-endian without one) and writes a mark, then
// little-endian (an empty text gets no mark). Surrogates must pair: a lone one
// is malformed. Kept between calls: whether the text's mark has been read
// or written; a text ends where a call's input ends unless more input follows
// (SetInputEnds(false)).
#include "codecs/library_codecs.h"
#include "codecs/unicode_forms.h"
#include "common/text_kernels.h"

namespace velta {

namespace {

// The units (1, or 2 for a pair) of the character at s, read in `bigEndian`
// order; 0 when the end of the input cuts a high surrogate short.
inline uint32_t characterUnits(const unsigned char* s, uint32_t available, bool bigEndian) {
    if (!isHighSurrogate(loadUnitOrdered(s, bigEndian))) return 1;
    if (available < 4) return 0;
    return isLowSurrogate(loadUnitOrdered(s + 2, bigEndian)) ? 2 : 1;
}

struct Utf16 {
    enum : unsigned short { kDecoderExpansion = 1, kEncoderExpansion = 2, kUnitWidth = 2 };

    static const char* name(ByteOrder order) {
        return order == ByteOrder::kBig      ? "UTF-16BE"
               : order == ByteOrder::kLittle ? "UTF-16LE"
                                             : "UTF-16";
    }

    // The bytes of a byte-order mark at the start of the text (0 without one).
    static uint32_t readMark(ByteOrderReader& order, const unsigned char* source) {
        order.known = true;
        order.bigEndian = !(source[0] == 0xFF && source[1] == 0xFE);
        return (source[0] == 0xFE && source[1] == 0xFF) || !order.bigEndian ? 2 : 0;
    }

    // A unit, or a high surrogate without the unit after it, that the end of
    // the input cuts short waits unread.
    static StepResult decode(ByteOrderReader& order, const unsigned char* source,
                             uint32_t sourceLength, unsigned char* target, uint32_t targetCapacity,
                             bool textEnds) {
        uint32_t in = 0;
        if (!order.known && sourceLength >= 2) in = readMark(order, source);
        const StepResult result = convertUnits(order.bigEndian, true, source, sourceLength, in,
                                               target, targetCapacity, 0);
        if (result.stop == Stop::kInputUsed && textEnds) order.reset();
        return result;
    }

    // A lone surrogate is malformed; a high surrogate that ends the input
    // waits for its pair.
    static StepResult encode(ByteOrderWriter& order, const unsigned char* source,
                             uint32_t sourceLength, unsigned char* target, uint32_t targetCapacity,
                             bool textEnds) {
        uint32_t out = 0;
        if (!order.writeMark(2, target, targetCapacity, sourceLength, &out))
            return outputFull(0, 0);
        const StepResult result = convertUnits(order.bigEndian(), false, source, sourceLength, 0,
                                               target, targetCapacity, out);
        if (result.stop == Stop::kInputUsed && textEnds) order.reset();
        return result;
    }

    // Both directions move units between the machine's order and `bigEndian`
    // order (`reading`: from it), copying runs without surrogates where the
    // orders agree.
    static StepResult convertUnits(bool bigEndian, bool reading, const unsigned char* source,
                                   uint32_t length, uint32_t in, unsigned char* target,
                                   uint32_t capacity, uint32_t out) {
        const bool machineOrder = bigEndian == bigEndianHost();
        const bool sourceBig = reading ? bigEndian : bigEndianHost();
        const bool targetBig = reading ? bigEndianHost() : bigEndian;
        while (length - in >= 2) {
            if (machineOrder) {
                const uint32_t run =
                    textKernels().copyUtf16(source + in, length - in, target + out, capacity - out);
                in += run;
                out += run;
                if (length - in < 2) break;
            }
            const uint32_t units = characterUnits(source + in, length - in, sourceBig);
            if (units == 0) return cutAtEnd(in, out);
            const uint16_t first = loadUnitOrdered(source + in, sourceBig);
            if (units == 1 && isSurrogate(first)) return malformedAt(in, out, 2);
            if (capacity - out < 2 * units) return outputFull(in, out);
            storeUnitOrdered(target + out, first, targetBig);
            if (units == 2)
                storeUnitOrdered(target + out + 2, loadUnitOrdered(source + in + 2, sourceBig),
                                 targetBig);
            out += 2 * units;
            in += 2 * units;
        }
        return in != length ? cutAtEnd(in, out) : inputUsed(in, out);
    }
};

}  // namespace

TEncodingConverter* newUtf16Decoder(ByteOrder order) {
    return newStepConverter<TFormDecoder<Utf16>>(order);
}

TEncodingConverter* newUtf16Encoder(ByteOrder order) {
    return newStepConverter<TFormEncoder<Utf16>>(order);
}

}  // namespace velta
