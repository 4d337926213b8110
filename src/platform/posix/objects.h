// The Linux layer's own GDI-like objects: bitmaps, icons and fonts behind
// 64-bit handles. A handle is the object's address with a tag of its registration;
// it is used only after the live set confirms that it names a live object of
// the expected kind, registered under that very handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/fonts.h"
#include "platform/handles.h"

struct FT_FaceRec_;  // FreeType's face record; only font.cpp and text.cpp look inside

namespace oct::plat::posix {

struct Object {
    HandleKind kind;
    virtual ~Object() = default;
};

// A DIB section: bottom-up as the library's images are, or top-down as the
// raster that text is rendered into.
struct Bitmap final : Object {
    std::int32_t width = 0, height = 0;
    // Bytes from one stored row to the next. The library's own sections pad
    // rows to 4 bytes; one over a host's memory (dibSectionWrap) has the
    // host's pitch, negative when its rows run downward in memory.
    std::int32_t widthBytes = 0;
    std::uint16_t bitsPerPixel = 0;
    bool topDown = false;          // rows stored top row first
    bool borrowed = false;         // bits are the host's: never freed here
    std::uint8_t* bits = nullptr;  // the first stored row; the library's own: widthBytes × height bytes
    ~Bitmap() override;

    // The pixels of row `r`, counted from the top whatever the row order.
    std::uint8_t* rowFromTop(std::int32_t r) const {
        const std::int32_t memoryRow = topDown ? r : height - 1 - r;
        return bits + static_cast<std::ptrdiff_t>(memoryRow) * widthBytes;
    }
};

// An icon as USER32 keeps one: a colour image and its AND mask at the size
// the icon was built at.
struct Icon final : Object {
    std::int32_t width = 0, height = 0;
    // False for a monochrome icon, for which Windows keeps no colour bitmap
    // (only a mask of twice the height, the AND rows over the XOR rows).
    bool colourBitmap = false;
    std::uint8_t* pixels = nullptr;  // width × height B, G, R, A, top row first
    std::uint8_t* mask = nullptr;    // width × height bytes, top row first: 1 where the background shows
    ~Icon() override;
};

// A font: the description it was made from and the FreeType face that
// fontconfig chose for it, sized to the description's height.
struct Font final : Object {
    LogFont description{};
    FT_FaceRec_* face = nullptr;
    // A face serves one thread at a time: loading a glyph changes its slot,
    // and drawing sets its transform.
    std::mutex use;
    bool stock = false;           // the shared stock font, never deleted
    bool italic = false;          // the face is italic or oblique, or slanted here (syntheticItalic)
    bool syntheticItalic = false; // italic asked for, upright face: glyphs are sheared when loaded
    std::int32_t ascent = 0, descent = 0;  // the cell above and below the baseline, pixels
    ~Font() override;
};

// Registers a new object and returns its handle, a positive value (0 when it
// cannot be registered). A deleted object's handle stays refused, even when a
// new object takes its address, at least until 32,767 more objects have been
// registered.
Handle objectRegister(Object* object);
// The live object of `kind` behind a handle, or null. The object stays valid
// until the caller deletes it; callers do not share handles across threads
// while one of them deletes.
Object* objectLookup(Handle handle, HandleKind kind);
// Unregisters and deletes the object; false when the handle is not live.
bool objectRemove(Handle handle);

}  // namespace oct::plat::posix
