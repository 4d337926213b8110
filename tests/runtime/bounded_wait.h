// Thread-exit callbacks run on another thread some time after a thread ends
// (on Windows, a thread-pool thread). Tests wait for them with a bound.
#pragma once

#include <chrono>
#include <thread>

namespace oct::test {

template <typename Pred>
bool waitUntil(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace oct::test
