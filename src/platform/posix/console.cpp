// Console facts on Linux: streams carry bytes as they are, and terminals take UTF-8.
#include "platform/console.h"

#include <unistd.h>

namespace oct::plat {

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void consoleStart() {}
void consoleStop() {}

}  // namespace oct::plat
