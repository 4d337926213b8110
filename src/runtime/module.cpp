#include "runtime/module.h"

namespace oct {
namespace {
ModuleObserver gObserver = nullptr;
}

void modSetObserver(ModuleObserver observer) { gObserver = observer; }

void modRunSteps(std::span<const ModuleStep> steps, bool starting) {
    for (const ModuleStep& step : steps) {
        if (gObserver) gObserver(step.name, starting);
        if (step.run) step.run();
    }
}

}  // namespace oct
