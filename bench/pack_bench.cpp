// The packed container against LZ4, zlib and zstd, on the same four inputs
// in the same run, single thread:
//   levels24  the level buffer of the 4096 × 4096 24-bit benchmark picture:
//             width × height bytes, of which the first 3/8 carry codes and the
//             rest are zero
//   levels32  the same of the 32-bit picture (gray and alpha codes: the
//             first 6/8 carry codes)
//   text      10 MiB of word-like English-shaped text generated from a fixed
//             seed (makeText below)
//   random    16 MiB of uniformly random bytes from a fixed seed
// Each case reports bytes per second of uncompressed data and, as the counter
// "ratio", uncompressed size / compressed size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "api/level_codec.h"
#include "bench_picture.h"
#include "pack/container.h"
#include "runtime/heap.h"

#ifdef OCT_BENCH_PEERS
#include <lz4.h>
#include <zlib.h>
#include <zstd.h>
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

enum Input { kLevels24 = 0, kLevels32 = 1, kText = 2, kRandom = 3 };
constexpr const char* kInputNames[] = {"levels24", "levels32", "text", "random"};

Bytes quantize(const BenchPicture& pic) {
    oct::LevelBuffer levels;
    if (!oct::lvlQuantize({pic.pixels.data(), pic.width, pic.height, pic.pitch,
                           static_cast<std::uint16_t>(pic.bitsPerPixel)},
                          levels))
        std::abort();
    // The buffer is one byte per pixel whatever the depth; the codes fill
    // only its front part.
    if (levels.size != static_cast<std::int64_t>(pic.width) * pic.height) std::abort();
    Bytes b(levels.levels, levels.levels + levels.size);
    oct::memFree(levels.levels);
    return b;
}

// SplitMix64: small, fast, and the same sequence on every compiler and
// library (the standard distributions are not).
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }

private:
    std::uint64_t state_;
};

Bytes makeRandom() {
    constexpr std::size_t kSize = 16u << 20;
    Random rng(0x72616E646F6D3136ull);
    Bytes b(kSize);
    for (std::size_t i = 0; i < kSize; i += 8) {
        const std::uint64_t v = rng.next();
        std::memcpy(b.data() + i, &v, 8);
    }
    return b;
}

// Word-like text: a vocabulary of 8192 made-up words built from syllables,
// drawn with Zipf frequencies (rank r weighs 1 / (r + 2)) and the frequent
// words short; two times in five a word is instead one of three fixed
// followers of the word before it, so that phrases repeat as they do in
// prose. Sentences of 5 to 19 words with commas, capitals and full
// stops, paragraphs of 2 to 7 sentences, lines wrapped at 72 columns. Integer
// arithmetic only, so every build makes the same bytes. Generated rather than
// collected from files so that it stays the same as the repository changes,
// and so that no repeated copy gives the long-window codecs an easy match.
Bytes makeText() {
    constexpr std::size_t kSize = 10u << 20;
    constexpr const char* kOnsets[] = {"",  "b",  "c",  "d",  "f",  "g",  "h",  "l",  "m",  "n",  "p",  "r",
                                       "s", "t",  "v",  "w",  "st", "th", "ch", "sh", "br", "tr", "pl", "gr"};
    constexpr const char* kVowels[] = {"a", "e", "i", "o", "u", "a", "e", "i", "o", "ea", "ou", "ai", "y"};
    constexpr const char* kCodas[] = {"", "", "", "n", "r", "s", "t", "l", "nd", "st", "ng", "ck", "m"};
    constexpr std::uint32_t kWords = 8192;
    Random rng(0x746578742D313021ull);

    std::vector<std::string> words(kWords);
    std::vector<std::uint64_t> cumulative(kWords);
    std::uint64_t total = 0;
    for (std::uint32_t r = 0; r < kWords; ++r) {
        const std::uint32_t syllables = 1 + rng.below(r < 100 ? 1 : r < 1500 ? 2 : 3) + (r >= 5000 ? 1 : 0);
        for (std::uint32_t k = 0; k < syllables; ++k) {
            words[r] += kOnsets[rng.below(std::size(kOnsets))];
            words[r] += kVowels[rng.below(std::size(kVowels))];
            words[r] += kCodas[rng.below(std::size(kCodas))];
        }
        total += (1u << 24) / (r + 2);
        cumulative[r] = total;
    }
    auto zipf = [&] {
        const std::uint64_t u = rng.next() % total;
        return static_cast<std::uint32_t>(std::upper_bound(cumulative.begin(), cumulative.end(), u) -
                                          cumulative.begin());
    };
    std::vector<std::array<std::uint32_t, 3>> followers(kWords);
    for (auto& f : followers) f = {zipf(), zipf(), zipf()};
    std::uint32_t previous = 0;
    auto word = [&] {
        previous = rng.below(5) < 2 ? followers[previous][rng.below(3)] : zipf();
        return words[previous];
    };

    std::string text;
    text.reserve(kSize + 4096);
    std::size_t column = 0;
    auto put = [&](const std::string& w) {
        if (column > 0 && column + 1 + w.size() > 72) {
            text += '\n';
            column = 0;
        } else if (column > 0) {
            text += ' ';
            ++column;
        }
        text += w;
        column += w.size();
    };
    while (text.size() < kSize) {
        const std::uint32_t sentences = 2 + rng.below(6);
        for (std::uint32_t s = 0; s < sentences; ++s) {
            const std::uint32_t length = 5 + rng.below(15);
            for (std::uint32_t k = 0; k < length; ++k) {
                std::string w = word();
                if (k == 0) w[0] = static_cast<char>(w[0] - 'a' + 'A');
                if (k + 1 == length) w += rng.below(10) == 0 ? '?' : '.';
                else if (rng.below(12) == 0) w += ',';
                put(w);
            }
        }
        text += "\n\n";
        column = 0;
    }
    text.resize(kSize);
    return Bytes(text.begin(), text.end());
}

const Bytes& input(std::int64_t which) {
    switch (which) {
        case kLevels24: {
            static const Bytes levels = quantize(benchPicture(false));
            return levels;
        }
        case kLevels32: {
            static const Bytes levels = quantize(benchPicture(true));
            return levels;
        }
        case kText: {
            static const Bytes text = makeText();
            return text;
        }
        default: {
            static const Bytes random = makeRandom();
            return random;
        }
    }
}

void finish(benchmark::State& s, std::size_t raw, std::size_t packed) {
    s.SetBytesProcessed(static_cast<std::int64_t>(s.iterations()) * static_cast<std::int64_t>(raw));
    s.counters["ratio"] = static_cast<double>(raw) / static_cast<double>(packed);
    s.SetLabel(kInputNames[s.range(0)]);
}

// For the decoders: the last iteration's output must be the input again.
void finishUnpack(benchmark::State& s, const Bytes& in, const Bytes& out, std::size_t packed) {
    if (out != in) s.SkipWithError("output differs from the input");
    finish(s, in.size(), packed);
}

// ---------------------------------------------------------------------------
// Ours
// ---------------------------------------------------------------------------

std::int32_t packCapacity(std::size_t n, std::int32_t level) {
    const auto blocks = static_cast<std::int64_t>(n) / oct::pakBlockSizeForLevel(level) + 1;
    return static_cast<std::int32_t>(oct::kPackHeaderSize + n + n / 8 + 64 * blocks + 1);
}

Bytes pack(const Bytes& in, std::int32_t level) {
    Bytes out(static_cast<std::size_t>(packCapacity(in.size(), level)));
    const std::int32_t n = oct::pakPackMemory(in.data(), static_cast<std::int32_t>(in.size()), out.data(),
                                              static_cast<std::int32_t>(out.size()), level, nullptr);
    if (n <= 0) std::abort();
    out.resize(static_cast<std::size_t>(n));
    return out;
}

void BM_PakPackMemory(benchmark::State& s) {
    const Bytes& in = input(s.range(0));
    const auto level = static_cast<std::int32_t>(s.range(1));
    Bytes out(static_cast<std::size_t>(packCapacity(in.size(), level)));
    std::int32_t n = 0;
    for (auto _ : s) {
        n = oct::pakPackMemory(in.data(), static_cast<std::int32_t>(in.size()), out.data(),
                               static_cast<std::int32_t>(out.size()), level, nullptr);
        benchmark::DoNotOptimize(n);
    }
    finish(s, in.size(), static_cast<std::size_t>(n));
}

void BM_PakUnpackMemory(benchmark::State& s) {
    const Bytes& in = input(s.range(0));
    const Bytes packed = pack(in, static_cast<std::int32_t>(s.range(1)));
    Bytes out(in.size());
    for (auto _ : s) {
        const std::int64_t n = oct::pakUnpackMemory(packed.data(), static_cast<std::int64_t>(packed.size()),
                                                    out.data(), static_cast<std::int64_t>(out.size()));
        if (n != static_cast<std::int64_t>(in.size())) s.SkipWithError("unpack failed");
        benchmark::DoNotOptimize(out.data());
    }
    finishUnpack(s, in, out, packed.size());
}

void allInputs(benchmark::internal::Benchmark* b, std::initializer_list<std::int64_t> levels) {
    b->ArgNames({"input", "level"})->Unit(benchmark::kMillisecond);
    for (std::int64_t which : {kLevels24, kLevels32, kText, kRandom})
        for (std::int64_t level : levels) b->Args({which, level});
}

BENCHMARK(BM_PakPackMemory)->Apply([](auto* b) { allInputs(b, {6, 9}); });
BENCHMARK(BM_PakUnpackMemory)->Apply([](auto* b) { allInputs(b, {6, 9}); });

// ---------------------------------------------------------------------------
// Peers
// ---------------------------------------------------------------------------
#ifdef OCT_BENCH_PEERS

void BM_Lz4Compress(benchmark::State& s) {
    const Bytes& in = input(s.range(0));
    Bytes out(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(in.size()))));
    int n = 0;
    for (auto _ : s) {
        n = LZ4_compress_default(reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(out.data()),
                                 static_cast<int>(in.size()), static_cast<int>(out.size()));
        benchmark::DoNotOptimize(n);
    }
    finish(s, in.size(), static_cast<std::size_t>(n));
}

void BM_Lz4Decompress(benchmark::State& s) {
    const Bytes& in = input(s.range(0));
    Bytes packed(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(in.size()))));
    packed.resize(static_cast<std::size_t>(
        LZ4_compress_default(reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(packed.data()),
                             static_cast<int>(in.size()), static_cast<int>(packed.size()))));
    Bytes out(in.size());
    for (auto _ : s) {
        const int n = LZ4_decompress_safe(reinterpret_cast<const char*>(packed.data()),
                                          reinterpret_cast<char*>(out.data()), static_cast<int>(packed.size()),
                                          static_cast<int>(out.size()));
        if (n != static_cast<int>(in.size())) s.SkipWithError("LZ4 failed");
        benchmark::DoNotOptimize(out.data());
    }
    finishUnpack(s, in, out, packed.size());
}

void BM_ZlibCompress(benchmark::State& s) {
    const Bytes& in = input(s.range(0));
    Bytes out(compressBound(in.size()));
    uLongf n = 0;
    for (auto _ : s) {
        n = out.size();
        compress2(out.data(), &n, in.data(), in.size(), static_cast<int>(s.range(1)));
        benchmark::DoNotOptimize(n);
    }
    finish(s, in.size(), n);
}

void BM_ZlibUncompress(benchmark::State& s) {
    const Bytes& in = input(s.range(0));
    Bytes packed(compressBound(in.size()));
    uLongf packedSize = packed.size();
    compress2(packed.data(), &packedSize, in.data(), in.size(), static_cast<int>(s.range(1)));
    Bytes out(in.size());
    for (auto _ : s) {
        uLongf n = out.size();
        if (uncompress(out.data(), &n, packed.data(), packedSize) != Z_OK) s.SkipWithError("zlib failed");
        benchmark::DoNotOptimize(out.data());
    }
    finishUnpack(s, in, out, packedSize);
}

void BM_ZstdCompress(benchmark::State& s) {
    const Bytes& in = input(s.range(0));
    Bytes out(ZSTD_compressBound(in.size()));
    std::size_t n = 0;
    for (auto _ : s) {
        n = ZSTD_compress(out.data(), out.size(), in.data(), in.size(), static_cast<int>(s.range(1)));
        benchmark::DoNotOptimize(n);
    }
    finish(s, in.size(), n);
}

void BM_ZstdDecompress(benchmark::State& s) {
    const Bytes& in = input(s.range(0));
    Bytes packed(ZSTD_compressBound(in.size()));
    packed.resize(ZSTD_compress(packed.data(), packed.size(), in.data(), in.size(), static_cast<int>(s.range(1))));
    Bytes out(in.size());
    for (auto _ : s) {
        if (ZSTD_decompress(out.data(), out.size(), packed.data(), packed.size()) != in.size())
            s.SkipWithError("zstd failed");
        benchmark::DoNotOptimize(out.data());
    }
    finishUnpack(s, in, out, packed.size());
}

BENCHMARK(BM_Lz4Compress)->Apply([](auto* b) { allInputs(b, {0}); });
BENCHMARK(BM_Lz4Decompress)->Apply([](auto* b) { allInputs(b, {0}); });
BENCHMARK(BM_ZlibCompress)->Apply([](auto* b) { allInputs(b, {1, 6}); });
BENCHMARK(BM_ZlibUncompress)->Apply([](auto* b) { allInputs(b, {1, 6}); });
BENCHMARK(BM_ZstdCompress)->Apply([](auto* b) { allInputs(b, {1, 3}); });
BENCHMARK(BM_ZstdDecompress)->Apply([](auto* b) { allInputs(b, {1, 3}); });

#endif

}  // namespace
