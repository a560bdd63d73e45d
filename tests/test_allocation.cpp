// The library under a counting, failing allocator: what it keeps across
// re-initialisations, and what it answers when memory runs out. The
// program's operator new replaces the library's too (ELF interposition).
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>

#include <atomic>
#include <new>

#include "velta/nls.h"

namespace {

// -1: never fail; n >= 0: the allocation after n more succeed fails.
std::atomic<long> gAllocationsBeforeFailure{-1};
std::atomic<long> gFailures{0};

void* allocate(size_t size) {
    long left = gAllocationsBeforeFailure.load();
    while (left >= 0 && !gAllocationsBeforeFailure.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 0) {
        ++gFailures;
        return nullptr;
    }
    return malloc(size != 0 ? size : 1);
}

void* allocateOrThrow(size_t size) {
    if (void* memory = allocate(size)) return memory;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t size) {
    return allocateOrThrow(size);
}
void* operator new[](size_t size) {
    return allocateOrThrow(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void operator delete(void* memory) noexcept {
    free(memory);
}
void operator delete[](void* memory) noexcept {
    free(memory);
}
void operator delete(void* memory, size_t) noexcept {
    free(memory);
}
void operator delete[](void* memory, size_t) noexcept {
    free(memory);
}

namespace {

// Every allocation that making a conversion object does fails in turn: the
// answer is a made object or -1002, never a status that blames a converter.
TEST(Allocation, OutOfMemoryMakingAConverterIsReportedAsOutOfMemory) {
    ASSERT_EQ(NLS_EncInitialize(nullptr, nullptr), NLS_SUCCESS);
    const char* const pairs[][2] = {{"UTF-8", "ISO-10646-UCS-2"},
                                    {"UTF-8", "ISO-8859-15"},
                                    {"Shift_JIS", "UTF-16"},
                                    {"GB18030", "windows-1252"}};
    for (const auto& pair : pairs) {
        EncodingConverter* object = nullptr;
        ASSERT_EQ(NLS_NewEncodingConverter(pair[0], pair[1], &object), NLS_SUCCESS) << pair[0];
        NLS_DeleteEncodingConverter(object);
        for (long succeeding = 0;; ++succeeding) {
            EncodingConverter* kept = nullptr;  // the object given back, so a new one is made
            ASSERT_EQ(NLS_NewEncodingConverter(pair[0], pair[1], &kept), NLS_SUCCESS);
            gFailures = 0;
            gAllocationsBeforeFailure = succeeding;
            const NLS_Status status = NLS_NewEncodingConverter(pair[0], pair[1], &object);
            gAllocationsBeforeFailure = -1;
            if (status == NLS_SUCCESS) NLS_DeleteEncodingConverter(object);
            NLS_DeleteEncodingConverter(kept);
            if (gFailures == 0) {
                EXPECT_GT(succeeding, 0) << "the allocator of the tests is not the library's";
                break;
            }
            EXPECT_TRUE(status == NLS_SUCCESS || status == NLS_OUT_OF_MEMORY)
                << pair[0] << " to " << pair[1] << " with allocation " << succeeding
                << " failing: " << status;
        }
    }
    NLS_EncTerminate();
}

// A replaced registry goes with the last object that uses it; the names
// handed out stay valid, kept once each.
TEST(Allocation, ReinitialisingFreesTheRegistriesItReplaces) {
    ASSERT_EQ(NLS_EncInitialize(nullptr, nullptr), NLS_SUCCESS);
    const char* canonical = NLS_GetNormalizedEncodingName("latin1");
    const char* java = NLS_GetJavaEncodingName("Shift_JIS");
    EncodingConverter* early = nullptr;
    ASSERT_EQ(NLS_NewEncodingConverter("UTF-8", "Shift_JIS", &early), NLS_SUCCESS);
    const size_t before = mallinfo2().uordblks;
    const unsigned char text[] = "caf\xC3\xA9";
    unsigned char out[16];
    uint32_t written = 0;
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(NLS_EncInitialize(nullptr, nullptr), NLS_SUCCESS);
        ASSERT_EQ(NLS_ConvertBuffer("UTF-8", "latin1", text, 5, out, sizeof out, &written),
                  NLS_SUCCESS);
    }
    const size_t after = mallinfo2().uordblks;
    EXPECT_LT(after > before ? after - before : 0, size_t{10} << 20);
    EXPECT_EQ(NLS_GetNormalizedEncodingName("latin1"), canonical);
    EXPECT_STREQ(canonical, "ISO_8859-1:1987");
    EXPECT_STREQ(java, "SJIS");
    EXPECT_EQ(NLS_GetJavaEncodingName("Shift_JIS"), java);
    const unsigned char kana[] = "\xE3\x81\x82";
    ASSERT_EQ(NLS_ConvertStreamBuffer(early, kana, 3, out, sizeof out, &written), NLS_SUCCESS);
    EXPECT_EQ(written, 2u);
    NLS_DeleteEncodingConverter(early);
    NLS_EncTerminate();
}

}  // namespace
