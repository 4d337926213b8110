// The marker segments of a JPEG before its first scan, walked by the rule
// libjpeg reads them by, for every reader of a JPEG's headers (the header
// check, the EXIF orientation): one walk, one rule.
//
//   FF D8                      SOI, the file's first two bytes
//   [stray bytes]              skipped up to the next FF (libjpeg warns and reads on)
//   FF [FF ...] code           fill bytes FF may come before the code; FF 00 is no marker (skipped)
//   code 01, D0-D7             stand alone, no length
//   other codes                a big-endian length (2) that counts itself, then length − 2 bytes
//   FF DA, FF D9               the first scan, the end of the image: the walk stops there
//
// Pure code over a bounded block: never reads outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace oct::plat {

// One segment: its marker code and the bytes after its length field.
struct JpegSegment {
    std::uint8_t marker;
    std::span<const std::uint8_t> body;
};

class JpegSegments {
public:
    // A walk over `jpeg`; it yields nothing unless the block starts with SOI.
    explicit JpegSegments(std::span<const std::uint8_t> jpeg)
        : data_(jpeg), at_(2), done_(jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) {}

    // The next segment that has a length. False, for good, at the first scan,
    // at the end of the image, at the end of the data, or at a length that
    // is below 2 or runs past the data.
    bool next(JpegSegment& out) {
        while (!done_) {
            while (at_ < data_.size() && data_[at_] != 0xFF) ++at_;  // stray bytes
            while (at_ < data_.size() && data_[at_] == 0xFF) ++at_;  // the marker's FF and fill bytes
            if (at_ >= data_.size()) break;
            const std::uint8_t code = data_[at_++];
            if (code == 0x00 || code == 0x01 || (code >= 0xD0 && code <= 0xD7)) continue;
            if (code == 0xDA || code == 0xD9 || data_.size() - at_ < 2) break;
            const std::size_t length = static_cast<std::size_t>(data_[at_]) << 8 | data_[at_ + 1];
            if (length < 2 || length > data_.size() - at_) break;
            out = JpegSegment{code, data_.subspan(at_ + 2, length - 2)};
            at_ += length;
            return true;
        }
        done_ = true;
        return false;
    }

private:
    std::span<const std::uint8_t> data_;
    std::size_t at_;  // the next byte to look at
    bool done_;
};

}  // namespace oct::plat
