// The test program's C++ allocator: every operator new asks the failure
// injection first (an injected Alloc failure gives null, or bad_alloc from
// the throwing forms) and is counted, so that the library's own containers
// and objects take part in the allocation-failure loops. ThreadSanitizer's
// runtime defines the allocator itself, so under it nothing is replaced and
// the C++ allocations are neither failed nor counted.
#include <atomic>
#include <cstdlib>
#include <new>

#include "fail/fail_loop.h"
#include "platform/fail_inject.h"

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define OCT_TEST_KEEPS_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define OCT_TEST_KEEPS_ALLOCATOR 1
#endif

namespace {
std::atomic<std::int64_t> gLive{0};
}  // namespace

std::int64_t octtest::cppLiveBlocks() { return gLive.load(std::memory_order_relaxed); }

#ifndef OCT_TEST_KEEPS_ALLOCATOR

namespace {

void* take(std::size_t size) noexcept {
    if (oct::plat::failThisCall(oct::plat::FailKind::Alloc)) return nullptr;
    void* p = std::malloc(size ? size : 1);
    if (p) gLive.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void give(void* p) noexcept {
    if (!p) return;
    gLive.fetch_sub(1, std::memory_order_relaxed);
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* p = take(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = take(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return take(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return take(size); }
void operator delete(void* p) noexcept { give(p); }
void operator delete[](void* p) noexcept { give(p); }
void operator delete(void* p, std::size_t) noexcept { give(p); }
void operator delete[](void* p, std::size_t) noexcept { give(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { give(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { give(p); }
#endif
