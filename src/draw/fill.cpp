// Flood fill: a scanline fill over the spans of a region, with a work list
// in place of recursion.
//
// Filling a span from (x, r): walk left from x − 1 while the pixel is inside,
// colouring each, then right from x while it is inside and in the area; the
// two pixels that stopped the walks, L and R, bound the span (both
// excluded), which is recorded in row r's list. Then the row above (r > 0)
// and the row below (r < height − 1) are scanned from L + 1 to R − 1: every
// inside pixel whose left neighbour in that scan was not inside, and which
// no recorded span of its row covers, starts the fill of a new span, at
// once, before the scan goes on.
//
// That is a depth-first recursion, one level per span; a region of many
// spans would need as many stack frames. Here each frame is a record on an
// explicit stack (the work list): the scan in progress keeps its place, a
// new span is pushed on top and scanned to the end before the scan below it
// resumes, so spans are filled, and pixels coloured, in exactly the order of
// the recursion.
//
// The recorded spans keep a span from being filled twice even when
// colouring leaves its pixels inside (a front colour equal to the colour
// being filled, or an exclusive-or with 0).
#include <cstring>

#include "draw/plot.h"
#include "draw/primitives.h"
#include "runtime/block_pool.h"
#include "runtime/heap.h"

namespace oct {

// A filled span of one row, both ends excluded.
struct SpanRecord {
    std::int32_t left, right;
    SpanRecord* next;
};

// One span whose neighbour rows are being scanned.
struct FillFrame {
    std::int32_t row, left, right;
    std::int32_t x;          // the next pixel of the scan
    bool below;              // scanning the row below (else the row above)
    bool previousInside;     // the scan's last pixel was inside
};

struct FillState {
    BlockPool* pool;         // span records; emptied after each fill
    SpanRecord** heads;      // one list per row
    std::int64_t headCount;  // rows the array holds
    FillFrame* frames;       // the work list
    std::int64_t frameCapacity;
};

namespace {

// Span records come from the pool in chunks of this many.
constexpr std::int32_t kSpanChunkMin = 128;
constexpr std::int32_t kSpanChunkMax = 1024;

// A pixel's colour as a 24-bit value in memory order; the alpha byte is ignored.
std::uint32_t memoryColour(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16;
}

class Filler {
public:
    Filler(DrawContext& c, FillState& s, std::uint32_t border, std::uint32_t startColour)
        : c_(c), s_(s), fillsColour_(border == 0xFFFFFFFFu) {
        // 0x00BBGGRR turned into memory order (blue lowest).
        reference_ = fillsColour_ ? startColour
                                  : ((border >> 16) & 0xFF) | (border & 0xFF00) | ((border & 0xFF) << 16);
    }

    // Fills the region from (x, y); false when memory ran out part way.
    bool run(std::int32_t x, std::int32_t y) {
        if (!fillSpan(x, y)) return false;
        while (depth_ > 0) {
            FillFrame& f = s_.frames[depth_ - 1];
            const std::int32_t row = f.below ? f.row + 1 : f.row - 1;
            if ((f.below ? f.row >= c_.height - 1 : f.row <= 0) || f.x >= f.right) {
                if (f.below) {
                    --depth_;
                } else {
                    f.below = true;
                    f.x = f.left + 1;
                    f.previousInside = false;
                }
                continue;
            }
            const std::int32_t px = f.x++;
            const bool in = inside(px, row);
            const bool starts = in && !f.previousInside;
            f.previousInside = in;
            // fillSpan may move the work list: f is not used after it.
            if (starts && !covered(px, row) && !fillSpan(px, row)) return false;
        }
        return true;
    }

private:
    bool inside(std::int32_t x, std::int32_t y) const {
        return (memoryColour(drwPixel(c_, x, y)) == reference_) == fillsColour_;
    }

    bool covered(std::int32_t x, std::int32_t row) const {
        for (const SpanRecord* s = s_.heads[row]; s; s = s->next)
            if (s->left < x && x < s->right) return true;
        return false;
    }

    void colour(std::int32_t x, std::int32_t y) { drwColourPixel(c_, x, y, drwPixel(c_, x, y)); }

    // Fills the span through (x, row), records it and pushes its frame.
    bool fillSpan(std::int32_t x, std::int32_t row) {
        std::int32_t left = x - 1;
        for (; left >= 0 && inside(left, row); --left) colour(left, row);
        std::int32_t right = x;
        for (; right < c_.width && inside(right, row); ++right) colour(right, row);

        auto* record = static_cast<SpanRecord*>(memPoolAlloc(s_.pool));
        if (!record || !reserveFrame()) return false;
        *record = {left, right, s_.heads[row]};
        s_.heads[row] = record;
        s_.frames[depth_++] = {row, left, right, left + 1, false, false};
        return true;
    }

    bool reserveFrame() {
        if (depth_ < s_.frameCapacity) return true;
        const std::int64_t capacity = s_.frameCapacity ? s_.frameCapacity * 2 : 256;
        auto* frames = static_cast<FillFrame*>(memMainAlloc(capacity * static_cast<std::int64_t>(sizeof(FillFrame)), false));
        if (!frames) return false;
        if (depth_) std::memcpy(frames, s_.frames, static_cast<std::size_t>(depth_) * sizeof(FillFrame));
        memMainFree(s_.frames);
        s_.frames = frames;
        s_.frameCapacity = capacity;
        return true;
    }

    DrawContext& c_;
    FillState& s_;
    bool fillsColour_;          // border −1: inside is the start pixel's colour
    std::uint32_t reference_;   // memory order
    std::int64_t depth_ = 0;    // frames on the work list
};

// The fill state, with row heads for at least `rows` rows, all cleared.
// The array is sized on each call to the area it fills, so a fill after
// unclip, on a taller area than the first, has a head for every row.
FillState* prepare(DrawContext& c, std::int32_t rows) {
    if (!c.fill) {
        c.fill = static_cast<FillState*>(memMainAlloc(sizeof(FillState)));
        if (!c.fill) return nullptr;
    }
    FillState& s = *c.fill;
    if (!s.pool) s.pool = memPoolCreate(sizeof(SpanRecord), kSpanChunkMin, kSpanChunkMax, kPoolUnlocked);
    if (!s.pool) return nullptr;
    if (s.headCount < rows) {
        memMainFree(s.heads);
        s.heads = static_cast<SpanRecord**>(memMainAlloc(static_cast<std::int64_t>(sizeof(SpanRecord*)) * rows, false));
        s.headCount = s.heads ? rows : 0;
        if (!s.heads) return nullptr;
    }
    std::memset(s.heads, 0, sizeof(SpanRecord*) * static_cast<std::size_t>(rows));
    return &s;
}

}  // namespace

FillResult drwFill(DrawContext& c, std::int32_t x, std::int32_t y, std::uint32_t border) {
    if (!drwHasArea(c) || x < 0 || y < 0 || x >= c.width || y >= c.height) return FillResult::Outside;
    FillState* s = prepare(c, c.height);
    if (!s) return FillResult::NoMemory;
    Filler filler(c, *s, border, memoryColour(drwPixel(c, x, y)));
    const bool done = filler.run(x, y);
    memPoolReset(s->pool);
    return done ? FillResult::Filled : FillResult::NoMemory;
}

std::int64_t drwFillOp(DrawContext& c, std::int32_t x, std::int32_t y, std::uint32_t border) {
    return drwFill(c, x, y, border) == FillResult::Filled ? 1 : 0;
}

void drwReleaseFill(DrawContext& c) {
    if (!c.fill) return;
    memPoolDestroy(c.fill->pool);
    memMainFree(c.fill->heads);
    memMainFree(c.fill->frames);
    memMainFree(c.fill);
    c.fill = nullptr;
}

}  // namespace oct
