// The sides HEIF, AVIF and JPEG XL files declare, read before any codec
// sees the bytes (docs/formats/heif-avif-jxl.md), so that the one gate of
// both systems holds them to the same limits as every other picture. Only
// sizes are read here; everything else is the codecs'.
#include "platform/picture_sizes_modern.h"

#include <algorithm>
#include <cstring>

namespace oct::plat {
namespace {

std::uint32_t be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// --- ISO base media boxes -------------------------------------------------------
// A box, big-endian:
//  off size
//   0   4   size      of the whole box; 1: a 64-bit size follows the type; 0: to the end
//   4   4   type
//  (8   8   64-bit size)
// then the body. A full box's body starts with version (1) and flags (3).
struct Box {
    const std::uint8_t* body;
    std::size_t size;  // of the body
    char type[4];
};

// The boxes of `data[0, size)` one after another; false at the end or at a
// box whose size does not fit what is left (the walk stops there).
class BoxWalk {
public:
    BoxWalk(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool next(Box& box) {
        const std::size_t left = size_ - at_;
        if (left < 8) return false;
        const std::uint8_t* p = data_ + at_;
        std::uint64_t total = be32(p);
        std::size_t head = 8;
        if (total == 1) {
            if (left < 16) return false;
            total = static_cast<std::uint64_t>(be32(p + 8)) << 32 | be32(p + 12);
            head = 16;
        } else if (total == 0) {
            total = left;
        }
        if (total < head || total > left) return false;
        std::memcpy(box.type, p + 4, 4);
        box.body = p + head;
        box.size = static_cast<std::size_t>(total) - head;
        at_ += static_cast<std::size_t>(total);
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

bool isType(const Box& box, const char* type) { return std::memcmp(box.type, type, 4) == 0; }

// The first box of `type` among those of `data[0, size)`.
bool findBox(const std::uint8_t* data, std::size_t size, const char* type, Box& found) {
    BoxWalk walk(data, size);
    Box box{};
    while (walk.next(box))
        if (isType(box, type)) {
            found = box;
            return true;
        }
    return false;
}

// --- JPEG XL size header ---------------------------------------------------------
// Bits are read from each byte's lowest bit up. After the signature FF 0A:
//   div8 (1)
//   div8 = 1: height = (u(5) + 1) × 8;  else height = U32(9, 13, 18, 30) + 1
//   ratio (3)
//   ratio = 0: width read as the height was (div8 alike); else width =
//   height × the ratio's fraction: 1/1, 12/10, 4/3, 3/2, 16/9, 5/4, 2/1.
// U32(a, b, c, d): a 2-bit selector, then that many bits.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool ok() const { return ok_; }
    std::uint32_t bits(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++at_) {
            if (at_ / 8 >= size_) {
                ok_ = false;
                return 0;
            }
            v |= static_cast<std::uint32_t>(data_[at_ / 8] >> (at_ % 8) & 1) << i;
        }
        return v;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

std::uint64_t jxlSide(BitReader& in, bool div8) {
    if (div8) return (static_cast<std::uint64_t>(in.bits(5)) + 1) * 8;
    static constexpr int kWidths[4] = {9, 13, 18, 30};
    return static_cast<std::uint64_t>(in.bits(kWidths[in.bits(2)])) + 1;
}

// The codestream: the whole file, or the payload of a container's jxlc box
// or of its first jxlp box (whose payload starts with a 4-byte index).
bool jxlCodestream(const std::uint8_t* data, std::size_t size, const std::uint8_t*& stream, std::size_t& length) {
    if (size >= 2 && data[0] == 0xFF && data[1] == 0x0A) {
        stream = data;
        length = size;
        return true;
    }
    BoxWalk walk(data, size);
    Box box{};
    while (walk.next(box)) {
        if (isType(box, "jxlc")) {
            stream = box.body;
            length = box.size;
            return true;
        }
        if (isType(box, "jxlp") && box.size >= 4) {
            stream = box.body + 4;
            length = box.size - 4;
            return true;
        }
    }
    return false;
}

std::int32_t clampSide(std::uint64_t v) { return static_cast<std::int32_t>(std::min<std::uint64_t>(v, INT32_MAX)); }

}  // namespace

ModernSize heifDeclaredSize(const std::uint8_t* data, std::size_t size) {
    // ftyp, then meta (a full box) holding iprp, holding ipco: every item's
    // properties, among them ispe (a full box: width (4), height (4)). The
    // largest sides of any item stand for the picture: the primary image,
    // a grid's whole, is the largest as a rule, and no item may go past the
    // limits either way.
    ModernSize out;
    Box meta{}, iprp{}, ipco{};
    if (!findBox(data, size, "meta", meta) || meta.size < 4) return out;
    if (!findBox(meta.body + 4, meta.size - 4, "iprp", iprp) || !findBox(iprp.body, iprp.size, "ipco", ipco)) {
        out.why = "no item properties";
        return out;
    }
    BoxWalk walk(ipco.body, ipco.size);
    Box box{};
    while (walk.next(box)) {
        if (!isType(box, "ispe")) continue;
        if (box.size < 12) return ModernSize{.why = "a cut spatial extent"};
        out.width = std::max(out.width, clampSide(be32(box.body + 4)));
        out.height = std::max(out.height, clampSide(be32(box.body + 8)));
    }
    out.found = out.width > 0 && out.height > 0;
    if (!out.found) out.why = "no item declares its size";
    return out;
}

ModernSize jxlDeclaredSize(const std::uint8_t* data, std::size_t size) {
    ModernSize out;
    const std::uint8_t* stream = nullptr;
    std::size_t length = 0;
    if (!jxlCodestream(data, size, stream, length) || length < 2 || stream[0] != 0xFF || stream[1] != 0x0A) {
        out.why = "no codestream";
        return out;
    }
    BitReader in(stream + 2, length - 2);
    const bool div8 = in.bits(1) != 0;
    const std::uint64_t height = jxlSide(in, div8);
    const std::uint32_t ratio = in.bits(3);
    static constexpr std::uint32_t kRatios[8][2] = {{0, 1}, {1, 1}, {12, 10}, {4, 3}, {3, 2}, {16, 9}, {5, 4}, {2, 1}};
    const std::uint64_t width = ratio == 0 ? jxlSide(in, div8) : height * kRatios[ratio][0] / kRatios[ratio][1];
    if (!in.ok()) {
        out.why = "a cut size header";
        return out;
    }
    out.width = clampSide(width);
    out.height = clampSide(height);
    out.found = true;
    return out;
}

}  // namespace oct::plat
