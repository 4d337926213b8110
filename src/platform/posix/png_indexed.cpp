#include "platform/posix/png_indexed.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>

#include "platform/fail_inject.h"
#include "platform/png_encode.h"

namespace oct::plat {
namespace {

// IDAT chunks of at most this much: any size is valid, and this keeps each
// write to the sink large without holding a decoder to one huge chunk.
constexpr std::size_t kIdatBytes = 1 << 20;

void putBig32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// One chunk: length, type, data, and the CRC-32 of type and data.
bool putChunk(const ByteSink& sink, const char* type, const std::uint8_t* data, std::size_t n) {
    std::uint8_t head[8];
    putBig32(head, static_cast<std::uint32_t>(n));
    std::memcpy(head + 4, type, 4);
    std::uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    if (n) crc = libdeflate_crc32(crc, data, n);
    std::uint8_t tail[4];
    putBig32(tail, crc);
    return sink.write(sink.context, head, 8) && (n == 0 || sink.write(sink.context, data, n)) &&
           sink.write(sink.context, tail, 4);
}

bool putHeader(const ByteSink& sink, const PngPicture& p) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::uint8_t ihdr[13];
    putBig32(ihdr, static_cast<std::uint32_t>(p.width));
    putBig32(ihdr + 4, static_cast<std::uint32_t>(p.height));
    ihdr[8] = static_cast<std::uint8_t>(p.bitDepth);
    ihdr[9] = 3;   // indexed colour
    ihdr[10] = 0;  // deflate
    ihdr[11] = 0;  // adaptive filtering, each row's filter byte (here always None)
    ihdr[12] = 0;  // not interlaced
    std::uint8_t plte[3 * 256];
    std::memcpy(plte, p.palette, 3 * static_cast<std::size_t>(p.paletteSize));
    return sink.write(sink.context, kSignature, sizeof kSignature) && putChunk(sink, "IHDR", ihdr, sizeof ihdr) &&
           putChunk(sink, "PLTE", plte, 3 * static_cast<std::size_t>(p.paletteSize)) &&
           (p.alphaCount == 0 || putChunk(sink, "tRNS", p.alpha, static_cast<std::size_t>(p.alphaCount)));
}

// The filtered image data, each row after its filter byte (0, None), in one
// block of crtAlloc; null when memory runs out.
std::uint8_t* gatherRows(const PngPicture& p, std::size_t& size) {
    const std::size_t stride = pngRowBytes(p) + 1;
    size = stride * static_cast<std::size_t>(p.height);
    auto* rows = static_cast<std::uint8_t*>(crtAlloc(size, false));
    if (!rows) return nullptr;
    for (std::int32_t y = 0; y < p.height; ++y) {
        std::uint8_t* row = rows + static_cast<std::size_t>(y) * stride;
        row[0] = 0;
        p.row(p.rowContext, y, row + 1);
    }
    return rows;
}

}  // namespace

bool pngEncodeIndexed(const PngPicture& p, const ByteSink& sink) {
    if (p.colour != PngColour::Indexed || p.filter || p.paletteSize < 1 || p.paletteSize > 256 ||
        p.alphaCount < 0 || p.alphaCount > p.paletteSize ||
        (p.bitDepth != 1 && p.bitDepth != 2 && p.bitDepth != 4 && p.bitDepth != 8) ||
        p.paletteSize > (1 << p.bitDepth))
        return false;
    if (failThisCall(FailKind::Codec)) return false;
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(std::clamp(p.level, 1, 12));
    if (!compressor) return false;
    std::size_t rawSize = 0;
    std::uint8_t* raw = gatherRows(p, rawSize);
    const std::size_t bound = raw ? libdeflate_zlib_compress_bound(compressor, rawSize) : 0;
    auto* packed = raw ? static_cast<std::uint8_t*>(crtAlloc(bound, false)) : nullptr;
    const std::size_t packedSize = packed ? libdeflate_zlib_compress(compressor, raw, rawSize, packed, bound) : 0;
    libdeflate_free_compressor(compressor);
    crtFree(raw);
    bool ok = packedSize > 0 && putHeader(sink, p);
    for (std::size_t at = 0; ok && at < packedSize; at += kIdatBytes)
        ok = putChunk(sink, "IDAT", packed + at, std::min(kIdatBytes, packedSize - at));
    crtFree(packed);
    return ok && putChunk(sink, "IEND", nullptr, 0);
}

}  // namespace oct::plat
