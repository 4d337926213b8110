#include "draw_script.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "bmp_file.h"
#include "draw/image_draw.h"
#include "draw/primitives.h"
#include "draw/session.h"
#include "draw/text.h"
#include "file_io.h"
#include "platform/fail_reason.h"
#include "platform/fonts.h"
#include "reason.h"
#include "image/icon_reader.h"
#include "image/font.h"
#include "image/formats.h"
#include "image/image.h"
#include "image/loader.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "platform/utf8.h"

namespace oct::tool {
namespace {

using Args = std::vector<ScriptArg>;

std::int32_t i32(const Args& a, std::size_t k) { return static_cast<std::int32_t>(a[k].number); }
std::uint32_t u32(const Args& a, std::size_t k) { return static_cast<std::uint32_t>(a[k].number); }

// ---------------------------------------------------------------------------
// The commands. Shapes take coordinates relative to the current drawing area;
// plot takes output coordinates, as drwPlot does.
// ---------------------------------------------------------------------------

bool runMode(DrawContext&, ScriptRun&, const Args& a, std::string&) {
    drwSetMode(u32(a, 0));
    return true;
}
bool runFront(DrawContext& c, ScriptRun&, const Args& a, std::string&) {
    c.ops.setFrontColor(c, u32(a, 0));
    return true;
}
bool runBack(DrawContext& c, ScriptRun&, const Args& a, std::string&) {
    c.ops.setBackColor(c, u32(a, 0));
    return true;
}
bool runPlot(DrawContext&, ScriptRun&, const Args& a, std::string&) {
    drwPlot(i32(a, 0), i32(a, 1), u32(a, 2));
    return true;
}
bool runBox(DrawContext& c, ScriptRun&, const Args& a, std::string&) {
    c.ops.box(c, i32(a, 0), i32(a, 1), i32(a, 2), i32(a, 3));
    return true;
}
bool runLine(DrawContext& c, ScriptRun&, const Args& a, std::string&) {
    c.ops.line(c, i32(a, 0), i32(a, 1), i32(a, 2), i32(a, 3));
    return true;
}
bool runEllipse(DrawContext& c, ScriptRun&, const Args& a, std::string&) {
    c.ops.ellipse(c, i32(a, 0), i32(a, 1), i32(a, 2), i32(a, 3));
    return true;
}
bool runRoundBox(DrawContext& c, ScriptRun&, const Args& a, std::string&) {
    c.ops.roundBox(c, i32(a, 0), i32(a, 1), i32(a, 2), i32(a, 3), i32(a, 4), i32(a, 5));
    return true;
}
bool runClip(DrawContext& c, ScriptRun&, const Args& a, std::string&) {
    c.ops.clip(c, i32(a, 0), i32(a, 1), i32(a, 2), i32(a, 3));
    return true;
}
bool runUnclip(DrawContext& c, ScriptRun&, const Args&, std::string&) {
    c.ops.unclip(c);
    return true;
}
bool runFill(DrawContext& c, ScriptRun&, const Args& a, std::string& error) {
    // A point outside the area fills nothing, and is no mistake of the script.
    if (drwFill(c, i32(a, 0), i32(a, 1), u32(a, 2)) == FillResult::NoMemory) {
        error = "no memory for the fill";
        return false;
    }
    return true;
}

// A drawing source made from a file, freed at the end of the step: an icon
// handle, or an image holding a BMP file's stored rows.
class Source {
public:
    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() {
        if (image) imgFreeImage(image);
        else if (handle) plat::objectDelete(handle);
    }
    plat::Handle handle = 0;
    std::int64_t image = 0;  // owns `handle` when set
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
    // PNG, JPEG, GIF, TIFF and WebP pictures as the library loads them.
    const std::uint32_t format = imgSniffFormat(*bytes);
    if (format && format != kBmpFormat) {
        plat::failBegin();
        source.image = imgLoadImageMemory(AnyId, bytes->data(), static_cast<std::int64_t>(bytes->size()));
        if (!source.image) error = toolCannotRead(shown, std::string("as a ") + imgFormatName(format) + " picture");
        source.handle = source.image ? imgImageHandle(source.image) : 0;
        return source.image != 0;
    }
    StoredBmp stored;
    source.image = imgLoadStoredBmp(AnyId, bytes->data(), static_cast<std::int64_t>(bytes->size()), stored);
    if (!source.image) {
        error = stored.refusal == StoredBmpRefusal::kNone ? "no memory for the picture of '" + shown + "'"
                                                           : "cannot read '" + shown + "': " + toolStoredBmpReason(stored);
        return false;
    }
    source.handle = imgImageHandle(source.image);
    return true;
}

bool runImage(DrawContext& c, ScriptRun&, const Args& a, std::string& error) {
    Source source;
    if (!loadSource(a[4].file, source, error)) return false;
    if (drwBlitHandle(c, source.handle, i32(a, 0), i32(a, 1), -1, -1, i32(a, 2), a[3].number != 0)) return true;
    error = "cannot draw '" + toolUtf8(a[4].file.u16string()) + "': no memory for its conversion";
    return false;
}
// What the session's drawImageSized does, with its failure seen.
bool runImageSized(DrawContext& c, ScriptRun&, const Args& a, std::string& error) {
    Source source;
    if (!loadSource(a[4].file, source, error)) return false;
    if (drwBlitHandle(c, source.handle, i32(a, 0), i32(a, 1), i32(a, 2), i32(a, 3), 255, false)) return true;
    error = "cannot draw '" + toolUtf8(a[4].file.u16string()) + "': no memory for its conversion";
    return false;
}

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

constexpr std::size_t kMaxFaceUnits = 31;     // a face name and its terminator fill 32 units
constexpr std::int64_t kMaxFontHeight = 2000;  // pixels: far beyond any picture's text

std::u16string faceOf(std::string_view word) {
    std::u16string face(utf16LengthOf(word), u'\0');
    utf16Encode(word, face.data());
    for (char16_t& ch : face)
        if (ch == u'_') ch = u' ';
    return face;
}

std::string checkFont(const Args& a) {
    if (a[0].word == "-") {
        if (a[1].given) return "font - takes nothing more";
        return {};
    }
    if (!a[1].given) return "font takes FACE HEIGHT [WEIGHT [ITALIC]], or - for the stock font";
    if (a[1].number < -kMaxFontHeight || a[1].number > kMaxFontHeight)
        return "HEIGHT must be -" + std::to_string(kMaxFontHeight) + " to " + std::to_string(kMaxFontHeight);
    if (a[2].given && (a[2].number < 100 || a[2].number > 900)) return "WEIGHT must be 100 to 900";
    if (faceOf(a[0].word).size() > kMaxFaceUnits) return "the face name is longer than 31 characters";
    return {};
}

bool runFont(DrawContext& c, ScriptRun& run, const Args& a, std::string& error) {
    if (a[0].word == "-") {
        if (c.ops.setFont(c, -1) == 1) return true;
        error = "cannot select the stock font";
        return false;
    }
    plat::LogFont lf{};
    lf.height = i32(a, 1);
    lf.weight = a[2].given ? i32(a, 2) : plat::kFontWeightNormal;
    lf.italic = a[3].given && a[3].number != 0;
    lf.charSet = plat::kFontDefaultCharSet;
    lf.quality = plat::kFontAntialiasedQuality;  // the same coverage in all three bytes
    const std::u16string face = faceOf(a[0].word);
    std::copy(face.begin(), face.end(), lf.faceName);
    const std::int64_t id = fntCreateFont(AnyId, lf);
    if (!id) {
        error = "cannot make the font " + a[0].word;
        return false;
    }
    if (!run.keepFont(id)) {
        fntFreeFont(id);
        error = "out of memory";
        return false;
    }
    if (c.ops.setFont(c, static_cast<std::int64_t>(fntFontHandle(id))) == 1) return true;
    error = "cannot select the font " + a[0].word;
    return false;
}

// The lines of a text, each drawn one line height below the one before.
template <typename DrawLine>
void eachLine(const std::u16string& text, DrawLine draw) {
    std::size_t start = 0;
    for (std::int32_t k = 0;; ++k) {
        const std::size_t end = std::min(text.find(u'\n', start), text.size());
        draw(k, std::u16string(text, start, end - start));
        if (end == text.size()) return;
        start = end + 1;
    }
}

// A line that has a width but comes back undrawn (drawText gives x) met a
// failure: no raster, or the system's text output failed.
bool runText(DrawContext& c, ScriptRun&, const Args& a, std::string& error) {
    const std::int64_t lineHeight = c.ops.textHeight(c, u"Hg");
    bool drawn = true;
    eachLine(a[2].text, [&](std::int32_t k, const std::u16string& line) {
        const std::int64_t y = std::int64_t{i32(a, 1)} + k * lineHeight;
        if (y < INT32_MIN || y > INT32_MAX) return;
        const std::int32_t x = i32(a, 0);
        if (c.ops.drawText(c, x, static_cast<std::int32_t>(y), line.c_str()) == x && c.ops.textWidth(c, line.c_str()) > 0)
            drawn = false;
    });
    if (!drawn) error = "cannot draw the text";
    return drawn;
}

bool runTextAngle(DrawContext& c, ScriptRun&, const Args& a, std::string& error) {
    const float angle = static_cast<float>(a[2].real);
    const double r = a[2].real * 3.14159265358979323846 / 180.0;
    const double lineHeight = static_cast<double>(c.ops.textHeight(c, u"Hg"));
    // Later lines move down the turned text, perpendicular to its baseline.
    // The session's drawTextAngle, with its failure seen.
    bool drawn = true;
    eachLine(a[3].text, [&](std::int32_t k, const std::u16string& line) {
        const double x = i32(a, 0) + std::sin(r) * lineHeight * k;
        const double y = i32(a, 1) + std::cos(r) * lineHeight * k;
        if (x >= INT32_MIN && x <= INT32_MAX && y >= INT32_MIN && y <= INT32_MAX &&
            !drwDrawTextTurned(c, static_cast<std::int32_t>(std::lround(x)), static_cast<std::int32_t>(std::lround(y)),
                               line.c_str(), angle))
            drawn = false;
    });
    if (!drawn) error = "cannot draw the turned text";
    return drawn;
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
     "a picture or .ico file at its own size; OPACITY 0..255, FLAG 1 blends by its alpha", runImage},
    {"imagesized", "iiiif", "X Y W H FILE", "a picture or .ico file scaled to W x H (-1 keeps that side)",
     runImageSized},
    {"font", "w?iib", "FACE HEIGHT [WEIGHT [ITALIC]]",
     "select a font (see Text below); font - selects the stock font again",
     runFont, checkFont},
    {"text", "iit", "X Y TEXT", "text in the front colour; the background in the back colour unless the mode has 0x1",
     runText},
    {"textangle", "iirt", "X Y ANGLE TEXT", "text turned ANGLE degrees counter-clockwise about (X, Y); no background",
     runTextAngle},
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

// A decimal number with an optional sign and fraction: "30", "-22.5".
std::optional<double> parseDecimal(std::string_view t) {
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    const std::size_t point = t.find('.');
    const std::string_view whole = t.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view() : t.substr(point + 1);
    if (whole.empty() || whole.size() > 9 || fraction.size() > 9 || (point != std::string_view::npos && fraction.empty()))
        return std::nullopt;
    double v = 0, scale = 1;
    for (char ch : whole) {
        if (ch < '0' || ch > '9') return std::nullopt;
        v = v * 10 + (ch - '0');
    }
    double f = 0;
    for (char ch : fraction) {
        if (ch < '0' || ch > '9') return std::nullopt;
        f = f * 10 + (ch - '0');
        scale *= 10;
    }
    v += f / scale;
    return negative ? -v : v;
}

// A text with \n made a line break and \\ a backslash; nothing for any
// other backslash.
std::optional<std::string> unescape(std::string_view t) {
    std::string out;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] != '\\') {
            out += t[i];
            continue;
        }
        if (++i == t.size()) return std::nullopt;
        if (t[i] == 'n') out += '\n';
        else if (t[i] == '\\') out += '\\';
        else return std::nullopt;
    }
    return out;
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

// ---------------------------------------------------------------------------
// Arguments: one parser per kind letter of the command table. Each takes its
// token (for a text, the rest of the line) and fills `arg`, or sets `error`
// and returns false.
// ---------------------------------------------------------------------------

using ArgParser = bool (*)(std::string_view token, const std::filesystem::path& folder, ScriptArg& arg,
                           std::string& error);

// A number of parseNumber's form inside [low, high].
bool parseNumberIn(std::string_view token, std::int64_t low, std::int64_t high, ScriptArg& arg, std::string& error) {
    const auto v = parseNumber(token);
    if (!v) {
        error = "bad number " + shown(token) + " (decimal or 0x-hex, below 2^32)";
        return false;
    }
    if (*v < low || *v > high) {
        error = "number " + shown(token) + " out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")";
        return false;
    }
    arg.number = *v;
    return true;
}

bool parseInt32Arg(std::string_view token, const std::filesystem::path&, ScriptArg& arg, std::string& error) {
    return parseNumberIn(token, INT32_MIN, INT32_MAX, arg, error);
}

// Any number parseNumber reads; a negative one is taken modulo 2^32.
bool parseColourArg(std::string_view token, const std::filesystem::path&, ScriptArg& arg, std::string& error) {
    if (!parseNumberIn(token, -0xFFFFFFFFll, 0xFFFFFFFFll, arg, error)) return false;
    arg.number = static_cast<std::int64_t>(static_cast<std::uint32_t>(arg.number));
    return true;
}

bool parseOpacityArg(std::string_view token, const std::filesystem::path&, ScriptArg& arg, std::string& error) {
    return parseNumberIn(token, 0, 255, arg, error);
}

bool parseFlagArg(std::string_view token, const std::filesystem::path&, ScriptArg& arg, std::string& error) {
    return parseNumberIn(token, 0, 1, arg, error);
}

bool parseRealArg(std::string_view token, const std::filesystem::path&, ScriptArg& arg, std::string& error) {
    const auto v = parseDecimal(token);
    if (!v) {
        error = "bad number " + shown(token) + " (decimal, with an optional fraction)";
        return false;
    }
    arg.real = *v;
    return true;
}

bool parseWordArg(std::string_view token, const std::filesystem::path&, ScriptArg& arg, std::string&) {
    arg.word = std::string(token);
    return true;
}

bool parseFileArg(std::string_view token, const std::filesystem::path& folder, ScriptArg& arg, std::string&) {
    arg.file = folder / toolPath(token);
    return true;
}

bool parseTextArg(std::string_view token, const std::filesystem::path&, ScriptArg& arg, std::string& error) {
    const auto decoded = unescape(token);
    if (!decoded) {
        error = "bad escape in the text: only \\n and \\\\ are known";
        return false;
    }
    arg.text.assign(utf16LengthOf(*decoded), u'\0');
    utf16Encode(*decoded, arg.text.data());
    return true;
}

// The kind letters of ScriptCommand::kinds and their parsers.
struct ArgKind {
    char letter;
    ArgParser parse;
};
constexpr ArgKind kArgKinds[] = {
    {'i', parseInt32Arg}, {'c', parseColourArg}, {'a', parseOpacityArg}, {'b', parseFlagArg},
    {'r', parseRealArg},  {'w', parseWordArg},   {'f', parseFileArg},    {'t', parseTextArg},
};

constexpr ArgParser parserOf(char letter) {
    for (const ArgKind& k : kArgKinds)
        if (k.letter == letter) return k.parse;
    return nullptr;
}

// Every letter of the command table has a parser, '?' aside, and a text
// comes last: it takes the rest of the line.
constexpr bool kindsAreKnown() {
    for (const ScriptCommand& c : kCommands)
        for (std::size_t k = 0; k < c.kinds.size(); ++k)
            if ((c.kinds[k] != '?' && !parserOf(c.kinds[k])) || (c.kinds[k] == 't' && k + 1 != c.kinds.size()))
                return false;
    return true;
}
static_assert(kindsAreKnown());

// The rest of `line` after the word `before` and one space, without a
// final carriage return.
std::string_view restAfter(std::string_view line, std::string_view before) {
    const std::size_t from = static_cast<std::size_t>(before.data() + before.size() - line.data()) + 1;
    std::string_view rest = line.substr(std::min(from, line.size()));
    if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
    return rest;
}

// One line's step from its words (the command and its arguments), or
// nothing with `error` set.
std::optional<ScriptStep> parseStep(std::string_view line, const std::vector<std::string_view>& words,
                                    const std::filesystem::path& folder, std::string& error) {
    const ScriptCommand* command = findCommand(words[0]);
    if (!command) {
        error = "unknown command " + shown(words[0]) + " (see octtool help draw)";
        return std::nullopt;
    }
    std::string letters(command->kinds);
    const std::size_t optional = letters.find('?');
    if (optional != std::string::npos) letters.erase(optional, 1);
    const std::size_t required = optional == std::string::npos ? letters.size() : optional;
    const bool endsInText = !letters.empty() && letters.back() == 't';
    const std::size_t given = words.size() - 1;
    // A text takes the rest of the line, whatever its words.
    const bool countOk = endsInText ? given >= letters.size() - 1 : given >= required && given <= letters.size();
    if (!countOk) {
        error = std::string(command->name) + " takes " +
                (command->kinds.empty() ? std::string("no arguments") : std::string(command->synopsis));
        return std::nullopt;
    }
    ScriptStep step{command, {}, 0};
    for (std::size_t k = 0; k < letters.size(); ++k) {
        const bool text = letters[k] == 't';
        ScriptArg arg;
        arg.given = text || k < given;
        if (arg.given && !parserOf(letters[k])(text ? restAfter(line, words[k]) : words[k + 1], folder, arg, error))
            return std::nullopt;
        step.args.push_back(std::move(arg));
    }
    if (command->check) {
        error = command->check(step.args);
        if (!error.empty()) return std::nullopt;
    }
    return step;
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
        auto step = parseStep(line, words, folder, error.message);
        if (!step) return std::nullopt;
        step->line = lineNumber;
        steps.push_back(std::move(*step));
    }
    error = {};
    return steps;
}

ScriptRun::~ScriptRun() {
    for (std::int64_t id : fonts_) fntFreeFont(id);
}

bool ScriptRun::keepFont(std::int64_t id) {
    try {
        fonts_.push_back(id);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool runDrawScript(const std::vector<ScriptStep>& steps, DrawContext& c, ScriptRun& run, ScriptError& error) {
    for (const ScriptStep& step : steps) {
        std::string message;
        // A step's strings and buffers may fail to allocate: the step fails
        // like any other, so that the caller still ends its session and
        // frees its picture. (The message fits the string without allocating.)
        bool done;
        try {
            done = step.command->run(c, run, step.args, message);
        } catch (const std::bad_alloc&) {
            message = "out of memory";
            done = false;
        }
        if (!done) {
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
        try {
            error = {0, "no memory for a picture of " + std::to_string(width) + " x " + std::to_string(height)};
        } catch (const std::bad_alloc&) {
            error = {0, "out of memory"};
        }
        return 0;
    }
    std::memset(bm.bits, 0, static_cast<std::size_t>(bm.widthBytes) * static_cast<std::size_t>(bm.height));
    DrawContext* c = drwImageOutput(image);
    if (!c || !drwBegin(c)) {
        imgFreeImage(image);
        try {
            error = {0, "cannot open a drawing session on the picture"};
        } catch (const std::bad_alloc&) {
            error = {0, "out of memory"};
        }
        return 0;
    }
    bool ok = false;
    {
        // The fonts the script made outlive the session that selects them.
        ScriptRun run;
        ok = runDrawScript(steps, *c, run, error);
        drwEnd();
    }
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
