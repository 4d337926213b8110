// Many threads converting pictures through the exports at once, and what they
// leave behind once they have ended.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "api/level_codec.h"
#include "image/image_bytes.h"
#include "oct.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "runtime/bounded_wait.h"
#include "runtime/strings.h"
#include "runtime/thread_area.h"
#include "runtime/thread_exit.h"

namespace oct {
namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 64;

// Counts failures instead of asserting, so that a failing thread still
// reaches the point where the test holds it.
struct Failures {
    std::atomic<int> count{0};
    void check(bool ok) {
        if (!ok) ++count;
    }
};

// One picture of a thread: a bottom-up DIB section in a uniform gray with one
// white pixel at a place of its own.
struct Picture {
    plat::Handle handle = 0;
    plat::BitmapDesc bm{};
    std::int32_t whiteX = 0, whiteRow = 0;
    std::uint8_t gray = 0;

    Picture(int thread, int round) {
        const std::int32_t width = 16 + thread + round % 4, height = 9 + round % 3;
        handle = plat::dibSectionCreate(width, height, (thread + round) % 2 ? 32 : 24);
        if (!handle || !plat::bitmapDescribe(handle, bm)) return;
        gray = static_cast<std::uint8_t>(20 * thread + round);
        for (std::int32_t row = 0; row < height; ++row) std::memset(at(bm, 0, row), gray, bm.widthBytes);
        whiteX = 1 + thread, whiteRow = round % height;
        std::memset(at(bm, whiteX, whiteRow), 0xFF, bm.bitsPerPixel / 8);
    }
    ~Picture() { plat::objectDelete(handle); }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    static std::uint8_t* at(const plat::BitmapDesc& d, std::int32_t x, std::int32_t row) {
        return static_cast<std::uint8_t*>(d.bits) + static_cast<std::int64_t>(row) * d.widthBytes +
               x * (d.bitsPerPixel / 8);
    }
};

// Converts the picture and checks the record: its size, a gray pixel in the
// picture's level and the white one.
bool convertsFaithfully(const Picture& picture) {
    if (!picture.bm.bits) return false;
    OctImage* record = octConvert(static_cast<int64_t>(picture.handle));
    plat::BitmapDesc out{};
    bool ok = record && octWidth(record) == picture.bm.width && octHeight(record) == picture.bm.height &&
              plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(record)), out);
    if (ok) {
        const std::uint8_t level = kLevelPalette[picture.gray * 3 / 96];
        const std::int32_t grayX = picture.whiteX == 0 ? 1 : 0;
        ok = Picture::at(out, grayX, picture.whiteRow)[0] == level &&
             Picture::at(out, picture.whiteX, picture.whiteRow)[1] == 255;
    }
    octFree(record);
    return ok;
}

// Loads a small BMP from memory through the exports: the loader's decode
// state lives in the thread's per-thread area, so this makes the area.
bool catchesFromMemory(int thread) {
    const std::int32_t width = 3 + thread;
    const octtest::Bytes file = octtest::makeBmp(
        {width, 1, 24, 0, {}, octtest::Bytes(static_cast<std::size_t>(width * 3 + 3) / 4 * 4, 0x80)});
    OctImage* record = octCatch(file.data(), static_cast<int64_t>(file.size()));
    const bool ok = record && octWidth(record) == width && octHeight(record) == 1;
    octFree(record);
    return ok;
}

// Holds every worker after its work until the test lets them all end.
class Gate {
public:
    void arrive() {
        std::unique_lock hold(lock_);
        ++arrived_;
        changed_.notify_all();
        changed_.wait(hold, [this] { return open_; });
    }
    void waitForAll(int count) {
        std::unique_lock hold(lock_);
        changed_.wait(hold, [&] { return arrived_ == count; });
    }
    void open() {
        std::lock_guard hold(lock_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    int arrived_ = 0;
    bool open_ = false;
};

TEST(ExportThreads, ConvertAtOnceAndReleaseTheirStateAfterEnding) {
    // Records left by earlier tests run now, so the counts below are this test's.
    thrExitShutdown();
    const std::int64_t stringBlocks = strLiveBlocks();
    const std::int64_t areaBlocks = thrLiveAreaBlocks();

    Failures failures;
    Gate gate;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &failures, &gate] {
            for (int round = 0; round < kRounds; ++round) {
                Picture picture(t, round);
                failures.check(convertsFaithfully(picture));
            }
            failures.check(catchesFromMemory(t));
            gate.arrive();
        });
    gate.waitForAll(kThreads);
    // Every worker has made its string block and its per-thread area block, and
    // none has ended yet.
    EXPECT_EQ(strLiveBlocks(), stringBlocks + kThreads);
    EXPECT_EQ(thrLiveAreaBlocks(), areaBlocks + kThreads);
    gate.open();
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.count.load(), 0);

    EXPECT_TRUE(test::waitUntil([&] {
        return strLiveBlocks() == stringBlocks && thrLiveAreaBlocks() == areaBlocks && thrExitPendingThreads() == 0;
    })) << "string blocks " << strLiveBlocks() - stringBlocks << ", area blocks "
        << thrLiveAreaBlocks() - areaBlocks << ", threads pending " << thrExitPendingThreads();
}

}  // namespace
}  // namespace oct
