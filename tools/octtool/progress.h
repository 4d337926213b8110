// A progress bar on the error stream, driven by the packer's PackProgress
// callback.
#pragma once

#include <cstdint>
#include <ostream>

#include "pack/container.h"

namespace oct::tool {

// While an instance lives, progressCallback() draws on its stream. The
// packer's callback carries no context, so one bar at a time is active.
class ProgressBar {
public:
    ProgressBar(std::ostream& stream, std::int64_t total);
    ~ProgressBar();  // ends the bar's line
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Shows `done` of the total, for work that reports progress itself.
    void advance(std::int64_t done) { draw(done); }

    // The callback to hand to pakPackMemory; it always continues.
    static PackProgress callback();

private:
    static int onProgress(std::int64_t inputDone, std::int64_t outputSoFar);
    void draw(std::int64_t done);

    std::ostream& stream_;
    std::int64_t total_;
    int shown_ = -1;  // last percentage drawn
};

}  // namespace oct::tool
