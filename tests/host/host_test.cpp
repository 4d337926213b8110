// A host program's view of the shared library: load it as a host does, call
// an export through a looked-up address, unload it. The observed build of the
// library reports its start and stop sequences through octTestObserve, which
// this program exports.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>
#define OCT_TEST_EXPORT extern "C" __declspec(dllexport)
#else
#include <dlfcn.h>
#define OCT_TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#include "host/host_library.h"

namespace {
std::string gEvents;
}

OCT_TEST_EXPORT void octTestObserve(const char* event) {
    gEvents += event;
    gEvents += ';';
}

namespace {

TEST(HostProgram, LoadsCallsAndUnloadsTheLibrary) {
    gEvents.clear();
    HostLibrary lib;
    ASSERT_TRUE(lib.load());
    EXPECT_EQ(gEvents, "start;");

    using Version = std::int64_t (*)();
    auto version = lib.proc<Version>("octVersion");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 1);

    lib.unload();
    EXPECT_EQ(gEvents, "start;stop;");
}

TEST(HostProgram, ExportsOnlyTheLibraryInterface) {
    HostLibrary lib;
    ASSERT_TRUE(lib.load());
    // Internal operations stay hidden, whatever their linkage.
    for (const char* hidden : {"_ZN3oct8memAllocEl", "_ZN3oct11modStartAllEv", "modStartAll", "memAlloc"})
        EXPECT_EQ(lib.proc<void (*)()>(hidden), nullptr) << hidden;
    lib.unload();
}

}  // namespace
