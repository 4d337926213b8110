// oct.dll's entry point: the loader calls it on process attach and detach.
#include <windows.h>

#include "platform/win32/process_state.h"
#include "runtime/module.h"
#include "runtime/thread_exit.h"

namespace {

HMODULE gModule = nullptr;

#ifdef OCT_OBSERVE_MODULE_ENTRY
// Test builds only: tell the host program, through a function it exports,
// that the start or stop sequence has run.
void observe(const char* event) {
    using Observe = void (*)(const char*);
    auto fn = reinterpret_cast<Observe>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "octTestObserve")));
    if (fn) fn(event);
}

// The loading thread also gets a thread-exit callback, so that the host
// program can see that it runs exactly once: when that thread ends, or at
// the latest when the library is unloaded, and never after that.
void observeThreadExit(void*) { observe("thread exit"); }
void watchLoadingThread() { oct::thrAtExit(observeThreadExit, nullptr); }
#else
void observe(const char*) {}
void watchLoadingThread() {}
#endif

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        gModule = instance;
        oct::modStartAll();
        observe("start");
        watchLoadingThread();
    } else if (reason == DLL_PROCESS_DETACH) {
        // A non-null reserved pointer means the process is ending rather than
        // the library being freed: the other threads are already gone.
        if (reserved) oct::plat::processEnding();
        oct::modStopAll();
        observe("stop");
    }
    return TRUE;
}
