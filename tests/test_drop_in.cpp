// libvelta-iconv linked in place of glibc's iconv: the library starts itself
// once, from any number of threads, and serves the calls (ESCAPED_UNICODE is
// an encoding only Velta has).
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "iconv_whole.h"
#include "velta/iconv.h"

namespace {

TEST(DropIn, StartsOnceUnderThreads) {
    std::atomic<int> right{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&right] {
            for (int n = 0; n < 20; ++n) {
                iconv_t cd = iconv_open("ESCAPED_UNICODE", "UTF-8");
                if (cd == reinterpret_cast<iconv_t>(-1)) continue;
                const std::string out = convertWhole(iconv, cd, "a\xC3\xA9").output;
                right += out == "a\\u00E9" || out == "a\\u00e9";
                iconv_close(cd);
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(right.load(), 160);
}

TEST(DropIn, GnuLibiconvNamesAndControls) {
    velta_iconv_t cd = libiconv_open("ISO-8859-1", "UTF-8");
    ASSERT_NE(cd, reinterpret_cast<velta_iconv_t>(-1));
    int value = 1;
    EXPECT_EQ(iconvctl(cd, ICONV_SET_TRANSLITERATE, &value), 0);
    const WholeCall call = convertWhole(libiconv, cd, "\xE2\x82\xAC");
    EXPECT_EQ(call.returned, 1u);
    EXPECT_EQ(call.output, "EUR");
    EXPECT_EQ(libiconv_close(cd), 0);
}

int countEncodings(unsigned int count, const char* const* names, void* data) {
    auto* found = static_cast<std::vector<std::string>*>(data);
    for (unsigned int i = 0; i < count; ++i) found->push_back(names[i]);
    return 0;
}

TEST(DropIn, ListsEveryEncoding) {
    std::vector<std::string> names;
    iconvlist(countEncodings, &names);
    EXPECT_NE(std::find(names.begin(), names.end(), "ESCAPED_UNICODE"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "Shift_JIS"), names.end());
}

}  // namespace
