// The single-byte encodings (the WHATWG Encoding Standard's, and the IBM and
// ISO ones iconv users expect beside them) to and from UCS-2: ASCII in bytes
// 0x00-0x7F, 128 characters from a table in bytes 0x80-0xFF. A byte without a
// character is malformed: U+FFFD. A character without a byte, a surrogate
// pair counted as one, becomes "?". No state is kept between calls.
#include <string.h>

#include <atomic>
#include <new>

#include "codecs/codec_converter.h"
#include "codecs/library_codecs.h"
#include "codecs/single_byte_tables.h"
#include "codecs/transliteration.h"
#include "converters/units.h"
#include "kernels/text_kernels.h"

namespace velta {

namespace {

const char kUcs2Name[] = NLS_UCS2_NAME;
const uint32_t kMaxTables = 64;

// Unit to byte, one table per encoding, built when first needed and kept for
// the process; 0 where a unit above U+007F has no byte.
const uint8_t* bytesOfUnits(uint32_t index) {
    static std::atomic<const uint8_t*> built[kMaxTables];
    const uint8_t* bytes = built[index].load(std::memory_order_acquire);
    if (bytes != nullptr) return bytes;
    uint8_t* fresh = new (std::nothrow) uint8_t[0x10000]();
    if (fresh == nullptr) return nullptr;
    for (uint32_t b = 0xFF; b >= 0x80; --b) {
        const uint16_t unit = kSingleByteTables[index].upperHalf[b - 0x80];
        if (unit != 0xFFFD && unit >= 0x80) fresh[unit] = static_cast<uint8_t>(b);
    }
    const uint8_t* expected = nullptr;
    if (!built[index].compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) {
        delete[] fresh;  // another thread built it first
        return expected;
    }
    return fresh;
}

class TSingleByteToUnicodeConverter : public TCodecConverter<TSingleByteToUnicodeConverter> {
public:
    explicit TSingleByteToUnicodeConverter(const SingleByteTable& table)
        : TCodecConverter({table.name, kUcs2Name, 0, 2, 0}), fUpperHalf(table.upperHalf) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    NLS_Status Step(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                    const unsigned char* source, uint32_t sourceLength, uint32_t* sourceConsumed);

private:
    const uint16_t* fUpperHalf;
};

class TUnicodeToSingleByteConverter : public TCodecConverter<TUnicodeToSingleByteConverter> {
public:
    TUnicodeToSingleByteConverter(const SingleByteTable& table, const uint8_t* bytes)
        : TCodecConverter({kUcs2Name, table.name, 0, 1, 1}), fBytes(bytes) {}
    NLS_Status Step(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                    const unsigned char* source, uint32_t sourceLength, uint32_t* sourceConsumed);

private:
    NLS_Status encodeUnmappable(uint16_t unit, uint32_t taken, uint32_t offset,
                                unsigned char* target, uint32_t room, uint32_t* out);

    const uint8_t* fBytes;
};

NLS_Status TSingleByteToUnicodeConverter::Step(unsigned char* target, uint32_t* targetLength,
                                               uint32_t targetCapacity, const unsigned char* source,
                                               uint32_t sourceLength, uint32_t* sourceConsumed) {
    uint32_t in = 0;
    uint32_t out = 0;
    NLS_Status status = NLS_SUCCESS;
    while (in < sourceLength) {
        const uint32_t run = textKernels().widenAscii(source + in, sourceLength - in, target + out,
                                                      targetCapacity - out);
        in += run;
        out += 2 * run;
        if (in == sourceLength) break;
        if (targetCapacity - out < 2) {
            status = NLS_OUTPUT_FULL;
            break;
        }
        const unsigned char b = source[in];
        const uint16_t unit = b < 0x80 ? b : fUpperHalf[b - 0x80];
        if (unit == 0xFFFD) {
            const int32_t policy = Substitute(NLS_MALFORMED_INPUT, in);
            if (policy == NLS_POLICY_STOP) {
                status = NLS_INVALID_INPUT;
                break;
            }
            if (policy == NLS_POLICY_SKIP) {
                ++in;
                continue;
            }
        }
        storeUnit(target + out, unit);
        out += 2;
        ++in;
    }
    *targetLength = out;
    *sourceConsumed = in;
    if (!appendUnitTerminator(target, out, targetCapacity)) return NLS_RESULT_TRUNCATED;
    return status;
}

// A unit (or pair: taken 2) without a byte, by the policy: its substitute
// (transliterated under NLS_POLICY_TRANSLITERATE, else "?"), nothing, or a stop.
NLS_Status TUnicodeToSingleByteConverter::encodeUnmappable(uint16_t unit, uint32_t taken,
                                                           uint32_t offset, unsigned char* target,
                                                           uint32_t capacity, uint32_t* out) {
    const char* substitute = substituteFor(Policy(), taken == 1 ? unit : 0xFFFD);
    const uint32_t length = static_cast<uint32_t>(strlen(substitute));
    if (WritesSubstitute() && capacity - *out < length) return NLS_OUTPUT_FULL;
    const int32_t policy = SubstituteUnmappable(taken == 1 ? unit : 0, offset);
    if (policy == NLS_POLICY_STOP) return NLS_UNMAPPABLE;
    if (policy != NLS_POLICY_SKIP) {
        memcpy(target + *out, substitute, length);
        *out += length;
    }
    return NLS_SUCCESS;
}

// A high surrogate that ends the input waits for its pair (-1304).
NLS_Status TUnicodeToSingleByteConverter::Step(unsigned char* target, uint32_t* targetLength,
                                               uint32_t targetCapacity, const unsigned char* source,
                                               uint32_t sourceLength, uint32_t* sourceConsumed) {
    const uint32_t units = sourceLength / 2;
    uint32_t position = 0;
    uint32_t out = 0;
    NLS_Status status = NLS_SUCCESS;
    while (position < units) {
        const uint32_t run = textKernels().narrowAscii(source + 2 * position, units - position,
                                                       target + out, targetCapacity - out);
        position += run;
        out += run;
        if (position == units) break;
        if (out == targetCapacity) {
            status = NLS_OUTPUT_FULL;
            break;
        }
        const uint16_t unit = loadUnit(source + 2 * position);
        if (unit < 0x80) {
            target[out++] = static_cast<unsigned char>(unit);
            ++position;
            continue;
        }
        uint32_t taken = 1;
        if (isHighSurrogate(unit)) {
            if (position + 1 == units) {
                status = NLS_SEQUENCE_INCOMPLETE;
                break;
            }
            if (isLowSurrogate(loadUnit(source + 2 * position + 2))) taken = 2;
        }
        const uint8_t byte = fBytes[unit];
        if (byte == 0) {
            status = encodeUnmappable(unit, taken, 2 * position, target, targetCapacity, &out);
            if (status != NLS_SUCCESS) break;
        } else {
            target[out++] = byte;
        }
        position += taken;
    }
    if (status == NLS_SUCCESS && 2 * position != sourceLength) status = NLS_SEQUENCE_INCOMPLETE;
    *targetLength = out;
    *sourceConsumed = 2 * position;
    if (!appendByteTerminator(target, out, targetCapacity)) return NLS_RESULT_TRUNCATED;
    return status;
}

}  // namespace

TEncodingConverter* newSingleByteDecoder(uint32_t index) {
    if (index >= kSingleByteTableCount) return nullptr;
    return newCodecConverter<TSingleByteToUnicodeConverter>(kSingleByteTables[index]);
}

TEncodingConverter* newSingleByteEncoder(uint32_t index) {
    if (index >= kSingleByteTableCount || index >= kMaxTables) return nullptr;
    const uint8_t* bytes = bytesOfUnits(index);
    if (bytes == nullptr) return nullptr;
    return newCodecConverter<TUnicodeToSingleByteConverter>(kSingleByteTables[index], bytes);
}

}  // namespace velta
