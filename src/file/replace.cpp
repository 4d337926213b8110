#include "file/replace.h"

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace oct {
namespace {
std::atomic<std::uint32_t> gTempCounter{0};

void appendNumber(std::u16string& s, std::uint32_t n) {
    char16_t digits[10];
    int len = 0;
    do {
        digits[len++] = static_cast<char16_t>(u'0' + n % 10);
        n /= 10;
    } while (n);
    while (len) s.push_back(digits[--len]);
}
}  // namespace

std::u16string filTempName(const char16_t* target) {
    std::u16string name(target);
    name += u".~";
    appendNumber(name, plat::processId());
    name += u'-';
    appendNumber(name, gTempCounter.fetch_add(1, std::memory_order_relaxed));
    return name;
}

bool filCommit(const std::u16string& temp, const char16_t* target) {
    if (plat::fileReplace(temp.c_str(), target)) return true;
    plat::fileDelete(temp.c_str());
    return false;
}

}  // namespace oct
