// Many threads at once: first use without NLS_EncInitialize, conversion
// objects for every pair, enumeration and a client table registered meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "test_support.h"
#include "velta/velta.h"

namespace {

using namespace velta_test;

const char* const kNames[] = {"latin1", "x-mac-roman", "ISO-10646-UCS-4", "ESCAPED_UNICODE",
                              "utf-8",  "UTF-7",       "IMAP-UTF-7",      "ISO-10646-UCS-2"};

TEncodingConverter* clientFactory() {
    return NEWUTF8TOUNICODEENCODINGCONVERTER();
}

TEST(Threads, FirstUseFromManyThreadsBuildsOneRegistryAndConvertsEverywhere) {
    NLS_EncTerminate();
    const int kThreads = 8;
    std::atomic<int> failures{0};
    std::vector<const void*> registries(kThreads);
    static NLS_StaticConverterEntry table[] = {
        {"x-thread-client", NLS_UCS2_NAME, "NewThreadClient", NLS_AsEntryPoint(&clientFactory)},
        {nullptr, nullptr, nullptr, nullptr}};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            registries[t] = NLS_GetNormalizedEncodingName("latin1");
            if (t == 0) NLS_RegisterStaticLibrary(table);
            for (const char* from : kNames) {
                for (const char* to : kNames) {
                    EncodingConverter* object = nullptr;
                    if (NLS_NewEncodingConverter(from, to, &object) != NLS_SUCCESS) continue;
                    unsigned char input[] = "Hello\n";
                    unsigned char output[256];
                    uint32_t written = 0;
                    if (NLS_ConvertStreamBuffer(object, input, 6, output, sizeof output, &written) <
                        0)
                        ++failures;
                    NLS_DeleteEncodingConverter(object);
                }
            }
            EncondingConverterList* list = nullptr;
            NLS_NewEncodingConverterEnumeration("*", "*", &list);
            uint32_t count = 0;
            NLS_CountEncodingConverters(list, &count);
            if (count < 14) ++failures;
            NLS_DeleteEncodingConverterEnumeration(list);
            NLS_GetNormalizedEncodingName(t % 2 ? "x-thread-unknown" : "X-THREAD-UNKNOWN");
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(std::set<const void*>(registries.begin(), registries.end()).size(), 1u)
        << "every thread got its name from the one registry";
    EXPECT_EQ(NLS_EncodingConverterExists("x-thread-client", "UTF-8"), 1);
    NLS_EncTerminate();
}

}  // namespace
