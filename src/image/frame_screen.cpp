#include "image/frame_screen.h"

#include <algorithm>
#include <cstring>

#include "platform/pictures.h"

namespace oct {
namespace {

std::uint8_t* at(const FrameScreen& screen, std::int32_t x, std::int32_t y) {
    return screen.pixels + (static_cast<std::int64_t>(y) * screen.width + x) * 4;
}

// One pixel over another, both straight alpha (see imgLayFrame).
void over(const std::uint8_t* source, std::uint8_t* target) {
    const std::uint32_t as = source[3];
    if (as == 255) {
        std::memcpy(target, source, 4);
        return;
    }
    if (as == 0) return;
    const std::uint32_t shown = target[3] * (255 - as);  // how much of the target shows through, × 255
    const std::uint32_t total = as * 255 + shown;
    for (int c = 0; c < 3; ++c) target[c] = static_cast<std::uint8_t>((source[c] * as * 255 + target[c] * shown) / total);
    target[3] = static_cast<std::uint8_t>(total / 255);
}

}  // namespace

plat::PictureFrame imgClipFrame(const FrameScreen& screen, const plat::PictureFrame& frame) {
    plat::PictureFrame clipped = frame;
    const std::int64_t left = std::max<std::int64_t>(frame.left, 0);
    const std::int64_t top = std::max<std::int64_t>(frame.top, 0);
    const std::int64_t right = std::min<std::int64_t>(static_cast<std::int64_t>(frame.left) + frame.width, screen.width);
    const std::int64_t bottom =
        std::min<std::int64_t>(static_cast<std::int64_t>(frame.top) + frame.height, screen.height);
    clipped.left = static_cast<std::int32_t>(left);
    clipped.top = static_cast<std::int32_t>(top);
    clipped.width = right > left ? static_cast<std::int32_t>(right - left) : 0;
    clipped.height = bottom > top ? static_cast<std::int32_t>(bottom - top) : 0;
    return clipped;
}

void imgLayFrame(FrameScreen& screen, const plat::PictureFrame& frame, const std::uint8_t* pixels,
                 std::int64_t pitch) {
    for (std::int32_t y = 0; y < frame.height; ++y) {
        const std::uint8_t* s = pixels + y * pitch;
        std::uint8_t* d = at(screen, frame.left, frame.top + y);
        if (!frame.blend) {
            std::memcpy(d, s, static_cast<std::size_t>(frame.width) * 4);
            continue;
        }
        for (std::int32_t x = 0; x < frame.width; ++x, s += 4, d += 4) over(s, d);
    }
}

void imgSaveRect(const FrameScreen& screen, const plat::PictureFrame& rect, std::uint8_t* block) {
    const auto row = static_cast<std::size_t>(rect.width) * 4;
    for (std::int32_t y = 0; y < rect.height; ++y) std::memcpy(block + y * row, at(screen, rect.left, rect.top + y), row);
}

void imgRestoreRect(FrameScreen& screen, const plat::PictureFrame& rect, const std::uint8_t* block) {
    const auto row = static_cast<std::size_t>(rect.width) * 4;
    for (std::int32_t y = 0; y < rect.height; ++y) std::memcpy(at(screen, rect.left, rect.top + y), block + y * row, row);
}

void imgClearRect(FrameScreen& screen, const plat::PictureFrame& rect) {
    const auto row = static_cast<std::size_t>(rect.width) * 4;
    if (screen.clearColour == 0) {
        for (std::int32_t y = 0; y < rect.height; ++y) std::memset(at(screen, rect.left, rect.top + y), 0, row);
        return;
    }
    const std::uint8_t clear[4] = {static_cast<std::uint8_t>(screen.clearColour),
                                   static_cast<std::uint8_t>(screen.clearColour >> 8),
                                   static_cast<std::uint8_t>(screen.clearColour >> 16), 0};
    for (std::int32_t y = 0; y < rect.height; ++y) {
        std::uint8_t* p = at(screen, rect.left, rect.top + y);
        for (std::int32_t x = 0; x < rect.width; ++x, p += 4) std::memcpy(p, clear, 4);
    }
}

}  // namespace oct
