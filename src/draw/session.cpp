#include "draw/session.h"

#include "draw/image_draw.h"
#include "draw/plot.h"
#include "draw/primitives.h"
#include "draw/text.h"
#include "image/image.h"
#include "platform/bitmaps.h"
#include "platform/threads.h"
#include "runtime/heap.h"

namespace oct {
namespace {

// The slot that holds each thread's current context.
plat::TlsSlot gSlot = plat::kNoTlsSlot;

DrawContext* current() { return static_cast<DrawContext*>(plat::tlsGet(gSlot)); }
// False when the slot cannot hold it (no slot): the session is then refused.
bool setCurrent(DrawContext* c) { return plat::tlsSet(gSlot, c); }

void* getBits(DrawContext& c) { return c.baseBits; }
std::int64_t getPitch(DrawContext& c) { return c.pitch; }
std::uint32_t getFlags(DrawContext& c) { return c.outputFlags; }

// ---------------------------------------------------------------------------
// Image outputs
// ---------------------------------------------------------------------------

std::int64_t imageStart(DrawContext& c) {
    if (!c.bits) return 0;
    c.baseBits = c.bits;
    drwUpdateRows(c);
    // Without a text device the session still draws; its text draws nothing.
    drwStartText(c);
    return reinterpret_cast<std::int64_t>(c.surface);
}

void imageStop(DrawContext& c) {
    drwStopText(c);
    drwReleasePrimitives(c);
}

void imageRelease(DrawContext& c, bool) {
    plat::surfaceClose(c.surface);
    c.surface = nullptr;
}

void freeContext(DrawContext* c) {
    if (current() == c) setCurrent(nullptr);
    drwReleasePrimitives(*c);  // gradient stops may have been set before a failed begin
    memMainFree(c);
}

// Makes a fully built context the thread's current one. A session still
// current is ended first, so that its device context and batch limit are not
// lost with it; it is ended only here, once its successor is known to exist,
// so a failed output leaves the thread's session as it was.
bool makeCurrent(DrawContext* c) {
    if (current()) drwEnd();
    return setCurrent(c);
}

}  // namespace

void drwUpdateRows(DrawContext& c) {
    c.topRow = c.bits;
    c.rowStep = c.bottomUp ? -c.pitch : c.pitch;
    if (c.bottomUp && c.height > 0) c.topRow += static_cast<std::int64_t>(c.height - 1) * c.pitch;
}

void drwInitPixelOutput(DrawContext& c, std::uint32_t flags) {
    c.outputFlags = flags;
    c.bottomUp = (flags & OutputFlags::kBottomUp) != 0;
    c.bytesPerPixel = (flags & (OutputFlags::kRgba32 | OutputFlags::kRgba32Alt)) ? 4 : 3;
    c.gradientFirst = 0xFFFFFFFF;
    c.gradientSecond = 0xFF000000;
    c.frontColor = 0;
    c.backColor = 0;
    c.ops.setFrontColor = drwSetFrontColorOp;
    c.ops.setBackColor = drwSetBackColorOp;
    c.ops.setMode = drwSetModeOp;
    drwInstallPrimitives(c);
    c.ops.getBits = getBits;
    c.ops.getPitch = getPitch;
    c.ops.getFlags = getFlags;
    c.gradient = drwDefaultGradient;
    c.filter = drwDefaultFilter;
    drwInstallImageOps(c);
    c.ops.setMode(c, 0);
}

void drwStartModule() {
    if (gSlot == plat::kNoTlsSlot) gSlot = plat::tlsAlloc();
}

void drwStopModule() {
    plat::tlsFree(gSlot);
    gSlot = plat::kNoTlsSlot;
}

namespace {
// A zero-filled context with its operation table filled, not yet current.
DrawContext* newContext(std::uint32_t flags) {
    auto* c = static_cast<DrawContext*>(memMainAlloc(sizeof(DrawContext)));
    if (!c) return nullptr;
    drwInitPixelOutput(*c, flags);
    c->ops.start = imageStart;
    c->ops.stop = imageStop;
    drwInstallTextOps(*c);
    return c;
}
}  // namespace

DrawContext* drwNewContext(std::uint32_t flags) {
    DrawContext* c = newContext(flags);
    if (c && !makeCurrent(c)) {
        memMainFree(c);
        return nullptr;
    }
    return c;
}

DrawContext* drwImageOutput(std::int64_t image) {
    ImageObject* record = imgGetImage(image);
    if (!record) return nullptr;
    plat::BitmapDesc bm{};
    if (!plat::bitmapIsDibSection(record->handle) || !plat::bitmapDescribe(record->handle, bm) || !bm.bits)
        return nullptr;
    const std::int64_t pitch = imgRowBytes(bm.width, bm.bitsPerPixel);
    if (pitch <= 0 || pitch > bm.widthBytes) return nullptr;

    const bool four = record->depth == 32;
    // A 32-bit record over a 24-bit bitmap would address 4 bytes per pixel in 3-byte rows.
    if (four && bm.bitsPerPixel != 32) return nullptr;

    // Everything that can fail comes before the thread's current session is touched.
    plat::DrawSurface* surface = plat::surfaceOpen(record->handle);
    if (!surface) return nullptr;
    DrawContext* c = newContext(OutputFlags::kBottomUp | (four ? OutputFlags::kRgba32 : OutputFlags::kRgb24));
    if (!c) {
        plat::surfaceClose(surface);
        return nullptr;
    }
    c->target = record->handle;
    c->surface = surface;
    c->bits = static_cast<std::uint8_t*>(bm.bits);
    c->pitch = pitch;
    // The record's size, but never more than the bitmap really holds.
    c->width = record->width < bm.width ? record->width : bm.width;
    c->height = record->height < bm.height ? record->height : bm.height;
    c->depth = four ? 32 : 24;
    c->ops.release = imageRelease;
    if (!makeCurrent(c)) {
        imageRelease(*c, false);
        memMainFree(c);
        return nullptr;
    }
    // The session just ended may have held the bitmap in its device context.
    plat::surfaceSelect(surface);
    return c;
}

std::int64_t drwBegin(DrawContext* c) {
    if (!c) return 0;
    std::int64_t r = c->ops.start(*c);
    c->fullWidth = c->width;
    c->fullHeight = c->height;
    if (r) return r;
    if (c->ops.release) c->ops.release(*c, false);
    freeContext(c);
    return 0;
}

void drwSetMode(std::uint32_t mode) {
    if (DrawContext* c = current()) c->ops.setMode(*c, mode);
}

void drwPlot(std::int32_t x, std::int32_t y, std::uint32_t colour) {
    DrawContext* c = current();
    if (!c || !c->topRow) return;
    const std::int64_t px = static_cast<std::int64_t>(x) + c->originX;
    const std::int64_t py = static_cast<std::int64_t>(y) + c->originY;
    if (px < 0 || py < 0 || px >= c->width || py >= c->height) return;
    c->ops.plot(*c, static_cast<std::int32_t>(px), static_cast<std::int32_t>(py), colour);
}

std::int64_t drwEnd() {
    DrawContext* c = current();
    if (!c) return 0;
    c->ops.stop(*c);
    if (c->ops.release) c->ops.release(*c, true);
    freeContext(c);
    return 1;
}

DrawContext* drwCurrent() { return current(); }

}  // namespace oct
