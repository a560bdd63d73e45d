// What UTF-16 and UTF-32 share: one converter class per direction over a
// form (the file of each encoding holds its steps), a byte order fixed by
// the name or read from a byte-order mark, the mark a marked encoder writes
// once a text.
#ifndef VELTA_CODECS_UNICODE_FORMS_H
#define VELTA_CODECS_UNICODE_FORMS_H

#include <string.h>

#include "common/step_shell.h"
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

// The converters of a form. Form provides name(order), the expansion
// factors kDecoderExpansion and kEncoderExpansion, the width of its unit
// (the encoder's terminator) kUnitWidth, and the steps
//   static StepResult decode(ByteOrderReader&, <a step's arguments>);
//   static StepResult encode(ByteOrderWriter&, <a step's arguments>);
// each of which resets its byte order where the text ends. A unit that is no
// character (a lone surrogate, a value past U+10FFFF) is malformed input.
template <typename Form>
class TFormDecoder : public TStepShell<TFormDecoder<Form>> {
public:
    explicit TFormDecoder(ByteOrder order)
        : TStepShell<TFormDecoder<Form>>(
              {Form::name(order), NLS_UCS2_NAME, 0, Form::kDecoderExpansion, 0}),
          fOrder(order) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    void Reset() override { fOrder.reset(); }
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds) {
        return Form::decode(fOrder, source, sourceLength, target, targetCapacity, textEnds);
    }
    void saveState(StepState* state) const { saveStepState(fOrder, state); }
    void restoreState(const StepState& state) { restoreStepState(&fOrder, state); }
    NLS_Status outputFullStatus() const { return NLS_OUTPUT_FULL; }

private:
    ByteOrderReader fOrder;
};

template <typename Form>
class TFormEncoder : public TStepShell<TFormEncoder<Form>> {
public:
    explicit TFormEncoder(ByteOrder order)
        : TStepShell<TFormEncoder<Form>>(
              {NLS_UCS2_NAME, Form::name(order), 0, Form::kEncoderExpansion, 1}),
          fOrder(order) {}
    void Reset() override { fOrder.reset(); }
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds) {
        return Form::encode(fOrder, source, sourceLength, target, targetCapacity, textEnds);
    }
    void saveState(StepState* state) const { saveStepState(fOrder, state); }
    void restoreState(const StepState& state) { restoreStepState(&fOrder, state); }
    uint32_t terminatorWidth() const { return Form::kUnitWidth; }
    NLS_Status outputFullStatus() const { return NLS_OUTPUT_FULL; }

private:
    ByteOrderWriter fOrder;
};

}  // namespace velta

#endif
