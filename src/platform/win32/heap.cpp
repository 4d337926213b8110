// Heaps for Windows: kernel heaps, growable and serialized.
#include "platform/platform.h"

#include <windows.h>

namespace oct::plat {

Heap* heapCreate() { return reinterpret_cast<Heap*>(HeapCreate(0, 4096, 0)); }

void heapDestroy(Heap* heap) {
    if (heap) HeapDestroy(reinterpret_cast<HANDLE>(heap));
}

void* heapAlloc(Heap* heap, std::size_t size, bool zero) {
    if (!heap || size == 0) return nullptr;
    return HeapAlloc(reinterpret_cast<HANDLE>(heap), zero ? HEAP_ZERO_MEMORY : 0, size);
}

void* heapRealloc(Heap* heap, void* block, std::size_t size, bool zeroNew) {
    if (!block) return heapAlloc(heap, size, zeroNew);
    if (!heap || size == 0) return nullptr;
    return HeapReAlloc(reinterpret_cast<HANDLE>(heap), zeroNew ? HEAP_ZERO_MEMORY : 0, block, size);
}

void heapFree(Heap* heap, void* block) {
    if (heap && block) HeapFree(reinterpret_cast<HANDLE>(heap), 0, block);
}

}  // namespace oct::plat
