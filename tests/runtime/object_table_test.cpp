#include "runtime/object_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "runtime/heap.h"

namespace oct {
namespace {

// A kind whose record is {handle, payload}; its free function follows the
// convention of every kind: AnyId frees all, else release a live object.
struct Thing {
    std::uint64_t handle;
    std::uint64_t payload;
};

ObjectTable* gTable = nullptr;
std::vector<std::int64_t> gFreed;

void freeThing(std::int64_t id) {
    if (id == AnyId) {
        objFreeAll(gTable);
        return;
    }
    if (!objGetObject(gTable, id)) return;
    gFreed.push_back(id);
    objReleaseObject(gTable, id);
}

std::int64_t idOf(void* record) { return static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(record)); }

Thing* make(std::int64_t id, std::uint64_t handle = 1) {
    auto* t = static_cast<Thing*>(objNewObject(gTable, id));
    if (t) t->handle = handle;
    return t;
}

class ObjectTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        gTable = objCreateTable(sizeof(Thing), 16, freeThing);
        ASSERT_NE(gTable, nullptr);
        gFreed.clear();
    }
};

TEST_F(ObjectTableTest, GrowsOnlyForNumbersPastTheEnd) {
    EXPECT_EQ(objCapacity(gTable), 16);
    ASSERT_NE(make(5), nullptr);
    EXPECT_EQ(objCapacity(gTable), 16);
    ASSERT_NE(make(40), nullptr);
    EXPECT_EQ(objCapacity(gTable), 56);
    // Earlier records survive the move of the slot array.
    EXPECT_NE(objGetObject(gTable, 5), nullptr);
    EXPECT_NE(objGetObject(gTable, 40), nullptr);
    EXPECT_EQ(objGetObject(gTable, 41), nullptr);
}

TEST_F(ObjectTableTest, SlotArrayThatCannotGrowFailsTheCreation) {
    for (std::int64_t id : {std::int64_t{1} << 50, INT64_MAX - 8, INT64_MAX}) {
        EXPECT_EQ(objNewObject(gTable, id), nullptr) << id;
        EXPECT_EQ(objCapacity(gTable), 16);
    }
    EXPECT_NE(make(3), nullptr);  // the table still works
}

TEST_F(ObjectTableTest, RecreatingALiveNumberFreesItFirstAndReusesTheRecord) {
    Thing* first = make(3, 0x1234);
    ASSERT_NE(first, nullptr);
    first->payload = 77;
    Thing* again = static_cast<Thing*>(objNewObject(gTable, 3));
    EXPECT_EQ(again, first);
    EXPECT_EQ(gFreed, std::vector<std::int64_t>{3});
    EXPECT_EQ(again->handle, 0u);
    EXPECT_EQ(again->payload, 0u);
}

TEST_F(ObjectTableTest, RecreatedRecordIsZeroEvenWhenTheCallbackLeavesIt) {
    ObjectTable* table = objCreateTable(sizeof(Thing), 4, [](std::int64_t) {});
    ASSERT_NE(table, nullptr);
    auto* t = static_cast<Thing*>(objNewObject(table, 2));
    ASSERT_NE(t, nullptr);
    t->handle = 9;
    t->payload = 9;
    EXPECT_EQ(objNewObject(table, 2), t);
    EXPECT_EQ(t->handle, 0u);
    EXPECT_EQ(t->payload, 0u);
}

TEST_F(ObjectTableTest, ReleasedNumberIsAbsentAndItsRecordIsReused) {
    Thing* t = make(7);
    ASSERT_NE(t, nullptr);
    objReleaseObject(gTable, 7);
    EXPECT_EQ(objGetObject(gTable, 7), nullptr);
    EXPECT_EQ(objIsObject(gTable, 7), nullptr);
    EXPECT_EQ(make(7), t);
    EXPECT_EQ(objIsObject(gTable, 7), t);
}

TEST_F(ObjectTableTest, NumberWithZeroFirstFieldIsAbsent) {
    ASSERT_NE(objNewObject(gTable, 4), nullptr);  // created, first field still zero
    EXPECT_EQ(objGetObject(gTable, 4), nullptr);
    EXPECT_EQ(objIsObject(gTable, 4), nullptr);
}

TEST_F(ObjectTableTest, DynamicObjectIsKnownEvenBeforeItsFirstFieldIsSet) {
    auto* t = static_cast<Thing*>(objNewObject(gTable, AnyId));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(objIsObject(gTable, idOf(t)), t);
    EXPECT_EQ(objGetObject(gTable, idOf(t)), nullptr);
    t->handle = 5;
    EXPECT_EQ(objGetObject(gTable, idOf(t)), t);
    objReleaseObject(gTable, idOf(t));
}

TEST_F(ObjectTableTest, IdsTheTableNeverGaveOutAreAbsent) {
    Thing* live = make(AnyId);
    ASSERT_NE(live, nullptr);
    Thing* stale = make(AnyId);
    ASSERT_NE(stale, nullptr);
    const std::int64_t staleId = idOf(stale);
    objReleaseObject(gTable, staleId);

    std::uint64_t onStack = 1;
    void* foreign = memMainAlloc(64);
    ASSERT_NE(foreign, nullptr);
    std::memset(foreign, 0xFF, 64);
    ObjectTable* other = objCreateTable(sizeof(Thing), 16, nullptr);
    auto* othersObject = static_cast<Thing*>(objNewObject(other, AnyId));
    othersObject->handle = 1;

    struct Case {
        const char* name;
        std::int64_t id;
    };
    const Case cases[] = {
        {"AnyId", AnyId},
        {"below -1", -2},
        {"most negative", INT64_MIN},
        {"number past the end", 16},
        {"unmapped low address", 0x10},
        {"unmapped high address", 0x7FFFFFFFF000},
        {"stack address", idOf(&onStack)},
        {"foreign heap block", idOf(foreign)},
        {"inside a live record", idOf(live) + 8},
        {"released dynamic object", staleId},
        {"another table's object", idOf(othersObject)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(objGetObject(gTable, c.id), nullptr) << c.name;
        EXPECT_EQ(objIsObject(gTable, c.id), nullptr) << c.name;
        objReleaseObject(gTable, c.id);  // must do nothing
    }
    EXPECT_EQ(objGetObject(gTable, idOf(live)), live);
    EXPECT_EQ(objGetObject(other, idOf(othersObject)), othersObject);
    EXPECT_EQ(std::memcmp(foreign, std::vector<std::uint8_t>(64, 0xFF).data(), 64), 0);
    memMainFree(foreign);
    objReleaseObject(gTable, idOf(live));
    objReleaseObject(other, idOf(othersObject));
}

TEST_F(ObjectTableTest, FreeAllGoesNumbersUpThenDynamicNewestFirst) {
    ASSERT_NE(make(3), nullptr);
    ASSERT_NE(make(1), nullptr);
    Thing* a = make(AnyId);
    Thing* b = make(AnyId);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(objNewObject(gTable, 9), nullptr);  // never made live: not visited
    freeThing(AnyId);
    EXPECT_EQ(gFreed, (std::vector<std::int64_t>{1, 3, idOf(b), idOf(a)}));
    EXPECT_EQ(objIsObject(gTable, idOf(a)), nullptr);
    EXPECT_EQ(objGetObject(gTable, 1), nullptr);
    // The lock was left at the end: another thread can use the table.
    std::thread([] { EXPECT_NE(make(2), nullptr); }).join();
}

TEST_F(ObjectTableTest, FreeAllEndsWhenACallbackLeavesObjectsInPlace) {
    static ObjectTable* table;
    static std::vector<std::int64_t> seen;
    seen.clear();
    // Releases only every other dynamic object it is given.
    table = objCreateTable(sizeof(Thing), 4, [](std::int64_t id) {
        seen.push_back(id);
        if (seen.size() % 2 == 0) objReleaseObject(table, id);
    });
    std::vector<std::int64_t> ids;
    for (int i = 0; i < 5; ++i) {
        auto* t = static_cast<Thing*>(objNewObject(table, AnyId));
        t->handle = 1;
        ids.insert(ids.begin(), idOf(t));  // newest first
    }
    objFreeAll(table);
    EXPECT_EQ(seen, ids);  // each once, newest first
    EXPECT_NE(objIsObject(table, ids[0]), nullptr);
    EXPECT_EQ(objIsObject(table, ids[1]), nullptr);
}

TEST(ObjectTableCreate, RefusesRecordsWithoutTheirFirstFieldAndEmptyTables) {
    EXPECT_EQ(objCreateTable(4, 16, nullptr), nullptr);
    EXPECT_EQ(objCreateTable(16, 0, nullptr), nullptr);
    EXPECT_EQ(objCreateTable(16, -3, nullptr), nullptr);
    EXPECT_NE(objCreateTable(8, 1, nullptr), nullptr);
}

TEST_F(ObjectTableTest, ManyDynamicObjectsStayRecognisable) {
    std::vector<Thing*> things;
    for (int i = 0; i < 3000; ++i) things.push_back(make(AnyId, i + 1));
    for (std::size_t i = 0; i < things.size(); i += 2) objReleaseObject(gTable, idOf(things[i]));
    for (std::size_t i = 0; i < things.size(); ++i)
        EXPECT_EQ(objGetObject(gTable, idOf(things[i])), i % 2 ? things[i] : nullptr) << i;
}

TEST(ObjectTableThreads, ConcurrentCreateLookupRelease) {
    static ObjectTable* table;
    table = objCreateTable(sizeof(Thing), 16, nullptr);
    ASSERT_NE(table, nullptr);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 300; ++round) {
                auto* d = static_cast<Thing*>(objNewObject(table, AnyId));
                std::int64_t number = t * 1000 + round;  // grows the slot array under contention
                auto* n = static_cast<Thing*>(objNewObject(table, number));
                if (!d || !n) {
                    ++failures;
                    continue;
                }
                d->handle = n->handle = static_cast<std::uint64_t>(t + 1);
                if (objGetObject(table, idOf(d)) != d || objGetObject(table, number) != n) ++failures;
                // (After its release the address may at once belong to
                // another thread's new object, so it is not looked up again.)
                objReleaseObject(table, idOf(d));
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(table->dynamic, nullptr);
}

}  // namespace
}  // namespace oct
