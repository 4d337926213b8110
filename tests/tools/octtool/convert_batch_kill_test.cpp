// octtool convert -o DIR over many pictures, killed at random moments
// (SIGKILL on Linux, TerminateProcess on Windows), run again afresh or with
// --skip-existing, as a user resumes a batch: after every kill
// each output in DIR is absent or equal to an unkilled run's, and what else
// is there is a temporary file of the saves; the last run finishes the
// batch, with every output an unkilled run's and no temporary file left.
//
// OCT_BATCH_KILLS kills (default 10; the full run is 40 or more) and
// OCT_KILL_SEED the seed of their moments (fixed by default, so that a
// failure can be replayed).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "image/image_bytes.h"
#include "platform/child_process.h"
#include "test_files.h"

namespace oct {
namespace {

namespace fs = std::filesystem;
using octtest::Bytes;
using Clock = std::chrono::steady_clock;

std::int64_t envNumber(const char* name, std::int64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoll(text, nullptr, 10) : fallback;
}

constexpr int kPictures = 64;

// A 24-bit BMP of w × h pixels whose bytes follow `seed`.
Bytes pictureFile(std::int32_t w, std::int32_t h, unsigned seed) {
    Bytes rows(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<std::uint8_t>(i * (seed * 2 + 1) + (i >> 9));
    return octtest::makeBmp({.width = w, .height = h, .bitCount = 24, .pixels = rows});
}

class Batch {
public:
    explicit Batch(const fs::path& dir) : program_(fs::absolute(OCT_TOOL_PATH).make_preferred().u16string()) {
        fs::create_directories(dir / "in");
        for (int i = 0; i < kPictures; ++i) {
            const fs::path in = dir / "in" / ("p" + std::to_string(i) + ".bmp");
            octtest::writeFile(in, pictureFile(600 + 13 * (i % 7), 400 + 11 * (i % 5), static_cast<unsigned>(i)));
            inputs_.push_back(in.u16string());
        }
    }

    plat::ChildProcess* start(const fs::path& out, bool skipExisting) const {
        std::vector<std::u16string> args{u"convert", u"-j", u"2"};
        if (skipExisting) args.push_back(u"--skip-existing");
        args.push_back(u"-o");
        args.push_back(out.u16string());
        args.insert(args.end(), inputs_.begin(), inputs_.end());
        return plat::childStart(program_, args);
    }

    int run(const fs::path& out, bool skipExisting) const {
        plat::ChildProcess* child = start(out, skipExisting);
        return child ? plat::childWait(child) : plat::kChildUnknown;
    }

private:
    std::u16string program_;
    std::vector<std::u16string> inputs_;
};

// The folder's files by name.
std::map<std::string, Bytes> filesIn(const fs::path& dir) {
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::directory_iterator(dir)) files[entry.path().filename().string()] = octtest::readFile(entry.path());
    return files;
}

TEST(OctToolBatchKill, EveryOutputIsAbsentOrWholeAndSkipExistingFinishesTheBatch) {
    const fs::path dir = fs::temp_directory_path() / ("oct-batch-kill-" + std::to_string(std::random_device{}()));
    fs::remove_all(dir);
    const Batch batch(dir);
    fs::create_directories(dir / "reference");
    fs::create_directories(dir / "out");

    // The unkilled run, and how long a run takes.
    const auto start = Clock::now();
    ASSERT_EQ(batch.run(dir / "reference", false), 0);
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    const std::map<std::string, Bytes> reference = filesIn(dir / "reference");
    ASSERT_EQ(reference.size(), static_cast<std::size_t>(kPictures));

    const std::regex temporary(R"((p\d+\.oct)\.~\d+-\d+)");
    std::mt19937_64 random(static_cast<std::uint64_t>(envNumber("OCT_KILL_SEED", 20261211)));
    const std::int64_t kills = envNumber("OCT_BATCH_KILLS", 10);
    int landed = 0, rounds = 0, leftovers = 0;  // kills that stopped a run; batches finished; temporary files seen
    std::size_t outputs = 0;                    // in the folder after the last kill
    for (std::int64_t k = 0; k < kills; ++k) {
        if (outputs == reference.size()) {
            // A batch finished under the kills: it is an unkilled run's, and
            // the next kills go to a new one.
            std::map<std::string, Bytes> done = filesIn(dir / "out");
            std::erase_if(done, [&](const auto& file) { return std::regex_match(file.first, temporary); });
            ASSERT_EQ(done, reference) << "kill " << k;
            fs::remove_all(dir / "out");
            fs::create_directories(dir / "out");
            ++rounds;
        }
        // A moment within the time the pictures still to do take, so that
        // most kills meet the batch at work; one may come before the first
        // save.
        const std::int64_t left = static_cast<std::int64_t>(reference.size() - outputs);
        const std::int64_t within = whole * std::max<std::int64_t>(left, 8) / kPictures;
        const auto wait = std::chrono::microseconds(std::uniform_int_distribution<std::int64_t>(0, within)(random));
        plat::ChildProcess* child = batch.start(dir / "out", true);
        ASSERT_NE(child, nullptr);
        std::this_thread::sleep_for(wait);
        plat::childKill(child);
        if (plat::childWait(child) == plat::kChildKilled) ++landed;
        outputs = 0;
        for (const auto& [name, bytes] : filesIn(dir / "out")) {
            if (std::regex_match(name, temporary)) {  // a save under way when the kill came
                ++leftovers;
                continue;
            }
            ++outputs;
            const auto expected = reference.find(name);
            ASSERT_NE(expected, reference.end()) << "kill " << k << ": " << name << " in the folder";
            ASSERT_EQ(bytes, expected->second) << "kill " << k << ": " << name << " is not whole";
        }
    }
    // Kills must have met runs at work (most do), or little was tried.
    EXPECT_GE(landed, kills / 4) << "only " << landed << " of " << kills << " kills stopped a run";
    std::printf("[ batch kill ] %d of %lld kills stopped a run, %d batches finished under them, %d temporary files "
                "left\n",
                landed, static_cast<long long>(kills), rounds, leftovers);
    // Running it again finishes it, and takes the killed runs' temporary files away.
    ASSERT_EQ(batch.run(dir / "out", true), 0);
    EXPECT_EQ(filesIn(dir / "out"), reference);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace oct
