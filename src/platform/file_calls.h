// Bookkeeping shared by both file backends: each counts its read and write
// calls here (see plat::fileCallCounts).
#pragma once

#include <cstdint>

namespace oct::plat {

void fileNoteRead(std::uint32_t count);
void fileNoteWrite(std::uint32_t count);

}  // namespace oct::plat
