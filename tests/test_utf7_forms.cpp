// Both UTF-7 forms through one harness: the published examples and the forms
// around the shift byte, "-" and the end of a run; malformed input; an output
// that fills inside a run; and ICU as the oracle both ways.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>

#include "converter_calls.h"
#ifdef VELTA_HAVE_ICU
#include <unicode/ucnv.h>
#endif

namespace {

using namespace velta_test;

struct TextCase {
    std::u16string text;
    const char* encoded;
};

struct DecodeCase {
    const char* encoded;
    std::u16string text;
    NLS_Status status;
};

struct Form {
    const char* name;
    TEncodingConverter* (*decoder)();
    TEncodingConverter* (*encoder)();
    const char* icuName;
    const char16_t* special;  // characters that matter to the form, for random texts
    uint32_t leastCapacity;   // below it a shift with its spare byte cannot be written
    bool oneForm;             // every text has one encoded form, so ICU writes ours
    std::vector<TextCase> forms;
    std::vector<DecodeCase> decodings;
};

const Form kForms[] = {
    {"UNICODE-1-1-UTF-7",
     NEWUTF7TOUNICODEENCODINGCONVERTER,
     NEWUNICODETOUTF7ENCODINGCONVERTER,
     "UTF-7",
     u"+&-~\\!.\t\r\n\b\x01\x7F aZ09/,=",
     1,
     false,
     // RFC 2152's examples first.
     {{u"Hi Mom -\u263A-!", "Hi Mom -+Jjo--!"},
      {u"A\u2262\u0391.", "A+ImIDkQ."},
      {u"\u65E5\u672C\u8A9E", "+ZeVnLIqe"},
      {u"Item 3 is \u00A31.", "Item 3 is +AKM-1."},
      {u"+", "+-"},
      {u"a+b", "a+-b"},
      {u"~", "+AH4"},
      {u"\\", "+AFw"},
      {u"\u00E9a", "+AOk-a"},
      {u"\u00E9.", "+AOk."},
      {u"\u00E9-", "+AOk--"},
      {u"\u00E9 ", "+AOk "},
      {u"!\"#$%&*;<=>@[]^_`{|}", "!\"#$%&*;<=>@[]^_`{|}"},
      {u"\t\r\n", "\t\r\n"},
      {u"\b", "+AAg"},
      {u"\u0001\u007F", "+AAEAfw"},
      {u"\U0001F600", "+2D3eAA"},
      {u"", ""}},
     {{"+ZeVnLIqe-", u"\u65E5\u672C\u8A9E", NLS_SUCCESS},
      {"+", u"", NLS_INVALID_INPUT},
      {"+A-", u"", NLS_INVALID_INPUT},
      {"+AAA-", std::u16string(1, u'\0'), NLS_SUCCESS},
      {"+AAB-", std::u16string(1, u'\0'), NLS_INVALID_INPUT},
      {"\xE9", u"\u00E9", NLS_INVALID_INPUT},
      {"+AOk+x", u"\u00E9", NLS_INVALID_INPUT},
      {"+-+-", u"++", NLS_SUCCESS},
      {"a+Jjo", u"a\u263A", NLS_SUCCESS},
      {"+Jjo.+Jjo-", u"\u263A.\u263A", NLS_SUCCESS},
      {"+.x", u".x", NLS_INVALID_INPUT},
      {"~\\", u"~\\", NLS_SUCCESS},
      {"\b", u"\b", NLS_SUCCESS}}},
    {"IMAP-MODIFIED-UTF-7",
     NEWMODIFIEDUTF7TOUNICODEENCODINGCONVERTER,
     NEWUNICODETOMODIFIEDUTF7ENCODINGCONVERTER,
     "IMAP-mailbox-name",
     u"&-+,~\\/.\x01\x7F aZ09",
     4,
     true,
     // RFC 3501's example first.
     {{u"~peter/mail/\u53F0\u5317/\u65E5\u672C\u8A9E", "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
      {u"&", "&-"},
      {u"a&b", "a&-b"},
      {u"\u00E9", "&AOk-"},
      {u"\u00E9a", "&AOk-a"},
      {u"\u00E9&", "&AOk-&-"},
      {u"\u00E9&\u00E9", "&AOk-&-&AOk-"},
      {u"~\\+-,", "~\\+-,"},
      {u"\u0001\u007F", "&AAEAfw-"},
      {u"\U0001F600", "&2D3eAA-"},
      {u"", ""}},
     {{"&-&-", u"&&", NLS_SUCCESS},
      {"&", u"", NLS_INVALID_INPUT},
      {"&.", u".", NLS_INVALID_INPUT},
      {"&AOk", u"\u00E9", NLS_SUCCESS},
      {"&AOk&-", u"\u00E9-", NLS_SUCCESS},
      {"&AOl-", u"\u00E9", NLS_INVALID_INPUT},
      {"\xE9", u"\u00E9", NLS_INVALID_INPUT}}},
};

// Characters that matter to the form, ASCII, BMP letters, pairs, and (unless
// validOnly) lone surrogates.
std::u16string randomText(const Form& form, std::mt19937& random, size_t length, bool validOnly) {
    const size_t specials = std::char_traits<char16_t>::length(form.special);
    std::u16string text;
    for (size_t i = 0; i < length; ++i) {
        switch (random() % 6) {
            case 0:
            case 1:
                text += form.special[random() % specials];
                break;
            case 2:
                text += char16_t(0x20 + random() % 0x5F);
                break;
            case 3:
                text += char16_t(0xA0 + random() % 0x3000);
                break;
            case 4:
                text += char16_t(0xD800 + random() % 0x400);
                text += char16_t(0xDC00 + random() % 0x400);
                break;
            default:
                text += validOnly ? char16_t(0xE000 + random() % 0x1000)
                                  : char16_t(0xD800 + random() % 0x800);
                break;
        }
    }
    return text;
}

class Utf7Forms : public ::testing::TestWithParam<const Form*> {
protected:
    void TearDown() override { NLS_EncTerminate(); }
};

TEST_P(Utf7Forms, EncodeAndDecodeThePublishedForms) {
    const Form& form = *GetParam();
    for (const TextCase& c : form.forms) {
        const Conversion encoded = convertOneShot("ISO-10646-UCS-2", form.name, ucs2(c.text));
        EXPECT_EQ(encoded.status, NLS_SUCCESS);
        EXPECT_EQ(std::string(encoded.output.begin(), encoded.output.end()), c.encoded);
        const Conversion decoded = convertOneShot(form.name, "ISO-10646-UCS-2", bytes(c.encoded));
        EXPECT_EQ(decoded.status, NLS_SUCCESS) << c.encoded;
        EXPECT_EQ(fromUcs2(decoded.output), c.text) << c.encoded;
    }
}

TEST_P(Utf7Forms, MalformedInputIsReportedAndDecodingGoesOn) {
    const Form& form = *GetParam();
    for (const DecodeCase& c : form.decodings) {
        const Conversion decoded = convertOneShot(form.name, "ISO-10646-UCS-2", bytes(c.encoded));
        EXPECT_EQ(decoded.status, c.status) << c.encoded;
        EXPECT_EQ(fromUcs2(decoded.output), c.text) << c.encoded;
    }
}

TEST_P(Utf7Forms, ResumeExactlyWhenTheOutputFillsInsideARun) {
    const Form& form = *GetParam();
    std::mt19937 random(2152);
    ConverterPtr encoder(form.encoder());
    ConverterPtr decoder(form.decoder());
    for (int round = 0; round < 60; ++round) {
        const Bytes text = ucs2(randomText(form, random, 1 + random() % 40, false));
        const CallResult whole = callConvert(encoder.get(), text, 4096);
        ASSERT_EQ(whole.status, NLS_SUCCESS);
        ASSERT_EQ(callConvert(decoder.get(), whole.output, 4096).output, text);
        for (uint32_t capacity = form.leastCapacity; capacity <= 24; ++capacity) {
            const CallResult steps = convertInSteps(encoder.get(), text, capacity);
            EXPECT_TRUE(steps.guardIntact);
            EXPECT_EQ(steps.output, whole.output) << "capacity " << capacity;
            encoder->Reset();
            if (capacity < 2) continue;
            EXPECT_EQ(convertInSteps(decoder.get(), whole.output, capacity).output, text)
                << "capacity " << capacity;
            decoder->Reset();
        }
    }
}

// Texts long enough for the encoders' windows of classified units, of the
// pieces that meet at their edges: words, accented letters and emoji between
// spaces and line ends, runs longer than a window (some of hundreds of
// units), and the form's specials.
std::u16string piecedText(const Form& form, std::mt19937& random, size_t pieces) {
    static const std::u16string kPieces[] = {
        u"word",
        u" ",
        u"\n",
        u"-",
        u"\u00E9",
        u"\u00E9\u00FC",
        u"\U0001F600",
        u"\U0001F600\U0001F389\U0001F600",
        u"Z9/",
        u"\u65E5\u672C\u8A9E\u306E\u6587\u5B57\u65E5\u672C\u8A9E\u306E\u6587\u5B57\u65E5\u672C"
        u"\u8A9E\u306E\u6587\u5B57\u65E5\u672C\u8A9E\u306E\u6587\u5B57\u65E5\u672C\u8A9E\u306E"
        u"\u6587\u5B57\u65E5\u672C\u8A9E\u306E\u6587\u5B57"};
    const size_t specials = std::char_traits<char16_t>::length(form.special);
    std::u16string text;
    for (size_t i = 0; i < pieces; ++i) {
        const size_t pick = random() % (std::size(kPieces) + 3);
        if (pick < std::size(kPieces))
            text += kPieces[pick];
        else if (pick == std::size(kPieces))  // a run of hundreds of units
            for (int repeat = 0; repeat < 9; ++repeat) text += kPieces[std::size(kPieces) - 1];
        else
            text += form.special[random() % specials];
    }
    return text;
}

// Small outputs take the encoders unit by unit; a large one takes them a
// window at a time.
TEST_P(Utf7Forms, LongTextsEncodeAsInSmallOutputs) {
    const Form& form = *GetParam();
    std::mt19937 random(3501);
    ConverterPtr encoder(form.encoder());
    ConverterPtr decoder(form.decoder());
    for (int round = 0; round < 40; ++round) {
        const Bytes text = ucs2(piecedText(form, random, 10 + random() % 150));
        const CallResult whole =
            callConvert(encoder.get(), text, static_cast<uint32_t>(4 * text.size() + 8));
        ASSERT_EQ(whole.status, NLS_SUCCESS);
        EXPECT_TRUE(whole.guardIntact);
        EXPECT_EQ(convertInSteps(encoder.get(), text, 7).output, whole.output);
        encoder->Reset();
        EXPECT_EQ(
            callConvert(decoder.get(), whole.output, static_cast<uint32_t>(text.size() + 2)).output,
            text);
    }
}

// One text through a conversion object in pieces of `piece` bytes (all at
// once for 0), under a policy and a reading, up to the end or the first stop.
struct Streamed {
    Bytes output;
    NLS_Status status = NLS_SUCCESS;
    uint32_t read = 0;
    NLS_ConversionReport report{};
};

Streamed decodeStreamed(const char* name, const Bytes& input, size_t piece, int32_t policy,
                        int32_t strict) {
    Streamed result;
    EncodingConverter* object = nullptr;
    EXPECT_EQ(NLS_NewEncodingConverter(name, NLS_UCS2_NAME, &object), NLS_SUCCESS);
    NLS_SetConversionPolicy(object, policy);
    NLS_SetConversionOption(object, NLS_OPTION_STRICT_UNICODE, strict);
    const size_t step = piece == 0 ? input.size() : piece;
    for (size_t start = 0; result.status >= 0;) {
        const size_t length = std::min(step, input.size() - start);
        const bool last = start + length == input.size();
        unsigned char buffer[1024];
        uint32_t read = 0, written = 0;
        result.status =
            NLS_ConvertStream(object, input.data() + start, static_cast<uint32_t>(length), buffer,
                              sizeof buffer, last, &read, &written);
        result.output.insert(result.output.end(), buffer, buffer + written);
        start += read;
        result.read = static_cast<uint32_t>(start);
        if (last && result.status == NLS_SUCCESS) break;
    }
    NLS_GetConversionReport(object, &result.report);
    NLS_DeleteEncodingConverter(object);
    return result;
}

// Encoded text of whole runs among malformed ones: runs of one unit, of
// pairs and of lone surrogates, runs that leave bits or a whole digit over,
// that end in a byte above 0x7F or in the shift byte, and long runs.
Bytes randomEncoded(const Form& form, std::mt19937& random) {
    static const char* const kPieces[] = {"AOk",  "AOkA/A", "2D3eAA",
                                          "2D0",  "3gA",    "AEHcAABC",
                                          "AGEA", "AOl",    "ZeVnLIqeZeVnLIqeZeVnLIqe",
                                          "-",    " ",      "word",
                                          "\xE9", ".",      "\n"};
    std::string text;
    for (int i = 0, n = 1 + random() % 12; i < n; ++i) {
        // The form's specials start with its shift byte.
        if (random() % 3 == 0) text += static_cast<char>(form.special[0]);
        text += kPieces[random() % std::size(kPieces)];
    }
    return bytes(text);
}

// Runs that the input holds whole are read at once: the same text, status,
// stop and report as when each byte comes in a call of its own.
TEST_P(Utf7Forms, WholeRunsDecodeAsByteByByte) {
    const Form& form = *GetParam();
    std::mt19937 random(2060);
    for (int round = 0; round < 400; ++round) {
        const Bytes input = randomEncoded(form, random);
        const std::string where(input.begin(), input.end());
        for (int32_t policy : {NLS_POLICY_REPLACE, NLS_POLICY_SKIP, NLS_POLICY_STOP}) {
            for (int32_t strict : {0, 1}) {
                const Streamed whole = decodeStreamed(form.name, input, 0, policy, strict);
                const Streamed bytewise = decodeStreamed(form.name, input, 1, policy, strict);
                EXPECT_EQ(hex(whole.output), hex(bytewise.output)) << where;
                EXPECT_EQ(whole.status, bytewise.status) << where;
                EXPECT_EQ(whole.read, bytewise.read) << where;
                EXPECT_EQ(whole.report.substituted, bytewise.report.substituted) << where;
                EXPECT_EQ(whole.report.firstOffset, bytewise.report.firstOffset) << where;
            }
        }
    }
}

#ifdef VELTA_HAVE_ICU
std::u16string icuDecode(const char* name, const Bytes& input) {
    UErrorCode error = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &error);
    std::u16string text(input.size() * 2 + 4, u'\0');
    const int32_t length = ucnv_toUChars(
        converter, reinterpret_cast<UChar*>(&text[0]), static_cast<int32_t>(text.size()),
        reinterpret_cast<const char*>(input.data()), static_cast<int32_t>(input.size()), &error);
    ucnv_close(converter);
    EXPECT_TRUE(U_SUCCESS(error)) << u_errorName(error);
    text.resize(U_SUCCESS(error) ? length : 0);
    return text;
}

Bytes icuEncode(const char* name, const std::u16string& text) {
    UErrorCode error = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &error);
    std::string out(text.size() * 8 + 8, '\0');
    const int32_t length = ucnv_fromUChars(converter, &out[0], static_cast<int32_t>(out.size()),
                                           reinterpret_cast<const UChar*>(text.data()),
                                           static_cast<int32_t>(text.size()), &error);
    ucnv_close(converter);
    EXPECT_TRUE(U_SUCCESS(error)) << u_errorName(error);
    return Bytes(out.begin(), out.begin() + (U_SUCCESS(error) ? length : 0));
}

TEST_P(Utf7Forms, IcuReadsWhatWeWriteAndWeReadWhatIcuWrites) {
    const Form& form = *GetParam();
    std::mt19937 random(1642);
    for (int round = 0; round < 300; ++round) {
        const std::u16string text = randomText(form, random, random() % 120, true);
        const Conversion ours = convertOneShot("ISO-10646-UCS-2", form.name, ucs2(text));
        EXPECT_EQ(icuDecode(form.icuName, ours.output), text);
        const Bytes theirs = icuEncode(form.icuName, text);
        if (form.oneForm) {
            EXPECT_EQ(ours.output, theirs);
        }
        const Conversion back = convertOneShot(form.name, "ISO-10646-UCS-2", theirs);
        EXPECT_EQ(back.status, NLS_SUCCESS);
        EXPECT_EQ(fromUcs2(back.output), text);
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(BothForms, Utf7Forms, ::testing::Values(&kForms[0], &kForms[1]),
                         [](const ::testing::TestParamInfo<const Form*>& param) {
                             return std::string(param.index == 0 ? "Utf7" : "ImapUtf7");
                         });

TEST(Utf7, ACallWhoseTerminatorDoesNotFitReturns2) {
    ConverterPtr decoder(NEWUTF7TOUNICODEENCODINGCONVERTER());
    ConverterPtr encoder(NEWUNICODETOUTF7ENCODINGCONVERTER());
    const CallResult decoded = callConvert(decoder.get(), bytes("ab"), 4);
    EXPECT_EQ(decoded.status, NLS_RESULT_TRUNCATED);
    EXPECT_EQ(decoded.consumed, 2u);
    const CallResult encoded = callConvert(encoder.get(), ucs2(u"ab"), 2);
    EXPECT_EQ(encoded.status, NLS_RESULT_TRUNCATED);
    EXPECT_EQ(encoded.consumed, 4u);
}

// Read strictly, a lone surrogate becomes U+FFFD, while the older calls
// write each byte outside the set as it is: after the one, the others are
// still their own.
TEST(Utf7, StrictOlderCallsWriteMalformedBytesAsTheyAreAfterAReplacedSurrogate) {
    EncodingConverter* object = nullptr;
    ASSERT_EQ(NLS_NewEncodingConverter("UTF-7", NLS_UCS2_NAME, &object), NLS_SUCCESS);
    ASSERT_EQ(NLS_SetConversionOption(object, NLS_OPTION_STRICT_UNICODE, 1), NLS_SUCCESS);
    const Bytes input = bytes("+2AA-\xE9\xE8");
    unsigned char out[64];
    uint32_t written = 0;
    NLS_ConvertStreamBuffer(object, input.data(), static_cast<uint32_t>(input.size()), out,
                            sizeof out, &written);
    NLS_DeleteEncodingConverter(object);
    EXPECT_EQ(fromUcs2(Bytes(out, out + written)), u"\uFFFD\u00E9\u00E8");
}

TEST(ImapUtf7, AnAmpersandWithoutItsSpareByteIsRefused) {
    ConverterPtr encoder(NEWUNICODETOMODIFIEDUTF7ENCODINGCONVERTER());
    const CallResult result = callConvert(encoder.get(), ucs2(u"&"), 2);
    EXPECT_EQ(result.written, 0u);
    EXPECT_EQ(result.buffer[0], 0);
    EXPECT_EQ(result.status, NLS_OUTPUT_FULL);
}

TEST(ImapUtf7, TheEndOfTheInputEndsARun) {
    ConverterPtr decoder(NEWMODIFIEDUTF7TOUNICODEENCODINGCONVERTER());
    EXPECT_EQ(callConvert(decoder.get(), bytes("&AOk"), 64).status, NLS_SUCCESS);
    const CallResult next = callConvert(decoder.get(), bytes("AOk-"), 64);
    EXPECT_EQ(fromUcs2(next.output), u"AOk-") << "the next call starts outside a run";
}

}  // namespace
