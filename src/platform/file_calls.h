// Bookkeeping shared by both file backends: each counts its read and write
// calls here (see plat::fileCallCounts) and asks whether a test has made
// writes fail (plat::fileFailWritesAfter).
#pragma once

#include <cstdint>

namespace oct::plat {

void fileNoteRead(std::uint32_t count);
// False when this write must fail.
[[nodiscard]] bool fileNoteWrite(std::uint32_t count);
void fileNoteFlush();

}  // namespace oct::plat
