// oct.dll's entry point: the loader calls it on process attach and detach.
#include <windows.h>

#include "platform/win32/process_state.h"
#include "runtime/module.h"

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
#else
void observe(const char*) {}
#endif

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        gModule = instance;
        oct::modStartAll();
        observe("start");
    } else if (reason == DLL_PROCESS_DETACH) {
        // A non-null reserved pointer means the process is ending rather than
        // the library being freed: the other threads are already gone.
        if (reserved) oct::plat::processEnding();
        oct::modStopAll();
        observe("stop");
    }
    return TRUE;
}
