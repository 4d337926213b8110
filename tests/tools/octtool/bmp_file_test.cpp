#include "bmp_file.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "file_io.h"
#include "image/image.h"
#include "image/image_bytes.h"
#include "test_files.h"

namespace oct {
namespace {

using octtest::Bytes;

Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 29 + 3);
    return b;
}

// The file octtool's own BMP writer made of bottom-up rows (it wrote 32 bits;
// 24 bits the same way): "BM", the file size, reserved 0, offset 54, a
// 40-byte header of the width, the positive height, 1 plane, the depth,
// BI_RGB, the rows' size and zero resolutions and colour counts; then the
// rows exactly as given.
Bytes formerFile(std::int32_t width, std::int32_t height, std::uint16_t depth, const Bytes& rows) {
    return octtest::makeBmp({.width = width, .height = height, .bitCount = depth, .pixels = rows});
}

std::string written(const std::uint8_t* rows, std::int32_t width, std::int32_t height, std::int32_t pitch,
                    std::int32_t depth, bool& ok) {
    std::ostringstream out, err;
    tool::ToolContext context{.out = out, .err = err};
    std::string error;
    ok = tool::toolWriteBmp(tool::kStandardStream, rows, width, height, pitch, depth, context, error);
    return out.str();
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(OctToolBmpFile, EncoderWritesTheBytesOfTheFormerWriter) {
    struct Case {
        std::int32_t width, height, depth;
    };
    const Case cases[] = {{1, 1, 32}, {5, 3, 32}, {7, 2, 32}, {1, 1, 24}, {5, 3, 24}, {6, 2, 24}, {3, 4, 24}};
    octtest::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "x" + std::to_string(c.depth));
        const auto pitch = static_cast<std::int32_t>(imgRowBytes(c.width, c.depth));
        const Bytes rows = pattern(static_cast<std::size_t>(pitch) * c.height);  // padding bytes too, as given
        const Bytes expected = formerFile(c.width, c.height, static_cast<std::uint16_t>(c.depth), rows);
        bool ok = false;
        EXPECT_EQ(bytesOf(written(rows.data(), c.width, c.height, pitch, c.depth, ok)), expected);
        EXPECT_TRUE(ok);
        const std::u16string name = dir.name("saved.bmp");
        EXPECT_EQ(tool::toolEncodeBmp(name.c_str(), rows.data(), c.width, c.height, pitch, c.depth), 1);
        EXPECT_EQ(octtest::readFile(dir.path("saved.bmp")), expected);
    }
}

// A top-down file's rows, found and written again, make the bottom-up file
// of the same picture, fourth bytes included.
TEST(OctToolBmpFile, TopDownRowsWriteBackBottomUp) {
    for (const std::int32_t depth : {24, 32}) {
        SCOPED_TRACE(depth);
        const auto pitch = static_cast<std::size_t>(imgRowBytes(5, depth));
        const Bytes bottomUp = pattern(pitch * 3);
        Bytes topDown;
        for (std::size_t row = 3; row-- > 0;)
            topDown.insert(topDown.end(), bottomUp.begin() + static_cast<std::ptrdiff_t>(row * pitch),
                           bottomUp.begin() + static_cast<std::ptrdiff_t>((row + 1) * pitch));
        const Bytes input = formerFile(5, -3, static_cast<std::uint16_t>(depth), topDown);
        StoredBmp bmp;
        ASSERT_TRUE(imgFindStoredBmpRows(input, bmp));
        Bytes rows(pitch * 3);
        imgCopyStoredBmpRows(bmp, rows.data(), bmp.rowBytes);
        bool ok = false;
        const std::string file = written(rows.data(), 5, 3, static_cast<std::int32_t>(pitch), depth, ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(bytesOf(file), formerFile(5, 3, static_cast<std::uint16_t>(depth), bottomUp));
    }
}

TEST(OctToolBmpFile, FailuresAreReported) {
    const Bytes rows = pattern(16);
    std::ostringstream out, err;
    tool::ToolContext context{.out = out, .err = err};
    std::string error;
    // The encoder's refusal: no message of its own, nothing written.
    EXPECT_FALSE(tool::toolWriteBmp(tool::kStandardStream, rows.data(), 2, 2, 8, 16, context, error));
    EXPECT_TRUE(error.empty());
    EXPECT_TRUE(out.str().empty());
    // A folder where the file should go.
    octtest::TempDir dir;
    EXPECT_FALSE(tool::toolWriteBmp(dir.path("").string(), rows.data(), 2, 2, 8, 32, context, error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
}

}  // namespace
}  // namespace oct
