#include "platform/threads.h"
#include "runtime/run_once.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace oct {
namespace {

std::atomic<int> gRuns{0};
std::atomic<bool> gFinished{false};

// Takes a while, so that the other callers arrive while it runs.
void slowInit() {
    gRuns.fetch_add(1);
    for (int i = 0; i < 200; ++i) std::this_thread::yield();
    gFinished.store(true);
}

using RunOnce = void (*)(plat::OnceFlag&, void (*)());

class RunOnceTest : public ::testing::TestWithParam<RunOnce> {};

TEST_P(RunOnceTest, OneCallerRunsAndTheOthersWaitForIt) {
    RunOnce runOnce = GetParam();
    for (int round = 0; round < 20; ++round) {
        plat::OnceFlag flag{};
        gRuns = 0;
        gFinished = false;
        std::atomic<int> returnedEarly{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 6; ++t)
            threads.emplace_back([&] {
                while (!go.load()) std::this_thread::yield();
                runOnce(flag, slowInit);
                if (!gFinished.load()) ++returnedEarly;
            });
        go = true;
        for (auto& th : threads) th.join();
        EXPECT_EQ(gRuns.load(), 1);
        EXPECT_EQ(returnedEarly.load(), 0);
        runOnce(flag, slowInit);
        EXPECT_EQ(gRuns.load(), 1);
    }
}

TEST_P(RunOnceTest, ZeroedFlagAllowsAnotherRun) {
    RunOnce runOnce = GetParam();
    plat::OnceFlag flag{};
    gRuns = 0;
    runOnce(flag, slowInit);
    flag = {};
    runOnce(flag, slowInit);
    EXPECT_EQ(gRuns.load(), 2);
}

// modRunOnce takes the system's one-time initialisation where there is one
// (Windows); modRunOnceByFlag is the fallback protocol, tested everywhere.
INSTANTIATE_TEST_SUITE_P(Paths, RunOnceTest, ::testing::Values(&modRunOnce, &modRunOnceByFlag),
                         [](const auto& info) { return info.index == 0 ? "System" : "Flag"; });

}  // namespace
}  // namespace oct
