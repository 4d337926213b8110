// Files for tests: a private folder per test, removed afterwards, with names
// as the library takes them (UTF-16) and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace octtest {

using Bytes = std::vector<std::uint8_t>;

class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string leaf = std::string("oct-") + (info ? info->name() : "test") + "-" + std::to_string(counter++);
        dir_ = std::filesystem::temp_directory_path() / leaf;
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    ~TempDir() {
        std::error_code ec;
        for (auto& entry : std::filesystem::recursive_directory_iterator(dir_, ec))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(dir_, ec);
    }
    std::filesystem::path path(const std::string& name) const { return dir_ / name; }
    // The name as the library takes it.
    std::u16string name(const std::string& leaf) const { return path(leaf).u16string(); }
    // Every entry of the folder, for "nothing else was left behind" checks.
    std::vector<std::string> entries() const {
        std::vector<std::string> out;
        for (auto& e : std::filesystem::directory_iterator(dir_)) out.push_back(e.path().filename().string());
        return out;
    }

private:
    std::filesystem::path dir_;
};

inline Bytes readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& p, const Bytes& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// FNV-1a, 64 bits: a compact record of bytes a test pins.
inline std::uint64_t fingerprint(const Bytes& bytes) {
    std::uint64_t h = 0xcbf29ce484222325u;
    for (std::uint8_t b : bytes) h = (h ^ b) * 0x100000001b3u;
    return h;
}

inline Bytes pattern(std::size_t n, std::uint8_t seed = 1) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return b;
}

}  // namespace octtest
