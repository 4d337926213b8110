#include "platform/file_calls.h"

#include <atomic>

#include "platform/platform.h"

namespace oct::plat {
namespace {
std::atomic<std::uint64_t> gReads{0}, gWrites{0}, gFlushes{0};
std::atomic<std::uint32_t> gLastRead{0}, gLastWrite{0};
// Writes still allowed before they start failing; negative: no limit.
std::atomic<std::int64_t> gWritesLeft{-1};
}  // namespace

void fileNoteRead(std::uint32_t count) {
    gReads.fetch_add(1, std::memory_order_relaxed);
    gLastRead.store(count, std::memory_order_relaxed);
}

bool fileNoteWrite(std::uint32_t count) {
    gWrites.fetch_add(1, std::memory_order_relaxed);
    gLastWrite.store(count, std::memory_order_relaxed);
    std::int64_t left = gWritesLeft.load(std::memory_order_relaxed);
    while (left > 0 && !gWritesLeft.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
    }
    return left != 0;
}

void fileNoteFlush() { gFlushes.fetch_add(1, std::memory_order_relaxed); }

void fileFailWritesAfter(std::int64_t count) { gWritesLeft.store(count < 0 ? -1 : count, std::memory_order_relaxed); }

FileCallCounts fileCallCounts() {
    return {gReads.load(std::memory_order_relaxed), gWrites.load(std::memory_order_relaxed),
            gLastRead.load(std::memory_order_relaxed), gLastWrite.load(std::memory_order_relaxed),
            gFlushes.load(std::memory_order_relaxed)};
}

}  // namespace oct::plat
