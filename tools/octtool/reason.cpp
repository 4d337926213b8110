#include "reason.h"

#include "file_io.h"
#include "platform/fail_reason.h"

namespace oct::tool {
namespace {

std::string shown(std::string_view what, std::string_view stream) {
    return what == kStandardStream ? std::string(stream) : "'" + std::string(what) + "'";
}

std::string withReason(std::string head, std::string_view fallback) {
    const std::string reason = toolReason();
    if (!reason.empty()) return head + ": " + reason;
    if (fallback.empty()) return head;
    return head + " " + std::string(fallback);
}

}  // namespace

std::string toolReason() {
    const plat::FailReason& reason = plat::failLast();
    if (reason.code == plat::FailCode::None) return {};
    return reason.text[0] ? std::string(reason.text) : std::string(plat::failCodeText(reason.code));
}

std::string toolCannotRead(std::string_view what, std::string_view fallback) {
    return withReason("cannot read " + shown(what, "standard input"), fallback);
}

std::string toolCannotWrite(std::string_view what, std::string_view fallback) {
    return withReason("cannot write " + shown(what, "standard output"), fallback);
}

}  // namespace oct::tool
