/* The viewer's pieces, one file each: WIC decoding into a DIB section,
 * the PNG writer, the client-area capture and the file replacement that the
 * writers share. Every function reports failure by its result only; the
 * caller words the message, because only it knows whether a message box or
 * standard error is the place for it. */
#ifndef VIEWER_H
#define VIEWER_H

/* The C call forms of the COM interfaces: IWICBitmap_CopyPixels(p, ...). */
#define COBJMACROS
#include <windows.h>
#include <wincodec.h>

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
