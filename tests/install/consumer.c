/* A host program built against an installed oct: converts a picture of its
 * own making and saves it as a level file, then loads that file again.
 * Exit 0 when every step gives what it should. */
#include <oct.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    if (octVersion() != 1) return 1;
#ifndef _WIN32
    /* A 64 x 64 24-bit picture of horizontal stripes. */
    int64_t bitmap = octBitmapCreate(64, 64, 24);
    OctBitmap info;
    if (!bitmap || !octBitmapInfo(bitmap, &info)) return 2;
    for (int32_t y = 0; y < info.height; ++y)
        memset((uint8_t*)info.bits + (size_t)y * (size_t)info.widthBytes, (y / 8) * 32, (size_t)info.widthBytes);
    OctImage* record = octConvert(bitmap);
    if (!record || octWidth(record) != 64 || octHeight(record) != 64 || octAlpha(record) != 0) return 3;
    static const char16_t name[] = u"consumer-out.oct";
    if (octSave(record, name, 0) != 1) return 4;
    octFree(record);
    octBitmapDelete(bitmap);
    OctImage* again = octLoad(name);
    if (!again || octWidth(again) != 64 || !octHandle(again)) return 5;
    octFree(again);
    remove("consumer-out.oct");
#endif
    (void)argc;
    printf("%s: oct interface version %lld works\n", argv[0], (long long)octVersion());
    return 0;
}
