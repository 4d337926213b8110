// libFuzzer target: TIFF pictures loaded through the image layer; the property
// and entry points are in picture_load_entry.h. Seeds: corpus/tiff_fuzz/ and the
// TIFF pictures of tests/data.
#include "picture_load_entry.h"
