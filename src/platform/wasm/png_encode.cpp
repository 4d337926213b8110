// PNG out in the WebAssembly module: none. The page saves the level picture
// with the canvas's own PNG encoder; the module writes level files and BMPs.
#include "platform/fail_reason.h"
#include "platform/png_encode.h"

namespace oct::plat {

bool pngEncode(const PngPicture&, const ByteSink&) {
    return failSet(FailCode::NoCodec, "this module writes no PNG files; the browser encodes them");
}

}  // namespace oct::plat
