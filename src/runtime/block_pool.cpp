#include "runtime/block_pool.h"

#include <cstring>

#include "platform/threads.h"
#include "runtime/heap.h"
#include "runtime/run_once.h"

namespace oct {

// Chunk: this header, then `capacity` blocks of `stride` bytes. A block is an
// 8-byte header and its payload; the header holds the chunk's address while
// the block is handed out, and the next free block of the chunk while it is free.
struct PoolChunk {
    PoolChunk* next;
    PoolChunk* prev;
    void* freeList;         // first free block (its header address)
    std::int32_t capacity;  // blocks in the chunk
    std::int32_t bump;      // blocks taken so far from the never-used area
    std::int32_t freeCount; // blocks on the free list
};

struct PoolShare {
    PoolShare* next;
    PoolShare* prev;
    BlockPool* pool;
    std::int64_t stride;
    std::int32_t flags;  // the full flags value given at creation
    std::int32_t references;
};

namespace {

constexpr std::int64_t kBlockHeader = 8;
// Blocks start 8-aligned behind the chunk header.
constexpr std::int64_t kChunkHeader = (sizeof(PoolChunk) + 7) & ~std::int64_t{7};

std::uint8_t* blockAt(PoolChunk* chunk, std::int64_t stride, std::int32_t index) {
    return reinterpret_cast<std::uint8_t*>(chunk) + kChunkHeader + index * stride;
}

void* readWord(const void* at) {
    void* word;
    std::memcpy(&word, at, sizeof word);
    return word;
}
void writeWord(void* at, const void* word) { std::memcpy(at, &word, sizeof word); }

void pushChunk(PoolChunk*& list, PoolChunk* chunk) {
    chunk->prev = nullptr;
    chunk->next = list;
    if (list) list->prev = chunk;
    list = chunk;
}

void unlinkChunk(PoolChunk*& list, PoolChunk* chunk) {
    if (chunk->prev)
        chunk->prev->next = chunk->next;
    else
        list = chunk->next;
    if (chunk->next) chunk->next->prev = chunk->prev;
}

void freeChunks(PoolChunk* chunk) {
    while (chunk) {
        PoolChunk* next = chunk->next;
        memMainFree(chunk);
        chunk = next;
    }
}

PoolChunk* allocateChunk(std::int64_t stride, std::int32_t blocks) {
    if (stride > (INT64_MAX - kChunkHeader) / blocks) return nullptr;
    return static_cast<PoolChunk*>(memMainAlloc(kChunkHeader + blocks * stride, false));
}

// Chunk size: about a sixteenth of the blocks the pool already has, in
// multiples of 16, within the pool's minimum and maximum.
std::int32_t nextChunkBlocks(const BlockPool* pool) {
    std::int64_t n = (pool->total / 16) & ~std::int64_t{15};
    if (n < pool->minimum) return pool->minimum;
    if (n > pool->maximum) return pool->maximum;
    return static_cast<std::int32_t>(n);
}

class PoolHold {
public:
    explicit PoolHold(BlockPool* pool) : pool_(pool) {
        if (pool_->locked) plat::lockEnter(pool_->lock);
    }
    ~PoolHold() {
        if (pool_->locked) plat::lockLeave(pool_->lock);
    }
    PoolHold(const PoolHold&) = delete;
    PoolHold& operator=(const PoolHold&) = delete;

private:
    BlockPool* pool_;
};

// ---------------------------------------------------------------------------
// Shared pools: one process-wide list, set up on first use.
// ---------------------------------------------------------------------------

plat::OnceFlag gShareOnce{};
plat::RecursiveLock gShareLock;
bool gShareLockReady = false;
PoolShare* gShares = nullptr;

void setUpShares() { gShareLockReady = plat::lockInit(gShareLock); }

BlockPool* createPrivate(std::int64_t payload, std::int32_t minimum, std::int32_t maximum, std::int32_t flags) {
    auto* pool = static_cast<BlockPool*>(memMainAlloc(sizeof(BlockPool)));
    if (!pool) return nullptr;
    pool->stride = (payload + kBlockHeader + 7) & ~std::int64_t{7};
    pool->minimum = minimum < 1 ? 1 : minimum;
    pool->maximum = maximum < pool->minimum ? pool->minimum : maximum;
    if ((flags & kPoolLockMask) < kPoolUnlocked) {
        if (!plat::lockInit(pool->lock)) {
            memMainFree(pool);
            return nullptr;
        }
        pool->locked = 1;
    }
    return pool;
}

void destroyPrivate(BlockPool* pool) {
    memPoolReset(pool);
    if (pool->locked) plat::lockDelete(pool->lock);
    memMainFree(pool);
}

BlockPool* createShared(std::int64_t payload, std::int32_t minimum, std::int32_t maximum, std::int32_t flags) {
    modRunOnce(gShareOnce, setUpShares);
    if (!gShareLockReady) return nullptr;
    const std::int64_t stride = (payload + kBlockHeader + 7) & ~std::int64_t{7};
    plat::LockHold hold(gShareLock);
    for (PoolShare* entry = gShares; entry; entry = entry->next) {
        if (entry->stride == stride && entry->flags == flags && entry->pool) {
            ++entry->references;
            return entry->pool;
        }
    }
    auto* entry = static_cast<PoolShare*>(memMainAlloc(sizeof(PoolShare)));
    if (!entry) return nullptr;
    BlockPool* pool = createPrivate(payload, minimum, maximum, flags & ~kPoolShared);
    if (!pool) {
        memMainFree(entry);
        return nullptr;
    }
    pool->share = entry;
    entry->pool = pool;
    entry->stride = stride;
    entry->flags = flags;
    entry->references = 1;
    entry->next = gShares;
    if (gShares) gShares->prev = entry;
    gShares = entry;
    return pool;
}

}  // namespace

BlockPool* memPoolCreate(std::int64_t payload, std::int32_t minimum, std::int32_t maximum, std::int32_t flags) {
    if (payload <= 0 || payload > INT64_MAX / 2) return nullptr;
    if (flags & kPoolShared) return createShared(payload, minimum, maximum, flags);
    return createPrivate(payload, minimum, maximum, flags);
}

void* memPoolAlloc(BlockPool* pool) {
    if (!pool) return nullptr;
    PoolHold hold(pool);
    PoolChunk* chunk = pool->partial;
    std::uint8_t* block;
    if (chunk) {
        if (chunk->freeCount > 0) {
            block = static_cast<std::uint8_t*>(chunk->freeList);
            chunk->freeList = readWord(block);
            --chunk->freeCount;
        } else {
            block = blockAt(chunk, pool->stride, chunk->bump++);
        }
        if (chunk->freeCount == 0 && chunk->bump >= chunk->capacity) {
            unlinkChunk(pool->partial, chunk);
            pushChunk(pool->full, chunk);
        }
    } else {
        std::int32_t n = nextChunkBlocks(pool);
        chunk = allocateChunk(pool->stride, n);
        if (!chunk) {
            n = 1;
            chunk = allocateChunk(pool->stride, n);
            if (!chunk) return nullptr;
        }
        chunk->capacity = n;
        chunk->freeCount = 0;
        chunk->freeList = nullptr;
        chunk->bump = 1;  // its first block is the one handed out now
        pool->total += n;
        pushChunk(n > 1 ? pool->partial : pool->full, chunk);
        block = blockAt(chunk, pool->stride, 0);
    }
    writeWord(block, chunk);
    return block + kBlockHeader;
}

void memPoolFree(BlockPool* pool, void* payload) {
    if (!pool || !payload) return;
    PoolHold hold(pool);
    std::uint8_t* block = static_cast<std::uint8_t*>(payload) - kBlockHeader;
    auto* chunk = static_cast<PoolChunk*>(readWord(block));
    writeWord(block, chunk->freeList);
    chunk->freeList = block;
    ++chunk->freeCount;
    if (chunk->freeCount == chunk->bump) {
        // Every block ever handed out from this chunk is back. A chunk with
        // more than one block cannot be full now (it just got a block back),
        // so it sits on the partial list.
        unlinkChunk(chunk->capacity == 1 ? pool->full : pool->partial, chunk);
        pool->total -= chunk->capacity;
        memMainFree(chunk);
    } else if (chunk->freeCount == 1 && chunk->bump >= chunk->capacity) {
        unlinkChunk(pool->full, chunk);
        pushChunk(pool->partial, chunk);
    }
}

void memPoolReset(BlockPool* pool) {
    if (!pool) return;
    PoolHold hold(pool);
    freeChunks(pool->full);
    freeChunks(pool->partial);
    pool->full = pool->partial = nullptr;
    pool->total = 0;
}

void memPoolDestroy(BlockPool* pool) {
    if (!pool) return;
    if (!pool->share) {
        destroyPrivate(pool);
        return;
    }
    plat::LockHold hold(gShareLock);
    PoolShare* entry = pool->share;
    if (--entry->references > 0) return;
    pool->share = nullptr;
    destroyPrivate(pool);
    if (entry->prev)
        entry->prev->next = entry->next;
    else
        gShares = entry->next;
    if (entry->next) entry->next->prev = entry->prev;
    memMainFree(entry);
}

std::int32_t memPoolChunkCapacity(const void* payload) {
    auto* block = static_cast<const std::uint8_t*>(payload) - kBlockHeader;
    return static_cast<const PoolChunk*>(readWord(block))->capacity;
}

}  // namespace oct
