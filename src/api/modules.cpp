// The start and stop orders of the runtime's modules.
//
// Steps whose modules have nothing to set up yet are present, empty, in their
// places, so that the order is visible in one table and each module fills its
// own step.
#include "draw/session.h"
#include "file/stream.h"
#include "image/blend.h"
#include "image/bmp_reader.h"
#include "image/picture_decoders.h"
#include "image/font.h"
#include "image/image.h"
#include "pack/archive_table.h"
#include "image/decoder_registry.h"
#include "encode/encoder.h"
#include "pack/registry.h"
#include "runtime/heap.h"
#include "runtime/module.h"
#include "runtime/strings.h"
#include "runtime/thread_area.h"
#include "runtime/thread_exit.h"

namespace oct {
namespace {

void nothing() {}

void stopCodecs() {
    imgStopDecoders();
    imgStopEncoders();
}

constexpr ModuleStep kStartSteps[] = {
    {"heap", memStartMainHeap},
    {"strings", strStart},
    {"fonts", fntStartModule},
    {"memory", memStartModule},
    {"vector drawing", nothing},  // no vector-drawing object is ever created
    {"image decoders", imgStartDecoders},
    {"bmp codec", imgStartBmpCodec},
    {"picture codecs", imgStartPictureCodecs},  // after BMP, which stays the first decoder
    {"image encoders", imgStartEncoders},       // BMP, then PNG
    {"image blending", imgStartBlending},
    {"structure maps", nothing},  // no memory block with a map member is ever created
    {"images", imgStartModule},
    {"drawing", drwStartModule},
    {"files", filStartModule},
    {"packer", pakStartArchives},
    {"packer codecs", pakStartCodecs},
};

constexpr ModuleStep kStopSteps[] = {
    {"thread exits", thrExitShutdown},
    {"packer", pakStopArchives},
    {"files", filStopModule},
    {"images", imgStopModule},
    {"image codecs", stopCodecs},  // both registries emptied, so that a start fills them afresh
    {"image blending", imgStopBlending},
    {"fonts", fntStopModule},
    {"per-thread areas", thrStopAreas},
    {"drawing", drwStopModule},  // the session slot goes back too, so reloading never runs out
    {"memory", memStopModule},
    {"strings", strStop},
    {"heap", memStopMainHeap},
};

}  // namespace

bool modStartAll() { return modRunSteps(kStartSteps, true); }
void modStopAll() { modRunSteps(kStopSteps, false); }

}  // namespace oct
