// Failure injection: a test names a kind of fallible call and which of its
// next calls fails; every call site asks failThisCall before doing the work.
#include "platform/fail_points.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/fail_inject.h"
#include "platform/fail_reason.h"

namespace oct::plat {
namespace {

struct FailPoint {
    std::atomic<std::int64_t> seen{0};     // calls since the point was set
    std::atomic<std::int64_t> target{0};   // the call that fails, counted from 1
    std::atomic<bool> sticky{false};       // every call after the target fails too
    std::atomic<bool> injected{false};     // a call was made to fail
};

FailPoint gPoints[kFailKinds];
// One bit per kind that is set to fail: the only thing that a call site
// reads while no test injects anything.
std::atomic<unsigned> gArmed{0};
std::atomic<std::int64_t> gLiveObjects{0};
std::atomic<std::int64_t> gCrtLive{0};
std::atomic<std::int64_t> gComHolds{0};
std::atomic<std::uint64_t> gLargestRequest{0};

unsigned bitOf(FailKind kind) { return 1u << static_cast<int>(kind); }

}  // namespace

void failCallAt(FailKind kind, std::int64_t n, bool sticky) {
    FailPoint& p = gPoints[static_cast<int>(kind)];
    gArmed.fetch_and(~bitOf(kind));
    if (n <= 0) return;  // the counts of the last setting stay readable
    p.seen.store(0);
    p.injected.store(false);
    p.target.store(n);
    p.sticky.store(sticky);
    gArmed.fetch_or(bitOf(kind));
}

void failNone() {
    for (int k = 0; k < kFailKinds; ++k) failCallAt(static_cast<FailKind>(k), 0);
}

std::int64_t failCallsSeen(FailKind kind) { return gPoints[static_cast<int>(kind)].seen.load(); }

bool failInjected(FailKind kind) { return gPoints[static_cast<int>(kind)].injected.load(); }

bool failThisCall(FailKind kind) {
    if ((gArmed.load(std::memory_order_relaxed) & bitOf(kind)) == 0) return false;
    FailPoint& p = gPoints[static_cast<int>(kind)];
    const std::int64_t call = p.seen.fetch_add(1) + 1;
    const std::int64_t target = p.target.load();
    const bool fail = target > 0 && (call == target || (call > target && p.sticky.load()));
    if (fail) p.injected.store(true);
    return fail;
}

bool failThisCall(FailKind kind, std::uint64_t bytes) {
    std::uint64_t largest = gLargestRequest.load(std::memory_order_relaxed);
    while (bytes > largest && !gLargestRequest.compare_exchange_weak(largest, bytes, std::memory_order_relaxed)) {
    }
    return failThisCall(kind);
}

std::uint64_t largestRequestSeen(bool reset) {
    return reset ? gLargestRequest.exchange(0) : gLargestRequest.load();
}

void* crtAlloc(std::size_t size, bool zero) {
    if (size == 0) return nullptr;
    void* block = failThisCall(FailKind::Alloc, size) ? nullptr : zero ? std::calloc(1, size) : std::malloc(size);
    if (!block) failNoMemory(size);
    if (block) gCrtLive.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void crtFree(void* block) {
    if (!block) return;
    gCrtLive.fetch_sub(1, std::memory_order_relaxed);
    std::free(block);
}

std::int64_t crtLiveBlocks() { return gCrtLive.load(std::memory_order_relaxed); }

void objectNoteMade() { gLiveObjects.fetch_add(1, std::memory_order_relaxed); }
void objectNoteGone() { gLiveObjects.fetch_sub(1, std::memory_order_relaxed); }
std::int64_t liveObjects() { return gLiveObjects.load(std::memory_order_relaxed); }

void comNoteHold(int delta) { gComHolds.fetch_add(delta, std::memory_order_relaxed); }
std::int64_t liveComHolds() { return gComHolds.load(std::memory_order_relaxed); }

}  // namespace oct::plat
