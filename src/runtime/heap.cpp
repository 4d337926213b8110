#include "runtime/heap.h"

#include <cstring>

#include "platform/fail_inject.h"
#include "platform/heaps.h"
#include "runtime/strings.h"

namespace oct {
namespace {

plat::Heap* gMainHeap = nullptr;
plat::Heap* gMemoryHeap = nullptr;

// Sizes cross the interface as signed 64-bit values; 0 or less allocates nothing.
bool validSize(std::int64_t size) { return size > 0; }

}  // namespace

void memStartMainHeap() { gMainHeap = plat::heapCreate(); }

void memStopMainHeap() {
    plat::heapDestroy(gMainHeap);
    gMainHeap = nullptr;
}

plat::Heap* memMainHeap() { return gMainHeap; }

void* memMainAlloc(std::int64_t size, bool zero) {
    if (!validSize(size)) return nullptr;
    return plat::heapAlloc(gMainHeap, static_cast<std::size_t>(size), zero);
}

void* memMainRealloc(void* block, std::int64_t size) {
    if (!validSize(size)) return nullptr;
    return plat::heapRealloc(gMainHeap, block, static_cast<std::size_t>(size), true);
}

void memMainFree(void* block) { plat::heapFree(gMainHeap, block); }

void memStartModule() { gMemoryHeap = plat::heapCreate(); }

void memStopModule() {
    plat::heapDestroy(gMemoryHeap);
    gMemoryHeap = nullptr;
}

MemLiveBlocks memLiveBlocks() {
    return {plat::heapLiveBlocks(gMainHeap), plat::heapLiveBlocks(strHeap()), plat::heapLiveBlocks(gMemoryHeap)};
}

void* memAlloc(std::int64_t size) { return memAllocEx(size, 0); }

void* memAllocEx(std::int64_t size, std::int64_t flags) {
    if (!validSize(size)) return nullptr;
    return plat::heapAlloc(gMemoryHeap, static_cast<std::size_t>(size), (flags & kMemNoZero) == 0);
}

void memFree(void* block) { plat::heapFree(gMemoryHeap, block); }

// ---------------------------------------------------------------------------
// Memory blocks with structure descriptors (docs/formats/memory-block.md)
// ---------------------------------------------------------------------------
namespace {

constexpr std::int64_t kDescEnd = -1;
constexpr std::int64_t kDescArray = -2;
constexpr std::int64_t kDescEmbedded = -3;
constexpr int kMaxDescriptorDepth = 16;  // sub-descriptors nest no deeper than this

// True when every member kind of the descriptor (and its sub-descriptors) is
// one this library can release.
bool descriptorSupported(MemDescriptor d, int depth) {
    if (depth > kMaxDescriptorDepth) return false;
    for (;;) {
        std::int64_t word = *d++;
        if (word >= 0) continue;
        if (word == kDescEnd) return true;
        if (word == kDescArray) {
            auto sub = reinterpret_cast<MemDescriptor>(d[3]);
            if (sub && !descriptorSupported(sub, depth + 1)) return false;
            d += 4;
        } else if (word == kDescEmbedded) {
            auto sub = reinterpret_cast<MemDescriptor>(d[2]);
            if (sub && !descriptorSupported(sub, depth + 1)) return false;
            d += 3;
        } else {
            return false;
        }
    }
}

void releaseMembers(std::uint8_t* base, MemDescriptor d) {
    for (;;) {
        std::int64_t word = *d++;
        if (word >= 0) {
            void* copy;
            std::memcpy(&copy, base + word, sizeof copy);
            strFreeArg(static_cast<char16_t*>(copy));
            std::memset(base + word, 0, sizeof copy);
        } else if (word == kDescArray) {
            std::int64_t count = d[0], offset = d[1], size = d[2];
            auto sub = reinterpret_cast<MemDescriptor>(d[3]);
            if (sub)
                for (std::int64_t i = 0; i < count; ++i) releaseMembers(base + offset + i * size, sub);
            d += 4;
        } else if (word == kDescEmbedded) {
            auto sub = reinterpret_cast<MemDescriptor>(d[2]);
            if (sub) releaseMembers(base + d[0], sub);
            d += 3;
        } else {
            return;
        }
    }
}

}  // namespace

void* memBlockAlloc(std::int64_t size, MemDescriptor descriptor) {
    constexpr std::int64_t kWord = sizeof(std::int64_t);
    if (!validSize(size) || size > INT64_MAX - kWord) return nullptr;
    // String, array and embedded members start out null in the zero-filled
    // block, so they need no initialisation.
    if (descriptor && !descriptorSupported(descriptor, 0)) return nullptr;
    auto* raw = static_cast<std::uint8_t*>(memAlloc(size + kWord));
    if (!raw) return nullptr;
    std::memcpy(raw, &descriptor, sizeof descriptor);
    return raw + kWord;
}

void memBlockFree(void* block) {
    if (!block) return;
    auto* raw = static_cast<std::uint8_t*>(block) - sizeof(std::int64_t);
    MemDescriptor descriptor;
    std::memcpy(&descriptor, raw, sizeof descriptor);
    if (descriptor) releaseMembers(static_cast<std::uint8_t*>(block), descriptor);
    memFree(raw);
}

void* memCopy(const void* source, void* destination, std::int64_t count) {
    if (count <= 0) return destination;
    std::memcpy(destination, source, static_cast<std::size_t>(count));
    return static_cast<std::uint8_t*>(destination) + count;
}

}  // namespace oct
