// octtool info FILE: what a file holds, as the library reads it.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "commands.h"
#include "oct.h"

namespace oct::tool {
namespace {

constexpr std::string_view kName = "info";

// The kind of file from its first bytes. The library itself asks the icon
// reader, then the BMP decoder, and takes anything else as a level file.
std::string kindOf(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    unsigned char head[4] = {};
    in.read(reinterpret_cast<char*>(head), 4);
    if (in.gcount() >= 2 && head[0] == 'B' && head[1] == 'M') return "BMP picture";
    if (in.gcount() == 4 && head[0] == 0 && head[1] == 0 && head[2] == 1 && head[3] == 0) return "icon";
    if (in.gcount() == 4 && head[0] == 'O' && head[1] == 'C' && head[2] == 'T' && head[3] == 'L') return "level file";
    return "unknown";
}

int runInfo(CommandArgs args, ToolContext& context) {
    if (args.size() != 1) return toolFail(context, kName, "expected FILE (see octtool help info)", kExitUsage);
    const std::filesystem::path path{std::string(args[0])};
    std::error_code ec;
    const auto fileSize = std::filesystem::file_size(path, ec);
    if (ec) return toolFail(context, kName, "cannot read '" + std::string(args[0]) + "'");

    OctImage* record = octLoad(path.u16string().c_str());
    if (!record) return toolFail(context, kName, "'" + std::string(args[0]) + "' is neither a picture nor a level file");
    const std::int64_t width = octWidth(record), height = octHeight(record), alpha = octAlpha(record);
    const std::string kind = kindOf(path);

    // The payload: a level file's bytes after its 22-byte header; for a
    // picture, what saving it as a level file would store.
    std::int64_t payload = -1;
    if (kind == "level file") {
        payload = static_cast<std::int64_t>(fileSize) - 22;
    } else {
        const auto temp = std::filesystem::temp_directory_path(ec) /
                          ("octtool-info-" + std::to_string(reinterpret_cast<std::uintptr_t>(record)) + ".oct");
        if (!ec && octSave(record, temp.u16string().c_str(), 0) == 1) {
            payload = static_cast<std::int64_t>(std::filesystem::file_size(temp, ec)) - 22;
            std::filesystem::remove(temp, ec);
        }
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
             "size of its packed payload (what a level file of it stores after its header).\n",
    .run = runInfo,
};

}  // namespace oct::tool
