#include "runtime/strings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "runtime/bounded_wait.h"
#include "runtime/thread_exit.h"

namespace oct {
namespace {

// Runs `body` on a new thread, which starts without a string block.
template <typename Body>
void onFreshThread(Body body) {
    std::thread([&] {
        ASSERT_EQ(strBufferStart(), nullptr);
        ASSERT_TRUE(strThreadEnter());
        body();
    }).join();
}

TEST(StrCopyArg, CopiesAndLeavesTheDestinationForNull) {
    char16_t* copy = nullptr;
    strCopyArg(copy, u"");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy[0], u'\0');
    char16_t* kept = copy;
    strCopyArg(copy, nullptr);
    EXPECT_EQ(copy, kept);
    strFreeArg(copy);

    const char16_t source[] = u"C:\\pictures\\\u00e9t\u00e9.bmp";
    strCopyArg(copy, source);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, source);
    EXPECT_EQ(std::u16string(copy), std::u16string(source));
    strFreeArg(copy);
    strFreeArg(nullptr);
}

TEST(StrReserve, GrowsTheBufferWhenTheResultWouldReachItsEnd) {
    struct Case {
        std::int64_t characters, position;
        std::int64_t capacity, newPosition, returnedOffset;
    };
    const Case cases[] = {
        {10, -1, 16404, 20, 0},   // end 20 is not below 12: 20 + 16,384
        {5, -1, 16, 10, 0},       // end 10 fits with room for the zero
        {6, -1, 16396, 12, 0},    // end 12 is the first that grows
        {0, -1, 16, 0, 0},
        {5, 1000, 17394, 1010, 1000},  // measured from the later position
    };
    for (const Case& c : cases) {
        onFreshThread([&] {
            EXPECT_EQ(strBufferCapacity(), 16);
            EXPECT_EQ(strBufferPosition(), 0);
            char16_t* out = strReserve(c.characters, c.position);
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(out, strBufferStart() + c.returnedOffset / 2);
            EXPECT_EQ(strBufferCapacity(), c.capacity) << c.characters << " at " << c.position;
            EXPECT_EQ(strBufferPosition(), c.newPosition);
            // The result and its zero fit (the sanitizers check the writes).
            for (std::int64_t i = 0; i < c.characters; ++i) out[i] = u'x';
            out[c.characters] = 0;
        });
    }
}

TEST(StrReserve, WholeGrownBufferIsWritable) {
    onFreshThread([] {
        ASSERT_NE(strReserve(10, -1), nullptr);
        ASSERT_EQ(strBufferCapacity(), 16404);
        std::memset(strBufferStart(), 0x41, 16404 + 10);  // capacity plus the spare bytes
    });
}

TEST(StrReserve, RefusesWhatItCannotPlace) {
    onFreshThread([] {
        EXPECT_EQ(strReserve(-1, -1), nullptr);
        EXPECT_EQ(strReserve(1, -2), nullptr);
        EXPECT_EQ(strReserve(1, 3), nullptr);            // odd byte offset
        EXPECT_EQ(strReserve(INT64_MAX / 2, -1), nullptr);
        EXPECT_EQ(strReserve(std::int64_t{1} << 31, -1), nullptr);  // end past 2 GiB
        EXPECT_EQ(strBufferCapacity(), 16);
        EXPECT_EQ(strBufferPosition(), 0);
        for (std::int64_t offset : {7, -2, 18})  // odd, negative, past the capacity
            EXPECT_EQ(strSetPosition(offset), nullptr) << offset;
        EXPECT_EQ(strSetPosition(8), strBufferStart() + 4);
    });
    std::thread([] { EXPECT_EQ(strReserve(1, -1), nullptr); }).join();  // no block yet
}

TEST(StrBlock, PositionReadKeepsTheLastError) {
#ifdef _WIN32
    ASSERT_TRUE(strThreadEnter());
    SetLastError(1234);
    EXPECT_GE(strBufferPosition(), 0);
    EXPECT_EQ(GetLastError(), 1234u);
#else
    GTEST_SKIP() << "the last-error value is a Windows notion";
#endif
}

TEST(StrThreadEnter, ThreadsBlockIsFreedAfterItEnds) {
    thrExitShutdown();  // no records left by earlier tests
    std::thread([] {
        ASSERT_TRUE(strThreadEnter());
        ASSERT_TRUE(strThreadEnter());  // once per thread
        EXPECT_EQ(thrExitPendingThreads(), 1);
        ASSERT_NE(strFromUtf8("left in the block", -1), nullptr);
    }).join();
    EXPECT_TRUE(test::waitUntil([] { return thrExitPendingThreads() == 0; }));
}

TEST(StrThreadEnter, StartsTheStoppedModuleOnceForManyFirstUsers) {
    thrExitShutdown();  // as at module stop: pending block clean-ups run first
    strStop();
    std::atomic<bool> go{false};
    std::atomic<int> entered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            if (strThreadEnter() && strFromUtf8("first use", -1)) ++entered;
        });
    go = true;
    for (auto& th : threads) th.join();
    EXPECT_EQ(entered.load(), 6);
    EXPECT_TRUE(test::waitUntil([] { return thrExitPendingThreads() == 0; }));
    ASSERT_TRUE(strThreadEnter());  // this thread too, from the restarted module
    EXPECT_EQ(strBufferCapacity(), 16);
}

TEST(StrFromUtf8, ResultsFollowEachOtherOnTheTerminatingZero) {
    onFreshThread([] {
        char16_t* a = strFromUtf8("ab", -1);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(std::u16string(a), u"ab");
        char16_t* b = strFromUtf8("c\xC3\xA9", -1);
        EXPECT_EQ(b, a + 2);
        EXPECT_EQ(std::u16string(a), u"ab" u"c\u00e9");
        EXPECT_EQ(strBufferPosition(), 8);
        char16_t* c = strFromUtf8(nullptr, 0);  // rewrite at the start
        EXPECT_EQ(c, a);
        EXPECT_EQ(c[0], 0);
        char16_t* big = strFromUtf8(std::string(40000, 'z').c_str(), -1);
        ASSERT_NE(big, nullptr);
        EXPECT_EQ(std::char_traits<char16_t>::length(big), 40000u);
    });
}

TEST(StrToUtf8, GivesNewMallocStrings) {
    char* empty = strToUtf8(nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    std::free(empty);
    char* text = strToUtf8(u"\u00e9\xD800!");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "\xC3\xA9\xEF\xBF\xBD!");
    std::free(text);
}

TEST(StrFromUtf8Alloc, GivesNewMallocStrings) {
    char16_t* empty = strFromUtf8Alloc(nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], 0);
    std::free(empty);
    char16_t* text = strFromUtf8Alloc("\xF0\x9F\x98\x80\xFF");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string(text), u"\U0001F600\uFFFD");
    std::free(text);
}

}  // namespace
}  // namespace oct
