// A progress bar on the error stream, driven by the packer's PackProgress
// callback, by a command's own steps, or by workers that finish one item
// each.
#pragma once

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string_view>

#include "pack/container.h"

namespace oct::tool {

// While an instance lives, progressCallback() draws on its stream. The
// packer's callback carries no context, so one bar at a time is active.
// Every member may be called from several threads at once: drawing and
// notes are serialised, so lines never interleave.
class ProgressBar {
public:
    ProgressBar(std::ostream& stream, std::int64_t total);
    ~ProgressBar();  // ends the bar's line
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Shows `done` of the total, for work that reports progress itself.
    void advance(std::int64_t done);

    // Counts one more finished item of the total and shows the count.
    void step();

    // Writes `line` (which ends in a newline) above the bar: the bar is
    // wiped, the line written, and the bar drawn again below it.
    void note(std::string_view line);

    // The callback to hand to pakPackMemory; it always continues.
    static PackProgress callback();

private:
    static int onProgress(std::int64_t inputDone, std::int64_t outputSoFar);
    void draw(std::int64_t done);  // with lock_ held

    std::mutex lock_;
    std::ostream& stream_;
    std::int64_t total_;
    std::int64_t done_ = 0;  // the last count shown
    int shown_ = -1;         // last percentage drawn; -1 forces a redraw
};

}  // namespace oct::tool
