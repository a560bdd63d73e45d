#include <gtest/gtest.h>

#include "test_support.h"
#include "velta/internals.h"

namespace {

using namespace velta_test;

struct DetectorDeleter {
    void operator()(TAutoDetector* detector) const { detector->ReleaseEncodingDetector(); }
};

class Utf8Detector : public ::testing::Test {
protected:
    void feed(const char* hex) {
        const Bytes buffer = hexBytes(hex);
        EXPECT_EQ(
            detector->DetectEncoding(buffer.data(), static_cast<uint32_t>(buffer.size()), &record),
            NLS_SUCCESS);
    }
    std::unique_ptr<TAutoDetector, DetectorDeleter> detector{NEWUTF8ENCODINGDETECTOR()};
    NLS_DetectedEncoding record = {nullptr, 0, 0, 0};
};

TEST_F(Utf8Detector, AccumulatesOverBuffers) {
    feed("61 62 63");
    EXPECT_EQ(record.score, 0u);
    EXPECT_EQ(record.invalid, 0u);
    feed("C3 A9 C3 A9");
    EXPECT_EQ(record.score, 2u);
    EXPECT_EQ(record.invalid, 0u);
    EXPECT_EQ(record.encodingName, nullptr) << "the name is not written";
}

TEST_F(Utf8Detector, CutAndBrokenSequencesCountAsInvalidOncePerBuffer) {
    feed("E2 82");
    EXPECT_EQ(record.score, 0u);
    EXPECT_EQ(record.invalid, 1u);
    feed("80 41");
    EXPECT_EQ(record.invalid, 2u);
    feed("80 80 80");
    EXPECT_EQ(record.invalid, 3u);
    feed("");
    EXPECT_EQ(record.invalid, 3u);
}

TEST_F(Utf8Detector, NamesItself) {
    char name[8] = "xxxxxxx";
    EXPECT_EQ(detector->GetEncodingName(name), name);
    EXPECT_STREQ(name, "UTF_8");
}

class DetectorThroughTheRegistry : public LibraryTest {};

TEST_F(DetectorThroughTheRegistry, ARegistryFileCanGiveUtf8TheBuiltInDetector) {
    TemporaryDirectory dir;
    dir.writeDataFile("encreg.txt",
                      "UTF-8 ISO-10646-UCS-2 @@staticconvertersINTERNAL@@ "
                      "NewUTF8ToUnicodeEncodingConverter NewUTF8EncodingDetector\n");
    NLS_EncInitialize(nullptr, dir.path().c_str());
    TEncodingRegistry* registry = EncodingConverter::getEncodingRegistry();
    TAutoDetector* detector = registry->CreateEncodingDetector("utf_8");
    ASSERT_NE(detector, nullptr);
    NLS_DetectedEncoding record = {nullptr, 0, 0, 0};
    detector->DetectEncoding(reinterpret_cast<const unsigned char*>("\xC3\xA9"), 2, &record);
    EXPECT_EQ(record.score, 1u);
    detector->ReleaseEncodingDetector();
    EXPECT_EQ(registry->CreateEncodingDetector("latin1"), nullptr);
}

// A record that names the detector factory as a converter factory (or a
// converter factory as a detector) must not make the library call a factory
// as the wrong type: the factory is simply not found.
TEST_F(DetectorThroughTheRegistry, FactoriesAreNeverCalledAsTheWrongType) {
    TemporaryDirectory dir;
    dir.writeDataFile("encreg.txt",
                      "x-detector-as-converter ISO-10646-UCS-2 @@staticconvertersINTERNAL@@ "
                      "NewUTF8EncodingDetector #\n"
                      "x-converter-as-detector ISO-10646-UCS-2 @@staticconvertersINTERNAL@@ "
                      "NewUTF8ToUnicodeEncodingConverter NewUTF8ToUnicodeEncodingConverter\n");
    NLS_EncInitialize(nullptr, dir.path().c_str());
    EncodingConverter* object = nullptr;
    EXPECT_EQ(NLS_NewEncodingConverter("x-detector-as-converter", "ISO-10646-UCS-2", &object),
              NLS_CONVERTER_NOT_FOUND);
    EXPECT_EQ(object, nullptr);
    TEncodingRegistry* registry = EncodingConverter::getEncodingRegistry();
    EXPECT_EQ(registry->CreateEncodingDetector("x-converter-as-detector"), nullptr);
    EXPECT_EQ(registry->GetStatus(), NLS_ENTRY_POINT_NOT_FOUND);
}

}  // namespace
