// Saves that replace what is at their name: read-only files, symbolic links,
// devices and FIFOs, and failures part-way, through the writer itself and
// through both saves built on it (level file and BMP).
#include "runtime/file_replace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "oct.h"
#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "test_files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace oct {
namespace {

namespace fs = std::filesystem;
using octtest::Bytes;
using octtest::TempDir;

// Every way of saving that goes through the replacing writer.
class Savers {
public:
    struct Saver {
        const char* name;
        std::function<bool(const std::u16string&)> save;
    };

    Savers() {
        bitmap_ = plat::dibSectionCreate(40, 30, 24);
        plat::BitmapDesc bm{};
        EXPECT_TRUE(plat::bitmapDescribe(bitmap_, bm));
        auto* p = static_cast<std::uint8_t*>(bm.bits);
        for (std::int32_t i = 0; i < bm.widthBytes * bm.height; ++i) p[i] = static_cast<std::uint8_t>(i * 5);
        record_ = octConvert(static_cast<int64_t>(bitmap_));
        EXPECT_NE(record_, nullptr);
        list_ = {
            {"level file", [this](const std::u16string& n) { return octSave(record_, n.c_str(), 0) == 1; }},
            {"BMP", [this](const std::u16string& n) { return octSave(record_, n.c_str(), 1) == 1; }},
            {"writer", [](const std::u16string& n) {
                 const Bytes bytes = octtest::pattern(3000);
                 FileReplace save;
                 if (!filBeginReplace(save, n.c_str())) return false;
                 const bool ok = filReplaceWrite(save, bytes.data(), 1000) &&
                                 filReplaceWrite(save, bytes.data() + 1000, 2000);
                 return filFinishReplace(save, ok);
             }},
        };
    }
    ~Savers() {
        octFree(record_);
        plat::objectDelete(bitmap_);
    }
    const std::vector<Saver>& list() const { return list_; }

    // What the saver writes to a new file.
    static Bytes reference(const Saver& saver) {
        TempDir dir;
        EXPECT_TRUE(saver.save(dir.name("new"))) << saver.name;
        return octtest::readFile(dir.path("new"));
    }

private:
    plat::Handle bitmap_ = 0;
    OctImage* record_ = nullptr;
    std::vector<Saver> list_;
};

void makeReadOnly(const fs::path& p) {
    fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

bool writable(const fs::path& p) {
    return (fs::status(p).permissions() & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) !=
           fs::perms::none;
}

// A symbolic link at `link` whose text is `to`; false where the system cannot make one.
bool makeLink(const fs::path& to, const fs::path& link) {
#ifdef _WIN32
    // Wine takes the call but makes no link; only a reparse point counts.
    CreateSymbolicLinkW(link.c_str(), to.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    const DWORD attributes = GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
    std::error_code ec;
    fs::create_symlink(to, link, ec);
    return !ec;
#endif
}

// The text of a link as the system keeps it, to see that a save left it alone.
std::string linkText(const fs::path& link) {
#ifdef _WIN32
    return fs::exists(link) ? "link" : "";
#else
    std::error_code ec;
    return fs::read_symlink(link, ec).string();
#endif
}

// Makes writes fail for one scope.
struct FailingWrites {
    explicit FailingWrites(std::int64_t after) { plat::fileFailWritesAfter(after); }
    ~FailingWrites() { plat::fileFailWritesAfter(-1); }
};

TEST(SafeSave, RefusesReadOnlyFilesAndLeavesThemAsTheyWere) {
    Savers savers;
    for (const auto& saver : savers.list()) {
        TempDir dir;
        const Bytes old = octtest::pattern(77);
        octtest::writeFile(dir.path("ro"), old);
        makeReadOnly(dir.path("ro"));
        EXPECT_FALSE(saver.save(dir.name("ro"))) << saver.name;
        EXPECT_EQ(octtest::readFile(dir.path("ro")), old) << saver.name;
        EXPECT_FALSE(writable(dir.path("ro"))) << saver.name;
        EXPECT_EQ(dir.entries().size(), 1u) << saver.name << ": nothing else created";
    }
}

TEST(SafeSave, ReplacedFileKeepsItsPermissions) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows files carry no permission bits; a replaced file gets its folder's defaults";
#else
    Savers savers;
    for (const fs::perms perms : {fs::perms::owner_read | fs::perms::owner_write, fs::perms::owner_write}) {
        TempDir dir;
        octtest::writeFile(dir.path("f"), Bytes(10, 1));
        fs::permissions(dir.path("f"), perms);
        const auto& saver = savers.list()[0];
        ASSERT_TRUE(saver.save(dir.name("f")));
        EXPECT_EQ(fs::status(dir.path("f")).permissions(), perms);
        EXPECT_EQ(octtest::readFile(dir.path("f")), Savers::reference(saver));
    }
#endif
}

TEST(SafeSave, WritesThroughSymbolicLinksAndKeepsThem) {
    Savers savers;
    for (const auto& saver : savers.list()) {
        const Bytes expected = Savers::reference(saver);
        TempDir dir;
        octtest::writeFile(dir.path("real"), Bytes(5, 9));
        fs::create_directory(dir.path("sub"));
        if (!makeLink("../real", dir.path("sub") / "inner") || !makeLink("sub/inner", dir.path("outer")))
            GTEST_SKIP() << "this system makes no symbolic links (wine accepts the call and makes none)";
        const std::string outerText = linkText(dir.path("outer"));

        // A chain of two relative links, the second relative to its own folder.
        ASSERT_TRUE(saver.save(dir.name("outer"))) << saver.name;
        EXPECT_EQ(octtest::readFile(dir.path("real")), expected) << saver.name;
        EXPECT_EQ(linkText(dir.path("outer")), outerText) << saver.name << ": the link stays";
        EXPECT_EQ(dir.entries().size(), 3u) << saver.name << ": no temporary file beside the link";
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path("sub")), fs::directory_iterator()), 1)
            << saver.name;

        // A link to a read-only file is refused like the file itself.
        makeReadOnly(dir.path("real"));
        EXPECT_FALSE(saver.save(dir.name("outer"))) << saver.name;
        EXPECT_EQ(octtest::readFile(dir.path("real")), expected) << saver.name;
    }
}

TEST(SafeSave, LinksToNothingAndLoopsOfLinks) {
#ifdef _WIN32
    GTEST_SKIP() << "links to nothing and loops of links: checked where the system makes links freely (Linux)";
#else
    Savers savers;
    for (const auto& saver : savers.list()) {
        TempDir dir;
        // A link to a file not made yet: the save makes it, as writing through the link would.
        ASSERT_TRUE(makeLink(dir.path("later"), dir.path("ahead")));
        ASSERT_TRUE(saver.save(dir.name("ahead"))) << saver.name;
        EXPECT_EQ(octtest::readFile(dir.path("later")), Savers::reference(saver)) << saver.name;
        EXPECT_TRUE(fs::is_symlink(dir.path("ahead"))) << saver.name;

        // Links that never end are refused and create nothing.
        ASSERT_TRUE(makeLink("b", dir.path("a")) && makeLink("a", dir.path("b")));
        EXPECT_FALSE(saver.save(dir.name("a"))) << saver.name;
        EXPECT_TRUE(fs::is_symlink(dir.path("a")) && fs::is_symlink(dir.path("b"))) << saver.name;
        EXPECT_EQ(dir.entries().size(), 4u) << saver.name;
    }
    // A chain as long as allowed still ends at its file; one link longer does not.
    TempDir dir;
    octtest::writeFile(dir.path("l0"), Bytes(1, 1));
    for (int i = 1; i <= plat::kFileMaxLinks + 1; ++i)
        ASSERT_TRUE(makeLink("l" + std::to_string(i - 1), dir.path("l" + std::to_string(i))));
    const auto& writer = savers.list()[2];
    EXPECT_TRUE(writer.save(dir.name("l" + std::to_string(plat::kFileMaxLinks))));
    EXPECT_EQ(octtest::readFile(dir.path("l0")).size(), 3000u);
    EXPECT_FALSE(writer.save(dir.name("l" + std::to_string(plat::kFileMaxLinks + 1))));
#endif
}

TEST(SafeSave, WritesDevicesInPlace) {
    Savers savers;
#ifdef _WIN32
    // Reserved names open the null device, in the device namespace or not.
    for (const char16_t* name : {u"NUL", u"\\\\.\\NUL"}) {
        FileReplace save;
        ASSERT_TRUE(filBeginReplace(save, name));
        EXPECT_TRUE(save.temp.empty()) << "written in place";
        EXPECT_TRUE(filReplaceWrite(save, "abc", 3));
        EXPECT_TRUE(filFinishReplace(save, true));
        for (const auto& saver : savers.list()) EXPECT_TRUE(saver.save(name)) << saver.name;
    }
#else
    // Private nodes of the null and full devices: a save that replaced its
    // target would replace these, never the system's own /dev/null.
    TempDir devices;
    const bool nodes = ::mknod(devices.path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
                       ::mknod(devices.path("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
    for (const auto& saver : nodes ? savers.list() : std::vector<Savers::Saver>{}) {
        const std::uint64_t flushes = plat::fileCallCounts().flushes;
        EXPECT_TRUE(saver.save(devices.name("null"))) << saver.name;
        EXPECT_TRUE(fs::is_character_file(devices.path("null"))) << saver.name;
        EXPECT_EQ(plat::fileCallCounts().flushes, flushes) << saver.name << ": a device is not flushed";
        // A device that takes no bytes fails the save, and stays a device.
        EXPECT_FALSE(saver.save(devices.name("full"))) << saver.name;
        EXPECT_TRUE(fs::is_character_file(devices.path("full"))) << saver.name;
        EXPECT_EQ(devices.entries().size(), 2u) << saver.name;
    }
    // A FIFO gets the bytes in order, and is still a FIFO afterwards.
    for (const auto& saver : savers.list()) {
        TempDir dir;
        ASSERT_EQ(::mkfifo(dir.path("pipe").c_str(), 0600), 0);
        // A second name for the FIFO, which a save cannot take away.
        fs::create_hard_link(dir.path("pipe"), dir.path("pipe.kept"));
        Bytes got;
        std::thread reader([&] {
            std::ifstream in(dir.path("pipe"), std::ios::binary);
            got.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        });
        const bool saved = saver.save(dir.name("pipe"));
        // Should the save not have opened the FIFO, the reader would wait for
        // a writer for ever: this one comes and goes.
        const int fd = ::open(dir.path("pipe.kept").c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        reader.join();
        EXPECT_TRUE(saved) << saver.name;
        EXPECT_EQ(got, Savers::reference(saver)) << saver.name;
        EXPECT_TRUE(fs::is_fifo(dir.path("pipe"))) << saver.name;
        EXPECT_EQ(dir.entries().size(), 2u) << saver.name;
    }
    if (!nodes) GTEST_SKIP() << "device nodes need root to make; only the FIFO was checked";
#endif
}

TEST(SafeSave, TheOldFileGoesOnlyWhenEveryByteIsOnDisk) {
    Savers savers;
    struct Case {
        const char* what;
        const char* name;
        std::int64_t writesBeforeFailing;  // −1: none fail
        bool saves;
    };
    const Case cases[] = {
        {"nothing fails", "old", -1, true},
        {"first write fails", "old", 0, false},
        {"second write fails", "old", 1, false},
        {"folder missing", "no/such/file", -1, false},
        {"target is a folder", "folder", -1, false},
    };
    for (const auto& saver : savers.list()) {
        const Bytes expected = Savers::reference(saver);
        for (const Case& c : cases) {
            TempDir dir;
            const Bytes old(100000, 3);  // longer than any new file
            octtest::writeFile(dir.path("old"), old);
            fs::create_directory(dir.path("folder"));
            const std::uint64_t flushes = plat::fileCallCounts().flushes;
            bool saved;
            {
                FailingWrites failing(c.writesBeforeFailing);
                saved = saver.save(dir.name(c.name));
            }
            EXPECT_EQ(saved, c.saves) << saver.name << ", " << c.what;
            EXPECT_EQ(octtest::readFile(dir.path("old")), c.saves ? expected : old) << saver.name << ", " << c.what;
            if (c.saves) {
                EXPECT_EQ(plat::fileCallCounts().flushes - flushes, 1u) << saver.name << ": flushed before the rename";
            }
            EXPECT_TRUE(fs::is_directory(dir.path("folder"))) << saver.name << ", " << c.what;
            EXPECT_EQ(dir.entries().size(), 2u) << saver.name << ", " << c.what << ": no temporary file";
        }
    }
}

// A reservation is only a hint: the file ends where the bytes written end,
// whether fewer or more were written than reserved, and a discarded save
// leaves nothing behind.
TEST(FileReplace, AReservationNeverChangesTheSavedBytes) {
    TempDir dir;
    octtest::writeFile(dir.path("f"), octtest::pattern(50));
    for (const std::int64_t reserved : {std::int64_t{0}, std::int64_t{3}, std::int64_t{1} << 20}) {
        FileReplace save;
        ASSERT_TRUE(filBeginReplace(save, dir.name("f").c_str()));
        filReplaceReserve(save, reserved);
        ASSERT_TRUE(filReplaceWrite(save, "new", 3));
        ASSERT_TRUE(filFinishReplace(save, true));
        EXPECT_EQ(octtest::readFile(dir.path("f")), (Bytes{'n', 'e', 'w'})) << reserved;
        EXPECT_EQ(fs::file_size(dir.path("f")), 3u) << reserved;
    }
    FileReplace discarded;
    ASSERT_TRUE(filBeginReplace(discarded, dir.name("f").c_str()));
    filReplaceReserve(discarded, std::int64_t{1} << 20);
    EXPECT_FALSE(filFinishReplace(discarded, false));
    EXPECT_EQ(dir.entries().size(), 1u);
    filReplaceReserve(discarded, 10);  // a finished save takes no hint
}

// Large writes go to a temporary file in pieces of 4 MiB: the bytes arrive in
// order at their offsets, after a small write as well, whatever the sizes'
// remainders; a piece that fails part-way discards the whole save.
TEST(FileReplace, LargeWritesArriveWholeInPieces) {
    TempDir dir;
    const Bytes old = octtest::pattern(50);
    octtest::writeFile(dir.path("f"), old);
    constexpr std::size_t kPiece = std::size_t{4} << 20;
    const Bytes bytes = octtest::pattern(2 * kPiece + 4100);
    for (const std::size_t first : {std::size_t{0}, std::size_t{54}, kPiece}) {
        FileReplace save;
        ASSERT_TRUE(filBeginReplace(save, dir.name("f").c_str()));
        const std::uint64_t writes = plat::fileCallCounts().writes;
        ASSERT_TRUE(filReplaceWrite(save, bytes.data(), static_cast<std::int64_t>(first)));
        ASSERT_TRUE(filReplaceWrite(save, bytes.data() + first, static_cast<std::int64_t>(bytes.size() - first)));
        EXPECT_GE(plat::fileCallCounts().writes - writes, 3u) << first;
        ASSERT_TRUE(filFinishReplace(save, true));
        EXPECT_EQ(octtest::readFile(dir.path("f")), bytes) << first;
    }

    octtest::writeFile(dir.path("f"), old);
    for (const std::int64_t after : {0, 1, 2}) {
        FailingWrites failing(after);
        FileReplace save;
        ASSERT_TRUE(filBeginReplace(save, dir.name("f").c_str()));
        EXPECT_FALSE(filReplaceWrite(save, bytes.data(), static_cast<std::int64_t>(bytes.size()))) << after;
        EXPECT_FALSE(filFinishReplace(save, true)) << after;
        EXPECT_EQ(octtest::readFile(dir.path("f")), old) << after;
        EXPECT_EQ(dir.entries().size(), 1u) << after;
    }
}

TEST(FileReplace, AnUnfinishedSaveIsDiscarded) {
    TempDir dir;
    const Bytes old = octtest::pattern(50);
    octtest::writeFile(dir.path("f"), old);
    {
        FileReplace save;
        ASSERT_TRUE(filBeginReplace(save, dir.name("f").c_str()));
        EXPECT_FALSE(filBeginReplace(save, dir.name("f").c_str())) << "one save per record";
        EXPECT_TRUE(filReplaceWrite(save, "new", 3));
        EXPECT_EQ(dir.entries().size(), 2u) << "the temporary file, beside its target";
    }
    EXPECT_EQ(octtest::readFile(dir.path("f")), old);
    EXPECT_EQ(dir.entries().size(), 1u);

    // A failed write sticks: later writes are refused and finishing discards.
    FileReplace save;
    ASSERT_TRUE(filBeginReplace(save, dir.name("f").c_str()));
    EXPECT_FALSE(filReplaceWrite(save, nullptr, 1));
    EXPECT_FALSE(filReplaceWrite(save, "new", 3));
    EXPECT_FALSE(filFinishReplace(save, true));
    EXPECT_FALSE(filFinishReplace(save, true)) << "finished already";
    EXPECT_EQ(octtest::readFile(dir.path("f")), old);
    EXPECT_EQ(dir.entries().size(), 1u);

    FileReplace none;
    EXPECT_FALSE(filBeginReplace(none, nullptr));
    EXPECT_FALSE(filBeginReplace(none, u""));
    EXPECT_FALSE(filReplaceWrite(none, "x", 1));
    EXPECT_FALSE(filFinishReplace(none, true));
}

TEST(FileReplace, TemporaryNamesLeftByAKilledSaveArePassedOver) {
    // A process that got the number of one killed before it meets that
    // process's leftovers under the very names it would pick next.
    TempDir dir;
    const Bytes old = octtest::pattern(50), fresh = octtest::pattern(70, 9);
    octtest::writeFile(dir.path("f"), old);
    const std::u16string target = dir.name("f");
    const std::u16string probe = filTempName(target.c_str());  // the number after it comes next
    const std::size_t dash = probe.rfind(u'-');
    const int next = std::stoi(fs::path(probe.substr(dash + 1)).string()) + 1;
    std::vector<fs::path> leftovers;
    for (int i = 0; i < 5; ++i) {
        const std::u16string name = probe.substr(0, dash + 1) + fs::path(std::to_string(next + i)).u16string();
        leftovers.push_back(fs::path(name));
        octtest::writeFile(leftovers.back(), octtest::pattern(10, static_cast<std::uint8_t>(i)));
    }
    FileReplace save;
    ASSERT_TRUE(filBeginReplace(save, target.c_str()));
    ASSERT_TRUE(filReplaceWrite(save, fresh.data(), static_cast<std::int64_t>(fresh.size())));
    ASSERT_TRUE(filFinishReplace(save, true));
    EXPECT_EQ(octtest::readFile(dir.path("f")), fresh);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(octtest::readFile(leftovers[static_cast<std::size_t>(i)]), octtest::pattern(10, static_cast<std::uint8_t>(i)))
            << "a leftover stays as it was";
    EXPECT_EQ(dir.entries().size(), 6u);

    // A folder that is not there still fails.
    FileReplace missing;
    EXPECT_FALSE(filBeginReplace(missing, dir.name("no-such-folder/f").c_str()));
}

// Out of memory at any allocation of a save (its names, the temporary
// file's record): the save fails before anything is written, or it works;
// no exception escapes, the old file stays, and no temporary file is left.
TEST(FileReplace, OutOfMemoryAnywhereLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    const Bytes old = octtest::pattern(50);
    octtest::writeFile(dir.path("f"), old);
    const std::u16string name = dir.name("f");
    for (std::int64_t n = 1;; ++n) {
        ASSERT_LT(n, 1000);
        bool ok;
        plat::failCallAt(plat::FailKind::Alloc, n);
        {
            FileReplace save;
            ok = filBeginReplace(save, name.c_str()) && filReplaceWrite(save, "new", 3);
            ok = filFinishReplace(save, ok);
        }
        const bool injected = plat::failInjected(plat::FailKind::Alloc);
        plat::failNone();
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"f"}) << "allocation " << n;
        if (!injected) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(octtest::readFile(dir.path("f")), (Bytes{'n', 'e', 'w'}));
            break;
        }
        if (ok) {
            octtest::writeFile(dir.path("f"), old);
        } else {
            EXPECT_EQ(octtest::readFile(dir.path("f")), old) << "allocation " << n;
        }
    }
}

}  // namespace
}  // namespace oct
