// Hostile names and arguments through the flat functions: nothing crashes,
// nothing is written past a buffer, long and odd names are refused cleanly.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "velta/velta.h"

namespace {

using namespace velta_test;

class HostileArguments : public LibraryTest {};

TEST_F(HostileArguments, NamesOfEveryLengthAndByte) {
    const std::string names[] = {std::string(63, 'a'),
                                 std::string(64, 'a'),
                                 std::string(10000, 'a'),
                                 "\x80\x81\xFF",
                                 std::string(70, '\xFF'),
                                 "",
                                 "*",
                                 "**"};
    for (const std::string& name : names) {
        EncodingConverter* object = nullptr;
        EXPECT_NE(NLS_NewEncodingConverter(name.c_str(), "UTF-8", &object), NLS_SUCCESS);
        EXPECT_EQ(object, nullptr);
        const char* normalized = NLS_GetNormalizedEncodingName(name.c_str());
        ASSERT_NE(normalized, nullptr);
        EXPECT_LT(strlen(normalized), 64u);
        EXPECT_EQ(NLS_GetEncodingNameFromJava(name.c_str()), nullptr);
        EXPECT_EQ(NLS_GetJavaEncodingName(name.c_str()), nullptr);
        EncondingConverterList* list = nullptr;
        ASSERT_EQ(NLS_NewEncodingConverterEnumeration(name.c_str(), "UTF-8", &list), NLS_SUCCESS);
        NLS_DeleteEncodingConverterEnumeration(list);
    }
}

TEST_F(HostileArguments, UnknownNamesGrowTheAliasTableByOneEachAndOnlyOnce) {
    NLS_GetNormalizedEncodingName("warm up");
    TEncodingRegistry* registry = EncodingConverter::getEncodingRegistry();
    const uint32_t before = registry->AliasCount();
    for (int i = 0; i < 1000; ++i)
        NLS_EncodingConverterExists(("x-unknown-" + std::to_string(i)).c_str(), "UTF-8");
    EXPECT_EQ(registry->AliasCount(), before + 1000);
    for (int i = 0; i < 1000; ++i)
        NLS_EncodingConverterExists(("X-UNKNOWN-" + std::to_string(i)).c_str(), "UTF-8");
    EXPECT_EQ(registry->AliasCount(), before + 1000);
    for (int i = 0; i < 100; ++i)
        NLS_EncodingConverterExists(std::string(64 + i, 'z').c_str(), "UTF-8");
    EXPECT_EQ(registry->AliasCount(), before + 1000) << "names too long for a field are not stored";
}

TEST_F(HostileArguments, NullBuffersWithLengthsAreRefused) {
    EncodingConverter* object = nullptr;
    ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", "latin1", &object), NLS_SUCCESS);
    unsigned char out[16];
    uint32_t written = 7;
    EXPECT_EQ(NLS_ConvertStreamBuffer(object, nullptr, 100, out, 16, &written),
              NLS_INVALID_PARAMETER);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(NLS_ConvertStreamBuffer(object, out, 4, nullptr, 100, &written),
              NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_ConvertStreamBuffer(object, out, 4, out, 16, nullptr), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_ConvertStreamBuffer(object, nullptr, 0, out, 16, &written), NLS_SUCCESS);
    EXPECT_EQ(NLS_GetConversionOverflowSize(object, nullptr), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_ConverterGetOverflow(object, out, 16, nullptr), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_GetEncodingConverterListItem(nullptr, 0, nullptr, nullptr),
              NLS_INVALID_PARAMETER);
    NLS_DeleteEncodingConverter(object);
    NLS_DetectedEncoding record;
    uint32_t count = 0;
    EXPECT_EQ(NLS_DetectEncodingForBuffer(nullptr, 10, &record, 1, &count), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_DetectEncodingForBuffer(out, 10, nullptr, 1, &count), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_DetectEncodingForBuffer(nullptr, 0, &record, 1, &count), NLS_NOT_DETECTED);
}

TEST_F(HostileArguments, ZeroAndTinyOutputsNeverOverrun) {
    const Bytes input = hexBytes("41 C3 A9 E2 82 AC F0 9F 98 80 2B 26 5C");
    for (const char* to : {"ISO-10646-UCS-2", "UTF-7", "IMAP-UTF-7", "ESCAPED_UNICODE",
                           "ISO-10646-UCS-4", "latin1", "x-mac-roman", "UTF-8"}) {
        for (uint32_t capacity = 0; capacity < 12; ++capacity) {
            EncodingConverter* object = nullptr;
            ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", to, &object), NLS_SUCCESS);
            GuardedBuffer buffer(capacity);
            uint32_t written = 0;
            NLS_ConvertStreamBuffer(object, input.data(), static_cast<uint32_t>(input.size()),
                                    capacity ? buffer.data() : nullptr, capacity, &written);
            EXPECT_LE(written, capacity);
            EXPECT_TRUE(buffer.guardIntact()) << to << " " << capacity;
            NLS_DeleteEncodingConverter(object);
        }
    }
}

TEST_F(HostileArguments, HugeLengthsSaturate) {
    EXPECT_EQ(NLS_GetResultBufferSize(nullptr, UINT32_MAX, "UTF-8", "ESCAPED_UNICODE"), UINT32_MAX);
    EXPECT_EQ(
        NLS_GetResultBufferSize(nullptr, UINT32_MAX / 2, "ISO-10646-UCS-2", "ISO-10646-UCS-4"),
        UINT32_MAX);
}

}  // namespace
