// The sides HEIF, AVIF and JPEG XL files declare, for the gate that every
// picture passes before a codec sees it (picture_header.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace oct::plat {

struct ModernSize {
    std::int32_t width = 0;   // as stored, before any turn; sides past INT32_MAX read as INT32_MAX
    std::int32_t height = 0;
    bool found = false;       // false: no size could be read, and `why` says what was missing
    const char* why = "no meta box";
};

// The largest sides any image item of a HEIF or AVIF file declares (its
// ispe properties). Never reads outside `data[0, size)`.
ModernSize heifDeclaredSize(const std::uint8_t* data, std::size_t size);

// The sides a JPEG XL file's size header declares, in a bare codestream or
// in the container's first codestream box. Never reads outside `data[0, size)`.
ModernSize jxlDeclaredSize(const std::uint8_t* data, std::size_t size);

}  // namespace oct::plat
