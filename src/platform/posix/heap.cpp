// Heaps for Linux: every block carries a header that links it into its heap's
// list, so that destroying the heap can free whatever is still allocated, as a
// Windows heap does. The list is guarded by the heap's mutex.
#include "platform/fail_inject.h"
#include "platform/heaps.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "platform/fail_reason.h"

namespace oct::plat {
namespace {

// A multiple of 16 bytes (32 with 64-bit pointers), so that the caller's
// bytes keep malloc's 16-byte alignment.
struct alignas(16) BlockHeader {
    BlockHeader* prev;
    BlockHeader* next;
    std::size_t size;
    std::size_t mapped;  // bytes of the block's own mapping, or 0 for a malloc block
};
static_assert(sizeof(BlockHeader) % 16 == 0);

// Larger requests are refused outright rather than handed to malloc, which
// under the sanitizers would abort instead of returning null. (The
// WebAssembly module's memory ends at 2 GiB.)
constexpr std::size_t kMaxBlock = sizeof(std::size_t) == 8 ? static_cast<std::size_t>(std::uint64_t{1} << 46)
                                                           : std::size_t{1} << 31;

// Blocks this large get a mapping of their own in 2 MiB pages where the
// kernel offers them: such blocks (level buffers, pictures) are written whole
// right away, and a fault per 4 KiB page would cost more than the writing.
constexpr std::size_t kLargePage = std::size_t{2} << 20;
constexpr std::size_t kMapFrom = 4 * kLargePage;

// The last mapped block freed is kept, up to this size, and handed out again
// for a request it fits closely, as the Windows layer keeps its last large
// block: a host that converts picture after picture maps and faults its
// buffers once, not for every picture.
constexpr std::size_t kKeepUpTo = std::size_t{256} << 20;

// (The WebAssembly module maps nothing: emscripten's mmap is an allocation
// that it clears, whether the block is to be zero or not.)
#if defined(__EMSCRIPTEN__)
constexpr bool kMapping = false;
#else
constexpr bool kMapping = true;
#endif

BlockHeader* rawAlloc(std::size_t size, bool zero) {
    const std::size_t total = sizeof(BlockHeader) + size;
    if (kMapping && size >= kMapFrom) {
        const std::size_t mapped = (total + kLargePage - 1) & ~(kLargePage - 1);
        void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
        ::madvise(p, mapped, MADV_HUGEPAGE);  // only a hint
#endif
        auto* b = static_cast<BlockHeader*>(p);  // a fresh mapping is zero-filled
        b->mapped = mapped;
        return b;
    }
    auto* b = static_cast<BlockHeader*>(zero ? std::calloc(1, total) : std::malloc(total));
    if (b) b->mapped = 0;
    return b;
}

void rawFree(BlockHeader* b) {
    if (b->mapped)
        ::munmap(b, b->mapped);
    else
        std::free(b);
}

}  // namespace

struct Heap {
    std::mutex lock;
    BlockHeader ring{&ring, &ring, 0, 0};  // sentinel of the circular block list
    std::int64_t live = 0;                  // blocks in the list
    BlockHeader* kept = nullptr;            // the last mapped block freed, or null
};

Heap* heapCreate() { return new (std::nothrow) Heap; }

void heapDestroy(Heap* heap) {
    if (!heap) return;
    for (BlockHeader* b = heap->ring.next; b != &heap->ring;) {
        BlockHeader* next = b->next;
        rawFree(b);
        b = next;
    }
    if (heap->kept) rawFree(heap->kept);
    delete heap;
}

namespace {
// The kept block when its mapping holds `size` bytes with at most a quarter
// of it unused, zero-filled when `zero`; a poor fit is unmapped.
BlockHeader* takeKept(Heap* heap, std::size_t size, bool zero) {
    BlockHeader* b;
    {
        std::lock_guard guard(heap->lock);
        b = heap->kept;
        heap->kept = nullptr;
    }
    if (!b) return nullptr;
    const std::size_t total = sizeof(BlockHeader) + size;
    if (b->mapped >= total && b->mapped - total <= b->mapped / 4) {
        // It holds what its last user wrote.
        if (zero) std::memset(b + 1, 0, size);
        return b;
    }
    rawFree(b);
    return nullptr;
}

// A new block linked into the heap's list; the caller has checked the size.
void* allocLinked(Heap* heap, std::size_t size, bool zero) {
    BlockHeader* b = size >= kMapFrom ? takeKept(heap, size, zero) : nullptr;
    if (!b) b = rawAlloc(size, zero);
    if (!b) return nullptr;
    b->size = size;
    std::lock_guard guard(heap->lock);
    b->prev = &heap->ring;
    b->next = heap->ring.next;
    heap->ring.next->prev = b;
    heap->ring.next = b;
    ++heap->live;
    return b + 1;
}
}  // namespace

void* heapAlloc(Heap* heap, std::size_t size, bool zero) {
    if (!heap || size == 0) return nullptr;
    void* block = size > kMaxBlock || failThisCall(FailKind::Alloc, size) ? nullptr : allocLinked(heap, size, zero);
    if (!block) failNoMemory(size);
    return block;
}

void* heapRealloc(Heap* heap, void* block, std::size_t size, bool zeroNew) {
    if (!block) return heapAlloc(heap, size, zeroNew);
    if (!heap || size == 0) return nullptr;
    if (size > kMaxBlock) return failNoMemory(size), nullptr;
    BlockHeader* old = static_cast<BlockHeader*>(block) - 1;
    if (size > old->size && failThisCall(FailKind::Alloc, size)) return failNoMemory(size), nullptr;
    if (old->mapped || size >= kMapFrom) {
        // Across the mapping threshold: a new block, the bytes copied over.
        void* fresh = allocLinked(heap, size, zeroNew);
        if (!fresh) return failNoMemory(size), nullptr;
        std::memcpy(fresh, block, old->size < size ? old->size : size);
        heapFree(heap, block);
        return fresh;
    }
    std::lock_guard guard(heap->lock);
    std::size_t oldSize = old->size;
    auto* b = static_cast<BlockHeader*>(std::realloc(old, sizeof(BlockHeader) + size));
    if (!b) return failNoMemory(size), nullptr;
    // The block may have moved: mend the neighbours' links.
    b->prev->next = b;
    b->next->prev = b;
    b->size = size;
    if (zeroNew && size > oldSize)
        std::memset(reinterpret_cast<std::uint8_t*>(b + 1) + oldSize, 0, size - oldSize);
    return b + 1;
}

void heapFree(Heap* heap, void* block) {
    if (!heap || !block) return;
    BlockHeader* b = static_cast<BlockHeader*>(block) - 1;
    {
        std::lock_guard guard(heap->lock);
        b->prev->next = b->next;
        b->next->prev = b->prev;
        --heap->live;
        if (b->mapped && b->mapped <= kKeepUpTo) std::swap(b, heap->kept);
    }
    if (b) rawFree(b);
}

std::int64_t heapLiveBlocks(Heap* heap) {
    if (!heap) return 0;
    std::lock_guard guard(heap->lock);
    return heap->live;
}

}  // namespace oct::plat
