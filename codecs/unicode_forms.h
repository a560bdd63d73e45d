// What UTF-16 and UTF-32 share: one converter class per direction over a
// form (the file of each encoding holds its steps), a byte order fixed by
// the name or read from a byte-order mark, the mark a marked encoder writes
// once a text, and the rule for a malformed unit.
#ifndef VELTA_CODECS_UNICODE_FORMS_H
#define VELTA_CODECS_UNICODE_FORMS_H

#include <string.h>

#include "common/codec_converter.h"
#include "common/units.h"

namespace velta {

// A decoder's byte order: known from the name, or from the text's mark.
struct ByteOrderReader {
    explicit ByteOrderReader(ByteOrder fixed) : order(fixed) { reset(); }
    void reset() {
        bigEndian = order != ByteOrder::kLittle;
        known = order != ByteOrder::kMarked;
    }
    ByteOrder order;
    bool bigEndian;
    bool known;
};

// An encoder's byte order, and the mark a marked text starts with (none for
// an empty text). A marked text is written little-endian on every machine,
// as iconv, ICU and Python write it, so that outputs compare byte for byte.
struct ByteOrderWriter {
    explicit ByteOrderWriter(ByteOrder fixed) : order(fixed) {}
    void reset() { markWritten = false; }
    bool bigEndian() const { return order == ByteOrder::kBig; }
    // Writes the mark of `width` bytes when it is due; false when the output
    // cannot take it.
    bool writeMark(uint32_t width, unsigned char* target, uint32_t capacity, uint32_t sourceLength,
                   uint32_t* out) {
        if (order != ByteOrder::kMarked || markWritten || sourceLength < 2) return true;
        if (capacity < width) return false;
        memset(target, 0, width);
        target[0] = 0xFF;
        target[1] = 0xFE;
        *out = width;
        markWritten = true;
        return true;
    }
    ByteOrder order;
    bool markWritten = false;
};

enum class MalformedRule { kReplace, kSkip, kStop };

// What the converter's policy makes of a malformed unit (a lone surrogate, a
// value past U+10FFFF) `offset` bytes into the input; kReplace also where the
// output has no room for U+FFFD (the output-full rule then stops before it).
inline MalformedRule meetMalformedRule(TStreamConverter& converter, uint32_t offset, bool room) {
    const int32_t policy = converter.SubstituteIfRoom(NLS_MALFORMED_INPUT, offset, room);
    return policy == NLS_POLICY_STOP   ? MalformedRule::kStop
           : policy == NLS_POLICY_SKIP ? MalformedRule::kSkip
                                       : MalformedRule::kReplace;
}

// The converters of a form. Form provides name(order), the expansion
// factors kDecoderExpansion and kEncoderExpansion, and the steps
//   static NLS_Status decode(TStreamConverter&, ByteOrderReader&, <Convert's arguments>);
//   static NLS_Status encode(TStreamConverter&, ByteOrderWriter&, <Convert's arguments>);
// each of which resets its byte order where a text ends.
template <typename Form>
class TFormDecoder : public TCodecConverter<TFormDecoder<Form>> {
public:
    explicit TFormDecoder(ByteOrder order)
        : TCodecConverter<TFormDecoder<Form>>(
              {Form::name(order), NLS_UCS2_NAME, 0, Form::kDecoderExpansion, 0}),
          fOrder(order) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fOrder.reset(); }
    NLS_Status Step(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                    const unsigned char* source, uint32_t sourceLength, uint32_t* sourceConsumed) {
        return Form::decode(*this, fOrder, target, targetLength, targetCapacity, source,
                            sourceLength, sourceConsumed);
    }

private:
    ByteOrderReader fOrder;
};

template <typename Form>
class TFormEncoder : public TCodecConverter<TFormEncoder<Form>> {
public:
    explicit TFormEncoder(ByteOrder order)
        : TCodecConverter<TFormEncoder<Form>>(
              {NLS_UCS2_NAME, Form::name(order), 0, Form::kEncoderExpansion, 1}),
          fOrder(order) {}
    void Reset() override { fOrder.reset(); }
    NLS_Status Step(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                    const unsigned char* source, uint32_t sourceLength, uint32_t* sourceConsumed) {
        return Form::encode(*this, fOrder, target, targetLength, targetCapacity, source,
                            sourceLength, sourceConsumed);
    }

private:
    ByteOrderWriter fOrder;
};

}  // namespace velta

#endif
