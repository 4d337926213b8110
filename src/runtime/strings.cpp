#include "runtime/strings.h"

#include <cstring>

namespace oct {
namespace {
plat::Heap* gStringHeap = nullptr;
}

void strStart() {
    if (!gStringHeap) gStringHeap = plat::heapCreate();
}

void strStop() {
    plat::heapDestroy(gStringHeap);
    gStringHeap = nullptr;
}

plat::Heap* strHeap() { return gStringHeap; }

void strCopyArg(char16_t*& destination, const char16_t* source) {
    if (!source) return;
    std::size_t n = 0;
    while (source[n] != 0) ++n;
    // Five spare units, as every string copy of the runtime carries.
    auto* copy = static_cast<char16_t*>(plat::heapAlloc(gStringHeap, (n + 5) * sizeof(char16_t), false));
    if (copy) {
        std::memcpy(copy, source, n * sizeof(char16_t));
        copy[n] = 0;
    }
    destination = copy;
}

void strFreeArg(char16_t* copy) { plat::heapFree(gStringHeap, copy); }

}  // namespace oct
