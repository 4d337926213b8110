#include "runtime/thread_area.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/bounded_wait.h"
#include "runtime/module.h"
#include "runtime/thread_exit.h"

namespace oct {
namespace {

// Each test starts from an empty registry, as module start does. As at module
// stop, pending thread-exit clean-ups run before the registry is dropped.
class ThreadAreaTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    // The registrations of the runtime's own modules are gone with the
    // test's: a restart gives the tests that follow a whole runtime again.
    void TearDown() override {
        reset();
        modStopAll();
        modStartAll();
    }
    static void reset() {
        thrExitShutdown();
        thrStopAreas();
    }
};

TEST_F(ThreadAreaTest, OffsetsFollowSizesRoundedToWords) {
    struct Case {
        std::int64_t size, offset;
    };
    // 200 + 136 = 336; 13 takes 16; then 1 takes 8.
    for (Case c : {Case{200, 0}, Case{136, 200}, Case{13, 336}, Case{1, 352}, Case{8, 360}})
        EXPECT_EQ(thrRegisterArea(c.size, nullptr, nullptr), c.offset) << c.size;
    EXPECT_NE(thrArea(360), nullptr);
    EXPECT_EQ(thrArea(368), nullptr);  // past the total
}

TEST_F(ThreadAreaTest, RefusesSizesAndOffsetsItNeverGaveOut) {
    EXPECT_EQ(thrArea(0), nullptr);  // nothing registered
    EXPECT_EQ(thrRegisterArea(0, nullptr, nullptr), -1);
    EXPECT_EQ(thrRegisterArea(-8, nullptr, nullptr), -1);
    ASSERT_EQ(thrRegisterArea(16, nullptr, nullptr), 0);
    EXPECT_EQ(thrArea(-1), nullptr);
    EXPECT_EQ(thrArea(16), nullptr);
    EXPECT_NE(thrArea(8), nullptr);
}

std::mutex gEventsLock;
std::vector<std::string> gEvents;

void note(const char* what, void* area) {
    std::lock_guard hold(gEventsLock);
    auto* bytes = static_cast<std::uint8_t*>(area);
    gEvents.push_back(std::string(what) + ":" + std::to_string(bytes[0]));
}

void initFirst(void* area) {
    // A fresh area is zero-filled; mark it so the cleanup can tell it was initialised.
    note("init1", area);
    static_cast<std::uint8_t*>(area)[0] = 1;
}
void cleanupFirst(void* area) { note("clean1", area); }
void cleanupSecond(void* area) { note("clean2", area); }

std::size_t eventCount() {
    std::lock_guard hold(gEventsLock);
    return gEvents.size();
}

TEST_F(ThreadAreaTest, EachThreadHasItsOwnBlockInitialisedAndCleanedInOrder) {
    {
        std::lock_guard hold(gEventsLock);
        gEvents.clear();
    }
    const std::int64_t first = thrRegisterArea(24, initFirst, cleanupFirst);
    const std::int64_t plain = thrRegisterArea(100, nullptr, nullptr);
    const std::int64_t second = thrRegisterArea(8, nullptr, cleanupSecond);
    ASSERT_EQ(first, 0);
    ASSERT_EQ(plain, 24);
    ASSERT_EQ(second, 128);
    {
        std::lock_guard hold(gEventsLock);
        ASSERT_EQ(gEvents, std::vector<std::string>{"init1:0"});  // for the registering thread, at once
        gEvents.clear();
    }
    auto* mine = static_cast<std::uint8_t*>(thrArea(plain));
    ASSERT_NE(mine, nullptr);
    std::memset(mine, 0xEE, 100);

    std::thread([&] {
        auto* area = static_cast<std::uint8_t*>(thrArea(plain));
        ASSERT_NE(area, nullptr);
        EXPECT_NE(area, mine);
        for (int i = 0; i < 100; ++i) ASSERT_EQ(area[i], 0) << i;
        EXPECT_EQ(thrArea(plain), area);  // the same block on later calls
        auto* second_ = static_cast<std::uint8_t*>(thrArea(second));
        second_[0] = 7;
    }).join();
    ASSERT_TRUE(test::waitUntil([] { return eventCount() == 3; }));
    std::lock_guard hold(gEventsLock);
    EXPECT_EQ(gEvents, (std::vector<std::string>{"init1:0", "clean1:1", "clean2:7"}));
    EXPECT_EQ(mine[99], 0xEE);  // the other thread never touched this one
}

}  // namespace
}  // namespace oct
