// Exact input positions: at every output size, the input a call read made
// exactly the output it wrote, direct and through chains, and going on from
// there gives the whole text; a stop leaves the position at the bad
// character.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "api/exact_convert.h"
#include "velta/nls.h"

namespace {

typedef std::vector<unsigned char> Bytes;

class ExactConvert : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(NLS_EncInitialize(nullptr, VELTA_DATA_DIR), NLS_SUCCESS); }
    void TearDown() override { NLS_EncTerminate(); }
};

struct Calls {
    velta::ExactResult first;
    Bytes output;  // of the first call, then of the calls that go on
};

// One call with `capacity` bytes of output, then calls with room to spare.
Calls convertFrom(const char* from, const char* to, const Bytes& input, size_t capacity,
                  int32_t policy = NLS_POLICY_REPLACE) {
    Calls run = {{NLS_SUCCESS, 0, 0}, {}};
    EncodingConverter* object = nullptr;
    EXPECT_EQ(NLS_NewEncodingConverter(from, to, &object), NLS_SUCCESS) << from << " " << to;
    if (object == nullptr) return run;
    NLS_SetConversionPolicy(object, policy);
    Bytes buffer(capacity + 64);
    run.first =
        velta::convertExact(object, input.data(), input.size(), buffer.data(), capacity, true);
    run.output.assign(buffer.begin(), buffer.begin() + run.first.written);
    size_t position = run.first.read;
    velta::ExactResult next = run.first;
    for (int calls = 0; next.status == NLS_RESULT_TRUNCATED && calls < 1000; ++calls) {
        buffer.assign(8 * input.size() + 64, 0);
        next = velta::convertExact(object, input.data() + position, input.size() - position,
                                   buffer.data(), buffer.size(), true);
        run.output.insert(run.output.end(), buffer.begin(), buffer.begin() + next.written);
        position += next.read;
    }
    NLS_DeleteEncodingConverter(object);
    return run;
}

TEST_F(ExactConvert, WhatWasReadMadeWhatWasWritten) {
    const char* text = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 +A- \xE6\x97\xA5 end";
    const Bytes input(text, text + strlen(text));
    const struct {
        const char* from;
        const char* to;
        bool stateless;  // its output for a prefix is a prefix of its output
    } pairs[] = {{"UTF-8", "UTF-16LE", true},    {"UTF-8", "windows-1252", true},
                 {"UTF-8", NLS_UCS2_NAME, true}, {"UTF-8", "ISO_8859-1:1987", true},
                 {"UTF-8", "UTF-7", false},      {"UTF-16LE", "UTF-8", true}};
    for (const auto& pair : pairs) {
        const bool fromUtf16 = std::string(pair.from) == "UTF-16LE";
        const Bytes source =
            fromUtf16 ? convertFrom("UTF-8", "UTF-16LE", input, 4096).output : input;
        const Bytes whole = convertFrom(pair.from, pair.to, source, 4096).output;
        for (size_t capacity = 0; capacity <= whole.size(); ++capacity) {
            const Calls run = convertFrom(pair.from, pair.to, source, capacity);
            const std::string where =
                std::string(pair.from) + " -> " + pair.to + " output " + std::to_string(capacity);
            EXPECT_LE(run.first.written, capacity) << where;
            EXPECT_EQ(run.output, whole) << where;
            if (run.first.status != NLS_RESULT_TRUNCATED || !pair.stateless) continue;
            const Bytes prefix(source.begin(), source.begin() + run.first.read);
            EXPECT_EQ(Bytes(run.output.begin(), run.output.begin() + run.first.written),
                      convertFrom(pair.from, pair.to, prefix, 4096).output)
                << where;
        }
    }
}

TEST_F(ExactConvert, AStopLeavesThePositionAtTheBadCharacter) {
    const char* text =
        "ab\xE2\x82\xAC"
        "cd\xFF";
    const Bytes input(text, text + strlen(text));
    for (const char* to : {"ISO_8859-1:1987", "UTF-16LE"}) {
        for (size_t capacity : {size_t(2), size_t(64)}) {
            const Calls run = convertFrom("UTF-8", to, input, capacity, NLS_POLICY_STOP);
            if (run.first.status == NLS_RESULT_TRUNCATED) continue;
            const bool latin1 = std::string(to) != "UTF-16LE";
            EXPECT_EQ(run.first.status, latin1 ? NLS_UNMAPPABLE : NLS_INVALID_INPUT) << to;
            EXPECT_EQ(run.first.read, latin1 ? 2u : 7u) << to;
        }
    }
    const Bytes cut = {'a', 0xE6, 0x97};
    const Calls run = convertFrom("UTF-8", "UTF-16LE", cut, 64, NLS_POLICY_STOP);
    EXPECT_EQ(run.first.status, NLS_SEQUENCE_INCOMPLETE);
    EXPECT_EQ(run.first.read, 1u);
}

}  // namespace
