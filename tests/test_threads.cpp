// Many threads at once: first use without NLS_EncInitialize, conversion
// objects for every pair, enumeration and a client table registered meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "velta/internals.h"

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

// Japanese converters made and deleted by several threads at once: the
// index of a table is built at its first load and freed at its last release
// while other threads look characters up in the tables they hold.
TEST(Threads, TableIndexesComeAndGoWhileOthersConvert) {
    NLS_EncTerminate();
    TemporaryDirectory dir;
    dir.installShippedData();
    ASSERT_EQ(NLS_EncInitialize(nullptr, dir.path().c_str()), NLS_SUCCESS);
    const std::string text = u8"日本語の文章、カタカナ ｶﾅ ABC。\n";
    const Bytes utf8(text.begin(), text.end());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const char* encoding = t % 2 ? "Shift_JIS" : "EUC-JP";
            for (int round = 0; round < 30; ++round) {
                const Conversion encoded = convertOneShot("UTF-8", encoding, utf8);
                const Conversion decoded = convertOneShot(encoding, "UTF-8", encoded.output);
                if (encoded.status != NLS_SUCCESS || decoded.output != utf8) ++failures;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    NLS_EncTerminate();
}

// A lock record replaced by NLS_EncInitialize while other threads are inside
// it stays alive, and each thread unlocks the record it locked.
struct CountedLock {
    std::mutex mutex;
    std::atomic<int> held{0};
};

TEST(Threads, ReinitializingWithLockRecordsWhileOthersWork) {
    NLS_EncTerminate();
    static CountedLock locks[4];
    auto lock = [](void* context) {
        CountedLock* counted = static_cast<CountedLock*>(context);
        counted->mutex.lock();
        ++counted->held;
    };
    auto unlock = [](void* context) {
        CountedLock* counted = static_cast<CountedLock*>(context);
        --counted->held;
        counted->mutex.unlock();
    };
    MutexImplementation record = {&locks[0], lock, unlock};
    NLS_EncInitialize(&record, nullptr);
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t) {
        workers.emplace_back([&stop, t] {
            for (int i = 0; !stop.load(); ++i) {
                const std::string name =
                    "x-thread-" + std::to_string(t) + "-" + std::to_string(i % 50);
                NLS_GetNormalizedEncodingName(name.c_str());
                unsigned char out[16];
                uint32_t written = 0;
                NLS_ConvertBuffer("latin1", "UTF-8", reinterpret_cast<const unsigned char*>("abc"),
                                  3, out, sizeof out, &written);
            }
        });
    }
    for (int round = 1; round < 40; ++round) {
        MutexImplementation next = {&locks[round % 4], lock, unlock};
        NLS_EncInitialize(&next, nullptr);
    }
    stop = true;
    for (std::thread& worker : workers) worker.join();
    for (CountedLock& counted : locks) EXPECT_EQ(counted.held.load(), 0);
    NLS_EncTerminate();
}

}  // namespace
