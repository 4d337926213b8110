// Byte strings for the pack tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

namespace oct::test {

using Bytes = std::vector<std::uint8_t>;

// "61 00 3C" → {0x61, 0x00, 0x3C}; spaces and commas are ignored.
inline Bytes hex(std::string_view text) {
    Bytes out;
    int pending = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else continue;
        if (pending < 0) {
            pending = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(pending * 16 + v));
            pending = -1;
        }
    }
    return out;
}

inline Bytes ascii(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Deterministic test data: a mix of runs, repeats from a small alphabet and
// noise, so that every kind of token appears.
inline Bytes mixedData(std::size_t n, std::uint32_t seed) {
    Bytes out(n);
    std::uint32_t x = seed * 2654435761u + 1;
    auto next = [&x] {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        return x;
    };
    for (std::size_t i = 0; i < n;) {
        const std::uint32_t r = next();
        const std::size_t run = 1 + r % 40;
        switch ((r >> 8) % 4) {
            case 0:  // a run of one byte
                for (std::size_t k = 0; k < run && i < n; ++k) out[i++] = static_cast<std::uint8_t>(r >> 16);
                break;
            case 1:  // a copy from not long ago
                if (i > 0) {
                    const std::size_t from = i - 1 - (r >> 16) % std::min<std::size_t>(i, 3000);
                    for (std::size_t k = 0; k < run && i < n; ++k) out[i++] = out[from + k];
                    break;
                }
                [[fallthrough]];
            case 2:  // text-like bytes
                for (std::size_t k = 0; k < run && i < n; ++k) out[i++] = static_cast<std::uint8_t>('a' + next() % 6);
                break;
            default:  // noise
                for (std::size_t k = 0; k < run && i < n; ++k) out[i++] = static_cast<std::uint8_t>(next());
        }
    }
    return out;
}

}  // namespace oct::test
