#include "platform/posix/pixels.h"

#include <sys/mman.h>

#include <cstdlib>

namespace oct::plat::posix {
namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;
// Smaller bitmaps stay with malloc: a mapping per small picture costs more than it saves.
constexpr std::size_t kMapFrom = 4 * kLargePage;

std::size_t mappedSize(std::size_t bytes) { return (bytes + kLargePage - 1) & ~(kLargePage - 1); }

}  // namespace

std::uint8_t* pixelsAlloc(std::size_t bytes) {
    if (bytes < kMapFrom) return static_cast<std::uint8_t*>(std::calloc(1, bytes));
    void* p = ::mmap(nullptr, mappedSize(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
    ::madvise(p, mappedSize(bytes), MADV_HUGEPAGE);  // a hint: without large pages the mapping still works
#endif
    return static_cast<std::uint8_t*>(p);
}

void pixelsFree(std::uint8_t* pixels, std::size_t bytes) {
    if (!pixels) return;
    if (bytes < kMapFrom)
        std::free(pixels);
    else
        ::munmap(pixels, mappedSize(bytes));
}

}  // namespace oct::plat::posix
