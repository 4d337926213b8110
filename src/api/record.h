// The conversion record: what one conversion owns, from the export that
// creates it until octFree. Each record procedure fills one field and does
// nothing when that field is already there, so repeating a step is harmless.
#pragma once

#include <cstdint>

#include "api/level_file.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"

struct OctImage {
    std::int64_t source;             // the loaded source image (dynamic image id), or 0; owned
    oct::plat::Handle sourceBitmap;  // the source's bitmap; never owned by the record; 0 once
                                     // octConvert returns, as the host's may go at any time then
    oct::plat::BitmapDesc bitmapInfo;// BITMAP of sourceBitmap; all zero for level files; its bits
                                     // null once octConvert returns
    oct::OctHeader header;           // the level-file header in its file form
    std::uint8_t* levels;            // level buffer (memAlloc), or null; owned
    std::int64_t levelsSize;
    std::uint8_t* packed;            // compressed payload (memAlloc), or null; owned
    std::int64_t packedSize;
    std::int64_t image;              // the rebuilt image (dynamic image id), or 0; owned
    oct::plat::Handle imageBitmap;   // its bitmap, which the image owns
};

namespace oct {

// Builds levels and levelsSize from bitmapInfo and fills the header; 1 at
// once when levels are present. 0 on failure, with the record as it was.
std::int64_t octQuantizeRecord(OctImage& record);

// Builds image and imageBitmap from levels and header; 1 at once when the
// image is present. 0 on failure, with the record as it was.
std::int64_t octRebuildRecord(OctImage& record);

// octQuantizeRecord and then octRebuildRecord, in one pass over the pixels
// that writes the rebuilt ones as it quantizes (lvlQuantizeRebuild). With
// `intoSource`, a source the record owns that is a single bottom-up DIB
// section of the rebuilt size and depth takes the rebuilt rows itself and
// becomes the rebuilt image (the source is then 0), which spares a second
// picture's memory; any other gets a new image. 0 on failure, with the
// record as it was.
std::int64_t octConvertRecord(OctImage& record, bool intoSource);

// Builds packed and packedSize from levels (codec 4, level 9); 1 at once when
// packed is present, 0 when levels are absent or packing fails (packed stays 0).
std::int64_t octPackRecord(OctImage& record);

// Sets levelsSize to the header's rawSize and restores levels from packed; 1
// at once when levels are present, 0 when packed is absent or unpacking fails
// (levels and levelsSize are then 0).
std::int64_t octUnpackRecord(OctImage& record);

// A new record, every field zero; null when there is no memory.
OctImage* octNewRecord();

// Frees everything the record owns, then the record: whatever fields are
// there, so every failure path of a record's making ends here. Null does
// nothing.
void octFreeRecord(OctImage* record);

}  // namespace oct
