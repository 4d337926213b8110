// Threads: recursive locks, run-once, thread-local slots and thread-exit
// watches.
#pragma once

#include <cstdint>

namespace oct::plat {

// A recursive lock, embedded in the record it guards: the owning thread may
// enter it again, and leaves it as often as it entered. The storage is sized
// for the largest backend lock; each backend checks that it fits.
struct RecursiveLock {
    alignas(16) unsigned char storage[64];
};

// Prepares the lock. False when the system refuses (the lock is then unusable
// and must not be entered or deleted).
[[nodiscard]] bool lockInit(RecursiveLock& lock);
void lockEnter(RecursiveLock& lock);
void lockLeave(RecursiveLock& lock);
// Releases what lockInit set up. The lock must not be held.
void lockDelete(RecursiveLock& lock);

// Holds a lock for one scope.
class LockHold {
public:
    explicit LockHold(RecursiveLock& lock) : lock_(lock) { lockEnter(lock_); }
    ~LockHold() { lockLeave(lock_); }
    LockHold(const LockHold&) = delete;
    LockHold& operator=(const LockHold&) = delete;

private:
    RecursiveLock& lock_;
};

// A run-once flag: one pointer-sized word, zero before the first run. The
// system's own one-time initialisation may keep its state in it, so callers
// only ever zero it (to allow a new run) and pass it to the run-once call.
struct OnceFlag {
    std::intptr_t word;
};

// Runs `fn` through the system's own one-time initialisation when the system
// has one ("InitOnceExecuteOnce" of Kernel32.dll, looked up at run time on
// Windows): exactly one caller runs it, the others return after it finished.
// False, without running anything, when the system has none.
bool onceRunNative(OnceFlag& flag, void (*fn)());

// Gives the rest of the calling thread's time slice to other threads.
void threadYield();

// A thread-local slot: every thread sees its own value, null until it sets one.
using TlsSlot = std::int64_t;
constexpr TlsSlot kNoTlsSlot = -1;

// A new slot, or kNoTlsSlot when none is left.
TlsSlot tlsAlloc();
// Frees the slot; every thread's value in it is forgotten (not freed).
// kNoTlsSlot does nothing.
void tlsFree(TlsSlot slot);
// The calling thread's value; null for kNoTlsSlot or an unset value. Leaves
// the thread's last-error value as it was.
void* tlsGet(TlsSlot slot);
// Sets the calling thread's value; false for kNoTlsSlot or on failure.
bool tlsSet(TlsSlot slot, void* value);

// Thread-exit watches. A watch arranges for fn(context) to run once after the
// thread that started it has made its last call into the library: on Windows
// on a thread-pool thread once the thread's handle is signalled, on Linux from
// the thread's own teardown (its thread-local destructors).
using ThreadExitFn = void (*)(void* context);

// One watch, embedded in the caller's record; it must stay at its address
// until it is released.
struct ThreadWatch {
    ThreadExitFn fn;
    void* context;
    void* native[2];  // the backend's registration (on Windows: wait handle, thread handle)
};

// Opens watching for the process (again, after a close). False when the
// system refuses; no watch can be started then.
[[nodiscard]] bool threadWatchOpen();

// Starts a watch of the calling thread. False when it cannot be arranged;
// the watch then holds nothing and needs no release.
[[nodiscard]] bool threadWatchStart(ThreadWatch& watch, ThreadExitFn fn, void* context);

// Releases a started watch. `insideFn` is true when called from the watch's
// own fn, which does not wait for itself. Otherwise the call is made either on
// the watched thread or after threadWatchClose, and once it returns fn is not
// running for this watch and never will.
void threadWatchRelease(ThreadWatch& watch, bool insideFn);

// Closes watching: no fn starts after this returns, and every fn that had
// started has returned. Watches still started must then be released. Must not
// be called with a lock held that a running fn may take.
void threadWatchClose();

}  // namespace oct::plat
