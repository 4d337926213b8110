#include "runtime/thread_exit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/bounded_wait.h"

namespace oct {
namespace {

// Callbacks append their data (a small number) to one log.
std::mutex gLogLock;
std::vector<int> gLog;

void logCallback(void* data) {
    std::lock_guard hold(gLogLock);
    gLog.push_back(static_cast<int>(reinterpret_cast<std::intptr_t>(data)));
}

void* tag(int n) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(n)); }

std::vector<int> logged() {
    std::lock_guard hold(gLogLock);
    return gLog;
}

std::size_t loggedCount() { return logged().size(); }

class ThreadExitTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::lock_guard hold(gLogLock);
        gLog.clear();
    }
};

TEST_F(ThreadExitTest, CallbacksRunNewestFirstAfterTheThreadEnds) {
    std::thread([] {
        thrAtExit(logCallback, tag(1));
        thrAtExit(logCallback, tag(2));
        thrAtExit(logCallback, tag(3));
    }).join();
    ASSERT_TRUE(test::waitUntil([] { return loggedCount() == 3; }));
    EXPECT_EQ(logged(), (std::vector<int>{3, 2, 1}));
}

TEST_F(ThreadExitTest, ShutdownRunsPendingRecordsOnceAndReopens) {
    thrExitShutdown();  // start without records left by earlier tests
    std::mutex m;
    std::condition_variable cv;
    bool registered = false, release = false;
    std::thread worker([&] {
        thrAtExit(logCallback, tag(10));
        thrAtExit(logCallback, tag(11));
        std::unique_lock lock(m);
        registered = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
    });
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return registered; });
    }
    thrAtExit(logCallback, tag(20));  // this thread: the newest record
    thrAtExit(logCallback, tag(21));
    thrExitShutdown();
    EXPECT_EQ(logged(), (std::vector<int>{21, 20, 11, 10}));
    EXPECT_EQ(thrExitPendingThreads(), 0);
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    worker.join();
    // The worker's record was run by the shutdown; its end runs nothing more.
    // And the registry works again afterwards.
    std::thread([] { thrAtExit(logCallback, tag(30)); }).join();
    ASSERT_TRUE(test::waitUntil([] { return loggedCount() == 5; }));
    EXPECT_EQ(logged(), (std::vector<int>{21, 20, 11, 10, 30}));
}

TEST_F(ThreadExitTest, ManyThreadsRegisteringAtOnceEachGetTheirCallbacksRun) {
    thrExitShutdown();  // the next registrations set the registry up again, all at once
    constexpr int kThreads = 8;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &go] {
            while (!go.load()) std::this_thread::yield();
            thrAtExit(logCallback, tag(t));
        });
    go = true;
    for (auto& th : threads) th.join();
    ASSERT_TRUE(test::waitUntil([] { return loggedCount() == kThreads; }));
    std::vector<int> seen = logged();
    std::sort(seen.begin(), seen.end());
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], t);
    EXPECT_TRUE(test::waitUntil([] { return thrExitPendingThreads() <= 1; }));  // at most this thread's
}

}  // namespace
}  // namespace oct
