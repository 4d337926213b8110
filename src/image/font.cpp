#include "image/font.h"

#include "platform/platform.h"

namespace oct {
namespace {
int gScreenPixelsPerInchY = 96;
}

void fntStartModule() { gScreenPixelsPerInchY = plat::displayPixelsPerInchY(); }

void fntStopModule() {}

int fntScreenPixelsPerInchY() { return gScreenPixelsPerInchY; }

}  // namespace oct
