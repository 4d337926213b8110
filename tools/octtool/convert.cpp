// octtool convert IN OUT: a picture or level file in, a level file, BMP or
// PNG out, through the library's exports exactly as a host program uses
// them (the PNG is written from octHandle's bitmap, as a host would). With
// -o DIR, many inputs at once (convert_many.cpp).
#include "convert.h"

#include <string>

#include "commands.h"
#include "file_io.h"
#include "oct.h"
#include "picture_file.h"
#include "reason.h"

namespace oct::tool {
namespace {

constexpr std::string_view kName = kConvertName;

// A file through octLoad; standard input through octCatch.
OctImage* load(std::string_view in, ToolContext& context, std::string& error) {
    if (in != kStandardStream) return octLoad(toolName(in).c_str());
    const auto data = readInput(in, context, error);
    return data ? octCatch(data->data(), static_cast<std::int64_t>(data->size())) : nullptr;
}

// A file through octSave, or the PNG writer for a PNG; standard output gets
// the bytes octSave writes (a level file: "-" has no extension).
bool save(OctImage* record, std::string_view out, ConvertOut kind, ToolContext& context, std::string& error) {
    if (out == kStandardStream) {
        const auto bytes = savedBytes(record, 0);
        return bytes && writeOutput(out, bytes->data(), bytes->size(), context, error);
    }
    if (kind == ConvertOut::Png) return toolSaveRebuiltPng(record, toolName(out).c_str());
    return octSave(record, toolName(out).c_str(), kind == ConvertOut::Bmp ? 1 : 0) == 1;
}

int runConvert(CommandArgs args, ToolContext& context) {
    if (convertIsManyForm(args)) return convertMany(args, context);
    if (args.size() != 2) return toolFail(context, kName, "expected IN OUT (see octtool help convert)", kExitUsage);
    const std::string_view in = args[0], out = args[1];

    std::string error;
    OctImage* record = load(in, context, error);
    if (!record) return toolFail(context, kName, error.empty() ? convertReadFailure(in) : error);
    const ConvertOut kind = out == kStandardStream ? ConvertOut::Levels : convertOutFor(out);
    const bool saved = save(record, out, kind, context, error);
    octFree(record);
    if (!saved) {
        if (!error.empty()) return toolFail(context, kName, error);
        return toolFail(context, kName, convertWriteFailure(out));
    }
    return kExitOk;
}

}  // namespace

ConvertOut convertOutFor(std::string_view out) {
    const std::string tail = out.size() >= 4 ? convertFoldCase(out.substr(out.size() - 4)) : std::string();
    return tail == ".bmp" ? ConvertOut::Bmp : tail == ".png" ? ConvertOut::Png : ConvertOut::Levels;
}

std::string convertFoldCase(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return folded;
}

std::string convertReadFailure(std::string_view in) { return toolCannotRead(in, "as a picture or a level file"); }

std::string convertWriteFailure(std::string_view out) { return toolCannotWrite(out, ""); }

std::string convertFile(std::string_view in, std::string_view out, ConvertOut kind) {
    OctImage* record = octLoad(toolName(in).c_str());
    if (!record) return convertReadFailure(in);
    const std::u16string name = toolName(out);
    const bool saved = kind == ConvertOut::Png ? toolSaveRebuiltPng(record, name.c_str())
                                               : octSave(record, name.c_str(), kind == ConvertOut::Bmp ? 1 : 0) == 1;
    octFree(record);
    return saved ? std::string() : convertWriteFailure(out);
}

const Command kConvertCommand{
    .name = kName,
    .summary = "convert a picture or level file to a level file, BMP or PNG",
    .usage = "usage: octtool convert IN OUT\n"
             "       octtool convert [-j N] [--bmp | --png] [--skip-existing] -o DIR IN...\n"
             "\n"
             "Reads IN — a picture (BMP, PNG, JPEG, GIF, TIFF, WebP, HEIF, AVIF or JPEG XL)\n"
             "or a level file — and reduces it to 8 gray levels (and 8 alpha levels for\n"
             "pictures with alpha).\n"
             "When OUT ends in .bmp, writes the bitmap rebuilt from the levels as a BMP\n"
             "(24 bits, or 32 with alpha); when it ends in .png, the same pixels as a PNG\n"
             "(indexed: 4 bits a pixel for the 8 levels); otherwise the level file.\n"
             "An existing OUT is replaced only when the new file is complete; a read-only\n"
             "OUT is refused.\n"
             "A symbolic link is written through to its file and stays a link; a\n"
             "device or FIFO is written in place.\n"
             "\n"
             "IN may be - for standard input, and OUT - for standard output (a level file).\n"
             "\n"
             "With -o DIR, converts every IN into the folder DIR, which must exist:\n"
             "DIR/STEM.oct (the level file), DIR/STEM.bmp with --bmp or DIR/STEM.png\n"
             "with --png, where STEM is the name of IN without its last extension.\n"
             "Two inputs with the same STEM (letter case aside, so that every file\n"
             "system keeps both) are refused before any work, and so is - among the\n"
             "inputs. N threads convert at once,\n"
             "one picture each (default: one per processor; at most 64). A picture that\n"
             "fails gets one line on standard error and the others are still converted;\n"
             "the exit code is 1 when any failed. On a terminal a bar shows the pictures\n"
             "done. -- ends the options, for inputs whose names start with -.\n"
             "A batch killed part-way leaves in DIR only whole outputs; the next run\n"
             "removes the temporary files the killed one left, and with\n"
             "--skip-existing converts only the inputs whose output is missing, so\n"
             "running it again finishes the batch.\n",
    .run = runConvert,
};

}  // namespace oct::tool
