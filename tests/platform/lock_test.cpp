#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/platform.h"

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

TEST(ThreadSlot, EachThreadSeesItsOwnValue) {
    TlsSlot slot = tlsAlloc();
    ASSERT_NE(slot, kNoTlsSlot);
    int mine = 0, theirs = 0;
    ASSERT_TRUE(tlsSet(slot, &mine));
    std::thread([&] {
        EXPECT_EQ(tlsGet(slot), nullptr);
        ASSERT_TRUE(tlsSet(slot, &theirs));
        EXPECT_EQ(tlsGet(slot), &theirs);
    }).join();
    EXPECT_EQ(tlsGet(slot), &mine);
    tlsFree(slot);
    EXPECT_EQ(tlsGet(kNoTlsSlot), nullptr);
    EXPECT_FALSE(tlsSet(kNoTlsSlot, &mine));
}

}  // namespace
}  // namespace oct::plat
