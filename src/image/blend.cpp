#include "image/blend.h"

#include <cstdint>

#include "image/alpha.h"
#include "platform/libraries.h"

namespace oct {
namespace {

bool gVisualStyles = false;

// The version record that the common controls' DllGetVersion fills: five
// 32-bit fields, the first being the record's own size.
struct DllVersionInfo {
    std::uint32_t size;
    std::uint32_t major;
    std::uint32_t minor;
    std::uint32_t build;
    std::uint32_t platform;
};
using DllGetVersionFn = std::int32_t (*)(DllVersionInfo*);
using IsAppThemedFn = std::int32_t (*)();

// Visual styles need common controls 6.0: major shifted left 16, plus minor.
constexpr std::uint32_t kVisualStylesVersion = 0x60000;

std::uint32_t commonControlsVersion() {
    plat::Library* lib = plat::libraryLoad(u"COMCTL32.DLL");
    std::uint32_t version = 0;
    if (auto get = reinterpret_cast<DllGetVersionFn>(plat::libraryProc(lib, "DllGetVersion"))) {
        DllVersionInfo info{sizeof(DllVersionInfo), 0, 0, 0, 0};
        if (get(&info) >= 0) version = (info.major << 16) + info.minor;
    }
    plat::libraryFree(lib);
    return version;
}

bool applicationThemed() {
    plat::Library* lib = plat::libraryLoad(u"uxtheme.dll");
    bool themed = false;
    if (auto isThemed = reinterpret_cast<IsAppThemedFn>(plat::libraryProc(lib, "IsAppThemed")))
        themed = isThemed() != 0;
    plat::libraryFree(lib);
    return themed;
}

}  // namespace

void imgStartBlending() {
    imgStartAlpha();
    std::uint32_t version = commonControlsVersion();
    gVisualStyles = applicationThemed() && version >= kVisualStylesVersion;
}

void imgStopBlending() { imgStopAlpha(); }

bool imgVisualStylesActive() { return gVisualStyles; }

}  // namespace oct
