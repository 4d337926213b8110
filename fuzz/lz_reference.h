// The LZ block coder written out step by step, for the tests and the fuzz
// checks that hold the real coder to it byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "pack/lz_block.h"

namespace oct::fuzz {

// As slowly and plainly as the block's description: a table of positions,
// empty at the start, lazy insertion, one candidate, byte-by-byte match
// counting, one bit at a time. The real coder must give the same bytes for
// every input.
inline std::vector<std::uint8_t> referenceCompress(const std::vector<std::uint8_t>& in) {
    const std::size_t n = in.size();
    std::vector<std::uint8_t> out;
    if (n == 0) return out;
    out.push_back(in[0]);
    if (n == 1) return out;
    std::unordered_map<std::uint32_t, std::int64_t> table;  // hash -> last position entered
    std::size_t tagPos = 1;
    out.resize(3);
    std::uint32_t acc = 0;
    int freeBits = 16;
    auto put = [&](std::uint32_t bit) {
        if (freeBits == 0) {
            out[tagPos] = static_cast<std::uint8_t>(acc);
            out[tagPos + 1] = static_cast<std::uint8_t>(acc >> 8);
            tagPos = out.size();
            out.resize(out.size() + 2);
            freeBits = 15;
        } else {
            --freeBits;
        }
        acc = acc * 2 + bit;
    };
    auto gamma = [&](std::uint32_t v) {
        std::uint32_t m = 1;
        while (m * 2 <= v / 2) m *= 2;
        put((v & m) != 0);
        while (m / 2 != 0) {
            m /= 2;
            put(1);
            put((v & m) != 0);
        }
        put(0);
    };
    std::size_t cur = 1, insert = 0, remaining = n - 1;
    while (remaining > 4) {
        for (std::size_t p = insert; p < cur; ++p) table[pakHash4(&in[p])] = static_cast<std::int64_t>(p);
        insert = cur;
        const auto found = table.find(pakHash4(&in[cur]));
        const std::int64_t candidate = found == table.end() ? -1 : found->second;
        std::size_t len = 0;
        if (candidate >= 0)
            while (len < remaining && in[candidate + len] == in[cur + len]) ++len;
        if (len > 3) {
            const std::size_t d = cur - static_cast<std::size_t>(candidate);
            put(1);
            gamma(static_cast<std::uint32_t>(len - 2));
            gamma(static_cast<std::uint32_t>((d - 1) / 256 + 2));
            out.push_back(static_cast<std::uint8_t>((d - 1) % 256));
            cur += len;
            remaining -= len;
        } else {
            put(0);
            out.push_back(in[cur]);
            ++cur;
            --remaining;
        }
    }
    while (remaining > 0) {
        put(0);
        out.push_back(in[cur++]);
        --remaining;
    }
    acc <<= freeBits;
    out[tagPos] = static_cast<std::uint8_t>(acc);
    out[tagPos + 1] = static_cast<std::uint8_t>(acc >> 8);
    return out;
}

}  // namespace oct::fuzz
