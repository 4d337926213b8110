// The exports on the 4096 × 4096 benchmark picture, called as a host program
// calls them, in pixels per second:
//   BM_OctConvert       a host DIB section (octBitmapCreate, the picture's
//                       pixels copied in) to a record, 24 and 32 bits; the
//                       record is freed inside the loop. BM_MemcpySource
//                       (level_bench.cpp) copies the same bytes: run both with
//                       --benchmark_filter='BM_Oct|BM_Memcpy'.
//   BM_OctLoadBmp       the 24-bit BMP file to a record
//   BM_OctLoadLevelFile the level file saved from that record
//   BM_OctSaveLevelFile that record saved as a level file, to the same name on
//                       every iteration. A record packs its levels once and
//                       keeps the payload, so "cached:1" (one record, saved
//                       once before the loop) times the write alone and
//                       "cached:0" (a fresh record per iteration, loaded with
//                       the timer paused) times packing and writing.
// The file cases measure wall-clock time.
#ifndef _WIN32

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench_picture.h"
#include "oct.h"

namespace {

std::u16string fileName(const std::string& path) { return std::filesystem::path(path).u16string(); }

// A host bitmap holding the benchmark picture, as a host program would make it.
class HostBitmap {
public:
    explicit HostBitmap(const BenchPicture& pic) : handle_(octBitmapCreate(pic.width, pic.height, pic.bitsPerPixel)) {
        OctBitmap bm{};
        if (!handle_ || !octBitmapInfo(handle_, &bm)) std::abort();
        // Both are bottom-up: row r in memory is row r of the file.
        const auto row = static_cast<std::size_t>(std::min(bm.widthBytes, pic.pitch));
        for (std::int32_t r = 0; r < pic.height; ++r)
            std::memcpy(static_cast<std::uint8_t*>(bm.bits) + static_cast<std::size_t>(r) * bm.widthBytes,
                        pic.pixels.data() + static_cast<std::size_t>(r) * pic.pitch, row);
    }
    ~HostBitmap() { octBitmapDelete(handle_); }
    HostBitmap(const HostBitmap&) = delete;
    HostBitmap& operator=(const HostBitmap&) = delete;
    std::int64_t handle() const { return handle_; }

private:
    std::int64_t handle_;
};

void setPixels(benchmark::State& state, const BenchPicture& pic) {
    state.SetItemsProcessed(state.iterations() * pic.width * pic.height);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pic.pixels.size()));
}

// The level file of the 24-bit picture, saved once per run outside any timing.
const std::string& levelFilePath() {
    static const std::string path = [] {
        const std::string p = std::string(OCT_BENCH_DIR) + "/bench-4096.oct";
        OctImage* record = octLoad(fileName(benchPicturePath(false)).c_str());
        if (!record || octSave(record, fileName(p).c_str(), 0) != 1) std::abort();
        octFree(record);
        return p;
    }();
    return path;
}

void BM_OctConvert(benchmark::State& state) {
    const BenchPicture& pic = benchPicture(state.range(0) == 32);
    const HostBitmap bitmap(pic);
    for (auto _ : state) {
        OctImage* record = octConvert(bitmap.handle());
        if (!record) state.SkipWithError("octConvert failed");
        octFree(record);
    }
    setPixels(state, pic);
}
BENCHMARK(BM_OctConvert)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);

void BM_OctLoadBmp(benchmark::State& state) {
    const std::u16string name = fileName(benchPicturePath(false));
    for (auto _ : state) {
        OctImage* record = octLoad(name.c_str());
        if (!record) state.SkipWithError("octLoad failed");
        octFree(record);
    }
    setPixels(state, benchPicture(false));
}
BENCHMARK(BM_OctLoadBmp)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OctLoadLevelFile(benchmark::State& state) {
    const std::u16string name = fileName(levelFilePath());
    for (auto _ : state) {
        OctImage* record = octLoad(name.c_str());
        if (!record) state.SkipWithError("octLoad failed");
        octFree(record);
    }
    setPixels(state, benchPicture(false));
}
BENCHMARK(BM_OctLoadLevelFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OctSaveLevelFile(benchmark::State& state) {
    const std::u16string picture = fileName(benchPicturePath(false));
    const std::u16string name = fileName(std::string(OCT_BENCH_DIR) + "/bench-4096-save.oct");
    const bool cached = state.range(0) != 0;
    OctImage* record = nullptr;
    if (cached) {
        record = octLoad(picture.c_str());
        if (!record || octSave(record, name.c_str(), 0) != 1) {
            state.SkipWithError("first save failed");
            octFree(record);
            return;
        }
    }
    for (auto _ : state) {
        if (!cached) {
            state.PauseTiming();
            record = octLoad(picture.c_str());
            state.ResumeTiming();
        }
        if (octSave(record, name.c_str(), 0) != 1) state.SkipWithError("octSave failed");
        if (!cached) {
            state.PauseTiming();
            octFree(record);
            record = nullptr;
            state.ResumeTiming();
        }
    }
    octFree(record);
    setPixels(state, benchPicture(false));
}
BENCHMARK(BM_OctSaveLevelFile)->ArgName("cached")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

#endif
