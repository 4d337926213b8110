// Image blending support: the alpha-blend entry point of the system's imaging
// library and whether visual styles are active, both probed once at start.
#pragma once

namespace oct {

// Start step: imgStartAlpha (image/alpha.h), then asks the
// common controls for their version and the theme library whether the
// application is themed. Missing libraries or entry points leave the blending
// entry empty and visual styles inactive.
void imgStartBlending();
// Stop step: frees the imaging library loaded at start.
void imgStopBlending();

// True when the application is themed and the common controls are 6.0 or later.
bool imgVisualStylesActive();

}  // namespace oct
