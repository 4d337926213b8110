/* The viewer's pieces, one file each: the layout and drawing of the
 * pictures, WIC decoding into a DIB section, the PNG writer, the client-area
 * capture and the file replacement that the writers share. Every function reports failure by its result only; the
 * caller words the message, because only it knows whether a message box or
 * standard error is the place for it. */
#ifndef VIEWER_H
#define VIEWER_H

/* The C call forms of the COM interfaces: IWICBitmap_CopyPixels(p, ...). */
#define COBJMACROS
#include <windows.h>
#include <wincodec.h>

#include <stdint.h>

/* Pixels between the picture and the level picture. */
#define VIEWER_GAP 8

/* The layout of the two pictures (view.c). Content coordinates: the picture
 * at (0, 0), the level picture at (shownWidth + VIEWER_GAP, 0); the client
 * area shows them from (scrollX, scrollY) on. */
typedef struct View {
    int width, height;  /* the picture's own size */
    int actualSize;     /* 1:1 with scrolling, else fitted into the client area */
    int clientWidth, clientHeight;
    int shownWidth, shownHeight; /* each picture's size on the screen */
    int scrollX, scrollY;        /* always 0 when fitted, where everything is in view */
    HBITMAP scaled[2];           /* the reductions of the picture and the level picture */
    int scaledWidth, scaledHeight;
} View;

/* Lays the pictures out for a client area of that size: fitted, the largest
 * size of at most 1:1 at which both fit side by side, the aspect kept (sides
 * rounded down, at least 1 pixel); the scroll position kept within the
 * content. */
void viewLayout(View* view, int clientWidth, int clientHeight);
int viewContentWidth(const View* view);
int viewContentHeight(const View* view);
/* `position` within 0..largest (0 when largest is negative). */
int viewClampScroll(int position, int largest);
/* The shown size in tenths of a percent of the picture's, rounded. */
int viewPercentTenths(const View* view);
/* Draws both pictures where the layout puts them; `picture` may be NULL (a
 * level file), and `note` is then written in its place. */
void viewPaint(View* view, HDC dc, HBITMAP picture, HBITMAP levels, const wchar_t* note);
/* Releases the reductions (the layout keeps them until the size changes). */
void viewDropScaled(View* view);

/* Decodes the first frame of a picture file into a new bottom-up DIB section,
 * the only kind octConvert reads: 32 bits (BGRA, straight alpha) when the
 * codec's pixel format or palette carries transparency, else 24 bits (BGR).
 * NULL when no codec takes the file. */
HBITMAP decodePicture(IWICImagingFactory* factory, const wchar_t* fileName);

/* Writes a bottom-up DIB section of 24 or 32 bits as a PNG file (RGB, or
 * RGBA for 32 bits). An existing file of that name is replaced only when the
 * new one is complete. Nonzero on success. */
int savePng(IWICImagingFactory* factory, HBITMAP bitmap, const wchar_t* fileName);

/* Copies the window's client area as it is on the screen into a 24-bit
 * bottom-up BMP file (BITMAPINFOHEADER, no palette, rows padded to 4 bytes).
 * Nonzero on success. */
int captureClient(HWND window, const wchar_t* fileName);

/* Writes `fileName` through a temporary file in the same folder: `write`
 * fills the temporary file, which then takes the name; on any failure the
 * temporary file goes and an existing file of that name stays as it was.
 * Nonzero on success. */
typedef int (*FileWriter)(const wchar_t* tempName, void* context);
int replaceFile(const wchar_t* fileName, FileWriter write, void* context);

#endif
