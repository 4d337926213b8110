// liboct.so's entry points: the dynamic loader runs the constructor when the
// library is loaded and the destructor when it is unloaded.
#include <dlfcn.h>

#include "platform/posix/font.h"
#include "runtime/module.h"
#include "runtime/thread_exit.h"

namespace {

#ifdef OCT_OBSERVE_MODULE_ENTRY
// Test builds only: tell the host program, through a function it exports,
// that the start or stop sequence has run.
void observe(const char* event) {
    using Observe = void (*)(const char*);
    auto fn = reinterpret_cast<Observe>(dlsym(RTLD_DEFAULT, "octTestObserve"));
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

__attribute__((constructor)) void octModuleLoad() {
    oct::modStartAll();
    observe("start");
    watchLoadingThread();
}

__attribute__((destructor)) void octModuleUnload() {
    oct::modStopAll();
    // After the stop sequence has deleted the fonts it made.
    oct::plat::posix::fontsRelease();
    observe("stop");
}

}  // namespace
