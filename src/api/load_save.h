// Loading and saving records: pictures through the image decoders, level
// files from disk or memory, and level files or BMP files out. Each call is
// an operation of its own for the reason of the last failure
// (platform/fail_reason.h): it starts afresh, and a failure leaves its reason.
#pragma once

#include <cstdint>

#include "api/record.h"

namespace oct {

// A new record from a file: a picture that a decoder takes, else a level
// file. Null on failure, with nothing left allocated and the file closed.
OctImage* octLoadRecord(const char16_t* fileName);

// The same from a memory block of `size` bytes.
OctImage* octCatchRecord(const std::uint8_t* data, std::int64_t size);

// Writes the record: with `bitmap` its rebuilt bitmap as a BMP file, else a
// level file. True when the whole file reached its name; a failed save
// leaves a file that already had the name as it was.
bool octSaveRecord(OctImage& record, const char16_t* fileName, bool bitmap);

}  // namespace oct
