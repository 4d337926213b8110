// The Linux layer's own GDI-like objects: bitmaps and icons behind 64-bit
// handles. A handle is the object's address with a tag of its registration;
// it is used only after the live set confirms that it names a live object of
// the expected kind, registered under that very handle.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace oct::plat::posix {

struct Object {
    HandleKind kind;
    virtual ~Object() = default;
};

// A bottom-up DIB section.
struct Bitmap final : Object {
    std::int32_t width = 0, height = 0, widthBytes = 0;
    std::uint16_t bitsPerPixel = 0;
    std::uint8_t* bits = nullptr;  // zero-filled, widthBytes × height bytes
    ~Bitmap() override;
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
