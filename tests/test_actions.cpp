// The actions for a character the target lacks, each in the target's own
// bytes: stand-ins, escapes and a caller's substitute, and what a
// transliteration without a stand-in falls back to.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using namespace velta_test;

class Actions : public LibraryTest {};

struct Row {
    int32_t action;
    int32_t fallback;
    const char* utf8;  // the input
    NLS_Status status;
    const char* expected;  // the output, read back as UTF-8
    uint32_t substituted;
};

TEST_F(Actions, EveryActionWritesItsFormInTheTargetsBytes) {
    const Row rows[] = {
        {NLS_ACTION_ESCAPE_XML_DECIMAL, 0, "A\xE2\x82\xAC\xF0\x9F\x98\x80Z", NLS_SUCCESS,
         "A&#8364;&#128512;Z", 2},
        {NLS_ACTION_ESCAPE_XML_HEX, 0, "A\xE2\x82\xAC\xF0\x9F\x98\x80Z", NLS_SUCCESS,
         "A&#x20AC;&#x1F600;Z", 2},
        {NLS_ACTION_ESCAPE_UNICODE, 0, "A\xE2\x82\xAC\xF0\x9F\x98\x80Z", NLS_SUCCESS,
         "A\\u20AC\\uD83D\\uDE00Z", 2},
        {NLS_ACTION_SUBSTITUTE, 0, "A\xE2\x82\xAC\xF0\x9F\x98\x80Z", NLS_SUCCESS, "A**Z", 2},
        {NLS_ACTION_TRANSLITERATE, NLS_ACTION_REPLACE, "A\xE2\x82\xAC\xF0\x9F\x98\x80Z",
         NLS_SUCCESS, "AEUR?Z", 2},
        {NLS_ACTION_TRANSLITERATE, NLS_ACTION_SKIP, "A\xE2\x82\xAC\xF0\x9F\x98\x80Z", NLS_SUCCESS,
         "AEURZ", 2},
        {NLS_ACTION_TRANSLITERATE, NLS_ACTION_STOP, "A\xE2\x82\xAC\xF0\x9F\x98\x80Z",
         NLS_UNMAPPABLE, "AEUR", 1},
        // Malformed input keeps its own action.
        {NLS_ACTION_ESCAPE_XML_DECIMAL, 0, "A\xFF\xE2\x82\xACZ", NLS_SUCCESS, "A?&#8364;Z", 2},
    };
    for (const char* target : {"KOI8-R", "IBM880"}) {
        for (const Row& row : rows) {
            EncodingConverter* object = nullptr;
            ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", target, &object), NLS_SUCCESS) << target;
            ASSERT_EQ(NLS_SetConversionOption(object, NLS_OPTION_UNMAPPABLE_ACTION, row.action),
                      NLS_SUCCESS);
            ASSERT_EQ(
                NLS_SetConversionOption(object, NLS_OPTION_TRANSLITERATION_FALLBACK, row.fallback),
                NLS_SUCCESS);
            ASSERT_EQ(NLS_SetConversionOption(object, NLS_OPTION_SUBSTITUTE_CHARACTER, '*'),
                      NLS_SUCCESS);
            const Bytes input = bytes(row.utf8);
            unsigned char output[64];
            uint32_t read = 0, written = 0;
            const NLS_Status status =
                NLS_ConvertStream(object, input.data(), static_cast<uint32_t>(input.size()), output,
                                  sizeof output, 1, &read, &written);
            NLS_ConversionReport report;
            NLS_GetConversionReport(object, &report);
            NLS_DeleteEncodingConverter(object);
            const std::string where = std::string(target) + " " + row.expected;
            EXPECT_EQ(status, row.status) << where;
            const Conversion back =
                convertOneShot(target, "UTF-8", Bytes(output, output + written));
            EXPECT_EQ(std::string(back.output.begin(), back.output.end()), row.expected) << where;
            EXPECT_EQ(report.substituted, row.substituted) << where;
        }
    }
}

// Every encoding the shipped registry can write, by its records from UCS-2.
std::vector<std::string> shippedTargets() {
    std::ifstream file(std::string(VELTA_SOURCE_DIR) + "/data/conv30/encreg.txt");
    std::string line, text;
    while (std::getline(file, line))
        if (line.rfind("//", 0) != 0) text += line + "\n";
    std::istringstream fields(text);  // records of five fields, across lines
    std::vector<std::string> targets;
    std::string record[5];
    while (fields >> record[0] >> record[1] >> record[2] >> record[3] >> record[4])
        if (record[0] == NLS_UCS2_NAME) targets.push_back(record[1]);
    return targets;
}

// UCS-2 text into `target` with the unmappable action, read back as UCS-2.
struct Written {
    NLS_Status status;
    Bytes back;
};

Written writeAndReadBack(const std::string& target, const std::u16string& text, int32_t action) {
    EncodingConverter* object = nullptr;
    if (NLS_NewEncodingConverter(NLS_UCS2_NAME, target.c_str(), &object) != NLS_SUCCESS)
        return {NLS_INVALID_PARAMETER, {}};
    NLS_SetConversionOption(object, NLS_OPTION_UNMAPPABLE_ACTION, action);
    const Bytes input = ucs2(text);
    unsigned char output[256];
    uint32_t read = 0, written = 0;
    const NLS_Status status =
        NLS_ConvertStream(object, input.data(), static_cast<uint32_t>(input.size()), output,
                          sizeof output, 1, &read, &written);
    NLS_DeleteEncodingConverter(object);
    return {status,
            convertOneShot(target.c_str(), NLS_UCS2_NAME, Bytes(output, output + written)).output};
}

// Shift_JIS and EUC-JP wrote "?" whatever action the caller chose: their
// encoders did not take the options.
TEST_F(Actions, EveryTargetThatLacksACharacterWritesTheEscapeForIt) {
    const std::u16string lacked = u"a\u2C00\U0001F600z";
    const std::u16string escaped = u"a&#x2C00;&#x1F600;z";
    size_t checked = 0;
    for (const std::string& target : shippedTargets()) {
        const Written replaced = writeAndReadBack(target, lacked, NLS_ACTION_REPLACE);
        const Written plain = writeAndReadBack(target, escaped, NLS_ACTION_REPLACE);
        // Only targets that lack the characters and have the escape's own.
        if (replaced.back == ucs2(lacked) || plain.back != ucs2(escaped)) continue;
        const Written result = writeAndReadBack(target, lacked, NLS_ACTION_ESCAPE_XML_HEX);
        EXPECT_EQ(result.status, NLS_SUCCESS) << target;
        EXPECT_EQ(hex(result.back), hex(ucs2(escaped))) << target;
        ++checked;
    }
    EXPECT_GT(checked, 150u);  // the loop reached the shipped sets
}

TEST_F(Actions, UnknownOptionsAndValuesAreRefused) {
    EncodingConverter* object = nullptr;
    ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", "KOI8-R", &object), NLS_SUCCESS);
    const int32_t refused[][2] = {{NLS_OPTION_MALFORMED_ACTION, NLS_ACTION_TRANSLITERATE},
                                  {NLS_OPTION_UNMAPPABLE_ACTION, NLS_ACTION_SUBSTITUTE + 1},
                                  {NLS_OPTION_TRANSLITERATION_FALLBACK, NLS_ACTION_ESCAPE_UNICODE},
                                  {NLS_OPTION_SUBSTITUTE_CHARACTER, 0xD800},
                                  {NLS_OPTION_SUBSTITUTE_CHARACTER, 0x110000},
                                  {0, 0}};
    for (const auto& option : refused)
        EXPECT_EQ(NLS_SetConversionOption(object, option[0], option[1]), NLS_INVALID_PARAMETER)
            << option[0] << " " << option[1];
    NLS_DeleteEncodingConverter(object);
}

}  // namespace
