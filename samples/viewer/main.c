/* viewer: a Windows host program of the library. It decodes a picture with
 * WIC into a DIB section of its own, hands that bitmap to octConvert and shows
 * the picture and the rebuilt level picture side by side. S saves the level
 * file, P a PNG of the level picture. A file that WIC does not decode is
 * given to octLoad, which takes level files.
 *
 * For tests, --capture OUT.bmp writes the client area after the first paint
 * to OUT.bmp and exits; there, failures go to standard error, not to message
 * boxes, because nobody is there to close them. */
#include "viewer.h" /* first: windows.h, which the other Windows headers need */

#include <commdlg.h>
#include <shellapi.h>
#include <stdarg.h>
#include <stdint.h>
#include <wchar.h>

#include "oct.h"

/* File names go to the library as UTF-16, which is what wchar_t holds here. */
_Static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is UTF-16 on Windows");
#define U16(name) ((const char16_t*)(name))

enum {
    kGap = 8, /* pixels between the picture and the level picture */
    kCaptureMessage = WM_APP + 1,
};

static const wchar_t kTitle[] = L"oct viewer";
static const wchar_t kUsage[] =
    L"usage: viewer PICTURE\n"
    L"       viewer --capture OUT.bmp [--save-level OUT.oct] [--save-png OUT.png] PICTURE";

typedef struct Viewer {
    IWICImagingFactory* factory;
    const wchar_t* fileName;
    HBITMAP picture; /* the viewer's own decoded section; NULL for a level file */
    OctImage* record;
    int width, height;
    /* Capture mode: set by --capture; the save options belong to it. */
    int scripted; /* --capture is among the arguments, even a malformed set */
    const wchar_t* captureName;
    const wchar_t* levelName;
    const wchar_t* pngName;
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

static void onKey(const Viewer* v, HWND window, WPARAM key) {
    wchar_t name[MAX_PATH];
    switch (key) {
        case 'S':
            if (askSaveName(v, window, L".oct", L"Level files (*.oct)\0*.oct\0All files\0*.*\0", name))
                saveLevel(v, window, name);
            break;
        case 'P':
            if (askSaveName(v, window, L".levels.png", L"PNG pictures (*.png)\0*.png\0All files\0*.*\0", name))
                saveLevelPng(v, window, name);
            break;
        case VK_ESCAPE:
            DestroyWindow(window);
            break;
    }
}

static void blit(HDC target, HDC memory, HBITMAP bitmap, int x, int width, int height) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (old) {
        BitBlt(target, x, 0, width, height, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
    }
}

static void paint(const Viewer* v, HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    HDC memory = CreateCompatibleDC(dc);
    if (memory) {
        if (v->picture) {
            blit(dc, memory, v->picture, 0, v->width, v->height);
        } else {
            RECT note = {4, 4, v->width - 4, v->height - 4};
            SetBkMode(dc, TRANSPARENT);
            DrawTextW(dc, L"A level file: the library keeps no original picture in it.", -1, &note,
                      DT_CENTER | DT_WORDBREAK);
        }
        blit(dc, memory, levelBitmap(v), v->width + kGap, v->width, v->height);
        DeleteDC(memory);
    }
    EndPaint(window, &ps);
}

/* Capture mode's work once the window has been painted; then the window closes. */
static void finishCapture(Viewer* v, HWND window) {
    int ok = captureClient(window, v->captureName);
    if (!ok) report(v, window, L"Could not write the capture %ls.", v->captureName);
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
    return 1;
}

static int parseArguments(Viewer* v, int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
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
    return v->fileName && (v->captureName || (!v->levelName && !v->pngName));
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
    /* A picture larger than the screen is cut off anyway; the bound keeps
     * the window's size within what window sizes can hold. */
    const int width = v->width < 16384 ? v->width : 16384, height = v->height < 16384 ? v->height : 16384;
    RECT frame = {0, 0, 2 * width + kGap, height};
    AdjustWindowRect(&frame, style, FALSE);
    wchar_t title[512];
    _snwprintf(title, sizeof title / sizeof *title - 1, L"%ls - %d x %d - S saves the level file, P the PNG",
               v->fileName, v->width, v->height);
    title[sizeof title / sizeof *title - 1] = 0;
    /* Captures start at the screen's corner, so that no part of the client
     * area lies off the screen. */
    const int x = v->captureName ? 0 : CW_USEDEFAULT, y = v->captureName ? 0 : CW_USEDEFAULT;
    HWND window = CreateWindowW(windowClass.lpszClassName, title, style, x, y, frame.right - frame.left,
                                frame.bottom - frame.top, NULL, NULL, instance, v);
    if (!window) {
        report(v, NULL, L"Could not open a window (error %lu).", GetLastError());
        return 0;
    }
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

    octFree(v.record); /* first: the record read the picture's section, which goes next */
    if (v.picture) DeleteObject(v.picture);
    if (v.factory) IWICImagingFactory_Release(v.factory);
    if (SUCCEEDED(com)) CoUninitialize();
    LocalFree(argv);
    return v.exitCode;
}
