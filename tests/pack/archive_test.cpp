#include "pack/archive.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "pack/archive_table.h"
#include "pack/bytes.h"
#include "platform/fail_inject.h"
#include "platform/files.h"
#include "runtime/module.h"
#include "test_files.h"

namespace oct {
namespace {

using test::ascii;
using test::Bytes;
using test::hex;

const PackPlugin& lz() { return *pakFindCodec(kPakCodecLz)->plugin; }

// An archive object of the packer's table, as a host makes one, closed and
// released at the end of the test.
class Archive {
public:
    Archive() {
        // A dynamic object: its id is its record's address. The plugin, its
        // first field, makes it live.
        object_ = static_cast<ArchiveObject*>(objNewObject(pakArchiveTable(), AnyId));
        id_ = reinterpret_cast<std::int64_t>(object_);
        if (object_) object_->plugin = &lz();
    }
    ~Archive() { pakFreeArchive(id_); }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    bool create(const std::u16string& name, std::int32_t level = 6) {
        return lz().createArchive(object_, name.c_str(), 0, level) != nullptr;
    }
    bool open(const std::u16string& name) { return lz().openArchive(object_, name.c_str()) != nullptr; }
    void close() {
        lz().closeArchive(object_->archive);
        object_->archive = nullptr;
    }
    bool add(const Bytes& data, const std::u16string& name) {
        return lz().addMemory(a(), data.data(), static_cast<std::int64_t>(data.size()), name.c_str()) == 1;
    }
    // Every entry of a listing: name, unpacked size, stored size.
    struct Listed {
        std::u16string name;
        std::int64_t unpacked, stored;
        bool operator==(const Listed&) const = default;
    };
    std::vector<Listed> list() {
        std::vector<Listed> out;
        if (!lz().listEntries(a())) return out;
        while (lz().nextEntry(a())) {
            const char16_t* name = lz().entryName(a(), 0);
            out.push_back({name ? name : u"?", lz().entrySize(a(), 0), lz().entrySize(a(), 1)});
        }
        return out;
    }
    // The entry (by name; empty: the current one) into memory, or nothing on failure.
    std::optional<Bytes> extract(const std::u16string& name, std::int64_t capacity = 1 << 20) {
        Bytes out(static_cast<std::size_t>(capacity) + 1);
        const std::int64_t n = lz().extractMemory(a(), out.data(), capacity, name.c_str());
        if (n < 0) return std::nullopt;
        out.resize(static_cast<std::size_t>(n));
        return out;
    }
    PackArchive* a() const { return object_->archive; }

private:
    std::int64_t id_ = 0;
    ArchiveObject* object_ = nullptr;
};

void le(Bytes& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// An entry as the file holds it; `headerPad` bytes after the name length
// make the older 24-byte header.
Bytes entry(std::int64_t unpacked, std::int64_t stored, const std::string& name, const Bytes& data,
            int headerPad = 0, int nameLength = -1) {
    Bytes out;
    le(out, static_cast<std::uint64_t>(unpacked), 8);
    le(out, static_cast<std::uint64_t>(stored), 8);
    le(out, static_cast<std::uint64_t>(nameLength < 0 ? name.size() : nameLength), 2);
    out.insert(out.end(), headerPad, 0xEE);
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes archiveFile(std::uint32_t magic, const std::vector<Bytes>& entries) {
    Bytes out;
    le(out, magic, 4);
    for (const Bytes& e : entries) out.insert(out.end(), e.begin(), e.end());
    return out;
}

TEST(PackArchive, WrittenBytesOfTheWorkedExamples) {
    octtest::TempDir dir;
    {
        Archive ar;
        ASSERT_TRUE(ar.create(dir.name("empty.pak")));
    }
    EXPECT_EQ(octtest::readFile(dir.path("empty.pak")), hex("32 7A 6C 70"));

    Archive ar;
    ASSERT_TRUE(ar.create(dir.name("abc.pak")));
    // 12 bytes whose container (30 bytes) is not shorter: stored unchanged.
    ASSERT_TRUE(ar.add(ascii("abcabcabcabc"), u"a"));
    // An empty block: both sizes 0.
    ASSERT_TRUE(ar.add({}, u"e"));
    ar.close();
    EXPECT_EQ(octtest::readFile(dir.path("abc.pak")),
              hex("32 7A 6C 70"
                  "0C 00 00 00 00 00 00 00  0C 00 00 00 00 00 00 00  01 00  61"
                  "61 62 63 61 62 63 61 62 63 61 62 63"
                  "00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  01 00  65"));
}

TEST(PackArchive, PackedEntriesAreDeterministicAndRoundTrip) {
    octtest::TempDir dir;
    const Bytes data = test::mixedData(200000, 7);
    for (const char* leaf : {"one.pak", "two.pak"}) {
        Archive ar;
        ASSERT_TRUE(ar.create(dir.name(leaf)));
        ASSERT_TRUE(ar.add(data, u"mixed"));
        ASSERT_TRUE(ar.add(Bytes(5000, 'z'), u"zeros"));
    }
    const Bytes one = octtest::readFile(dir.path("one.pak"));
    // The container's reserved bytes are cleared, so the bytes never depend
    // on what the scratch memory held.
    EXPECT_EQ(one, octtest::readFile(dir.path("two.pak")));
    ASSERT_GT(one.size(), 4u + 18 + 5 + 8);
    EXPECT_EQ(Bytes(one.begin() + 4 + 18 + 5 + 4, one.begin() + 4 + 18 + 5 + 8), Bytes(4, 0));

    Archive ar;
    ASSERT_TRUE(ar.open(dir.name("one.pak")));
    const auto listed = ar.list();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].name, u"mixed");
    EXPECT_EQ(listed[0].unpacked, 200000);
    EXPECT_LT(listed[0].stored, 200000) << "kept packed only because it is shorter";
    EXPECT_EQ(ar.extract(u"mixed"), data);
    EXPECT_EQ(ar.extract(u"zeros"), Bytes(5000, 'z'));
}

// The same inputs at the same level give these archive bytes on every build
// and platform.
TEST(PackArchive, BytesArePinned) {
    octtest::TempDir dir;
    struct Case {
        std::int32_t level;
        std::uint64_t hash;
        std::size_t size;
    };
    for (const Case& c : {Case{0, 0xc992dc1673a09fc4, 39633}, Case{6, 0x81b0ca0caab17289, 36715},
                         Case{-1, 0x73ebfeaadd7732f1, 36715}}) {
        Archive ar;
        ASSERT_TRUE(ar.create(dir.name("pinned.pak"), c.level));
        ASSERT_TRUE(ar.add(test::mixedData(70000, 3), u"mixed"));
        ASSERT_TRUE(ar.add(ascii("hello"), u"h\u00E9llo"));
        ar.close();
        const Bytes bytes = octtest::readFile(dir.path("pinned.pak"));
        EXPECT_EQ(bytes.size(), c.size) << "level " << c.level;
        EXPECT_EQ(octtest::fingerprint(bytes), c.hash) << "level " << c.level;
    }
}

TEST(PackArchive, LevelGoesToThePackerUnclamped) {
    octtest::TempDir dir;
    // Level −1 is not turned into 0 as the compression interface does: the
    // container gets the 1 MiB blocks of "any other" level.
    for (const auto& [level, blockSize] : {std::pair{-1, 0x100000}, std::pair{0, 0x2000}, std::pair{12, 0x100000}}) {
        Archive ar;
        ASSERT_TRUE(ar.create(dir.name("l.pak"), level));
        ASSERT_TRUE(ar.add(Bytes(40000, 'q'), u"q"));
        ar.close();
        const Bytes bytes = octtest::readFile(dir.path("l.pak"));
        const std::size_t container = 4 + 18 + 1;
        ASSERT_GT(bytes.size(), container + 24);
        std::int64_t stored;
        std::memcpy(&stored, bytes.data() + container + 16, 8);
        EXPECT_EQ(stored, blockSize) << "level " << level;
    }
}

TEST(PackArchive, OpensBothMagicsAndNothingElse) {
    octtest::TempDir dir;
    const Bytes hello = ascii("hello");
    struct Case {
        const char* what;
        Bytes file;
        bool opens;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"newer", archiveFile(kPakArchiveMagic, {entry(5, 5, "n", hello)}), true, {"n"}},
        {"older, 24-byte headers", archiveFile(kPakArchiveMagicOld, {entry(5, 5, "o", hello, 6), entry(0, 0, "p", {}, 6)}),
         true, {"o", "p"}},
        {"magic alone", archiveFile(kPakArchiveMagic, {}), true, {}},
        {"other magic", archiveFile(0x706C7A33, {entry(5, 5, "n", hello)}), false, {}},
        {"short", hex("32 7A 6C"), false, {}},
        {"empty file", {}, false, {}},
    };
    for (const Case& c : cases) {
        octtest::writeFile(dir.path("in.pak"), c.file);
        Archive ar;
        ASSERT_EQ(ar.open(dir.name("in.pak")), c.opens) << c.what;
        if (!c.opens) continue;
        std::vector<std::string> names;
        for (const auto& e : ar.list()) names.emplace_back(e.name.begin(), e.name.end());
        EXPECT_EQ(names, c.names) << c.what;
        if (!c.names.empty()) {
            const std::u16string first(c.names[0].begin(), c.names[0].end());
            EXPECT_EQ(ar.extract(first), hello) << c.what;
        }
    }
}

TEST(PackArchive, ListingStandsOnOneEntryAtATime) {
    octtest::TempDir dir;
    Archive ar;
    ASSERT_TRUE(ar.create(dir.name("l.pak")));
    ASSERT_TRUE(ar.add(ascii("first"), u"1"));
    ASSERT_TRUE(ar.add(Bytes(3000, 'x'), u"2"));
    PackArchive* a = ar.a();

    // Before a listing, and before its first step: no current entry.
    EXPECT_EQ(lz().entryType(a), -1);
    EXPECT_EQ(lz().entrySize(a, 0), -1);
    EXPECT_EQ(lz().entryName(a, 0), nullptr);
    ASSERT_EQ(lz().listEntries(a), 1);
    EXPECT_EQ(lz().entryType(a), -1);

    ASSERT_EQ(lz().nextEntry(a), 1);
    EXPECT_EQ(lz().entryType(a), 0);
    EXPECT_EQ(lz().entrySize(a, 0), 5);
    EXPECT_EQ(lz().entrySize(a, 1), 5);
    EXPECT_EQ(std::u16string(lz().entryName(a, 0)), u"1");
    EXPECT_EQ(ar.extract(u""), ascii("first")) << "an empty name is the current entry";

    ASSERT_EQ(lz().nextEntry(a), 1);
    EXPECT_EQ(lz().entrySize(a, 0), 3000);
    const std::int64_t stored = lz().entrySize(a, 1);
    EXPECT_GT(stored, 0);
    EXPECT_LT(stored, 3000) << "which = 1 on a packed entry: its stored size";
    EXPECT_EQ(lz().entrySize(a, 7), 3000) << "any other value: the unpacked size";

    EXPECT_EQ(lz().nextEntry(a), 0);
    EXPECT_EQ(lz().entryType(a), -1);
    EXPECT_EQ(lz().entrySize(a, 0), -1);
    EXPECT_EQ(lz().extractMemory(a, Bytes(10).data(), 10, nullptr), -1) << "no current entry";

    // A new listing starts again before the first entry.
    ASSERT_EQ(lz().listEntries(a), 1);
    ASSERT_EQ(lz().nextEntry(a), 1);
    EXPECT_EQ(std::u16string(lz().entryName(a, 0)), u"1");

    // Adding discards the directory and the listing.
    ASSERT_TRUE(ar.add(ascii("third"), u"3"));
    EXPECT_EQ(lz().entryType(a), -1);
    EXPECT_EQ(ar.list().size(), 3u);
    EXPECT_EQ(lz().reserved(), 0);
}

TEST(PackArchive, AThreadWhoseFirstCallIsAListingGetsTheNames) {
    // The names are string results of the calling thread; a thread that has
    // made no other call into the library has no string block yet.
    octtest::TempDir dir;
    {
        Archive ar;
        ASSERT_TRUE(ar.create(dir.name("t.pak")));
        ASSERT_TRUE(ar.add(ascii("one"), u"first"));
        ASSERT_TRUE(ar.add(ascii("two"), u"second"));
    }
    std::vector<Archive::Listed> listed;
    std::thread([&] {
        Archive ar;
        if (ar.open(dir.name("t.pak"))) listed = ar.list();
    }).join();
    const std::vector<Archive::Listed> expected = {{u"first", 3, 3}, {u"second", 3, 3}};
    EXPECT_EQ(listed, expected);
}

TEST(PackArchive, NamesAreUtf8UpToTheirLimit) {
    octtest::TempDir dir;
    Archive ar;
    ASSERT_TRUE(ar.create(dir.name("n.pak")));
    const std::u16string names[] = {u"gr\u00FC\u00DFe/\u65E5\u672C", u"\U0001F600 smile", u""};
    for (const auto& n : names) ASSERT_TRUE(ar.add(ascii("x"), n));
    // 32,767 UTF-8 bytes fit the signed 16-bit length; one more does not,
    // and fails before anything is written.
    const std::u16string longest(32767, u'k');
    ASSERT_TRUE(ar.add(ascii("long"), longest));
    const auto before = octtest::readFile(dir.path("n.pak"));
    EXPECT_FALSE(ar.add(ascii("too long"), std::u16string(32768, u'k')));
    EXPECT_FALSE(ar.add(ascii("too long"), std::u16string(16384, u'\u00E9'))) << "16,384 characters, 32,768 bytes";
    EXPECT_EQ(octtest::readFile(dir.path("n.pak")), before);

    const auto listed = ar.list();
    ASSERT_EQ(listed.size(), 4u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(listed[i].name, names[i]);
    EXPECT_EQ(listed[3].name, longest);
    EXPECT_EQ(ar.extract(names[1]), ascii("x"));
    EXPECT_EQ(ar.extract(longest), ascii("long"));
}

TEST(PackArchive, ExtractsByNameFirstMatchCaseSensitive) {
    octtest::TempDir dir;
    Archive ar;
    ASSERT_TRUE(ar.create(dir.name("d.pak")));
    ASSERT_TRUE(ar.add(ascii("first"), u"same"));
    ASSERT_TRUE(ar.add(ascii("second"), u"same"));
    ASSERT_TRUE(ar.add(ascii("upper"), u"SAME"));
    EXPECT_EQ(ar.extract(u"same"), ascii("first"));
    EXPECT_EQ(ar.extract(u"SAME"), ascii("upper"));
    EXPECT_EQ(ar.extract(u"Same"), std::nullopt);
    EXPECT_EQ(ar.extract(u"sam"), std::nullopt);

    // Too small a buffer fails without reading the file.
    const auto reads = plat::fileCallCounts().reads;
    EXPECT_EQ(ar.extract(u"second", 5), std::nullopt);
    EXPECT_EQ(plat::fileCallCounts().reads, reads);
    EXPECT_EQ(lz().extractMemory(ar.a(), nullptr, 100, u"same"), -1);
}

TEST(PackArchive, AddingAfterAnExtractAppends) {
    octtest::TempDir dir;
    Archive ar;
    ASSERT_TRUE(ar.create(dir.name("a.pak")));
    ASSERT_TRUE(ar.add(ascii("alpha"), u"a"));
    ASSERT_TRUE(ar.add(ascii("beta"), u"b"));
    // The extract leaves the file position just after entry a's data.
    ASSERT_EQ(ar.extract(u"a"), ascii("alpha"));
    ASSERT_TRUE(ar.add(ascii("gamma"), u"c"));
    EXPECT_EQ(ar.extract(u"a"), ascii("alpha"));
    EXPECT_EQ(ar.extract(u"b"), ascii("beta"));
    EXPECT_EQ(ar.extract(u"c"), ascii("gamma"));
    EXPECT_EQ(ar.list().size(), 3u);
}

TEST(PackArchive, AddsFiles) {
    octtest::TempDir dir;
    const Bytes content = test::mixedData(30000, 11);
    octtest::writeFile(dir.path("in.bin"), content);
    octtest::writeFile(dir.path("empty.bin"), {});
    Archive ar;
    ASSERT_TRUE(ar.create(dir.name("f.pak")));
    EXPECT_EQ(lz().addFile(ar.a(), dir.name("in.bin").c_str(), u"in"), 1);
    EXPECT_EQ(lz().addFile(ar.a(), dir.name("empty.bin").c_str(), u"empty"), 1);
    EXPECT_EQ(lz().addFile(ar.a(), dir.name("missing.bin").c_str(), u"m"), 0);
    EXPECT_EQ(lz().addFile(ar.a(), nullptr, u"m"), 0);
    EXPECT_EQ(ar.extract(u"in"), content);

    // To files: the data, an empty entry as an empty file.
    EXPECT_EQ(lz().extractFile(ar.a(), dir.name("out.bin").c_str(), u"in"), 30000);
    EXPECT_EQ(octtest::readFile(dir.path("out.bin")), content);
    EXPECT_EQ(lz().extractFile(ar.a(), dir.name("out-empty.bin").c_str(), u"empty"), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.path("out-empty.bin")));
    EXPECT_EQ(std::filesystem::file_size(dir.path("out-empty.bin")), 0u);
    EXPECT_EQ(lz().extractFile(ar.a(), nullptr, u"in"), -1);
    EXPECT_EQ(lz().extractFile(ar.a(), dir.name("x.bin").c_str(), u"missing"), -1);
    EXPECT_FALSE(std::filesystem::exists(dir.path("x.bin")));
}

TEST(PackArchive, NullArgumentsFailCleanly) {
    octtest::TempDir dir;
    Archive ar;
    EXPECT_EQ(lz().createArchive(nullptr, nullptr, 0, 6), nullptr);
    EXPECT_EQ(lz().openArchive(nullptr, nullptr), nullptr);
    EXPECT_EQ(lz().openArchive(nullptr, dir.name("missing.pak").c_str()), nullptr);
    EXPECT_EQ(lz().listEntries(nullptr), 0);
    EXPECT_EQ(lz().nextEntry(nullptr), 0);
    EXPECT_EQ(lz().entryType(nullptr), -1);
    EXPECT_EQ(lz().addMemory(nullptr, "x", 1, u"x"), 0);
    EXPECT_EQ(lz().extractMemory(nullptr, nullptr, 0, u"x"), -1);
    lz().closeArchive(nullptr);
    ASSERT_TRUE(ar.create(dir.name("n.pak")));
    EXPECT_EQ(lz().addMemory(ar.a(), nullptr, 4, u"x"), 0);
    EXPECT_EQ(lz().addMemory(ar.a(), "x", -1, u"x"), 0);
}

// Archives that no writer makes: each lists what can be read and fails the
// rest, without reading past the file or allocating what it claims.
TEST(PackArchive, HostileDirectoriesEndCleanly) {
    octtest::TempDir dir;
    const Bytes hello = ascii("hello");
    const Bytes good = entry(5, 5, "ok", hello);
    struct Case {
        const char* what;
        Bytes file;
        std::vector<std::string> names;  // as listed
        std::vector<bool> extracts;      // each listed entry
    };
    const Case cases[] = {
        {"stored size pointing back at its own header",
         archiveFile(kPakArchiveMagic, {good, entry(5, -(18 + 2), "ba", hello)}), {"ok"}, {true}},
        {"negative unpacked size", archiveFile(kPakArchiveMagic, {good, entry(-5, 5, "ba", hello)}), {"ok"}, {true}},
        {"negative name length", archiveFile(kPakArchiveMagic, {good, entry(5, 5, "", hello, 0, 0x8000)}), {"ok"},
         {true}},
        {"name past the end", archiveFile(kPakArchiveMagic, {good, entry(5, 5, "abc", {}, 0, 30000)}), {"ok"}, {true}},
        {"header cut short", archiveFile(kPakArchiveMagic, {good, hex("05 00 00 00 00 00 00")}), {"ok"}, {true}},
        {"stored size beyond the file: a truncated last entry",
         archiveFile(kPakArchiveMagic, {good, entry(1ll << 40, 1ll << 40, "big", hello)}), {"ok", "big"},
         {true, false}},
        {"data cut short", archiveFile(kPakArchiveMagic, {good, entry(9, 9, "cut", hello)}), {"ok", "cut"},
         {true, false}},
        {"packed entry claiming 2 GiB", archiveFile(kPakArchiveMagic, {entry(1ll << 31, 30, "huge", Bytes(30, 0))}),
         {"huge"}, {false}},
        {"packed entry shorter than a container header", archiveFile(kPakArchiveMagic, {entry(50, 10, "s", Bytes(10, 0))}),
         {"s"}, {false}},
    };
    for (const Case& c : cases) {
        octtest::writeFile(dir.path("h.pak"), c.file);
        Archive ar;
        ASSERT_TRUE(ar.open(dir.name("h.pak"))) << c.what;
        std::vector<std::string> names;
        for (const auto& e : ar.list()) names.emplace_back(e.name.begin(), e.name.end());
        EXPECT_EQ(names, c.names) << c.what;
        ASSERT_EQ(lz().listEntries(ar.a()), 1);
        for (bool ok : c.extracts) {
            ASSERT_EQ(lz().nextEntry(ar.a()), 1);
            EXPECT_EQ(ar.extract(u"").has_value(), ok) << c.what;
            EXPECT_EQ(lz().extractFile(ar.a(), dir.name("x.bin").c_str(), nullptr) >= 0, ok) << c.what;
        }
        std::filesystem::remove(dir.path("x.bin"));
    }
}

// Packed entries whose container does not unpack to exactly the entry's size.
TEST(PackArchive, CorruptContainersFailToExtract) {
    octtest::TempDir dir;
    const Bytes data = test::mixedData(20000, 5);
    {
        Archive ar;
        ASSERT_TRUE(ar.create(dir.name("ok.pak")));
        ASSERT_TRUE(ar.add(data, u"d"));
    }
    const Bytes ok = octtest::readFile(dir.path("ok.pak"));
    const std::size_t container = 4 + 18 + 1;
    auto withEntryUnpacked = [&](std::int64_t n) {
        Bytes b = ok;
        std::memcpy(b.data() + 4, &n, 8);
        return b;
    };
    auto withContainerByte = [&](std::size_t at, std::uint8_t v) {
        Bytes b = ok;
        b[container + at] = v;
        return b;
    };
    Bytes cut = ok;
    cut.resize(ok.size() - 10);
    const struct {
        const char* what;
        Bytes file;
    } cases[] = {
        {"entry claims less than the container holds", withEntryUnpacked(19999)},
        {"entry claims more", withEntryUnpacked(20001)},
        {"container magic", withContainerByte(0, 0)},
        {"block size 0", [&] {
             Bytes b = ok;
             std::memset(b.data() + container + 16, 0, 8);
             return b;
         }()},
        {"data cut short", cut},
        {"a block byte", withContainerByte(100, 0xFF)},
    };
    for (const auto& c : cases) {
        octtest::writeFile(dir.path("bad.pak"), c.file);
        Archive ar;
        ASSERT_TRUE(ar.open(dir.name("bad.pak")));
        const auto got = ar.extract(u"d", 1 << 16);
        EXPECT_TRUE(!got || *got != data) << c.what;
        if (got) {
            EXPECT_EQ(got->size(), 20000u) << c.what;  // a changed literal may still unpack
        }
    }
}

// A disk that fills up: the failed add leaves the archive as it was, and
// a failed extract leaves an existing file untouched and nothing beside it.
TEST(PackArchive, FailedWritesLoseNothing) {
    struct FailingWrites {
        explicit FailingWrites(std::int64_t after) { plat::fileFailWritesAfter(after); }
        ~FailingWrites() { plat::fileFailWritesAfter(-1); }
    };
    octtest::TempDir dir;
    Archive ar;
    ASSERT_TRUE(ar.create(dir.name("w.pak")));
    ASSERT_TRUE(ar.add(ascii("kept"), u"k"));
    const Bytes before = octtest::readFile(dir.path("w.pak"));
    for (int after = 0; after < 3; ++after) {
        FailingWrites full(after);
        EXPECT_FALSE(ar.add(test::mixedData(1000, 1), u"lost")) << "after " << after;
    }
    EXPECT_EQ(octtest::readFile(dir.path("w.pak")), before);
    ASSERT_TRUE(ar.add(ascii("later"), u"l"));
    EXPECT_EQ(ar.list().size(), 2u);
    EXPECT_EQ(ar.extract(u"l"), ascii("later"));

    octtest::writeFile(dir.path("old.bin"), ascii("old bytes"));
    {
        FailingWrites full(0);
        EXPECT_EQ(lz().extractFile(ar.a(), dir.name("old.bin").c_str(), u"k"), -1);
    }
    EXPECT_EQ(octtest::readFile(dir.path("old.bin")), ascii("old bytes"));
    EXPECT_EQ(dir.entries().size(), 2u) << "no temporary file left";
    EXPECT_EQ(lz().extractFile(ar.a(), dir.name("old.bin").c_str(), u"k"), 4);
    EXPECT_EQ(octtest::readFile(dir.path("old.bin")), ascii("kept"));
}

// Module stop closes every archive still open, through its codec's plugin.
TEST(PackArchive, ModuleStopClosesOpenArchives) {
    static int closed = 0;
    static PackPlugin watching{};
    watching = lz();
    watching.closeArchive = [](PackArchive* a) {
        ++closed;
        pakArchiveClose(a);
    };
    octtest::TempDir dir;
    closed = 0;
    for (int i = 0; i < 3; ++i) {
        auto* object = static_cast<ArchiveObject*>(objNewObject(pakArchiveTable(), i == 2 ? 5 : AnyId));
        ASSERT_NE(object, nullptr);
        object->plugin = &watching;
        ASSERT_NE(lz().createArchive(object, dir.name("s" + std::to_string(i) + ".pak").c_str(), 0, 6), nullptr);
    }
    modStopAll();
    modStartAll();
    EXPECT_EQ(closed, 3);
}

}  // namespace
}  // namespace oct
