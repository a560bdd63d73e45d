// The UTF-8 detector object: adds the UTF-8 findings of each buffer it is fed
// to the caller's record.
#include <string.h>

#include <new>

#include "detect/detection.h"
#include "velta/converter.h"
#include "velta/detector.h"

void TAutoDetector::ReleaseEncodingDetector() {
    delete this;
}
TAutoDetector::~TAutoDetector() = default;

namespace {

class TUTF8Detector : public TAutoDetector {
public:
    ~TUTF8Detector() override = default;

    char* GetEncodingName(char* name) override {
        if (name != nullptr) memcpy(name, "UTF_8", 6);
        return name;
    }

    // Unlike the buffer scan, a sequence cut by the end of the buffer counts
    // as invalid: the object keeps nothing between buffers.
    NLS_Status DetectEncoding(const unsigned char* buffer, uint32_t length,
                              NLS_DetectedEncoding* record) override {
        if (record == nullptr || buffer == nullptr || length == 0) return NLS_SUCCESS;
        const velta::Utf8Walk walk = velta::walkUtf8(buffer, length);
        record->score += walk.complete;
        if (walk.invalid || walk.cutAtEnd) record->invalid += 1;
        return NLS_SUCCESS;
    }
};

}  // namespace

TAutoDetector* NEWUTF8ENCODINGDETECTOR() {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) TUTF8Detector();
}
