// Console facts on Windows.
#include "platform/console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace oct::plat {
namespace {
UINT gSavedOutputCodePage = 0;
}  // namespace

bool stderrIsTerminal() {
    // Only a console handle has a console mode; files and pipes do not.
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void consoleStart() {
    // The C runtime's text mode would turn every 0x0A byte of a level file
    // written to standard output into 0D 0A, and stop reading input at 0x1A.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    // Messages name files in UTF-8; the console shows them as such.
    gSavedOutputCodePage = GetConsoleOutputCP();
    if (gSavedOutputCodePage) SetConsoleOutputCP(CP_UTF8);
}

void consoleStop() {
    if (gSavedOutputCodePage) SetConsoleOutputCP(gSavedOutputCodePage);
    gSavedOutputCodePage = 0;
}

}  // namespace oct::plat
