// The command table, help, and the choice of command.
#include <algorithm>
#include <new>
#include <optional>
#include <string>

#include "commands.h"
#include "oct.h"
#include "tool.h"

namespace oct::tool {
namespace {

// Every command, in the order the help lists them.
constexpr const Command* kCommands[] = {&kConvertCommand, &kInfoCommand,   &kBmpCommand,     &kDrawCommand,
                                        &kResizeCommand,  &kPackCommand,   &kUnpackCommand,  &kArchiveCommand};

const Command* findCommand(std::string_view name) {
    for (const Command* c : kCommands)
        if (c->name == name) return c;
    return nullptr;
}

bool isHelpFlag(std::string_view arg) { return arg == "--help" || arg == "-h"; }

void printVersion(std::ostream& s) {
    s << "octtool " OCT_VERSION_STRING " (library interface version " << octVersion() << ")\n";
}

void printOverview(std::ostream& s) {
    s << "usage: octtool COMMAND [ARGS]\n\ncommands:\n";
    std::size_t width = 4;  // "help"
    for (const Command* c : kCommands) width = std::max(width, c->name.size());
    for (const Command* c : kCommands)
        s << "  " << c->name << std::string(width - c->name.size() + 2, ' ') << c->summary << '\n';
    s << "  help" << std::string(width - 4 + 2, ' ') << "show this list, or a command's help: octtool help COMMAND\n";
    s << "\noptions:\n  --help     show this list\n  --version  show the version\n";
}

}  // namespace

namespace {
std::optional<std::int32_t> parseLevel(std::string_view text) {
    const auto level = toolNumber(text);
    if (!level || *level < 0 || *level > 9) return std::nullopt;
    return level;
}
}  // namespace

int toolTakeLevel(CommandArgs args, std::string_view command, ToolContext& context, std::int32_t& level,
                  std::vector<std::string_view>& rest) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--level") {
            rest.push_back(args[i]);
            continue;
        }
        if (i + 1 == args.size()) return toolFail(context, command, "--level needs a number 0 to 9", kExitUsage);
        const auto parsed = parseLevel(args[++i]);
        if (!parsed) return toolFail(context, command, "level must be a number 0 to 9", kExitUsage);
        level = *parsed;
    }
    return kExitOk;
}

std::string toolMessage(std::string_view command, std::string_view message) {
    std::string line = "octtool";
    if (!command.empty()) line.append(" ").append(command);
    return line.append(": ").append(message).append("\n");
}

int toolFail(ToolContext& context, std::string_view command, std::string_view message, int code) {
    context.err << toolMessage(command, message);
    return code;
}

namespace {

void printUsage(const Command& c, std::ostream& s) {
    if (c.makeUsage) s << c.makeUsage();
    else s << c.usage;
}

int runCommandLine(CommandArgs args, ToolContext& context) {
    if (args.empty()) {
        printOverview(context.err);
        return kExitUsage;
    }
    const std::string_view name = args[0];
    if (name == "--version") {
        printVersion(context.out);
        return kExitOk;
    }
    if (isHelpFlag(name) || name == "help") {
        if (args.size() == 1) {
            printOverview(context.out);
            return kExitOk;
        }
        const Command* c = findCommand(args[1]);
        if (!c) return toolFail(context, "help", "no command named '" + std::string(args[1]) + "'", kExitUsage);
        printUsage(*c, context.out);
        return kExitOk;
    }
    const Command* c = findCommand(name);
    if (!c) return toolFail(context, "", "unknown command '" + std::string(name) + "' (try octtool --help)", kExitUsage);
    const CommandArgs rest = args.subspan(1);
    if (std::any_of(rest.begin(), rest.end(), isHelpFlag)) {
        printUsage(*c, context.out);
        return kExitOk;
    }
    return c->run(rest, context);
}

}  // namespace

int toolRun(CommandArgs args, ToolContext& context) {
    try {
        return runCommandLine(args, context);
    } catch (const std::bad_alloc&) {
        // The command's objects are gone by now (their destructors discard
        // unfinished saves); what is left is to say so, without allocating.
        const std::string_view name = args.empty() ? std::string_view() : args[0];
        context.err << "octtool";
        if (findCommand(name)) context.err << ' ' << name;
        context.err << ": out of memory\n";
        return kExitFailure;
    }
}

}  // namespace oct::tool
