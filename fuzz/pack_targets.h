// The properties that the pack fuzz targets check, as plain functions: the
// libFuzzer entries in this folder call them, and tests/fuzz replays the seed
// corpus through them under every compiler. Each returns false when its
// property is broken; a crash or sanitizer report is a failure too.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "lz_reference.h"
#include "pack/archive_table.h"
#include "pack/container.h"
#include "pack/lz_block.h"
#include "pack/registry.h"
#include "platform/files.h"

namespace oct::fuzz {

// Input: a block stream, then 2 bytes (u16 LE) with the block length.
// Decoding never reads or writes outside its buffers (the destination is
// exactly the block length, so the sanitizers see any stray write), and a
// success consumes no more than it was given. Every faster decoder the
// processor runs gives the same answer and the same bytes as the portable one.
inline bool checkLzBlock(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return true;
    const std::uint32_t length = data[size - 2] | data[size - 1] << 8;
    const std::size_t streamSize = size - 2;
    std::vector<std::uint8_t> stream(data, data + streamSize);  // exactly its size
    std::vector<std::uint8_t> out(length);
    using oct::detail::LzDecoder;
    const std::int64_t used =
        oct::detail::decompressBlockWith(LzDecoder::kPortable, stream.data(), stream.size(), out.data(), length);
    if (used != -1 && (used < (length > 0 ? 1 : 0) || static_cast<std::size_t>(used) > streamSize)) return false;
    for (const LzDecoder which : {LzDecoder::kShuffle, LzDecoder::kPext}) {
        if (!oct::detail::decoderRuns(which)) continue;
        std::vector<std::uint8_t> other(length);
        const std::int64_t otherUsed =
            oct::detail::decompressBlockWith(which, stream.data(), stream.size(), other.data(), length);
        if (otherUsed != used || (used != -1 && other != out)) return false;
    }
    return true;
}

// Input: any bytes, read as a packed container. The destination gets the
// size the header announces, bounded so that a hostile header cannot ask for
// gigabytes; unpacking either fails or fills exactly that size.
inline bool checkContainer(const std::uint8_t* data, std::size_t size) {
    constexpr std::int64_t kMaxOutput = std::int64_t{1} << 18;
    std::int64_t announced = 0;
    if (size >= 16) std::memcpy(&announced, data + 8, 8);
    const std::int64_t capacity = std::clamp<std::int64_t>(announced, 0, kMaxOutput);
    std::vector<std::uint8_t> container(data, data + size);
    // Not zero-filled: the check only needs the bounds.
    const std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[static_cast<std::size_t>(capacity)]);
    const std::int64_t n = pakUnpackMemory(container.data(), static_cast<std::int64_t>(size), out.get(), capacity);
    return n == -1 || (n == announced && n <= capacity);
}

// Input: the bytes to pack, then 1 byte whose signed value is the level
// (pakCompress limits it to 0..9). Packing with room enough succeeds, stays
// below the capacity, and unpacks to the input; and the block coder gives the
// step-by-step coder's bytes for the input.
inline bool checkPackRoundTrip(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return true;
    const auto level = static_cast<std::int8_t>(data[size - 1]);
    const std::int64_t n = static_cast<std::int64_t>(size - 1);
    const std::int64_t blocks = n / pakBlockSizeForLevel(std::clamp<std::int32_t>(level, 0, 9)) + 1;
    const std::int64_t capacity = kPackHeaderSize + n + n / 8 + 64 * blocks + 1;
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(capacity));
    const std::int64_t p = pakCompress(data, n, packed.data(), capacity, kPakCodecLz, level);
    if (p <= 0 || p >= capacity) return false;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(n));
    if (pakUncompress(packed.data(), p, out.data(), n, kPakCodecLz) != n) return false;
    if (n != 0 && std::memcmp(out.data(), data, static_cast<std::size_t>(n)) != 0) return false;
    // As one block, the bytes must be the step-by-step coder's, bit for bit.
    const std::vector<std::uint8_t> in(data, data + n);
    static std::vector<std::uint32_t> work(pakWorkMemSize() / sizeof(std::uint32_t));
    std::vector<std::uint8_t> block(pakMaxPackedSize(static_cast<std::uint32_t>(n)));
    block.resize(pakCompressBlock(in.data(), block.data(), static_cast<std::uint32_t>(n), work.data()));
    return block == referenceCompress(in);
}

// The bytes of a file; none when it cannot be read.
inline std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Extracts entry `name` into memory (when its unpacked size is at most
// `limit`) and to the file `target`; true when both fail or both give the
// same bytes.
inline bool extractsAlike(const PackPlugin& p, PackArchive* a, const char16_t* name, const std::u16string& target,
                          std::int64_t limit) {
    std::vector<std::uint8_t> memory(static_cast<std::size_t>(limit));
    const std::int64_t n = p.extractMemory(a, memory.data(), limit, name);
    if (n < 0) return true;  // too large for the check, or broken: nothing to compare
    const std::filesystem::path path(target);
    std::filesystem::remove(path);
    if (p.extractFile(a, target.c_str(), name) != n) return false;
    const std::vector<std::uint8_t> written = fileBytes(path);
    std::filesystem::remove(path);
    return written.size() == static_cast<std::size_t>(n) && std::equal(written.begin(), written.end(), memory.begin());
}

// Input: any bytes, written to a file and opened as a pack archive through
// codec 4's plugin table. The listing ends; every listed entry's sizes are
// 0 or more and its name converts; extracting each entry into memory (room
// for its unpacked size, bounded so that a hostile header cannot ask for
// gigabytes) either fails or gives exactly its unpacked size; and a lookup
// by name finds an entry of that name.
inline bool checkArchive(const std::uint8_t* data, std::size_t size) {
    constexpr std::int64_t kMaxOutput = std::int64_t{1} << 20;
    static const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("oct-archive-fuzz-" + std::to_string(plat::processId()) + ".pak");
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) return true;  // nothing to check without the file
    }
    const PackPlugin& p = *pakFindCodec(kPakCodecLz)->plugin;
    auto* object = static_cast<ArchiveObject*>(objNewObject(pakArchiveTable(), AnyId));
    if (!object) return false;
    object->plugin = &p;
    const std::int64_t id = reinterpret_cast<std::int64_t>(object);
    bool ok = true;
    if (PackArchive* a = p.openArchive(object, file.u16string().c_str())) {
        ok = p.listEntries(a) == 1;
        std::vector<std::u16string> names;
        while (ok && p.nextEntry(a)) {
            const std::int64_t unpacked = p.entrySize(a, 0);
            const std::int64_t stored = p.entrySize(a, 1);
            const char16_t* name = p.entryName(a, 0);
            ok = unpacked >= 0 && stored >= 0 && name != nullptr && p.entryType(a) == 0;
            if (!ok) break;
            names.emplace_back(name);
            const std::int64_t capacity = std::min(unpacked, kMaxOutput);
            const std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[static_cast<std::size_t>(capacity) + 1]);
            const std::int64_t n = p.extractMemory(a, out.get(), capacity, nullptr);
            ok = n == -1 || (n == unpacked && n <= capacity);
        }
        // The first entry of each name: found again by its name.
        for (std::size_t i = 0; ok && i < names.size() && i < 4; ++i) {
            std::uint8_t small[16];
            const std::int64_t n = p.extractMemory(a, small, sizeof small, names[i].c_str());
            ok = n == -1 || (n >= 0 && n <= 16);
        }
        // The first entry extracted to a file holds what extracting it into
        // memory gives, or both fail.
        if (ok && !names.empty()) ok = extractsAlike(p, a, names[0].c_str(), file.u16string() + u".out", kMaxOutput);
    }
    pakFreeArchive(id);
    return ok;
}

// Input: a compression level (first byte % 10), then entries, each
//   h          bits 0-3: name length; bit 4: added from a file rather than
//              from memory; bit 5: data repeat a 3-byte unit (packs well)
//   name       that many bytes, each one UTF-16 unit (0 becomes '_')
//   n16        the data's size
//   data       bit 5: 3 bytes; else up to n bytes (fewer at the input's end)
// for at most 100 entries. Creating an archive of them succeeds, and opening
// it again lists exactly those entries in order: names, unpacked sizes,
// stored sizes no larger, and extracting each (the current one into memory;
// by name, the first entry of that name; the last entry to a file) gives its
// data. Adding a file writes the same bytes as adding its contents from
// memory: a second archive of the same entries, all from memory, is the same
// file byte for byte.
struct RoundTripEntry {
    std::u16string name;
    std::vector<std::uint8_t> data;
    bool fromFile;
};

// Creates `path` as an archive of the entries (from files only when
// `files`); false when a step fails.
inline bool createArchiveOf(const PackPlugin& p, const std::filesystem::path& path, std::int32_t level,
                            const std::vector<RoundTripEntry>& entries, bool files) {
    auto* object = static_cast<ArchiveObject*>(objNewObject(pakArchiveTable(), AnyId));
    if (!object) return false;
    object->plugin = &p;
    bool ok = false;
    if (PackArchive* a = p.createArchive(object, path.u16string().c_str(), 0, level)) {
        const std::filesystem::path source = path.string() + ".entry";
        ok = true;
        for (const RoundTripEntry& e : entries) {
            if (files && e.fromFile) {
                {
                    std::ofstream out(source, std::ios::binary | std::ios::trunc);
                    out.write(reinterpret_cast<const char*>(e.data.data()), static_cast<std::streamsize>(e.data.size()));
                }
                ok = p.addFile(a, source.u16string().c_str(), e.name.c_str()) != 0;
            } else {
                ok = p.addMemory(a, e.data.data(), static_cast<std::int64_t>(e.data.size()), e.name.c_str()) != 0;
            }
            if (!ok) break;
        }
        std::filesystem::remove(source);
    }
    pakFreeArchive(reinterpret_cast<std::int64_t>(object));
    return ok;
}

inline bool checkArchiveRoundTrip(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return true;
    const std::int32_t level = data[0] % 10;
    std::vector<RoundTripEntry> entries;
    std::size_t at = 1;
    while (at < size && entries.size() < 100) {
        const std::uint8_t h = data[at++];
        RoundTripEntry e{{}, {}, (h & 0x10) != 0};
        for (std::size_t i = 0; i < (h & 15u) && at < size; ++i, ++at)
            e.name.push_back(static_cast<char16_t>(data[at] ? data[at] : '_'));
        std::size_t n = 0;
        if (at + 2 <= size) n = data[at] | data[at + 1] << 8;
        at = std::min(at + 2, size);
        if (h & 0x20) {
            std::uint8_t unit[3] = {0, 0, 0};
            for (std::size_t i = 0; i < 3 && at < size; ++i) unit[i] = data[at++];
            for (std::size_t i = 0; i < n; ++i) e.data.push_back(unit[i % 3]);
        } else {
            n = std::min(n, size - at);
            e.data.assign(data + at, data + at + n);
            at += n;
        }
        entries.push_back(std::move(e));
    }
    const PackPlugin& p = *pakFindCodec(kPakCodecLz)->plugin;
    const std::filesystem::path base = std::filesystem::temp_directory_path() /
                                       ("oct-archive-roundtrip-fuzz-" + std::to_string(plat::processId()));
    const std::filesystem::path withFiles = base.string() + ".pak", fromMemory = base.string() + "-memory.pak";
    if (!createArchiveOf(p, withFiles, level, entries, true) || !createArchiveOf(p, fromMemory, level, entries, false))
        return false;
    bool ok = fileBytes(withFiles) == fileBytes(fromMemory);

    auto* object = static_cast<ArchiveObject*>(objNewObject(pakArchiveTable(), AnyId));
    if (!object) return false;
    object->plugin = &p;
    PackArchive* a = ok ? p.openArchive(object, withFiles.u16string().c_str()) : nullptr;
    ok = a && p.listEntries(a) == 1;
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; ok && i < entries.size(); ++i) {
        const RoundTripEntry& e = entries[i];
        const auto n = static_cast<std::int64_t>(e.data.size());
        const char16_t* name = p.nextEntry(a) ? p.entryName(a, 0) : nullptr;
        out.assign(e.data.size() + 1, 0);
        ok = name && e.name == name && p.entrySize(a, 0) == n && p.entrySize(a, 1) <= n &&
             p.extractMemory(a, out.data(), n, nullptr) == n && std::equal(e.data.begin(), e.data.end(), out.begin());
    }
    ok = ok && p.nextEntry(a) == 0;
    for (std::size_t i = 0; ok && i < entries.size() && i < 8; ++i) {
        if (entries[i].name.empty()) continue;
        const auto first = std::find_if(entries.begin(), entries.end(),
                                        [&](const RoundTripEntry& e) { return e.name == entries[i].name; });
        const auto n = static_cast<std::int64_t>(first->data.size());
        out.assign(first->data.size() + 1, 0);
        ok = p.extractMemory(a, out.data(), n + 1, entries[i].name.c_str()) == n &&
             std::equal(first->data.begin(), first->data.end(), out.begin());
    }
    if (ok && !entries.empty() && !entries.back().name.empty()) {
        const auto first = std::find_if(entries.begin(), entries.end(),
                                        [&](const RoundTripEntry& e) { return e.name == entries.back().name; });
        const std::filesystem::path target = base.string() + ".out";
        ok = p.extractFile(a, target.u16string().c_str(), entries.back().name.c_str()) ==
                 static_cast<std::int64_t>(first->data.size()) &&
             fileBytes(target) == first->data;
        std::filesystem::remove(target);
    }
    pakFreeArchive(reinterpret_cast<std::int64_t>(object));
    std::filesystem::remove(withFiles);
    std::filesystem::remove(fromMemory);
    return ok;
}

}  // namespace oct::fuzz
