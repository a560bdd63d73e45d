// Calling one converter's Convert directly, with a guarded output buffer.
#ifndef VELTA_TESTS_CONVERTER_CALLS_H
#define VELTA_TESTS_CONVERTER_CALLS_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "test_support.h"
#include "velta/velta.h"

namespace velta_test {

struct ConverterDeleter {
    void operator()(TEncodingConverter* converter) const {
        if (converter) converter->ReleaseEncodingConverter();
    }
};
typedef std::unique_ptr<TEncodingConverter, ConverterDeleter> ConverterPtr;

struct CallResult {
    NLS_Status status = 0;
    uint32_t written = 0;
    uint32_t consumed = 0;
    Bytes output;  // the counted output
    Bytes buffer;  // the whole buffer up to its capacity
    bool guardIntact = true;
};

inline CallResult callConvert(TEncodingConverter* converter, const Bytes& input,
                              uint32_t capacity) {
    CallResult result;
    GuardedBuffer buffer(capacity);
    // The input is copied to a buffer of exactly its size, so that a read
    // past it is caught by the address sanitizer.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[input.size() ? input.size() : 1]);
    if (!input.empty()) memcpy(exact.get(), input.data(), input.size());
    result.status = converter->Convert(buffer.data(), &result.written, capacity, exact.get(),
                                       static_cast<uint32_t>(input.size()), &result.consumed);
    result.guardIntact = buffer.guardIntact();
    if (result.written <= capacity) result.output = buffer.prefix(result.written);
    result.buffer = buffer.prefix(capacity);
    return result;
}

// Calls Convert again and again with `capacity` bytes of output, going on
// from each consumed count with the converter's kept state, until the input
// is consumed and nothing is left to deliver. The output is concatenated.
inline CallResult convertInSteps(TEncodingConverter* converter, const Bytes& input,
                                 uint32_t capacity) {
    CallResult total;
    uint32_t position = 0;
    for (int calls = 0; calls < 100000; ++calls) {
        const CallResult step =
            callConvert(converter, Bytes(input.begin() + position, input.end()), capacity);
        total.guardIntact = total.guardIntact && step.guardIntact;
        total.output.insert(total.output.end(), step.output.begin(), step.output.end());
        position += step.consumed;
        total.status = step.status;
        const bool progressed = step.consumed != 0 || step.written != 0;
        if (position == input.size() && step.status != NLS_RESULT_TRUNCATED) break;
        if (!progressed && step.status != NLS_RESULT_TRUNCATED && step.status != NLS_OUTPUT_FULL &&
            step.status != NLS_SEQUENCE_INCOMPLETE)
            break;
        if (!progressed && calls > 8) break;  // the capacity is too small to go on
    }
    total.consumed = position;
    return total;
}

// One Convert call of a fresh converter and what it must give: the input
// (hex) and output capacity; the counted output (hex), the bytes consumed and
// the status. The guard after the output must stay intact.
struct CallCase {
    const char* input;
    uint32_t capacity;
    const char* output;
    uint32_t consumed;
    NLS_Status status;
};

template <size_t N>
void expectCalls(TEncodingConverter* (*factory)(), const CallCase (&cases)[N]) {
    for (const CallCase& c : cases) {
        ConverterPtr converter(factory());
        const CallResult result = callConvert(converter.get(), hexBytes(c.input), c.capacity);
        const std::string where =
            std::string("input ") + c.input + " capacity " + std::to_string(c.capacity);
        EXPECT_EQ(hex(result.output), c.output) << where;
        EXPECT_EQ(result.consumed, c.consumed) << where;
        EXPECT_EQ(result.status, c.status) << where;
        EXPECT_TRUE(result.guardIntact) << where;
    }
}

}  // namespace velta_test

#endif
