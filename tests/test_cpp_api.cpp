// The C++ layer is a thin shell over the flat functions: what it adds.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "velta/velta.hpp"

namespace {

class CppApi : public velta_test::LibraryTest {};

TEST_F(CppApi, ConvertsStreamsAndTellsWhereItStopped) {
    EXPECT_EQ(velta::convert("UTF-8", "latin1", "caf\xC3\xA9").output, "caf\xE9");
    velta::Result stopped = velta::convert("UTF-8", "US-ASCII", "ab\xC3\xA9", velta::Policy::stop);
    EXPECT_FALSE(stopped);
    EXPECT_EQ(stopped.status, NLS_UNMAPPABLE);
    EXPECT_EQ(stopped.offset, 2u);
    EXPECT_EQ(stopped.output, "ab");
    EXPECT_THROW(velta::convert_or_throw("UTF-8", "US-ASCII", "\xC3\xA9"), velta::Error);
    EXPECT_FALSE(velta::Converter("UTF-8", "x-nowhere"));
    EXPECT_EQ(velta::convert("UTF-8", "UTF-8", "a\xC0\x80", velta::Policy::stop).offset, 1u);
    velta::Converter lenient("UTF-8", "UTF-16BE");
    EXPECT_EQ(lenient.set_strict_unicode(false), NLS_SUCCESS);
    std::string nul;
    EXPECT_EQ(lenient.feed("\xC0\x80", true, nul), NLS_SUCCESS);
    EXPECT_EQ(nul, std::string(2, '\0'));

    velta::Converter converter("UTF-8", "UTF-16BE");
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

TEST_F(CppApi, NamesListsAndDetects) {
    EXPECT_EQ(velta::normalize("cp1252"), "windows-1252");
    bool found = false;
    for (const velta::Encoding& encoding : velta::list())
        if (encoding.name == "windows-1252") found = !encoding.aliases.empty();
    EXPECT_TRUE(found);
    EXPECT_EQ(velta::detect("caf\xC3\xA9 \xE6\x97\xA5"), "UTF-8");
    EXPECT_STREQ(velta::version(), VELTA_VERSION_STRING);
}

}  // namespace
