// octtool info on the corpus: what it says about BMP headers and icon
// directories, and why it refuses a BMP file.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tool.h"

namespace oct {
namespace {

const std::filesystem::path kCorpus = OCT_CORPUS_DIR;

struct InfoRun {
    int code;
    std::string out, err;
};

InfoRun info(const std::filesystem::path& file) {
    std::ostringstream out, err;
    const std::string name = file.string();
    const std::vector<std::string_view> args{"info", name};
    tool::ToolContext context{.out = out, .err = err};
    const int code = tool::toolRun(args, context);
    return {code, out.str(), err.str()};
}

TEST(OctToolInfo, DescribesBmpHeadersAndIconDirectories) {
    struct Case {
        const char* file;
        std::vector<const char*> lines;
    };
    const Case cases[] = {
        {"bmp/g/rgb16-565.bmp",
         {"kind:    BMP picture\n", "header:  40 bytes\n", "bits:    16 per pixel, compression 3 (bit fields)\n",
          "masks:   red 0x0000F800 (5 bits), green 0x000007E0 (6 bits), blue 0x0000001F (5 bits); from the file\n",
          "pixels:  each channel's mask bits, widened to 8 bits\n"}},
        {"bmp/g/rgb16.bmp",
         {"bits:    16 per pixel, compression 0 (none)\n",
          "masks:   red 0x00007C00 (5 bits), green 0x000003E0 (5 bits), blue 0x0000001F (5 bits); fixed for this layout\n"}},
        {"bmp/g/pal4rle.bmp",
         {"bits:    4 per pixel, compression 2 (RLE4)\n", "rows:    bottom row first\n",
          "pixels:  4-bit run-length encoded indexes into the colour table\n"}},
        {"bmp/g/pal8os2.bmp", {"header:  12 bytes (core header)\n", "width:   127\n"}},
        {"bmp/g/pal8topdown.bmp", {"rows:    top row first\n", "height:  64\n"}},
        {"bmp/q/rgba32abf.bmp", {"compression 6 (bit fields with alpha)\n", "alpha:   0\n"}},
        {"bmp/other/b/bts-colormasks-missing.bmp",
         {"masks:   missing from the file\n", "pixels:  through masks that lie beyond the data: not decoded, black\n"}},
        // Of the 32 x 32 entries (0, 3, 6 at 4, 8, 32 bits) the deepest is chosen.
        {"ico/multiple_entries_with_different_bit_depth.ico",
         {"kind:    icon", "entry 0: 32 x 32, 4-bit, 744 bytes at 150\n", "entry 5: 48 x 48, 32-bit, 9640 bytes at 8542\n",
          "entry 6: 32 x 32, 32-bit, 4264 bytes at 18182  (chosen)\n", "chosen:  entry 6"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const InfoRun run = info(kCorpus / c.file);
        ASSERT_EQ(run.code, 0) << run.err;
        for (const char* line : c.lines) EXPECT_NE(run.out.find(line), std::string::npos) << line << "in\n" << run.out;
    }
}

TEST(OctToolInfo, SaysWhyABmpFileIsRefused) {
    const InfoRun run = info(kCorpus / "bmp/b/badbitcount.bmp");
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("is a BMP file the library refuses: bit count is not 1 to 32"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace oct
