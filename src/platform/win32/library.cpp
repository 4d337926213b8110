// Run-time libraries and display probes on Windows.
#include "platform/libraries.h"

#include <windows.h>

namespace oct::plat {

Library* libraryLoad(const char16_t* name) {
    return reinterpret_cast<Library*>(LoadLibraryW(reinterpret_cast<const wchar_t*>(name)));
}

void* libraryProc(Library* library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void libraryFree(Library* library) {
    if (library) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

int displayPixelsPerInchY() {
    HDC dc = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
    if (!dc) return 96;
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    DeleteDC(dc);
    return dpi;
}

}  // namespace oct::plat
