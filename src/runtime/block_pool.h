// Block pools: fixed-size blocks carved from larger chunks of the main heap,
// for records made and dropped in large numbers (span records of area fills,
// list nodes).
#pragma once

#include <cstdint>

#include "platform/threads.h"

namespace oct {

struct PoolChunk;
struct PoolShare;

struct BlockPool {
    PoolChunk* full;          // chunks with no block left to hand out
    PoolChunk* partial;       // chunks that still have blocks to hand out
    PoolShare* share;         // the shared-pool entry that owns this pool, or null
    std::int64_t total;       // sum of the capacities of all chunks
    std::int64_t stride;      // one block with its 8-byte header; a multiple of 8
    std::int32_t minimum;     // fewest blocks in a new chunk
    std::int32_t maximum;     // most blocks in a new chunk
    std::int32_t locked;      // 1: every operation holds `lock`
    plat::RecursiveLock lock; // initialised only when locked
};

// Flags of memPoolCreate. The low two bits select locking: 0 and 1 lock, 2 and
// 3 do not.
constexpr std::int32_t kPoolLockMask = 3;
constexpr std::int32_t kPoolUnlocked = 2;
constexpr std::int32_t kPoolShared = 4;  // one pool per stride and flags value, reference-counted

// A pool handing out blocks of `payload` bytes (stride = payload + 8 rounded up
// to a multiple of 8), with new chunks of `minimum` to `maximum` blocks. A
// shared request returns the existing shared pool of the same stride and
// flags, counting one more reference. Null for a payload of 0 or less, or when
// the pool record cannot be made. A minimum below 1 counts as 1.
BlockPool* memPoolCreate(std::int64_t payload, std::int32_t minimum, std::int32_t maximum, std::int32_t flags);

// A block's payload address (not zero-filled), or null when not even a
// one-block chunk can be allocated.
void* memPoolAlloc(BlockPool* pool);

// Gives a block back. A chunk returns to the heap as soon as every block ever
// handed out from it is back. Null does nothing.
void memPoolFree(BlockPool* pool, void* payload);

// Frees every chunk; blocks handed out before become invalid.
void memPoolReset(BlockPool* pool);

// Destroys a private pool; a shared one only when its last reference goes.
void memPoolDestroy(BlockPool* pool);

// Test view of a pool: how many blocks the chunk holding `payload` has.
std::int32_t memPoolChunkCapacity(const void* payload);

}  // namespace oct
