#include "platform/posix/pixels.h"

#include <sys/mman.h>

#include <cstdlib>
#include <mutex>
#include <utility>

namespace oct::plat::posix {
namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;
// Smaller bitmaps stay with malloc: a mapping per small picture costs more than it saves.
constexpr std::size_t kMapFrom = 4 * kLargePage;
// The largest mapping kept for reuse after its bitmap is freed: a 4096 ×
// 4096 picture at 32 bits. One is kept at a time, so a host holds at most
// this much beyond its live bitmaps.
constexpr std::size_t kMostKept = std::size_t{64} << 20;

std::size_t mappedSize(std::size_t bytes) { return (bytes + kLargePage - 1) & ~(kLargePage - 1); }

// The one mapping kept: its address and mapped size, or null.
struct Kept {
    std::mutex lock;
    void* pixels = nullptr;
    std::size_t size = 0;
};
Kept gKept;

// The kept mapping when it has exactly `size` mapped bytes, else null.
void* takeKept(std::size_t size) {
    std::lock_guard<std::mutex> hold(gKept.lock);
    if (!gKept.pixels || gKept.size != size) return nullptr;
    gKept.size = 0;
    return std::exchange(gKept.pixels, nullptr);
}

// Keeps `pixels` in place of the mapping kept before, which is unmapped.
void keep(void* pixels, std::size_t size) {
    void* old = nullptr;
    std::size_t oldSize = 0;
    {
        std::lock_guard<std::mutex> hold(gKept.lock);
        old = std::exchange(gKept.pixels, pixels);
        oldSize = std::exchange(gKept.size, size);
    }
    if (old) ::munmap(old, oldSize);
}

}  // namespace

// The WebAssembly module's memory has no pages to map: emscripten's mmap is
// an allocation that it clears, which would clear every rebuilt picture
// before it is written. Its allocator hands freed blocks out again as they
// are, as the kept mapping does here.
#if defined(__EMSCRIPTEN__)
constexpr bool kMapping = false;
#else
constexpr bool kMapping = true;
#endif

std::uint8_t* pixelsAlloc(std::size_t bytes, bool zeroed) {
    if (!kMapping) return static_cast<std::uint8_t*>(zeroed ? std::calloc(1, bytes) : std::malloc(bytes ? bytes : 1));
    if (bytes < kMapFrom) return static_cast<std::uint8_t*>(std::calloc(1, bytes));
    const std::size_t size = mappedSize(bytes);
    if (!zeroed) {
        if (void* kept = takeKept(size)) return static_cast<std::uint8_t*>(kept);
    }
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
    ::madvise(p, size, MADV_HUGEPAGE);  // a hint: without large pages the mapping still works
#endif
    return static_cast<std::uint8_t*>(p);
}

void pixelsFree(std::uint8_t* pixels, std::size_t bytes) {
    if (!pixels) return;
    if (!kMapping || bytes < kMapFrom) {
        std::free(pixels);
        return;
    }
    const std::size_t size = mappedSize(bytes);
    if (size <= kMostKept)
        keep(pixels, size);
    else
        ::munmap(pixels, size);
}

}  // namespace oct::plat::posix
