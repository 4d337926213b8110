// octtool resize WIDTHxHEIGHT IN OUT.bmp: a picture's pixels, alpha included
// (a 24- or 32-bit BMP file's as stored, any other picture's as the library
// loads it), scaled with the library's cubic resampler and written as a
// 32-bit BMP file.
#include <charconv>
#include <optional>
#include <string>
#include <vector>

#include "bmp_file.h"
#include "picture_file.h"
#include "commands.h"
#include "file_io.h"
#include "image/formats.h"
#include "platform/fail_reason.h"
#include "reason.h"
#include "image/image.h"
#include "image/loader.h"
#include "image/resample.h"
#include "platform/bitmaps.h"
#include "progress.h"

namespace oct::tool {
namespace {

constexpr std::string_view kName = "resize";

struct Size {
    std::int32_t width, height;
};

std::optional<std::int32_t> parseSide(std::string_view text) {
    std::int32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v <= 0) return std::nullopt;
    return v;
}

std::optional<Size> parseSize(std::string_view text) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos) return std::nullopt;
    const auto w = parseSide(text.substr(0, x));
    const auto h = parseSide(text.substr(x + 1));
    if (!w || !h) return std::nullopt;
    return Size{*w, *h};
}

// The picture as packed 32-bit rows, bottom row first: a 24-bit picture
// gains alpha 255, a 32-bit one keeps its fourth byte.
std::vector<std::uint8_t> packed32(const StoredBmp& p) {
    const std::size_t w = static_cast<std::size_t>(p.width);
    std::vector<std::uint8_t> out(w * 4 * static_cast<std::size_t>(p.height));
    if (p.bitsPerPixel == 32) {
        imgCopyStoredBmpRows(p, out.data(), static_cast<std::int64_t>(w * 4));  // 32-bit rows have no fill bytes
        return out;
    }
    const auto rowBytes = static_cast<std::size_t>(p.rowBytes);
    std::vector<std::uint8_t> rows(rowBytes * static_cast<std::size_t>(p.height));
    imgCopyStoredBmpRows(p, rows.data(), p.rowBytes);
    for (std::int32_t y = 0; y < p.height; ++y) {
        const std::uint8_t* s = rows.data() + rowBytes * y;
        std::uint8_t* d = out.data() + w * 4 * y;
        for (std::size_t x = 0; x < w; ++x, s += 3, d += 4) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            d[3] = 255;
        }
    }
    return out;
}

// A picture that is not a BMP file, loaded as the library loads it; its
// bitmap's rows stand in for stored ones (bottom row first). The image must
// be freed by the caller; 0 when the data does not load.
std::int64_t loadPicture(const Bytes& data, StoredBmp& picture) {
    const std::int64_t image = imgLoadImageMemory(AnyId, data.data(), static_cast<std::int64_t>(data.size()));
    const ImageObject* record = imgGetImage(image);
    plat::BitmapDesc bm{};
    if (!record || !plat::bitmapIsDibSection(record->handle) || !plat::bitmapDescribe(record->handle, bm) ||
        !bm.bits) {
        if (image) imgFreeImage(image);
        return 0;
    }
    picture.refusal = StoredBmpRefusal::kNone;
    picture.width = bm.width;
    picture.height = bm.height;
    picture.bitsPerPixel = bm.bitsPerPixel;
    picture.rowBytes = bm.widthBytes;
    picture.topDown = false;
    picture.rows = {static_cast<const std::uint8_t*>(bm.bits),
                    static_cast<std::size_t>(bm.widthBytes) * static_cast<std::size_t>(bm.height)};
    return image;
}

// Frees a loaded picture's image when the command ends.
struct LoadedImage {
    std::int64_t id = 0;
    ~LoadedImage() {
        if (id) imgFreeImage(id);
    }
};

int runResize(CommandArgs args, ToolContext& context) {
    if (args.size() != 3) return toolFail(context, kName, "expected WIDTHxHEIGHT IN OUT (see octtool help resize)", kExitUsage);
    const std::optional<Size> size = parseSize(args[0]);
    if (!size) return toolFail(context, kName, "the size must be WIDTHxHEIGHT, both positive, e.g. 640x480", kExitUsage);

    std::string error;
    const auto data = readInput(args[1], context, error);
    if (!data) return toolFail(context, kName, error);
    StoredBmp picture;
    LoadedImage loaded;
    const std::uint32_t format = imgSniffFormat(*data);
    if (format && format != kBmpFormat) {
        plat::failBegin();
        loaded.id = loadPicture(*data, picture);
        if (!loaded.id)
            return toolFail(context, kName,
                            toolCannotRead(args[1], std::string("as a ") + imgFormatName(format) + " picture"));
    } else if (!imgFindStoredBmpRows(*data, picture)) {
        return toolFail(context, kName, "cannot read '" + std::string(args[1]) + "': " + toolStoredBmpReason(picture));
    }

    const std::int64_t outBytes = std::int64_t{size->width} * size->height * 4;
    if (outBytes > kMaxInputSize - kBmpHeadersSize)
        return toolFail(context, kName, "the resized picture would be 2 GiB or larger");
    const bool showProgress =
        context.errIsTerminal && std::max<std::int64_t>(outBytes, static_cast<std::int64_t>(data->size())) >=
                                     context.progressThreshold;
    std::optional<ProgressBar> bar;
    if (showProgress) bar.emplace(context.err, 3);
    const auto step = [&](int done) {
        if (bar) ProgressBar::callback()(done, 0);
    };

    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> resized;
    try {
        pixels = packed32(picture);
        step(1);
        resized.resize(static_cast<std::size_t>(outBytes));
    } catch (const std::bad_alloc&) {
        return toolFail(context, kName, "not enough memory for the picture");
    }
    if (!imgResample(pixels.data(), picture.width, picture.height, resized.data(), size->width, size->height, 32))
        return toolFail(context, kName, "not enough memory to resize the picture");
    step(2);
    if (!toolWritePicture(args[2], resized.data(), size->width, size->height, size->width * 4, 32, context, error))
        return toolFail(context, kName, error.empty() ? "not enough memory to write the picture" : error);
    step(3);
    return kExitOk;
}

}  // namespace

const Command kResizeCommand{
    .name = kName,
    .summary = "scale a picture with the cubic filter, alpha included",
    .usage = "usage: octtool resize WIDTHxHEIGHT IN OUT\n"
             "\n"
             "Reads the pixels of IN: a PNG, JPEG, GIF (its first frame), TIFF, WebP, HEIF,\n"
             "AVIF or JPEG XL picture as the library loads it (upright, alpha where it has\n"
             "alpha), or a BMP file as stored: a 32-bit BMP file (uncompressed, or with the\n"
             "usual red, green and blue bit fields) with its fourth byte as alpha whatever\n"
             "the header says of it, or a 24-bit BMP file taken as opaque.\n"
             "Scales them to WIDTH x HEIGHT, enlarging or shrinking, with a cubic filter\n"
             "(Mitchell-Netravali, B = C = 1/3) applied to blue, green, red and alpha\n"
             "alike, and writes OUT as a 32-bit BMP file: a 54-byte header, then the rows\n"
             "bottom-up, alpha included. The bytes are the same on every platform.\n"
             "When OUT ends in .png it is a PNG of the same pixels instead (RGBA, or\n"
             "indexed when they have at most 256 colours).\n"
             "\n"
             "An existing OUT is replaced only when the new file is complete.\n"
             "IN may be - for standard input, and OUT - for standard output.\n",
    .run = runResize,
};

}  // namespace oct::tool
