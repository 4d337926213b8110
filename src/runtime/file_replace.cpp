#include "runtime/file_replace.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <new>

#include "platform/fail_reason.h"
#include "platform/files.h"

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

// The temporary file may have been created without any write permission bit
// (a umask that takes them all), which plain deletion refuses on Linux.
void deleteTemp(const std::u16string& temp) {
    if (plat::fileDelete(temp.c_str())) return;
    plat::fileSetNormalAttributes(temp.c_str());
    plat::fileDelete(temp.c_str());
}

// A save killed part-way leaves its temporary file behind, and a later
// process may get the same process number (a fresh container starts its
// programs with the same numbers every time); its names then meet the
// leftovers. A name that is taken is skipped for the next one.
constexpr int kTempNameTries = 64;

bool createTemp(FileReplace& save) {
    // A name found taken is no cause of the save's failure: what the system
    // said of it is forgotten again.
    const plat::FailReason before = plat::failLast();
    try {
        for (int i = 0; i < kTempNameTries; ++i) {
            save.temp = filTempName(save.target.c_str());
            save.file =
                plat::fileOpen(save.temp.c_str(), plat::kFileWrite, plat::kShareRead, plat::FileCreation::CreateNew);
            if (save.file) {
                plat::failRestore(before);
                return true;
            }
            std::u16string there;
            if (plat::fileExamine(save.temp.c_str(), there) == plat::FileTarget::None) break;
            plat::failRestore(before);
        }
    } catch (const std::bad_alloc&) {
        // No memory for a name: the save fails before any file exists.
        plat::failSet(plat::FailCode::NoMemory, "out of memory");
    }
    save.temp.clear();
    return false;
}

bool openTemp(FileReplace& save) {
    if (!createTemp(save)) return false;
    // The new file keeps the old one's permissions rather than getting the
    // process's defaults, which may let others read what the old one hid.
    if (!plat::fileTakeMode(save.file, save.target.c_str())) {
        plat::fileClose(save.file);
        save.file = nullptr;
        deleteTemp(save.temp);
        save.temp.clear();
        return false;
    }
    return true;
}

}  // namespace

FileReplace::~FileReplace() { filFinishReplace(*this, false); }

std::u16string filTempName(const char16_t* target) {
    std::u16string name(target);
    name += u".~";
    appendNumber(name, plat::processId());
    name += u'-';
    appendNumber(name, gTempCounter.fetch_add(1, std::memory_order_relaxed));
    return name;
}

bool filIsTempNameOf(std::u16string_view name, std::u16string_view target, std::uint32_t& process) {
    if (name.size() <= target.size() + 2 || name.substr(0, target.size()) != target ||
        name.substr(target.size(), 2) != u".~")
        return false;
    // The process number, a dash, the counter: digits on both sides.
    std::uint64_t pid = 0;
    std::size_t at = target.size() + 2;
    const std::size_t first = at;
    for (; at < name.size() && name[at] >= u'0' && name[at] <= u'9' && pid <= UINT32_MAX; ++at)
        pid = pid * 10 + (name[at] - u'0');
    if (at == first || pid > UINT32_MAX || at + 1 >= name.size() || name[at] != u'-') return false;
    for (std::size_t i = at + 1; i < name.size(); ++i)
        if (name[i] < u'0' || name[i] > u'9') return false;
    process = static_cast<std::uint32_t>(pid);
    return true;
}

bool filBeginReplace(FileReplace& save, const char16_t* name) {
    if (save.file || !name || !name[0]) return false;
    save.failed = false;
    save.written = 0;
    switch (plat::fileExamine(name, save.target)) {
        case plat::FileTarget::None:
        case plat::FileTarget::Disk: return openTemp(save);
        case plat::FileTarget::Device:
            // Written where it is: no truncation, no temporary file.
            save.file = plat::fileOpen(save.target.c_str(), plat::kFileWrite, plat::kShareRead | plat::kShareWrite,
                                       plat::FileCreation::OpenExisting);
            return save.file != nullptr;
        case plat::FileTarget::ReadOnly: return plat::failSet(plat::FailCode::NoPermission, "a read-only file");
        case plat::FileTarget::Folder: return plat::failSet(plat::FailCode::IsFolder, "a folder, not a file");
        case plat::FileTarget::Broken:
            return plat::failSet(plat::FailCode::NoSuchFile, "a symbolic link that leads nowhere");
    }
    return false;
}

void filReplaceReserve(FileReplace& save, std::int64_t bytes) {
    if (save.file && !save.failed && !save.temp.empty()) plat::fileReserve(save.file, bytes);
}

bool filReplaceWrite(FileReplace& save, const void* bytes, std::int64_t count) {
    if (!save.file || save.failed || count < 0 || (count && !bytes)) {
        save.failed = true;
        return false;
    }
    // Without pieces the system would start writing only when its own limits
    // of unwritten memory were reached, mostly inside the final flush.
    constexpr std::int64_t kPiece = std::int64_t{4} << 20;
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    const std::int64_t piece = save.temp.empty() ? count : kPiece;
    do {
        const std::int64_t n = std::min(count, piece);
        if (plat::fileWriteAll(save.file, p, n) != n) {
            save.failed = true;
            return false;
        }
        if (n == kPiece) plat::fileStartWriteback(save.file, save.written, n);
        save.written += n;
        p += n;
        count -= n;
    } while (count > 0);
    return true;
}

bool filFinishReplace(FileReplace& save, bool ok) {
    if (!save.file) return false;
    ok = ok && !save.failed;
    // A device may refuse to flush; only the temporary file must be on disk
    // before it takes the target's place.
    if (ok && !save.temp.empty()) ok = plat::fileFlush(save.file);
    ok = plat::fileClose(save.file) && ok;
    save.file = nullptr;
    if (save.temp.empty()) return ok;
    if (ok) ok = plat::fileReplace(save.temp.c_str(), save.target.c_str());
    if (!ok) deleteTemp(save.temp);
    save.temp.clear();
    return ok;
}

}  // namespace oct
