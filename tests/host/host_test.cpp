// A host program's view of the shared library: load it as a host does, call
// an export through a looked-up address, unload it. The observed build of the
// library reports its start and stop sequences through octTestObserve, which
// this program exports.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#define OCT_TEST_EXPORT extern "C" __declspec(dllexport)
#else
#include <dlfcn.h>
#define OCT_TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#include "host/host_library.h"

namespace {
std::mutex gEventsLock;
std::string gEvents;

std::string events() {
    std::lock_guard hold(gEventsLock);
    return gEvents;
}

void clearEvents() {
    std::lock_guard hold(gEventsLock);
    gEvents.clear();
}

}  // namespace

// Called by the observed library, possibly from a thread-pool thread.
OCT_TEST_EXPORT void octTestObserve(const char* event) {
    std::lock_guard hold(gEventsLock);
    gEvents += event;
    gEvents += ';';
}

namespace {

TEST(HostProgram, LoadsCallsAndUnloadsTheLibrary) {
    clearEvents();
    HostLibrary lib;
    ASSERT_TRUE(lib.load());
    EXPECT_EQ(events(), "start;");

    using Version = std::int64_t (*)();
    auto version = lib.proc<Version>("octVersion");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 1);

    lib.unload();
    // This thread lives on, so its exit callback runs at the unload.
    EXPECT_EQ(events(), "start;thread exit;stop;");
}

TEST(HostProgram, ExportsOnlyTheLibraryInterface) {
    HostLibrary lib;
    ASSERT_TRUE(lib.load());
    // Internal operations stay hidden, whatever their linkage.
    for (const char* hidden : {"_ZN3oct8memAllocEl", "_ZN3oct11modStartAllEv", "modStartAll", "memAlloc"})
        EXPECT_EQ(lib.proc<void (*)()>(hidden), nullptr) << hidden;
    lib.unload();
}

// A thread that called into the library outlives it: its exit callback runs
// at the unload, and its end later must not call into the unloaded code.
TEST(HostProgram, UnloadsWhileACallingThreadLivesOn) {
    clearEvents();
    HostLibrary lib;
    std::mutex m;
    std::condition_variable cv;
    bool loaded = false, release = false;
    std::thread caller([&] {
        bool ok = lib.load();
        std::unique_lock lock(m);
        loaded = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
        EXPECT_TRUE(ok);
    });
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return loaded; });
    }
    lib.unload();
    EXPECT_EQ(events(), "start;thread exit;stop;");
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    caller.join();
    // On Windows a wait callback left registered would fire on a pool thread
    // shortly after the thread ended; give it the chance to crash the program.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(events(), "start;thread exit;stop;");
}

TEST(HostProgram, ThreadExitCallbackRunsWhenTheCallingThreadEnds) {
    clearEvents();
    HostLibrary lib;
    std::thread([&] { ASSERT_TRUE(lib.load()); }).join();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (events() != "start;thread exit;" && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(events(), "start;thread exit;");
    lib.unload();
    EXPECT_EQ(events(), "start;thread exit;stop;");
}

}  // namespace
