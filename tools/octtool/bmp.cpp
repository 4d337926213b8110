// octtool bmp [--depth D] [--dither] IN OUT: a picture saved again as a BMP
// file through the library's image saving, at any depth the BMP encoder
// writes — palette files of 1, 4 and 8 bits included.
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "encode/encoder.h"
#include "encode/palette.h"
#include "file_io.h"
#include "platform/fail_reason.h"
#include "reason.h"
#include "image/image.h"
#include "image/loader.h"
#include "runtime/object_table.h"

namespace oct::tool {
namespace {

constexpr std::string_view kName = "bmp";
constexpr std::int32_t kDefaultFlags = 7;  // the encoder's default; only bit 0x100 matters to it

bool writtenDepth(std::int32_t depth) {
    return depth == 1 || depth == 4 || depth == 8 || depth == 24 || depth == 32;
}

struct Options {
    std::int32_t depth = kSourceDepth;
    std::int32_t flags = kDefaultFlags;
    std::vector<std::string_view> files;
};

// The options, or an exit code for a wrong command line (already reported).
std::optional<Options> parse(CommandArgs args, ToolContext& context, int& code) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--dither") {
            o.flags = kPaletteDither;
        } else if (args[i] == "--depth") {
            const auto parsed = i + 1 < args.size() ? toolNumber(args[++i]) : std::nullopt;
            if (!parsed) {
                code = toolFail(context, kName, "--depth needs a number: 1, 4, 8, 24 or 32", kExitUsage);
                return std::nullopt;
            }
            o.depth = *parsed;
        } else {
            o.files.push_back(args[i]);
        }
    }
    if (o.files.size() != 2) {
        code = toolFail(context, kName, "expected IN OUT (see octtool help bmp)", kExitUsage);
        return std::nullopt;
    }
    return o;
}

// Saves the image to OUT, or to standard output by way of a temporary file.
bool save(std::int64_t image, std::string_view out, const Options& o, ToolContext& context, std::string& error) {
    auto saveTo = [&](const char16_t* name) { return imgSave(image, name, kBmpFormat, {.flags = o.flags, .depth = o.depth}) == 1; };
    if (out != kStandardStream) return saveTo(toolName(out).c_str());
    const auto bytes = bytesSavedBy(saveTo);
    return bytes && writeOutput(out, bytes->data(), bytes->size(), context, error);
}

int runBmp(CommandArgs args, ToolContext& context) {
    int code = kExitOk;
    const std::optional<Options> o = parse(args, context, code);
    if (!o) return code;
    const std::string_view in = o->files[0], out = o->files[1];
    const std::string inName = in == kStandardStream ? "standard input" : "'" + std::string(in) + "'";

    std::string error;
    const auto data = readInput(in, context, error);
    if (!data) return toolFail(context, kName, error);
    plat::failBegin();
    const std::int64_t image = imgLoadImageMemory(AnyId, data->data(), static_cast<std::int64_t>(data->size()));
    const ImageObject* record = imgGetImage(image);
    if (!record || record->format == kIconFormat) {
        if (record) imgFreeImage(image);
        if (record) plat::failSet(plat::FailCode::UnknownFormat, "an icon, not a picture");
        return toolFail(context, kName, toolCannotRead(in, "as a BMP picture"));
    }
    plat::failBegin();
    const std::int32_t depth = o->depth == kSourceDepth ? record->sourceDepth : o->depth;
    const bool saved = writtenDepth(depth) && save(image, out, *o, context, error);
    imgFreeImage(image);
    if (saved) return kExitOk;
    if (!error.empty()) return toolFail(context, kName, error);
    if (!writtenDepth(depth)) {
        const std::string bits = std::to_string(depth) + " bits per pixel";
        if (o->depth == kSourceDepth)
            return toolFail(context, kName,
                            inName + " has " + bits + ", which BMP files are not written at: give --depth 1, 4, 8, 24 or 32");
        return toolFail(context, kName, "cannot write " + bits + ": the depth must be 1, 4, 8, 24 or 32");
    }
    return toolFail(context, kName, toolCannotWrite(out, ""));
}

}  // namespace

const Command kBmpCommand{
    .name = kName,
    .summary = "save a picture as a BMP file of 1, 4, 8, 24 or 32 bits",
    .usage = "usage: octtool bmp [--depth 1|4|8|24|32] [--dither] IN OUT.bmp\n"
             "\n"
             "Loads the BMP picture IN and writes it to OUT as an uncompressed BMP file of\n"
             "the given depth. Without --depth, the depth of IN is kept (an 8-bit picture\n"
             "stays 8-bit); a depth that BMP files are not written at (such as 16) fails.\n"
             "\n"
             "  1      black and white: white where the luminance is above 160\n"
             "  4, 8   a palette of 16 or 256 colours learnt from the picture, each pixel\n"
             "         the nearest palette colour\n"
             "  24     blue, green, red\n"
             "  32     blue, green, red and a 0 byte\n"
             "\n"
             "--dither spreads each pixel's colour error over its neighbours at depths 4\n"
             "and 8 (error diffusion); depth 1 never dithers. An existing OUT is replaced\n"
             "only when the new file is complete; a failed save leaves no file.\n"
             "IN may be - for standard input, and OUT - for standard output.\n",
    .run = runBmp,
};

}  // namespace oct::tool
