// octtool convert killed at random moments while it replaces an existing
// output (SIGKILL on Linux, TerminateProcess on Windows): the output is
// always either the old file exactly or the whole new one, and nothing else
// is left in the folder but temporary files of the save's own names, which
// never stop the next save.
//
// OCT_KILL_ROUNDS kills per output (default 12; the full run is 200 or
// more), OCT_KILL_SIZE the picture's side in pixels (default 1024) and
// OCT_KILL_SEED the seed of the kill moments (fixed by default, so that a
// failure can be replayed).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "bench/picture_maker.h"
#include "oct.h"
#include "platform/child_process.h"
#include "test_files.h"

namespace oct {
namespace {

namespace fs = std::filesystem;
using octtest::Bytes;
using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;

std::int64_t envNumber(const char* name, std::int64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoll(text, nullptr, 10) : fallback;
}

// The picture: the photograph scaled to a square, with alpha, so that the
// level file carries alpha levels and the BMP is 32 bits.
Bytes bigPicture(std::int32_t side) {
    const auto photo = benchReadBmp((fs::path(OCT_CORPUS_DIR) / "photo" / "harvesters.bmp").string());
    if (!photo) return {};
    const auto scaled = benchScalePhoto(*photo, side, side, true);
    return scaled ? benchBmpFile(*scaled) : Bytes{};
}

// What the library saves from a picture in memory, as the old output.
Bytes savedFrom(const Bytes& picture, const fs::path& where, bool bitmap) {
    OctImage* record = octCatch(picture.data(), static_cast<std::int64_t>(picture.size()));
    const bool ok = record && octSave(record, where.u16string().c_str(), bitmap ? 1 : 0) == 1;
    octFree(record);
    return ok ? octtest::readFile(where) : Bytes{};
}

class Convert {
public:
    Convert(const fs::path& in, const fs::path& out)
        : args_{u"convert", in.u16string(), out.u16string()},
          program_(fs::absolute(OCT_TOOL_PATH).make_preferred().u16string()) {}

    plat::ChildProcess* start() const { return plat::childStart(program_, args_); }

private:
    std::vector<std::u16string> args_;
    std::u16string program_;
};

// Waits until `when`: asleep for most of it, then spinning, because a sleep
// may overshoot by a millisecond or more and the moments near the rename
// are closer than that.
void waitUntil(Clock::time_point when) {
    const auto margin = std::chrono::milliseconds(2);
    if (when - Clock::now() > margin) std::this_thread::sleep_until(when - margin);
    while (Clock::now() < when) {
    }
}

// What can be seen of a save from outside: its temporary file and the output.
struct Output {
    fs::path dir;
    std::string name;           // the output's file name
    std::uintmax_t oldSize = 0;  // the old file's size; the new file's differs
    std::uintmax_t newSize = 0;  // 0 until the first whole run has shown it
    std::vector<std::string> leftovers;  // temporary files of earlier kills, which are not this run's

    // The output has changed: the rename has come.
    bool replaced() const {
        std::error_code ec;
        const std::uintmax_t size = fs::file_size(dir / name, ec);
        return !ec && size != oldSize;
    }
    // A temporary file of the output holds every byte of the new file: the
    // save is flushing, closing or renaming it.
    bool full() const {
        if (!newSize) return false;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            const std::string leaf = entry.path().filename().string();
            std::error_code sizeError;
            if (leaf.rfind(name + ".~", 0) != 0 ||
                std::find(leftovers.begin(), leftovers.end(), leaf) != leftovers.end())
                continue;
            if (fs::file_size(entry.path(), sizeError) == newSize && !sizeError) return true;
        }
        return false;
    }
};

// Looks every 50 microseconds rather than without a pause, which would take
// a processor from the run it watches.
void pause() { std::this_thread::sleep_for(Micros(50)); }

// Watches a run for the moments its temporary file is full and its output
// changes, counted from the start of the run.
class Watch {
public:
    Watch(const Output& out, Clock::time_point start)
        : thread_([this, out, start] {
              const auto since = [start] { return std::chrono::duration_cast<Micros>(Clock::now() - start); };
              // One more look once told to stop: a rename just before the
              // run ended may have come while the watch slept.
              for (;;) {
                  const bool stopping = stop_.load();
                  if (!full_ && out.full()) full_ = since();
                  if (out.replaced()) {
                      replaced_ = since();
                      return;
                  }
                  if (stopping) return;
                  pause();
              }
          }) {}
    ~Watch() { stop(); }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    struct Seen {
        std::optional<Micros> full, replaced;
    };
    // Ends the watch and tells what it saw.
    Seen stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return {full_, replaced_};
    }

private:
    std::atomic<bool> stop_{false};
    std::optional<Micros> full_, replaced_;
    std::thread thread_;
};

// How long whole runs take, when their rename comes and how long it follows
// the last byte written: the middle of the last five runs, so that the kill
// moments follow a machine whose load changes.
class Timings {
public:
    void add(Micros end, Watch::Seen seen) {
        keep(ends_, end);
        keep(renames_, *seen.replaced);
        if (seen.full) keep(gaps_, *seen.replaced - *seen.full);
    }
    double end() const { return middle(ends_); }
    double rename() const { return middle(renames_); }
    double gap() const { return middle(gaps_); }

private:
    static void keep(std::vector<Micros>& v, Micros m) {
        v.push_back(m);
        if (v.size() > 5) v.erase(v.begin());
    }
    static double middle(std::vector<Micros> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : static_cast<double>(v[v.size() / 2].count());
    }
    std::vector<Micros> ends_, renames_, gaps_;
};

// A whole run: empty when it ended with 0 and replaced the output, else
// what went wrong.
std::string timedRun(const Convert& convert, const Output& out, Timings& timings) {
    const auto start = Clock::now();
    plat::ChildProcess* child = convert.start();
    if (!child) return "the program could not be started";
    Watch watch(out, start);
    const int code = plat::childWait(child);
    const auto end = std::chrono::duration_cast<Micros>(Clock::now() - start);
    const Watch::Seen seen = watch.stop();
    if (code != 0) return "exit code " + std::to_string(code);
    if (!seen.replaced) return "the output was not replaced";
    timings.add(end, seen);
    return {};
}

// What a kill left, besides the output.
struct Leftovers {
    std::vector<fs::path> temporary;  // the save's own temporary files
    std::vector<std::string> strays;  // anything else
};

Leftovers leftovers(const fs::path& dir, const std::string& in, const std::string& out) {
    // The save's temporary names: the target's name, ".~", the process number,
    // "-" and a counter.
    const std::regex temporary(std::regex_replace(out, std::regex(R"(\.)"), R"(\.)") + R"(\.~[0-9]+-[0-9]+)");
    Leftovers found;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name == in || name == out) continue;
        if (std::regex_match(name, temporary))
            found.temporary.push_back(entry.path());
        else
            found.strays.push_back(name);
    }
    return found;
}

struct Tally {
    int killedOld = 0, killedNew = 0, ended = 0, atRename = 0, atRenameOld = 0, atRenameNew = 0, temporaries = 0;
    std::int64_t closest = INT64_MAX;  // microseconds between a rename and a kill that left the new file
};

class ConvertKilled : public ::testing::TestWithParam<const char*> {};

TEST_P(ConvertKilled, LeavesTheOldFileOrTheWholeNewOne) {
    const std::string outName = std::string("out.") + GetParam();
    const bool bitmap = std::string(GetParam()) == "bmp";
    const int rounds = static_cast<int>(envNumber("OCT_KILL_ROUNDS", 12));
    const auto side = static_cast<std::int32_t>(envNumber("OCT_KILL_SIZE", 1024));
    const auto seed = static_cast<std::uint64_t>(envNumber("OCT_KILL_SEED", 20261209));

    octtest::TempDir dir;
    const fs::path in = dir.path("in.bmp"), outPath = dir.path(outName);
    const Bytes picture = bigPicture(side);
    ASSERT_FALSE(picture.empty());
    octtest::writeFile(in, picture);
    const Bytes old = savedFrom(bigPicture(side / 2), dir.path("old"), bitmap);
    fs::remove(dir.path("old"));
    ASSERT_FALSE(old.empty());
    const Convert convert(in, outPath);
    Output out{dir.path(""), outName, old.size(), 0, {}};

    // Reference runs: the new file, and how long a run takes.
    Bytes fresh;
    Timings timings;
    for (int i = 0; i < 3; ++i) {
        octtest::writeFile(outPath, old);
        ASSERT_EQ(timedRun(convert, out, timings), "") << "a whole run fails";
        const Bytes got = octtest::readFile(outPath);
        if (i == 0) fresh = got;
        ASSERT_EQ(got, fresh) << "runs differ";
        out.newSize = fresh.size();
    }
    ASSERT_NE(fresh, old);
    ASSERT_TRUE(leftovers(out.dir, "in.bmp", outName).temporary.empty());

    // Two kills in three at any moment of the run; one in three at the
    // rename: once the temporary file holds every byte, after a delay that
    // reaches from its flush to just past the rename.
    std::mt19937_64 random(seed ^ (bitmap ? 1 : 2));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Tally tally;
    const auto noteLeftovers = [&] {
        out.leftovers.clear();
        for (const fs::path& p : leftovers(out.dir, "in.bmp", outName).temporary)
            out.leftovers.push_back(p.filename().string());
    };
    octtest::writeFile(outPath, old);
    for (int round = 0; round < rounds; ++round) {
        const bool atRename = round % 3 == 2;
        const double at = timings.end() * 1.05 * unit(random);
        const double delay = (timings.gap() * 2 + 500.0) * unit(random);
        SCOPED_TRACE("round " + std::to_string(round) + (atRename ? ", at the rename after " : ", at ") +
                     std::to_string(static_cast<long>(atRename ? delay : at)) + " us");
        noteLeftovers();
        const auto start = Clock::now();
        plat::ChildProcess* child = convert.start();
        ASSERT_NE(child, nullptr);
        Watch watch(out, start);
        if (atRename) {
            const auto giveUp = start + Micros(static_cast<std::int64_t>(timings.end() * 3));
            while (!out.full() && !out.replaced() && Clock::now() < giveUp) pause();
            waitUntil(Clock::now() + Micros(static_cast<std::int64_t>(delay)));
        } else {
            waitUntil(start + Micros(static_cast<std::int64_t>(at)));
        }
        plat::childKill(child);
        const auto killed = std::chrono::duration_cast<Micros>(Clock::now() - start);
        const int code = plat::childWait(child);
        const Watch::Seen seen = watch.stop();
        ASSERT_TRUE(code == plat::kChildKilled || code == 0) << "exit code " << code;

        const Bytes now = octtest::readFile(outPath);
        const bool isOld = now == old, isNew = now == fresh;
        ASSERT_TRUE(isOld || isNew) << "the output is neither file: " << now.size() << " bytes";
        if (code == 0) {
            ASSERT_TRUE(isNew) << "a run that ended by itself kept the old file";
            ++tally.ended;
        } else if (isOld) {
            ++tally.killedOld;
            tally.atRenameOld += atRename;
        } else {
            ++tally.killedNew;
            tally.atRenameNew += atRename;
            // Seen from outside: the watch may see the rename a little
            // late, and a kill sent during the rename lands after it.
            if (seen.replaced)
                tally.closest = std::min<std::int64_t>(tally.closest, std::llabs((killed - *seen.replaced).count()));
        }
        tally.atRename += atRename;
        const Leftovers left = leftovers(out.dir, "in.bmp", outName);
        ASSERT_TRUE(left.strays.empty()) << "a stray file: " << left.strays.front();
        tally.temporaries = std::max(tally.temporaries, static_cast<int>(left.temporary.size()));

        // Every few kills a whole run among the leftovers: it must write the
        // new file and add no leftover of its own.
        if (round % 6 == 5 || round == rounds - 1) {
            octtest::writeFile(outPath, old);
            noteLeftovers();
            ASSERT_EQ(timedRun(convert, out, timings), "") << "a whole run after kills fails";
            EXPECT_EQ(octtest::readFile(outPath), fresh);
            EXPECT_EQ(leftovers(out.dir, "in.bmp", outName).temporary.size(), left.temporary.size());
            // Leftovers are as large as the output: keep the folder small.
            for (const fs::path& p : left.temporary) fs::remove(p);
        }
        if (!isOld) octtest::writeFile(outPath, old);
    }
    if (rounds >= 3) {
        EXPECT_GT(tally.killedOld, 0) << "no kill came before the rename";
    }

    const auto ms = [](double us) { return std::to_string(static_cast<long>(us / 1000)); };
    std::string summary = outName + ": " + std::to_string(rounds) + " kills (a run " + ms(timings.end()) +
                          " ms, the rename at " + ms(timings.rename()) + " ms, " +
                          std::to_string(static_cast<long>(timings.gap())) +
                          " us after the last byte): old file kept " + std::to_string(tally.killedOld) +
                          ", new file " + std::to_string(tally.killedNew) + ", ended before the kill " +
                          std::to_string(tally.ended) + "; of the " + std::to_string(tally.atRename) +
                          " at the rename, old " + std::to_string(tally.atRenameOld) + " and new " +
                          std::to_string(tally.atRenameNew) + "; at most " + std::to_string(tally.temporaries) +
                          " temporary files left at once";
    if (tally.closest != INT64_MAX)
        summary += "; a kill that left the new file came " + std::to_string(tally.closest) + " us from its rename";
    RecordProperty("kills", summary);
    if (std::getenv("OCT_KILL_ROUNDS")) std::printf("%s\n", summary.c_str());
}

INSTANTIATE_TEST_SUITE_P(OctTool, ConvertKilled, ::testing::Values("bmp", "oct", "png"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace oct
