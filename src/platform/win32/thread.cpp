// Thread-local slots, yielding and thread-exit watches on Windows.
//
// A watch duplicates the calling thread's handle with SYNCHRONIZE access and
// registers a one-shot wait on it: the handle is signalled when the thread has
// ended, and the thread pool then calls the watch on one of its threads.
#include "platform/threads.h"

#include <windows.h>

#include <atomic>

#include "platform/win32/process_state.h"

namespace oct::plat {

// ---------------------------------------------------------------------------
// Thread-local slots
// ---------------------------------------------------------------------------

TlsSlot tlsAlloc() {
    DWORD index = TlsAlloc();
    return index == TLS_OUT_OF_INDEXES ? kNoTlsSlot : static_cast<TlsSlot>(index);
}

void tlsFree(TlsSlot slot) {
    if (slot != kNoTlsSlot) TlsFree(static_cast<DWORD>(slot));
}

void* tlsGet(TlsSlot slot) {
    if (slot == kNoTlsSlot) return nullptr;
    // TlsGetValue clears the last-error value on success; callers such as the
    // string position accessor must leave it as the host set it.
    DWORD lastError = GetLastError();
    void* value = TlsGetValue(static_cast<DWORD>(slot));
    SetLastError(lastError);
    return value;
}

bool tlsSet(TlsSlot slot, void* value) {
    if (slot == kNoTlsSlot) return false;
    return TlsSetValue(static_cast<DWORD>(slot), value) != 0;
}

void threadYield() { Sleep(0); }

// ---------------------------------------------------------------------------
// Thread-exit watches
// ---------------------------------------------------------------------------
namespace {

std::atomic<bool> gClosed{true};  // set by close before it waits for running callbacks
std::atomic<long> gRunning{0};    // wait callbacks that have announced themselves and not yet finished
std::atomic<bool> gProcessEnding{false};

// The wait callback. It announces itself before it reads the closed flag, and
// close sets the flag before it waits for the announced ones: either close
// sees this callback running and waits, or this callback sees close and
// touches nothing.
VOID CALLBACK onThreadSignalled(PVOID parameter, BOOLEAN) {
    gRunning.fetch_add(1);
    if (!gClosed.load()) {
        auto* watch = static_cast<ThreadWatch*>(parameter);
        watch->fn(watch->context);
    }
    gRunning.fetch_sub(1);
}

}  // namespace

void processEnding() { gProcessEnding.store(true); }

bool threadWatchOpen() {
    gClosed.store(false);
    return true;
}

bool threadWatchStart(ThreadWatch& watch, ThreadExitFn fn, void* context) {
    watch.fn = fn;
    watch.context = context;
    watch.native[0] = watch.native[1] = nullptr;
    HANDLE process = GetCurrentProcess();
    HANDLE thread = nullptr;
    if (!DuplicateHandle(process, GetCurrentThread(), process, &thread, SYNCHRONIZE, FALSE, 0)) return false;
    HANDLE wait = nullptr;
    if (!RegisterWaitForSingleObject(&wait, thread, onThreadSignalled, &watch, INFINITE, WT_EXECUTEONLYONCE)) {
        CloseHandle(thread);
        return false;
    }
    watch.native[0] = wait;
    watch.native[1] = thread;
    return true;
}

void threadWatchRelease(ThreadWatch& watch, bool insideFn) {
    HANDLE wait = watch.native[0];
    HANDLE thread = watch.native[1];
    watch.native[0] = watch.native[1] = nullptr;
    if (wait) {
        // A callback cannot wait for itself, and while the process ends the
        // pool's threads are gone, so waiting could never finish. Otherwise
        // wait until a callback under way has returned.
        if (insideFn || gProcessEnding.load())
            UnregisterWait(wait);
        else
            UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
    }
    if (thread) CloseHandle(thread);
}

void threadWatchClose() {
    gClosed.store(true);
    // While the process ends, a callback cut off by the end of its thread
    // would never finish; nothing else runs then, so there is nothing to wait for.
    if (gProcessEnding.load()) return;
    while (gRunning.load() != 0) Sleep(0);
}

}  // namespace oct::plat
