#include "runtime/heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "runtime/module.h"
#include "runtime/strings.h"

namespace oct {
namespace {

bool allZero(const void* p, std::size_t n) {
    auto* b = static_cast<const std::uint8_t*>(p);
    for (std::size_t i = 0; i < n; ++i)
        if (b[i]) return false;
    return true;
}

TEST(MemAlloc, RefusesZeroAndNegativeSizes) {
    for (std::int64_t size : {std::int64_t{0}, std::int64_t{-1}, INT64_MIN}) {
        EXPECT_EQ(memAlloc(size), nullptr) << size;
        EXPECT_EQ(memAllocEx(size, kMemNoZero), nullptr) << size;
        EXPECT_EQ(memBlockAlloc(size), nullptr) << size;
    }
    EXPECT_EQ(memBlockAlloc(INT64_MAX), nullptr);
}

TEST(MemAlloc, ImpossibleSizeGivesNull) { EXPECT_EQ(memAlloc(std::int64_t{1} << 60), nullptr); }

TEST(MemAlloc, BlocksAreZeroFilledEvenAfterReuse) {
    for (int round = 0; round < 3; ++round) {
        auto* p = static_cast<std::uint8_t*>(memAlloc(4096));
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(allZero(p, 4096));
        std::memset(p, 0xAB, 4096);
        memFree(p);
    }
    auto* one = static_cast<std::uint8_t*>(memAlloc(1));
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(*one, 0);
    memFree(one);
    memFree(nullptr);
}

// Large blocks (level buffers, a file's bytes) may be handed out again after
// a free. Each must still come zero-filled whatever its last user wrote, with
// room for all of its bytes, and must never be given to two users at once.
constexpr std::size_t kMiB = std::size_t{1} << 20;

bool allBytes(const void* p, std::size_t n, std::uint8_t value) {
    static const std::vector<std::uint8_t> zeros(64 * 1024), ones(64 * 1024, 1);
    const auto& pattern = value == 0 ? zeros : ones;
    auto* b = static_cast<const std::uint8_t*>(p);
    for (std::size_t at = 0; at < n; at += pattern.size())
        if (std::memcmp(b + at, pattern.data(), std::min(pattern.size(), n - at)) != 0) return false;
    return true;
}

TEST(MemAlloc, LargeBlocksAreZeroFilledAfterReuse) {
    // Equal sizes, a smaller one that fits the last block closely, a larger
    // one, much smaller ones, and one byte past a page.
    for (std::size_t n : {16 * kMiB, 16 * kMiB, 13 * kMiB, 20 * kMiB, 9 * kMiB, 5 * kMiB, 16 * kMiB + 1}) {
        auto* p = static_cast<std::uint8_t*>(memAlloc(static_cast<std::int64_t>(n)));
        ASSERT_NE(p, nullptr) << n;
        EXPECT_TRUE(allBytes(p, n, 0)) << n;
        std::memset(p, 1, n);
        memFree(p);
    }
    // Without zeroing, the whole size is there to write.
    auto* raw = static_cast<std::uint8_t*>(memAllocEx(16 * kMiB, kMemNoZero));
    ASSERT_NE(raw, nullptr);
    std::memset(raw, 1, 16 * kMiB);
    memFree(raw);

    // Two at once: freeing one and taking another leaves the first's bytes alone.
    auto* a = static_cast<std::uint8_t*>(memAlloc(16 * kMiB));
    auto* b = static_cast<std::uint8_t*>(memAlloc(16 * kMiB));
    ASSERT_TRUE(a && b);
    std::memset(a, 1, 16 * kMiB);
    std::memset(b, 1, 16 * kMiB);
    memFree(a);
    auto* c = static_cast<std::uint8_t*>(memAlloc(16 * kMiB));
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(allBytes(c, 16 * kMiB, 0));
    EXPECT_TRUE(allBytes(b, 16 * kMiB, 1));
    memFree(b);
    memFree(c);

    // A block grown into the large sizes and shrunk out of them again.
    auto* g = static_cast<std::uint8_t*>(memMainAlloc(kMiB));
    ASSERT_NE(g, nullptr);
    g = static_cast<std::uint8_t*>(memMainRealloc(g, 16 * kMiB));
    ASSERT_NE(g, nullptr);
    EXPECT_TRUE(allBytes(g, 16 * kMiB, 0));
    std::memset(g, 1, 16 * kMiB);
    g = static_cast<std::uint8_t*>(memMainRealloc(g, kMiB));
    ASSERT_NE(g, nullptr);
    EXPECT_TRUE(allBytes(g, kMiB, 1));
    memMainFree(g);
    auto* m = static_cast<std::uint8_t*>(memMainAlloc(16 * kMiB));
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(allBytes(m, 16 * kMiB, 0));
    memMainFree(m);

    // A smaller block in a larger one's place, grown back: the new bytes are
    // zero, not what the larger block's last user left there.
    auto* big = static_cast<std::uint8_t*>(memMainAlloc(20 * kMiB));
    ASSERT_NE(big, nullptr);
    std::memset(big, 1, 20 * kMiB);
    memMainFree(big);
    auto* small = static_cast<std::uint8_t*>(memMainAlloc(16 * kMiB));
    ASSERT_NE(small, nullptr);
    std::memset(small, 1, 16 * kMiB);
    small = static_cast<std::uint8_t*>(memMainRealloc(small, 20 * kMiB));
    ASSERT_NE(small, nullptr);
    EXPECT_TRUE(allBytes(small, 16 * kMiB, 1));
    EXPECT_TRUE(allBytes(small + 16 * kMiB, 4 * kMiB, 0));
    memMainFree(small);
}

TEST(MemAlloc, ManyThreadsTakeAndGiveLargeBlocksAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 12; ++round) {
                const std::size_t n = (9 + (t + round) % 8) * kMiB;
                auto* p = static_cast<std::uint8_t*>(memAlloc(static_cast<std::int64_t>(n)));
                if (!p || !allBytes(p, n, 0)) {
                    ++failures[t];
                    memFree(p);
                    continue;
                }
                std::memset(p, 1, n);
                std::this_thread::yield();
                if (!allBytes(p, n, 1)) ++failures[t];
                memFree(p);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(MemBlock, HasANullDescriptorWordBeforeZeroFilledBytes) {
    auto* p = static_cast<std::uint8_t*>(memBlockAlloc(24));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(allZero(p - 8, 8 + 24));
    std::memset(p, 0x5A, 24);
    memBlockFree(p);
    memBlockFree(nullptr);
}

TEST(MemBlock, ReleasesStringMembersNamedByItsDescriptor) {
    // A record with a string at offset 8 and an embedded pair of strings at 16.
    static const std::int64_t kPair[] = {0, 8, -1};
    static const std::int64_t kRecord[] = {8, -3, 16, 16, reinterpret_cast<std::int64_t>(kPair), -1};
    auto* p = static_cast<std::uint8_t*>(memBlockAlloc(32, kRecord));
    ASSERT_NE(p, nullptr);
    MemDescriptor stored;
    std::memcpy(&stored, p - 8, 8);
    EXPECT_EQ(stored, kRecord);
    for (int offset : {8, 16, 24}) {
        char16_t* copy = nullptr;
        strCopyArg(copy, u"name");
        ASSERT_NE(copy, nullptr);
        std::memcpy(p + offset, &copy, sizeof copy);
    }
    memBlockFree(p);  // the three copies go with it; LeakSanitizer would report them otherwise
}

TEST(MemBlock, RefusesDescriptorKindsWithoutAModule) {
    for (std::int64_t kind : {-4, -5, -6, -7, -8}) {
        const std::int64_t descriptor[] = {kind, 0, 0, 0, -1};
        EXPECT_EQ(memBlockAlloc(16, descriptor), nullptr) << kind;
    }
}

TEST(MemCopy, ReturnsTheEndOfWhatItWrote) {
    const char src[] = "abcdef";
    char dst[8] = {};
    EXPECT_EQ(memCopy(src, dst, 0), dst);
    char* end = static_cast<char*>(memCopy(src, dst, 3));
    end = static_cast<char*>(memCopy(src + 3, end, 3));
    EXPECT_EQ(end, dst + 6);
    EXPECT_STREQ(dst, "abcdef");
}

TEST(MemAlloc, ManyThreadsAtOnce) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            std::vector<void*> blocks;
            for (int i = 0; i < 2000; ++i) blocks.push_back(memAlloc(16 + i % 64));
            for (void* b : blocks) memFree(b);
        });
    for (auto& t : threads) t.join();
}

TEST(ModuleStop, TakesBlocksNeverFreedWithTheHeaps) {
    // Blocks left behind on purpose: the memory heap's destruction must free
    // them (under the sanitizers a leak would be reported at exit).
    for (int i = 0; i < 100; ++i) ASSERT_NE(memAlloc(1000 + i), nullptr);
    ASSERT_NE(memBlockAlloc(64), nullptr);
    ASSERT_NE(memMainAlloc(128), nullptr);
    char16_t* copy = nullptr;
    strCopyArg(copy, u"left behind");
    ASSERT_NE(copy, nullptr);
    modStopAll();
    EXPECT_EQ(memAlloc(16), nullptr);  // no memory heap while stopped
    modStartAll();
    void* p = memAlloc(16);
    EXPECT_NE(p, nullptr);
    memFree(p);
}

}  // namespace
}  // namespace oct
