// libFuzzer target: WebP pictures loaded through the image layer; the property
// and entry points are in picture_load_entry.h. Seeds: corpus/webp_fuzz/ and the
// WebP pictures of tests/data.
#include "picture_load_entry.h"
