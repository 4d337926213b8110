// octConvert end to end on the library's own DIB sections, and the record's
// accessors and procedures.
#include "api/record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "api/level_codec.h"
#include "draw/session.h"
#include "image/image.h"
#include "oct.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "runtime/heap.h"

namespace oct {
namespace {

// A host bitmap: a DIB section filled with a known pattern.
struct HostBitmap {
    plat::Handle handle = 0;
    plat::BitmapDesc bm{};

    HostBitmap(std::int32_t w, std::int32_t h, int bpp) {
        handle = plat::dibSectionCreate(w, h, bpp);
        EXPECT_NE(handle, 0u);
        plat::bitmapDescribe(handle, bm);
    }
    ~HostBitmap() { plat::objectDelete(handle); }

    std::uint8_t* at(std::int32_t x, std::int32_t row) {
        return static_cast<std::uint8_t*>(bm.bits) + static_cast<std::int64_t>(row) * bm.widthBytes +
               x * (bm.bitsPerPixel / 8);
    }
};

std::uint8_t* rebuiltAt(OctImage* r, std::int32_t x, std::int32_t row, plat::BitmapDesc& out) {
    EXPECT_TRUE(plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(r)), out));
    return static_cast<std::uint8_t*>(out.bits) + static_cast<std::int64_t>(row) * out.widthBytes +
           x * (out.bitsPerPixel / 8);
}

TEST(OctConvert, TwentyFourBitPictureRebuildsInGrayLevels) {
    HostBitmap src(5, 3, 24);
    std::memset(src.at(0, 0), 0xFF, 3);  // white, bottom-left
    src.at(4, 2)[0] = 200, src.at(4, 2)[1] = 100, src.at(4, 2)[2] = 50;  // level 3, top-right
    OctImage* r = octConvert(static_cast<int64_t>(src.handle));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(octWidth(r), 5);
    EXPECT_EQ(octHeight(r), 3);
    EXPECT_EQ(octAlpha(r), 0);
    EXPECT_EQ(r->levelsSize, 15);
    EXPECT_EQ(std::memcmp(r->header.magic, "OCTL", 4), 0);
    EXPECT_EQ(std::int64_t{r->header.rawSize}, 15);
    plat::BitmapDesc out{};
    EXPECT_EQ(rebuiltAt(r, 0, 0, out)[0], 0xFF);
    EXPECT_EQ(out.bitsPerPixel, 24);
    EXPECT_EQ(out.width, 5);
    EXPECT_EQ(out.height, 3);
    const std::uint8_t* p = rebuiltAt(r, 4, 2, out);
    EXPECT_EQ(p[0], 89);
    EXPECT_EQ(p[1], 89);
    EXPECT_EQ(p[2], 89);
    EXPECT_EQ(rebuiltAt(r, 1, 1, out)[0], 0);
    EXPECT_EQ(octFree(r), 0);
    EXPECT_TRUE(plat::bitmapIsDibSection(src.handle)) << "the caller's bitmap must stay alive";
}

TEST(OctConvert, ThirtyTwoBitPictureKeepsAlphaLevels) {
    HostBitmap src(2, 2, 32);
    const std::uint8_t px[4] = {255, 255, 255, 128};
    std::memcpy(src.at(1, 1), px, 4);
    OctImage* r = octConvert(static_cast<int64_t>(src.handle));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(octAlpha(r), 1);
    plat::BitmapDesc out{};
    const std::uint8_t* p = rebuiltAt(r, 1, 1, out);
    EXPECT_EQ(out.bitsPerPixel, 32);
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[3], 119);  // alpha 128 is level 4
    EXPECT_EQ(rebuiltAt(r, 0, 0, out)[3], 0);
    octFree(r);
}

TEST(OctConvert, RefusesWhatItCannotRead) {
    EXPECT_EQ(octConvert(0), nullptr);
    std::uint64_t local = 0;
    EXPECT_EQ(octConvert(reinterpret_cast<int64_t>(&local)), nullptr);
    plat::Handle dead = plat::dibSectionCreate(2, 2, 24);
    plat::objectDelete(dead);
    EXPECT_EQ(octConvert(static_cast<int64_t>(dead)), nullptr);
}

TEST(OctRecord, NullRecordAccessorsAnswerZero) {
    EXPECT_EQ(octFree(nullptr), 0);
    EXPECT_EQ(octWidth(nullptr), 0);
    EXPECT_EQ(octHeight(nullptr), 0);
    EXPECT_EQ(octAlpha(nullptr), 0);
    EXPECT_EQ(octHandle(nullptr), 0);
    EXPECT_EQ(octVersion(), 1);
}

TEST(OctRecord, ProceduresDoNothingWhenTheirFieldIsThere) {
    HostBitmap src(3, 3, 24);
    OctImage* r = octConvert(static_cast<int64_t>(src.handle));
    ASSERT_NE(r, nullptr);
    const std::int64_t image = r->image;
    std::uint8_t* levels = r->levels;
    EXPECT_EQ(octRebuildRecord(*r), 1);
    EXPECT_EQ(octQuantizeRecord(*r), 1);
    EXPECT_EQ(r->image, image);
    EXPECT_EQ(r->levels, levels);
    octFree(r);
}

TEST(OctRecord, RebuildFromAShortLevelBufferPaintsTheRestBlack) {
    auto* r = static_cast<OctImage*>(memBlockAlloc(sizeof(OctImage)));
    ASSERT_NE(r, nullptr);
    lvlFillHeader(r->header, 8, 8, 1, 64);
    r->levels = static_cast<std::uint8_t*>(memAlloc(1));
    r->levels[0] = 0xFF;  // pixel 0: white, opaque; pixel 1 partly present
    r->levelsSize = 1;
    ASSERT_EQ(octRebuildRecord(*r), 1);
    plat::BitmapDesc out{};
    EXPECT_EQ(rebuiltAt(r, 0, 0, out)[3], 255);
    EXPECT_EQ(rebuiltAt(r, 7, 7, out)[3], 0);
    octFreeRecord(r);
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

TEST(OctConvert, ThreadsConvertTheirOwnBitmapsAtOnce) {
    constexpr int kThreads = 4, kRounds = 20;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < kRounds; ++round) {
                HostBitmap src(16 + t, 9, t % 2 ? 32 : 24);
                const std::uint8_t value = static_cast<std::uint8_t>(40 * t + round);
                for (std::int32_t row = 0; row < 9; ++row) std::memset(src.at(0, row), value, src.bm.widthBytes);
                OctImage* r = octConvert(static_cast<int64_t>(src.handle));
                plat::BitmapDesc out{};
                if (!r || octWidth(r) != 16 + t || !plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(r)), out))
                    ++failures;
                else if (static_cast<const std::uint8_t*>(out.bits)[0] != kLevelPalette[value * 3 / 96])
                    ++failures;
                octFree(r);
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

void plotThroughSession(void*, std::int32_t x, std::int32_t y, std::uint32_t colour) { drwPlot(x, y, colour); }

// The rebuilt image must hold exactly what plotting every pixel under the
// all-bytes mode gives, whatever the widths, depths and buffer lengths.
TEST(OctRecord, RebuildWritesWhatPlottingWrites) {
    std::uint32_t seed = 7;
    for (bool alpha : {false, true}) {
        for (std::int32_t width : {1, 2, 3, 5, 8, 21, 64, 67}) {
            const std::int32_t height = 5;
            const std::int64_t pixels = static_cast<std::int64_t>(width) * height;
            auto* r = static_cast<OctImage*>(memBlockAlloc(sizeof(OctImage)));
            ASSERT_NE(r, nullptr);
            lvlFillHeader(r->header, width, height, alpha, pixels);
            // Random codes, and sometimes a buffer shorter than the codes need.
            r->levelsSize = (seed % 3 == 0) ? pixels / 3 + 1 : pixels;
            r->levels = static_cast<std::uint8_t*>(memAlloc(r->levelsSize));
            for (std::int64_t i = 0; i < r->levelsSize; ++i) r->levels[i] = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 23);
            ASSERT_EQ(octRebuildRecord(*r), 1);

            const std::int64_t reference = imgCreateImage(AnyId, width, height, alpha ? 32 : 24, 0);
            ASSERT_NE(reference, 0);
            ASSERT_NE(drwBegin(drwImageOutput(reference)), 0);
            drwSetMode(DrawMode::kAllBytes);
            lvlDecode(r->levels, r->levelsSize, width, height, alpha, plotThroughSession, nullptr);
            drwEnd();

            plat::BitmapDesc got{}, want{};
            ASSERT_TRUE(plat::bitmapDescribe(static_cast<plat::Handle>(r->imageBitmap), got));
            ASSERT_TRUE(plat::bitmapDescribe(imgImageHandle(reference), want));
            EXPECT_EQ(std::memcmp(got.bits, want.bits, static_cast<std::size_t>(want.widthBytes) * height), 0)
                << "alpha " << alpha << " width " << width;
            imgFreeImage(reference);
            octFreeRecord(r);
        }
    }
}

}  // namespace
}  // namespace oct
