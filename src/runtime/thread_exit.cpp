#include "runtime/thread_exit.h"

#include "platform/threads.h"
#include "runtime/heap.h"
#include "runtime/run_once.h"

namespace oct {
namespace {

struct ExitCallbackNode {
    ExitCallbackNode* next;
    ThreadExitCallback callback;
    void* data;
};

// One per thread that registered something (main heap, zero-filled).
struct ThreadRecord {
    ThreadRecord* newer;
    ThreadRecord* older;
    ExitCallbackNode* callbacks;  // most recently registered first
    plat::ThreadWatch watch;      // runs the record when the thread has ended
    bool watched;                 // the watch was started and not yet released
    bool claimed;                 // taken off the list by whoever runs it
};

plat::OnceFlag gOnce{};
bool gReady = false;  // the registry was set up completely
plat::TlsSlot gSlot = plat::kNoTlsSlot;
plat::RecursiveLock gLock;
ThreadRecord* gNewest = nullptr;
int gPending = 0;

void setUp() {
    gSlot = plat::tlsAlloc();
    if (gSlot == plat::kNoTlsSlot) return;
    if (!plat::lockInit(gLock)) {
        plat::tlsFree(gSlot);
        gSlot = plat::kNoTlsSlot;
        return;
    }
    if (!plat::threadWatchOpen()) {
        plat::lockDelete(gLock);
        plat::tlsFree(gSlot);
        gSlot = plat::kNoTlsSlot;
        return;
    }
    gReady = true;
}

// Under gLock.
void unlinkRecord(ThreadRecord* record) {
    if (record->newer)
        record->newer->older = record->older;
    else
        gNewest = record->older;
    if (record->older) record->older->newer = record->newer;
    record->newer = record->older = nullptr;
    --gPending;
}

void runCallbacks(ThreadRecord* record) {
    for (ExitCallbackNode* node = record->callbacks; node;) {
        ExitCallbackNode* next = node->next;
        node->callback(node->data);
        memMainFree(node);
        node = next;
    }
    memMainFree(record);
}

// The watch's function: the record's thread has ended.
void onThreadEnded(void* context) {
    auto* record = static_cast<ThreadRecord*>(context);
    {
        plat::LockHold hold(gLock);
        if (record->claimed) return;  // the shutdown has it and will run it
        record->claimed = true;
        unlinkRecord(record);
    }
    plat::threadWatchRelease(record->watch, true);
    // On Linux this runs on the ending thread itself; should that thread call
    // in again during its teardown it must get a new record, not this one.
    if (plat::tlsGet(gSlot) == record) plat::tlsSet(gSlot, nullptr);
    runCallbacks(record);
}

ThreadRecord* recordOfThisThread() {
    if (auto* record = static_cast<ThreadRecord*>(plat::tlsGet(gSlot))) return record;
    auto* record = static_cast<ThreadRecord*>(memMainAlloc(sizeof(ThreadRecord)));
    if (!record) return nullptr;
    if (!plat::tlsSet(gSlot, record)) {
        memMainFree(record);
        return nullptr;
    }
    {
        plat::LockHold hold(gLock);
        record->older = gNewest;
        if (gNewest) gNewest->newer = record;
        gNewest = record;
        ++gPending;
    }
    // Without a watch the record still runs, at module stop.
    record->watched = plat::threadWatchStart(record->watch, onThreadEnded, record);
    return record;
}

}  // namespace

void thrAtExit(ThreadExitCallback callback, void* data) {
    if (!callback) return;
    modRunOnce(gOnce, setUp);
    if (!gReady) return;
    ThreadRecord* record = recordOfThisThread();
    if (!record) return;
    auto* node = static_cast<ExitCallbackNode*>(memMainAlloc(sizeof(ExitCallbackNode)));
    if (!node) return;
    node->callback = callback;
    node->data = data;
    plat::LockHold hold(gLock);
    node->next = record->callbacks;
    record->callbacks = node;
}

void thrExitShutdown() {
    if (!gReady) {
        gOnce = {};
        return;
    }
    // From here on no watch fires into the registry, and none is still running.
    plat::threadWatchClose();
    plat::tlsFree(gSlot);
    gSlot = plat::kNoTlsSlot;
    ThreadRecord* pending;
    {
        plat::LockHold hold(gLock);
        pending = gNewest;
        for (ThreadRecord* r = pending; r; r = r->older) r->claimed = true;
        gNewest = nullptr;
        gPending = 0;
    }
    while (pending) {
        ThreadRecord* older = pending->older;
        if (pending->watched) plat::threadWatchRelease(pending->watch, false);
        runCallbacks(pending);
        pending = older;
    }
    plat::lockDelete(gLock);
    gReady = false;
    gOnce = {};
}

int thrExitPendingThreads() {
    if (!gReady) return 0;
    plat::LockHold hold(gLock);
    return gPending;
}

}  // namespace oct

