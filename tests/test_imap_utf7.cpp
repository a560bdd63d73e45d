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
    const char* imap;
};

// RFC 3501's example and the forms around "&", "-" and the end of a run.
const TextCase kEncodings[] = {
    {u"~peter/mail/\u53F0\u5317/\u65E5\u672C\u8A9E", "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
    {u"&", "&-"},
    {u"a&b", "a&-b"},
    {u"\u00E9", "&AOk-"},
    {u"\u00E9a", "&AOk-a"},
    {u"\u00E9&", "&AOk-&-"},
    {u"\u00E9&\u00E9", "&AOk-&-&AOk-"},
    {u"~\\+-,", "~\\+-,"},
    {u"\u0001\u007F", "&AAEAfw-"},
    {u"\U0001F600", "&2D3eAA-"},
    {u"", ""},
};

TEST(ImapUtf7, EncodesAndDecodesTheReferenceForms) {
    for (const TextCase& c : kEncodings) {
        const Conversion encoded =
            convertOneShot("ISO-10646-UCS-2", "IMAP-MODIFIED-UTF-7", ucs2(c.text));
        EXPECT_EQ(encoded.status, NLS_SUCCESS);
        EXPECT_EQ(std::string(encoded.output.begin(), encoded.output.end()), c.imap);
        const Conversion decoded = convertOneShot("IMAP-UTF-7", "ISO-10646-UCS-2", bytes(c.imap));
        EXPECT_EQ(decoded.status, NLS_SUCCESS) << c.imap;
        EXPECT_EQ(fromUcs2(decoded.output), c.text) << c.imap;
    }
    NLS_EncTerminate();
}

TEST(ImapUtf7, DecoderCases) {
    struct {
        const char* imap;
        std::u16string text;
        NLS_Status status;
    } cases[] = {
        {"&-&-", u"&&", NLS_SUCCESS},           {"&", u"", NLS_INVALID_INPUT},
        {"&.", u".", NLS_INVALID_INPUT},        {"&AOk", u"\u00E9", NLS_SUCCESS},
        {"&AOk&-", u"\u00E9-", NLS_SUCCESS},    {"&AOl-", u"\u00E9", NLS_INVALID_INPUT},
        {"\xE9", u"\u00E9", NLS_INVALID_INPUT},
    };
    for (const auto& c : cases) {
        const Conversion decoded = convertOneShot("IMAP_UTF_7", "ISO-10646-UCS-2", bytes(c.imap));
        EXPECT_EQ(decoded.status, c.status) << c.imap;
        EXPECT_EQ(fromUcs2(decoded.output), c.text) << c.imap;
    }
    NLS_EncTerminate();
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
    const CallResult open = callConvert(decoder.get(), bytes("&AOk"), 64);
    EXPECT_EQ(open.status, NLS_SUCCESS);
    const CallResult next = callConvert(decoder.get(), bytes("AOk-"), 64);
    EXPECT_EQ(fromUcs2(next.output), u"AOk-") << "the next call starts outside a run";
}

std::u16string randomMailboxName(std::mt19937& random, size_t length, bool validOnly) {
    static const char16_t kSpecial[] = u"&-+,~\\/.\x01\x7F aZ09";
    std::u16string text;
    for (size_t i = 0; i < length; ++i) {
        switch (random() % 5) {
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
            default:
                if (validOnly) {
                    text += char16_t(0xD800 + random() % 0x400);
                    text += char16_t(0xDC00 + random() % 0x400);
                } else {
                    text += char16_t(0xD800 + random() % 0x800);
                }
                break;
        }
    }
    return text;
}

TEST(ImapUtf7, ResumesExactlyWhenTheOutputFillsInsideARun) {
    std::mt19937 random(3501);
    ConverterPtr encoder(NEWUNICODETOMODIFIEDUTF7ENCODINGCONVERTER());
    ConverterPtr decoder(NEWMODIFIEDUTF7TOUNICODEENCODINGCONVERTER());
    for (int round = 0; round < 60; ++round) {
        const Bytes text = ucs2(randomMailboxName(random, 1 + random() % 40, false));
        const CallResult whole = callConvert(encoder.get(), text, 4096);
        ASSERT_EQ(whole.status, NLS_SUCCESS);
        ASSERT_EQ(callConvert(decoder.get(), whole.output, 4096).output, text);
        for (uint32_t capacity = 4; capacity <= 24; ++capacity) {
            const CallResult steps = convertInSteps(encoder.get(), text, capacity);
            EXPECT_TRUE(steps.guardIntact);
            EXPECT_EQ(steps.output, whole.output) << "capacity " << capacity;
            encoder->Reset();
            const CallResult back = convertInSteps(decoder.get(), whole.output, capacity);
            EXPECT_EQ(back.output, text) << "capacity " << capacity;
            decoder->Reset();
        }
    }
}

#ifdef VELTA_HAVE_ICU
TEST(ImapUtf7Differential, IcuReadsWhatWeWriteAndWeReadWhatIcuWrites) {
    std::mt19937 random(3501);
    UErrorCode error = U_ZERO_ERROR;
    UConverter* icu = ucnv_open("IMAP-mailbox-name", &error);
    ASSERT_TRUE(U_SUCCESS(error));
    for (int round = 0; round < 300; ++round) {
        const std::u16string text = randomMailboxName(random, random() % 50, true);
        const Conversion ours =
            convertOneShot("ISO-10646-UCS-2", "IMAP-MODIFIED-UTF-7", ucs2(text));
        std::u16string decoded(ours.output.size() + 4, u'\0');
        error = U_ZERO_ERROR;
        int32_t length = ucnv_toUChars(icu, reinterpret_cast<UChar*>(&decoded[0]),
                                       static_cast<int32_t>(decoded.size()),
                                       reinterpret_cast<const char*>(ours.output.data()),
                                       static_cast<int32_t>(ours.output.size()), &error);
        ASSERT_TRUE(U_SUCCESS(error)) << u_errorName(error);
        decoded.resize(length);
        EXPECT_EQ(decoded, text);
        std::string theirs(text.size() * 8 + 8, '\0');
        error = U_ZERO_ERROR;
        length = ucnv_fromUChars(icu, &theirs[0], static_cast<int32_t>(theirs.size()),
                                 reinterpret_cast<const UChar*>(text.data()),
                                 static_cast<int32_t>(text.size()), &error);
        ASSERT_TRUE(U_SUCCESS(error));
        theirs.resize(length);
        EXPECT_EQ(std::string(ours.output.begin(), ours.output.end()), theirs)
            << "the same canonical form";
        const Conversion back =
            convertOneShot("IMAP-MODIFIED-UTF-7", "ISO-10646-UCS-2", bytes(theirs));
        EXPECT_EQ(fromUcs2(back.output), text);
    }
    ucnv_close(icu);
    NLS_EncTerminate();
}
#endif

}  // namespace
