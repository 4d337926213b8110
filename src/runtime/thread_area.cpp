#include "runtime/thread_area.h"

#include <atomic>

#include "platform/threads.h"
#include "runtime/heap.h"
#include "runtime/object_table.h"
#include "runtime/thread_exit.h"

namespace oct {
namespace {

// An area with an init or cleanup callback. Areas with neither are not listed.
struct AreaEntry {
    std::int64_t offset;
    ThreadAreaFn init;
    ThreadAreaFn cleanup;
};

std::int64_t gTotal = 0;  // sum of the registered (rounded) sizes
plat::TlsSlot gSlot = plat::kNoTlsSlot;
ListNode* gAreas = nullptr;  // newest first; walked oldest first
std::atomic<std::int64_t> gLiveBlocks{0};  // threads' blocks made and not yet freed (diagnostic)

ListNode* oldestArea() {
    ListNode* node = gAreas;
    while (node && node->next) node = node->next;
    return node;
}

template <typename Fn>
void forEachArea(Fn fn) {
    for (ListNode* node = oldestArea(); node; node = node->prev) fn(*static_cast<AreaEntry*>(objListRecord(node)));
}

// Thread-exit callback of a thread's block.
void cleanUpBlock(void* data) {
    auto* block = static_cast<std::uint8_t*>(data);
    forEachArea([block](const AreaEntry& area) {
        if (area.cleanup) area.cleanup(block + area.offset);
    });
    // On Linux this runs on the ending thread itself, whose slot must not keep
    // naming the freed block.
    if (plat::tlsGet(gSlot) == block) plat::tlsSet(gSlot, nullptr);
    memMainFree(block);
    gLiveBlocks.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace

std::int64_t thrRegisterArea(std::int64_t size, ThreadAreaFn init, ThreadAreaFn cleanup) {
    if (size <= 0 || size > INT64_MAX - 7 - gTotal) return -1;
    size = (size + 7) & ~std::int64_t{7};
    if (gSlot == plat::kNoTlsSlot) {
        gSlot = plat::tlsAlloc();
        if (gSlot == plat::kNoTlsSlot) return -1;
    }
    // The calling thread's block grows to the new total, the new bytes zero.
    // Should it fail, the block keeps its size and the area is not registered,
    // so no thread is ever given an address past the end of its block.
    auto* block = static_cast<std::uint8_t*>(plat::tlsGet(gSlot));
    auto* grown = static_cast<std::uint8_t*>(memMainRealloc(block, gTotal + size));
    if (!grown) return -1;
    if (!plat::tlsSet(gSlot, grown)) {
        // The slot cannot name the grown block; in practice only a thread
        // without a block yet gets here, whose slot stays empty.
        memMainFree(grown);
        plat::tlsSet(gSlot, nullptr);
        return -1;
    }
    if (!block) gLiveBlocks.fetch_add(1, std::memory_order_relaxed);
    if (init || cleanup) {
        auto* entry = static_cast<AreaEntry*>(objListAdd(gAreas, sizeof(ListNode) + sizeof(AreaEntry)));
        if (!entry) return -1;  // the grown block stays; its new bytes are simply unused
        *entry = AreaEntry{gTotal, init, cleanup};
    }
    const std::int64_t offset = gTotal;
    gTotal += size;
    if (init) init(grown + offset);
    return offset;
}

void* thrArea(std::int64_t offset) {
    if (offset < 0 || offset >= gTotal) return nullptr;
    auto* block = static_cast<std::uint8_t*>(plat::tlsGet(gSlot));
    if (!block) {
        block = static_cast<std::uint8_t*>(memMainAlloc(gTotal));
        if (!block) return nullptr;
        if (!plat::tlsSet(gSlot, block)) {
            memMainFree(block);
            return nullptr;
        }
        gLiveBlocks.fetch_add(1, std::memory_order_relaxed);
        forEachArea([block](const AreaEntry& area) {
            if (area.init) area.init(block + area.offset);
        });
        thrAtExit(cleanUpBlock, block);
    }
    return block + offset;
}

std::int64_t thrLiveAreaBlocks() { return gLiveBlocks.load(std::memory_order_relaxed); }

void thrStopAreas() {
    if (gSlot != plat::kNoTlsSlot) plat::tlsFree(gSlot);
    gSlot = plat::kNoTlsSlot;
    while (gAreas) objListRemove(gAreas, objListRecord(gAreas));
    gTotal = 0;
    gLiveBlocks.store(0, std::memory_order_relaxed);
}

}  // namespace oct
