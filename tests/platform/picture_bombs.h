// Tiny pictures of each format whose headers declare a picture of any size:
// the bombs that size limits and the data rule must refuse before anything
// is allocated for their pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <algorithm>

#include "test_files.h"

namespace octtest::bombs {

inline std::uint32_t crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = c >> 1 ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}
inline void be32(Bytes& b, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
}
inline void le16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void le32(Bytes& b, std::uint32_t v) {
    le16(b, v & 0xFFFF);
    le16(b, v >> 16);
}

inline Bytes pngDeclaring(std::uint32_t side) {
    Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    be32(b, 13);
    const std::size_t start = b.size();
    b.insert(b.end(), {'I', 'H', 'D', 'R'});
    be32(b, side);
    be32(b, side);
    b.insert(b.end(), {8, 6, 0, 0, 0});
    be32(b, crc32(b.data() + start, b.size() - start));
    // An IDAT of a few zlib bytes, then IEND.
    const std::uint8_t idat[] = {'I', 'D', 'A', 'T', 0x78, 0x9C, 0x63, 0x00, 0x00};
    be32(b, sizeof idat - 4);
    b.insert(b.end(), idat, idat + sizeof idat);
    be32(b, crc32(idat, sizeof idat));
    be32(b, 0);
    b.insert(b.end(), {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
    return b;
}

inline Bytes jpegDeclaring(std::uint32_t side) {
    Bytes b = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08};  // SOI, SOF0: length 17, 8 bits
    b.push_back(static_cast<std::uint8_t>(side >> 8));
    b.push_back(static_cast<std::uint8_t>(side));
    b.push_back(static_cast<std::uint8_t>(side >> 8));
    b.push_back(static_cast<std::uint8_t>(side));
    b.insert(b.end(), {3, 1, 0x22, 0, 2, 0x11, 0, 3, 0x11, 0});
    b.insert(b.end(), {0xFF, 0xDA, 0x00, 0x0C, 3, 1, 0, 2, 0x11, 3, 0x11, 0, 0x3F, 0, 0x00, 0x00, 0xFF, 0xD9});
    return b;
}

inline Bytes gifDeclaring(std::uint32_t side) {
    Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
    le16(b, side);
    le16(b, side);
    b.insert(b.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255, 0x2C});  // two-colour table, image descriptor
    le16(b, 0);
    le16(b, 0);
    le16(b, side);
    le16(b, side);
    b.insert(b.end(), {0, 2, 2, 0x4C, 0x01, 0, 0x3B});
    return b;
}

// One strip of 8-bit gray said to hold `stripBytes`, at offset 200 of a
// file of 256 bytes.
inline Bytes tiffClaiming(std::uint32_t side, std::uint32_t stripBytes) {
    Bytes b = {'I', 'I', 42, 0};
    le32(b, 8);
    const std::uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3}, {273, 4}, {277, 3}, {278, 4}, {279, 4}};
    const std::uint32_t values[] = {side, side, 8, 1, 1, 200, 1, side, stripBytes};
    le16(b, 9);
    for (int i = 0; i < 9; ++i) {
        le16(b, tags[i][0]);
        le16(b, tags[i][1]);
        le32(b, 1);
        if (tags[i][1] == 3) {
            le16(b, values[i]);
            le16(b, 0);
        } else {
            le32(b, values[i]);
        }
    }
    le32(b, 0);
    b.resize(256, 0);
    return b;
}

// The same with the strip size the picture needs.
inline Bytes tiffDeclaring(std::uint32_t side) { return tiffClaiming(side, side * side); }

inline Bytes webpDeclaring(std::uint32_t side) {
    // An extended header (VP8X) with a canvas of side × side, then a lossless
    // bitstream header: signature 0x2F, 14 bits of width − 1 and of height − 1
    // (at most 16384, so a larger canvas cannot match it and is refused too).
    const std::uint32_t image = std::min<std::uint32_t>(side, 16384) - 1;
    Bytes b = {'R', 'I', 'F', 'F'};
    le32(b, 4 + 18 + 8 + 16);
    b.insert(b.end(), {'W', 'E', 'B', 'P', 'V', 'P', '8', 'X'});
    le32(b, 10);
    le32(b, 0);  // no flags, reserved
    for (std::uint32_t v : {side - 1, side - 1}) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
        b.push_back(static_cast<std::uint8_t>(v >> 16));
    }
    b.insert(b.end(), {'V', 'P', '8', 'L'});
    le32(b, 16);
    b.push_back(0x2F);
    le32(b, image | image << 14);
    b.resize(b.size() + 11, 0);
    return b;
}

// The picture's bytes with every image spatial extent ("ispe": 4 bytes of
// version and flags, then width and height, big-endian) declaring side × side.
inline Bytes heifDeclaring(Bytes file, std::uint32_t side) {
    for (std::size_t at = 0; at + 16 <= file.size(); ++at) {
        if (std::memcmp(file.data() + at, "ispe", 4) != 0) continue;
        for (std::size_t i = 0; i < 8; ++i) file[at + 8 + i] = static_cast<std::uint8_t>(side >> (24 - 8 * (i % 4)));
    }
    return file;
}

// A JPEG XL codestream whose size header declares side × side (side ≥ 2^18:
// the 30-bit form of both sides), with default metadata, then zeros.
inline Bytes jxlDeclaring(std::uint32_t side) {
    Bytes b = {0xFF, 0x0A};
    std::vector<bool> bits;
    auto put = [&](std::uint64_t v, int n) {  // least significant bit first
        for (int i = 0; i < n; ++i) bits.push_back((v >> i) & 1);
    };
    put(0, 1);             // not small
    put(3, 2);             // height: 1 + 30 bits
    put(side - 1, 30);
    put(0, 3);             // no ratio: the width follows
    put(3, 2);
    put(side - 1, 30);
    put(1, 1);             // all metadata default
    for (std::size_t i = 0; i < bits.size(); i += 8) {
        std::uint8_t byte = 0;
        for (std::size_t j = 0; j < 8 && i + j < bits.size(); ++j) byte |= static_cast<std::uint8_t>(bits[i + j] << j);
        b.push_back(byte);
    }
    b.resize(b.size() + 64, 0);
    return b;
}

}  // namespace octtest::bombs
