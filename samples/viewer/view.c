/* Where the two pictures go in the client area, and drawing them there.
 *
 * Fitted, both pictures shrink by the same factor until they fit side by side
 * (never grow: a small picture stays at 1:1, sharp, rather than blurred by
 * enlarging). GDI's HALFTONE stretching averages the source pixels that fall
 * on each screen pixel, so a reduced photograph keeps its detail and the
 * level picture its gray levels' proportions, where the default mode drops
 * whole rows and columns. Stretching a photograph of 12 megapixels takes a
 * while, so each picture is reduced once per size into a bitmap of the
 * viewer's own, which painting then copies as it is.
 *
 * At 1:1 the pictures keep their own size and the client area is a window
 * onto them, moved by the scroll bars. */
#include "viewer.h"

static int atLeastOne(int64_t value) { return value < 1 ? 1 : (int)value; }

void viewLayout(View* view, int clientWidth, int clientHeight) {
    view->clientWidth = clientWidth < 0 ? 0 : clientWidth;
    view->clientHeight = clientHeight < 0 ? 0 : clientHeight;
    const int w = view->width, h = view->height;
    if (view->actualSize) {
        view->shownWidth = w;
        view->shownHeight = h;
    } else {
        /* Each picture has half the width, the gap taken out, and the whole height. */
        const int64_t roomWidth = (view->clientWidth - VIEWER_GAP) / 2, roomHeight = view->clientHeight;
        if (w <= roomWidth && h <= roomHeight) {
            view->shownWidth = w;
            view->shownHeight = h;
        } else if ((int64_t)w * roomHeight <= (int64_t)h * roomWidth) { /* the height binds */
            view->shownHeight = atLeastOne(roomHeight);
            view->shownWidth = atLeastOne((int64_t)w * view->shownHeight / h);
        } else { /* the width binds */
            view->shownWidth = atLeastOne(roomWidth);
            view->shownHeight = atLeastOne((int64_t)h * view->shownWidth / w);
        }
    }
    view->scrollX = viewClampScroll(view->scrollX, viewContentWidth(view) - view->clientWidth);
    view->scrollY = viewClampScroll(view->scrollY, viewContentHeight(view) - view->clientHeight);
}

int viewContentWidth(const View* view) { return 2 * view->shownWidth + VIEWER_GAP; }
int viewContentHeight(const View* view) { return view->shownHeight; }

int viewClampScroll(int position, int largest) {
    if (position > largest) position = largest;
    return position < 0 ? 0 : position;
}

int viewPercentTenths(const View* view) {
    /* Rounded to the nearest tenth of a percent, halves up. */
    return (int)((2000 * (int64_t)view->shownWidth + view->width) / (2 * (int64_t)view->width));
}

void viewDropScaled(View* view) {
    for (int i = 0; i < 2; ++i) {
        if (view->scaled[i]) DeleteObject(view->scaled[i]);
        view->scaled[i] = NULL;
    }
    view->scaledWidth = view->scaledHeight = 0;
}

/* `source` reduced to width x height with HALFTONE into a new 24-bit DIB
 * section, or NULL when GDI cannot make one. */
static HBITMAP reduce(HBITMAP source, int sourceWidth, int sourceHeight, int width, int height) {
    BITMAPINFO info = {0};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = NULL;
    HBITMAP target = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HDC from = CreateCompatibleDC(NULL), to = CreateCompatibleDC(NULL);
    int ok = target && from && to;
    if (ok) {
        HGDIOBJ oldFrom = SelectObject(from, source), oldTo = SelectObject(to, target);
        /* HALFTONE leaves the brush origin undefined; GDI asks for it to be set again. */
        ok = oldFrom && oldTo && SetStretchBltMode(to, HALFTONE) && SetBrushOrgEx(to, 0, 0, NULL) &&
             StretchBlt(to, 0, 0, width, height, from, 0, 0, sourceWidth, sourceHeight, SRCCOPY);
        if (oldFrom) SelectObject(from, oldFrom);
        if (oldTo) SelectObject(to, oldTo);
    }
    if (from) DeleteDC(from);
    if (to) DeleteDC(to);
    if (!ok && target) {
        DeleteObject(target);
        target = NULL;
    }
    return target;
}

/* The bitmap to draw for sources[i] at the shown size: the source itself at
 * 1:1, else its reduction, made when the size has changed. NULL when there
 * is no such source or it cannot be reduced. */
static HBITMAP shown(View* view, HBITMAP const sources[2], int i) {
    if (!sources[i]) return NULL;
    if (view->shownWidth == view->width && view->shownHeight == view->height) return sources[i];
    if (view->scaledWidth != view->shownWidth || view->scaledHeight != view->shownHeight) {
        viewDropScaled(view);
        view->scaledWidth = view->shownWidth;
        view->scaledHeight = view->shownHeight;
    }
    if (!view->scaled[i])
        view->scaled[i] = reduce(sources[i], view->width, view->height, view->shownWidth, view->shownHeight);
    return view->scaled[i];
}

void viewPaint(View* view, HDC dc, HBITMAP picture, HBITMAP levels, const wchar_t* note) {
    HBITMAP const sources[2] = {picture, levels};
    HDC memory = CreateCompatibleDC(dc);
    if (!memory) return;
    for (int i = 0; i < 2; ++i) {
        const int x = i * (view->shownWidth + VIEWER_GAP) - view->scrollX, y = -view->scrollY;
        HBITMAP bitmap = shown(view, sources, i);
        HGDIOBJ old = bitmap ? SelectObject(memory, bitmap) : NULL;
        if (old) {
            BitBlt(dc, x, y, view->shownWidth, view->shownHeight, memory, 0, 0, SRCCOPY);
            SelectObject(memory, old);
        } else if (sources[i] && (old = SelectObject(memory, sources[i])) != NULL) {
            /* No memory for the reduction: stretched onto the screen at every paint instead. */
            SetStretchBltMode(dc, HALFTONE);
            SetBrushOrgEx(dc, 0, 0, NULL);
            StretchBlt(dc, x, y, view->shownWidth, view->shownHeight, memory, 0, 0, view->width, view->height,
                       SRCCOPY);
            SelectObject(memory, old);
        } else if (!sources[i] && note) {
            RECT box = {x + 4, y + 4, x + view->shownWidth - 4, y + view->shownHeight - 4};
            SetBkMode(dc, TRANSPARENT);
            DrawTextW(dc, note, -1, &box, DT_CENTER | DT_WORDBREAK);
        }
    }
    DeleteDC(memory);
}
