// Conversions for image drawing on Windows, through GDI and USER32: depth
// copies (BitBlt), halftone stretching (StretchBlt), GetDIBits row copies,
// and icons drawn into 32-bit DIB sections.
#include <windows.h>

#include <cstring>

#include "platform/fail_points.h"
#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "platform/handles.h"

namespace oct::plat {
namespace {

HBITMAP bmp(Handle h) { return reinterpret_cast<HBITMAP>(h); }

bool isBitmap(Handle h) { return h && GetObjectType(reinterpret_cast<HGDIOBJ>(h)) == OBJ_BITMAP; }

bool describe(Handle h, BITMAP& bm) {
    return isBitmap(h) && GetObjectW(reinterpret_cast<HGDIOBJ>(h), sizeof bm, &bm) == sizeof bm;
}

// A memory DC with a bitmap selected, undone on leaving scope.
class Selected {
public:
    explicit Selected(HBITMAP bitmap) : dc_(CreateCompatibleDC(nullptr)) {
        if (dc_) previous_ = SelectObject(dc_, bitmap);
    }
    ~Selected() {
        if (!dc_) return;
        if (previous_) SelectObject(dc_, previous_);
        DeleteDC(dc_);
    }
    Selected(const Selected&) = delete;
    Selected& operator=(const Selected&) = delete;
    HDC dc() const { return previous_ ? dc_ : nullptr; }

private:
    HDC dc_;
    HGDIOBJ previous_ = nullptr;
};

}  // namespace

bool bitmapCopy(Handle destination, Handle source) {
    BITMAP d, s;
    if (!describe(destination, d) || !describe(source, s) || d.bmWidth != s.bmWidth || d.bmHeight != s.bmHeight)
        return false;
    Selected to(bmp(destination)), from(bmp(source));
    if (!to.dc() || !from.dc()) return false;
    const bool ok = BitBlt(to.dc(), 0, 0, d.bmWidth, d.bmHeight, from.dc(), 0, 0, SRCCOPY) != 0;
    GdiFlush();
    return ok;
}

bool bitmapStretchHalftone(Handle destination, Handle source) {
    BITMAP d, s;
    if (!describe(destination, d) || !describe(source, s) || s.bmBitsPixel > 24) return false;
    Selected to(bmp(destination)), from(bmp(source));
    if (!to.dc() || !from.dc()) return false;
    SetStretchBltMode(to.dc(), HALFTONE);
    SetBrushOrgEx(to.dc(), 0, 0, nullptr);
    const bool ok =
        StretchBlt(to.dc(), 0, 0, d.bmWidth, d.bmHeight, from.dc(), 0, 0, s.bmWidth, s.bmHeight, SRCCOPY) != 0;
    GdiFlush();
    return ok;
}

std::int32_t bitmapReadRows(Handle bitmap, int bitsPerPixel, bool topDown, void* out) {
    BITMAP bm;
    if (!describe(bitmap, bm) || !out || (bitsPerPixel != 24 && bitsPerPixel != 32)) return 0;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return 0;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = bm.bmWidth;
    info.bmiHeader.biHeight = topDown ? -bm.bmHeight : bm.bmHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bitsPerPixel);
    info.bmiHeader.biCompression = BI_RGB;
    const int rows = GetDIBits(dc, bmp(bitmap), 0, static_cast<UINT>(bm.bmHeight), out, &info, DIB_RGB_COLORS);
    DeleteDC(dc);
    return rows > 0 ? rows : 0;
}

Handle iconColourBitmap(Handle icon) {
    ICONINFO info;
    if (failThisCall(FailKind::Bitmap)) return 0;
    if (!icon || !GetIconInfo(reinterpret_cast<HICON>(icon), &info)) return 0;
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) objectNoteMade();
    return reinterpret_cast<Handle>(info.hbmColor);
}

Handle iconRenderMasked(Handle icon) {
    ICONINFO info;
    if (!icon || !GetIconInfo(reinterpret_cast<HICON>(icon), &info)) return 0;
    Handle result = 0;
    BITMAP colour;
    if (info.hbmColor && info.hbmMask &&
        GetObjectW(info.hbmColor, sizeof colour, &colour) == sizeof colour) {
        result = dibSectionCreate(colour.bmWidth, colour.bmHeight, 32);
        BITMAP dib;
        if (result && GetObjectW(bmp(result), sizeof dib, &dib) == sizeof dib && dib.bmBits) {
            bool drawn = false;
            {
                Selected to(bmp(result)), mask(info.hbmMask);
                if (to.dc() && mask.dc() &&
                    DrawIconEx(to.dc(), 0, 0, reinterpret_cast<HICON>(icon), colour.bmWidth, colour.bmHeight, 0,
                               nullptr, DI_IMAGE)) {
                    GdiFlush();
                    auto* bits = static_cast<std::uint8_t*>(dib.bmBits);
                    for (int r = 0; r < colour.bmHeight; ++r) {
                        std::uint8_t* row = bits + static_cast<std::size_t>(colour.bmHeight - 1 - r) * dib.bmWidthBytes;
                        for (int c = 0; c < colour.bmWidth; ++c)
                            row[4 * c + 3] = GetPixel(mask.dc(), c, r) == 0 ? 255 : 0;
                    }
                    drawn = true;
                }
            }
            if (!drawn) {
                objectDelete(result);
                result = 0;
            }
        } else if (result) {
            objectDelete(result);
            result = 0;
        }
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return result;
}

bool alphaBlendBuiltIn() { return false; }

Handle deviceBitmapCreate(std::int32_t width, std::int32_t height, const std::uint8_t* pixels) {
    if (width <= 0 || height <= 0 || !pixels) return 0;
    if (failThisCall(FailKind::Bitmap)) return 0;
    HDC screen = GetDC(nullptr);
    if (!screen) return 0;
    HBITMAP bm = CreateCompatibleBitmap(screen, width, height);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    if (bm && SetDIBits(screen, bm, 0, static_cast<UINT>(height), pixels, &info, DIB_RGB_COLORS) != height) {
        DeleteObject(bm);
        bm = nullptr;
    }
    ReleaseDC(nullptr, screen);
    if (bm) objectNoteMade();
    return reinterpret_cast<Handle>(bm);
}

}  // namespace oct::plat
