// Every instruction-set version of the level codec against the portable one,
// which is the reference: the same level bytes from the same pictures, the
// same pixel bytes from the same levels, and nothing written outside a row.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "api/level_kernels.h"
#include "runtime/heap.h"

namespace {

using oct::LevelBuffer;
using oct::PixelSource;
using oct::lvl::Isa;

// SplitMix64: the same bytes on every build.
struct Random {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
};

struct Picture {
    std::int32_t width, height, pitch;
    int bits;
    std::vector<std::uint8_t> bytes;
    PixelSource source() const { return {bytes.data(), width, height, pitch, static_cast<std::uint16_t>(bits)}; }
};

// A picture whose rows end exactly at the end of its bytes (no slack for a
// wide load to hide an overread from the sanitizer) unless padded.
Picture randomPicture(Random& rng, std::int32_t width, std::int32_t height, int bits, std::int32_t padding) {
    Picture p{width, height, width * (bits / 8) + padding, bits, {}};
    p.bytes.resize(static_cast<std::size_t>(p.pitch) * height);
    for (auto& b : p.bytes) b = static_cast<std::uint8_t>(rng.next());
    return p;
}

std::vector<Isa> fastIsas() {
    std::vector<Isa> isas;
    for (Isa isa : {Isa::kSse2, Isa::kAvx2, Isa::kSimd128})
        if (oct::lvl::isaRuns(isa)) isas.push_back(isa);
    return isas;
}

const char* nameOf(Isa isa) {
    return isa == Isa::kAvx2 ? "AVX2" : isa == Isa::kSse2 ? "SSE2" : isa == Isa::kSimd128 ? "SIMD128" : "portable";
}

std::vector<std::uint8_t> levelsOf(Isa isa, const Picture& pic) {
    LevelBuffer lv;
    EXPECT_TRUE(oct::lvl::quantizeWith(isa, pic.source(), lv));
    std::vector<std::uint8_t> bytes(lv.levels, lv.levels + lv.size);
    oct::memFree(lv.levels);
    return bytes;
}

void expectSameLevels(const Picture& pic) {
    const auto reference = levelsOf(Isa::kPortable, pic);
    for (Isa isa : fastIsas())
        ASSERT_EQ(levelsOf(isa, pic), reference)
            << nameOf(isa) << ' ' << pic.width << 'x' << pic.height << " at " << pic.bits << " bits";
}

TEST(LevelKernels, QuantizeMatchesThePortableCodeForEveryTailLength) {
    Random rng{1};
    for (int bits : {24, 32})
        for (std::int32_t width = 1; width <= 70; ++width)
            for (std::int32_t height : {1, 3}) expectSameLevels(randomPicture(rng, width, height, bits, 0));
}

TEST(LevelKernels, QuantizeMatchesOnPaddedRowsAndLargerPictures) {
    Random rng{2};
    for (int bits : {24, 32})
        for (std::int32_t padding : {1, 2, 3, 7})
            for (std::int32_t width : {33, 129, 1000}) expectSameLevels(randomPicture(rng, width, 17, bits, padding));
}

// Every gray sum 0..765 and every alpha byte, in every position of a group.
TEST(LevelKernels, QuantizeMatchesForEverySumAndAlpha) {
    for (int bits : {24, 32}) {
        const int bytes = bits / 8;
        Picture pic{256, 3, 256 * bytes, bits, {}};
        pic.bytes.resize(static_cast<std::size_t>(pic.pitch) * pic.height);
        for (int i = 0; i < pic.width * pic.height; ++i) {
            const int sum = (i * 7) % 766;
            std::uint8_t* p = pic.bytes.data() + static_cast<std::size_t>(i) * bytes;
            p[0] = static_cast<std::uint8_t>(sum < 255 ? sum : 255);
            p[1] = static_cast<std::uint8_t>(sum < 255 ? 0 : sum < 510 ? sum - 255 : 255);
            p[2] = static_cast<std::uint8_t>(sum < 510 ? 0 : sum - 510);
            if (bytes == 4) p[3] = static_cast<std::uint8_t>(i);
        }
        expectSameLevels(pic);
    }
}

// Decodes into rows filled with a marker; bytes past each row must keep it.
std::vector<std::uint8_t> decoded(Isa isa, const std::vector<std::uint8_t>& levels, std::int64_t size,
                                  std::int32_t width, std::int32_t height, bool alpha, int bytesPerPixel) {
    const std::int64_t pitch = static_cast<std::int64_t>(width) * bytesPerPixel + 5;
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(pitch * height), 0xCD);
    EXPECT_TRUE(oct::lvl::decodeRowsWith(isa, levels.data(), size, width, height, alpha, rows.data(), pitch,
                                         bytesPerPixel));
    for (std::int32_t r = 0; r < height; ++r)
        for (std::int64_t i = static_cast<std::int64_t>(width) * bytesPerPixel; i < pitch; ++i)
            EXPECT_EQ(rows[static_cast<std::size_t>(r * pitch + i)], 0xCD) << "row " << r << " byte " << i;
    return rows;
}

TEST(LevelKernels, DecodeMatchesThePortableCodeForEveryTailAndShortBuffer) {
    Random rng{3};
    for (bool alpha : {false, true})
        for (int bytesPerPixel : {3, 4})
            for (std::int32_t width = 1; width <= 70; ++width) {
                const std::int32_t height = 3;
                const std::int64_t full = static_cast<std::int64_t>(width) * height;
                std::vector<std::uint8_t> levels(static_cast<std::size_t>(full));
                for (auto& b : levels) b = static_cast<std::uint8_t>(rng.next());
                // The whole buffer, one that ends inside the codes, and none.
                for (std::int64_t size : {full, full * (alpha ? 6 : 3) / 8 / 2, std::int64_t{0}}) {
                    const auto reference = decoded(Isa::kPortable, levels, size, width, height, alpha, bytesPerPixel);
                    for (Isa isa : fastIsas())
                        ASSERT_EQ(decoded(isa, levels, size, width, height, alpha, bytesPerPixel), reference)
                            << nameOf(isa) << " width " << width << " size " << size << " alpha " << alpha
                            << " bytes " << bytesPerPixel;
                }
            }
}

TEST(LevelKernels, RoundTripOfEveryVersionGivesTheSamePixels) {
    Random rng{4};
    for (int bits : {24, 32}) {
        const Picture pic = randomPicture(rng, 301, 9, bits, 3);
        const auto levels = levelsOf(Isa::kPortable, pic);
        const auto size = static_cast<std::int64_t>(levels.size());
        const bool alpha = bits == 32;
        const auto reference = decoded(Isa::kPortable, levels, size, pic.width, pic.height, alpha, bits / 8);
        for (Isa isa : fastIsas())
            EXPECT_EQ(decoded(isa, levelsOf(isa, pic), size, pic.width, pic.height, alpha, bits / 8), reference)
                << nameOf(isa);
    }
}

// The one-pass conversion of every version, into separate rows and in place,
// against the portable quantizing and decoding one after the other: the same
// level bytes, the same pixels, and nothing past a row's pixels written.
TEST(LevelKernels, OnePassConversionMatchesQuantizingThenDecoding) {
    Random rng{5};
    for (int bits : {24, 32})
        for (std::int32_t width = 1; width <= 70; width += width < 40 ? 1 : 7)
            for (std::int32_t padding : {0, 3}) {
                const Picture pic = randomPicture(rng, width, 5, bits, padding);
                const bool alpha = bits == 32;
                const int bytes = bits / 8;
                const auto levels = levelsOf(Isa::kPortable, pic);
                const auto size = static_cast<std::int64_t>(levels.size());
                const auto reference = decoded(Isa::kPortable, levels, size, width, pic.height, alpha, bytes);
                const std::int64_t pitch = static_cast<std::int64_t>(width) * bytes + 5;  // as decoded() lays them
                for (Isa isa : {Isa::kPortable, Isa::kSse2, Isa::kAvx2, Isa::kSimd128}) {
                    if (!oct::lvl::isaRuns(isa)) continue;
                    SCOPED_TRACE(testing::Message() << nameOf(isa) << " width " << width << " bits " << bits
                                                    << " padding " << padding);
                    std::vector<std::uint8_t> rows(reference.size(), 0xCD);
                    LevelBuffer lv;
                    ASSERT_TRUE(oct::lvl::quantizeRebuildWith(isa, pic.source(), lv, rows.data(), pitch));
                    EXPECT_EQ(std::vector<std::uint8_t>(lv.levels, lv.levels + lv.size), levels);
                    oct::memFree(lv.levels);
                    EXPECT_EQ(rows, reference);
                    // In place: the source's rows become the rebuilt ones; their padding stays.
                    Picture same = pic;
                    ASSERT_TRUE(oct::lvl::quantizeRebuildWith(isa, same.source(), lv, same.bytes.data(), same.pitch));
                    EXPECT_EQ(std::vector<std::uint8_t>(lv.levels, lv.levels + lv.size), levels);
                    oct::memFree(lv.levels);
                    for (std::int32_t r = 0; r < pic.height; ++r) {
                        const auto* got = same.bytes.data() + static_cast<std::size_t>(r) * same.pitch;
                        const auto* want = reference.data() + static_cast<std::size_t>(r * pitch);
                        EXPECT_EQ(std::memcmp(got, want, static_cast<std::size_t>(width) * bytes), 0) << "row " << r;
                        EXPECT_EQ(std::memcmp(got + width * bytes, pic.bytes.data() + r * pic.pitch + width * bytes,
                                              static_cast<std::size_t>(padding)),
                                  0)
                            << "row " << r;
                    }
                }
            }
}

// Rows read downward in memory (a negative pitch, as for a host's
// top-row-first pixels) through every version: the levels and rebuilt rows
// of the same rows stored upward, in one band of rows and in several with a
// short last one. The rows are unpadded, so the sanitizer sees a read past
// the end of the block.
TEST(LevelKernels, NegativePitchMatchesTheSameRowsStoredUpward) {
    Random rng{6};
    for (int bits : {24, 32})
        for (std::int32_t width : {1, 7, 17, 19, 35, 67})
            for (std::int32_t height : {1, 4, 32, 33, 70}) {
                const Picture up = randomPicture(rng, width, height, bits, 0);
                Picture down = up;
                for (std::int32_t r = 0; r < height; ++r)
                    std::memcpy(down.bytes.data() + static_cast<std::size_t>(height - 1 - r) * up.pitch,
                                up.bytes.data() + static_cast<std::size_t>(r) * up.pitch, static_cast<std::size_t>(up.pitch));
                const PixelSource flipped{down.bytes.data() + static_cast<std::size_t>(height - 1) * up.pitch, width, height,
                                          -up.pitch, static_cast<std::uint16_t>(bits)};
                const bool alpha = bits == 32;
                const auto levels = levelsOf(Isa::kPortable, up);
                const auto size = static_cast<std::int64_t>(levels.size());
                const auto rows = decoded(Isa::kPortable, levels, size, width, height, alpha, bits / 8);
                const std::int64_t pitch = static_cast<std::int64_t>(width) * (bits / 8) + 5;  // as decoded() lays them
                for (Isa isa : {Isa::kPortable, Isa::kSse2, Isa::kAvx2, Isa::kSimd128}) {
                    if (!oct::lvl::isaRuns(isa)) continue;
                    SCOPED_TRACE(testing::Message() << nameOf(isa) << " width " << width << " height " << height
                                                    << " bits " << bits);
                    LevelBuffer lv;
                    ASSERT_TRUE(oct::lvl::quantizeWith(isa, flipped, lv));
                    EXPECT_EQ(std::vector<std::uint8_t>(lv.levels, lv.levels + lv.size), levels);
                    oct::memFree(lv.levels);
                    std::vector<std::uint8_t> out(rows.size(), 0xCD);
                    ASSERT_TRUE(oct::lvl::quantizeRebuildWith(isa, flipped, lv, out.data(), pitch));
                    EXPECT_EQ(std::vector<std::uint8_t>(lv.levels, lv.levels + lv.size), levels);
                    oct::memFree(lv.levels);
                    EXPECT_EQ(out, rows);
                }
            }
}

TEST(LevelKernels, TheBestVersionRunsHere) {
    EXPECT_TRUE(oct::lvl::isaRuns(oct::lvl::bestIsa()));
    EXPECT_TRUE(oct::lvl::isaRuns(Isa::kPortable));
#if defined(__x86_64__) || defined(_M_X64)
    EXPECT_NE(oct::lvl::bestIsa(), Isa::kPortable);
#endif
}

}  // namespace
