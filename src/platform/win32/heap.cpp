// Heaps for Windows: kernel heaps, growable and serialized. The heap's own
// first block holds its handle and the count of blocks handed out.
#include "platform/platform.h"

#include <windows.h>

#include <atomic>
#include <new>

namespace oct::plat {

struct Heap {
    HANDLE handle;
    std::atomic<std::int64_t> live{0};
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
    if (heap) HeapDestroy(heap->handle);  // the record goes with the heap
}

void* heapAlloc(Heap* heap, std::size_t size, bool zero) {
    if (!heap || size == 0 || failThisCall(FailKind::Alloc)) return nullptr;
    void* block = HeapAlloc(heap->handle, zero ? HEAP_ZERO_MEMORY : 0, size);
    if (block) heap->live.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void* heapRealloc(Heap* heap, void* block, std::size_t size, bool zeroNew) {
    if (!block) return heapAlloc(heap, size, zeroNew);
    if (!heap || size == 0) return nullptr;
    if (size > HeapSize(heap->handle, 0, block) && failThisCall(FailKind::Alloc)) return nullptr;
    return HeapReAlloc(heap->handle, zeroNew ? HEAP_ZERO_MEMORY : 0, block, size);
}

void heapFree(Heap* heap, void* block) {
    if (heap && block && HeapFree(heap->handle, 0, block)) heap->live.fetch_sub(1, std::memory_order_relaxed);
}

std::int64_t heapLiveBlocks(Heap* heap) { return heap ? heap->live.load(std::memory_order_relaxed) : 0; }

}  // namespace oct::plat
