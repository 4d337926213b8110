// Heaps: the private, growable heaps that the runtime's allocator takes its
// blocks from (HeapCreate and its kin on Windows; on Linux the layer's own,
// which free every block when destroyed).
#pragma once

#include <cstddef>

namespace oct::plat {

// A private, growable heap whose operations may be called from any thread.
// Destroying it frees every block still allocated from it.
struct Heap;

// Creates a heap (initial size 4,096 bytes, no maximum). Null on failure.
Heap* heapCreate();
// Destroys the heap and every block in it. Null does nothing.
void heapDestroy(Heap* heap);
// A block of `size` bytes (size ≥ 1), zero-filled when `zero`; null when the
// heap cannot supply it.
void* heapAlloc(Heap* heap, std::size_t size, bool zero);
// Resizes a block; bytes beyond the old size are zero when `zeroNew`. On
// failure returns null and the old block stays valid.
void* heapRealloc(Heap* heap, void* block, std::size_t size, bool zeroNew);
// Returns a block to its heap. Null does nothing.
void heapFree(Heap* heap, void* block);

}  // namespace oct::plat
