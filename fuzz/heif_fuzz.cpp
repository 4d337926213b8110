// libFuzzer target: HEIF and AVIF pictures loaded through the image layer; the property
// and entry points are in picture_load_entry.h. Seeds: corpus/heif_fuzz/ and the
// HEIF and AVIF pictures of tests/data.
#include "picture_load_entry.h"
