// The drawing-script language of `octtool draw`: one command per line, each
// a row of the command table in draw_script.cpp. A script is parsed whole
// first, so a mistake anywhere draws nothing; then it runs on the thread's
// current drawing session.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "draw/context.h"

namespace oct::tool {

// One argument as parsed: a number, or for a file argument the path it
// names, already joined to the script's folder.
struct ScriptArg {
    std::int64_t number = 0;
    std::filesystem::path file;
};

struct ScriptCommand;

// One parsed line: its command, arguments and line number (from 1).
struct ScriptStep {
    const ScriptCommand* command;
    std::vector<ScriptArg> args;
    std::int32_t line;
};

struct ScriptCommand {
    std::string_view name;
    // One letter per argument: 'i' a signed 32-bit number, 'c' a 32-bit
    // colour or mode (a negative value taken modulo 2^32), 'a' an opacity
    // 0..255, 'b' a flag 0 or 1, 'f' a file name (one word, relative to the
    // script's folder).
    std::string_view kinds;
    std::string_view synopsis;  // the arguments as the help names them: "X Y W H"
    std::string_view meaning;   // one line for the help
    // Runs the step on the current session `c`; false with a message on failure.
    bool (*run)(DrawContext& c, const std::vector<ScriptArg>& args, std::string& error);
};

// Every command of the language, in the order the help lists them.
std::span<const ScriptCommand> drawScriptCommands();

// A parse failure: the line (from 1) and what is wrong there.
struct ScriptError {
    std::int32_t line = 0;
    std::string message;
};

// The steps of a script, or the first mistake in it. File arguments are
// taken relative to `folder` (the script's folder; empty for the current one).
std::optional<std::vector<ScriptStep>> parseDrawScript(std::string_view text, ScriptError& error,
                                                       const std::filesystem::path& folder = {});

// Runs the steps on `c`, the thread's current session; false with the
// failing step's line and message.
bool runDrawScript(const std::vector<ScriptStep>& steps, DrawContext& c, ScriptError& error);

// A new blank image of width × height pixels and `depth` bits (24 or 32),
// every byte 0, with the steps run on a drawing session of its own: the
// image's id (free it with imgFreeImage), or 0 with `error` set (line 0 when
// the image or the session could not be made).
std::int64_t drawScriptImage(const std::vector<ScriptStep>& steps, std::int32_t width, std::int32_t height,
                             std::int32_t depth, ScriptError& error);

// The language, as `octtool help draw` lists it.
std::string drawScriptHelp();

}  // namespace oct::tool
