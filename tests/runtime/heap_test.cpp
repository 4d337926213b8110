#include "runtime/heap.h"

#include <gtest/gtest.h>

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
