#include "draw/image_draw.h"

#include <cstring>

#include "draw/blit.h"
#include "image/alpha.h"
#include "image/image.h"
#include "image/resample.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"

namespace oct {
namespace {

// Deletes a temporary bitmap on leaving scope.
struct Temporary {
    plat::Handle handle;
    ~Temporary() {
        if (handle) plat::objectDelete(handle);
    }
};

// Every alpha byte 255 when none is non-zero, so a bitmap without alpha is drawn opaque.
void opaqueWithoutAlpha(const plat::BitmapDesc& bm) {
    auto* bits = static_cast<std::uint8_t*>(bm.bits);
    const std::int64_t pixels = static_cast<std::int64_t>(bm.widthBytes / 4) * bm.height;
    for (std::int64_t i = 0; i < pixels; ++i)
        if (bits[4 * i + 3]) return;
    for (std::int64_t i = 0; i < pixels; ++i) bits[4 * i + 3] = 255;
}

}  // namespace

plat::Handle drwResizeBitmap(plat::Handle bitmap, std::int32_t w, std::int32_t h) {
    plat::BitmapDesc bm{};
    if (!plat::bitmapDescribe(bitmap, bm)) return 0;
    const std::int32_t ownHeight = bm.height < 0 ? -bm.height : bm.height;
    if (w == -1) w = bm.width;
    if (h == -1) h = ownHeight;
    const bool deep = bm.bitsPerPixel > 24;
    plat::Handle out = imgCreateDIBSection(w, h, deep ? 32 : 24);
    if (!out) return 0;
    bool ok;
    if (w == bm.width && h == ownHeight)
        ok = plat::bitmapCopy(out, bitmap);
    else if (deep)
        ok = imgResampleBitmap(out, w, h, bitmap, bm.width, ownHeight) == 1;
    else
        ok = plat::bitmapStretchHalftone(out, bitmap);
    if (!ok) {
        plat::objectDelete(out);
        return 0;
    }
    return out;
}

plat::Handle drwDdbToDib(plat::Handle bitmap) {
    plat::BitmapDesc bm{};
    if (!plat::bitmapDescribe(bitmap, bm)) return 0;
    const bool deep = bm.bitsPerPixel > 24;
    plat::Handle out = imgCreateDIBSection(bm.width, bm.height, deep ? 32 : 24);
    plat::BitmapDesc dib{};
    if (!out || !plat::bitmapDescribe(out, dib) || !dib.bits ||
        plat::bitmapReadRows(bitmap, deep ? 32 : 24, false, dib.bits) <= 0) {
        if (out) plat::objectDelete(out);
        return 0;
    }
    if (deep) opaqueWithoutAlpha(dib);
    return out;
}

plat::Handle drwIconToDib(plat::Handle icon) {
    if (plat::handleKind(icon) != plat::HandleKind::Icon) return 0;
    if (plat::Handle colour = plat::iconColourBitmap(icon)) {
        if (imgUsesAlpha(colour)) return colour;
        plat::objectDelete(colour);
    }
    return plat::iconRenderMasked(icon);
}

bool drwBlitHandle(DrawContext& c, plat::Handle handle, std::int32_t x, std::int32_t y, std::int32_t w,
                   std::int32_t h, std::int32_t opacity, bool alphaFlag) {
    switch (plat::handleKind(handle)) {
        case plat::HandleKind::Bitmap: {
            plat::BitmapDesc bm{};
            if (!plat::bitmapDescribe(handle, bm)) return false;
            if (plat::bitmapIsDibSection(handle)) {
                const std::int32_t ownHeight = bm.height < 0 ? -bm.height : bm.height;
                if ((w != -1 && w != bm.width) || (h != -1 && h != ownHeight) || bm.bitsPerPixel < 24) {
                    Temporary copy{drwResizeBitmap(handle, w, h)};
                    if (!copy.handle) return false;
                    drwBlitDib(c, copy.handle, x, y, opacity, alphaFlag);
                } else {
                    drwBlitDib(c, handle, x, y, opacity, alphaFlag);
                }
                return true;
            }
            Temporary copy{drwDdbToDib(handle)};
            return copy.handle && drwBlitHandle(c, copy.handle, x, y, w, h, opacity, alphaFlag);
        }
        case plat::HandleKind::Icon: {
            Temporary dib{drwIconToDib(handle)};
            if (dib.handle) return drwBlitHandle(c, dib.handle, x, y, w, h, opacity, true);
            // A monochrome icon has no colour image, and draws nothing by design.
            plat::BitmapDesc colour{};
            return !plat::iconDescribe(handle, colour);
        }
        case plat::HandleKind::Font:
        case plat::HandleKind::None: return false;
    }
    return false;
}

std::int64_t drwDrawImage(DrawContext& c, plat::Handle bitmap, std::int32_t x, std::int32_t y) {
    if (bitmap) drwBlitHandle(c, bitmap, x, y, -1, -1, 255, false);
    return 0;
}

std::int64_t drwDrawImageSized(DrawContext& c, plat::Handle bitmap, std::int32_t x, std::int32_t y, std::int32_t w,
                               std::int32_t h) {
    if (bitmap) drwBlitHandle(c, bitmap, x, y, w, h, 255, false);
    return 0;
}

std::int64_t drwDrawImageAlpha(DrawContext& c, plat::Handle bitmap, std::int32_t x, std::int32_t y,
                               std::int32_t alpha) {
    if (plat::handleKind(bitmap) == plat::HandleKind::Bitmap) drwBlitHandle(c, bitmap, x, y, -1, -1, alpha, true);
    return 0;
}

std::int64_t drwGrabImage(DrawContext& c, std::int64_t image, std::int32_t x, std::int32_t y, std::int32_t w,
                          std::int32_t h) {
    if (!c.topRow || !imgTable()) return 0;
    // Re-using the number of the image being drawn on would free the pixels
    // under the running session.
    if (const ImageObject* old = imgGetImage(image); old && old->handle == c.target) return 0;
    plat::Handle section = imgCreateDIBSection(w, h, c.depth);
    plat::BitmapDesc bm{};
    if (!section || !plat::bitmapIsDibSection(section) || !plat::bitmapDescribe(section, bm) || !bm.bits) {
        if (section) plat::objectDelete(section);
        return 0;
    }
    const DrawRect r = drwClipToArea(c, x, y, w, h);
    const std::int64_t left = r.left, top = r.top, width = r.width, height = r.height, skipX = r.skipX, skipY = r.skipY;
    if (width > 0 && height > 0) {
        const std::size_t bytes = static_cast<std::size_t>(width) * c.bytesPerPixel;
        auto* bits = static_cast<std::uint8_t*>(bm.bits);
        for (std::int64_t r = 0; r < height; ++r) {
            std::uint8_t* to = bits + (bm.height - 1 - skipY - r) * static_cast<std::int64_t>(bm.widthBytes) +
                               skipX * c.bytesPerPixel;
            std::memcpy(to, drwPixel(c, static_cast<std::int32_t>(left), static_cast<std::int32_t>(top + r)), bytes);
        }
    }
    auto* record = static_cast<ImageObject*>(objNewObject(imgTable(), image));
    if (!record) {
        plat::objectDelete(section);
        return 0;
    }
    record->handle = section;
    record->width = bm.width;
    record->height = bm.height;
    record->depth = static_cast<std::uint8_t>(c.depth);
    record->sourceDepth = record->depth;
    record->frameCount = 1;
    return image == AnyId ? reinterpret_cast<std::int64_t>(record) : static_cast<std::int64_t>(section);
}

void drwInstallImageOps(DrawContext& c) {
    c.ops.drawImage = drwDrawImage;
    c.ops.drawImageSized = drwDrawImageSized;
    c.ops.drawImageAlpha = drwDrawImageAlpha;
    c.ops.grabImage = drwGrabImage;
}

}  // namespace oct
