#include "api/exact_convert.h"

#include "velta/encoding_converter.h"

namespace velta {

namespace {

// The most one call of the object takes and gives, well inside 32 bits.
const size_t kLargestPiece = size_t(1) << 30;

uint32_t pieceOf(size_t length) {
    return static_cast<uint32_t>(length < kLargestPiece ? length : kLargestPiece);
}

}  // namespace

ExactResult convertExact(EncodingConverter* object, const unsigned char* src, size_t srcLength,
                         unsigned char* dst, size_t dstCapacity, bool last) {
    ExactResult result = {NLS_SUCCESS, 0, 0};
    if (object == nullptr || (src == nullptr && srcLength != 0) ||
        (dst == nullptr && dstCapacity != 0)) {
        result.status = NLS_INVALID_PARAMETER;
        return result;
    }
    try {
        for (;;) {
            const size_t inputLeft = srcLength - result.read;
            const size_t outputLeft = dstCapacity - result.written;
            const uint32_t input = pieceOf(inputLeft);
            const uint32_t output = pieceOf(outputLeft);
            uint32_t read = 0;
            uint32_t written = 0;
            result.status =
                object->streamExact(input != 0 ? src + result.read : nullptr, input,
                                    output != 0 ? dst + result.written : nullptr, output,
                                    last && input == inputLeft, &read, &written);
            result.read += read;
            result.written += written;
            if (result.status < 0) return result;
            if (result.status == NLS_RESULT_TRUNCATED && output == outputLeft) return result;
            if (result.status == NLS_SUCCESS && input == inputLeft) return result;
        }
    } catch (...) {
        result.status = NLS_OUT_OF_MEMORY;
        return result;
    }
}

}  // namespace velta
