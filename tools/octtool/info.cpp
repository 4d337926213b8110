// octtool info FILE: what a file holds, as the library reads it.
#include <string>

#include "commands.h"
#include "file_io.h"
#include "oct.h"

namespace oct::tool {
namespace {

constexpr std::string_view kName = "info";

// The kind of file from its first bytes. The library itself asks the icon
// reader, then the BMP decoder, and takes anything else as a level file.
std::string kindOf(const Bytes& data) {
    const auto n = data.size();
    if (n >= 2 && data[0] == 'B' && data[1] == 'M') return "BMP picture";
    if (n >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 1 && data[3] == 0) return "icon";
    if (n >= 4 && data[0] == 'O' && data[1] == 'C' && data[2] == 'T' && data[3] == 'L') return "level file";
    return "unknown";
}

int runInfo(CommandArgs args, ToolContext& context) {
    if (args.size() != 1) return toolFail(context, kName, "expected FILE (see octtool help info)", kExitUsage);
    const std::string_view arg = args[0];
    std::string error;
    const auto data = readInput(arg, context, error);
    if (!data) return toolFail(context, kName, error);

    // The same bytes octLoad would read from the file.
    OctImage* record = octCatch(data->data(), static_cast<std::int64_t>(data->size()));
    if (!record) {
        const std::string what = arg == kStandardStream ? "standard input" : "'" + std::string(arg) + "'";
        return toolFail(context, kName, what + " is neither a picture nor a level file");
    }
    const std::int64_t width = octWidth(record), height = octHeight(record), alpha = octAlpha(record);
    const std::string kind = kindOf(*data);

    // The payload: a level file's bytes after its 22-byte header; for a
    // picture, what saving it as a level file would store.
    std::int64_t payload = -1;
    if (kind == "level file") {
        payload = static_cast<std::int64_t>(data->size()) - 22;
    } else if (const auto saved = savedBytes(record, 0)) {
        payload = static_cast<std::int64_t>(saved->size()) - 22;
    }
    octFree(record);

    context.out << "kind:    " << kind << '\n'
                << "width:   " << width << '\n'
                << "height:  " << height << '\n'
                << "alpha:   " << alpha << '\n'
                << "levels:  " << width * height << " bytes\n";
    if (payload >= 0)
        context.out << "payload: " << payload << " bytes\n";
    else
        context.out << "payload: none (too small or incompressible to make a level file)\n";
    return kExitOk;
}

}  // namespace

const Command kInfoCommand{
    .name = kName,
    .summary = "show what a picture or level file holds",
    .usage = "usage: octtool info FILE\n"
             "\n"
             "Loads FILE as the library does (a BMP picture, else a level file) and prints\n"
             "its kind, width, height, alpha flag, the size of its level buffer, and the\n"
             "size of its packed payload (what a level file of it stores after its header).\n"
             "FILE may be - for standard input.\n",
    .run = runInfo,
};

}  // namespace oct::tool
