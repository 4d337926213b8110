// Replays the fuzz targets' seed corpus (fuzz/corpus/<target>/) and every
// input a target has ever failed on (fuzz/regressions/<target>/) through the
// same checks the targets make, so they run on every compiler and under
// wine, not only where libFuzzer exists. A picture of the five formats
// beyond BMP must not make anyone in the library ask for more than 1 GiB.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/catch_targets.h"
#include "fuzz/draw_targets.h"
#include "fuzz/image_targets.h"
#include "fuzz/pack_targets.h"
#include "fuzz/picture_targets.h"
#include "fuzz/platform_targets.h"
#include "fuzz/stream_targets.h"
#include "image/formats.h"
#include "platform/fail_inject.h"

namespace oct {
namespace {

using Check = bool (*)(const std::uint8_t*, std::size_t);

struct Target {
    const char* name;
    Check check;
};

const Target kTargets[] = {
    {"lz_block_fuzz", fuzz::checkLzBlock},
    {"container_fuzz", fuzz::checkContainer},
    {"pack_roundtrip_fuzz", fuzz::checkPackRoundTrip},
    {"catch_fuzz", fuzz::checkCatch},
    {"bmp_fuzz", fuzz::checkBmp},
    {"icon_fuzz", fuzz::checkIconDirectory},
    {"archive_fuzz", fuzz::checkArchive},
    {"draw_script_fuzz", fuzz::checkDrawScript},
    {"archive_roundtrip_fuzz", fuzz::checkArchiveRoundTrip},
    {"stream_fuzz", fuzz::checkStream},
    {"picture_header_fuzz", fuzz::checkPictureHeader},
    {"png_fuzz", fuzz::checkPictureLoad},
    {"jpeg_fuzz", fuzz::checkPictureLoad},
    {"gif_fuzz", fuzz::checkPictureLoad},
    {"tiff_fuzz", fuzz::checkPictureLoad},
    {"webp_fuzz", fuzz::checkPictureLoad},
    {"heif_fuzz", fuzz::checkPictureLoad},
    {"jxl_fuzz", fuzz::checkPictureLoad},
    {"orientation_fuzz", fuzz::checkOrientation},
    {"png_roundtrip_fuzz", fuzz::checkPngRoundTrip},
};

// Runs every file of `dir` through the check; the number of files.
int replay(const Target& target, const std::filesystem::path& dir) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        (void)plat::largestRequestSeen(true);
        EXPECT_TRUE(target.check(bytes.data(), bytes.size())) << entry.path().string();
        // A BMP is bounded by its bitmap's bytes alone, and a run-length BMP
        // may leave most of a large bitmap unwritten.
        const std::uint32_t format = imgSniffFormat(bytes);
        if (format != 0 && format != kBmpFormat && format != kIconFormat) {
            EXPECT_LE(plat::largestRequestSeen(), std::uint64_t{1} << 30) << entry.path().string();
        }
        ++files;
    }
    return files;
}

TEST(FuzzCorpus, EverySeedPassesItsTargetsCheck) {
    for (const auto& target : kTargets)
        EXPECT_GT(replay(target, std::filesystem::path(OCT_FUZZ_CORPUS_DIR) / target.name), 0) << target.name;
}

// One case per target that has ever failed, so a fault that is back shows
// by its target's name.
class FuzzRegressions : public ::testing::TestWithParam<Target> {};

std::filesystem::path regressionsOf(const Target& target) {
    return std::filesystem::path(OCT_FUZZ_REGRESSIONS_DIR) / target.name;
}

std::vector<Target> targetsThatFailed() {
    std::vector<Target> out;
    for (const auto& target : kTargets)
        if (std::filesystem::is_directory(regressionsOf(target))) out.push_back(target);
    return out;
}

TEST_P(FuzzRegressions, EveryKeptFailurePassesItsTargetsCheck) {
    EXPECT_GT(replay(GetParam(), regressionsOf(GetParam())), 0) << "an empty folder";
}

INSTANTIATE_TEST_SUITE_P(Kept, FuzzRegressions, ::testing::ValuesIn(targetsThatFailed()),
                         [](const auto& info) { return std::string(info.param.name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FuzzRegressions);

// A folder named after no target would never be replayed, so a misspelt
// name fails here rather than hiding its inputs.
TEST(FuzzRegressionFolders, AreEachNamedAfterATarget) {
    int folders = 0;
    for (const auto& entry : std::filesystem::directory_iterator(OCT_FUZZ_REGRESSIONS_DIR)) {
        if (!entry.is_directory()) continue;
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(std::any_of(std::begin(kTargets), std::end(kTargets),
                                [&](const Target& t) { return name == t.name; }))
            << entry.path().string() << " is named after no fuzz target";
        ++folders;
    }
    EXPECT_GT(folders, 0);
}

TEST(FuzzCorpus, ChecksCatchBrokenProperties) {
    // A block stream that decodes to "abcabcabcabc", with its length (12): valid.
    const std::vector<std::uint8_t> block = {0x61, 0x00, 0x3C, 0x62, 0x63, 0x02, 12, 0};
    EXPECT_TRUE(fuzz::checkLzBlock(block.data(), block.size()));
    // Garbage everywhere is refused, never a property failure.
    const std::vector<std::uint8_t> junk(100, 0xFF);
    EXPECT_TRUE(fuzz::checkLzBlock(junk.data(), junk.size()));
    EXPECT_TRUE(fuzz::checkContainer(junk.data(), junk.size()));
    EXPECT_TRUE(fuzz::checkPackRoundTrip(junk.data(), junk.size()));
    EXPECT_TRUE(fuzz::checkCatch(junk.data(), junk.size()));
    EXPECT_TRUE(fuzz::checkBmp(junk.data(), junk.size()));
    EXPECT_TRUE(fuzz::checkIconDirectory(junk.data(), junk.size()));
    EXPECT_TRUE(fuzz::checkDrawScript(junk.data(), junk.size()));
    EXPECT_TRUE(fuzz::checkArchiveRoundTrip(junk.data(), junk.size()));
    EXPECT_TRUE(fuzz::checkStream(junk.data(), junk.size()));
}

}  // namespace
}  // namespace oct
