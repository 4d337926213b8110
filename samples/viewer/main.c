/* viewer: a Windows host program of the library. It decodes a picture with
 * WIC into a DIB section of its own, hands that bitmap to octConvert and shows
 * the picture and the rebuilt level picture side by side, both reduced to
 * fit the window (view.c); Z switches to 1:1 with scroll bars and back. S
 * saves the level file, P a PNG of the level picture. A file that WIC does
 * not decode is given to octLoad, which takes level files.
 *
 * For tests, --capture OUT.bmp writes the client area after the first paint
 * to OUT.bmp, the window's title to standard output, and exits; there,
 * failures go to standard error, not to message boxes, because nobody is
 * there to close them. */
#include "viewer.h" /* first: windows.h, which the other Windows headers need */

#include <commdlg.h>
#include <shellapi.h>
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <wchar.h>
#include <wctype.h>

#include "oct.h"

/* File names go to the library as UTF-16, which is what wchar_t holds here. */
_Static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is UTF-16 on Windows");
#define U16(name) ((const char16_t*)(name))

enum {
    kCaptureMessage = WM_APP + 1,
    kLine = 32, /* pixels an arrow key or a scroll bar's arrow moves the view */
};

static const wchar_t kTitle[] = L"oct viewer";
static const wchar_t kUsage[] =
    L"usage: viewer [--zoom1 [--scroll X,Y]] PICTURE\n"
    L"       viewer --capture OUT.bmp [--save-level OUT.oct] [--save-png OUT.png] [--zoom1 [--scroll X,Y]] PICTURE";

typedef struct Viewer {
    IWICImagingFactory* factory;
    const wchar_t* fileName;
    HBITMAP picture; /* the viewer's own decoded section; NULL for a level file */
    OctImage* record;
    int width, height;
    int64_t levelFileSize; /* the level file's bytes as octSave writes them; -1 when it cannot */
    View view;
    int laying; /* layOut is running: the WM_SIZE that its scroll bars cause is its own */
    int wheel;  /* mouse wheel turns not yet scrolled: a fine wheel sends less than a notch */
    /* Capture mode: set by --capture; the save options belong to it. */
    int scripted; /* --capture is among the arguments, even a malformed set */
    const wchar_t* captureName;
    const wchar_t* levelName;
    const wchar_t* pngName;
    int startScrollX, startScrollY; /* --scroll: where the 1:1 view starts */
    int captured;     /* the first paint has asked for the capture */
    int captureEnded; /* finishCapture ran: the exit code is its answer */
    int exitCode;
} Viewer;

/* A failure, in a message box or, in capture mode, on standard error. */
static void report(const Viewer* v, HWND window, const wchar_t* format, ...) {
    wchar_t text[1024];
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, sizeof text / sizeof *text - 1, format, args);
    va_end(args);
    text[sizeof text / sizeof *text - 1] = 0;
    if (!v->scripted) {
        MessageBoxW(window, text, kTitle, MB_OK | MB_ICONERROR);
        return;
    }
    char line[4096];
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, line, (int)sizeof line - 1, NULL, NULL);
    if (size <= 0) return;
    line[size - 1] = '\n'; /* in place of the terminating zero */
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), "viewer: ", 8, &written, NULL);
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, (DWORD)size, &written, NULL);
}

static HBITMAP levelBitmap(const Viewer* v) { return (HBITMAP)(intptr_t)octHandle(v->record); }

static int saveLevel(const Viewer* v, HWND window, const wchar_t* name) {
    if (octSave(v->record, U16(name), 0)) return 1;
    report(v, window, L"Could not save the level file %ls.", name);
    return 0;
}

static int saveLevelPng(const Viewer* v, HWND window, const wchar_t* name) {
    if (savePng(v->factory, levelBitmap(v), name)) return 1;
    report(v, window, L"Could not save the PNG file %ls.", name);
    return 0;
}

/* Asks where to save, offering the picture's own folder and name with
 * `suffix` in place of its extension. 0 when the user cancels. */
static int askSaveName(const Viewer* v, HWND window, const wchar_t* suffix, const wchar_t* filter,
                       wchar_t name[MAX_PATH]) {
    DWORD length = GetFullPathNameW(v->fileName, MAX_PATH, name, NULL);
    if (length == 0 || length >= MAX_PATH) length = 0;
    name[length] = 0;
    wchar_t* dot = wcsrchr(name, L'.');
    if (dot && !wcspbrk(dot, L"\\/")) *dot = 0;
    if (length == 0 || wcslen(name) + wcslen(suffix) >= MAX_PATH)
        name[0] = 0; /* no default rather than a wrong one */
    else
        wcscat(name, suffix);
    OPENFILENAMEW dialog = {0};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window;
    dialog.lpstrFilter = filter;
    dialog.lpstrFile = name;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = suffix + wcslen(suffix) - 3;
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (GetSaveFileNameW(&dialog)) return 1;
    if (CommDlgExtendedError()) report(v, window, L"The save dialog failed (error %lu).", CommDlgExtendedError());
    return 0;
}

/* "1,234,567": digits in groups of three, the way the title shows sizes. */
static void groupDigits(int64_t value, wchar_t* out, size_t size) {
    wchar_t digits[32];
    const int count = _snwprintf(digits, sizeof digits / sizeof *digits, L"%lld", (long long)value);
    size_t at = 0;
    for (int i = 0; i < count && at + 1 < size; ++i) {
        if (i > 0 && (count - i) % 3 == 0 && at + 2 < size) out[at++] = L',';
        out[at++] = digits[i];
    }
    out[at] = 0;
}

/* "photo.jpg — 4032 × 3024, level file 1,234,567 bytes, 25 %" */
static void updateTitle(const Viewer* v, HWND window) {
    const wchar_t* name = v->fileName;
    for (const wchar_t* p = v->fileName; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':') name = p + 1;
    wchar_t size[64], zoom[32], title[768];
    if (v->levelFileSize >= 0) {
        wchar_t digits[32];
        groupDigits(v->levelFileSize, digits, sizeof digits / sizeof *digits);
        _snwprintf(size, sizeof size / sizeof *size, L"level file %ls bytes", digits);
    } else {
        wcscpy(size, L"no level file can hold it");
    }
    size[sizeof size / sizeof *size - 1] = 0;
    const int tenths = viewPercentTenths(&v->view);
    if (tenths >= 100)
        _snwprintf(zoom, sizeof zoom / sizeof *zoom, L"%d %%", (tenths + 5) / 10);
    else
        _snwprintf(zoom, sizeof zoom / sizeof *zoom, L"%d.%d %%", tenths / 10, tenths % 10);
    zoom[sizeof zoom / sizeof *zoom - 1] = 0;
    _snwprintf(title, sizeof title / sizeof *title - 1, L"%ls \u2014 %d \u00d7 %d, %ls, %ls", name, v->width,
               v->height, size, zoom);
    title[sizeof title / sizeof *title - 1] = 0;
    SetWindowTextW(window, title);
}

/* Lays the pictures out for the client area as it is now and sets the scroll
 * bars to match: at 1:1 they show where the view is, fitted they are gone.
 * A scroll bar that appears or goes changes the client area, and so the
 * layout is made again until the client area stays as it is. */
static void layOut(Viewer* v, HWND window) {
    v->laying = 1;
    RECT client = {0};
    GetClientRect(window, &client);
    for (int round = 0; round < 4; ++round) {
        viewLayout(&v->view, client.right, client.bottom);
        SCROLLINFO bar = {.cbSize = sizeof bar, .fMask = SIF_RANGE | SIF_PAGE | SIF_POS};
        if (v->view.actualSize) {
            bar.nMax = viewContentWidth(&v->view) - 1;
            bar.nPage = (UINT)v->view.clientWidth;
            bar.nPos = v->view.scrollX;
        }
        SetScrollInfo(window, SB_HORZ, &bar, TRUE);
        if (v->view.actualSize) {
            bar.nMax = viewContentHeight(&v->view) - 1;
            bar.nPage = (UINT)v->view.clientHeight;
            bar.nPos = v->view.scrollY;
        }
        SetScrollInfo(window, SB_VERT, &bar, TRUE);
        RECT now = {0};
        GetClientRect(window, &now);
        if (now.right == client.right && now.bottom == client.bottom) break;
        client = now;
    }
    v->laying = 0;
    updateTitle(v, window);
    InvalidateRect(window, NULL, TRUE);
}

/* Moves the 1:1 view to (x, y), kept within the content. */
static void scrollTo(Viewer* v, HWND window, int x, int y) {
    x = viewClampScroll(x, viewContentWidth(&v->view) - v->view.clientWidth);
    y = viewClampScroll(y, viewContentHeight(&v->view) - v->view.clientHeight);
    if (!v->view.actualSize || (x == v->view.scrollX && y == v->view.scrollY)) return;
    v->view.scrollX = x;
    v->view.scrollY = y;
    SetScrollPos(window, SB_HORZ, x, TRUE);
    SetScrollPos(window, SB_VERT, y, TRUE);
    InvalidateRect(window, NULL, TRUE);
}

/* Where a scroll bar's request (WM_HSCROLL or WM_VSCROLL) moves the view
 * along that bar's direction. */
static int scrollRequest(HWND window, int bar, WPARAM request, int position, int page, int largest) {
    switch (LOWORD(request)) {
        case SB_LINEUP: return position - kLine; /* SB_LINELEFT too, and so on */
        case SB_LINEDOWN: return position + kLine;
        case SB_PAGEUP: return position - page;
        case SB_PAGEDOWN: return position + page;
        case SB_TOP: return 0;
        case SB_BOTTOM: return largest;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: {
            /* The message's own position has 16 bits; the bar's has 32. */
            SCROLLINFO info = {.cbSize = sizeof info, .fMask = SIF_TRACKPOS};
            return GetScrollInfo(window, bar, &info) ? info.nTrackPos : position;
        }
    }
    return position;
}

static void onScroll(Viewer* v, HWND window, int bar, WPARAM request) {
    View* view = &v->view;
    if (bar == SB_HORZ)
        scrollTo(v, window,
                 scrollRequest(window, bar, request, view->scrollX, view->clientWidth,
                               viewContentWidth(view) - view->clientWidth),
                 view->scrollY);
    else
        scrollTo(v, window, view->scrollX,
                 scrollRequest(window, bar, request, view->scrollY, view->clientHeight,
                               viewContentHeight(view) - view->clientHeight));
}

/* A turn of the wheel: three lines a notch (WHEEL_DELTA), down and right for
 * negative turns of the vertical wheel and positive ones of the horizontal. */
static void onWheel(Viewer* v, HWND window, int horizontal, int delta) {
    v->wheel += delta;
    const int notches = v->wheel / WHEEL_DELTA;
    v->wheel -= notches * WHEEL_DELTA;
    if (horizontal)
        scrollTo(v, window, v->view.scrollX + notches * 3 * kLine, v->view.scrollY);
    else
        scrollTo(v, window, v->view.scrollX, v->view.scrollY - notches * 3 * kLine);
}

static void onKey(Viewer* v, HWND window, WPARAM key) {
    wchar_t name[MAX_PATH];
    const int shift = GetKeyState(VK_SHIFT) < 0;
    switch (key) {
        case 'S':
            if (askSaveName(v, window, L".oct", L"Level files (*.oct)\0*.oct\0All files\0*.*\0", name))
                saveLevel(v, window, name);
            break;
        case 'P':
            if (askSaveName(v, window, L".levels.png", L"PNG pictures (*.png)\0*.png\0All files\0*.*\0", name))
                saveLevelPng(v, window, name);
            break;
        case 'Z':
            v->view.actualSize = !v->view.actualSize;
            v->view.scrollX = v->view.scrollY = 0;
            layOut(v, window);
            break;
        case VK_LEFT: onScroll(v, window, SB_HORZ, SB_LINELEFT); break;
        case VK_RIGHT: onScroll(v, window, SB_HORZ, SB_LINERIGHT); break;
        case VK_UP: onScroll(v, window, SB_VERT, SB_LINEUP); break;
        case VK_DOWN: onScroll(v, window, SB_VERT, SB_LINEDOWN); break;
        /* Shift turns the page keys sideways, as the wheel's shift does. */
        case VK_PRIOR: onScroll(v, window, shift ? SB_HORZ : SB_VERT, SB_PAGEUP); break;
        case VK_NEXT: onScroll(v, window, shift ? SB_HORZ : SB_VERT, SB_PAGEDOWN); break;
        case VK_HOME: scrollTo(v, window, 0, 0); break;
        case VK_END: scrollTo(v, window, INT_MAX / 2, INT_MAX / 2); break;
        case VK_ESCAPE:
            DestroyWindow(window);
            break;
    }
}

static void paint(Viewer* v, HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    viewPaint(&v->view, dc, v->picture, levelBitmap(v), L"A level file: the library keeps no original picture in it.");
    EndPaint(window, &ps);
}

/* The window's title, as UTF-8, on a line of standard output. */
static void printTitle(HWND window) {
    wchar_t title[768];
    char line[3 * 768 + 2];
    if (!GetWindowTextW(window, title, sizeof title / sizeof *title)) return;
    int size = WideCharToMultiByte(CP_UTF8, 0, title, -1, line, (int)sizeof line - 1, NULL, NULL);
    if (size <= 0) return;
    line[size - 1] = '\n';
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)size, &written, NULL);
}

/* Capture mode's work once the window has been painted; then the window closes. */
static void finishCapture(Viewer* v, HWND window) {
    int ok = captureClient(window, v->captureName);
    if (!ok) report(v, window, L"Could not write the capture %ls.", v->captureName);
    if (ok) printTitle(window);
    if (ok && v->levelName) ok = saveLevel(v, window, v->levelName);
    if (ok && v->pngName) ok = saveLevelPng(v, window, v->pngName);
    v->exitCode = ok ? 0 : 1;
    v->captureEnded = 1;
    DestroyWindow(window);
}

static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Viewer* v = (Viewer*)GetWindowLongPtrW(window, GWLP_USERDATA);
    switch (message) {
        case WM_NCCREATE:
            SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)((CREATESTRUCTW*)lParam)->lpCreateParams);
            break;
        case WM_SIZE:
            if (v && !v->laying) layOut(v, window);
            return 0;
        case WM_HSCROLL:
        case WM_VSCROLL:
            onScroll(v, window, message == WM_HSCROLL ? SB_HORZ : SB_VERT, wParam);
            return 0;
        case WM_MOUSEWHEEL:
            onWheel(v, window, (GET_KEYSTATE_WPARAM(wParam) & MK_SHIFT) != 0, GET_WHEEL_DELTA_WPARAM(wParam));
            return 0;
        case WM_MOUSEHWHEEL:
            onWheel(v, window, 1, GET_WHEEL_DELTA_WPARAM(wParam));
            return 0;
        case WM_PAINT:
            paint(v, window);
            if (v->captureName && !v->captured) {
                v->captured = 1;
                PostMessageW(window, kCaptureMessage, 0, 0);
            }
            return 0;
        case kCaptureMessage:
            finishCapture(v, window);
            return 0;
        case WM_KEYDOWN:
            if (!v->captureName) onKey(v, window, wParam);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

/* The size of the level file that octSave writes for the record. oct.h
 * gives no other way to learn it than writing the file, and so it is written
 * once, into the temporary folder, and deleted again. -1 when it cannot be
 * written (a picture too small for a level file, no room for it). */
static int64_t levelFileSize(OctImage* record) {
    wchar_t folder[MAX_PATH], name[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH || !GetTempFileNameW(folder, L"oct", 0, name)) return -1;
    int64_t size = -1;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (octSave(record, U16(name), 0) && GetFileAttributesExW(name, GetFileExInfoStandard, &data))
        size = (int64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
    DeleteFileW(name);
    return size;
}

/* The picture through WIC and octConvert, or, when WIC takes no such file,
 * whatever octLoad makes of it. */
static int load(Viewer* v) {
    v->picture = decodePicture(v->factory, v->fileName);
    if (v->picture) {
        v->record = octConvert((int64_t)(intptr_t)v->picture);
        if (!v->record) report(v, NULL, L"The library could not convert %ls.", v->fileName);
    } else {
        v->record = octLoad(U16(v->fileName));
        if (!v->record) report(v, NULL, L"%ls is neither a picture that WIC decodes nor a level file.", v->fileName);
    }
    if (!v->record) return 0;
    v->width = (int)octWidth(v->record);
    v->height = (int)octHeight(v->record);
    v->view.width = v->width;
    v->view.height = v->height;
    v->levelFileSize = levelFileSize(v->record);
    return 1;
}

/* "X,Y" of two whole numbers of at least 0 and at most 2^30. */
static int parsePoint(const wchar_t* text, int* x, int* y) {
    wchar_t* end = NULL;
    const long a = wcstol(text, &end, 10);
    if (end == text || *end != L',' || a < 0 || a > (1L << 30)) return 0;
    const wchar_t* second = end + 1;
    const long b = wcstol(second, &end, 10);
    if (end == second || *end || b < 0 || b > (1L << 30) || !iswdigit(*text) || !iswdigit(*second)) return 0;
    *x = (int)a;
    *y = (int)b;
    return 1;
}

static int parseArguments(Viewer* v, int argc, wchar_t** argv) {
    int scroll = 0;
    for (int i = 1; i < argc; ++i) {
        if (!wcscmp(argv[i], L"--zoom1")) {
            v->view.actualSize = 1;
            continue;
        }
        if (!wcscmp(argv[i], L"--scroll")) {
            if (i + 1 >= argc || !parsePoint(argv[++i], &v->startScrollX, &v->startScrollY)) return 0;
            scroll = 1;
            continue;
        }
        const wchar_t** option = !wcscmp(argv[i], L"--capture")      ? &v->captureName
                                 : !wcscmp(argv[i], L"--save-level") ? &v->levelName
                                 : !wcscmp(argv[i], L"--save-png")   ? &v->pngName
                                                                     : NULL;
        if (option && i + 1 < argc)
            *option = argv[++i];
        else if (option || v->fileName || argv[i][0] == L'-')
            return 0;
        else
            v->fileName = argv[i];
    }
    /* The save options belong to capture mode; a scroll position to 1:1. */
    return v->fileName && (v->captureName || (!v->levelName && !v->pngName)) && (!scroll || v->view.actualSize);
}

static int run(Viewer* v, HINSTANCE instance, int show) {
    WNDCLASSW windowClass = {0};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"OctViewer";
    if (!RegisterClassW(&windowClass)) {
        report(v, NULL, L"Could not register the window class (error %lu).", GetLastError());
        return 0;
    }

    const DWORD style = WS_OVERLAPPEDWINDOW;
    /* The window takes both pictures at 1:1 where the screen's work area has
     * room for them, else the whole work area, in which they are reduced. */
    RECT work = {0, 0, 1024, 768};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int64_t contentWidth = 2 * (int64_t)v->width + VIEWER_GAP;
    RECT frame = {0, 0, contentWidth < 32767 ? (int)contentWidth : 32767, v->height < 32767 ? v->height : 32767};
    AdjustWindowRect(&frame, style, FALSE);
    const int workWidth = work.right - work.left, workHeight = work.bottom - work.top;
    const int width = frame.right - frame.left < workWidth ? frame.right - frame.left : workWidth;
    const int height = frame.bottom - frame.top < workHeight ? frame.bottom - frame.top : workHeight;
    /* Captures start at the work area's corner, so that no part of the client
     * area lies off the screen; otherwise the window is centred in it. */
    const int x = work.left + (v->captureName ? 0 : (workWidth - width) / 2);
    const int y = work.top + (v->captureName ? 0 : (workHeight - height) / 2);
    v->view.scrollX = v->startScrollX;
    v->view.scrollY = v->startScrollY;
    HWND window = CreateWindowW(windowClass.lpszClassName, kTitle, style, x, y, width, height, NULL, NULL,
                                instance, v);
    if (!window) {
        report(v, NULL, L"Could not open a window (error %lu).", GetLastError());
        return 0;
    }
    layOut(v, window); /* the title too, and the scroll bars of a 1:1 start */
    ShowWindow(window, v->captureName ? SW_SHOWNORMAL : show);
    UpdateWindow(window);
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, NULL, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (got < 0) {
        report(v, NULL, L"The window's messages could not be read (error %lu).", GetLastError());
        return 0;
    }
    /* A capture is made after the first paint; a window that closes before
     * then would otherwise end the program with no word why. */
    if (v->captureName && !v->captureEnded) {
        report(v, NULL, L"The window closed before its capture was made.");
        return 0;
    }
    return 1;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
    (void)previous;
    (void)commandLine;
    Viewer v = {.exitCode = 1};
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 1;
    for (int i = 1; i < argc; ++i) v.scripted |= !wcscmp(argv[i], L"--capture");
    if (!parseArguments(&v, argc, argv)) {
        report(&v, NULL, L"%ls", kUsage);
        LocalFree(argv);
        return 2;
    }

    /* Single-threaded apartment: the save dialog needs one. */
    const HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (FAILED(com) || FAILED(CoCreateInstance(&CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER,
                                               &IID_IWICImagingFactory, (void**)&v.factory))) {
        report(&v, NULL, L"The Windows Imaging Component is not available.");
    } else if (load(&v) && run(&v, instance, show) && !v.captureName) {
        v.exitCode = 0;
    }

    viewDropScaled(&v.view);
    octFree(v.record); /* first: the record read the picture's section, which goes next */
    if (v.picture) DeleteObject(v.picture);
    if (v.factory) IWICImagingFactory_Release(v.factory);
    if (SUCCEEDED(com)) CoUninitialize();
    LocalFree(argv);
    return v.exitCode;
}
