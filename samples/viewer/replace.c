/* A file is written under a temporary name beside its final place and then
 * moved over it, so that a failed or interrupted save never leaves a
 * truncated file where an older, whole one was. */
#include "viewer.h"

#include <wchar.h>

int replaceFile(const wchar_t* fileName, FileWriter write, void* context) {
    /* The temporary file goes in the target's folder: a move within one
     * volume is a rename, which replaces the target in one step. */
    wchar_t folder[MAX_PATH];
    const size_t length = wcslen(fileName);
    if (length == 0 || length >= MAX_PATH) return 0;
    wcscpy(folder, fileName);
    wchar_t* cut = NULL;
    for (wchar_t* p = folder; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':') cut = p;
    if (!cut)
        wcscpy(folder, L".");
    else if (*cut == L':')
        cut[1] = 0; /* "C:name": the current folder of drive C: */
    else
        cut[cut == folder ? 1 : 0] = 0; /* "\name": the root itself */

    wchar_t temp[MAX_PATH];
    if (!GetTempFileNameW(folder, L"vwr", 0, temp)) return 0;
    if (write(temp, context) && MoveFileExW(temp, fileName, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 1;
    DeleteFileW(temp);
    return 0;
}
