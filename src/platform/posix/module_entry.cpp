// liboct.so's entry points: the dynamic loader runs the constructor when the
// library is loaded and the destructor when it is unloaded.
#include <dlfcn.h>

#include "runtime/module.h"

namespace {

#ifdef OCT_OBSERVE_MODULE_ENTRY
// Test builds only: tell the host program, through a function it exports,
// that the start or stop sequence has run.
void observe(const char* event) {
    using Observe = void (*)(const char*);
    auto fn = reinterpret_cast<Observe>(dlsym(RTLD_DEFAULT, "octTestObserve"));
    if (fn) fn(event);
}
#else
void observe(const char*) {}
#endif

__attribute__((constructor)) void octModuleLoad() {
    oct::modStartAll();
    observe("start");
}

__attribute__((destructor)) void octModuleUnload() {
    oct::modStopAll();
    observe("stop");
}

}  // namespace
