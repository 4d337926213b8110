/* A host program built against the unpacked Windows SDK alone (its header,
 * one of its import libraries, its oct.dll), three ways: lld-link with
 * oct.lib, mingw's gcc with liboct.dll.a, and CMake's find_package(oct).
 *
 *   host PICTURE OUT.oct OUT.bmp
 *
 * loads PICTURE through the library and saves its level file and rebuilt
 * BMP (the test compares both with octtool.exe's), then converts a DIB
 * section of its own and loads the level file back. Exits 0 when every step
 * gives what it should, else with the number of the step that failed. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "oct.h"

/* The arguments as UTF-16 for the library; the test's paths are ASCII. */
static int widen(const char* text, char16_t* out, int size) {
    return MultiByteToWideChar(CP_ACP, 0, text, -1, (wchar_t*)out, size) > 0;
}

static int check(int ok, int step, const char* what) {
    if (!ok) fprintf(stderr, "host: step %d failed: %s\n", step, what);
    return ok;
}

int main(int argc, char** argv) {
    char16_t picture[MAX_PATH], level[MAX_PATH], rebuilt[MAX_PATH];
    if (argc != 4 || !widen(argv[1], picture, MAX_PATH) || !widen(argv[2], level, MAX_PATH) ||
        !widen(argv[3], rebuilt, MAX_PATH)) {
        fputs("usage: host PICTURE OUT.oct OUT.bmp\n", stderr);
        return 100;
    }
    if (!check(octVersion() == 1, 1, "octVersion is not 1")) return 1;

    OctImage* record = octLoad(picture);
    if (!check(record && octWidth(record) > 0 && octHeight(record) > 0 && octHandle(record), 2, "octLoad"))
        return 2;
    const int64_t width = octWidth(record), height = octHeight(record);
    if (!check(octSave(record, level, 0) == 1 && octSave(record, rebuilt, 1) == 1, 3, "octSave")) return 3;
    octFree(record);

    /* The host's own bitmap: a bottom-up 24-bit DIB section of gray bands. */
    BITMAPINFO info = {0};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 64;
    info.bmiHeader.biHeight = 48;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = NULL;
    HBITMAP section = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    if (!check(section != NULL, 4, "CreateDIBSection")) return 4;
    for (int y = 0; y < 48; ++y) memset((BYTE*)bits + y * 64 * 3, y / 6 * 36, 64 * 3);
    OctImage* converted = octConvert((int64_t)(intptr_t)section);
    DIBSECTION rebuiltInfo;
    const int ok = converted && octWidth(converted) == 64 && octHeight(converted) == 48 && octAlpha(converted) == 0 &&
                   GetObjectW((HBITMAP)(intptr_t)octHandle(converted), sizeof rebuiltInfo, &rebuiltInfo) ==
                       sizeof rebuiltInfo &&
                   rebuiltInfo.dsBm.bmWidth == 64 && rebuiltInfo.dsBm.bmBitsPixel == 24;
    octFree(converted);
    DeleteObject(section);
    if (!check(ok, 5, "octConvert of the host's section")) return 5;

    OctImage* again = octLoad(level);
    if (!check(again && octWidth(again) == width && octHeight(again) == height, 6, "the level file loaded back"))
        return 6;
    octFree(again);
    printf("host: %lld x %lld picture converted\n", (long long)width, (long long)height);
    return 0;
}
