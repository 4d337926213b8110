// The Windows picture codecs (WIC) as the image layer uses them: COM on the
// calling thread whatever apartment the host chose, pictures decoded on
// several threads at once, rows laid top-down or bottom-up, limits kept
// before the codec allocates, and what the codec's own conversions would
// get wrong. The pixels of every test picture are checked on both systems
// by the cross-platform picture tests.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#endif

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/fail_inject.h"
#include "platform/pictures.h"
#include "platform/png_encode.h"
#include "test_files.h"

namespace oct::plat {
namespace {

using octtest::Bytes;

#ifdef _WIN32

constexpr PictureLimits kLimits{.maxSide = 32767, .maxBytes = std::int64_t{1} << 31, .maxFrames = 1000};

Bytes picture(const char* leaf) { return octtest::readFile(std::filesystem::path(OCT_CORPUS_DIR) / leaf); }

// Frame `index` decoded into top-down rows of 4 bytes a pixel with a canary
// row below; empty when any step fails or the canary is touched.
Bytes decodeFrame(PictureFormat format, const Bytes& bytes, std::int32_t index = 0, bool bottomUp = false) {
    PictureInfo info{};
    PictureReader* reader = pictureOpen(format, bytes.data(), bytes.size(), kLimits, info);
    if (!reader) return {};
    PictureFrame frame{};
    Bytes rows;
    if (pictureFrameInfo(reader, index, frame)) {
        const std::size_t pitch = static_cast<std::size_t>(frame.width) * 4 + 4;  // 4 bytes of padding a row
        rows.assign(pitch * (static_cast<std::size_t>(frame.height) + 1), 0xcc);
        if (!pictureDecode(reader, index, rows.data(), static_cast<std::int32_t>(pitch), 4, bottomUp)) rows.clear();
        for (std::size_t y = 0; y < static_cast<std::size_t>(frame.height) && !rows.empty(); ++y)
            for (std::size_t i = 0; i < 4; ++i)
                if (rows[y * pitch + pitch - 4 + i] != 0xcc) rows.clear();
        for (std::size_t i = pitch * frame.height; i < rows.size(); ++i)
            if (rows[i] != 0xcc) rows.clear();
    }
    pictureClose(reader);
    return rows;
}

// A small RGB picture encoded as PNG through WIC; false when any step fails.
bool encodePng() {
    PngPicture picture{};
    picture.width = 5;
    picture.height = 3;
    picture.colour = PngColour::Rgb;
    picture.bitDepth = 8;
    picture.level = 6;
    picture.filter = true;
    picture.row = [](void*, std::int32_t y, std::uint8_t* out) { std::fill_n(out, 15, static_cast<std::uint8_t>(y * 40)); };
    std::size_t written = 0;
    ByteSink sink{};
    sink.context = &written;
    sink.write = [](void* context, const void*, std::size_t n) {
        *static_cast<std::size_t*>(context) += n;
        return true;
    };
    return pngEncode(picture, sink) && written > 8;
}

// Runs `body` on a thread of its own whose COM state the test controls.
template <typename F>
void onNewThread(F body) {
    std::thread t(body);
    t.join();
}

TEST(PictureCom, WorksInTheApartmentTheHostChose) {
    const Bytes png = picture("png/pngsuite/basn6a08.png");
    const Bytes expected = decodeFrame(PictureFormat::Png, png);
    ASSERT_FALSE(expected.empty());
    struct Case {
        const char* name;
        DWORD apartment;  // ~0: the thread has no COM before the picture is opened
    };
    const Case cases[] = {{"no COM yet", ~0u}, {"single-threaded", COINIT_APARTMENTTHREADED},
                          {"multithreaded", COINIT_MULTITHREADED}};
    for (const Case& c : cases) {
        onNewThread([&] {
            const bool hostCom = c.apartment != ~0u;
            if (hostCom) {
                ASSERT_EQ(CoInitializeEx(nullptr, c.apartment), S_OK) << c.name;
            }
            EXPECT_EQ(decodeFrame(PictureFormat::Png, png), expected) << c.name;
            EXPECT_TRUE(encodePng()) << c.name;
            PictureInfo info{};
            PictureReader* open = pictureOpen(PictureFormat::Png, png.data(), png.size(), kLimits, info);
            EXPECT_GT(liveComHolds(), 0) << c.name;  // what an open reader holds is seen
            pictureClose(open);
            // Every reference is released and COM ended where it was begun,
            // on this thread.
            EXPECT_EQ(liveComHolds(), 0) << c.name;
            // The host's apartment is still there, unchanged, and only the
            // host's own count holds it: a new initialisation of the same
            // kind joins it (S_FALSE); with none, nothing was left behind (S_OK).
            const HRESULT again = CoInitializeEx(nullptr, hostCom ? c.apartment : static_cast<DWORD>(COINIT_MULTITHREADED));
            EXPECT_EQ(again, hostCom ? S_FALSE : S_OK) << c.name;
            CoUninitialize();
            if (hostCom) CoUninitialize();
        });
    }
}

TEST(PictureCom, ThreadsDecodeDifferentPicturesAtOnce) {
    const struct {
        PictureFormat format;
        const char* leaf;
    } pictures[] = {{PictureFormat::Png, "png/pngsuite/basn6a16.png"},
                    {PictureFormat::Gif, "gif/pillow/chi.gif"},
                    {PictureFormat::Jpeg, "jpeg/pillow/pil_sample_cmyk.jpg"},
                    {PictureFormat::Tiff, "tiff/libtiff/rgb-3c-16b.tiff"}};
    std::vector<Bytes> bytes, expected;
    for (const auto& p : pictures) {
        bytes.push_back(picture(p.leaf));
        expected.push_back(decodeFrame(p.format, bytes.back()));
        ASSERT_FALSE(expected.back().empty()) << p.leaf;
    }
    std::vector<std::thread> threads;
    std::vector<int> mismatches(8, 0);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 10; ++round) {
                const std::size_t k = static_cast<std::size_t>(t + round) % std::size(pictures);
                if (decodeFrame(pictures[k].format, bytes[k]) != expected[k]) ++mismatches[t];
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(mismatches, std::vector<int>(8, 0));
    // Threads that decoded through WIC and ended left nothing behind.
    EXPECT_EQ(liveComHolds(), 0);
}

TEST(PictureCom, BottomUpRowsAreTheTopDownRowsReversed) {
    const Bytes gif = picture("gif/gif-test-suite/animated_transparent_loop.gif");
    for (std::int32_t index : {0, 2}) {
        const Bytes down = decodeFrame(PictureFormat::Gif, gif, index, false);
        const Bytes up = decodeFrame(PictureFormat::Gif, gif, index, true);
        ASSERT_FALSE(down.empty());
        ASSERT_EQ(down.size(), up.size());
        PictureInfo info{};
        PictureReader* reader = pictureOpen(PictureFormat::Gif, gif.data(), gif.size(), kLimits, info);
        PictureFrame frame{};
        ASSERT_TRUE(pictureFrameInfo(reader, index, frame));
        pictureClose(reader);
        const std::size_t pitch = static_cast<std::size_t>(frame.width) * 4 + 4;
        for (std::size_t y = 0; y < static_cast<std::size_t>(frame.height); ++y)
            ASSERT_TRUE(std::equal(down.begin() + y * pitch, down.begin() + (y + 1) * pitch,
                                   up.begin() + (frame.height - 1 - y) * pitch))
                << "frame " << index << " row " << y;
    }
}

TEST(PictureCom, RefusesWhatItCannotDoCleanly) {
    PictureInfo info{};
    const Bytes png = picture("png/pngsuite/basn2c08.png");
    const PictureLimits small{.maxSide = 31, .maxBytes = 1 << 20, .maxFrames = 1};
    const PictureLimits fewFrames{.maxSide = 32767, .maxBytes = std::int64_t{1} << 31, .maxFrames = 3};
    const struct {
        const char* name;
        PictureFormat format;
        Bytes bytes;
        PictureLimits limits;
    } cases[] = {
        {"beyond the side limit", PictureFormat::Png, png, small},
        {"asked as another format", PictureFormat::Tiff, png, kLimits},
        {"more frames than allowed", PictureFormat::Gif, picture("gif/gif-test-suite/animated_loop.gif"), fewFrames},
        {"declared screen far beyond its bytes", PictureFormat::Gif, picture("gif-bad/pillow/decompression_bomb.gif"),
         kLimits},
        {"zero width", PictureFormat::Gif, picture("gif-bad/pillow/zero_width.gif"), kLimits},
        {"truncated", PictureFormat::Png, Bytes(png.begin(), png.begin() + 40), kLimits},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.bytes.empty()) << c.name;
        EXPECT_EQ(pictureOpen(c.format, c.bytes.data(), c.bytes.size(), c.limits, info), nullptr) << c.name;
    }
    // A reader refuses what lies outside it and rows it cannot hold.
    PictureReader* reader = pictureOpen(PictureFormat::Png, png.data(), png.size(), kLimits, info);
    ASSERT_NE(reader, nullptr);
    Bytes rows(32 * 32 * 4, 0xcc);
    EXPECT_FALSE(pictureDecode(reader, 1, rows.data(), 32 * 4, 4, false));
    EXPECT_FALSE(pictureDecode(reader, 0, rows.data(), 32 * 3 - 1, 3, false));
    EXPECT_FALSE(pictureDecode(reader, 0, rows.data(), 32 * 4, 2, false));
    EXPECT_EQ(rows, Bytes(32 * 32 * 4, 0xcc));
    EXPECT_TRUE(pictureDecode(reader, 0, rows.data(), 32 * 3, 3, false));
    pictureClose(reader);
    pictureClose(nullptr);
}

// WIC's TIFF codec hands the 16-bit samples of a big-endian file in the
// file's byte order under Wine and swapped on Windows; either way the high
// byte must come out.
TEST(PictureCom, SixteenBitTiffSamplesGiveTheirHighByteInEitherByteOrder) {
    auto tiff = [](bool big) {
        // One directory of 9 entries, then two gray pixels 0x1234 and 0xabcd.
        Bytes b;
        auto u16 = [&](std::uint32_t v) {
            const std::uint8_t hi = static_cast<std::uint8_t>(v >> 8), lo = static_cast<std::uint8_t>(v);
            b.insert(b.end(), big ? std::initializer_list<std::uint8_t>{hi, lo} : std::initializer_list<std::uint8_t>{lo, hi});
        };
        auto u32 = [&](std::uint32_t v) { big ? (u16(v >> 16), u16(v & 0xffff)) : (u16(v & 0xffff), u16(v >> 16)); };
        b.insert(b.end(), {std::uint8_t(big ? 'M' : 'I'), std::uint8_t(big ? 'M' : 'I')});
        u16(42);
        u32(8);
        u16(9);
        const std::uint32_t entries[][3] = {{256, 3, 2}, {257, 3, 1}, {258, 3, 16}, {259, 3, 1}, {262, 3, 1},
                                            {273, 4, 122}, {277, 3, 1}, {278, 3, 1}, {279, 4, 4}};
        for (const auto& e : entries) {
            u16(e[0]);
            u16(e[1]);
            u32(1);
            if (e[1] == 3) {
                u16(e[2]);
                u16(0);
            } else {
                u32(e[2]);
            }
        }
        u32(0);
        u16(0x1234);
        u16(0xabcd);
        return b;
    };
    for (bool big : {false, true}) {
        const Bytes rows = decodeFrame(PictureFormat::Tiff, tiff(big));
        ASSERT_GE(rows.size(), 8u) << big;
        EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 8), (Bytes{0x12, 0x12, 0x12, 255, 0xab, 0xab, 0xab, 255}))
            << (big ? "big-endian" : "little-endian");
    }
}

TEST(PictureCom, GifTransparentIndexKeepsItsPaletteColour) {
    const Bytes gif = picture("gif/pillow/transparent.gif");
    PictureInfo info{};
    PictureReader* reader = pictureOpen(PictureFormat::Gif, gif.data(), gif.size(), kLimits, info);
    ASSERT_NE(reader, nullptr);
    EXPECT_TRUE(info.alpha);
    pictureClose(reader);
    const Bytes rows = decodeFrame(PictureFormat::Gif, gif);
    ASSERT_FALSE(rows.empty());
    // Its transparent index is palette entry 255, which is white.
    std::size_t white = 0, other = 0;
    for (std::size_t i = 0; i + 3 < rows.size(); i += 4) {
        if (rows[i + 3] != 0) continue;
        rows[i] == 255 && rows[i + 1] == 255 && rows[i + 2] == 255 ? ++white : ++other;
    }
    EXPECT_GT(white, 0u);
    EXPECT_EQ(other, 0u);
}

#else

TEST(PictureCom, WindowsOnly) { GTEST_SKIP() << "COM and WIC exist on Windows only"; }

#endif

}  // namespace
}  // namespace oct::plat
