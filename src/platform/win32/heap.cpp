// Heaps for Windows: kernel heaps, growable and serialized. The heap's own
// first block holds its handle and the count of blocks handed out.
//
// Large blocks (level buffers, a file's bytes) come as fresh pages from the
// system each time, and the first write to each 4 KiB page faults: Linux
// gives such blocks 2 MiB pages, Windows only with a privilege few processes
// hold. So each heap keeps the last large block freed and hands it out again
// for a request it fits closely, as the C runtime's allocator on Linux keeps
// freed memory for the next request: a host that converts picture after
// picture pays the page faults once, not for every picture.
#include "platform/fail_inject.h"
#include "platform/fail_reason.h"
#include "platform/heaps.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <new>

namespace oct::plat {
namespace {

// Blocks of this size or more are large: kept when freed, up to the upper
// size, so a heap never holds more than that for nothing.
constexpr std::size_t kKeepFrom = std::size_t{4} << 20;
constexpr std::size_t kKeepUpTo = std::size_t{256} << 20;

bool keepable(std::size_t size) { return size >= kKeepFrom && size <= kKeepUpTo; }

}  // namespace

struct Heap {
    HANDLE handle;
    std::atomic<std::int64_t> live{0};
    // Keepable blocks handed out: only while there are some can a free be of
    // one, so other frees skip the size lookup.
    std::atomic<std::int64_t> keepableLive{0};
    std::atomic<void*> kept{nullptr};  // the last keepable block freed, or null
};

Heap* heapCreate() {
    HANDLE h = HeapCreate(0, 4096, 0);
    if (!h) return nullptr;
    void* record = HeapAlloc(h, 0, sizeof(Heap));
    if (!record) {
        HeapDestroy(h);
        return nullptr;
    }
    auto* heap = new (record) Heap;
    heap->handle = h;
    return heap;
}

void heapDestroy(Heap* heap) {
    if (heap) HeapDestroy(heap->handle);  // the record goes with the heap, and the kept block
}

namespace {

// The kept block when it fits a request of `size` bytes with at most a
// quarter of it unused; a poor fit goes back to the system. It holds what
// its last user wrote: the bytes past `size` are cleared in any case, since
// the heap keeps the block's whole size and a growing realloc clears only
// beyond that; the first `size` when `zero`.
void* takeKept(Heap* heap, std::size_t size, bool zero) {
    void* block = heap->kept.exchange(nullptr, std::memory_order_acquire);
    if (!block) return nullptr;
    const SIZE_T have = HeapSize(heap->handle, 0, block);
    if (have == static_cast<SIZE_T>(-1) || have < size || have - size > have / 4) {
        HeapFree(heap->handle, 0, block);
        return nullptr;
    }
    const std::size_t from = zero ? 0 : size;
    std::memset(static_cast<std::uint8_t*>(block) + from, 0, have - from);
    return block;
}

}  // namespace

void* heapAlloc(Heap* heap, std::size_t size, bool zero) {
    if (!heap || size == 0) return nullptr;
    if (failThisCall(FailKind::Alloc, size)) return failNoMemory(size), nullptr;
    void* block = nullptr;
    if (keepable(size)) block = takeKept(heap, size, zero);
    if (!block) block = HeapAlloc(heap->handle, zero ? HEAP_ZERO_MEMORY : 0, size);
    if (!block) return failNoMemory(size), nullptr;
    heap->live.fetch_add(1, std::memory_order_relaxed);
    if (keepable(size)) heap->keepableLive.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void* heapRealloc(Heap* heap, void* block, std::size_t size, bool zeroNew) {
    if (!block) return heapAlloc(heap, size, zeroNew);
    if (!heap || size == 0) return nullptr;
    const SIZE_T old = HeapSize(heap->handle, 0, block);
    if (size > old && failThisCall(FailKind::Alloc, size)) return failNoMemory(size), nullptr;
    void* grown = HeapReAlloc(heap->handle, zeroNew ? HEAP_ZERO_MEMORY : 0, block, size);
    if (!grown) failNoMemory(size);
    if (grown) {
        const bool was = old != static_cast<SIZE_T>(-1) && keepable(old);
        if (was != keepable(size)) heap->keepableLive.fetch_add(was ? -1 : 1, std::memory_order_relaxed);
    }
    return grown;
}

void heapFree(Heap* heap, void* block) {
    if (!heap || !block) return;
    if (heap->keepableLive.load(std::memory_order_relaxed) > 0) {
        const SIZE_T size = HeapSize(heap->handle, 0, block);
        if (size != static_cast<SIZE_T>(-1) && keepable(size)) {
            heap->keepableLive.fetch_sub(1, std::memory_order_relaxed);
            heap->live.fetch_sub(1, std::memory_order_relaxed);
            if (void* older = heap->kept.exchange(block, std::memory_order_acq_rel)) HeapFree(heap->handle, 0, older);
            return;
        }
    }
    if (HeapFree(heap->handle, 0, block)) heap->live.fetch_sub(1, std::memory_order_relaxed);
}

std::int64_t heapLiveBlocks(Heap* heap) { return heap ? heap->live.load(std::memory_order_relaxed) : 0; }

}  // namespace oct::plat
