// Thread-local slots, yielding and thread-exit watches on Linux.
//
// Slots are pthread keys without destructors. Watches use one extra key whose
// destructor runs a thread's watch when the thread ends: the destructor fires
// during the thread's own teardown, after its last call into the library.
// Closing deletes that key, so no destructor is left to fire into the library
// once it is unloaded; destructors already under way are waited for.
#include "platform/threads.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>

namespace oct::plat {

// ---------------------------------------------------------------------------
// Thread-local slots
// ---------------------------------------------------------------------------

TlsSlot tlsAlloc() {
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0) return kNoTlsSlot;
    return static_cast<TlsSlot>(key);
}

void tlsFree(TlsSlot slot) {
    if (slot != kNoTlsSlot) pthread_key_delete(static_cast<pthread_key_t>(slot));
}

void* tlsGet(TlsSlot slot) {
    if (slot == kNoTlsSlot) return nullptr;
    return pthread_getspecific(static_cast<pthread_key_t>(slot));
}

bool tlsSet(TlsSlot slot, void* value) {
    if (slot == kNoTlsSlot) return false;
    return pthread_setspecific(static_cast<pthread_key_t>(slot), value) == 0;
}

void threadYield() { sched_yield(); }

// ---------------------------------------------------------------------------
// Thread-exit watches
// ---------------------------------------------------------------------------
namespace {

pthread_key_t gWatchKey;
bool gWatchKeyValid = false;        // only open and close change it, one thread at a time
std::atomic<bool> gClosed{true};    // set by close before it waits for running destructors
std::atomic<int> gRunning{0};       // destructors that have announced themselves and not yet finished

// The key's destructor, called with the watch that the ending thread stored.
// It announces itself before it reads the closed flag, and close sets the flag
// before it waits for the announced ones: either close sees this destructor
// running and waits, or this destructor sees close and touches nothing.
void onThreadEnd(void* value) {
    gRunning.fetch_add(1);
    if (!gClosed.load()) {
        auto* watch = static_cast<ThreadWatch*>(value);
        watch->fn(watch->context);
    }
    gRunning.fetch_sub(1);
}

}  // namespace

bool threadWatchOpen() {
    if (!gWatchKeyValid) {
        if (pthread_key_create(&gWatchKey, onThreadEnd) != 0) return false;
        gWatchKeyValid = true;
    }
    gClosed.store(false);
    return true;
}

bool threadWatchStart(ThreadWatch& watch, ThreadExitFn fn, void* context) {
    watch.fn = fn;
    watch.context = context;
    watch.native[0] = watch.native[1] = nullptr;
    if (!gWatchKeyValid) return false;
    return pthread_setspecific(gWatchKey, &watch) == 0;
}

void threadWatchRelease(ThreadWatch& watch, bool insideFn) {
    // Inside its destructor the key's value is already cleared. On the watched
    // thread itself the value still names this watch and must not outlive it.
    // After close the key is gone and nothing can fire.
    if (!insideFn && gWatchKeyValid && pthread_getspecific(gWatchKey) == &watch)
        pthread_setspecific(gWatchKey, nullptr);
}

void threadWatchClose() {
    gClosed.store(true);
    if (gWatchKeyValid) {
        pthread_key_delete(gWatchKey);
        gWatchKeyValid = false;
    }
    while (gRunning.load() != 0) sched_yield();
}

}  // namespace oct::plat
