// The property of the file-stream fuzz target, as a plain function that the
// libFuzzer entry and the seed replay test both call. False when the property
// is broken; a crash or sanitizer report is a failure too.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "file/stream.h"
#include "platform/files.h"
#include "runtime/object_table.h"

namespace oct::fuzz {

namespace detail {

// Reads the input as a program, one operation at a time; past its end every
// read gives 0.
struct Program {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool done() const { return at >= size; }
    std::uint32_t u8() { return at < size ? data[at++] : 0; }
    std::uint32_t u16() { return u8() | u8() << 8; }
};

// What the file holds and where the stream stands in it, as a stream without
// buffering would see them.
struct StreamModel {
    std::vector<std::uint8_t> content;
    std::size_t position = 0;
    bool readOnly = false;
};

}  // namespace detail

// Input: a program of stream operations on one file:
//   0 n16      write n bytes (a counter pattern) at the position
//   1 n16      read n bytes
//   2          the size
//   3 m f      close (pending bytes reach the file) and reopen: mode m % 3 + 1
//              (1 read an existing file, 2 open or create, 3 create or
//              truncate); f bit 0 unbuffered, bit 1 append (mode 2), bit 2 a
//              numbered stream rather than a dynamic one, bits 3-4 sharing
//   4          a write of nothing and a read into nothing
//   5 f        close every stream at once, delete the file (f bit 0: clearing
//              its attributes first), find that it cannot be opened for
//              reading, and open it again for reading and writing: empty
// Every answer is what a plain file would give: writes land at the logical
// position whatever the buffer holds (after read-ahead too), reads give the
// bytes written before them and stop short at the end, the size counts
// pending bytes, a read-only stream takes no writes. At the end the file
// holds exactly the model's bytes. Sizes reach past the 4 KiB buffer, so
// reads and writes that bypass it, fill it or straddle it all happen.
inline bool checkStream(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("oct-stream-fuzz-" + std::to_string(plat::processId()) + ".bin");
    const std::u16string name = file.u16string();
    std::filesystem::remove(file);

    detail::Program program{data, size};
    detail::StreamModel model;
    std::int64_t id = filCreate(AnyId, name.c_str());
    if (!id) return true;  // nothing to check without the file
    std::int64_t use = id;  // the id the calls take: the address, or the number
    std::uint8_t counter = 0;
    std::vector<std::uint8_t> buffer;
    bool ok = true;
    for (int steps = 0; ok && !program.done() && steps < 64; ++steps) {
        switch (program.u8() % 6) {
        case 0: {
            const std::size_t n = program.u16() % 9000 + 1;
            buffer.resize(n);
            for (auto& b : buffer) b = counter++;
            const std::int64_t wrote = filWrite(use, buffer.data(), static_cast<std::int64_t>(n));
            if (model.readOnly) {
                ok = wrote == 0;
                break;
            }
            ok = wrote == static_cast<std::int64_t>(n);
            if (model.content.size() < model.position + n) model.content.resize(model.position + n);
            std::copy(buffer.begin(), buffer.end(), model.content.begin() + static_cast<std::ptrdiff_t>(model.position));
            model.position += n;
            break;
        }
        case 1: {
            const std::size_t n = program.u16() % 9000 + 1;
            buffer.assign(n, 0xEE);
            const std::int64_t got = filRead(use, buffer.data(), static_cast<std::int64_t>(n));
            const std::size_t expect = std::min(n, model.content.size() - std::min(model.position, model.content.size()));
            ok = got == static_cast<std::int64_t>(expect) &&
                 std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(expect),
                            model.content.begin() + static_cast<std::ptrdiff_t>(model.position)) &&
                 std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(expect), buffer.end(),
                             [](std::uint8_t b) { return b == 0xEE; });
            model.position += expect;
            break;
        }
        case 2:
            ok = filSize(use) == static_cast<std::int64_t>(model.content.size());
            break;
        case 3: {
            const std::int32_t mode = static_cast<std::int32_t>(program.u8() % 3 + 1);
            const std::uint32_t f = program.u8();
            ok = filClose(use) == 1 && filRead(use, &counter, 1) == 0 && filSize(use) == -1;
            std::uint32_t flags = (f & 1 ? kFileUnbuffered : 0) | (f & 2 ? kFileAppend : 0);
            flags |= (f >> 3 & 3) == 1 ? kFileShareRead : (f >> 3 & 3) == 2 ? kFileShareAll : 0;
            const std::int64_t number = f & 4 ? 5 : AnyId;
            id = filOpenEx(number, name.c_str(), mode, flags);
            use = number == AnyId ? id : number;
            if (!id) return false;  // the file exists: every mode opens it
            if (mode == 3) model.content.clear();
            model.position = mode == 2 && (flags & kFileAppend) ? model.content.size() : 0;
            model.readOnly = mode == 1;
            break;
        }
        case 5: {
            const std::int32_t flags = program.u8() & 1 ? 2 : 0;
            ok = filClose(AnyId) == 1 && filSize(use) == -1 && filDeleteEx(name.c_str(), flags) == 1 &&
                 filOpenRead(AnyId, name.c_str()) == 0 && filDelete(name.c_str()) == 0;
            id = use = filOpen(AnyId, name.c_str());
            if (!id) return false;
            model = {};
            break;
        }
        default:
            ok = filWrite(use, nullptr, 10) == 0 && filWrite(use, &counter, 0) == 0 &&
                 filRead(use, nullptr, 10) == 0 && filRead(use, &counter, -1) == 0;
            break;
        }
    }
    ok = filClose(use) == 1 && ok;
    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> stored{std::istreambuf_iterator<char>(in), {}};
    in.close();
    std::filesystem::remove(file);
    return ok && stored == model.content;
}

}  // namespace oct::fuzz
