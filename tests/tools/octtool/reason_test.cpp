// octtool's one-line failures name the cause the library found.
#include <gtest/gtest.h>

#include "image/formats.h"
#include "tool_fixture.h"

namespace oct {
namespace {

Bytes corpusFile(const char* leaf) {
    std::ifstream in(fs::path(OCT_CORPUS_DIR) / leaf, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), {}};
}

TEST_F(OctTool, ConvertSaysWhyItCannotReadOrWrite) {
    write("trunc.jpg", corpusFile("jpeg-bad/pillow/truncated_jpeg.jpg"));
    write("text.png", test::ascii("hello"));
    write("x.heic", Bytes{0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c', 0, 0, 0, 0,
                          'm', 'i', 'f', '1', 'h', 'e', 'i', 'c'});
    write("photo.bmp", corpusFile("bmp/g/pal8.bmp"));
    fs::create_directory(path("folder.oct"));
    struct Case {
        const char* in;
        const char* out;
        std::string message;  // after "octtool convert: "; the codecs' own words in brackets differ by system
    } cases[] = {
        {"missing.png", "out.oct", "cannot read '" + path("missing.png") + "': no such file"},
        {"trunc.jpg", "out.oct", "cannot read '" + path("trunc.jpg") + "': damaged JPEG"},
        {"text.png", "out.oct",
         "cannot read '" + path("text.png") + "': not a picture or level file this library knows"},
        // Decoded on Linux alone: these headers without a picture are damaged there.
        {"x.heic", "out.oct",
         "cannot read '" + path("x.heic") + "': " +
             (imgHasCodec(kHeifFormat) ? "damaged HEIF" : "a HEIF picture, which this system has no codec for")},
        {"photo.bmp", "no/such/folder.oct", "cannot write '" + path("no/such/folder.oct") + "': no such folder"},
        {"photo.bmp", "folder.oct", "cannot write '" + path("folder.oct") + "': a folder, not a file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(run({"convert", path(c.in), path(c.out)}), 1);
        const std::string e = err();
        EXPECT_EQ(e.substr(0, e.find(" (")), "octtool convert: " + c.message + (e.find(" (") == std::string::npos ? "\n" : ""));
        EXPECT_TRUE(oneLineMessage()) << e;
        EXPECT_FALSE(exists("out.oct"));
    }
    // The same through -o DIR: one line for the picture that failed.
    EXPECT_EQ(run({"convert", "-o", path("folder.oct"), path("trunc.jpg"), path("photo.bmp")}), 1);
    EXPECT_NE(err().find("'" + path("trunc.jpg") + "': damaged JPEG"), std::string::npos)
        << err();
}

// HEIF, AVIF and JPEG XL: described on Linux; on Windows a conversion ends
// with exit 1 and says there is no codec for the format.
TEST_F(OctTool, HeifAvifAndJpegXlAreReadOrSaidToLackACodec) {
    const struct {
        const char* leaf;
        const char* name;
        std::uint32_t format;
        const char* noCodec;
    } cases[] = {
        {"heif/libheif/rainbow-451x461.heic", "in.heic", kHeifFormat, "a HEIF picture"},
        {"avif/libavif/sofa_grid1x5_420.avif", "in.avif", kAvifFormat, "an AVIF picture"},
        {"jxl/conformance/grayscale.jxl", "in.jxl", kJxlFormat, "a JPEG XL picture"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.leaf);
        write(c.name, corpusFile(c.leaf));
        if (imgHasCodec(c.format)) {
            EXPECT_EQ(run({"info", path(c.name)}), 0) << err();
            EXPECT_NE(out().find(std::string("kind:    ") + imgFormatName(c.format) + " picture"), std::string::npos)
                << out();
            continue;
        }
        EXPECT_EQ(run({"convert", path(c.name), path("out.oct")}), 1);
        EXPECT_EQ(err(), "octtool convert: cannot read '" + path(c.name) + "': " + c.noCodec +
                             ", which this system has no codec for\n");
        EXPECT_FALSE(exists("out.oct"));
    }
}

}  // namespace
}  // namespace oct
