// octtool info FILE: what a file holds, as the library reads it.
#include <bit>
#include <cstdio>
#include <string>

#include "commands.h"
#include "file_io.h"
#include "image/bmp_reader.h"
#include "image/formats.h"
#include "image/icon_reader.h"
#include "image/picture_decoders.h"
#include "oct.h"
#include "reason.h"

namespace oct::tool {
namespace {

constexpr std::string_view kName = "info";

// The kind of file from its first bytes. The library itself asks the icon
// reader, then the decoders (BMP, PNG, JPEG, GIF, TIFF, WebP), and takes
// anything else as a level file.
std::string kindOf(const Bytes& data) {
    const auto n = data.size();
    if (const char* name = imgFormatName(imgSniffFormat(data))) return std::string(name) + " picture";
    if (n >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 1 && data[3] == 0) return "icon";
    if (n >= 4 && data[0] == 'O' && data[1] == 'C' && data[2] == 'T' && data[3] == 'L') return "level file";
    return "unknown";
}

std::string hex32(std::uint32_t v) {
    char s[11];
    std::snprintf(s, sizeof s, "0x%08X", v);
    return s;
}

// A colour mask and how many bits it holds.
std::string mask(std::uint32_t v) { return hex32(v) + " (" + std::to_string(std::popcount(v)) + " bits)"; }

const char* compressionName(std::uint32_t compression) {
    switch (compression) {
        case 0: return "none";
        case 1: return "RLE8";
        case 2: return "RLE4";
        case 3: return "bit fields";
        case 4: return "JPEG";
        case 5: return "PNG";
        case 6: return "bit fields with alpha";
        default: return "unknown";
    }
}

// The headers of a BMP file and how the decoder reads its pixels: what makes
// a picture look the way it does.
void describeBmp(const BmpDescription& d, std::ostream& out) {
    out << "header:  " << d.headerSize << " bytes" << (d.headerSize == 12 ? " (core header)" : "") << '\n'
        << "bits:    " << d.bitCount << " per pixel, compression " << d.compression << " ("
        << compressionName(d.compression) << ")\n"
        << "rows:    " << (d.height < 0 ? "top row first" : "bottom row first") << '\n';
    if (d.bitFields && !d.masksInData) {
        out << "masks:   missing from the file\n";
    } else if (d.redMask | d.greenMask | d.blueMask || d.bitFields) {
        out << "masks:   red " << mask(d.redMask) << ", green " << mask(d.greenMask) << ", blue " << mask(d.blueMask)
            << (d.bitFields ? "; from the file\n" : "; fixed for this layout\n");
    }
    if (d.pixels) out << "pixels:  " << d.pixels << '\n';
}

const char* orientationWords(int orientation) {
    switch (orientation) {
        case 2: return "mirrored left to right";
        case 3: return "turned 180 degrees";
        case 4: return "mirrored top to bottom";
        case 5: return "mirrored across the main diagonal";
        case 6: return "turned 90 degrees clockwise";
        case 7: return "mirrored across the other diagonal";
        case 8: return "turned 90 degrees anticlockwise";
        default: return "none";
    }
}

// What the decoders make of a picture of the formats beyond BMP.
void describePicture(const PictureSummary& p, std::ostream& out) {
    out << "depth:   " << p.depth << " bits per pixel (" << p.sourceDepth << " as stored)\n"
        << "frames:  " << p.frameCount << (p.frameCount > 1 ? " (the conversion takes the first)" : "") << '\n'
        << "turned:  " << orientationWords(p.orientation);
    if (p.orientation > 1) out << " (orientation " << p.orientation << "), to stand upright";
    out << '\n';
}

// Why a picture whose format is known did not load: the library's reason.
std::string refusalOf(std::uint32_t format, const std::string& what) {
    const std::string name = imgFormatName(format);
    const std::string article = std::string("AEIOU").find(name[0]) != std::string::npos ? " is an " : " is a ";
    if (!imgHasCodec(format)) return what + article + name + " picture, which this system has no codec for";
    const std::string reason = toolReason();
    return what + article + name + " picture the library cannot read: " + (reason.empty() ? "damaged" : reason);
}

// An icon's directory and the entry the library would build its icon from.
int describeIcon(const Bytes& data, ToolContext& context, const std::string& what) {
    IconResource* chosen = imgReadIconDirectory(data.data(), data.size());
    if (!chosen) return toolFail(context, kName, what + " is not an icon file the library can read");
    const std::uint32_t entry = chosen->entry;
    imgFreeIconResource(chosen);
    context.out << "kind:    icon (the conversion exports refuse icons)\n";
    IconEntryInfo e{};
    for (std::uint32_t i = 0; imgIconEntryAt(data.data(), data.size(), i, e); ++i)
        context.out << "entry " << i << ": " << e.width << " x " << e.height << ", " << e.bitCount << "-bit, "
                    << e.bytes << " bytes at " << e.offset << (i == entry ? "  (chosen)" : "") << '\n';
    context.out << "chosen:  entry " << entry << " (the deepest of entry 0's size, the first on a tie)\n";
    return kExitOk;
}

int runInfo(CommandArgs args, ToolContext& context) {
    if (args.size() != 1) return toolFail(context, kName, "expected FILE (see octtool help info)", kExitUsage);
    const std::string_view arg = args[0];
    std::string error;
    const auto data = readInput(arg, context, error);
    if (!data) return toolFail(context, kName, error);
    const std::string what = arg == kStandardStream ? "standard input" : "'" + std::string(arg) + "'";
    const std::string kind = kindOf(*data);
    if (kind == "icon") return describeIcon(*data, context, what);

    BmpDescription bmp{};
    const bool isBmp = kind == "BMP picture" && imgBmpDescribe(*data, bmp);

    // The same bytes octLoad would read from the file.
    OctImage* record = octCatch(data->data(), static_cast<std::int64_t>(data->size()));
    if (!record) {
        if (isBmp && bmp.refusal) return toolFail(context, kName, what + " is a BMP file the library refuses: " + bmp.refusal);
        const std::uint32_t format = imgSniffFormat(*data);
        if (format && format != kBmpFormat) return toolFail(context, kName, refusalOf(format, what));
        return toolFail(context, kName, what + " is neither a picture nor a level file");
    }
    const std::int64_t width = octWidth(record), height = octHeight(record), alpha = octAlpha(record);

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
    if (isBmp) describeBmp(bmp, context.out);
    PictureSummary picture{};
    if (!isBmp && kind != "level file" && imgDescribePicture(*data, picture)) describePicture(picture, context.out);
    return kExitOk;
}

}  // namespace

const Command kInfoCommand{
    .name = kName,
    .summary = "show what a picture, icon or level file holds",
    .usage = "usage: octtool info FILE\n"
             "\n"
             "Loads FILE as the library does (a BMP, PNG, JPEG, GIF, TIFF, WebP, HEIF, AVIF\n"
             "or JPEG XL picture, else a level file) and prints its kind, width, height,\n"
             "alpha flag, the size of its level buffer, and the size of its packed payload\n"
             "(what a level file of it stores after its header). For the pictures other\n"
             "than BMP it also prints the depth it loads at and as stored, the number of\n"
             "frames, and how the picture was turned to stand upright (a JPEG's or TIFF's\n"
             "orientation tag).\n"
             "For a BMP picture it also prints the information header's size, the bit\n"
             "count, the compression, the colour masks of 16- and 32-bit pixels and how\n"
             "the pixels are read; for a BMP file the library refuses, why. For an icon\n"
             "it lists the directory's entries and the one the library builds its icon\n"
             "from.\n"
             "FILE may be - for standard input.\n",
    .run = runInfo,
};

}  // namespace oct::tool
