// Saving without destroying: a save writes a temporary file beside its
// target and moves it over the target only once every byte is written, so a
// failed save leaves an existing file of that name as it was.
#pragma once

#include <string>

namespace oct {

// A name in the target's folder that no other save of this process or of a
// concurrent process picks: the target's name followed by ".~" and a number.
std::u16string filTempName(const char16_t* target);

// Moves the finished temporary file over the target; on failure deletes the
// temporary file. True when the target now holds the new bytes.
bool filCommit(const std::u16string& temp, const char16_t* target);

}  // namespace oct
