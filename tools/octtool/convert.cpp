// octtool convert IN OUT: a picture or level file in, a level file or BMP out,
// through the library's exports exactly as a host program uses them.
#include <filesystem>
#include <string>

#include "commands.h"
#include "oct.h"

namespace oct::tool {
namespace {

constexpr std::string_view kName = "convert";

bool endsWithBmp(std::string_view path) {
    if (path.size() < 4) return false;
    std::string tail(path.substr(path.size() - 4));
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".bmp";
}

int runConvert(CommandArgs args, ToolContext& context) {
    if (args.size() != 2) return toolFail(context, kName, "expected IN OUT (see octtool help convert)", kExitUsage);
    const std::u16string in = std::filesystem::path(std::string(args[0])).u16string();
    const std::u16string out = std::filesystem::path(std::string(args[1])).u16string();

    OctImage* record = octLoad(in.c_str());
    if (!record)
        return toolFail(context, kName,
                        "cannot read '" + std::string(args[0]) + "' as a picture or a level file");
    const bool bitmap = endsWithBmp(args[1]);
    const bool saved = octSave(record, out.c_str(), bitmap ? 1 : 0) == 1;
    octFree(record);
    if (!saved) {
        const std::string causes = bitmap ? ")"
                                          : "; pictures of 28 pixels or fewer, or levels that do not compress, "
                                            "make no level file)";
        return toolFail(context, kName,
                        "cannot write '" + std::string(args[1]) +
                            "' (a read-only file or a folder there, or no such folder" + causes);
    }
    return kExitOk;
}

}  // namespace

const Command kConvertCommand{
    .name = kName,
    .summary = "convert a picture or level file to a level file or BMP",
    .usage = "usage: octtool convert IN OUT\n"
             "\n"
             "Reads IN — a BMP picture of 1 to 32 bits per pixel, or a level file —\n"
             "and reduces it to 8 gray levels (and 8 alpha levels for 32-bit pictures).\n"
             "When OUT ends in .bmp, writes the bitmap rebuilt from the levels (24 bits,\n"
             "or 32 with alpha); otherwise writes the level file. An existing OUT is\n"
             "replaced only when the new file is complete; a read-only OUT is refused.\n"
             "A symbolic link is written through to its file and stays a link; a\n"
             "device or FIFO is written in place.\n",
    .run = runConvert,
};

}  // namespace oct::tool
