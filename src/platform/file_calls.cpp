#include "platform/file_calls.h"

#include <atomic>

#include "platform/fail_inject.h"
#include "platform/fail_reason.h"
#include "platform/files.h"

namespace oct::plat {
namespace {
std::atomic<std::uint64_t> gReads{0}, gWrites{0}, gFlushes{0};
std::atomic<std::uint32_t> gLastRead{0}, gLastWrite{0};
}  // namespace

bool fileNoteRead(std::uint32_t count) {
    gReads.fetch_add(1, std::memory_order_relaxed);
    gLastRead.store(count, std::memory_order_relaxed);
    if (!failThisCall(FailKind::FileRead)) return true;
    return failSet(FailCode::ReadFailed, "an I/O error");
}

bool fileNoteWrite(std::uint32_t count) {
    gWrites.fetch_add(1, std::memory_order_relaxed);
    gLastWrite.store(count, std::memory_order_relaxed);
    // An injected write failure stands for the commonest one: a full disk.
    if (!failThisCall(FailKind::FileWrite)) return true;
    return failSet(FailCode::NoSpace, "no space left on the device");
}

void fileNoteFlush() { gFlushes.fetch_add(1, std::memory_order_relaxed); }

void fileFailWritesAfter(std::int64_t count) { failCallAt(FailKind::FileWrite, count < 0 ? 0 : count + 1, true); }

FileCallCounts fileCallCounts() {
    return {gReads.load(std::memory_order_relaxed), gWrites.load(std::memory_order_relaxed),
            gLastRead.load(std::memory_order_relaxed), gLastWrite.load(std::memory_order_relaxed),
            gFlushes.load(std::memory_order_relaxed)};
}

}  // namespace oct::plat
