// Whole reads and writes over the backends' single calls.
#include <cstdint>

#include "platform/files.h"

namespace oct::plat {
namespace {

constexpr std::int64_t kPiece = std::int64_t{1} << 30;

template <typename Byte, std::int64_t (*kMove)(File*, Byte*, std::uint32_t)>
std::int64_t moveAll(File* file, Byte* bytes, std::int64_t count) {
    std::int64_t done = 0;
    while (done < count) {
        const auto piece = static_cast<std::uint32_t>(count - done < kPiece ? count - done : kPiece);
        const std::int64_t moved = kMove(file, bytes + done, piece);
        if (moved <= 0) break;
        done += moved;
        if (moved < piece) break;  // the end of the file, or a disk that is full
    }
    return done;
}

std::int64_t readPiece(File* f, std::uint8_t* p, std::uint32_t n) { return fileRead(f, p, n); }
std::int64_t writePiece(File* f, const std::uint8_t* p, std::uint32_t n) { return fileWrite(f, p, n); }

}  // namespace

std::int64_t fileReadAll(File* file, void* destination, std::int64_t count) {
    return moveAll<std::uint8_t, readPiece>(file, static_cast<std::uint8_t*>(destination), count);
}

std::int64_t fileWriteAll(File* file, const void* source, std::int64_t count) {
    return moveAll<const std::uint8_t, writePiece>(file, static_cast<const std::uint8_t*>(source), count);
}

}  // namespace oct::plat
