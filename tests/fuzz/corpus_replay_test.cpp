// Replays the fuzz targets' seed corpus (fuzz/corpus/<target>/) through the
// same checks the targets make, so the seeds run on every compiler and under
// wine, not only where libFuzzer exists.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/catch_targets.h"
#include "fuzz/image_targets.h"
#include "fuzz/pack_targets.h"

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
};

TEST(FuzzCorpus, EverySeedPassesItsTargetsCheck) {
    for (const auto& target : kTargets) {
        const std::filesystem::path dir = std::filesystem::path(OCT_FUZZ_CORPUS_DIR) / target.name;
        int seeds = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
            EXPECT_TRUE(target.check(bytes.data(), bytes.size())) << entry.path().string();
            ++seeds;
        }
        EXPECT_GT(seeds, 0) << target.name;
    }
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
}

}  // namespace
}  // namespace oct
