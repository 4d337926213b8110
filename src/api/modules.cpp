// The start and stop orders of the runtime's modules.
//
// Steps whose modules have nothing to set up yet are present, empty, in their
// places, so that the order is visible in one table and each module fills its
// own step.
#include "image/blend.h"
#include "image/font.h"
#include "pack/registry.h"
#include "runtime/heap.h"
#include "runtime/module.h"
#include "runtime/strings.h"

namespace oct {
namespace {

void nothing() {}

constexpr ModuleStep kStartSteps[] = {
    {"heap", memStartMainHeap},
    {"strings", strStart},
    {"fonts", fntStartModule},
    {"memory", memStartModule},
    {"vector drawing", nothing},  // no vector-drawing object is ever created
    {"image decoders", nothing},
    {"bmp codec", nothing},
    {"image blending", imgStartBlending},
    {"structure maps", nothing},  // no memory block with a map member is ever created
    {"images", nothing},
    {"drawing", nothing},
    {"files", nothing},
    {"packer", nothing},
    {"packer codecs", pakStartCodecs},
};

constexpr ModuleStep kStopSteps[] = {
    {"thread exits", nothing},
    {"packer", nothing},
    {"files", nothing},
    {"images", nothing},
    {"image blending", imgStopBlending},
    {"fonts", fntStopModule},
    {"per-thread areas", nothing},
    {"memory", memStopModule},
    {"strings", strStop},
    {"heap", memStopMainHeap},
};

}  // namespace

void modStartAll() { modRunSteps(kStartSteps, true); }
void modStopAll() { modRunSteps(kStopSteps, false); }

}  // namespace oct
