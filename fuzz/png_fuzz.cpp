// libFuzzer target: PNG pictures loaded through the image layer; the property
// and entry points are in picture_load_entry.h. Seeds: corpus/png_fuzz/ and the
// PNG pictures of tests/data.
#include "picture_load_entry.h"
