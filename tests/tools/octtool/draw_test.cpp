#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "draw_script.h"
#include "image/image.h"
#include "image/image_bytes.h"
#include "platform/fail_inject.h"
#include "test_files.h"
#include "tool.h"
#include "tools/octtool/tool_process.h"

namespace oct {
namespace {

using octtest::Bytes;

struct Result {
    int code;
    std::string out, err;
};

Result draw(std::vector<std::string> args, const std::string& input = {}) {
    std::ostringstream out, err;
    std::istringstream in(input);
    args.insert(args.begin(), "draw");
    std::vector<std::string_view> views(args.begin(), args.end());
    tool::ToolContext context{.out = out, .err = err, .in = &in};
    const int code = tool::toolRun(views, context);
    return {code, out.str(), err.str()};
}

// The example scripts: the same bytes on every platform, pinned here.
TEST(OctToolDraw, ExampleScriptsGiveTheSameBytesEverywhere) {
    struct Case {
        const char* script;
        const char* width;
        const char* height;
        const char* depth;
        std::uint64_t hash;
    };
    const Case cases[] = {
        {"shapes.draw", "200", "150", "24", 0xce9c26cba8f295d1ull},
        {"modes.draw", "160", "120", "32", 0x94d4da9bf250aa71ull},
        {"fill.draw", "120", "90", "24", 0x9c0a7cb649132560ull},
    };
    octtest::TempDir dir;
    for (const Case& k : cases) {
        const std::string out = dir.path("out.bmp").string();
        const std::string script = std::string(OCT_SAMPLES_DIR) + "/draw/" + k.script;
        const Result r = draw({out, k.width, k.height, k.depth, script});
        ASSERT_EQ(r.code, 0) << r.err;
        const Bytes bytes = octtest::readFile(out);
        const std::size_t row = (std::stoul(k.width) * (std::stoul(k.depth) / 8) + 3) / 4 * 4;
        EXPECT_EQ(bytes.size(), 54 + row * std::stoul(k.height)) << k.script;
        EXPECT_EQ(octtest::fingerprint(bytes), k.hash) << k.script << std::hex << " hash 0x" << octtest::fingerprint(bytes);
    }
}

// The showcase uses the platform's fonts, so only its run is checked: its
// image files are found beside the script, and its text draws.
TEST(OctToolDraw, TheShowcaseScriptRunsOnEveryPlatform) {
    const Result r = draw({"-", "320", "200", "24", std::string(OCT_SAMPLES_DIR) + "/draw/showcase.draw"});
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(r.out.size(), 54u + 960u * 200u);
    // Row 176 from the top: the stock-font line on its painted back (0xFF80E0FF).
    const std::string row = r.out.substr(54 + (199 - 176) * 960, 960);
    EXPECT_NE(row.find("\x80\xE0\xFF"), std::string::npos);
}

TEST(OctToolDraw, WritesTheRowsAsTheyLieInMemory) {
    // Bottom row first; alpha bytes as drawn; a stored front colour survives
    // the mode change that follows it.
    const Result r = draw({"-", "2", "2", "32", "-"},
                          "front 0x80FF0000\nmode 0x100\nbox 0 0 1 1\n"
                          "plot 1 1 0x11223344   # bottom right\n");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(r.out.size(), 54u + 16u);
    EXPECT_EQ(r.out.substr(0, 2), "BM");
    EXPECT_EQ(static_cast<std::uint8_t>(r.out[28]), 32);
    const std::string rows = r.out.substr(54);
    EXPECT_EQ(rows, std::string("\0\0\0\0\x22\x33\x44\x11\xFF\0\0\x80\0\0\0\0", 16));
    const Result mode = draw({"-", "1", "1", "24", "-"}, "front 0xFF0000FF\nmode 0\nbox 0 0 1 1\n");
    ASSERT_EQ(mode.code, 0);
    EXPECT_EQ(mode.out.substr(54), std::string("\0\0\xFF\0", 4));
}

TEST(OctToolDraw, MistakesInTheScriptNameTheirLine) {
    struct Case {
        const char* script;
        const char* message;
    };
    const Case cases[] = {
        {"box 0 0 1 1\n\n  boxx 1 2 3 4\n", "-:3: unknown command 'boxx'"},
        {"# only a comment\nbox 1 2 3\n", "-:2: box takes X Y W H"},
        {"unclip 1\n", "-:1: unclip takes no arguments"},
        {"line 0 0 1 0x\n", "-:1: bad number '0x'"},
        {"line 0 0 1 2#\n", "-:1: bad number '2#'"},
        {"box 0 0 0x80000000 1\n", "-:1: number '0x80000000' out of range"},
        {"front 0x100000000\n", "-:1: bad number '0x100000000'"},
        {"BOX 1 1 1 1\r\n", "-:1: unknown command 'BOX'"},
        {"font\n", "-:1: font takes FACE HEIGHT [WEIGHT [ITALIC]]"},
        {"font Serif\n", "-:1: font takes FACE HEIGHT [WEIGHT [ITALIC]], or - for the stock font"},
        {"font - 12\n", "-:1: font - takes nothing more"},
        {"font Serif 12 1000\n", "-:1: WEIGHT must be 100 to 900"},
        {"font Serif -2001\n", "-:1: HEIGHT must be -2000 to 2000"},
        {"font Serif 12 400 2\n", "-:1: number '2' out of range (0 to 1)"},
        {"font Serif 12 400 1 9\n", "-:1: font takes FACE HEIGHT [WEIGHT [ITALIC]]"},
        {"font A_very_long_face_name_of_32_chars 12\n", "-:1: the face name is longer than 31 characters"},
        {"text 0\n", "-:1: text takes X Y TEXT"},
        {"text 0 0 a\\tb\n", "-:1: bad escape in the text"},
        {"text 0 0 end\\\n", "-:1: bad escape in the text"},
        {"textangle 0 0 1.x Hi\n", "-:1: bad number '1.x'"},
        {"textangle 0 0 1. Hi\n", "-:1: bad number '1.'"},
    };
    for (const Case& k : cases) {
        const Result r = draw({"-", "4", "4", "24", "-"}, k.script);
        EXPECT_EQ(r.code, 2) << k.script;
        EXPECT_EQ(r.err.rfind(std::string("octtool draw: ") + k.message, 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
        EXPECT_TRUE(r.out.empty()) << "nothing written on a mistake";
    }
}

TEST(OctToolDraw, NumbersAndColours) {
    // -1 as a colour is 0xFFFFFFFF; hex with a sign; comments after a command.
    const Result r = draw({"-", "3", "1", "32", "-"},
                          "mode +0x100 # all four bytes\nplot 1 0 -1\nplot -0x0 0 0x01020304\nplot 2 0 -0xFFFFFFFF\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(54), std::string("\x02\x03\x04\x01\xFF\xFF\xFF\xFF\0\0\x01\0", 12));
}

TEST(OctToolDraw, CommandLineAndSaveFailures) {
    octtest::TempDir dir;
    const std::string out = dir.path("x.bmp").string();
    for (std::vector<std::string> args : {std::vector<std::string>{out, "0", "5", "24", "-"},
                                          {out, "32768", "5", "24", "-"},
                                          {out, "5", "5", "16", "-"},
                                          {out, "5", "x", "24", "-"},
                                          {out, "5", "5", "24"}}) {
        const Result r = draw(args);
        EXPECT_EQ(r.code, 2) << args[1] << " " << args[2] << " " << args[3];
        EXPECT_EQ(r.err.rfind("octtool draw: ", 0), 0u);
    }
    EXPECT_EQ(draw({out, "5", "5", "24", dir.path("missing.draw").string()}).code, 1);
    const Result unwritable = draw({dir.path("no/such/folder.bmp").string(), "5", "5", "24", "-"}, "box 0 0 1 1\n");
    EXPECT_EQ(unwritable.code, 1);
    EXPECT_EQ(unwritable.err.rfind("octtool draw: cannot write", 0), 0u) << unwritable.err;
    EXPECT_TRUE(dir.entries().empty());
}

// Text: the rest of the line after one space, '#' included; \n breaks the
// line. Sizes are the platform's, so only where ink lands is checked.
TEST(OctToolDraw, TextCommandsDrawWhereTheySay) {
    const auto inkRows = [](const std::string& script) {
        const Result r = draw({"-", "120", "90", "24", "-"}, script);
        EXPECT_EQ(r.code, 0) << r.err;
        std::vector<int> rows;  // picture rows (top first) holding ink
        const std::size_t rowBytes = 360;
        for (int y = 0; y < 90 && r.out.size() == 54 + rowBytes * 90; ++y) {
            const std::string row = r.out.substr(54 + (89 - y) * rowBytes, rowBytes);
            if (row.find_first_not_of('\0') != std::string::npos) rows.push_back(y);
        }
        return rows;
    };
    const auto one = inkRows("front 0xFFFFFFFF\nmode 1\ntext 5 5 # not a comment\n");
    ASSERT_FALSE(one.empty());
    EXPECT_GE(one.front(), 5);
    const auto two = inkRows("front 0xFFFFFFFF\nmode 1\ntext 5 5 # not a comment\\nsecond line\n");
    ASSERT_FALSE(two.empty());
    EXPECT_GT(two.back(), one.back() + 5);  // the second line lies below the first
    EXPECT_TRUE(inkRows("front 0xFFFFFFFF\nmode 1\ntext 5 5 \n").empty());  // a text of one space: nothing to see
    const auto turned = inkRows("front 0xFFFFFFFF\nfont DejaVu_Sans -14 700 1\ntextangle 20 80 90 up\nfont -\n");
    ASSERT_FALSE(turned.empty());
    EXPECT_LE(turned.back(), 81);
    EXPECT_GT(turned.back() - turned.front(), 10);  // turned a quarter: the word runs upwards
}

TEST(OctToolDraw, HelpListsEveryCommandOfTheLanguage) {
    std::ostringstream out, err;
    tool::ToolContext context{.out = out, .err = err};
    const std::string_view args[] = {"help", "draw"};
    ASSERT_EQ(tool::toolRun(args, context), 0);
    EXPECT_EQ(out.str().rfind("usage: octtool draw OUT WIDTH HEIGHT DEPTH SCRIPT", 0), 0u);
    for (const tool::ScriptCommand& c : tool::drawScriptCommands())
        EXPECT_NE(out.str().find("\n  " + std::string(c.name) + (c.synopsis.empty() ? "" : " ") + std::string(c.synopsis)),
                  std::string::npos)
            << c.name;
}

TEST(OctToolDraw, TheProgramReadsAScriptFromStandardInput) {
    octtest::TempDir dir;
    const auto script = dir.path("s.draw");
    octtest::writeFile(script, Bytes{'b', 'o', 'x', ' ', '0', ' ', '0', ' ', '2', ' ', '2', '\n'});
    const std::string out = dir.path("p.bmp").string();
    ASSERT_EQ(octtest::runToolProcess({"draw", out, "3", "3", "24", "-"}, script), 0);
    EXPECT_EQ(octtest::readFile(out).size(), 54u + 3 * 12);
    octtest::writeFile(script, Bytes{'b', 'o', 'x', '\n'});
    EXPECT_EQ(octtest::runToolProcess({"draw", out, "3", "3", "24", "-"}, script), 2);
}


// Image files: named relative to the script's folder, drawn from the rows
// the file stores. The script runs with the current folder elsewhere.
class OctToolDrawImage : public ::testing::Test {
protected:
    // Writes `script` as script.draw beside the image files and draws it on
    // a width x height picture of `depth` bits; the rows without the header.
    Result run(const std::string& script, const char* width, const char* height, const char* depth) {
        octtest::writeFile(dir.path("script.draw"), Bytes(script.begin(), script.end()));
        return draw({"-", width, height, depth, dir.path("script.draw").string()});
    }
    void writeBmp32(const char* name, std::int32_t w, std::int32_t h, const std::vector<std::uint8_t>& rows) {
        octtest::writeFile(dir.path(name), octtest::makeBmp({.width = w, .height = h, .bitCount = 32, .pixels = rows}));
    }
    octtest::TempDir dir;
};

TEST_F(OctToolDrawImage, AThirtyTwoBitFileKeepsItsStoredAlphaBytes) {
    // Two pixels whose fourth bytes are not alpha as far as the header says
    // (BI_RGB): copied with all four bytes (mode 0x100) they land as stored,
    // colour and fourth byte, one pixel right of the clip's left edge.
    writeBmp32("src.bmp", 2, 1, {10, 20, 30, 40, 50, 60, 70, 255});
    const Result r = run("clip 1 0 3 1\nmode 0x100\nimage 1 0 255 0 src.bmp\n", "4", "1", "32");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string rows = r.out.substr(54);
    EXPECT_EQ(rows.substr(0, 8), std::string(8, '\0'));
    EXPECT_EQ(rows.substr(8), std::string("\x0a\x14\x1e\x28\x32\x3c\x46\xff", 8));
}

TEST_F(OctToolDrawImage, TheAlphaFlagBlendsByTheFileAlpha) {
    // White behind; a black pixel of alpha 0 leaves it, one of alpha 255
    // covers it, and opacity 0 draws nothing at all.
    writeBmp32("src.bmp", 2, 1, {0, 0, 0, 0, 0, 0, 0, 255});
    const Result r = run("front 0xFFFFFFFF\nmode 0x100\nbox 0 0 2 1\nmode 0\nimage 0 0 255 1 src.bmp\n", "2", "1", "32");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string rows = r.out.substr(54);
    EXPECT_EQ(rows.substr(0, 3), "\xff\xff\xff");
    EXPECT_EQ(rows.substr(4, 3), std::string(3, '\0'));
    const Result none = run("front 0xFFFFFFFF\nmode 0x100\nbox 0 0 2 1\nmode 0\nimage 0 0 0 1 src.bmp\n", "2", "1", "32");
    ASSERT_EQ(none.code, 0) << none.err;
    EXPECT_EQ(none.out.substr(54), std::string(8, '\xff'));
}

TEST_F(OctToolDrawImage, ImageSizedScalesAndIconsDraw) {
    // One red 24-bit pixel stretched over 3 x 2: every pixel red.
    const Bytes red24 = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0,
                         24, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0};
    octtest::writeFile(dir.path("red.bmp"), red24);
    const Result r = run("imagesized 0 0 3 2 red.bmp\n", "3", "2", "24");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string rows = r.out.substr(54);
    ASSERT_EQ(rows.size(), 24u);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(rows.substr(y * 12 + x * 3, 3), std::string("\0\0\xff", 3)) << x << "," << y;

    std::filesystem::copy_file(std::filesystem::path(OCT_CORPUS_DIR) / "ico/32bpp_8x8.ico", dir.path("icon.ico"));
    const Result icon = run("image 0 0 255 0 icon.ico\n", "8", "8", "32");
    ASSERT_EQ(icon.code, 0) << icon.err;
    EXPECT_NE(icon.out.substr(54), std::string(256, '\0'));
    const Result sized = run("imagesized 0 0 16 16 icon.ico\n", "16", "16", "32");
    ASSERT_EQ(sized.code, 0) << sized.err;
    EXPECT_NE(sized.out.substr(54, 64), std::string(64, '\0'));  // the bottom row is drawn too
}

TEST_F(OctToolDrawImage, BadFilesAndArgumentsFailWithTheirLine) {
    writeBmp32("src.bmp", 1, 1, {1, 2, 3, 4});
    octtest::writeFile(dir.path("text.bmp"), Bytes{'n', 'o'});
    octtest::writeFile(dir.path("text.ico"), Bytes{'n', 'o'});
    struct Case {
        const char* script;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"box 0 0 1 1\nimage 0 0 255 0 missing.bmp\n", 1, "script.draw:2: cannot read"},
        {"image 0 0 255 0 text.bmp\n", 1, "script.draw:1: cannot read"},
        {"image 0 0 255 0 text.ico\n", 1, "not an icon file"},
        {"image 0 0 256 0 src.bmp\n", 2, "script.draw:1: number '256' out of range (0 to 255)"},
        {"image 0 0 255 2 src.bmp\n", 2, "out of range (0 to 1)"},
        {"image 0 0 255 0\n", 2, "image takes X Y OPACITY FLAG FILE"},
        {"imagesized 0 0 1 1 src.bmp extra\n", 2, "imagesized takes X Y W H FILE"},
    };
    for (const Case& k : cases) {
        const Result r = run(k.script, "2", "2", "24");
        EXPECT_EQ(r.code, k.code) << k.script;
        EXPECT_NE(r.err.find(k.message), std::string::npos) << k.script << r.err;
        EXPECT_TRUE(r.out.empty()) << k.script;
    }
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

// A script whose image cannot be scaled, or whose font cannot be made, fails
// at that line with a message and leaves nothing behind; before, it drew the
// rest and reported success.
TEST(OctToolDraw, AStepThatRunsOutOfResourcesFailsThere) {
    const std::filesystem::path folder = std::filesystem::path(OCT_SAMPLES_DIR);
    tool::ScriptError error;
    const auto steps = tool::parseDrawScript("box 0 0 4 4\nimagesized 0 0 30 20 harvesters-320.bmp\n", error, folder);
    ASSERT_TRUE(steps.has_value()) << error.message;
    struct Case {
        plat::FailKind kind;
        std::int64_t n;  // the picture is DIB section 1, the file's pixels 2, the scaled copy 3
        std::int32_t line;
    };
    for (const Case& k : {Case{plat::FailKind::DibSection, 3, 2}, Case{plat::FailKind::Alloc, 1, 0}}) {
        const std::int64_t objects = plat::liveObjects();
        plat::failCallAt(k.kind, k.n);
        const std::int64_t image = tool::drawScriptImage(*steps, 40, 30, 24, error);
        plat::failNone();
        EXPECT_EQ(image, 0);
        EXPECT_EQ(error.line, k.line) << error.message;
        EXPECT_FALSE(error.message.empty());
        EXPECT_EQ(plat::liveObjects(), objects);
        if (image) imgFreeImage(image);
    }
    const auto fonts = tool::parseDrawScript("font DejaVu_Sans -12 700\ntext 0 0 Hg\n", error, folder);
    ASSERT_TRUE(fonts.has_value());
    const std::int64_t objects = plat::liveObjects();
    plat::failCallAt(plat::FailKind::Font, 1);
    EXPECT_EQ(tool::drawScriptImage(*fonts, 40, 30, 24, error), 0);
    plat::failNone();
    EXPECT_EQ(error.line, 1);
    EXPECT_EQ(plat::liveObjects(), objects);
}

}  // namespace
}  // namespace oct
