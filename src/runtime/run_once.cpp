#include "runtime/run_once.h"

#include <atomic>

#include "platform/threads.h"

namespace oct {
namespace {
constexpr std::intptr_t kNeverRun = 0;
constexpr std::intptr_t kRunning = 1;
constexpr std::intptr_t kDone = 2;
}  // namespace

void modRunOnce(plat::OnceFlag& flag, void (*fn)()) {
    if (!plat::onceRunNative(flag, fn)) modRunOnceByFlag(flag, fn);
}

void modRunOnceByFlag(plat::OnceFlag& flag, void (*fn)()) {
    std::atomic_ref<std::intptr_t> word(flag.word);
    std::intptr_t seen = kNeverRun;
    if (word.compare_exchange_strong(seen, kRunning)) {
        fn();
        word.exchange(kDone);
        return;
    }
    while (seen != kDone) {
        plat::threadYield();
        seen = word.load();
    }
}

}  // namespace oct
