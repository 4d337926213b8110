// Fonts and text on Windows: GDI fonts, memory device contexts and TextOutW.
#include <windows.h>

#include <cstring>
#include <new>

#include "platform/fail_points.h"
#include "platform/fail_inject.h"
#include "platform/fonts.h"
#include "platform/handles.h"

namespace oct::plat {
namespace {
HGDIOBJ gdi(Handle h) { return reinterpret_cast<HGDIOBJ>(h); }
bool isFont(Handle h) { return h && GetObjectType(gdi(h)) == OBJ_FONT; }
}  // namespace

static_assert(sizeof(LogFont) == sizeof(LOGFONTW));

Handle fontCreate(const LogFont& description) {
    LOGFONTW lf;
    std::memcpy(&lf, &description, sizeof lf);
    lf.lfFaceName[LF_FACESIZE - 1] = 0;
    if (failThisCall(FailKind::Font)) return 0;
    HFONT font = CreateFontIndirectW(&lf);
    if (font) objectNoteMade();
    return reinterpret_cast<Handle>(font);
}

Handle fontStock() { return reinterpret_cast<Handle>(GetStockObject(SYSTEM_FONT)); }

std::int32_t fontDescribe(Handle font, LogFont& out) {
    if (!isFont(font)) return 0;
    LOGFONTW lf;
    const int n = GetObjectW(gdi(font), sizeof lf, &lf);
    if (n != static_cast<int>(sizeof lf)) return n > 0 ? n : 0;
    std::memcpy(&out, &lf, sizeof lf);
    return n;
}

struct TextDevice {
    HDC dc;
    HGDIOBJ firstFont;    // what the DC held before the first font was selected
    HGDIOBJ firstBitmap;  // likewise for the raster; null while none is selected
};

TextDevice* textDeviceCreate() {
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return nullptr;
    auto* device = new (std::nothrow) TextDevice{dc, nullptr, nullptr};
    if (!device) {
        DeleteDC(dc);
        return nullptr;
    }
    device->firstFont = SelectObject(dc, GetStockObject(SYSTEM_FONT));
    return device;
}

void textDeviceDelete(TextDevice* device) {
    if (!device) return;
    // The DC gives back what it held first, so that the fonts and the raster
    // selected into it can be deleted by their owners.
    if (device->firstFont) SelectObject(device->dc, device->firstFont);
    if (device->firstBitmap) SelectObject(device->dc, device->firstBitmap);
    DeleteDC(device->dc);
    delete device;
}

bool textSelectFont(TextDevice* device, Handle font) {
    if (!device || !isFont(font)) return false;
    const HGDIOBJ old = SelectObject(device->dc, gdi(font));
    return old && old != HGDI_ERROR;
}

bool textSelectRaster(TextDevice* device, Handle raster) {
    if (!device || !raster || GetObjectType(gdi(raster)) != OBJ_BITMAP) return false;
    DIBSECTION ds;
    if (GetObjectW(gdi(raster), sizeof ds, &ds) != sizeof ds || !ds.dsBm.bmBits || ds.dsBm.bmBitsPixel != 24)
        return false;
    const HGDIOBJ old = SelectObject(device->dc, gdi(raster));
    if (!old || old == HGDI_ERROR) return false;
    if (!device->firstBitmap) device->firstBitmap = old;
    SetBkMode(device->dc, OPAQUE);
    SetTextAlign(device->dc, 0);
    SetBkColor(device->dc, 0);
    SetTextColor(device->dc, 0xFFFFFF);
    return true;
}

bool textExtent(TextDevice* device, const char16_t* text, std::int32_t length, TextSize& out) {
    SIZE size;
    if (!device || !text || length < 0 ||
        !GetTextExtentPoint32W(device->dc, reinterpret_cast<const wchar_t*>(text), length, &size))
        return false;
    out = {size.cx, size.cy};
    return true;
}

bool textIsItalic(TextDevice* device) {
    TEXTMETRICW tm;
    return device && GetTextMetricsW(device->dc, &tm) && tm.tmItalic;
}

bool textOut(TextDevice* device, std::int32_t x, std::int32_t y, const char16_t* text, std::int32_t length) {
    // Without a raster the DC holds its default 1 x 1 monochrome bitmap.
    if (!device || !device->firstBitmap || !text || length < 0) return false;
    const bool ok = TextOutW(device->dc, x, y, reinterpret_cast<const wchar_t*>(text), length) != 0;
    GdiFlush();  // the caller reads the raster's bits next
    return ok;
}

std::int32_t textInkRightColumn(TextDevice* device, std::int32_t cx, std::int32_t cy) {
    if (!device || cx <= 0 || cy <= 0 || cx > 0x4000 || cy > 0x4000) return -1;
    HDC dc = CreateCompatibleDC(device->dc);
    if (!dc) return -1;
    std::int32_t column = -1;
    // A bitmap compatible with a memory DC is monochrome: the probe sees the
    // glyph's pixels without antialiasing.
    if (HBITMAP bm = CreateCompatibleBitmap(dc, 2 * cx, 2 * cy)) {
        const HGDIOBJ oldBitmap = SelectObject(dc, bm);
        const HGDIOBJ oldFont = SelectObject(dc, GetCurrentObject(device->dc, OBJ_FONT));
        const RECT all{0, 0, 2 * cx, 2 * cy};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, 0xFFFFFF);
        SetTextAlign(dc, 0);
        TextOutW(dc, 0, 0, L"H", 1);
        for (std::int32_t col = 2 * cx - 1; col >= 0 && column < 0; --col)
            for (std::int32_t row = 0; row < cy; ++row)
                if (GetPixel(dc, col, row) != 0) {
                    column = col;
                    break;
                }
        SelectObject(dc, oldFont);
        SelectObject(dc, oldBitmap);
        DeleteObject(bm);
    }
    DeleteDC(dc);
    return column;
}

}  // namespace oct::plat
