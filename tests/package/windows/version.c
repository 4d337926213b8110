/* Prints the version resource of each file named, as Windows reads it
 * (GetFileVersionInfoW, VerQueryValueW), one line a value:
 *
 *   FILE<TAB>FILEVERSION<TAB>1.1.0.0          the fixed part's numbers
 *   FILE<TAB>PRODUCTVERSION<TAB>1.1.0.0
 *   FILE<TAB>FileVersion<TAB>1.1.0            each string of the block that
 *   FILE<TAB>ProductName<TAB>oct              the Translation entry names
 *   ...
 *
 * FILE is the name as given. Exits 1, saying why, when a file has no version
 * resource or lacks one of the strings; strings are printed as UTF-8. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static const wchar_t* const kStrings[] = {L"CompanyName",      L"FileDescription",  L"FileVersion",
                                          L"InternalName",     L"LegalCopyright",   L"OriginalFilename",
                                          L"ProductName",      L"ProductVersion"};

static void printUtf8(const wchar_t* text) {
    char out[1024];
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, NULL, NULL) > 0) fputs(out, stdout);
}

static int show(const wchar_t* file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
    void* data = size ? malloc(size) : NULL;
    if (!data || !GetFileVersionInfoW(file, 0, size, data)) {
        fwprintf(stderr, L"version: %ls: no version resource (error %lu)\n", file, GetLastError());
        free(data);
        return 0;
    }
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT length = 0;
    int ok = VerQueryValueW(data, L"\\", (void**)&fixed, &length) && length >= sizeof *fixed &&
             fixed->dwSignature == 0xFEEF04BD;
    if (ok) {
        printUtf8(file);
        printf("\tFILEVERSION\t%lu.%lu.%lu.%lu\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
               HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
        printUtf8(file);
        printf("\tPRODUCTVERSION\t%lu.%lu.%lu.%lu\n", HIWORD(fixed->dwProductVersionMS),
               LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
               LOWORD(fixed->dwProductVersionLS));
    } else {
        fwprintf(stderr, L"version: %ls: no fixed file information\n", file);
    }
    /* The strings live in the block of the first language and code page listed. */
    WORD* translation = NULL;
    if (ok && !(VerQueryValueW(data, L"\\VarFileInfo\\Translation", (void**)&translation, &length) && length >= 4)) {
        fwprintf(stderr, L"version: %ls: no Translation entry\n", file);
        ok = 0;
    }
    for (size_t i = 0; ok && i < sizeof kStrings / sizeof *kStrings; ++i) {
        wchar_t path[128];
        _snwprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], kStrings[i]);
        wchar_t* value = NULL;
        if (!VerQueryValueW(data, path, (void**)&value, &length) || !value) {
            fwprintf(stderr, L"version: %ls: no %ls\n", file, path);
            ok = 0;
            break;
        }
        printUtf8(file);
        putchar('\t');
        printUtf8(kStrings[i]);
        putchar('\t');
        printUtf8(value);
        putchar('\n');
    }
    free(data);
    return ok;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fputs("usage: version FILE...\n", stderr);
        return 2;
    }
    int ok = 1;
    for (int i = 1; i < argc; ++i) ok = show(argv[i]) && ok;
    return ok ? 0 : 1;
}
