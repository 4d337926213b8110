/* Capture mode's output: what the window shows, read back from its own
 * device context after painting, so that a test sees the pixels that
 * BitBlt really put on the screen rather than what the viewer meant to draw. */
#include "viewer.h"

typedef struct BmpJob {
    const BITMAPINFOHEADER* header;
    const void* bits;
} BmpJob;

static int writeAll(HANDLE file, const void* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, NULL) && written == size;
}

static int writeBmp(const wchar_t* tempName, void* context) {
    const BmpJob* job = context;
    HANDLE file = CreateFileW(tempName, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BITMAPFILEHEADER head = {0};
    head.bfType = 0x4D42; /* "BM" */
    head.bfOffBits = sizeof head + sizeof *job->header;
    head.bfSize = head.bfOffBits + job->header->biSizeImage;
    int ok = writeAll(file, &head, sizeof head) && writeAll(file, job->header, sizeof *job->header) &&
             writeAll(file, job->bits, job->header->biSizeImage);
    ok = CloseHandle(file) && ok;
    return ok;
}

int captureClient(HWND window, const wchar_t* fileName) {
    RECT client;
    if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) return 0;
    const LONG width = client.right, height = client.bottom;
    const DWORD stride = ((DWORD)width * 3 + 3) & ~3u;
    if ((UINT64)stride * (UINT64)height > 0x7FFFFFFF) return 0;

    BITMAPINFO info = {0};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = stride * (DWORD)height;
    void* bits = NULL;
    HBITMAP copy = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HDC screen = GetDC(window);
    HDC memory = screen ? CreateCompatibleDC(screen) : NULL;
    int ok = copy && memory;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, copy);
        ok = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != 0;
        SelectObject(memory, old);
        GdiFlush(); /* the section's bits are read directly below */
    }
    if (memory) DeleteDC(memory);
    if (screen) ReleaseDC(window, screen);
    if (ok) {
        BmpJob job = {.header = &info.bmiHeader, .bits = bits};
        ok = replaceFile(fileName, writeBmp, &job);
    }
    if (copy) DeleteObject(copy);
    return ok;
}
