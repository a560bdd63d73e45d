#include <gtest/gtest.h>
#ifdef VELTA_HAVE_ICONV
#include <iconv.h>
#endif

#include <string>
#include <vector>

#include "detect/detection.h"
#include "velta/nls.h"

namespace {

using namespace velta;
typedef std::vector<unsigned char> Bytes;

Bytes hexBytes(const char* text) {
    Bytes result;
    unsigned value;
    int used;
    while (sscanf(text, " %2x%n", &value, &used) == 1) {
        result.push_back(static_cast<unsigned char>(value));
        text += used;
    }
    return result;
}

struct Detected {
    NLS_Status status;
    std::string name;
    uint32_t score;
    uint32_t count;
};

Detected detect(const Bytes& buffer) {
    NLS_DetectedEncoding record = {"untouched", 77, 0, 0};
    uint32_t count = 99;
    const NLS_Status status = NLS_DetectEncodingForBuffer(
        buffer.data(), static_cast<uint32_t>(buffer.size()), &record, 1, &count);
    return {status, record.encodingName, record.score, count};
}

TEST(BufferDetection, KnownBuffers) {
    struct {
        const char* hex;
        NLS_Status status;
        const char* name;
        uint32_t score;
    } cases[] = {
        {"61 62 63", NLS_NOT_DETECTED, "untouched", 77},
        {"", NLS_NOT_DETECTED, "untouched", 77},
        {"C3 A9", NLS_SUCCESS, "UTF-8", 1},
        {"61 C3 A9 E3 81 82", NLS_SUCCESS, "UTF-8", 2},
        {"82 A0", NLS_SUCCESS, "Shift_JIS", 1},
        {"A4 A2", NLS_SUCCESS, "Shift_JIS", 1},
        {"A4 A2 F0 A1", NLS_SUCCESS, "Extended_UNIX_Code_Packed_Format_for_Japanese", 1},
        {"1B 24 42 30 21 1B 28 42", NLS_SUCCESS, "ISO-2022-JP", 1},
        {"61 1B 28 4A 61", NLS_SUCCESS, "ISO-2022-JP", 1},
        {"1B 24 28 44", NLS_SUCCESS, "ISO-2022-JP", 1},
        {"1B 24 28", NLS_NOT_DETECTED, "untouched", 77},
        {"C3 A9 1B 24 42", NLS_SUCCESS, "UTF-8", 1},
        {"C3", NLS_SUCCESS, "Shift_JIS", 1},
        {"80", NLS_NOT_DETECTED, "untouched", 77},
        {"FF FE", NLS_NOT_DETECTED, "untouched", 77},
    };
    for (const auto& c : cases) {
        const Detected result = detect(hexBytes(c.hex));
        EXPECT_EQ(result.status, c.status) << c.hex;
        EXPECT_EQ(result.name, c.name) << c.hex;
        EXPECT_EQ(result.score, c.score) << c.hex;
        EXPECT_EQ(result.count, c.status == NLS_SUCCESS ? 1u : 0u) << c.hex;
    }
}

TEST(BufferDetection, Ucs2IsAlwaysAnsweredWithLatin1) {
    NLS_DetectedEncoding record = {nullptr, 0, 0, 5};
    uint32_t count = 0;
    EXPECT_EQ(NLS_DetectEncodingForUCS2(nullptr, 0, &record, 1, &count), NLS_SUCCESS);
    EXPECT_STREQ(record.encodingName, "ISO_8859-1:1987");
    EXPECT_EQ(record.score, 1u);
    EXPECT_EQ(record.invalid, 0u);
    EXPECT_EQ(count, 1u);
}

TEST(BufferDetection, ScanCountsCompleteSequencesAndStopsAtTheFirstBadByte) {
    struct {
        const char* hex;
        uint32_t score;
        uint32_t invalid;
    } cases[] = {
        {"41", 0, 0},
        {"C3 A9 E2 82 AC F0 9F 98 80", 3, 0},
        {"E2 82", 0, 0},
        {"80 C3 A9", 0, 1},
        {"C3 A9 C3 41", 1, 1},
        {"F8 88 80 80 80", 0, 1},
        {"C0 80 ED A0 80", 2, 0},
        {"F5 80 80 80", 1, 0},
    };
    for (const auto& c : cases) {
        NLS_DetectedEncoding record = {nullptr, 9, 0, 9};
        const Bytes input = hexBytes(c.hex);
        ScanUTF8(input.data(), static_cast<uint32_t>(input.size()), &record);
        EXPECT_STREQ(record.encodingName, "UTF-8");
        EXPECT_EQ(record.score, c.score) << c.hex;
        EXPECT_EQ(record.invalid, c.invalid) << c.hex;
    }
}

TEST(BufferDetection, JapaneseChecks) {
    struct {
        const char* hex;
        int shiftJis;
        int eucJp;
    } cases[] = {
        {"", -1, -1},   {"41 42", -1, -1},    {"82 A0", 1, 0},  {"A4 A2", -1, -1},
        {"80", 0, -1},  {"8E A1", -1, -1},    {"8E 41", 1, 0},  {"F0 A1", 0, 1},
        {"82", -1, -1}, {"82 20", 0, 0},      {"E0 40", -1, 0}, {"8F A1 A1", -1, -1},
        {"FF", 0, 0},   {"A1 DF B0", -1, -1},
    };
    for (const auto& c : cases) {
        const Bytes input = hexBytes(c.hex);
        EXPECT_EQ(CheckShiftJIS(input.data(), static_cast<uint32_t>(input.size())), c.shiftJis)
            << c.hex;
        EXPECT_EQ(CheckEUCJP(input.data(), static_cast<uint32_t>(input.size())), c.eucJp) << c.hex;
    }
    const Bytes ambiguous = hexBytes("A4 A2");
    EXPECT_EQ(DetectJapanese(kShiftJisCode, ambiguous.data(), 2), kShiftJisCode);
    EXPECT_EQ(DetectJapanese(kEucJpCode, ambiguous.data(), 2), kEucJpCode);
    EXPECT_EQ(DetectJapanese(kShiftJisCode, ambiguous.data(), 0), kUndecided);
}

#ifdef VELTA_HAVE_ICONV
Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes iconvFromUtf8(const char* to, const std::string& text) {
    iconv_t cd = iconv_open(to, "UTF-8");
    EXPECT_NE(cd, (iconv_t)-1) << to;
    Bytes output(text.size() * 4 + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* out = reinterpret_cast<char*>(output.data());
    size_t outLeft = output.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &out, &outLeft), static_cast<size_t>(-1)) << to;
    EXPECT_NE(iconv(cd, nullptr, nullptr, &out, &outLeft), static_cast<size_t>(-1));
    iconv_close(cd);
    output.resize(output.size() - outLeft);
    return output;
}

// Written for this test: a short note in everyday Japanese, with kana, kanji
// and ASCII.
const char kJapaneseSample[] =
    u8"今日はいい天気ですね。 Velta 3.2 で文字コードを変換します。\n"
    u8"明日は雨かもしれません。東京駅で十時に会いましょう。\n";

TEST(BufferDetection, RealJapaneseText) {
    const std::string utf8 = kJapaneseSample;
    EXPECT_EQ(detect(bytesOf(utf8)).name, "UTF-8");
    EXPECT_EQ(detect(iconvFromUtf8("SHIFT_JIS", utf8)).name, "Shift_JIS");
    EXPECT_EQ(detect(iconvFromUtf8("EUC-JP", utf8)).name,
              "Extended_UNIX_Code_Packed_Format_for_Japanese");
    EXPECT_EQ(detect(iconvFromUtf8("ISO-2022-JP", utf8)).name, "ISO-2022-JP");
}

#endif

}  // namespace
