// The one way the image readers look at untrusted bytes: a cursor over a
// bounded block. Reads are little-endian unless named "be". A read that would pass the end
// returns 0, moves nothing and clears ok(); from then on every read fails the
// same way, so a parser reads a whole record and checks ok() once afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace oct {

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data, data ? size : 0) {}

    std::uint8_t u8() {
        if (!has(1)) return 0;
        return data_[pos_++];
    }
    std::uint16_t u16() {
        if (!has(2)) return 0;
        const auto v = static_cast<std::uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
        pos_ += 2;
        return v;
    }
    std::uint32_t u32() {
        if (!has(4)) return 0;
        const std::uint32_t v =
            static_cast<std::uint32_t>(data_[pos_]) | static_cast<std::uint32_t>(data_[pos_ + 1]) << 8 |
            static_cast<std::uint32_t>(data_[pos_ + 2]) << 16 | static_cast<std::uint32_t>(data_[pos_ + 3]) << 24;
        pos_ += 4;
        return v;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    // Big-endian forms, for formats that store their numbers that way.
    std::uint16_t u16be() {
        const std::uint16_t v = u16();
        return static_cast<std::uint16_t>(v >> 8 | v << 8);
    }
    std::uint32_t u32be() { return __builtin_bswap32(u32()); }

    // The next n bytes, or an empty span (and ok() false) when fewer remain.
    std::span<const std::uint8_t> take(std::size_t n) {
        if (!has(n)) return {};
        auto out = data_.subspan(pos_, n);
        pos_ += n;
        return out;
    }
    // The next n bytes or as many as remain, whichever is fewer; a short
    // result is not a failure.
    std::span<const std::uint8_t> takeUpTo(std::size_t n) {
        if (!ok_) return {};
        const std::size_t count = n < remaining() ? n : remaining();
        auto out = data_.subspan(pos_, count);
        pos_ += count;
        return out;
    }

    // Moves to an absolute position; a position past the end clears ok() and
    // leaves the cursor where it was. The end itself is a valid position.
    bool seek(std::uint64_t position) {
        if (!ok_ || position > data_.size()) return fail();
        pos_ = static_cast<std::size_t>(position);
        return true;
    }
    bool skip(std::uint64_t n) {
        if (!ok_ || n > remaining()) return fail();
        pos_ += static_cast<std::size_t>(n);
        return true;
    }

    // True while every read so far stayed inside the data.
    bool ok() const { return ok_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return data_.size() - pos_; }
    std::size_t size() const { return data_.size(); }
    std::span<const std::uint8_t> data() const { return data_; }

private:
    bool has(std::size_t n) {
        if (ok_ && n <= remaining()) return true;
        return fail();
    }
    bool fail() {
        ok_ = false;
        return false;
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace oct
