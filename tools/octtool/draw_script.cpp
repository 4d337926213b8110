#include "draw_script.h"

#include <algorithm>
#include <cstring>

#include "draw/image_draw.h"
#include "draw/session.h"
#include "file_io.h"
#include "image/icon_reader.h"
#include "image/image.h"
#include "platform/platform.h"
#include "raw_bmp.h"

namespace oct::tool {
namespace {

using Args = std::vector<ScriptArg>;

std::int32_t i32(const Args& a, std::size_t k) { return static_cast<std::int32_t>(a[k].number); }
std::uint32_t u32(const Args& a, std::size_t k) { return static_cast<std::uint32_t>(a[k].number); }

// ---------------------------------------------------------------------------
// The commands. Shapes take coordinates relative to the current drawing area;
// plot takes output coordinates, as drwPlot does.
// ---------------------------------------------------------------------------

bool runMode(DrawContext&, const Args& a, std::string&) {
    drwSetMode(u32(a, 0));
    return true;
}
bool runFront(DrawContext& c, const Args& a, std::string&) {
    c.ops.setFrontColor(c, u32(a, 0));
    return true;
}
bool runBack(DrawContext& c, const Args& a, std::string&) {
    c.ops.setBackColor(c, u32(a, 0));
    return true;
}
bool runPlot(DrawContext&, const Args& a, std::string&) {
    drwPlot(i32(a, 0), i32(a, 1), u32(a, 2));
    return true;
}
bool runBox(DrawContext& c, const Args& a, std::string&) {
    c.ops.box(c, i32(a, 0), i32(a, 1), i32(a, 2), i32(a, 3));
    return true;
}
bool runLine(DrawContext& c, const Args& a, std::string&) {
    c.ops.line(c, i32(a, 0), i32(a, 1), i32(a, 2), i32(a, 3));
    return true;
}
bool runEllipse(DrawContext& c, const Args& a, std::string&) {
    c.ops.ellipse(c, i32(a, 0), i32(a, 1), i32(a, 2), i32(a, 3));
    return true;
}
bool runRoundBox(DrawContext& c, const Args& a, std::string&) {
    c.ops.roundBox(c, i32(a, 0), i32(a, 1), i32(a, 2), i32(a, 3), i32(a, 4), i32(a, 5));
    return true;
}
bool runClip(DrawContext& c, const Args& a, std::string&) {
    c.ops.clip(c, i32(a, 0), i32(a, 1), i32(a, 2), i32(a, 3));
    return true;
}
bool runUnclip(DrawContext& c, const Args&, std::string&) {
    c.ops.unclip(c);
    return true;
}
bool runFill(DrawContext& c, const Args& a, std::string& error) {
    if (c.ops.fill(c, i32(a, 0), i32(a, 1), u32(a, 2)) == 0 && i32(a, 0) >= 0 && i32(a, 1) >= 0 &&
        i32(a, 0) < c.width && i32(a, 1) < c.height) {
        error = "no memory for the fill";
        return false;
    }
    return true;
}

// A drawing source made from a file, deleted at the end of the step.
class Source {
public:
    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() {
        if (handle) plat::objectDelete(handle);
    }
    plat::Handle handle = 0;
};

bool isIconName(const std::filesystem::path& p) {
    std::u16string ext = p.extension().u16string();
    for (char16_t& ch : ext)
        if (ch >= u'A' && ch <= u'Z') ch = static_cast<char16_t>(ch - u'A' + u'a');
    return ext == u".ico";
}

// The source of an image command: for a .ico file an icon built by the
// library's icon reader; otherwise a bottom-up DIB section holding the BMP
// file's pixel rows exactly as stored, the fourth byte of a 32-bit file
// included (the library's BMP decoder would give 24 bits).
bool loadSource(const std::filesystem::path& p, Source& source, std::string& error) {
    const std::string shown = toolUtf8(p.u16string());
    const auto bytes = readFile(p, shown, error);
    if (!bytes) return false;
    if (isIconName(p)) {
        source.handle = imgIconFromMemory(bytes->data(), bytes->size());
        if (!source.handle) error = "cannot read '" + shown + "': not an icon file the library can read";
        return source.handle != 0;
    }
    const auto picture = readRawBmp(*bytes, error);
    if (!picture) {
        error = "cannot read '" + shown + "': " + error;
        return false;
    }
    source.handle = imgCreateDIBSection(picture->width, picture->height, picture->bitsPerPixel);
    plat::BitmapDesc bm{};
    if (!source.handle || !plat::bitmapDescribe(source.handle, bm) || !bm.bits ||
        bm.bitsPerPixel != picture->bitsPerPixel) {
        error = "no memory for the picture of '" + shown + "'";
        return false;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(imgRowBytes(picture->width, picture->bitsPerPixel));
    for (std::int32_t row = 0; row < picture->height; ++row)
        std::memcpy(static_cast<std::uint8_t*>(bm.bits) + static_cast<std::size_t>(row) * bm.widthBytes,
                    picture->rows.data() + static_cast<std::size_t>(row) * rowBytes, rowBytes);
    return true;
}

bool runImage(DrawContext& c, const Args& a, std::string& error) {
    Source source;
    if (!loadSource(a[4].file, source, error)) return false;
    drwBlitHandle(c, source.handle, i32(a, 0), i32(a, 1), -1, -1, i32(a, 2), a[3].number != 0);
    return true;
}
bool runImageSized(DrawContext& c, const Args& a, std::string& error) {
    Source source;
    if (!loadSource(a[4].file, source, error)) return false;
    c.ops.drawImageSized(c, source.handle, i32(a, 0), i32(a, 1), i32(a, 2), i32(a, 3));
    return true;
}

constexpr ScriptCommand kCommands[] = {
    {"mode", "c", "M", "drawing mode M (the bits are listed below)", runMode},
    {"front", "c", "0xAABBGGRR", "front colour, which the shapes draw with", runFront},
    {"back", "c", "0xAABBGGRR", "back colour", runBack},
    {"plot", "iic", "X Y 0xAABBGGRR", "one pixel in that colour, at output coordinates", runPlot},
    {"box", "iiii", "X Y W H", "rectangle, outlined when the mode has 0x4", runBox},
    {"line", "iiii", "X1 Y1 X2 Y2", "line, both ends included", runLine},
    {"ellipse", "iiii", "X Y RX RY", "ellipse about (X, Y), outlined when the mode has 0x4", runEllipse},
    {"roundbox", "iiiiii", "X Y W H RX RY", "rectangle with rounded corners, outlined when the mode has 0x4",
     runRoundBox},
    {"clip", "iiii", "X Y W H", "narrow the drawing area to a rectangle of the whole output", runClip},
    {"unclip", "", "", "the whole output again", runUnclip},
    {"fill", "iic", "X Y BORDER", "flood fill: BORDER -1 fills the start pixel's colour, else up to 0x00BBGGRR",
     runFill},
    {"image", "iiabf", "X Y OPACITY FLAG FILE",
     "a BMP or .ico file at its own size; OPACITY 0..255, FLAG 1 blends by its alpha", runImage},
    {"imagesized", "iiiif", "X Y W H FILE", "a BMP or .ico file scaled to W x H (-1 keeps that side)",
     runImageSized},
};

const ScriptCommand* findCommand(std::string_view name) {
    for (const ScriptCommand& c : kCommands)
        if (c.name == name) return &c;
    return nullptr;
}

bool isSpace(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\v' || ch == '\f'; }

// The tokens of a line, up to a token that starts with '#'.
std::vector<std::string_view> tokens(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isSpace(line[i])) ++i;
        if (i == line.size() || line[i] == '#') break;
        const std::size_t start = i;
        while (i < line.size() && !isSpace(line[i])) ++i;
        out.push_back(line.substr(start, i - start));
    }
    return out;
}

// A decimal or 0x-hex number with an optional sign, of magnitude below 2^32.
std::optional<std::int64_t> parseNumber(std::string_view t) {
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    }
    if (t.empty()) return std::nullopt;
    std::int64_t v = 0;
    for (char ch : t) {
        int d = -1;
        if (ch >= '0' && ch <= '9') d = ch - '0';
        else if (base == 16 && ch >= 'a' && ch <= 'f') d = ch - 'a' + 10;
        else if (base == 16 && ch >= 'A' && ch <= 'F') d = ch - 'A' + 10;
        if (d < 0) return std::nullopt;
        v = v * base + d;
        if (v > 0xFFFFFFFFll) return std::nullopt;
    }
    return negative ? -v : v;
}

// What a token shows in a message: short, and printable.
std::string shown(std::string_view t) {
    std::string s;
    for (char ch : t.substr(0, 40)) s += (ch >= 0x20 && ch < 0x7F) ? ch : '?';
    if (t.size() > 40) s += "...";
    return "'" + s + "'";
}

std::string usageOf(const ScriptCommand& c) {
    return std::string(c.name) + (c.synopsis.empty() ? "" : " ") + std::string(c.synopsis);
}

}  // namespace

std::span<const ScriptCommand> drawScriptCommands() { return kCommands; }

std::optional<std::vector<ScriptStep>> parseDrawScript(std::string_view text, ScriptError& error,
                                                       const std::filesystem::path& folder) {
    std::vector<ScriptStep> steps;
    std::int32_t lineNumber = 0;
    while (!text.empty() || lineNumber == 0) {
        ++lineNumber;
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const auto words = tokens(line);
        if (words.empty()) continue;
        error.line = lineNumber;
        const ScriptCommand* command = findCommand(words[0]);
        if (!command) {
            error.message = "unknown command " + shown(words[0]) + " (see octtool help draw)";
            return std::nullopt;
        }
        if (words.size() - 1 != command->kinds.size()) {
            error.message = std::string(command->name) + " takes " +
                            (command->kinds.empty() ? std::string("no arguments") : std::string(command->synopsis));
            return std::nullopt;
        }
        ScriptStep step{command, {}, lineNumber};
        for (std::size_t k = 0; k < command->kinds.size(); ++k) {
            const std::string_view word = words[k + 1];
            const char kind = command->kinds[k];
            ScriptArg arg;
            if (kind == 'f') {
                arg.file = folder / toolPath(word);
                step.args.push_back(std::move(arg));
                continue;
            }
            const auto v = parseNumber(word);
            if (!v) {
                error.message = "bad number " + shown(word) + " (decimal or 0x-hex, below 2^32)";
                return std::nullopt;
            }
            if (kind == 'c') {
                arg.number = static_cast<std::int64_t>(static_cast<std::uint32_t>(*v));  // modulo 2^32
            } else {
                const std::int64_t low = kind == 'i' ? INT32_MIN : 0;
                const std::int64_t high = kind == 'i' ? INT32_MAX : kind == 'a' ? 255 : 1;
                if (*v < low || *v > high) {
                    error.message = "number " + shown(word) + " out of range (" + std::to_string(low) + " to " +
                                    std::to_string(high) + ")";
                    return std::nullopt;
                }
                arg.number = *v;
            }
            step.args.push_back(std::move(arg));
        }
        steps.push_back(std::move(step));
    }
    error = {};
    return steps;
}

bool runDrawScript(const std::vector<ScriptStep>& steps, DrawContext& c, ScriptError& error) {
    for (const ScriptStep& step : steps) {
        std::string message;
        if (!step.command->run(c, step.args, message)) {
            error = {step.line, std::move(message)};
            return false;
        }
    }
    return true;
}

std::int64_t drawScriptImage(const std::vector<ScriptStep>& steps, std::int32_t width, std::int32_t height,
                             std::int32_t depth, ScriptError& error) {
    // On 32 bits −1 is transparent black: every byte 0.
    const std::int64_t image = imgCreateImage(AnyId, width, height, depth, depth == 32 ? 0xFFFFFFFFu : 0);
    plat::BitmapDesc bm{};
    if (!image || !plat::bitmapDescribe(imgImageHandle(image), bm) || !bm.bits) {
        if (image) imgFreeImage(image);
        error = {0, "no memory for a picture of " + std::to_string(width) + " x " + std::to_string(height)};
        return 0;
    }
    std::memset(bm.bits, 0, static_cast<std::size_t>(bm.widthBytes) * static_cast<std::size_t>(bm.height));
    DrawContext* c = drwImageOutput(image);
    if (!c || !drwBegin(c)) {
        imgFreeImage(image);
        error = {0, "cannot open a drawing session on the picture"};
        return 0;
    }
    const bool ok = runDrawScript(steps, *c, error);
    drwEnd();
    if (ok) return image;
    imgFreeImage(image);
    return 0;
}

std::string drawScriptHelp() {
    std::size_t width = 0;
    for (const ScriptCommand& c : kCommands) width = std::max(width, usageOf(c).size());
    std::string out;
    for (const ScriptCommand& c : kCommands) {
        const std::string u = usageOf(c);
        out += "  " + u + std::string(width - u.size() + 2, ' ') + std::string(c.meaning) + '\n';
    }
    return out;
}

}  // namespace oct::tool
