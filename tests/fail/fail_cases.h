// The public paths that the failure loops run, each as a FailCase over the
// files of one FailCases object.
#pragma once

#include <vector>

#include "fail/fail_loop.h"
#include "test_files.h"

namespace octtest {

// The folder and the inputs the cases share; it must outlive every loop
// over its cases.
class FailCases {
public:
    FailCases();
    FailCases(const FailCases&) = delete;
    FailCases& operator=(const FailCases&) = delete;

    // octLoad of a BMP, an icon and a level file; octCatch of a BMP and a
    // level file; octConvert of 24- and 32-bit bitmaps; octSave with flag 0
    // and 1 of 24- and 32-bit records; an archive created, listed and
    // extracted; a palette BMP at 1, 4 and 8 bits; imgResample; a drawing
    // script with shapes, images and text; PNG, JPEG, GIF, TIFF and WebP
    // loads; PNG saves, indexed and RGBA.
    std::vector<FailCase> all();

    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
    Bytes bmp_, bmp32_, level_;
};

}  // namespace octtest
