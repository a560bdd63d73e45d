// UCS-4 (32-bit units in the machine's byte order) to and from UCS-2.
// Code points above U+FFFF travel as surrogate pairs in UCS-2; values above
// U+10FFFF have no UCS-2 form and become U+FFFD. No state between calls.
#include "common/codec_converter.h"
#include "common/text_kernels.h"
#include "common/units.h"
#include "velta/factories.h"

using namespace velta;

namespace {

const char kUcs4Name[] = "ISO-10646-UCS-4";
const char kUcs2Name[] = NLS_UCS2_NAME;
const unsigned short kUcs4Csid = 801;

const TConverterIdentity kDecoder = {kUcs4Name, kUcs2Name, kUcs4Csid, 2, 0};
const TConverterIdentity kEncoder = {kUcs2Name, kUcs4Name, kUcs4Csid, 4, 1};

class TUCS4ToUnicodeConverter : public TCodecConverter<TUCS4ToUnicodeConverter> {
public:
    TUCS4ToUnicodeConverter() : TCodecConverter(kDecoder) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    NLS_Status Step(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                    const unsigned char* source, uint32_t sourceLength, uint32_t* sourceConsumed);
};

class TUnicodeToUCS4Converter
    : public TCodecConverter<TUnicodeToUCS4Converter, TVirtualConverterBase> {
public:
    TUnicodeToUCS4Converter() : TEncodingConverter(kEncoder), TCodecConverter(kEncoder) {}
    NLS_Status Step(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                    const unsigned char* source, uint32_t sourceLength, uint32_t* sourceConsumed);
};

// Two bytes of room always stay free for the terminator; a code point that
// needs a surrogate pair is written whole or not at all. Trailing bytes that
// make no whole unit stay unconsumed (result 2).
NLS_Status TUCS4ToUnicodeConverter::Step(unsigned char* target, uint32_t* targetLength,
                                         uint32_t targetCapacity, const unsigned char* source,
                                         uint32_t sourceLength, uint32_t* sourceConsumed) {
    const uint32_t units = sourceLength / 4;
    const TextKernels& kernels = textKernels();
    uint32_t count = 0;
    uint32_t out = 0;
    uint32_t kernelFrom = 0;  // after a value past U+10FFFF, the kernel waits a block
    NLS_Status status = NLS_SUCCESS;
    while (count < units) {
        if (kernels.narrowUcs4 != nullptr && count >= kernelFrom) {
            uint32_t produced = 0;
            count += kernels.narrowUcs4(source + 4 * count, units - count, target + out,
                                        targetCapacity - out, &produced);
            out += produced;
            kernelFrom = count + 8;
            if (count == units) break;
        }
        uint32_t value = loadUnit32(source + 4 * count);
        const uint32_t room = targetCapacity - out;
        if (value > 0x10FFFF) {
            if (room <= 2 && WritesSubstitute()) break;
            const int32_t policy = Substitute(NLS_MALFORMED_INPUT, 4 * count);
            if (policy == NLS_POLICY_STOP) {
                status = NLS_INVALID_INPUT;
                break;
            }
            if (policy == NLS_POLICY_SKIP) {
                ++count;
                continue;
            }
            value = 0xFFFD;
        }
        if (value <= 0xFFFF) {
            if (room <= 2) break;
            storeUnit(target + out, static_cast<uint16_t>(value));
            out += 2;
        } else {
            if (room < 6) break;
            value -= 0x10000;
            storeUnit(target + out, static_cast<uint16_t>(0xD800 + (value >> 10)));
            storeUnit(target + out + 2, static_cast<uint16_t>(0xDC00 + (value & 0x3FF)));
            out += 4;
        }
        ++count;
    }
    *targetLength = out;
    *sourceConsumed = 4 * count;
    appendUnitTerminator(target, out, targetCapacity);
    if (status != NLS_SUCCESS) return status;
    return 4 * count == sourceLength ? NLS_SUCCESS : NLS_RESULT_TRUNCATED;
}

// A valid surrogate pair becomes one 32-bit unit; a lone surrogate is written
// as its own value, but a high surrogate that ends the input waits for its
// pair (-1304, unconsumed). Four bytes of room always stay free for the
// terminator.
NLS_Status TUnicodeToUCS4Converter::Step(unsigned char* target, uint32_t* targetLength,
                                         uint32_t targetCapacity, const unsigned char* source,
                                         uint32_t sourceLength, uint32_t* sourceConsumed) {
    const uint32_t units = sourceLength / 2;
    uint32_t position = 0;
    uint32_t out = 0;
    NLS_Status status = NLS_SUCCESS;
    const TextKernels& kernels = textKernels();
    uint32_t kernelFrom = 0;  // after a surrogate, the kernel waits a block
    while (position < units && targetCapacity - out > 4) {
        if (kernels.widenToUcs4 != nullptr && position >= kernelFrom) {
            const uint32_t run = kernels.widenToUcs4(source + 2 * position, units - position,
                                                     target + out, targetCapacity - out);
            position += run;
            out += 4 * run;
            kernelFrom = position + 16;
            if (position == units || targetCapacity - out <= 4) break;
        }
        uint32_t value = loadUnit(source + 2 * position);
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
        storeUnit32(target + out, value);
        out += 4;
        position += taken;
    }
    *targetLength = out;
    *sourceConsumed = 2 * position;
    appendUnit32Terminator(target, out, targetCapacity);
    if (status != NLS_SUCCESS) return status;
    return 2 * position == sourceLength ? NLS_SUCCESS : NLS_RESULT_TRUNCATED;
}

}  // namespace

TEncodingConverter* NEWUCS4TOUNICODEENCODINGCONVERTER() {
    return newCodecConverter<TUCS4ToUnicodeConverter>();
}

TEncodingConverter* NEWUNICODETOUCS4ENCODINGCONVERTER() {
    return newCodecConverter<TUnicodeToUCS4Converter>();
}
