#include "runtime/block_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace oct {
namespace {

constexpr std::int32_t kUnlocked = kPoolUnlocked;

TEST(BlockPool, StrideIsPayloadPlusHeaderInWholeWords) {
    struct Case {
        std::int64_t payload, stride;
    };
    for (Case c : {Case{1, 16}, Case{8, 16}, Case{9, 24}, Case{10, 24}, Case{16, 24}, Case{17, 32}, Case{100, 112}}) {
        BlockPool* pool = memPoolCreate(c.payload, 16, 64, kUnlocked);
        ASSERT_NE(pool, nullptr);
        EXPECT_EQ(pool->stride, c.stride) << c.payload;
        memPoolDestroy(pool);
    }
}

TEST(BlockPool, RefusesEmptyPayloads) {
    EXPECT_EQ(memPoolCreate(0, 16, 64, kUnlocked), nullptr);
    EXPECT_EQ(memPoolCreate(-8, 16, 64, kUnlocked), nullptr);
}

TEST(BlockPool, ChunksGrowWithThePoolWithinMinimumAndMaximum) {
    BlockPool* pool = memPoolCreate(10, 128, 1024, kUnlocked);
    ASSERT_NE(pool, nullptr);
    struct Case {
        std::int64_t blocksBefore;
        std::int32_t chunk;
    };
    // A sixteenth of the pool, in multiples of 16, clamped.
    for (Case c : {Case{0, 128}, Case{2048, 128}, Case{4096, 256}, Case{4100, 256}, Case{4351, 256},
                   Case{4352, 272}, Case{16384, 1024}, Case{20000, 1024}}) {
        memPoolReset(pool);
        pool->total = c.blocksBefore;  // as if the pool already had that many blocks
        void* p = memPoolAlloc(pool);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(memPoolChunkCapacity(p), c.chunk) << c.blocksBefore;
        EXPECT_EQ(pool->total, c.blocksBefore + c.chunk);
    }
    memPoolDestroy(pool);
}

TEST(BlockPool, FallsBackToOneBlockChunksWhenAFullChunkCannotBeHad) {
    // A chunk of INT32_MAX blocks of 1 MiB is far beyond any heap; one block is not.
    BlockPool* pool = memPoolCreate(1 << 20, INT32_MAX, INT32_MAX, kUnlocked);
    ASSERT_NE(pool, nullptr);
    void* a = memPoolAlloc(pool);
    void* b = memPoolAlloc(pool);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(memPoolChunkCapacity(a), 1);
    EXPECT_EQ(pool->total, 2);
    std::memset(a, 1, 1 << 20);
    memPoolFree(pool, a);
    EXPECT_EQ(pool->total, 1);
    memPoolFree(pool, b);
    EXPECT_EQ(pool->total, 0);
    memPoolDestroy(pool);
}

TEST(BlockPool, ChunkGoesBackWhenItsLastBlockReturns) {
    BlockPool* pool = memPoolCreate(16, 128, 1024, kUnlocked);
    ASSERT_NE(pool, nullptr);
    void* only = memPoolAlloc(pool);
    EXPECT_EQ(pool->total, 128);
    memPoolFree(pool, only);  // 127 never-used blocks do not keep it
    EXPECT_EQ(pool->total, 0);
    EXPECT_EQ(pool->partial, nullptr);

    void* a = memPoolAlloc(pool);
    void* b = memPoolAlloc(pool);
    void* c = memPoolAlloc(pool);
    memPoolFree(pool, b);
    memPoolFree(pool, a);
    EXPECT_EQ(pool->total, 128);
    memPoolFree(pool, c);
    EXPECT_EQ(pool->total, 0);
    memPoolDestroy(pool);
}

TEST(BlockPool, FullChunkTakesBlocksAgainOnceOneReturns) {
    BlockPool* pool = memPoolCreate(24, 16, 16, kUnlocked);
    ASSERT_NE(pool, nullptr);
    std::vector<void*> first;
    for (int i = 0; i < 16; ++i) first.push_back(memPoolAlloc(pool));
    EXPECT_EQ(pool->partial, nullptr);
    ASSERT_NE(pool->full, nullptr);
    void* second = memPoolAlloc(pool);  // a new chunk
    EXPECT_EQ(pool->total, 32);
    memPoolFree(pool, first[7]);
    void* again = memPoolAlloc(pool);
    EXPECT_EQ(again, first[7]);  // the newest partial chunk hands out its free block
    EXPECT_EQ(pool->total, 32);
    // Blocks are distinct and their payloads do not overlap.
    first[7] = again;
    first.push_back(second);
    std::sort(first.begin(), first.end());
    for (std::size_t i = 1; i < first.size(); ++i)
        EXPECT_GE(static_cast<std::uint8_t*>(first[i]) - static_cast<std::uint8_t*>(first[i - 1]), 24);
    for (void* p : first) memPoolFree(pool, p);
    EXPECT_EQ(pool->total, 0);
    memPoolDestroy(pool);
}

TEST(BlockPool, ResetDropsEveryChunk) {
    BlockPool* pool = memPoolCreate(8, 16, 16, 0);
    ASSERT_NE(pool, nullptr);
    for (int i = 0; i < 40; ++i) ASSERT_NE(memPoolAlloc(pool), nullptr);
    memPoolReset(pool);
    EXPECT_EQ(pool->total, 0);
    EXPECT_EQ(pool->full, nullptr);
    EXPECT_EQ(pool->partial, nullptr);
    EXPECT_NE(memPoolAlloc(pool), nullptr);
    memPoolDestroy(pool);
}

TEST(BlockPool, SharedPoolsAreFoundByStrideAndFlagsAndCounted) {
    BlockPool* a = memPoolCreate(10, 16, 64, kPoolShared);
    BlockPool* b = memPoolCreate(12, 16, 64, kPoolShared);
    BlockPool* otherFlags = memPoolCreate(12, 16, 64, kPoolShared | 1);
    BlockPool* otherStride = memPoolCreate(20, 16, 64, kPoolShared);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, otherFlags);
    EXPECT_NE(a, otherStride);
    EXPECT_EQ(a->locked, 1);
    memPoolDestroy(a);
    // One reference is left: the pool must still be whole.
    void* p = memPoolAlloc(b);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0x33, 16);
    memPoolFree(b, p);
    memPoolDestroy(b);
    memPoolDestroy(otherFlags);
    memPoolDestroy(otherStride);
}

TEST(BlockPoolThreads, LockedPoolHandsOutEachBlockToOneThread) {
    BlockPool* pool = memPoolCreate(sizeof(std::uint64_t), 16, 256, 0);
    ASSERT_NE(pool, nullptr);
    std::atomic<int> clashes{0};
    std::vector<std::thread> threads;
    for (std::uint64_t t = 1; t <= 4; ++t)
        threads.emplace_back([pool, t, &clashes] {
            std::vector<std::uint64_t*> mine;
            for (int round = 0; round < 2000; ++round) {
                auto* p = static_cast<std::uint64_t*>(memPoolAlloc(pool));
                *p = t;
                mine.push_back(p);
                if (round % 3 == 0) {
                    if (*mine.front() != t) ++clashes;
                    memPoolFree(pool, mine.front());
                    mine.erase(mine.begin());
                }
            }
            for (auto* p : mine) {
                if (*p != t) ++clashes;
                memPoolFree(pool, p);
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(clashes.load(), 0);
    EXPECT_EQ(pool->total, 0);
    memPoolDestroy(pool);
}

TEST(BlockPoolThreads, SharedPoolCreatedAtOnceIsOnePool) {
    std::vector<BlockPool*> pools(6);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < pools.size(); ++i)
        threads.emplace_back([&pools, i] { pools[i] = memPoolCreate(40, 16, 64, kPoolShared); });
    for (auto& th : threads) th.join();
    for (BlockPool* p : pools) EXPECT_EQ(p, pools[0]);
    for (BlockPool* p : pools) memPoolDestroy(p);
}

}  // namespace
}  // namespace oct
