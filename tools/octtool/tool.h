// octtool: the command-line tool over the library. Each command lives in its
// own file and is listed once in dispatch.cpp.
#pragma once

#include <charconv>
#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace oct::tool {

// Where a command reports, and what it may assume about the reader.
struct ToolContext {
    std::ostream& out;  // results meant for a pipe
    std::ostream& err;  // one-line failure messages, help on misuse, progress
    std::istream* in = nullptr;  // standard input, for "-" as IN; null: not available
    bool errIsTerminal = false;                          // a progress bar may be drawn on `err`
    std::int64_t progressThreshold = std::int64_t{64} << 20;  // inputs at least this large show progress
};

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the work failed: file, data or memory
inline constexpr int kExitUsage = 2;    // the command line was wrong

using CommandArgs = std::span<const std::string_view>;

struct Command {
    std::string_view name;
    std::string_view summary;  // one line for the command list
    std::string_view usage;    // the full help of `octtool help NAME`
    int (*run)(CommandArgs args, ToolContext& context);  // args after the command name
    // A help made from tables at the time it is asked for, instead of `usage`:
    // nothing is built before main, where a failed allocation could not be
    // reported. May throw std::bad_alloc, like any command.
    std::string (*makeUsage)() = nullptr;
};

// Runs a whole command line without the program name, e.g. {"pack", "a", "b"}.
// The runtime must be started. Returns the exit code. Memory running out in a
// command ends it with "octtool COMMAND: out of memory" and exit code 1; its
// saves are discarded as for any other failure.
int toolRun(CommandArgs args, ToolContext& context);

// A whole argument read as a decimal 32-bit number; nothing for anything else.
inline std::optional<std::int32_t> toolNumber(std::string_view text) {
    std::int32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

// Takes "--level N" (N a compression level, 0 to 9) out of `args` into `level` and the other arguments into
// `rest`. 0, or the exit code of a misuse after its one-line message.
int toolTakeLevel(CommandArgs args, std::string_view command, ToolContext& context, std::int32_t& level,
                  std::vector<std::string_view>& rest);

// A failure as one line, newline included: "octtool NAME: MESSAGE\n".
std::string toolMessage(std::string_view command, std::string_view message);

// Reports a failure as one line on `err`: "octtool NAME: MESSAGE".
int toolFail(ToolContext& context, std::string_view command, std::string_view message,
             int code = kExitFailure);

}  // namespace oct::tool
