// octtool draw OUT WIDTH HEIGHT DEPTH SCRIPT: a blank picture drawn on by a
// drawing script (draw_script.h) and saved as a BMP file whose rows are the
// picture's memory exactly, alpha bytes included, or as a PNG of the same
// pixels when OUT ends in .png.
#include <optional>
#include <string>

#include "bmp_file.h"
#include "picture_file.h"
#include "commands.h"
#include "draw_script.h"
#include "file_io.h"
#include "platform/fail_reason.h"
#include "reason.h"
#include "image/image.h"
#include "platform/bitmaps.h"

namespace oct::tool {
namespace {

constexpr std::string_view kName = "draw";
constexpr std::int32_t kMaxSide = 32767;

// Saves the image's memory as it lies: a 54-byte header, then the rows
// (bottom-up, padded to 4 bytes, as the file stores them) in one write; or
// the same pixels as a PNG.
bool save(std::int64_t image, std::string_view out, ToolContext& context, std::string& error) {
    const ImageObject* record = imgGetImage(image);
    plat::BitmapDesc bm{};
    if (!record || !plat::bitmapDescribe(record->handle, bm)) return false;
    const auto* pixels = static_cast<const std::uint8_t*>(bm.bits);
    const std::int32_t depth = bm.bitsPerPixel;
    if (out != kStandardStream && toolPictureOut(out) == PictureOut::Bmp)
        return toolEncodeBmp(toolName(out).c_str(), pixels, bm.width, bm.height, bm.widthBytes, depth) == 1;
    return toolWritePicture(out, pixels, bm.width, bm.height, bm.widthBytes, depth, context, error);
}

int runDraw(CommandArgs args, ToolContext& context) {
    if (args.size() != 5) return toolFail(context, kName, "expected OUT WIDTH HEIGHT DEPTH SCRIPT (see octtool help draw)", kExitUsage);
    const std::string_view out = args[0], script = args[4];
    const auto width = toolNumber(args[1]), height = toolNumber(args[2]), depth = toolNumber(args[3]);
    if (!width || !height || *width < 1 || *height < 1 || *width > kMaxSide || *height > kMaxSide)
        return toolFail(context, kName, "WIDTH and HEIGHT must be numbers from 1 to 32767", kExitUsage);
    if (!depth || (*depth != 24 && *depth != 32)) return toolFail(context, kName, "DEPTH must be 24 or 32", kExitUsage);

    std::string error;
    const auto text = readInput(script, context, error);
    if (!text) return toolFail(context, kName, error);
    ScriptError mistake;
    // Image files are named relative to the script's folder (the current
    // folder for a script on standard input).
    const std::filesystem::path folder = script == kStandardStream ? std::filesystem::path() : toolPath(script).parent_path();
    const auto steps = parseDrawScript(std::string_view(reinterpret_cast<const char*>(text->data()), text->size()),
                                       mistake, folder);
    auto where = [&](const ScriptError& e) { return std::string(script) + ":" + std::to_string(e.line) + ": " + e.message; };
    if (!steps) return toolFail(context, kName, where(mistake), kExitUsage);

    const std::int64_t image = drawScriptImage(*steps, *width, *height, *depth, mistake);
    if (!image) return toolFail(context, kName, mistake.line ? where(mistake) : mistake.message);
    plat::failBegin();
    const bool saved = save(image, out, context, error);
    imgFreeImage(image);
    if (saved) return kExitOk;
    if (!error.empty()) return toolFail(context, kName, error);
    return toolFail(context, kName, toolCannotWrite(out, ""));
}

std::string usage() {
    return "usage: octtool draw OUT WIDTH HEIGHT DEPTH SCRIPT\n"
        "\n"
        "Makes a blank picture of WIDTH x HEIGHT pixels (1 to 32767) and DEPTH bits\n"
        "(24 or 32), every byte 0, runs the drawing script SCRIPT on it (a file, or -\n"
        "for standard input) and saves it to OUT as a BMP file of the same depth: a\n"
        "54-byte header, then the rows as they lie in memory, alpha bytes included.\n"
        "When OUT ends in .png it is a PNG of the same pixels instead (RGB or RGBA,\n"
        "or indexed when they have at most 256 colours).\n"
        "OUT may be - for standard output (a BMP).\n"
        "\n"
        "A script has one command per line; blank lines are skipped, and a word that\n"
        "starts with # begins a comment to the end of the line. Numbers are decimal or\n"
        "0x-hex with an optional sign. Colours are 0xAABBGGRR, red in the low byte; a\n"
        "negative colour is taken modulo 2^32. The shapes draw with the front colour\n"
        "and take coordinates in the current drawing area (the clip rectangle when\n"
        "one is set), (0, 0) at the top left; plot takes output coordinates.\n"
        "Image FILEs are one word, relative to the script's folder: a BMP file of 24\n"
        "or 32 bits, drawn from its rows exactly as stored (alpha bytes included), a\n"
        "PNG, JPEG, GIF (first frame), TIFF, WebP, HEIF, AVIF or JPEG XL picture as\n"
        "the library loads it, or an icon file (.ico).\n"
        "\n" +
        drawScriptHelp() +
        "\n"
        "Text: TEXT runs to the end of the line after one space, # included; \\n breaks\n"
        "the line and \\\\ is a backslash. FACE is one word, _ standing for a space;\n"
        "HEIGHT below 0 is the character height in pixels, above 0 the cell height.\n"
        "WEIGHT is 100 to 900 (400 normal, 700 bold), ITALIC 0 or 1. text paints the\n"
        "back colour behind the glyphs unless the mode has 0x1; turned text never does.\n"
        "\n"
        "Mode bits: 0x1 text without background, 0x2 exclusive-or, 0x4 outlined\n"
        "shapes, 0x8 alpha byte only, 0x10 blend, 0x20 blend keeping the target's\n"
        "alpha, 0x40 gradient colouring, 0x80 filter, 0x100 write all four bytes;\n"
        "0 copies the colour.\n"
        "\n"
        "An unknown command or a bad number exits with 2 and SCRIPT:LINE: message,\n"
        "before anything is drawn; an image file that cannot be read or a failed save\n"
        "exits with 1.\n";
}

}  // namespace

const Command kDrawCommand{
    .name = kName,
    .summary = "draw on a blank picture with a drawing script and save it as a BMP or PNG file",
    .usage = {},
    .run = runDraw,
    .makeUsage = usage,
};

}  // namespace oct::tool
