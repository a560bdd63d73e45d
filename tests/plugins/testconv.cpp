// A converter library built apart from the main library, as a client would
// build one: it derives from the exported TEncodingConverter and exports its
// factories by name. "X-TEST-UPPER" upper-cases ASCII on its way to UCS-2;
// "X-TEST-CODEPAGE" runs the library's table engine over this module's own
// mapping tables and resource map. Loads and unloads are logged to the file
// named by VELTA_TEST_PLUGIN_LOG.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "velta/table_module.h"
#include "velta/velta.h"

#if defined(_WIN32)
#define TESTCONV_EXPORT extern "C" __declspec(dllexport)
#else
#define TESTCONV_EXPORT extern "C" __attribute__((visibility("default")))
extern const NLS_ResourceDirectory gTestResources;
#endif

namespace {

void logEvent(const char* event) {
    const char* path = getenv("VELTA_TEST_PLUGIN_LOG");
    if (path == nullptr || *path == '\0') return;
    if (FILE* file = fopen(path, "a")) {
        fprintf(file, "%s\n", event);
        fclose(file);
    }
}

__attribute__((constructor)) void onLoad() {
    logEvent("load");
}
__attribute__((destructor)) void onUnload() {
    logEvent("unload");
}

class UpperToUnicode : public TEncodingConverter {
public:
    UpperToUnicode()
        : TEncodingConverter("X-TEST-UPPER", NLS_UCS2_NAME, nullptr, nullptr, nullptr, 0, 2,
                             nullptr, nullptr, 0) {}
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override {
        uint32_t count = 0;
        while (count < sourceLength && targetCapacity - 2 * count >= 4) {
            unsigned char c = source[count];
            if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 0x20);
            const uint16_t unit = c;
            memcpy(target + 2 * count, &unit, 2);
            ++count;
        }
        if (targetCapacity - 2 * count >= 2) memset(target + 2 * count, 0, 2);
        *targetLength = 2 * count;
        *sourceConsumed = count;
        return count == sourceLength ? NLS_SUCCESS : NLS_RESULT_TRUNCATED;
    }
};

// The module whose resources hold the tables.
void* tableModule() {
    return NLS_LIBRARY_TABLE_MODULE(gTestResources);
}

resourceMapTable gResourceMap[] = {
    {10, {"TESTCP.UF", 0, nullptr, nullptr}, {"TESTCP.UT", 0, nullptr, nullptr}},
    {0, {nullptr, 0, nullptr, nullptr}, {nullptr, 0, nullptr, nullptr}},
};
const UnicodeTableSet kTableSet = {10,
                                   {{10, 0x00, 0xFF}, {0, 0xFF, 0}, {0, 0xFF, 0}, {0, 0xFF, 0}}};

}  // namespace

TESTCONV_EXPORT TEncodingConverter* NEWTESTUPPERTOUNICODE() {
    return new (std::nothrow) UpperToUnicode();
}

TESTCONV_EXPORT TEncodingConverter* NEWTESTCODEPAGETOUNICODE() {
    return new (std::nothrow)
        TEncodingConverter("X-TEST-CODEPAGE", NLS_UCS2_NAME, &kTableSet, nullptr, nullptr, 10, 2,
                           gResourceMap, tableModule(), 0);
}

TESTCONV_EXPORT TEncodingConverter* NEWUNICODETOTESTCODEPAGE() {
    return new (std::nothrow)
        TEncodingConverter(NLS_UCS2_NAME, "X-TEST-CODEPAGE", &kTableSet, nullptr, nullptr, 10, 1,
                           gResourceMap, tableModule(), 1);
}

TESTCONV_EXPORT int32_t TestPluginTableReferences() {
    return gResourceMap[0].toUCS2.refCount + gResourceMap[0].fromUCS2.refCount;
}
