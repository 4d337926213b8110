// libFuzzer target: see oct::fuzz::checkDrawScript in draw_targets.h for the
// input and the property. Seeds: corpus/draw_script_fuzz/.
#include <cstddef>
#include <cstdint>

#include "draw_targets.h"
#include "runtime/module.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    oct::modStartAll();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!oct::fuzz::checkDrawScript(data, size)) __builtin_trap();
    return 0;
}
