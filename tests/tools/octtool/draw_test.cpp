#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "draw_script.h"
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

TEST(OctToolDraw, HelpListsEveryCommandOfTheLanguage) {
    std::ostringstream out, err;
    tool::ToolContext context{.out = out, .err = err};
    const std::string_view args[] = {"help", "draw"};
    ASSERT_EQ(tool::toolRun(args, context), 0);
    EXPECT_EQ(out.str().rfind("usage: octtool draw OUT.bmp WIDTH HEIGHT DEPTH SCRIPT", 0), 0u);
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

}  // namespace
}  // namespace oct
