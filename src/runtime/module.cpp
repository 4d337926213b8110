#include "runtime/module.h"

namespace oct {
namespace {
ModuleObserver gObserver = nullptr;
bool gFailed = false;  // a step of the current run failed
}

void modSetObserver(ModuleObserver observer) { gObserver = observer; }

bool modRunSteps(std::span<const ModuleStep> steps, bool starting) {
    // Start and stop run on one thread, before and after every other call.
    gFailed = false;
    for (const ModuleStep& step : steps) {
        if (gObserver) gObserver(step.name, starting);
        if (step.run) step.run();
    }
    return !gFailed;
}

void modStepFailed() { gFailed = true; }

}  // namespace oct
