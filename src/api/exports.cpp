// The library's exported functions.
#include "oct.h"

extern "C" OCT_API int64_t octVersion(void) { return 1; }
