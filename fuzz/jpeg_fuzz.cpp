// libFuzzer target: JPEG pictures loaded through the image layer; the property
// and entry points are in picture_load_entry.h. Seeds: corpus/jpeg_fuzz/ and the
// JPEG pictures of tests/data.
#include "picture_load_entry.h"
