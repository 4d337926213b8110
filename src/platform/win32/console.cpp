// Console facts on Windows.
#include "platform/platform.h"

#include <windows.h>

namespace oct::plat {

bool stderrIsTerminal() {
    // Only a console handle has a console mode; files and pipes do not.
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace oct::plat
