#include "progress.h"

#include <atomic>
#include <string>

namespace oct::tool {
namespace {

constexpr int kBarWidth = 40;
// "[", the bar, "] ", and up to "100%": what a note wipes.
constexpr std::size_t kLineWidth = kBarWidth + 7;
std::atomic<ProgressBar*> gActive{nullptr};

}  // namespace

ProgressBar::ProgressBar(std::ostream& stream, std::int64_t total) : stream_(stream), total_(total) {
    gActive = this;
    std::lock_guard hold(lock_);
    draw(0);
}

ProgressBar::~ProgressBar() {
    gActive = nullptr;
    stream_ << '\n' << std::flush;
}

void ProgressBar::advance(std::int64_t done) {
    std::lock_guard hold(lock_);
    draw(done);
}

void ProgressBar::step() {
    std::lock_guard hold(lock_);
    draw(done_ + 1);
}

void ProgressBar::note(std::string_view line) {
    std::lock_guard hold(lock_);
    stream_ << '\r' << std::string(kLineWidth, ' ') << '\r' << line;
    shown_ = -1;
    draw(done_);
}

PackProgress ProgressBar::callback() { return onProgress; }

int ProgressBar::onProgress(std::int64_t inputDone, std::int64_t) {
    if (ProgressBar* bar = gActive) bar->advance(inputDone);
    return 1;
}

void ProgressBar::draw(std::int64_t done) {
    done_ = done;
    const int percent = total_ > 0 ? static_cast<int>(done * 100 / total_) : 100;
    if (percent == shown_) return;
    shown_ = percent;
    const int filled = percent * kBarWidth / 100;
    stream_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
            << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] " << percent << '%' << std::flush;
}

}  // namespace oct::tool
