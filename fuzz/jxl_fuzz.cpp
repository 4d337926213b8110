// libFuzzer target: JPEG XL pictures loaded through the image layer; the property
// and entry points are in picture_load_entry.h. Seeds: corpus/jxl_fuzz/ and the
// JPEG XL pictures of tests/data.
#include "picture_load_entry.h"
