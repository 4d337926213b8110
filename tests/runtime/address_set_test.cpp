#include "runtime/address_set.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>

namespace oct {
namespace {

// Random inserts and removals against std::set: removal shifts entries back
// inside probe runs, which is where an open-addressing set goes wrong.
TEST(AddressSet, AgreesWithAnOrderedSetUnderChurn) {
    AddressSet set{};
    std::set<std::uintptr_t> model;
    std::mt19937_64 rng(12345);
    for (int step = 0; step < 200000; ++step) {
        // Few distinct 16-aligned values, so runs collide and wrap around.
        std::uintptr_t key = ((rng() % 4096) + 1) * 16;
        auto* address = reinterpret_cast<const void*>(key);
        if (rng() % 3 == 0) {
            set.erase(address);
            model.erase(key);
        } else {
            ASSERT_TRUE(set.insert(address));
            model.insert(key);
        }
        if (step % 997 == 0) {
            ASSERT_EQ(set.count, static_cast<std::int64_t>(model.size()));
            for (std::uintptr_t k = 16; k <= 4096 * 16; k += 16)
                ASSERT_EQ(set.contains(reinterpret_cast<const void*>(k)), model.count(k) == 1) << k;
        }
    }
    set.clear();
    EXPECT_FALSE(set.contains(reinterpret_cast<const void*>(16)));
}

}  // namespace
}  // namespace oct
