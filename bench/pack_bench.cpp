// The LZ block codec and its container against LZ4, zlib and zstd, on the
// same two inputs in the same run:
//   picture  the pixel bytes of the 4096 × 4096 24-bit benchmark picture
//   levels   the level buffer that lvlQuantize makes of that picture
// Each case reports bytes per second of uncompressed data and, as the counter
// "ratio", uncompressed size / compressed size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "api/level_codec.h"
#include "bench_picture.h"
#include "pack/container.h"
#include "pack/lz_block.h"
#include "runtime/heap.h"

#ifdef OCT_BENCH_PEERS
#include <lz4.h>
#include <zlib.h>
#include <zstd.h>
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

enum Input { kPicture = 0, kLevels = 1 };

Bytes quantize(const BenchPicture& pic) {
    oct::LevelBuffer levels;
    if (!oct::lvlQuantize({pic.pixels.data(), pic.width, pic.height, pic.pitch,
                           static_cast<std::uint16_t>(pic.bitsPerPixel)},
                          levels))
        std::abort();
    Bytes b(levels.levels, levels.levels + levels.size);
    oct::memFree(levels.levels);
    return b;
}

const Bytes& input(std::int64_t which) {
    static const Bytes& picture = benchPicture(false).pixels;
    static const Bytes levels = quantize(benchPicture(false));
    return which == kPicture ? picture : levels;
}

void finish(benchmark::State& s, std::size_t raw, std::size_t packed) {
    s.SetBytesProcessed(static_cast<std::int64_t>(s.iterations()) * static_cast<std::int64_t>(raw));
    s.counters["ratio"] = static_cast<double>(raw) / static_cast<double>(packed);
    s.SetLabel(s.range(0) == kPicture ? "picture" : "levels");
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
    finish(s, in.size(), packed.size());
}

// One 1 MiB block (the level-9 block size), table supplied by the caller.
void BM_PakCompressBlock(benchmark::State& s) {
    const Bytes& in = input(s.range(0));
    const std::uint32_t n = 1 << 20;
    Bytes out(oct::pakMaxPackedSize(n));
    std::vector<std::uint32_t> work(oct::pakWorkMemSize() / 4);
    std::uint32_t packed = 0;
    for (auto _ : s) {
        packed = oct::pakCompressBlock(in.data(), out.data(), n, work.data());
        benchmark::DoNotOptimize(packed);
    }
    finish(s, n, packed);
}

void BM_PakDecompressBlock(benchmark::State& s) {
    const Bytes& in = input(s.range(0));
    const std::uint32_t n = 1 << 20;
    Bytes packed(oct::pakMaxPackedSize(n));
    std::vector<std::uint32_t> work(oct::pakWorkMemSize() / 4);
    packed.resize(oct::pakCompressBlock(in.data(), packed.data(), n, work.data()));
    Bytes out(n);
    for (auto _ : s) {
        if (oct::pakDecompressBlock(packed.data(), packed.size(), out.data(), n) < 0) s.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    finish(s, n, packed.size());
}

void bothInputs(benchmark::internal::Benchmark* b, std::initializer_list<std::int64_t> levels) {
    b->ArgNames({"input", "level"})->Unit(benchmark::kMillisecond);
    for (std::int64_t which : {kPicture, kLevels})
        for (std::int64_t level : levels) b->Args({which, level});
}

BENCHMARK(BM_PakPackMemory)->Apply([](auto* b) { bothInputs(b, {0, 6, 9}); });
BENCHMARK(BM_PakUnpackMemory)->Apply([](auto* b) { bothInputs(b, {0, 6, 9}); });
BENCHMARK(BM_PakCompressBlock)->Apply([](auto* b) { bothInputs(b, {9}); });
BENCHMARK(BM_PakDecompressBlock)->Apply([](auto* b) { bothInputs(b, {9}); });

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
    finish(s, in.size(), packed.size());
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
    finish(s, in.size(), packedSize);
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
    finish(s, in.size(), packed.size());
}

BENCHMARK(BM_Lz4Compress)->Apply([](auto* b) { bothInputs(b, {0}); });
BENCHMARK(BM_Lz4Decompress)->Apply([](auto* b) { bothInputs(b, {0}); });
BENCHMARK(BM_ZlibCompress)->Apply([](auto* b) { bothInputs(b, {1, 6}); });
BENCHMARK(BM_ZlibUncompress)->Apply([](auto* b) { bothInputs(b, {1, 6}); });
BENCHMARK(BM_ZstdCompress)->Apply([](auto* b) { bothInputs(b, {1, 3}); });
BENCHMARK(BM_ZstdDecompress)->Apply([](auto* b) { bothInputs(b, {1, 3}); });

#endif

}  // namespace
