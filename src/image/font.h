// The font module: started and stopped beside the images. Its start records
// the display's vertical resolution, which text drawing scales point sizes by.
#pragma once

namespace oct {

// Start step: records the display's vertical pixels per inch (96 without a display).
void fntStartModule();
// Stop step: deletes every font still in the font table.
void fntStopModule();

// The vertical pixels per logical inch recorded at start.
int fntScreenPixelsPerInchY();

}  // namespace oct
