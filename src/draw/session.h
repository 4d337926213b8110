// Drawing sessions: build an output, begin, choose a mode, plot, end. Each
// thread has at most one current session; the calls below act on it.
#pragma once

#include <cstdint>

#include "draw/context.h"

namespace oct {

// Module start: the thread slot of the current session. Stop: gives it back.
void drwStartModule();
void drwStopModule();

// A new context on the image's DIB section, made the thread's current one; a
// context still current from before is ended once the new one is built. Null,
// with the thread's current session (or none) as it was, for an id that
// names no image, a handle that is not a DIB section with addressable bits,
// or when a device context or the context cannot be made.
DrawContext* drwImageOutput(std::int64_t image);

// A new zero-filled context with its operation table filled, made the
// thread's current one (ending one still current); null, with the current
// session left as it was, when it cannot be allocated.
DrawContext* drwNewContext(std::uint32_t flags);

// The pixel-buffer part of drwNewContext: flags, colours, the pixel and shape
// entries, mode 0.
void drwInitPixelOutput(DrawContext& c, std::uint32_t flags);

// Begins the session: non-zero on success. On failure the output is undone,
// the context freed and the thread left without one.
std::int64_t drwBegin(DrawContext* c);

// setMode of the current context; nothing without one.
void drwSetMode(std::uint32_t mode);

// Plots a pixel of the current area at (x + originX, y + originY). Points
// outside the area, and calls without a session, write nothing.
void drwPlot(std::int32_t x, std::int32_t y, std::uint32_t colour);

// Ends the current session: non-zero when there was one.
std::int64_t drwEnd();

// The calling thread's current context, or null.
DrawContext* drwCurrent();

}  // namespace oct
