// libFuzzer target: see oct::fuzz::checkArchiveRoundTrip in pack_targets.h for the
// property. Seeds: corpus/archive_roundtrip_fuzz/, lists of entries to pack.
#include <cstddef>
#include <cstdint>

#include "pack_targets.h"
#include "runtime/module.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    oct::modStartAll();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!oct::fuzz::checkArchiveRoundTrip(data, size)) __builtin_trap();
    return 0;
}
