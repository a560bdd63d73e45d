// UCS-4 (32-bit units in the machine's byte order) to and from UCS-2.
// Code points above U+FFFF travel as surrogate pairs in UCS-2; values above
// U+10FFFF have no UCS-2 form and are malformed. No state between calls.
#include "common/step_shell.h"
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

// In the older calls two bytes of room always stay free for the terminator
// (a stream's pieces, which have none, are filled to their end); a code
// point that needs a surrogate pair is written whole or not at all. Trailing
// bytes that make no whole unit wait unread (result 2, as always).
class TUCS4ToUnicodeConverter : public TStepShell<TUCS4ToUnicodeConverter> {
public:
    TUCS4ToUnicodeConverter() : TStepShell(kDecoder) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds);
    // U+FFFD, too, only with the terminator's room to spare.
    Written writeChosen(const uint16_t* units, uint32_t count, unsigned char* out,
                        uint32_t capacity, uint32_t* written) {
        if (FillsToEnd() ? capacity < 2 * count : capacity <= 2 * count) return Written::kNoRoom;
        for (uint32_t i = 0; i < count; ++i) storeUnit(out + 2 * i, units[i]);
        *written = 2 * count;
        return Written::kDone;
    }
    NLS_Status statusOfCut(uint32_t) const { return NLS_RESULT_TRUNCATED; }
};

// In the older calls four bytes of room always stay free for the
// terminator. A final odd byte waits unread (result 2, as always).
class TUnicodeToUCS4Converter : public TStepShell<TUnicodeToUCS4Converter, TVirtualConverterBase> {
public:
    TUnicodeToUCS4Converter() : TEncodingConverter(kEncoder), TStepShell(kEncoder) {}
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds);
    uint32_t terminatorWidth() const { return 4; }
    NLS_Status statusOfCut(uint32_t waitingBytes) const {
        return waitingBytes == 1 ? NLS_RESULT_TRUNCATED : NLS_SEQUENCE_INCOMPLETE;
    }

private:
    // Room for a value, and in the older calls more than the terminator's.
    bool valueFits(uint32_t room) const { return FillsToEnd() ? room >= 4 : room > 4; }
};

// A value past U+10FFFF is malformed; so is a surrogate, read strictly (the
// vector kernel passes surrogates on: the strict reading goes without it).
StepResult TUCS4ToUnicodeConverter::step(const unsigned char* source, uint32_t sourceLength,
                                         unsigned char* target, uint32_t targetCapacity, bool) {
    const uint32_t units = sourceLength / 4;
    const TextKernels& kernels = textKernels();
    const bool strict = fOptions.strictUnicode;
    uint32_t count = 0;
    uint32_t out = 0;
    uint32_t kernelFrom = 0;  // after a value past U+10FFFF, the kernel waits a block
    const uint32_t kept = KeptForTerminator();
    while (count < units) {
        const uint32_t spare = targetCapacity - out;
        if (kernels.narrowUcs4 != nullptr && !strict && count >= kernelFrom && spare > kept) {
            uint32_t produced = 0;
            count += kernels.narrowUcs4(source + 4 * count, units - count, target + out,
                                        spare - kept, &produced);
            out += produced;
            kernelFrom = count + 8;
            if (count == units) break;
        }
        uint32_t value = loadUnit32(source + 4 * count);
        const uint32_t room = targetCapacity - out;
        if (value > 0x10FFFF || (strict && isSurrogate(value)))
            return malformedAt(4 * count, out, 4);
        if (value <= 0xFFFF) {
            if (FillsToEnd() ? room < 2 : room <= 2) return outputFull(4 * count, out);
            storeUnit(target + out, static_cast<uint16_t>(value));
            out += 2;
        } else {
            if (room < 4 + kept) return outputFull(4 * count, out);
            value -= 0x10000;
            storeUnit(target + out, static_cast<uint16_t>(0xD800 + (value >> 10)));
            storeUnit(target + out + 2, static_cast<uint16_t>(0xDC00 + (value & 0x3FF)));
            out += 4;
        }
        ++count;
    }
    return 4 * count == sourceLength ? inputUsed(4 * count, out) : cutAtEnd(4 * count, out);
}

// A valid surrogate pair becomes one 32-bit unit; a lone surrogate is written
// as its own value (malformed, read strictly), but a high surrogate that ends
// the input waits for its pair.
StepResult TUnicodeToUCS4Converter::step(const unsigned char* source, uint32_t sourceLength,
                                         unsigned char* target, uint32_t targetCapacity, bool) {
    const uint32_t units = sourceLength / 2;
    uint32_t position = 0;
    uint32_t out = 0;
    const TextKernels& kernels = textKernels();
    uint32_t kernelFrom = 0;  // after a surrogate, the kernel waits a block
    const uint32_t kept = KeptForTerminator();
    while (position < units) {
        if (!valueFits(targetCapacity - out)) return outputFull(2 * position, out);
        if (kernels.widenToUcs4 != nullptr && position >= kernelFrom) {
            uint32_t produced = 0;
            const uint32_t run =
                kernels.widenToUcs4(source + 2 * position, units - position, target + out,
                                    targetCapacity - out - kept, &produced);
            position += run;
            out += produced;
            kernelFrom = position + 16;
            if (position == units) break;
            if (!valueFits(targetCapacity - out)) return outputFull(2 * position, out);
        }
        uint32_t value = loadUnit(source + 2 * position);
        uint32_t taken = 1;
        if (isHighSurrogate(value) && position + 1 == units) return cutAtEnd(2 * position, out);
        if (isHighSurrogate(value)) {
            const uint32_t low = loadUnit(source + 2 * position + 2);
            if (isLowSurrogate(low)) {
                value = ((value - 0xD800) << 10) + (low - 0xDC00) + 0x10000;
                taken = 2;
            }
        }
        if (taken == 1 && isSurrogate(value) && fOptions.strictUnicode)
            return malformedAt(2 * position, out, 2);
        storeUnit32(target + out, value);
        out += 4;
        position += taken;
    }
    return 2 * position == sourceLength ? inputUsed(2 * position, out)
                                        : cutAtEnd(2 * position, out);
}

}  // namespace

TEncodingConverter* NEWUCS4TOUNICODEENCODINGCONVERTER() {
    return newStepConverter<TUCS4ToUnicodeConverter>();
}

TEncodingConverter* NEWUNICODETOUCS4ENCODINGCONVERTER() {
    return newStepConverter<TUnicodeToUCS4Converter>();
}
