#include "file_io.h"

#include <atomic>
#include <fstream>
#include <system_error>

#include "platform/fail_reason.h"
#include "platform/files.h"
#include "platform/utf8.h"
#include "reason.h"
#include "runtime/file_replace.h"

namespace oct::tool {
namespace {

std::string quoted(std::string_view arg) { return "'" + std::string(arg) + "'"; }

std::optional<Bytes> readStream(std::istream& in, std::string& error) {
    Bytes data;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        data.insert(data.end(), chunk, chunk + in.gcount());
        if (static_cast<std::int64_t>(data.size()) >= kMaxInputSize) {
            error = "standard input holds 2 GiB or more, which is more than the library can take";
            return std::nullopt;
        }
    }
    if (in.bad()) {
        error = "cannot read standard input";
        return std::nullopt;
    }
    return data;
}

}  // namespace

std::u16string toolName(std::string_view utf8) {
    std::u16string name(utf16LengthOf(utf8), u'\0');
    utf16Encode(utf8, name.data());
    return name;
}

std::filesystem::path toolPath(std::string_view utf8) { return std::filesystem::path(toolName(utf8)); }

std::string toolUtf8(std::u16string_view text) {
    std::string out(utf8LengthOf(text), '\0');
    utf8Encode(text, out.data());
    return out;
}

std::optional<Bytes> readFile(const std::filesystem::path& p, std::string_view arg, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_regular_file(p, ec)) {
        error = "cannot read " + quoted(arg) + ": " + (ec ? ec.message() : std::string("no such file"));
        return std::nullopt;
    }
    const std::uintmax_t size = fs::file_size(p, ec);
    if (ec) {
        error = "cannot read " + quoted(arg) + ": " + ec.message();
        return std::nullopt;
    }
    // Checked before reading, so a huge file costs nothing.
    if (size >= static_cast<std::uintmax_t>(kMaxInputSize)) {
        error = quoted(arg) + " is 2 GiB or larger, which is more than the library can take";
        return std::nullopt;
    }
    std::ifstream in(p, std::ios::binary);
    Bytes data(static_cast<std::size_t>(size));
    if (!in || !in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size))) {
        error = "cannot read " + quoted(arg);
        return std::nullopt;
    }
    return data;
}

std::optional<Bytes> readInput(std::string_view arg, ToolContext& context, std::string& error) {
    if (arg != kStandardStream) return readFile(toolPath(arg), arg, error);
    if (!context.in) {
        error = "standard input is not available";
        return std::nullopt;
    }
    return readStream(*context.in, error);
}

bool writeOutput(std::string_view arg, const void* data, std::size_t size, ToolContext& context, std::string& error) {
    if (arg == kStandardStream) {
        context.out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (context.out.flush()) return true;
        error = "cannot write standard output";
        return false;
    }
    // The library's own replacing writer: an old file stays whole until the
    // new one is complete, links and devices are written through.
    const std::u16string name = toolName(arg);
    FileReplace save;
    // The reason of this save's failure, not of an earlier call's: the
    // system's words for it ("no space left on the device") where it gave
    // them.
    plat::failBegin();
    const bool ok = filBeginReplace(save, name.c_str()) &&
                    filReplaceWrite(save, data, static_cast<std::int64_t>(size)) && filFinishReplace(save, true);
    if (!ok) error = toolCannotWrite(arg, "(a read-only file or a folder there, or no such folder)");
    return ok;
}

std::optional<Bytes> bytesSavedBy(const std::function<bool(const char16_t* name)>& save) {
    static std::atomic<unsigned> counter{0};
    std::error_code ec;
    const auto temp = std::filesystem::temp_directory_path(ec) /
                      ("octtool-" + std::to_string(plat::processId()) + "-" + std::to_string(counter++) + ".tmp");
    if (ec || !save(temp.u16string().c_str())) return std::nullopt;
    std::string error;
    std::optional<Bytes> bytes = readFile(temp, "", error);
    std::filesystem::remove(temp, ec);
    return bytes;
}

std::optional<Bytes> savedBytes(OctImage* record, std::int64_t flag) {
    return bytesSavedBy([&](const char16_t* name) { return octSave(record, name, flag) == 1; });
}

}  // namespace oct::tool
