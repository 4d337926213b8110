#include "runtime/run_once.h"

#include <cstdint>

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
    // The flag's word is a plain integer shared with the system's own once
    // record, hence the atomic built-ins on it (every compiler here has them;
    // not every C++ library has std::atomic_ref).
    std::intptr_t* word = &flag.word;
    std::intptr_t seen = kNeverRun;
    if (__atomic_compare_exchange_n(word, &seen, kRunning, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
        fn();
        __atomic_exchange_n(word, kDone, __ATOMIC_SEQ_CST);
        return;
    }
    while (seen != kDone) {
        plat::threadYield();
        seen = __atomic_load_n(word, __ATOMIC_SEQ_CST);
    }
}

}  // namespace oct
