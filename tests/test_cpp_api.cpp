// The C++ layer is a thin shell over the flat functions: what it adds. Built
// twice, as C++17 and as C++20, so that every overload is tried in both.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "sample_texts.h"
#include "test_support.h"
#include "velta/velta.hpp"
#if VELTA_TEST_LARGE_INPUT
#include <sys/mman.h>
#endif

namespace {

class CppApi : public velta_test::LibraryTest {};

TEST_F(CppApi, ConvertsStreamsAndTellsWhereItStopped) {
    EXPECT_EQ(velta::convert("UTF-8", "latin1", "caf\xC3\xA9").output, "caf\xE9");
    velta::Result stopped = velta::convert("UTF-8", "US-ASCII", "ab\xC3\xA9", velta::Policy::stop);
    EXPECT_FALSE(stopped);
    EXPECT_EQ(stopped.status, velta::Status::unmappable);
    EXPECT_EQ(stopped.status, NLS_UNMAPPABLE);
    EXPECT_EQ(stopped.offset, 2u);
    EXPECT_EQ(stopped.output, "ab");
    EXPECT_STREQ(stopped.message.c_str(), velta::message(velta::Status::unmappable));
    EXPECT_STREQ(velta::message(velta::Status::unmappable), NLS_GetStatusMessage(NLS_UNMAPPABLE));
    EXPECT_THROW(velta::convert_or_throw("UTF-8", "US-ASCII", "\xC3\xA9"), velta::Error);
    EXPECT_FALSE(velta::Converter("UTF-8", "x-nowhere"));
    EXPECT_EQ(velta::convert("UTF-8", "x-nowhere", "a").status, velta::Status::converter_not_found);
    EXPECT_EQ(velta::convert("UTF-8", "UTF-8", "a\xC0\x80", velta::Policy::stop).offset, 1u);
    velta::Converter lenient("UTF-8", "UTF-16BE");
    EXPECT_EQ(lenient.set_strict_unicode(false), velta::Status::success);
    std::string nul;
    EXPECT_EQ(lenient.feed("\xC0\x80", true, nul), velta::Status::success);
    EXPECT_EQ(nul, std::string(2, '\0'));

    velta::Converter converter(std::string("UTF-8"), std::string_view("UTF-16BE"));
    std::string joined;
    const std::string text = "\xE6\x97\xA5\xF0\x9F\x98\x80";
    for (char byte : text) converter.feed(std::string(1, byte), false, joined);
    EXPECT_EQ(
        converter.feed({}, true,
                       [&joined](const char* bytes, size_t size) { joined.append(bytes, size); }),
        NLS_SUCCESS);
    EXPECT_EQ(velta_test::hex(velta_test::bytes(joined)), "65 E5 D8 3D DE 00");
    velta::Converter moved = std::move(converter);
    EXPECT_TRUE(moved);
    EXPECT_FALSE(converter);
}

// Every kind of input a caller may hold gives the same conversion.
TEST_F(CppApi, TakesEveryKindOfInput) {
    const std::string utf8 = "caf\xC3\xA9";
    std::vector<velta::Bytes> inputs = {"caf\xC3\xA9", utf8, std::string_view(utf8),
                                        velta::Bytes(utf8.data(), utf8.size())};
#if defined(__cpp_char8_t)
    const std::u8string u8 = u8"caf\u00E9";
    inputs.push_back(u8"caf\u00E9");
    inputs.push_back(u8);
    inputs.push_back(std::u8string_view(u8));
#endif
#if defined(__cpp_lib_span)
    const std::vector<std::byte> raw(reinterpret_cast<const std::byte*>(utf8.data()),
                                     reinterpret_cast<const std::byte*>(utf8.data()) + utf8.size());
    inputs.push_back(raw);
    inputs.push_back(std::span<const std::byte>(raw));
    inputs.push_back(std::as_bytes(std::span<const char, 5>(utf8.data(), 5)));
#endif
    for (size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(velta::convert("UTF-8", "latin1", inputs[i]).output, "caf\xE9") << i;
        std::string streamed;
        velta::Converter converter("UTF-8", "latin1");
        EXPECT_EQ(converter.feed(inputs[i], true, streamed), velta::Status::success) << i;
        EXPECT_EQ(streamed, "caf\xE9") << i;
    }
}

// UTF-16 and UTF-32 results in code units, a caller's buffer, an output
// iterator: the same text, and the same stop.
TEST_F(CppApi, GivesResultsInEveryForm) {
    const char* text = "a\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, euro sign, U+1F600
    EXPECT_EQ(velta::to_u16string("UTF-8", text).output, std::u16string(u"a\u20AC\U0001F600"));
    EXPECT_EQ(velta::to_u32string("UTF-8", text).output, std::u32string(U"a\u20AC\U0001F600"));
    EXPECT_EQ(velta::to_u16string("UTF-8", "a\xFF", velta::Policy::stop).status,
              velta::Status::invalid_input);

    char buffer[16];
    velta::BufferResult fitted = velta::convert_into("UTF-8", "UTF-16BE", text, buffer, 8);
    EXPECT_TRUE(fitted) << fitted.message;
    EXPECT_EQ(velta_test::hex(velta_test::bytes(std::string(buffer, fitted.size))),
              "00 61 20 AC D8 3D DE 00");
    velta::BufferResult full = velta::convert_into("UTF-8", "UTF-16BE", text, buffer, 7);
    EXPECT_EQ(full.status, velta::Status::output_full);
    EXPECT_EQ(full.size, 7u);
    EXPECT_EQ(std::string(buffer, 7), std::string("\0a\x20\xAC\xD8\x3D\xDE", 7));

    std::vector<char> copied;
    EXPECT_TRUE(velta::convert_copy("UTF-8", "latin1", "caf\xC3\xA9", std::back_inserter(copied)));
    EXPECT_EQ(std::string(copied.begin(), copied.end()), "caf\xE9");
    char* const end = velta::convert_copy("UTF-8", "latin1", "caf\xC3\xA9", buffer).out;
    EXPECT_EQ(std::string(buffer, end), "caf\xE9");
    const auto stopped =
        velta::convert_copy("UTF-8", "US-ASCII", "ab\xC3\xA9", buffer, velta::Policy::stop);
    EXPECT_EQ(stopped.status, velta::Status::unmappable);
    EXPECT_EQ(stopped.out - buffer, 2);
}

// A stream converted in pieces equals the whole text converted at once,
// whatever the pieces cut; a stop says where.
TEST_F(CppApi, ConvertsAStreamIntoAStream) {
    std::string text;
    for (int i = 0; text.size() < 300000; ++i)
        text += i % 7 ? "plain " : "caf\xC3\xA9 \xE6\x97\xA5\xF0\x9F\x98\x80\n";
    std::istringstream in(text);
    std::ostringstream out;
    const velta::Outcome converted = velta::convert("UTF-8", "UTF-7", in, out);
    EXPECT_TRUE(converted) << converted.message;
    EXPECT_TRUE(out.str() == velta::convert("UTF-8", "UTF-7", text).output);

    std::istringstream broken(text + "\xFF" + text);
    std::ostringstream partial;
    const velta::Outcome stopped =
        velta::convert("UTF-8", "UTF-16LE", broken, partial, velta::Policy::stop);
    EXPECT_EQ(stopped.status, velta::Status::invalid_input);
    EXPECT_EQ(stopped.offset, text.size());
    EXPECT_TRUE(partial.str() == velta::convert("UTF-8", "UTF-16LE", text).output);

    std::istringstream again(text);
    std::ostringstream refusing;
    refusing.setstate(std::ios::badbit);
    EXPECT_EQ(velta::convert("UTF-8", "latin1", again, refusing).status,
              velta::Status::output_full);
}

TEST_F(CppApi, NamesListsAndDetects) {
    EXPECT_EQ(velta::normalize("cp1252"), std::optional<std::string>("windows-1252"));
    EXPECT_EQ(velta::normalize(std::string("UTF8")), std::optional<std::string>("UTF-8"));
    EXPECT_EQ(velta::normalize("x-no-such-encoding"), std::nullopt);
    bool found = false;
    for (const velta::Encoding& encoding : velta::list())
        if (encoding.name == "windows-1252") found = !encoding.aliases.empty();
    EXPECT_TRUE(found);
    EXPECT_EQ(velta::detect("caf\xC3\xA9 \xE6\x97\xA5"), "UTF-8");
    EXPECT_EQ(velta::detect(""), "");
    EXPECT_STREQ(velta::version(), VELTA_VERSION_STRING);
}

// velta::detect once called an older detector than velta --detect: GB18030,
// EUC-KR, windows-1252 and UTF-16LE text came back as EUC-JP, Big5 as "".
TEST_F(CppApi, DetectNamesWhatTheToolNames) {
    using namespace velta_test;
    const struct {
        const char* encoding;
        const char* text;
    } cases[] = {
        {"GB18030", kChineseText},     {"Big5", kTraditionalChineseText}, {"EUC-KR", kKoreanText},
        {"windows-1252", kGermanText}, {"UTF-16LE", kJapaneseText},       {"EUC-JP", kJapaneseText},
        {"Shift_JIS", kJapaneseText},  {"ISO-2022-JP", kJapaneseText},    {"UTF-8", kKoreanText},
    };
    for (const auto& c : cases) {
        const std::string encoded = velta::convert("UTF-8", c.encoding, c.text).output;
        NLS_EncodingGuess guess = {nullptr, 0};
        uint32_t count = 0;
        ASSERT_EQ(NLS_GuessEncodings(reinterpret_cast<const unsigned char*>(encoded.data()),
                                     static_cast<uint32_t>(encoded.size()), &guess, 1, &count),
                  NLS_SUCCESS)
            << c.encoding;
        EXPECT_EQ(velta::detect(encoded), guess.encodingName) << c.encoding;
    }
}

// Converter::feed once cut a piece's length to 32 bits: 4 GiB + 8 bytes came
// out as 8. A lazily mapped input (pages of zeros that take no memory) into
// a sink that only counts; the native optimised build only, as it takes a few
// seconds there.
TEST_F(CppApi, FeedsPiecesPastFourGibibytes) {
#if VELTA_TEST_LARGE_INPUT
    const size_t size = (size_t{4} << 30) + 8;
    void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED) GTEST_SKIP() << "no room to map 4 GiB";
    char* input = static_cast<char*>(mapping);
    memcpy(input + size - 8, "the end.", 8);
    velta::Converter converter("latin1", "UTF-8");
    uint64_t count = 0;
    std::string tail;
    const velta::Status status =
        converter.feed(velta::Bytes(input, size), true, [&](const char* bytes, size_t length) {
            count += length;
            tail.append(bytes, length);
            if (tail.size() > 8) tail.erase(0, tail.size() - 8);
        });
    munmap(mapping, size);
    EXPECT_EQ(status, velta::Status::success);
    EXPECT_EQ(count, size);
    EXPECT_EQ(tail, "the end.");
#else
    GTEST_SKIP() << "only in the native optimised build";
#endif
}

}  // namespace
