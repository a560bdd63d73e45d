#include <gtest/gtest.h>

#include <random>

#include "converter_calls.h"
#ifdef VELTA_HAVE_ICU
#include <unicode/ucnv.h>
#endif

namespace {

using namespace velta_test;

struct TextCase {
    std::u16string text;
    const char* utf7;
};

// RFC 2152's examples and the forms around "+", "-" and the end of a run.
const TextCase kEncodings[] = {
    {u"Hi Mom -\u263A-!", "Hi Mom -+Jjo--!"},
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
    {u"", ""},
};

TEST(Utf7, EncodesAndDecodesTheReferenceForms) {
    for (const TextCase& c : kEncodings) {
        const Conversion encoded = convertOneShot("ISO-10646-UCS-2", "UTF-7", ucs2(c.text));
        EXPECT_EQ(encoded.status, NLS_SUCCESS);
        EXPECT_EQ(std::string(encoded.output.begin(), encoded.output.end()), c.utf7);
        const Conversion decoded =
            convertOneShot("UNICODE-1-1-UTF-7", "ISO-10646-UCS-2", bytes(c.utf7));
        EXPECT_EQ(decoded.status, NLS_SUCCESS) << c.utf7;
        EXPECT_EQ(fromUcs2(decoded.output), c.text) << c.utf7;
    }
    NLS_EncTerminate();
}

struct DecodeCase {
    const char* utf7;
    std::u16string text;
    NLS_Status status;
};

TEST(Utf7, DecoderReportsInvalidInputAndGoesOn) {
    const DecodeCase cases[] = {
        {"+ZeVnLIqe-", u"\u65E5\u672C\u8A9E", NLS_SUCCESS},
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
        {"\b", u"\b", NLS_SUCCESS},
    };
    for (const DecodeCase& c : cases) {
        const Conversion decoded = convertOneShot("UTF-7", "ISO-10646-UCS-2", bytes(c.utf7));
        EXPECT_EQ(decoded.status, c.status) << c.utf7;
        EXPECT_EQ(fromUcs2(decoded.output), c.text) << c.utf7;
    }
    NLS_EncTerminate();
}

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

std::u16string randomUtf7Text(std::mt19937& random, size_t length, bool validOnly) {
    static const char16_t kSpecial[] = u"+&-~\\!.\t\r\n\b\x01\x7F aZ09/,=";
    std::u16string text;
    for (size_t i = 0; i < length; ++i) {
        switch (random() % 6) {
            case 0:
            case 1:
                text += kSpecial[random() % (sizeof kSpecial / 2 - 1)];
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
                if (validOnly)
                    text += char16_t(0xE000 + random() % 0x1000);
                else
                    text += char16_t(0xD800 + random() % 0x800);
                break;
        }
    }
    return text;
}

TEST(Utf7, ResumesExactlyWhenTheOutputFillsInsideARun) {
    std::mt19937 random(2152);
    ConverterPtr encoder(NEWUNICODETOUTF7ENCODINGCONVERTER());
    ConverterPtr decoder(NEWUTF7TOUNICODEENCODINGCONVERTER());
    for (int round = 0; round < 60; ++round) {
        const Bytes text = ucs2(randomUtf7Text(random, 1 + random() % 40, false));
        const CallResult whole = callConvert(encoder.get(), text, 4096);
        ASSERT_EQ(whole.status, NLS_SUCCESS);
        const CallResult units = callConvert(decoder.get(), whole.output, 4096);
        ASSERT_EQ(units.output, text);
        for (uint32_t capacity = 1; capacity <= 24; ++capacity) {
            const CallResult steps = convertInSteps(encoder.get(), text, capacity);
            EXPECT_TRUE(steps.guardIntact);
            EXPECT_EQ(steps.output, whole.output) << "capacity " << capacity;
            encoder->Reset();
            if (capacity >= 2) {
                const CallResult back = convertInSteps(decoder.get(), whole.output, capacity);
                EXPECT_EQ(back.output, text) << "capacity " << capacity;
                decoder->Reset();
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

TEST(Utf7Differential, IcuReadsWhatWeWriteAndWeReadWhatIcuWrites) {
    std::mt19937 random(1642);
    for (int round = 0; round < 300; ++round) {
        const std::u16string text = randomUtf7Text(random, random() % 60, true);
        const Conversion ours = convertOneShot("ISO-10646-UCS-2", "UTF-7", ucs2(text));
        EXPECT_EQ(icuDecode("UTF-7", ours.output), text);
        const Conversion theirs =
            convertOneShot("UTF-7", "ISO-10646-UCS-2", icuEncode("UTF-7", text));
        EXPECT_EQ(theirs.status, NLS_SUCCESS);
        EXPECT_EQ(fromUcs2(theirs.output), text);
    }
    NLS_EncTerminate();
}
#endif

}  // namespace
