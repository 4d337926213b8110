// A test picture with a drawing session on it, and direct access to its
// pixels in picture terms (row 0 at the top).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "draw/session.h"
#include "image/image.h"
#include "platform/bitmaps.h"

namespace oct::test {

using Px = std::array<std::uint8_t, 4>;

// An image with a session on it, and direct access to its pixels.
class Canvas {
public:
    Canvas(std::int32_t width, std::int32_t height, std::int32_t depth) : height_(height) {
        // Black, and transparent on 32 bits.
        id_ = imgCreateImage(AnyId, width, height, depth, depth == 32 ? 0xFFFFFFFF : 0);
        EXPECT_NE(id_, 0);
        plat::bitmapDescribe(imgImageHandle(id_), bm_);
        bpp_ = bm_.bitsPerPixel / 8;
    }
    ~Canvas() {
        drwEnd();
        imgFreeImage(id_);
    }
    bool begin() { return drwBegin(drwImageOutput(id_)) != 0; }

    // The pixel at memory row `row`, column x.
    std::uint8_t* memoryPixel(std::int32_t x, std::int32_t row) {
        return static_cast<std::uint8_t*>(bm_.bits) + static_cast<std::int64_t>(row) * bm_.widthBytes + x * bpp_;
    }
    std::uint8_t* pixel(std::int32_t x, std::int32_t y) { return memoryPixel(x, height_ - 1 - y); }
    void set(std::int32_t x, std::int32_t y, std::array<std::uint8_t, 4> bytes) { std::memcpy(pixel(x, y), bytes.data(), bpp_); }
    std::array<std::uint8_t, 4> get(std::int32_t x, std::int32_t y) {
        std::array<std::uint8_t, 4> out{};
        std::memcpy(out.data(), pixel(x, y), bpp_);
        return out;
    }
    std::int64_t id() const { return id_; }
    std::int32_t width() const { return bm_.width; }
    std::int32_t height() const { return height_; }
    // Every byte of the bitmap, padding included, set to `v`.
    void clear(std::uint8_t v) { std::memset(bm_.bits, v, static_cast<std::size_t>(bm_.widthBytes) * bm_.height); }
    // The bitmap's bytes, padding included.
    std::vector<std::uint8_t> bytes() const {
        const auto* b = static_cast<const std::uint8_t*>(bm_.bits);
        return {b, b + static_cast<std::size_t>(bm_.widthBytes) * bm_.height};
    }
    // True when the pixel's colour bytes are not all 0.
    bool painted(std::int32_t x, std::int32_t y) {
        const std::uint8_t* p = pixel(x, y);
        return p[0] | p[1] | p[2];
    }
    const plat::BitmapDesc& bitmap() const { return bm_; }

private:
    std::int64_t id_ = 0;
    std::int32_t height_;
    int bpp_ = 0;
    plat::BitmapDesc bm_{};
};


}  // namespace oct::test
