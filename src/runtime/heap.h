// The runtime's private heaps and the memory interface.
//
// Three heaps hold all of the runtime's memory: the main heap (runtime
// records), the string heap (see strings.h) and the memory heap (blocks of the
// memory interface below). Each is destroyed as a whole at module stop, which
// frees every block still in it.
#pragma once

#include <cstdint>

#include "platform/heaps.h"

namespace oct {

// Main heap: created first at start, destroyed last at stop.
void memStartMainHeap();
void memStopMainHeap();
plat::Heap* memMainHeap();

// Main-heap blocks for runtime records. Zero-filled unless `zero` is false;
// null for a size of 0 or less or when the heap cannot supply it.
void* memMainAlloc(std::int64_t size, bool zero = true);
void* memMainRealloc(void* block, std::int64_t size);  // new bytes zero-filled
void memMainFree(void* block);

// Memory heap: the third start step creates it, the last module stop step
// destroys it with every block still allocated from it.
void memStartModule();
void memStopModule();

// A zero-filled block of `size` bytes from the memory heap. Null for a size of
// 0 or less, before the memory heap exists, or when the heap cannot supply it.
void* memAlloc(std::int64_t size);

// Flags of memAllocEx.
constexpr std::int64_t kMemNoZero = 1;  // bit 0: leave the block's bytes as they are

// As memAlloc; with kMemNoZero in `flags` the block is not zero-filled.
void* memAllocEx(std::int64_t size, std::int64_t flags);

// Returns a block of memAlloc or memAllocEx to the memory heap. Null does nothing.
void memFree(void* block);

// Structure descriptor of a memory block: a list of 64-bit words naming the
// dynamic members of the structure that the block holds (docs/formats/memory-block.md).
//   n ≥ 0   a string member at offset n (a string copy, see strCopyArg)
//   −1      end of the list
//   −2      fixed array of sub-structures: count, offset, element size, sub-descriptor
//   −3      embedded sub-structure: offset, size, sub-descriptor
// Kinds −4 to −7 belong to modules this library does not have; a descriptor
// naming one is refused by memBlockAlloc.
using MemDescriptor = const std::int64_t*;

// An 8-byte descriptor word followed by `size` zero-filled bytes from the
// memory heap; returns the address after the descriptor word. Null for a size
// of 0 or less, a descriptor with an unsupported member kind, or no memory.
void* memBlockAlloc(std::int64_t size, MemDescriptor descriptor = nullptr);

// Releases the dynamic members named by the block's descriptor, then the
// whole block from its descriptor word on. Null does nothing.
void memBlockFree(void* block);

// Blocks still allocated from each of the three heaps, for tests that look
// for leaks: a heap that does not exist counts 0.
struct MemLiveBlocks {
    std::int64_t main, strings, memory;
    bool operator==(const MemLiveBlocks&) const = default;
};
MemLiveBlocks memLiveBlocks();

// Copies `count` bytes (the areas must not overlap) and returns
// destination + count, so calls chain to fill a buffer piece by piece.
void* memCopy(const void* source, void* destination, std::int64_t count);

}  // namespace oct
