// The file layer out of memory: every call reports the failure by its
// result (no exception reaches the core), and a file it could not hand out
// is not left behind on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/fail_inject.h"
#include "platform/files.h"
#include "test_files.h"

namespace oct {
namespace {

using octtest::TempDir;

// Runs `attempt` with the n-th allocation failing, n = 1, 2, … until a run
// meets no failure; `check` sees each result.
template <typename Attempt, typename Check>
void eachAllocationFailing(Attempt attempt, Check check) {
    for (std::int64_t n = 1; n < 1000; ++n) {
        plat::failCallAt(plat::FailKind::Alloc, n);
        auto result = attempt();
        const bool injected = plat::failInjected(plat::FailKind::Alloc);
        plat::failNone();
        check(result, injected, n);
        if (!injected) return;
    }
    ADD_FAILURE() << "still allocating after 1000 calls";
}

TEST(PlatformFileOutOfMemory, ACreateThatFailsLeavesNoFile) {
    TempDir dir;
    const std::u16string name = dir.name("new.bin");
    eachAllocationFailing(
        [&] { return plat::fileOpen(name.c_str(), plat::kFileWrite, plat::kShareRead, plat::FileCreation::CreateNew); },
        [&](plat::File* f, bool injected, std::int64_t n) {
            if (f) {
                EXPECT_TRUE(plat::fileClose(f));
                EXPECT_TRUE(plat::fileDelete(name.c_str()));
            } else {
                EXPECT_TRUE(injected);
                EXPECT_FALSE(std::filesystem::exists(dir.path("new.bin"))) << "allocation " << n;
            }
        });
}

TEST(PlatformFileOutOfMemory, NamesThatCannotBeFollowedAreNotWrittenTo) {
    TempDir dir;
    octtest::writeFile(dir.path("old.bin"), octtest::Bytes(4, 1));
    const std::u16string name = dir.name("old.bin");
    std::u16string finalName;
    eachAllocationFailing(
        [&] {
            finalName = u"stale";
            return plat::fileExamine(name.c_str(), finalName);
        },
        [&](plat::FileTarget target, bool, std::int64_t n) {
            if (target == plat::FileTarget::Broken) {
                EXPECT_TRUE(finalName.empty()) << "allocation " << n;
            } else {
                EXPECT_EQ(target, plat::FileTarget::Disk) << "allocation " << n;
                EXPECT_EQ(std::filesystem::path(finalName), dir.path("old.bin"));
            }
        });
    // Deleting, renaming and changing attributes fail, or work, without throwing.
    eachAllocationFailing([&] { return plat::fileSetNormalAttributes(name.c_str()); },
                          [](bool, bool, std::int64_t) {});
    const std::u16string moved = dir.name("moved.bin");
    eachAllocationFailing([&] { return plat::fileReplace(name.c_str(), moved.c_str()); },
                          [&](bool done, bool, std::int64_t n) {
                              EXPECT_NE(std::filesystem::exists(dir.path("old.bin")), done) << "allocation " << n;
                          });
    eachAllocationFailing([&] { return plat::fileDelete(moved.c_str()); },
                          [&](bool done, bool, std::int64_t n) {
                              EXPECT_NE(std::filesystem::exists(dir.path("moved.bin")), done) << "allocation " << n;
                          });
}

// A reservation never changes the file's size. A file system in memory
// takes none: there it would clear the pages that the save writes again.
TEST(PlatformFileReserve, KeepsTheSizeAndSkipsMemoryFileSystems) {
    TempDir dir;
    const std::u16string name = dir.name("reserved.bin");
    plat::File* f = plat::fileOpen(name.c_str(), plat::kFileWrite, plat::kShareRead, plat::FileCreation::CreateNew);
    ASSERT_NE(f, nullptr);
    (void)plat::fileReserve(f, 1 << 20);
    EXPECT_EQ(plat::fileSize(f), 0);
    EXPECT_TRUE(plat::fileClose(f));
#ifndef _WIN32
    if (!std::filesystem::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm here";
    const std::filesystem::path shm = std::filesystem::path("/dev/shm") / ("oct-reserve-" + std::to_string(::getpid()));
    const std::u16string shmName = shm.u16string();
    plat::File* m = plat::fileOpen(shmName.c_str(), plat::kFileWrite, plat::kShareRead, plat::FileCreation::CreateNew);
    ASSERT_NE(m, nullptr);
    EXPECT_FALSE(plat::fileReserve(m, 1 << 20));
    EXPECT_EQ(plat::fileSize(m), 0);
    EXPECT_TRUE(plat::fileClose(m));
    std::filesystem::remove(shm);
#endif
}

}  // namespace
}  // namespace oct
