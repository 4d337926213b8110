// Corpus BMP files against their reference renderings (tests/data/bmp/ref-raw,
// PAM conversions of the suites' PNGs): the decoded 24-bit pixels, channel by
// channel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/loader.h"
#include "image_bytes.h"

namespace oct {
namespace {

const std::filesystem::path kBmp = std::filesystem::path(OCT_CORPUS_DIR) / "bmp";

// A PAM file (P7, MAXVAL 255, DEPTH 3 or 4), top row first, red first.
struct Pam {
    std::int32_t width = 0, height = 0, depth = 0;
    std::vector<std::uint8_t> samples;
};

Pam readPam(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    Pam pam;
    std::string line;
    if (!std::getline(in, line) || line != "P7") return {};
    while (std::getline(in, line) && line != "ENDHDR") {
        std::istringstream fields(line);
        std::string key;
        std::int32_t value = 0;
        fields >> key >> value;
        if (key == "WIDTH") pam.width = value;
        if (key == "HEIGHT") pam.height = value;
        if (key == "DEPTH") pam.depth = value;
    }
    pam.samples.assign(std::istreambuf_iterator<char>(in), {});
    if (pam.samples.size() != static_cast<std::size_t>(pam.width) * pam.height * pam.depth) return {};
    return pam;
}

// The largest difference allowed per channel. A channel of w < 8 bits in the
// file is widened by a shift, where a reference may have scaled it to the
// full range: they differ by up to 2^(8 - w) - 1. A channel of more than 8
// bits gives its top 8, where a reference may have rounded: 1 apart at most.
struct Tolerance {
    int r = 0, g = 0, b = 0;
};
constexpr int widening(int bits) { return bits > 8 ? 1 : bits == 8 || bits == 0 ? 0 : (1 << (8 - bits)) - 1; }
constexpr Tolerance widened(int r, int g, int b) { return {widening(r), widening(g), widening(b)}; }
constexpr Tolerance kExact{};

struct ReferenceCase {
    const char* input;      // under bmp/
    const char* reference;  // under bmp/ref-raw/
    Tolerance tolerance;
    bool transparentUndefined = false;  // the reference's fully transparent pixels have no colour to compare
};

// Good files first, then the questionable ones whose layout this decoder
// reads. The suite's references with alpha are compared where they are not
// fully transparent (it draws its transparent pixels black), and RLE files
// whose deltas skip pixels against the rendering that leaves them black.
const ReferenceCase kCases[] = {
    {"g/pal1.bmp", "pal1.pam", kExact},
    {"g/pal1bg.bmp", "pal1bg.pam", kExact},
    {"g/pal4.bmp", "pal4.pam", kExact},
    {"g/pal4rle.bmp", "pal4.pam", kExact},
    {"g/pal8.bmp", "pal8.pam", kExact},
    {"g/pal8nonsquare.bmp", "pal8nonsquare-e.pam", kExact},
    {"g/pal8os2.bmp", "pal8.pam", kExact},
    {"g/pal8rle.bmp", "pal8.pam", kExact},
    {"g/pal8topdown.bmp", "pal8.pam", kExact},
    {"g/pal8v4.bmp", "pal8.pam", kExact},
    {"g/pal8w124.bmp", "pal8w124.pam", kExact},
    {"g/pal8w126.bmp", "pal8w126.pam", kExact},
    {"g/rgb16-565.bmp", "rgb16-565.pam", widened(5, 6, 5)},
    {"g/rgb16-565pal.bmp", "rgb16-565.pam", widened(5, 6, 5)},
    {"g/rgb16.bmp", "rgb16.pam", widened(5, 5, 5)},
    {"g/rgb24.bmp", "rgb24.pam", kExact},
    {"g/rgb32.bmp", "rgb24.pam", kExact},
    {"g/rgb32bf.bmp", "rgb24.pam", kExact},
    {"b/rgb16-880.bmp", "rgb16-880.pam", widened(8, 8, 0)},
    {"other/g/imagers-Core_1_Bit.bmp", "imagers-Core_1_Bit.bmp.pam", kExact},
    {"other/g/imagers-Core_8_Bit.bmp", "imagers-Core_8_Bit.bmp.pam", kExact},
    {"other/g/imagers-Info_1_Bit.bmp", "imagers-Info_1_Bit.bmp.pam", kExact},
    {"other/g/imagers-Info_4_Bit.bmp", "imagers-Info_4_Bit.bmp.pam", kExact},
    {"other/g/imagers-Info_4_Bit_Top_Down.bmp", "imagers-Info_4_Bit_Top_Down.bmp.pam", kExact},
    {"other/g/imagers-Info_8_Bit_Top_Down.bmp", "imagers-Info_8_Bit_Top_Down.bmp.pam", kExact},
    {"other/g/imagers-Info_A8_R8_G8_B8.bmp", "imagers-Info_A8_R8_G8_B8.bmp.pam", kExact},
    {"other/g/imagers-Info_A8_R8_G8_B8_Top_Down.bmp", "imagers-Info_A8_R8_G8_B8_Top_Down.bmp.pam", kExact},
    {"other/g/imagers-Info_R8_G8_B8.bmp", "imagers-Info_R8_G8_B8.bmp.pam", kExact},
    {"other/g/imagers-Info_X1_R5_G5_B5_Top_Down.bmp", "imagers-Info_X1_R5_G5_B5_Top_Down.bmp.pam", widened(5, 5, 5)},
    {"other/g/imagers-V3_A1_R5_G5_B5.bmp", "imagers-V3_A1_R5_G5_B5.bmp.pam", widened(5, 5, 5)},
    {"other/g/imagers-V3_A1_R5_G5_B5_Top_Down.bmp", "imagers-V3_A1_R5_G5_B5_Top_Down.bmp.pam", widened(5, 5, 5)},
    {"other/g/imagers-V3_A4_R4_G4_B4.bmp", "imagers-V3_A4_R4_G4_B4.bmp.pam", widened(4, 4, 4)},
    {"other/g/imagers-V3_R5_G6_B5.bmp", "imagers-V3_R5_G6_B5.bmp.pam", widened(5, 6, 5)},
    {"other/g/imagers-V3_X4_R4_G4_B4.bmp", "imagers-V3_X4_R4_G4_B4.bmp.pam", widened(4, 4, 4)},
    {"other/g/imagers-V3_X4_R4_G4_B4_Top_Down.bmp", "imagers-V3_X4_R4_G4_B4_Top_Down.bmp.pam", widened(4, 4, 4)},
    {"other/g/imagers-V3_X8_R8_G8_B8_Top_Down.bmp", "imagers-V3_X8_R8_G8_B8_Top_Down.bmp.pam", kExact},
    {"other/g/imagers-V4_24_Bit.bmp", "imagers-V4_24_Bit.bmp.pam", kExact},
    {"other/g/imagers-V4_A8_R8_G8_B8.bmp", "imagers-V4_A8_R8_G8_B8.bmp.pam", kExact},
    {"other/g/imagers-V5_24_Bit.bmp", "imagers-V4_24_Bit.bmp.pam", kExact},
    {"other/g/imagers-V5_A8_R8_G8_B8_Rgb.bmp", "imagers-V5_A8_R8_G8_B8_Rgb.bmp.pam", kExact},
    {"other/g/pillow-hopper.bmp", "pillow-hopper.bmp.pam", kExact},
    {"other/g/wuffs-bricks-color.bmp", "wuffs-bricks-color.bmp.pam", kExact},
    {"other/g/wuffs-bricks-dither.bmp", "wuffs-bricks-dither.bmp.pam", kExact},
    {"other/g/wuffs-bricks-nodither.bmp", "wuffs-bricks-nodither.bmp.pam", kExact},
    {"other/g/wuffs-hat.bmp", "wuffs-hat.bmp.pam", kExact},
    {"other/g/wuffs-hippopotamus.bmp", "wuffs-hippopotamus.bmp.pam", kExact},
    // Questionable files of the same kinds.
    {"q/pal1p1.bmp", "pal1p1.pam", kExact},
    {"q/pal2.bmp", "pal2.pam", kExact},
    {"q/pal4rletrns.bmp", "pal4rletrns-b.pam", kExact},
    {"q/pal8os2-sz.bmp", "pal8.pam", kExact},
    {"q/pal8os2v2-16.bmp", "pal8.pam", kExact},
    {"q/pal8os2v2-40sz.bmp", "pal8.pam", kExact},
    {"q/pal8os2v2.bmp", "pal8.pam", kExact},
    {"q/pal8oversizepal.bmp", "pal8.pam", kExact},
    {"q/pal8rlecut.bmp", "pal8rlecut-b.pam", kExact},
    {"q/rgb16-231.bmp", "rgb16-231.pam", widened(2, 3, 1)},
    {"q/rgb16faketrns.bmp", "rgb16.pam", widened(5, 5, 5)},
    {"q/rgb24lprof.bmp", "rgb24.pam", kExact},
    {"q/rgb24prof.bmp", "rgb24.pam", kExact},
    {"q/rgb32-111110.bmp", "rgb24.pam", widened(11, 11, 10)},
    {"q/rgb32-xbgr.bmp", "rgb24.pam", kExact},
    {"q/rgb32fakealpha.bmp", "rgb24.pam", kExact},
    {"q/rgb32h52.bmp", "rgb24.pam", kExact},
    {"q/rgba16-1924.bmp", "rgba16-1924.pam", widened(1, 9, 2), true},
    {"q/rgba16-4444.bmp", "rgba16-4444.pam", widened(4, 4, 4), true},
    {"q/rgba32-1010102.bmp", "rgba32-1010102.pam", widened(10, 10, 10), true},
    {"q/rgba32-61754.bmp", "rgba32-61754.pam", widened(6, 17, 5), true},
    {"q/rgba32.bmp", "rgba32.pam", kExact, true},
    {"q/rgba32abf.bmp", "rgba32.pam", kExact, true},
};

struct Comparison {
    bool loaded = false;
    bool sameSize = false;
    std::int64_t compared = 0, different = 0;
    std::string first;  // the first differing pixel, described
};

Comparison compare(const ReferenceCase& c) {
    Comparison out;
    const Pam reference = readPam(kBmp / "ref-raw" / c.reference);
    const std::int64_t id = imgLoadImage(AnyId, (kBmp / c.input).u16string().c_str());
    if (!id || reference.depth < 3) {
        imgFreeImage(id);
        return out;
    }
    out.loaded = true;
    const ImageObject* image = imgGetImage(id);
    out.sameSize = image->width == reference.width && image->height == reference.height;
    const auto pixels = octtest::pixelsOf(id);
    imgFreeImage(id);
    if (!out.sameSize || pixels.size() != static_cast<std::size_t>(reference.width) * reference.height) return out;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::uint8_t* want = &reference.samples[i * static_cast<std::size_t>(reference.depth)];
        if (c.transparentUndefined && reference.depth == 4 && want[3] == 0) continue;
        ++out.compared;
        const octtest::Rgb got = pixels[i];
        if (std::abs(got.r - want[0]) <= c.tolerance.r && std::abs(got.g - want[1]) <= c.tolerance.g &&
            std::abs(got.b - want[2]) <= c.tolerance.b)
            continue;
        if (out.different++ == 0) {
            std::ostringstream s;
            s << "pixel (" << i % reference.width << ", " << i / reference.width << ") is r " << +got.r << " g "
              << +got.g << " b " << +got.b << ", reference r " << +want[0] << " g " << +want[1] << " b "
              << +want[2];
            out.first = s.str();
        }
    }
    return out;
}

TEST(BmpReference, FilesDecodeToTheirReferenceRenderings) {
    int matched = 0;
    for (const ReferenceCase& c : kCases) {
        SCOPED_TRACE(c.input);
        const Comparison result = compare(c);
        ASSERT_TRUE(result.loaded) << "loads, and " << c.reference << " is readable";
        ASSERT_TRUE(result.sameSize);
        EXPECT_GT(result.compared, 0);
        EXPECT_EQ(result.different, 0) << "of " << result.compared << " pixels; first: " << result.first;
        matched += result.different == 0;
    }
    std::printf("[ reference ] %d of %zu files match\n", matched, std::size(kCases));
}

// Every good file that a REFERENCES.txt maps to a rendering is in the table
// above, so a file added to the corpus cannot go unchecked.
TEST(BmpReference, EveryGoodFileWithAReferenceIsCompared) {
    std::set<std::string> listed;
    for (const ReferenceCase& c : kCases) listed.insert(c.input);
    for (const char* folder : {"", "other/"}) {
        std::ifstream in(kBmp / folder / "ref" / "REFERENCES.txt");
        ASSERT_TRUE(in.is_open());
        std::string line;
        while (std::getline(in, line)) {
            const std::string input = std::string(folder) + line.substr(0, line.find('\t'));
            if (line.empty() || line[0] == '#') continue;
            if (input.rfind("g/", 0) != 0 && input.rfind("other/g/", 0) != 0) continue;
            EXPECT_TRUE(listed.count(input)) << input;
        }
    }
}

}  // namespace
}  // namespace oct
