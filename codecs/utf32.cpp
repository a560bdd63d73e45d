// UTF-32 (Unicode, chapter 3) to and from UCS-2 in the machine's byte order.
// UTF-32BE and UTF-32LE have a fixed order; UTF-32 takes its order from a
// byte-order mark that starts the text (big-endian without one) and writes a
// mark, then big-endian. Values above U+10FFFF and surrogates are malformed:
// U+FFFD; characters above U+FFFF become surrogate pairs, and a pair becomes
// one value again. Kept between calls: whether the text's mark has been read
// or written.
#include <new>

#include "codecs/library_codecs.h"
#include "converters/units.h"

namespace velta {

namespace {

const char kUcs2Name[] = NLS_UCS2_NAME;
const uint16_t kReplacement = 0xFFFD;

const char* nameOf(ByteOrder order) {
    return order == ByteOrder::kBig      ? "UTF-32BE"
           : order == ByteOrder::kLittle ? "UTF-32LE"
                                         : "UTF-32";
}

class TUTF32ToUnicodeConverter : public TEncodingConverter, public TStreamConverter {
public:
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    explicit TUTF32ToUnicodeConverter(ByteOrder order)
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
    ByteOrder fOrder;
    bool fBigEndian;
    bool fOrderKnown;
};

class TUnicodeToUTF32Converter : public TEncodingConverter, public TStreamConverter {
public:
    explicit TUnicodeToUTF32Converter(ByteOrder order)
        : TEncodingConverter(kUcs2Name, nameOf(order), nullptr, nullptr, nullptr, 0, 4, nullptr,
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

// 1 to 3 bytes that the end of the input leaves wait for the rest of their
// unit (-1304).
NLS_Status TUTF32ToUnicodeConverter::Convert(unsigned char* target, uint32_t* targetLength,
                                             uint32_t targetCapacity, const unsigned char* source,
                                             uint32_t sourceLength, uint32_t* sourceConsumed) {
    if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed))
        return NLS_INVALID_PARAMETER;
    uint32_t in = 0;
    uint32_t out = 0;
    NLS_Status status = NLS_SUCCESS;
    if (!fOrderKnown && sourceLength >= 4) {
        fOrderKnown = true;
        fBigEndian = loadUnit32Ordered(source, false) != 0xFEFF;
        if (loadUnit32Ordered(source, fBigEndian) == 0xFEFF) in = 4;
    }
    while (status == NLS_SUCCESS && sourceLength - in >= 4) {
        uint32_t value = loadUnit32Ordered(source + in, fBigEndian);
        if (value > 0x10FFFF || isSurrogate(value)) {
            const int32_t policy =
                SubstituteIfRoom(NLS_MALFORMED_INPUT, in, targetCapacity - out >= 2);
            if (policy == NLS_POLICY_STOP) {
                status = NLS_INVALID_INPUT;
                break;
            }
            if (policy == NLS_POLICY_SKIP) {
                in += 4;
                continue;
            }
            value = kReplacement;
        }
        const uint32_t units = value > 0xFFFF ? 2 : 1;
        if (targetCapacity - out < 2 * units) {
            status = NLS_OUTPUT_FULL;
            break;
        }
        if (units == 1) {
            storeUnit(target + out, static_cast<uint16_t>(value));
        } else {
            value -= 0x10000;
            storeUnit(target + out, static_cast<uint16_t>(0xD800 + (value >> 10)));
            storeUnit(target + out + 2, static_cast<uint16_t>(0xDC00 + (value & 0x3FF)));
        }
        out += 2 * units;
        in += 4;
    }
    if (status == NLS_SUCCESS && in != sourceLength) status = NLS_SEQUENCE_INCOMPLETE;
    if (status == NLS_SUCCESS && InputEnds()) Reset();
    *targetLength = out;
    *sourceConsumed = in;
    if (!appendUnitTerminator(target, out, targetCapacity)) return NLS_RESULT_TRUNCATED;
    return status;
}

// A surrogate pair becomes one value, a lone surrogate U+FFFD; a high
// surrogate that ends the input waits for its pair (-1304, unconsumed).
NLS_Status TUnicodeToUTF32Converter::Convert(unsigned char* target, uint32_t* targetLength,
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
        if (targetCapacity < 4) {
            status = NLS_OUTPUT_FULL;
        } else {
            storeUnit32Ordered(target, 0xFEFF, true);
            out = 4;
            fMarkWritten = true;
        }
    }
    while (status == NLS_SUCCESS && sourceLength - in >= 2) {
        uint32_t value = loadUnit(source + in);
        uint32_t taken = 2;
        if (isHighSurrogate(value)) {
            if (sourceLength - in < 4) {
                status = NLS_SEQUENCE_INCOMPLETE;
                break;
            }
            const uint32_t low = loadUnit(source + in + 2);
            if (isLowSurrogate(low)) {
                value = ((value - 0xD800) << 10) + (low - 0xDC00) + 0x10000;
                taken = 4;
            }
        }
        if (taken == 2 && isSurrogate(value)) {
            const int32_t policy =
                SubstituteIfRoom(NLS_MALFORMED_INPUT, in, targetCapacity - out >= 4);
            if (policy == NLS_POLICY_STOP) {
                status = NLS_INVALID_INPUT;
                break;
            }
            if (policy == NLS_POLICY_SKIP) {
                in += 2;
                continue;
            }
            value = kReplacement;
        }
        if (targetCapacity - out < 4) {
            status = NLS_OUTPUT_FULL;
            break;
        }
        storeUnit32Ordered(target + out, value, bigEndian);
        out += 4;
        in += taken;
    }
    if (status == NLS_SUCCESS && in != sourceLength) status = NLS_SEQUENCE_INCOMPLETE;
    if (status == NLS_SUCCESS && InputEnds()) fMarkWritten = false;
    *targetLength = out;
    *sourceConsumed = in;
    if (!appendUnit32Terminator(target, out, targetCapacity)) return NLS_RESULT_TRUNCATED;
    return status;
}

}  // namespace

TEncodingConverter* newUtf32Decoder(ByteOrder order) {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) TUTF32ToUnicodeConverter(order);
}

TEncodingConverter* newUtf32Encoder(ByteOrder order) {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) TUnicodeToUTF32Converter(order);
}

}  // namespace velta
