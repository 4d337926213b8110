// Names, whole-file reading and writing, and the standard streams for
// octtool's commands.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "oct.h"
#include "tool.h"

namespace oct::tool {

using Bytes = std::vector<std::uint8_t>;

// Files the tool reads must be smaller than this: the library counts in
// signed 32-bit lengths.
inline constexpr std::int64_t kMaxInputSize = std::int64_t{1} << 31;

// The argument that names standard input (as IN) or standard output (as OUT).
inline constexpr std::string_view kStandardStream = "-";

// A command-line name (UTF-8) as the library takes it (UTF-16), and as a
// path: never through the ANSI code page, so that every name works.
std::u16string toolName(std::string_view utf8);
std::filesystem::path toolPath(std::string_view utf8);
// A library string (UTF-16) as the tool prints it.
std::string toolUtf8(std::u16string_view text);

// The whole content of the regular file `p` (`arg` is its name as the
// messages show it); nothing, with a one-line reason in `error`, when it is
// missing, not a regular file, unreadable, or kMaxInputSize bytes or more.
std::optional<Bytes> readFile(const std::filesystem::path& p, std::string_view arg, std::string& error);

// The whole content of the file `arg` names, or of standard input for "-";
// nothing, with a one-line reason in `error`, when it is missing, unreadable,
// or kMaxInputSize bytes or more.
std::optional<Bytes> readInput(std::string_view arg, ToolContext& context, std::string& error);

// Writes `size` bytes to the file `arg` names, replacing it as the library's
// saves do, or to standard output for "-". On failure leaves an existing
// file as it was, sets `error` and returns false.
bool writeOutput(std::string_view arg, const void* data, std::size_t size, ToolContext& context, std::string& error);

// The bytes that `save` writes to the file it is given, a file of the
// temporary folder that is removed again; nothing when it returns false.
std::optional<Bytes> bytesSavedBy(const std::function<bool(const char16_t* name)>& save);

// The bytes octSave writes for `record` with `flag` (0: level file, 1: BMP),
// by way of a file of the temporary folder that is removed again; nothing
// when the save fails.
std::optional<Bytes> savedBytes(OctImage* record, std::int64_t flag);

}  // namespace oct::tool
