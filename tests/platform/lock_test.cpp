#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/threads.h"

namespace oct::plat {
namespace {

TEST(RecursiveLock, OwnerReentersAndOthersWait) {
    RecursiveLock lock;
    ASSERT_TRUE(lockInit(lock));
    lockEnter(lock);
    lockEnter(lock);  // the owner enters again without blocking
    lockLeave(lock);
    lockLeave(lock);

    long counter = 0;  // not atomic: the lock alone keeps the increments whole
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                LockHold outer(lock);
                LockHold inner(lock);
                ++counter;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(counter, 80000);
    lockDelete(lock);
}

}  // namespace
}  // namespace oct::plat
