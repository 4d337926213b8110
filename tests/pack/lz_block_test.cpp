#include "pack/lz_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/lz_reference.h"
#include "pack/bytes.h"

namespace oct {
namespace {

using test::ascii;
using test::Bytes;
using test::hex;
using fuzz::referenceCompress;

Bytes compress(const Bytes& in) {
    // One table for every call, dirty from the call before (and at first on
    // purpose): the coder must clear it itself.
    static std::vector<std::uint32_t> work(pakWorkMemSize() / sizeof(std::uint32_t), 0xDEADBEEF);
    Bytes out(pakMaxPackedSize(static_cast<std::uint32_t>(in.size())));
    out.resize(pakCompressBlock(in.data(), out.data(), static_cast<std::uint32_t>(in.size()), work.data()));
    return out;
}

Bytes sequence(int from, int count) {
    Bytes b;
    for (int i = 0; i < count; ++i) b.push_back(static_cast<std::uint8_t>(from + i));
    return b;
}

Bytes repeat(const Bytes& b, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), b.begin(), b.end());
    return out;
}

// Four bytes, all different from "abcd", whose hash equals that of "abcd".
Bytes collidingWithAbcd() {
    const std::uint32_t target = pakHash4(ascii("abcd").data());
    for (int b0 = 'e'; b0 < 256; ++b0)
        for (int b1 = 'e'; b1 < 256; ++b1)
            for (int b2 = 'e'; b2 < 256; ++b2) {
                Bytes c = {static_cast<std::uint8_t>(b0), static_cast<std::uint8_t>(b1),
                           static_cast<std::uint8_t>(b2), 0};
                // Solve for the last byte: the hash is linear in it.
                const std::uint32_t partial = pakHash4(c.data());
                const std::uint32_t b3 = (target - partial) & (kPakHashEntries - 1);
                if (b3 >= 'e' && b3 < 256) {
                    c[3] = static_cast<std::uint8_t>(b3);
                    return c;
                }
            }
    return {};
}

struct BlockExample {
    const char* name;
    Bytes input;
    Bytes packed;
};

TEST(LzBlock, WorkedExamplesGiveTheirBytes) {
    const Bytes eighteen = sequence(0, 18);
    const BlockExample cases[] = {
        {"empty", {}, {}},
        {"a", ascii("a"), hex("61")},
        {"ab", ascii("ab"), hex("61 00 00 62")},
        {"abcde: four bytes left, no search", ascii("abcde"), hex("61 00 00 62 63 64 65")},
        {"abcabcabcabc", ascii("abcabcabcabc"), hex("61 00 3C 62 63 02")},
        {"sixteen a", ascii("aaaaaaaaaaaaaaaa"), hex("61 00 EC 00")},
        {"18 different bytes: second tag word after 16 literals", eighteen,
         hex("00 00 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 00 00 11")},
        {"18 bytes three times: tag word after the literals", repeat(eighteen, 3),
         hex("00 00 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 C0 55 11 11")},
        {"17 different bytes: exactly 16 bits, no further tag word", sequence(0, 17),
         hex("00 00 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compress(c.input), c.packed) << c.name;
        Bytes out(c.input.size());
        EXPECT_EQ(pakDecompressBlock(c.packed.data(), c.packed.size(), out.data(),
                                     static_cast<std::uint32_t>(out.size())),
                  static_cast<std::int64_t>(c.packed.size()))
            << c.name;
        EXPECT_EQ(out, c.input) << c.name;
    }
}

TEST(LzBlock, GammaCodesOfTheDescription) {
    // A run of one byte value gives its first byte, then one match at
    // distance 1: flag 1, gamma(L − 2), gamma(2) = 0 0, all in the first tag.
    struct Gamma {
        std::uint32_t value;
        std::string bits;
    };
    const Gamma cases[] = {{3, "10"}, {4, "0100"}, {5, "0110"}, {6, "1100"}, {7, "1110"}, {13, "110110"}};
    for (const auto& c : cases) {
        const Bytes input(c.value + 3, 'x');
        const Bytes packed = compress(input);
        ASSERT_EQ(packed.size(), 4u) << c.value;
        const std::uint32_t tag = packed[1] | packed[2] << 8;
        const std::string expected = "1" + c.bits + "00";
        std::string got;
        for (std::size_t i = 0; i < 16; ++i) got += (tag >> (15 - i) & 1) ? '1' : '0';
        EXPECT_EQ(got, expected + std::string(16 - expected.size(), '0')) << c.value;
        EXPECT_EQ(packed[3], 0x00) << "distance low byte for " << c.value;
    }
}

TEST(LzBlock, HashIsThePolynomialModulo131072) {
    for (const Bytes& b : {ascii("abcd"), hex("00 00 00 00"), hex("FF FF FF FF"), hex("01 02 03 04"), hex("80 7F 01 FE")}) {
        const std::uint64_t exact = b[0] * 317ull * 317 * 317 + b[1] * 317ull * 317 + b[2] * 317ull + b[3];
        EXPECT_EQ(pakHash4(b.data()), exact % 131072);
    }
}

TEST(LzBlock, HashCollisionGivesLiteralsNotAnotherCandidate) {
    const Bytes c = collidingWithAbcd();
    ASSERT_EQ(c.size(), 4u);
    ASSERT_NE(c, ascii("abcd"));
    // "abcd", then the colliding bytes, then "abcd" again: the table holds the
    // colliding position for that hash, so the second "abcd" is not matched
    // against the first one.
    Bytes input = ascii("abcd");
    input.insert(input.end(), c.begin(), c.end());
    const Bytes tail = ascii("abcdVWXYZ");
    input.insert(input.end(), tail.begin(), tail.end());
    const Bytes packed = compress(input);
    EXPECT_EQ(packed.size(), 1 + 2 + (input.size() - 1)) << "literals only";
    EXPECT_EQ(packed, referenceCompress(input));
}

TEST(LzBlock, MatchesTheStepByStepCoderOnVariedInputsAndDecodes) {
    std::vector<Bytes> inputs;
    for (std::uint32_t seed = 1; seed <= 40; ++seed) inputs.push_back(test::mixedData(seed * 97 % 5000, seed));
    inputs.push_back(test::mixedData(300000, 7));            // distances far past 256 and long matches
    inputs.push_back(Bytes(70000, 0));                        // one long overlapping match
    inputs.push_back(repeat(sequence(0, 251), 400));         // period 251: matches at every position
    inputs.push_back(repeat(ascii("abcdefgh"), 1000));       // 8-byte period: word compare at its edge
    for (const auto& in : inputs) {
        const Bytes packed = compress(in);
        ASSERT_EQ(packed, referenceCompress(in)) << "size " << in.size();
        // And back, into a buffer of exactly the block's size.
        std::vector<std::uint8_t> out(in.size());
        ASSERT_EQ(pakDecompressBlock(packed.data(), packed.size(), out.data(), static_cast<std::uint32_t>(in.size())),
                  static_cast<std::int64_t>(packed.size()));
        EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin())) << "size " << in.size();
    }
}

// Compresses `in`, checks the bytes against the step-by-step coder and that
// they decode to `in` again, with nothing written past the block.
void expectSameAsReferenceAndBack(const Bytes& in, const std::string& what) {
    const Bytes packed = compress(in);
    ASSERT_EQ(packed, referenceCompress(in)) << what;
    Bytes out(in.size() + 16, 0xCC);
    ASSERT_EQ(pakDecompressBlock(packed.data(), packed.size(), out.data(), static_cast<std::uint32_t>(in.size())),
              static_cast<std::int64_t>(packed.size()))
        << what;
    EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin())) << what;
    EXPECT_EQ(Bytes(out.end() - 16, out.end()), Bytes(16, 0xCC)) << "canary, " << what;
}

TEST(LzBlock, RepeatedPatternsOfEveryShortPeriodMatchTheStepByStepCoder) {
    // A match that overlaps itself enters only its last period of positions
    // inside the run: runs just longer and shorter than their period, with
    // literals before them that move the match's bits across tag-word
    // boundaries, and the run ending at the block's end or just before it.
    for (std::uint32_t period : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 16u, 31u}) {
        const Bytes unit = test::mixedData(period, period * 13 + 1);
        for (std::uint32_t lead : {0u, 1u, 3u, 6u, 14u, 15u, 16u, 17u}) {
            for (std::uint32_t runLength : {period + 3, period + 4, period + 5, period + 8, 2 * period + 7, 100u, 1000u}) {
                for (std::uint32_t tail : {0u, 1u, 4u, 5u, 9u}) {
                    Bytes in = sequence(100, static_cast<int>(lead));
                    for (std::uint32_t i = 0; i < runLength; ++i) in.push_back(unit[i % period]);
                    const Bytes after = sequence(200, static_cast<int>(tail));
                    in.insert(in.end(), after.begin(), after.end());
                    expectSameAsReferenceAndBack(in, "period " + std::to_string(period) + " lead " +
                                                         std::to_string(lead) + " run " + std::to_string(runLength) +
                                                         " tail " + std::to_string(tail));
                }
            }
        }
    }
}

TEST(LzBlock, LongMatchCodesSpanSeveralTagWords) {
    // gamma(L − 2) of a run of a million bytes is 38 bits: with its flag it
    // fills the rest of one tag word, a whole second one and part of a
    // third, all reserved back to back before the distance byte.
    for (std::uint32_t lead : {0u, 5u, 15u}) {
        for (std::uint32_t n : {65538u, 131075u, 1u << 20}) {
            Bytes in = sequence(1, static_cast<int>(lead));
            in.resize(in.size() + n, 0x5A);
            expectSameAsReferenceAndBack(in, "lead " + std::to_string(lead) + " run " + std::to_string(n));
        }
    }
    // Far distances give long distance codes after long length codes.
    Bytes far = test::mixedData(600000, 99);
    const Bytes start(far.begin(), far.begin() + 70000);
    far.insert(far.end(), start.begin(), start.end());
    expectSameAsReferenceAndBack(far, "a copy 600000 bytes back");
    // A long copy from far back gives a group of more than 48 bits (flag,
    // 32-bit length code, 16-bit distance code), which the coder puts in two
    // steps when the current tag word is far enough along: after 0 to 15
    // literals, every start within the word.
    const Bytes noise = test::mixedData(70000, 7);
    for (int lead = 0; lead < 16; ++lead) {
        Bytes in = sequence(1, lead);
        in.insert(in.end(), noise.begin(), noise.end());
        in.insert(in.end(), noise.begin(), noise.end());
        expectSameAsReferenceAndBack(in, "lead " + std::to_string(lead) + " before a copy 70000 bytes back");
    }
}

TEST(LzBlock, RandomizedInputsMatchTheStepByStepCoder) {
    // Mixed runs, copies and noise, cut to varied lengths, and the same with
    // a short pattern written over part of it: every token shape at every
    // offset within a tag word, in blocks that end anywhere.
    std::uint32_t x = 2024;
    auto next = [&x] {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        return x;
    };
    for (int round = 0; round < 300; ++round) {
        const std::uint32_t n = round < 100 ? next() % 64 : next() % 20000;
        Bytes in = test::mixedData(n, next());
        if (round % 2 == 1 && n > 8) {
            const std::uint32_t period = 1 + next() % 12, at = next() % n, span = next() % (n - at);
            for (std::uint32_t i = 0; i < span; ++i) in[at + i] = in[at + i % period];
        }
        expectSameAsReferenceAndBack(in, "round " + std::to_string(round) + " size " + std::to_string(n));
    }
}

TEST(LzBlock, RoundTripsEveryLengthUpTo600) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        const Bytes data = test::mixedData(600, seed);
        for (std::size_t n = 0; n <= data.size(); ++n) {
            const Bytes in(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
            const Bytes packed = compress(in);
            ASSERT_LE(packed.size(), pakMaxPackedSize(static_cast<std::uint32_t>(n)));
            Bytes out(n + 8, 0xCC);
            ASSERT_EQ(pakDecompressBlock(packed.data(), packed.size(), out.data(), static_cast<std::uint32_t>(n)),
                      static_cast<std::int64_t>(packed.size()))
                << n;
            EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin())) << n;
            EXPECT_EQ(Bytes(out.end() - 8, out.end()), Bytes(8, 0xCC)) << "canary after " << n;
            // Every byte of the stream is needed: one byte less must fail.
            if (n > 0) {
                EXPECT_EQ(pakDecompressBlock(packed.data(), packed.size() - 1, out.data(), static_cast<std::uint32_t>(n)),
                          -1)
                    << n;
            }
        }
    }
}

TEST(LzBlock, IncompressibleInputStaysWithinTheBound) {
    Bytes noise(100000);
    std::uint32_t x = 12345;
    for (auto& b : noise) b = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 23);
    const Bytes packed = compress(noise);
    EXPECT_LE(packed.size(), pakMaxPackedSize(100000));
    EXPECT_GE(packed.size(), noise.size() + (noise.size() - 1) / 16 * 2);  // 2 bytes per 16 literals
}

struct HostileBlock {
    const char* name;
    Bytes stream;
    std::uint32_t length;
};

TEST(LzBlockDecoder, RefusesHostileStreamsWithinItsBuffers) {
    const HostileBlock cases[] = {
        {"no bytes at all", {}, 1},
        {"no tag word", hex("61"), 2},
        {"half a tag word", hex("61 00"), 2},
        {"literal flag without its byte", hex("61 00 00"), 2},
        {"distance 2 with one byte produced", hex("61 00 80 01"), 5},
        {"distance far before the start", hex("61 00 83 FF"), 40},
        {"match of 4 with room for 3", hex("61 00 80 00"), 4},
        {"match flag, stream ends in the length", hex("61 00 C0"), 10},
        {"match flag, stream ends before the distance byte", hex("61 00 80"), 10},
        {"length code that never ends", hex("61 FF FF FF FF FF FF FF FF FF FF FF FF"), 4000},
        {"distance code that never ends", hex("61 FF 9F FF FF FF FF FF FF"), 4000},
        {"tag words run out between literals", hex("61 00 00 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70 71"), 40},
    };
    for (const auto& c : cases) {
        // Exactly as many bytes as the stream has: the sanitizers see any read past it.
        std::vector<std::uint8_t> in(c.stream);
        std::vector<std::uint8_t> out(c.length + 16, 0xCC);
        EXPECT_EQ(pakDecompressBlock(in.data(), in.size(), out.data(), c.length), -1) << c.name;
        EXPECT_EQ(Bytes(out.end() - 16, out.end()), Bytes(16, 0xCC)) << "canary, " << c.name;
    }
}

TEST(LzBlockDecoder, OverlappingMatchesRepeatTheirPeriod) {
    struct Overlap {
        std::uint32_t period, length;
    };
    for (const auto& c : {Overlap{1, 50}, Overlap{2, 33}, Overlap{3, 12}, Overlap{7, 100}, Overlap{8, 64}, Overlap{9, 200},
                          Overlap{300, 1000}}) {
        Bytes in = test::mixedData(c.period, c.period);
        while (in.size() < c.length) in.push_back(in[in.size() - c.period]);
        const Bytes packed = compress(in);
        Bytes out(in.size());
        ASSERT_EQ(pakDecompressBlock(packed.data(), packed.size(), out.data(), static_cast<std::uint32_t>(out.size())),
                  static_cast<std::int64_t>(packed.size()));
        EXPECT_EQ(out, in) << "period " << c.period;
    }
}

TEST(LzBlockDecoder, EndsWhereTheBlockEndsEvenWithMoreInput) {
    Bytes packed = hex("61 00 3C 62 63 02");
    packed.insert(packed.end(), {0xFF, 0xFF, 0xFF});  // the next block's bytes
    Bytes out(12);
    EXPECT_EQ(pakDecompressBlock(packed.data(), packed.size(), out.data(), 12), 6);
    EXPECT_EQ(out, ascii("abcabcabcabc"));
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

constexpr detail::LzDecoder kFasterDecoders[] = {detail::LzDecoder::kShuffle, detail::LzDecoder::kPext};

std::string decoderName(detail::LzDecoder which) {
    switch (which) {
        case detail::LzDecoder::kPortable: return "portable";
        case detail::LzDecoder::kShuffle: return "shuffle";
        case detail::LzDecoder::kPext: return "pext";
    }
    return "?";
}

// Each decoder the processor runs must give the same answer and the same
// bytes as the portable one: on streams of every token shape, and on every
// cut and every flipped byte of them, which also drives them through their
// failures.
TEST(LzBlockDecoder, EveryDecoderAgreesWithThePortableOne) {
    int ran = 0;
    for (const detail::LzDecoder which : kFasterDecoders) {
        if (!detail::decoderRuns(which)) continue;
        ++ran;
        std::uint32_t x = 77;
        auto next = [&x] {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            return x;
        };
        auto expectAgree = [which](const Bytes& stream, std::uint32_t length, const std::string& what) {
            Bytes a(length + 16, 0xCC), b(length + 16, 0xCC);
            const std::int64_t ra = detail::decompressBlockWith(detail::LzDecoder::kPortable, stream.data(),
                                                                stream.size(), a.data(), length);
            const std::int64_t rb = detail::decompressBlockWith(which, stream.data(), stream.size(), b.data(), length);
            EXPECT_EQ(ra, rb) << decoderName(which) << ", " << what;
            if (ra != -1) {
                EXPECT_EQ(a, b) << decoderName(which) << ", " << what;
            }
        };
        for (int round = 0; round < 60; ++round) {
            const std::uint32_t n = round < 20 ? 1 + next() % 64 : 1 + next() % 30000;
            Bytes in = test::mixedData(n, next());
            if (round % 3 == 0)
                in = repeat(sequence(static_cast<int>(next() % 256), 1 + static_cast<int>(next() % 9)),
                            static_cast<int>(n / 4 + 1));
            const Bytes stream = compress(in);
            const std::string what = "round " + std::to_string(round);
            expectAgree(stream, static_cast<std::uint32_t>(in.size()), what);
            for (int cut = 0; cut < 8; ++cut) {
                const std::size_t keep = next() % stream.size();
                expectAgree(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(keep)),
                            static_cast<std::uint32_t>(in.size()), what + " cut at " + std::to_string(keep));
                Bytes flipped = stream;
                flipped[next() % flipped.size()] ^= static_cast<std::uint8_t>(1 + next() % 255);
                expectAgree(flipped, static_cast<std::uint32_t>(in.size()), what + " flipped");
            }
        }
    }
    if (ran == 0) GTEST_SKIP() << "this processor runs only the portable decoder";
}

// The portable decoder and every faster one this processor runs.
std::vector<detail::LzDecoder> decodersHere() {
    std::vector<detail::LzDecoder> decoders = {detail::LzDecoder::kPortable};
    for (const detail::LzDecoder which : kFasterDecoders)
        if (detail::decoderRuns(which)) decoders.push_back(which);
    return decoders;
}

// `before`, then `unit` (`dist` bytes), a match of `len` bytes from `dist`
// bytes back, and `after`.
Bytes withMatch(Bytes before, const Bytes& unit, std::uint32_t dist, std::uint32_t len, const Bytes& after) {
    before.insert(before.end(), unit.begin(), unit.end());
    for (std::uint32_t i = 0; i < len; ++i) before.push_back(before[before.size() - dist]);
    before.insert(before.end(), after.begin(), after.end());
    return before;
}

// Every decoder here must decode `in`'s block, followed in the stream by
// `extra` bytes of a next block, back to `in`, using exactly the block's
// bytes and writing nothing past the block.
void expectEveryDecoderGivesBack(const Bytes& in, std::size_t extra, const std::string& what) {
    const Bytes packed = compress(in);
    Bytes stream = packed;
    stream.insert(stream.end(), extra, 0x5A);
    const auto n = static_cast<std::uint32_t>(in.size());
    for (const detail::LzDecoder which : decodersHere()) {
        Bytes out(n + 16, 0xCC);
        ASSERT_EQ(detail::decompressBlockWith(which, stream.data(), stream.size(), out.data(), n),
                  static_cast<std::int64_t>(packed.size()))
            << decoderName(which) << ", " << what;
        EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin())) << decoderName(which) << ", " << what;
        EXPECT_EQ(Bytes(out.end() - 16, out.end()), Bytes(16, 0xCC)) << "canary, " << decoderName(which) << ", " << what;
    }
}

// The copies choose by distance and length: a period repeated from a
// register below 16, pieces of 16 above, and a first piece that serves
// every match of up to 16 bytes. Every distance around those limits, with
// every length around 16 and 32 and a few longer, each after a few literals
// so that the match's bits fall at different places in their tag word, and
// with room after it for the fast loop. Every decoder must give the input
// back and write nothing past the block.
TEST(LzBlockDecoder, EveryDecoderCopiesEveryDistanceAndLength) {
    std::vector<std::uint32_t> distances;
    for (std::uint32_t d = 1; d <= 40; ++d) distances.push_back(d);
    for (std::uint32_t d : {63u, 64u, 255u, 256u, 257u, 1000u}) distances.push_back(d);
    std::vector<std::uint32_t> lengths;
    for (std::uint32_t n = 4; n <= 20; ++n) lengths.push_back(n);
    for (std::uint32_t n : {31u, 32u, 33u, 47u, 48u, 49u, 64u, 65u, 100u, 300u}) lengths.push_back(n);
    const Bytes tail = test::mixedData(40, 5);
    for (const std::uint32_t dist : distances) {
        const Bytes unit = test::mixedData(dist, dist * 7 + 3);
        for (const std::uint32_t len : lengths) {
            for (const int lead : {0, 7}) {
                expectEveryDecoderGivesBack(withMatch(sequence(150, lead), unit, dist, len, tail), 0,
                                            "distance " + std::to_string(dist) + " length " + std::to_string(len) +
                                                " lead " + std::to_string(lead));
                if (HasFatalFailure()) return;
            }
        }
    }
}

// The fast loop stops while the room left is enough for a short match's
// 16-byte store, and the careful loop ends the block. A match at every place
// near the block's end, of lengths around 16, must come out the same through
// every decoder, with nothing written past the block. The next block's bytes
// follow the stream, as in a container, so that the room runs out before
// the input does.
TEST(LzBlockDecoder, EveryDecoderEndsShortMatchesAtEveryPlaceNearTheEnd) {
    for (const std::uint32_t dist : {3u, 20u}) {
        const Bytes unit = test::mixedData(dist, dist + 11);
        for (const std::uint32_t len : {4u, 5u, 15u, 16u, 17u, 20u, 33u}) {
            for (std::uint32_t tail = 0; tail <= 48; ++tail) {
                expectEveryDecoderGivesBack(withMatch(test::mixedData(60, 9), unit, dist, len,
                                                      test::mixedData(tail, tail + 1)),
                                            40,
                                            "distance " + std::to_string(dist) + " length " + std::to_string(len) +
                                                " tail " + std::to_string(tail));
                if (HasFatalFailure()) return;
            }
        }
    }
}

}  // namespace
}  // namespace oct
