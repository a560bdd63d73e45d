// UTF-16 (RFC 2781) to and from UCS-2 in the machine's byte order. UTF-16BE
// and UTF-16LE have a fixed order; UTF-16 takes its order from a byte-order
// mark that starts the text (big-endian without one) and writes a mark, then
// big-endian (an empty text gets no mark). Surrogates must pair: a lone one
// becomes U+FFFD. Kept between calls: whether the text's mark has been read
// or written; a text ends where a call's input ends unless more input follows
// (SetInputEnds(false)).
#include <new>

#include "codecs/library_codecs.h"
#include "converters/units.h"

namespace velta {

namespace {

const char kUcs2Name[] = NLS_UCS2_NAME;
const uint16_t kReplacement = 0xFFFD;

const char* nameOf(ByteOrder order) {
    return order == ByteOrder::kBig      ? "UTF-16BE"
           : order == ByteOrder::kLittle ? "UTF-16LE"
                                         : "UTF-16";
}

class TUTF16ToUnicodeConverter : public TEncodingConverter, public TStreamConverter {
public:
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    explicit TUTF16ToUnicodeConverter(ByteOrder order)
        : TEncodingConverter(nameOf(order), kUcs2Name, nullptr, nullptr, nullptr, 0, 1, nullptr,
                             nullptr, 0),
          fOrder(order) {
        Reset();
    }
    void Reset() override {
        fBigEndian = fOrder != ByteOrder::kLittle;
        fOrderKnown = fOrder != ByteOrder::kMarked;
    }
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;

private:
    uint32_t readMark(const unsigned char* source);

    ByteOrder fOrder;
    bool fBigEndian;
    bool fOrderKnown;
};

class TUnicodeToUTF16Converter : public TEncodingConverter, public TStreamConverter {
public:
    explicit TUnicodeToUTF16Converter(ByteOrder order)
        : TEncodingConverter(kUcs2Name, nameOf(order), nullptr, nullptr, nullptr, 0, 2, nullptr,
                             nullptr, 1),
          fOrder(order) {}
    void Reset() override { fMarkWritten = false; }
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;

private:
    ByteOrder fOrder;
    bool fMarkWritten = false;
};

// The bytes of a byte-order mark at the start of the text (0 without one).
uint32_t TUTF16ToUnicodeConverter::readMark(const unsigned char* source) {
    fOrderKnown = true;
    fBigEndian = !(source[0] == 0xFF && source[1] == 0xFE);
    return (source[0] == 0xFE && source[1] == 0xFF) || !fBigEndian ? 2 : 0;
}

// A unit, or a high surrogate without the unit after it, that the end of the
// input cuts short is left unconsumed (-1304).
NLS_Status TUTF16ToUnicodeConverter::Convert(unsigned char* target, uint32_t* targetLength,
                                             uint32_t targetCapacity, const unsigned char* source,
                                             uint32_t sourceLength, uint32_t* sourceConsumed) {
    if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed))
        return NLS_INVALID_PARAMETER;
    uint32_t in = 0;
    uint32_t out = 0;
    NLS_Status status = NLS_SUCCESS;
    if (!fOrderKnown && sourceLength >= 2) in = readMark(source);
    const bool machineOrder = fBigEndian == bigEndianHost();
    while (status == NLS_SUCCESS && sourceLength - in >= 2) {
        if (machineOrder) {
            const uint32_t run = copyUnitsWithoutSurrogates(source + in, sourceLength - in,
                                                            target + out, targetCapacity - out);
            in += run;
            out += run;
            if (sourceLength - in < 2) break;
        }
        uint16_t first = loadUnitOrdered(source + in, fBigEndian);
        uint32_t units = 1;
        if (isHighSurrogate(first)) {
            if (sourceLength - in < 4) {
                status = NLS_SEQUENCE_INCOMPLETE;
                break;
            }
            if (isLowSurrogate(loadUnitOrdered(source + in + 2, fBigEndian))) units = 2;
        }
        if (units == 1 && isSurrogate(first)) {
            const int32_t policy =
                SubstituteIfRoom(NLS_MALFORMED_INPUT, in, targetCapacity - out >= 2);
            if (policy == NLS_POLICY_STOP) {
                status = NLS_INVALID_INPUT;
                break;
            }
            if (policy == NLS_POLICY_SKIP) {
                in += 2;
                continue;
            }
            first = kReplacement;
        }
        if (targetCapacity - out < 2 * units) {
            status = NLS_OUTPUT_FULL;
            break;
        }
        storeUnit(target + out, first);
        if (units == 2) storeUnit(target + out + 2, loadUnitOrdered(source + in + 2, fBigEndian));
        out += 2 * units;
        in += 2 * units;
    }
    if (status == NLS_SUCCESS && in != sourceLength) status = NLS_SEQUENCE_INCOMPLETE;
    if (status == NLS_SUCCESS && InputEnds()) Reset();  // the next call starts a new text
    *targetLength = out;
    *sourceConsumed = in;
    if (!appendUnitTerminator(target, out, targetCapacity)) return NLS_RESULT_TRUNCATED;
    return status;
}

// A lone surrogate becomes U+FFFD; a high surrogate that ends the input waits
// for its pair (-1304, unconsumed).
NLS_Status TUnicodeToUTF16Converter::Convert(unsigned char* target, uint32_t* targetLength,
                                             uint32_t targetCapacity, const unsigned char* source,
                                             uint32_t sourceLength, uint32_t* sourceConsumed) {
    if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed))
        return NLS_INVALID_PARAMETER;
    const bool bigEndian = fOrder != ByteOrder::kLittle;
    uint32_t in = 0;
    uint32_t out = 0;
    NLS_Status status = NLS_SUCCESS;
    if (fOrder == ByteOrder::kMarked && !fMarkWritten && sourceLength >= 2) {
        if (targetCapacity < 2) {
            status = NLS_OUTPUT_FULL;
        } else {
            storeUnitOrdered(target, 0xFEFF, true);
            out = 2;
            fMarkWritten = true;
        }
    }
    const bool machineOrder = bigEndian == bigEndianHost();
    while (status == NLS_SUCCESS && sourceLength - in >= 2) {
        if (machineOrder) {
            const uint32_t run = copyUnitsWithoutSurrogates(source + in, sourceLength - in,
                                                            target + out, targetCapacity - out);
            in += run;
            out += run;
            if (sourceLength - in < 2) break;
        }
        uint16_t first = loadUnit(source + in);
        uint32_t units = 1;
        if (isHighSurrogate(first)) {
            if (sourceLength - in < 4) {
                status = NLS_SEQUENCE_INCOMPLETE;
                break;
            }
            if (isLowSurrogate(loadUnit(source + in + 2))) units = 2;
        }
        if (units == 1 && isSurrogate(first)) {
            const int32_t policy =
                SubstituteIfRoom(NLS_MALFORMED_INPUT, in, targetCapacity - out >= 2);
            if (policy == NLS_POLICY_STOP) {
                status = NLS_INVALID_INPUT;
                break;
            }
            if (policy == NLS_POLICY_SKIP) {
                in += 2;
                continue;
            }
            first = kReplacement;
        }
        if (targetCapacity - out < 2 * units) {
            status = NLS_OUTPUT_FULL;
            break;
        }
        storeUnitOrdered(target + out, first, bigEndian);
        if (units == 2) storeUnitOrdered(target + out + 2, loadUnit(source + in + 2), bigEndian);
        out += 2 * units;
        in += 2 * units;
    }
    if (status == NLS_SUCCESS && in != sourceLength) status = NLS_SEQUENCE_INCOMPLETE;
    if (status == NLS_SUCCESS && InputEnds()) fMarkWritten = false;
    *targetLength = out;
    *sourceConsumed = in;
    if (!appendUnitTerminator(target, out, targetCapacity)) return NLS_RESULT_TRUNCATED;
    return status;
}

}  // namespace

TEncodingConverter* newUtf16Decoder(ByteOrder order) {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) TUTF16ToUnicodeConverter(order);
}

TEncodingConverter* newUtf16Encoder(ByteOrder order) {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) TUnicodeToUTF16Converter(order);
}

}  // namespace velta
