// Console facts on Linux.
#include "platform/platform.h"

#include <unistd.h>

namespace oct::plat {

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace oct::plat
