#include "progress.h"

#include <string>

namespace oct::tool {
namespace {

constexpr int kBarWidth = 40;
ProgressBar* gActive = nullptr;

}  // namespace

ProgressBar::ProgressBar(std::ostream& stream, std::int64_t total) : stream_(stream), total_(total) {
    gActive = this;
    draw(0);
}

ProgressBar::~ProgressBar() {
    gActive = nullptr;
    stream_ << '\n' << std::flush;
}

PackProgress ProgressBar::callback() { return onProgress; }

int ProgressBar::onProgress(std::int64_t inputDone, std::int64_t) {
    if (gActive) gActive->draw(inputDone);
    return 1;
}

void ProgressBar::draw(std::int64_t done) {
    const int percent = total_ > 0 ? static_cast<int>(done * 100 / total_) : 100;
    if (percent == shown_) return;
    shown_ = percent;
    const int filled = percent * kBarWidth / 100;
    stream_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
            << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] " << percent << '%' << std::flush;
}

}  // namespace oct::tool
