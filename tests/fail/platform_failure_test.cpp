// Every public path with its n-th platform call of each kind failing (file
// open, read and write; bitmap, DIB section, icon and font creation): a
// clean failure or the right result, nothing left behind, and a save that
// fails keeps the old file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "fail/fail_cases.h"
#include "oct.h"
#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "platform/files.h"
#include "platform/fonts.h"
#include "platform/handles.h"

namespace octtest {
namespace {

namespace plat = oct::plat;

constexpr std::int64_t kReducedRuns = 25;

constexpr plat::FailKind kPlatformKinds[] = {
    plat::FailKind::FileOpen, plat::FailKind::FileRead, plat::FailKind::FileWrite, plat::FailKind::Bitmap,
    plat::FailKind::DibSection, plat::FailKind::Icon, plat::FailKind::Font, plat::FailKind::Codec,
};

TEST(PlatformCallFailure, EveryPublicPathFailsCleanlyOrGivesItsResult) {
    FailCases cases;
    for (const FailCase& c : cases.all()) {
        for (plat::FailKind kind : kPlatformKinds) {
            SCOPED_TRACE(std::string(c.name) + ", " + failKindName(kind));
            const FailLoopReport r = runFailLoop(c, kind, kReducedRuns);
            if (failFullForm() && r.calls)
                std::printf("  %-22s %-12s %5lld calls, %5lld runs, %5lld failed cleanly\n", c.name,
                            failKindName(kind), static_cast<long long>(r.calls), static_cast<long long>(r.runs),
                            static_cast<long long>(r.failed));
        }
    }
}

// Each kind of call fails when set to, on both backends, and only the chosen
// call: the one before it and the one after it work.
TEST(PlatformCallFailure, FailsExactlyTheChosenCall) {
    TempDir dir;
    writeFile(dir.path("f"), Bytes(10, 1));
    const std::u16string name = dir.name("f");
    plat::failCallAt(plat::FailKind::FileOpen, 2);
    plat::File* first = plat::fileOpen(name.c_str(), plat::kFileRead, plat::kShareRead, plat::FileCreation::OpenExisting);
    plat::File* second = plat::fileOpen(name.c_str(), plat::kFileRead, plat::kShareRead, plat::FileCreation::OpenExisting);
    plat::File* third = plat::fileOpen(name.c_str(), plat::kFileRead, plat::kShareRead, plat::FileCreation::OpenExisting);
    EXPECT_TRUE(plat::failInjected(plat::FailKind::FileOpen));
    EXPECT_EQ(plat::failCallsSeen(plat::FailKind::FileOpen), 3);
    plat::failNone();
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    ASSERT_NE(third, nullptr);
    std::uint8_t buffer[4];
    plat::failCallAt(plat::FailKind::FileRead, 1);
    EXPECT_EQ(plat::fileRead(third, buffer, 4), -1);
    EXPECT_EQ(plat::fileRead(third, buffer, 4), 4);
    plat::failNone();
    plat::fileClose(first);
    plat::fileClose(third);

    struct Maker {
        plat::FailKind kind;
        plat::Handle (*make)();
    };
    static const std::uint8_t* icon = nullptr;
    static Bytes iconBytes;
    iconBytes = readFile(std::filesystem::path(OCT_CORPUS_DIR) / "ico" / "bmp-32bpp-alpha.ico");
    icon = iconBytes.data();
    const Maker makers[] = {
        {plat::FailKind::DibSection, [] { return plat::dibSectionCreate(4, 4, 24); }},
        {plat::FailKind::DibSection, [] { return plat::dibSectionCreateTopDown(4, 4); }},
        {plat::FailKind::Icon, [] { return plat::iconFromResourceDefault(icon + 22, iconBytes.size() - 22); }},
        {plat::FailKind::Font, [] {
             plat::LogFont f{};
             f.height = -12;
             return plat::fontCreate(f);
         }},
    };
    for (const Maker& m : makers) {
        SCOPED_TRACE(failKindName(m.kind));
        const std::int64_t before = plat::liveObjects();
        plat::failCallAt(m.kind, 1);
        EXPECT_EQ(m.make(), 0u);
        const plat::Handle made = m.make();
        plat::failNone();
        ASSERT_NE(made, 0u);
        EXPECT_EQ(plat::liveObjects(), before + 1);
        EXPECT_TRUE(plat::objectDelete(made));
        EXPECT_EQ(plat::liveObjects(), before);
    }

    // An icon's colour bitmap, a device-dependent bitmap on Windows.
    const plat::Handle made = plat::iconFromResourceDefault(icon + 22, iconBytes.size() - 22);
    ASSERT_NE(made, 0u);
    plat::failCallAt(plat::FailKind::Bitmap, 1);
    EXPECT_EQ(plat::iconColourBitmap(made), 0u);
    const plat::Handle colour = plat::iconColourBitmap(made);
    plat::failNone();
    EXPECT_NE(colour, 0u);
    plat::objectDelete(colour);
    plat::objectDelete(made);
}

// A level file and a BMP saved over an existing file, one write failing in
// the middle of each (a single failure, and a disk that stays full from
// there): the save reports failure, the old file keeps its bytes, and no
// temporary file is left.
TEST(PlatformCallFailure, AWriteFailingHalfWayThroughASaveKeepsTheOldFile) {
    TempDir dir;
    OctImage* record = octLoad(std::filesystem::path(std::filesystem::path(OCT_CORPUS_DIR) / "photo" / "harvesters.bmp")
                                   .u16string()
                                   .c_str());
    ASSERT_NE(record, nullptr);
    const std::u16string target = dir.name("picture.out");
    const Bytes old(3000, 'o');
    for (std::int64_t flag : {0, 1}) {
        for (bool sticky : {false, true}) {
            SCOPED_TRACE("flag " + std::to_string(flag) + (sticky ? ", disk full" : ", one write"));
            writeFile(dir.path("picture.out"), old);
            plat::failCallAt(plat::FailKind::FileWrite, INT64_MAX);
            ASSERT_EQ(octSave(record, target.c_str(), flag), 1);
            const std::int64_t writes = plat::failCallsSeen(plat::FailKind::FileWrite);
            plat::failNone();
            const Bytes full = readFile(dir.path("picture.out"));
            ASSERT_GE(writes, 2) << "the save should take more than one write";
            writeFile(dir.path("picture.out"), old);

            // Past the first write: the file already holds part of the new bytes.
            plat::failCallAt(plat::FailKind::FileWrite, writes / 2 + 1, sticky);
            EXPECT_EQ(octSave(record, target.c_str(), flag), 0);
            EXPECT_TRUE(plat::failInjected(plat::FailKind::FileWrite));
            plat::failNone();
            EXPECT_EQ(readFile(dir.path("picture.out")), old);
            EXPECT_EQ(dir.entries(), std::vector<std::string>{"picture.out"});

            EXPECT_EQ(octSave(record, target.c_str(), flag), 1);
            EXPECT_EQ(readFile(dir.path("picture.out")), full);
        }
    }
    octFree(record);
}

}  // namespace
}  // namespace octtest
