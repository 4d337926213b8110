#include "file_io.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace oct::tool {

std::optional<std::vector<std::uint8_t>> readInputFile(const std::string& path, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path p(path);
    if (!fs::is_regular_file(p, ec)) {
        error = "cannot read '" + path + "': " + (ec ? ec.message() : std::string("no such file"));
        return std::nullopt;
    }
    const std::uintmax_t size = fs::file_size(p, ec);
    if (ec) {
        error = "cannot read '" + path + "': " + ec.message();
        return std::nullopt;
    }
    // Checked before reading, so a huge file costs nothing.
    if (size >= static_cast<std::uintmax_t>(kMaxInputSize)) {
        error = "'" + path + "' is 2 GiB or larger, which is more than the library can take";
        return std::nullopt;
    }
    std::ifstream in(p, std::ios::binary);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    if (!in || !in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size))) {
        error = "cannot read '" + path + "'";
        return std::nullopt;
    }
    return data;
}

bool writeOutputFile(const std::string& path, const void* data, std::size_t size, std::string& error) {
    const std::filesystem::path p(path);
    {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        if (out && out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size)) && out.flush())
            return true;
    }
    std::error_code ignored;
    std::filesystem::remove(p, ignored);
    error = "cannot write '" + path + "'";
    return false;
}

}  // namespace oct::tool
