// Bookkeeping shared by both file backends: each counts its read and write
// calls here (see plat::fileCallCounts) and asks whether a test has made
// the call fail (plat::failCallAt).
#pragma once

#include <cstdint>

namespace oct::plat {

// False when this read must fail.
[[nodiscard]] bool fileNoteRead(std::uint32_t count);
// False when this write must fail.
[[nodiscard]] bool fileNoteWrite(std::uint32_t count);
void fileNoteFlush();

}  // namespace oct::plat
