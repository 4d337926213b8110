// libFuzzer target: see oct::fuzz::checkStream in stream_targets.h. Seeds:
// corpus/stream_fuzz/, short programs of reads, writes and reopens.
#include <cstddef>
#include <cstdint>

#include "runtime/module.h"
#include "stream_targets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    oct::modStartAll();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!oct::fuzz::checkStream(data, size)) __builtin_trap();
    return 0;
}
