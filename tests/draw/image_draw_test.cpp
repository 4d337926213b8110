#include "draw/image_draw.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "draw/blit.h"
#include "draw/session.h"
#include "image/alpha.h"
#include "image/image.h"
#include "image/resample.h"
#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "platform/handles.h"

namespace oct {
namespace {

using Px = std::array<std::uint8_t, 4>;
using Bytes = std::vector<std::uint8_t>;

// A pixel buffer of w × h with a running context on it, rows bottom-up or top-down.
class Target {
public:
    Target(std::int32_t w, std::int32_t h, int bytes, bool bottomUp) : w_(w), h_(h), bpp_(bytes), bottomUp_(bottomUp) {
        pitch_ = (static_cast<std::int64_t>(w) * bytes + 3) / 4 * 4;
        pixels_.assign(static_cast<std::size_t>(pitch_ * h), 0);
        const std::uint32_t flags = (bytes == 4 ? OutputFlags::kRgba32 : OutputFlags::kRgb24) |
                                    (bottomUp ? OutputFlags::kBottomUp : 0);
        c_ = drwNewContext(flags);
        c_->bits = c_->baseBits = pixels_.data();
        c_->pitch = pitch_;
        c_->width = c_->fullWidth = w;
        c_->height = c_->fullHeight = h;
        c_->depth = bytes * 8;
        drwUpdateRows(*c_);
    }
    ~Target() { drwEnd(); }
    DrawContext& c() { return *c_; }
    std::uint8_t* at(std::int32_t x, std::int32_t y) {
        const std::int64_t row = bottomUp_ ? h_ - 1 - y : y;
        return pixels_.data() + row * pitch_ + static_cast<std::int64_t>(x) * bpp_;
    }
    void fill(Px p) {
        for (std::int32_t y = 0; y < h_; ++y)
            for (std::int32_t x = 0; x < w_; ++x) std::memcpy(at(x, y), p.data(), bpp_);
    }
    Px get(std::int32_t x, std::int32_t y) {
        Px p{};
        std::memcpy(p.data(), at(x, y), bpp_);
        return p;
    }

private:
    std::int32_t w_, h_;
    int bpp_;
    bool bottomUp_;
    std::int64_t pitch_ = 0;
    Bytes pixels_;
    DrawContext* c_ = nullptr;
};

// Source pixels of `bytes` per pixel, bottom-up, rows padded to 4: pixel (x, y) from the top = value(x, y).
Bytes source(std::int32_t w, std::int32_t h, int bytes, std::int64_t& rowBytes) {
    rowBytes = (static_cast<std::int64_t>(w) * bytes + 3) / 4 * 4;
    Bytes b(static_cast<std::size_t>(rowBytes * h));
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            std::uint8_t* p = b.data() + (h - 1 - y) * rowBytes + x * bytes;
            for (int k = 0; k < bytes; ++k) p[k] = static_cast<std::uint8_t>(16 * y + 4 * x + k + 1);
        }
    return b;
}

TEST(Blit, EveryRuleOfBothTables) {
    const Px before{40, 80, 120, 100};
    const Bytes src32{200, 100, 50, 128}, src24{200, 100, 50, 0};
    struct Case {
        int sourceBytes, outputBytes;
        std::uint32_t mode;
        std::int32_t opacity;
        bool alphaFlag;
        Px after;
    } cases[] = {
        // 32-bit source onto 4 bytes
        {4, 4, 0, 255, false, {200, 100, 50, 100}},
        {4, 4, 0, 255, true, {155, 94, 69, 177}},
        {4, 4, 0, 128, true, {113, 89, 87, 138}},
        {4, 4, 0, 0, true, {40, 80, 120, 100}},
        {4, 4, 0x100, 255, false, {200, 100, 50, 128}},
        {4, 4, 0x100, 128, false, {200, 100, 50, 64}},
        {4, 4, 0x8, 255, false, {40, 80, 120, 128}},
        {4, 4, 0x2, 255, true, {224, 52, 74, 100}},
        {4, 4, 0x10, 255, false, {155, 94, 69, 177}},
        {4, 4, 0x20, 255, false, {155, 94, 69, 100}},
        // 32-bit source onto 3 bytes
        {4, 3, 0, 255, false, {200, 100, 50, 0}},
        {4, 3, 0, 255, true, {120, 90, 84, 0}},
        {4, 3, 0x10, 255, false, {120, 90, 84, 0}},
        {4, 3, 0x8, 255, false, {40, 80, 120, 0}},
        {4, 3, 0x2, 255, false, {224, 52, 74, 0}},
        {4, 3, 0x100, 255, true, {120, 90, 84, 0}},  // 0x100 is cleared on 3 bytes
        // 24-bit source onto 4 bytes
        {3, 4, 0, 255, false, {200, 100, 50, 100}},
        {3, 4, 0, 0, false, {40, 80, 120, 100}},
        {3, 4, 0, 128, false, {155, 94, 69, 177}},
        {3, 4, 0x100, 128, false, {200, 100, 50, 128}},
        {3, 4, 0x8, 77, false, {40, 80, 120, 77}},
        {3, 4, 0x10, 255, false, {200, 100, 50, 255}},
        {3, 4, 0x20, 128, false, {155, 94, 69, 100}},
        {3, 4, 0x2, 255, false, {224, 52, 74, 100}},
        // 24-bit source onto 3 bytes
        {3, 3, 0, 255, false, {200, 100, 50, 0}},
        {3, 3, 0, 0, false, {40, 80, 120, 0}},
        {3, 3, 0, 128, false, {120, 90, 84, 0}},
        {3, 3, 0x10, 255, false, {200, 100, 50, 0}},
        {3, 3, 0x20, 0, false, {40, 80, 120, 0}},
        {3, 3, 0x10, 128, false, {120, 90, 84, 0}},
        {3, 3, 0x8, 255, false, {40, 80, 120, 0}},
    };
    for (const Case& k : cases) {
        Target t(1, 1, k.outputBytes, true);
        t.fill(before);
        t.c().ops.setMode(t.c(), k.mode);
        if (k.sourceBytes == 4)
            drwBlit32(t.c(), src32.data(), 4, 0, 0, 1, 1, k.opacity, k.alphaFlag);
        else
            drwBlit24(t.c(), src24.data(), 4, 0, 0, 1, 1, k.opacity);
        Px expected = k.after;
        if (k.outputBytes == 3) expected[3] = 0;
        EXPECT_EQ(t.get(0, 0), expected) << k.sourceBytes << " onto " << k.outputBytes << " mode " << k.mode
                                         << " opacity " << k.opacity << " flag " << k.alphaFlag;
    }
}

TEST(Blit, BlendOverTransparentTakesTheSource) {
    Target t(1, 1, 4, true);
    t.fill({9, 9, 9, 0});
    const Bytes opaque{200, 100, 50, 255}, half{200, 100, 50, 128};
    drwBlit32(t.c(), opaque.data(), 4, 0, 0, 1, 1, 255, true);
    EXPECT_EQ(t.get(0, 0), (Px{200, 100, 50, 255}));
    t.fill({9, 9, 9, 0});
    drwBlit32(t.c(), half.data(), 4, 0, 0, 1, 1, 255, true);
    EXPECT_EQ(t.get(0, 0), (Px{200, 100, 50, 128}));
}

TEST(Blit, FilterGetsAreaCoordinatesAndColours) {
    Target t(3, 3, 4, true);
    t.fill({1, 2, 3, 4});
    static std::vector<std::array<std::uint32_t, 4>> calls;
    calls.clear();
    t.c().filter = [](DrawContext&, std::int32_t x, std::int32_t y, std::uint32_t s, std::uint32_t d) {
        calls.push_back({static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), s, d});
        return 0x80112233u;
    };
    t.c().ops.setMode(t.c(), DrawMode::kFilter);
    const Bytes src{10, 20, 30, 200};
    drwBlit32(t.c(), src.data(), 4, 2, 1, 1, 1, 255, false);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (std::array<std::uint32_t, 4>{2, 1, 0xC80A141Eu, 0x04010203u}));
    EXPECT_EQ(t.get(2, 1), (Px{0x11, 0x22, 0x33, 0x80}));
}

// A 3 × 3 source drawn so that it sticks out on each side, onto bottom-up
// and top-down outputs of both depths: the visible part lands unflipped.
TEST(Blit, ClipsOnAllFourSidesOnBothRowOrders) {
    const struct {
        std::int32_t x, y;
    } positions[] = {{-1, 0}, {0, -2}, {3, 1}, {1, 3}, {-1, -1}, {3, 3}, {-3, 0}, {0, 5}};
    for (int outBytes : {3, 4})
        for (bool bottomUp : {true, false})
            for (int srcBytes : {3, 4})
                for (const auto& pos : positions) {
                    Target t(5, 5, outBytes, bottomUp);
                    t.fill({0xEE, 0xEE, 0xEE, 0xEE});
                    std::int64_t rowBytes;
                    const Bytes src = source(3, 3, srcBytes, rowBytes);
                    if (srcBytes == 4)
                        drwBlit32(t.c(), src.data(), rowBytes, pos.x, pos.y, 3, 3, 255, false);
                    else
                        drwBlit24(t.c(), src.data(), rowBytes, pos.x, pos.y, 3, 3, 255);
                    for (std::int32_t y = 0; y < 5; ++y)
                        for (std::int32_t x = 0; x < 5; ++x) {
                            const std::int32_t sx = x - pos.x, sy = y - pos.y;
                            Px expected{0xEE, 0xEE, 0xEE, 0xEE};
                            if (sx >= 0 && sx < 3 && sy >= 0 && sy < 3)
                                for (int k = 0; k < 3; ++k) expected[k] = static_cast<std::uint8_t>(16 * sy + 4 * sx + k + 1);
                            if (outBytes == 3) expected[3] = 0;
                            ASSERT_EQ(t.get(x, y), expected)
                                << "at " << pos.x << "," << pos.y << " pixel " << x << "," << y << " out " << outBytes
                                << (bottomUp ? " bottom-up" : " top-down") << " src " << srcBytes;
                        }
                }
}

TEST(Blit, NothingForNullBitsEmptySizesOrNoPixels) {
    Target t(2, 2, 4, true);
    t.fill({5, 5, 5, 5});
    const Bytes src(16, 0x77);
    drwBlit32(t.c(), nullptr, 8, 0, 0, 2, 2, 255, false);
    drwBlit32(t.c(), src.data(), 8, 0, 0, 0, 2, 255, false);
    drwBlit24(t.c(), src.data(), 8, 0, 0, 2, -1, 255);
    drwBlit32(t.c(), src.data(), 8, INT32_MAX, 0, 2, 2, 255, false);
    drwBlit32(t.c(), src.data(), 8, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 255, false);
    for (std::int32_t y = 0; y < 2; ++y)
        for (std::int32_t x = 0; x < 2; ++x) EXPECT_EQ(t.get(x, y), (Px{5, 5, 5, 5}));
}

// ---------------------------------------------------------------------------
// Handles: DIB sections, icons, bad handles, grabbing
// ---------------------------------------------------------------------------

// An image with a session on it.
class Canvas {
public:
    Canvas(std::int32_t w, std::int32_t h, std::int32_t depth, std::uint32_t background = 0x00101010) {
        id_ = imgCreateImage(AnyId, w, h, depth, background);
        plat::bitmapDescribe(imgImageHandle(id_), bm_);
        EXPECT_NE(drwBegin(drwImageOutput(id_)), 0);
    }
    ~Canvas() {
        drwEnd();
        imgFreeImage(id_);
    }
    DrawContext& c() { return *drwCurrent(); }
    Px get(std::int32_t x, std::int32_t y) const {
        Px p{};
        const int bytes = bm_.bitsPerPixel / 8;
        std::memcpy(p.data(), static_cast<std::uint8_t*>(bm_.bits) + (bm_.height - 1 - y) * bm_.widthBytes + x * bytes,
                    bytes);
        return p;
    }
    Bytes all() const {
        const auto* b = static_cast<const std::uint8_t*>(bm_.bits);
        return Bytes(b, b + static_cast<std::size_t>(bm_.widthBytes) * bm_.height);
    }
    std::int64_t id() const { return id_; }

private:
    std::int64_t id_ = 0;
    plat::BitmapDesc bm_{};
};

// A DIB section of w × h with every pixel `p` (its first bytes for 24 bits).
plat::Handle section(std::int32_t w, std::int32_t h, int bits, Px p) {
    const plat::Handle s = imgCreateDIBSection(w, h, bits);
    plat::BitmapDesc bm{};
    plat::bitmapDescribe(s, bm);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x)
            std::memcpy(static_cast<std::uint8_t*>(bm.bits) + y * bm.widthBytes + x * (bits / 8), p.data(), bits / 8);
    return s;
}

TEST(DrawImage, PlainCopyIgnoresSourceAlphaAndKeepsOutputAlpha) {
    Canvas canvas(4, 4, 32);  // opaque background: alpha 255
    const plat::Handle src = section(2, 2, 32, {200, 100, 50, 128});
    drwDrawImage(canvas.c(), src, 1, 1);
    EXPECT_EQ(canvas.get(1, 1), (Px{200, 100, 50, 255}));
    EXPECT_EQ(canvas.get(0, 0), (Px{16, 16, 16, 255}));
    plat::objectDelete(src);
}

TEST(DrawImage, AlphaEntryWithOpacityZeroAndTwentyFourBitSources) {
    Canvas canvas(3, 3, 32);
    const Bytes before = canvas.all();
    const plat::Handle s32 = section(3, 3, 32, {200, 100, 50, 255});
    const plat::Handle s24 = section(3, 3, 24, {200, 100, 50, 0});
    drwDrawImageAlpha(canvas.c(), s32, 0, 0, 0);
    EXPECT_EQ(canvas.all(), before);
    drwDrawImageAlpha(canvas.c(), s24, 0, 0, 0);
    EXPECT_EQ(canvas.all(), before);
    drwDrawImageAlpha(canvas.c(), s24, 0, 0, 255);
    EXPECT_EQ(canvas.get(2, 2), (Px{200, 100, 50, 255}));
    plat::objectDelete(s32);
    plat::objectDelete(s24);
}

TEST(DrawImage, SizedAtOwnSizeDrawsWithoutConversionAndScaledResamples) {
    Canvas a(6, 6, 32), b(6, 6, 32);
    std::int64_t rowBytes;
    const Bytes pixels = source(3, 2, 4, rowBytes);
    const plat::Handle src = imgCreateDIBSection(3, 2, 32);
    plat::BitmapDesc bm{};
    plat::bitmapDescribe(src, bm);
    std::memcpy(bm.bits, pixels.data(), pixels.size());

    drwEnd();  // a's session is replaced below
    ASSERT_NE(drwBegin(drwImageOutput(a.id())), 0);
    drwDrawImageSized(*drwCurrent(), src, 1, 1, 3, 2);
    const Bytes sized = a.all();
    ASSERT_NE(drwBegin(drwImageOutput(b.id())), 0);
    drwDrawImage(*drwCurrent(), src, 1, 1);
    EXPECT_EQ(b.all(), sized);

    // Scaled: the resampler's bytes, drawn in plain copy.
    drwDrawImageSized(*drwCurrent(), src, 0, 0, 5, 4);
    Bytes expected(5 * 4 * 4);
    ASSERT_EQ(imgResample(pixels.data(), 3, 2, expected.data(), 5, 4, 32), 1);
    for (std::int32_t y = 0; y < 4; ++y)
        for (std::int32_t x = 0; x < 5; ++x) {
            const std::uint8_t* e = expected.data() + ((3 - y) * 5 + x) * 4;
            EXPECT_EQ(b.get(x, y), (Px{e[0], e[1], e[2], 255})) << x << "," << y;
        }
    plat::objectDelete(src);
}

TEST(DrawImage, BadHandlesAndSizesDrawNothing) {
    Canvas canvas(4, 4, 24);
    const Bytes before = canvas.all();
    const plat::Handle deleted = section(2, 2, 24, {1, 2, 3, 0});
    plat::objectDelete(deleted);
    const plat::Handle good = section(2, 2, 24, {1, 2, 3, 0});
    for (plat::Handle h : {plat::Handle{0}, plat::Handle{0x12345678}, deleted, ~plat::Handle{0}}) {
        drwDrawImage(canvas.c(), h, 0, 0);
        drwDrawImageSized(canvas.c(), h, 0, 0, 3, 3);
        drwDrawImageAlpha(canvas.c(), h, 0, 0, 255);
        drwBlitHandle(canvas.c(), h, 0, 0, -1, -1, 255, true);
    }
    drwDrawImageSized(canvas.c(), good, 0, 0, 0, 3);
    drwDrawImageSized(canvas.c(), good, 0, 0, 3, -7);
    drwDrawImageSized(canvas.c(), good, 0, 0, 40000, 40000);
    drwDrawImageSized(canvas.c(), good, 0, 0, INT32_MAX, INT32_MAX);
    EXPECT_EQ(canvas.all(), before);
    EXPECT_EQ(drwResizeBitmap(0x12345678, 3, 3), 0u);
    EXPECT_EQ(drwDdbToDib(0), 0u);
    EXPECT_EQ(drwIconToDib(good), 0u);  // a bitmap is not an icon
    plat::objectDelete(good);
}

TEST(DrawImage, TwentyFourBitStretchAveragesAreas) {
    Canvas canvas(2, 1, 24);
    // 4 × 1 → 2 × 1: each output pixel is the mean of two source pixels.
    const plat::Handle src = imgCreateDIBSection(4, 1, 24);
    plat::BitmapDesc bm{};
    plat::bitmapDescribe(src, bm);
    const std::uint8_t px[12] = {0, 0, 0, 100, 100, 100, 200, 10, 0, 255, 11, 0};
    std::memcpy(bm.bits, px, sizeof px);
    drwDrawImageSized(canvas.c(), src, 0, 0, 2, 1);
#ifdef _WIN32
    // GDI's halftone filter is its own; the stretch still covers the area.
    EXPECT_NE(canvas.get(1, 0), (Px{16, 16, 16, 0}));
#else
    EXPECT_EQ(canvas.get(0, 0), (Px{50, 50, 50, 0}));
    EXPECT_EQ(canvas.get(1, 0), (Px{228, 11, 0, 0}));
#endif
    plat::objectDelete(src);
}

// An icon image: BITMAPINFOHEADER (height doubled), colour rows, AND mask, bottom-up.
Bytes iconImage(std::int32_t size, int bits, const std::vector<Px>& topDown, const std::vector<bool>& masked) {
    Bytes b;
    auto put = [&](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put(40, 4);
    put(static_cast<std::uint32_t>(size), 4);
    put(static_cast<std::uint32_t>(size * 2), 4);
    put(1, 2);
    put(static_cast<std::uint32_t>(bits), 2);
    for (int i = 0; i < 6; ++i) put(0, 4);
    const int bytes = bits / 8;
    const std::int32_t rowBytes = (size * bytes + 3) / 4 * 4;
    for (std::int32_t y = size - 1; y >= 0; --y) {
        Bytes row(static_cast<std::size_t>(rowBytes));
        for (std::int32_t x = 0; x < size; ++x) std::memcpy(&row[x * bytes], topDown[y * size + x].data(), bytes);
        b.insert(b.end(), row.begin(), row.end());
    }
    for (std::int32_t y = size - 1; y >= 0; --y) {
        Bytes row(4);
        for (std::int32_t x = 0; x < size; ++x)
            if (masked[y * size + x]) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

TEST(DrawImage, IconsWithAlphaAndWithAPlainMask) {
    const std::int32_t n = 4;
    std::vector<Px> colours(n * n, Px{0, 0, 255, 255});
    std::vector<bool> clear(n * n, false), holes(n * n, false);
    colours[0] = {0, 0, 255, 0};     // transparent
    colours[1] = {0, 0, 255, 128};   // half
    holes[0] = holes[5] = true;
    const Bytes alphaImage = iconImage(n, 32, colours, clear);
    const Bytes maskImage = iconImage(n, 24, colours, holes);
    const plat::Handle alphaIcon = plat::iconFromResource(alphaImage.data(), alphaImage.size(), n, n);
    const plat::Handle maskIcon = plat::iconFromResource(maskImage.data(), maskImage.size(), n, n);
    ASSERT_NE(alphaIcon, 0u);
    ASSERT_NE(maskIcon, 0u);

    Canvas a(n, n, 32, 0x0000FF00);  // opaque green
    drwDrawImage(a.c(), alphaIcon, 0, 0);
    EXPECT_EQ(a.get(0, 0), (Px{0, 255, 0, 255}));
    EXPECT_EQ(a.get(1, 0), (Px{0, 127, 128, 255}));
    EXPECT_EQ(a.get(2, 0), (Px{0, 0, 255, 255}));

    Canvas m(n, n, 32, 0x0000FF00);
    drwDrawImage(m.c(), maskIcon, 0, 0);
    EXPECT_EQ(m.get(0, 0), (Px{0, 255, 0, 255}));  // masked: fully transparent
    EXPECT_EQ(m.get(1, 1), (Px{0, 255, 0, 255}));
    EXPECT_EQ(m.get(1, 0), (Px{0, 0, 255, 255}));  // drawn opaque
    EXPECT_EQ(m.get(3, 3), (Px{0, 0, 255, 255}));

    // drawImageAlpha draws bitmaps only.
    const Bytes before = m.all();
    drwDrawImageAlpha(m.c(), alphaIcon, 0, 0, 255);
    EXPECT_EQ(m.all(), before);
    plat::objectDelete(alphaIcon);
    plat::objectDelete(maskIcon);
}

TEST(DrawImage, DeviceBitmapWithoutAlphaIsDrawnOpaque) {
    const std::vector<std::uint8_t> pixels(2 * 2 * 4, 0x40);  // alpha bytes 0x40
    std::vector<std::uint8_t> noAlpha = pixels;
    for (int i = 3; i < 16; i += 4) noAlpha[i] = 0;
    const plat::Handle withAlpha = plat::deviceBitmapCreate(2, 2, pixels.data());
    const plat::Handle without = plat::deviceBitmapCreate(2, 2, noAlpha.data());
    if (!withAlpha) GTEST_SKIP() << "device-dependent bitmaps exist only on Windows";
    EXPECT_EQ(imgUsesAlpha(without), 0);
    EXPECT_EQ(imgUsesAlpha(withAlpha), 1);
    Canvas canvas(2, 2, 32, 0x00FFFFFF);
    drwDrawImageAlpha(canvas.c(), without, 0, 0, 255);
    EXPECT_EQ(canvas.get(1, 1), (Px{0x40, 0x40, 0x40, 255}));
    plat::objectDelete(withAlpha);
    plat::objectDelete(without);
}

TEST(GrabImage, BeyondTheEdgesKeepsTheRestZero) {
    Canvas canvas(4, 3, 32, 0x00030201);
    const std::int64_t id = drwGrabImage(canvas.c(), AnyId, 2, -1, 7, 3);
    ASSERT_NE(id, 0);
    const ImageObject* grabbed = imgGetImage(id);
    ASSERT_NE(grabbed, nullptr);
    EXPECT_EQ(grabbed->width, 7);
    EXPECT_EQ(grabbed->height, 3);
    EXPECT_EQ(grabbed->depth, 32);
    plat::BitmapDesc bm{};
    ASSERT_TRUE(plat::bitmapDescribe(grabbed->handle, bm));
    for (std::int32_t y = 0; y < 3; ++y)
        for (std::int32_t x = 0; x < 7; ++x) {
            Px p{};
            std::memcpy(p.data(), static_cast<std::uint8_t*>(bm.bits) + (2 - y) * bm.widthBytes + 4 * x, 4);
            const bool inside = y >= 1 && x < 2;  // output columns 2..3, rows 0..1
            EXPECT_EQ(p, inside ? (Px{3, 2, 1, 255}) : (Px{0, 0, 0, 0})) << x << "," << y;
        }
    imgFreeImage(id);

    // A number gives the bitmap; nothing left of the area gives an image all zero.
    const plat::Handle h = static_cast<plat::Handle>(drwGrabImage(canvas.c(), 7, 10, 10, 2, 2));
    EXPECT_EQ(imgImageHandle(7), h);
    imgFreeImage(7);
}

TEST(GrabImage, RefusesBadSizesAndTheImageBeingDrawnOn) {
    Canvas canvas(4, 4, 24);
    EXPECT_EQ(drwGrabImage(canvas.c(), AnyId, 0, 0, 0, 4), 0);
    EXPECT_EQ(drwGrabImage(canvas.c(), AnyId, 0, 0, -2, 4), 0);
    EXPECT_EQ(drwGrabImage(canvas.c(), AnyId, 0, 0, 100000, 100000), 0);
    EXPECT_EQ(drwGrabImage(canvas.c(), canvas.id(), 0, 0, 2, 2), 0);
    EXPECT_NE(imgGetImage(canvas.id()), nullptr);
}

TEST(ImageAlpha, ThirtyTwoBitSectionsCountWhateverTheirAlpha) {
    const plat::Handle zero32 = section(2, 2, 32, {1, 2, 3, 0});
    const plat::Handle s24 = section(2, 2, 24, {1, 2, 3, 0});
    EXPECT_EQ(imgUsesAlpha(zero32), 1);
    EXPECT_EQ(imgUsesAlpha(s24), 0);
    EXPECT_EQ(imgUsesAlpha(0), 0);
    EXPECT_EQ(imgUsesAlpha(0x12345678), 0);
    std::int32_t copied = -1;
    plat::BitmapDesc bm{};
    plat::bitmapDescribe(zero32, bm);
    EXPECT_EQ(imgBitmapBits(zero32, copied), bm.bits);
    EXPECT_EQ(copied, 0);
    EXPECT_EQ(imgBitmapBits(0x12345678, copied), nullptr);
    plat::objectDelete(zero32);
    plat::objectDelete(s24);
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

// A scaled copy that cannot be made draws nothing, and the blit says so; the
// same blit at the image's own size needs no copy and draws.
TEST(DrawImage, ACopyThatCannotBeMadeIsReportedAndDrawsNothing) {
    Canvas canvas(4, 4, 24);
    const plat::Handle src = section(2, 2, 24, {1, 2, 3, 0});
    const Bytes before = canvas.all();
    plat::failCallAt(plat::FailKind::DibSection, 1);
    EXPECT_FALSE(drwBlitHandle(canvas.c(), src, 0, 0, 3, 3, 255, false));
    plat::failNone();
    EXPECT_EQ(canvas.all(), before);
    plat::failCallAt(plat::FailKind::DibSection, 1);
    EXPECT_TRUE(drwBlitHandle(canvas.c(), src, 0, 0, -1, -1, 255, false));
    plat::failNone();
    EXPECT_EQ(canvas.get(0, 0), (Px{1, 2, 3, 0}));
    EXPECT_TRUE(drwBlitHandle(canvas.c(), src, 40, 40, 3, 3, 255, false)) << "clipped away is no failure";
    EXPECT_FALSE(drwBlitHandle(canvas.c(), 0, 0, 0, -1, -1, 255, false));
    plat::objectDelete(src);
}

}  // namespace
}  // namespace oct
