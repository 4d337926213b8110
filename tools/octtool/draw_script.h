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

// One argument as parsed: a number, an angle, a word, a text (escapes
// resolved), or for a file argument the path it names, already joined to
// the script's folder. `given` is false for an optional argument left out.
struct ScriptArg {
    std::int64_t number = 0;
    double real = 0;
    std::string word;
    std::u16string text;
    std::filesystem::path file;
    bool given = true;
};

// What a running script keeps until its session has ended: the fonts it made.
class ScriptRun {
public:
    ScriptRun() = default;
    ScriptRun(const ScriptRun&) = delete;
    ScriptRun& operator=(const ScriptRun&) = delete;
    ~ScriptRun();
    // Keeps a font to free with the run; false, keeping nothing, when there
    // is no memory for that.
    [[nodiscard]] bool keepFont(std::int64_t id);

private:
    std::vector<std::int64_t> fonts_;
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
    // 0..255, 'b' a flag 0 or 1, 'r' a decimal number with an optional
    // fraction, 'w' a word, 'f' a file name (one word, relative to the
    // script's folder), 't' a text: the rest of the line after one space,
    // with the escapes \n and \\. Letters after a '?' may be left out.
    // Each letter has one parser in draw_script.cpp (kArgKinds); a text comes last.
    std::string_view kinds;
    std::string_view synopsis;  // the arguments as the help names them: "X Y W H"
    std::string_view meaning;   // one line for the help
    // Runs the step on the current session `c`; false with a message on failure.
    bool (*run)(DrawContext& c, ScriptRun& run, const std::vector<ScriptArg>& args, std::string& error);
    // Checks the parsed arguments beyond their kinds: a message, or empty.
    std::string (*check)(const std::vector<ScriptArg>& args) = nullptr;
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
// failing step's line and message. `run` must outlive the session.
bool runDrawScript(const std::vector<ScriptStep>& steps, DrawContext& c, ScriptRun& run, ScriptError& error);

// A new blank image of width × height pixels and `depth` bits (24 or 32),
// every byte 0, with the steps run on a drawing session of its own: the
// image's id (free it with imgFreeImage), or 0 with `error` set (line 0 when
// the image or the session could not be made).
std::int64_t drawScriptImage(const std::vector<ScriptStep>& steps, std::int32_t width, std::int32_t height,
                             std::int32_t depth, ScriptError& error);

// The language, as `octtool help draw` lists it.
std::string drawScriptHelp();

}  // namespace oct::tool
