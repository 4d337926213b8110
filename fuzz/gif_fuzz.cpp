// libFuzzer target: GIF pictures loaded through the image layer; the property
// and entry points are in picture_load_entry.h. Seeds: corpus/gif_fuzz/ and the
// GIF pictures of tests/data.
#include "picture_load_entry.h"
