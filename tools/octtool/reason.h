// The one-line messages of a failed read or write, with the library's reason
// of the calling thread's last failure (platform/fail_reason.h) after the
// file's name: "cannot read 'trunc.jpg': damaged JPEG (premature end of JPEG
// file)".
#pragma once

#include <string>
#include <string_view>

namespace oct::tool {

// `what` is the file's name as the messages show it, or "-" for the
// standard stream. `fallback` says what is known where the library recorded
// no reason.
std::string toolCannotRead(std::string_view what, std::string_view fallback);
std::string toolCannotWrite(std::string_view what, std::string_view fallback);

// The library's reason, empty when it recorded none.
std::string toolReason();

}  // namespace oct::tool
