// Whole-file reading and writing for octtool's commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oct::tool {

// Files the tool reads must be smaller than this: the library counts in
// signed 32-bit lengths.
inline constexpr std::int64_t kMaxInputSize = std::int64_t{1} << 31;

// The whole content of `path`, or nothing with a one-line reason in `error`
// (missing, unreadable, or kMaxInputSize bytes or more).
std::optional<std::vector<std::uint8_t>> readInputFile(const std::string& path, std::string& error);

// Writes `size` bytes to `path`, replacing it. On failure removes what was
// written, sets `error` and returns false.
bool writeOutputFile(const std::string& path, const void* data, std::size_t size, std::string& error);

}  // namespace oct::tool
