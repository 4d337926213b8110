// The string module: the string heap and private copies of string arguments.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace oct {

// First start step: creates the string heap. Next-to-last stop step: destroys
// it, and with it every string copy still allocated.
void strStart();
void strStop();
plat::Heap* strHeap();

// Stores in `destination` a new copy of the zero-terminated UTF-16 `source`
// from the string heap (length + 5 units). A null source leaves `destination`
// as it was; when the copy cannot be allocated `destination` becomes null.
void strCopyArg(char16_t*& destination, const char16_t* source);

// Frees a copy made by strCopyArg. Null does nothing.
void strFreeArg(char16_t* copy);

}  // namespace oct
