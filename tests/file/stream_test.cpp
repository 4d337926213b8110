#include "file/stream.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "runtime/object_table.h"
#include "test_files.h"

namespace oct {
namespace {

using octtest::Bytes;
using octtest::TempDir;

std::uintmax_t onDisk(const std::filesystem::path& p) { return std::filesystem::file_size(p); }

TEST(FileStream, ReadAheadServesLaterReads) {
    TempDir dir;
    const Bytes data = octtest::pattern(100);
    octtest::writeFile(dir.path("f"), data);
    std::int64_t f = filOpenRead(AnyId, dir.name("f").c_str());
    ASSERT_NE(f, 0);
    Bytes got(200);
    EXPECT_EQ(filRead(f, got.data(), 22), 22);
    EXPECT_EQ(filRead(f, got.data() + 22, 100), 78);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 100), data);
    EXPECT_EQ(filRead(f, got.data(), 10), 0);
    EXPECT_EQ(filSize(f), 100);
    EXPECT_EQ(filClose(f), 1);
}

TEST(FileStream, LargeReadsBypassTheBuffer) {
    TempDir dir;
    const Bytes data = octtest::pattern(20000);
    octtest::writeFile(dir.path("f"), data);
    std::int64_t f = filOpenRead(AnyId, dir.name("f").c_str());
    ASSERT_NE(f, 0);
    Bytes got(20000);
    EXPECT_EQ(filRead(f, got.data(), 3), 3);
    EXPECT_EQ(filRead(f, got.data() + 3, 10000), 10000);
    EXPECT_EQ(filRead(f, got.data() + 10003, 9997), 9997);
    EXPECT_EQ(got, data);
    filClose(f);
}

TEST(FileStream, WritesCollectUntilTheBufferWouldFill) {
    struct Case {
        std::vector<std::int64_t> writes;
        std::uintmax_t onDiskAfter;  // before closing
    };
    const Case cases[] = {
        {{22, 100}, 0},        // collected, written at close
        {{4074, 22}, 4074},    // 22 more would fill the buffer exactly: flush first
        {{5000}, 5000},        // larger than the buffer: straight to the file
        {{4095}, 0},           // one byte short of full stays buffered
        {{4096}, 4096},        // the buffer's size bypasses it
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::int64_t f = filCreate(AnyId, dir.name("w").c_str());
        ASSERT_NE(f, 0);
        Bytes all;
        for (std::int64_t n : c.writes) {
            Bytes chunk = octtest::pattern(static_cast<std::size_t>(n), static_cast<std::uint8_t>(all.size()));
            EXPECT_EQ(filWrite(f, chunk.data(), n), n);
            all.insert(all.end(), chunk.begin(), chunk.end());
        }
        EXPECT_EQ(onDisk(dir.path("w")), c.onDiskAfter) << c.writes.size() << " writes, first " << c.writes[0];
        EXPECT_EQ(filSize(f), static_cast<std::int64_t>(all.size()));  // flushes pending bytes
        EXPECT_EQ(filClose(f), 1);
        EXPECT_EQ(octtest::readFile(dir.path("w")), all);
    }
}

TEST(FileStream, WritingAfterReadingContinuesAtTheLogicalPosition) {
    TempDir dir;
    octtest::writeFile(dir.path("f"), Bytes(50, 'a'));
    std::int64_t f = filOpen(AnyId, dir.name("f").c_str());
    ASSERT_NE(f, 0);
    std::uint8_t buf[10];
    ASSERT_EQ(filRead(f, buf, 10), 10);
    EXPECT_EQ(filWrite(f, "XYZ", 3), 3);
    ASSERT_EQ(filRead(f, buf, 2), 2);  // flushes and reads on after the written bytes
    EXPECT_EQ(buf[0], 'a');
    EXPECT_EQ(filClose(f), 1);
    Bytes want(50, 'a');
    want[10] = 'X', want[11] = 'Y', want[12] = 'Z';
    EXPECT_EQ(octtest::readFile(dir.path("f")), want);
}

TEST(FileStream, ReadOnlyStreamsRefuseWrites) {
    TempDir dir;
    octtest::writeFile(dir.path("f"), Bytes(5, 'a'));
    std::int64_t f = filOpenRead(AnyId, dir.name("f").c_str());
    ASSERT_NE(f, 0);
    EXPECT_EQ(filWrite(f, "b", 1), 0);
    filClose(f);
    EXPECT_EQ(octtest::readFile(dir.path("f")), Bytes(5, 'a'));
    EXPECT_EQ(filOpenEx(AnyId, dir.name("f").c_str(), 4, 0), 0);
    EXPECT_EQ(filOpenEx(AnyId, dir.name("f").c_str(), 0, 0), 0);
}

TEST(FileStream, CreateTruncatesAndAppendStartsAtTheEnd) {
    TempDir dir;
    octtest::writeFile(dir.path("f"), Bytes(30, 'a'));
    std::int64_t f = filCreate(AnyId, dir.name("f").c_str());
    ASSERT_NE(f, 0);
    EXPECT_EQ(filSize(f), 0);
    filWrite(f, "abc", 3);
    filClose(f);
    f = filOpenEx(AnyId, dir.name("f").c_str(), 2, kFileAppend | kFileShareRead);
    ASSERT_NE(f, 0);
    filWrite(f, "de", 2);
    filClose(f);
    EXPECT_EQ(octtest::readFile(dir.path("f")), (Bytes{'a', 'b', 'c', 'd', 'e'}));
}

TEST(FileStream, UnbufferedStreamsReadAndWriteDirectly) {
    TempDir dir;
    std::int64_t f = filOpenEx(AnyId, dir.name("u").c_str(), 3, kFileUnbuffered);
    ASSERT_NE(f, 0);
    EXPECT_EQ(filWrite(f, "hello", 5), 5);
    EXPECT_EQ(onDisk(dir.path("u")), 5u);
    filClose(f);
}

TEST(FileStream, IdsThatNameNoStream) {
    TempDir dir;
    std::uint8_t b;
    for (std::int64_t id : {std::int64_t{0}, std::int64_t{3}, std::int64_t{12345}, std::int64_t{-7}}) {
        EXPECT_EQ(filSize(id), -1);
        EXPECT_EQ(filRead(id, &b, 1), 0);
        EXPECT_EQ(filWrite(id, &b, 1), 0);
        EXPECT_EQ(filClose(id), 0);
    }
    EXPECT_EQ(filOpenRead(AnyId, dir.name("missing").c_str()), 0);
    EXPECT_EQ(filOpenRead(AnyId, nullptr), 0);
}

TEST(FileStream, NumberedStreamsAndCloseAll) {
    TempDir dir;
    ASSERT_NE(filCreate(4, dir.name("a").c_str()), 0);
    EXPECT_EQ(filWrite(4, "1234", 4), 4);
    ASSERT_NE(filCreate(4, dir.name("b").c_str()), 0);  // closes "a" first, flushing it
    EXPECT_EQ(octtest::readFile(dir.path("a")), (Bytes{'1', '2', '3', '4'}));
    EXPECT_EQ(filWrite(4, "5", 1), 1);
    std::int64_t dyn = filCreate(AnyId, dir.name("c").c_str());
    ASSERT_NE(dyn, 0);
    EXPECT_EQ(filWrite(dyn, "6", 1), 1);
    filClose(AnyId);
    EXPECT_EQ(octtest::readFile(dir.path("b")), (Bytes{'5'}));
    EXPECT_EQ(octtest::readFile(dir.path("c")), (Bytes{'6'}));
    EXPECT_EQ(filSize(4), -1);
}

TEST(FileDelete, ReadOnlyFilesNeedTheAttributeFlag) {
    TempDir dir;
    octtest::writeFile(dir.path("ro"), Bytes(3, 'x'));
    std::filesystem::permissions(dir.path("ro"), std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                                     std::filesystem::perms::others_read);
    EXPECT_EQ(filDelete(nullptr), 0);
    EXPECT_EQ(filDelete(dir.name("ro").c_str()), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.path("ro")));
    EXPECT_NE(filDeleteEx(dir.name("ro").c_str(), 2), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.path("ro")));
    EXPECT_EQ(filDelete(dir.name("ro").c_str()), 0);
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

TEST(FileStream, CloseReportsBytesThatNeverReachedTheFile) {
#ifdef _WIN32
    GTEST_SKIP() << "needs a device that refuses every write (/dev/full)";
#else
    std::int64_t f = filCreate(AnyId, u"/dev/full");
    ASSERT_NE(f, 0);
    EXPECT_EQ(filWrite(f, "0123456789012345678901", 22), 22);  // buffered: accepted
    EXPECT_EQ(filClose(f), 0) << "the flush at close failed";
#endif
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

// What the buffering asks of the platform, call by call.
class CallCounter {
public:
    CallCounter() : start_(plat::fileCallCounts()) {}
    std::uint64_t reads() const { return plat::fileCallCounts().reads - start_.reads; }
    std::uint64_t writes() const { return plat::fileCallCounts().writes - start_.writes; }
    std::uint32_t lastRead() const { return plat::fileCallCounts().lastReadSize; }
    std::uint32_t lastWrite() const { return plat::fileCallCounts().lastWriteSize; }

private:
    plat::FileCallCounts start_;
};

TEST(FileStreamCalls, ReadsFillTheBufferOrBypassIt) {
    TempDir dir;
    octtest::writeFile(dir.path("small"), octtest::pattern(100));
    octtest::writeFile(dir.path("big"), octtest::pattern(20000));
    std::uint8_t buf[20000];

    std::int64_t f = filOpenRead(AnyId, dir.name("small").c_str());
    ASSERT_NE(f, 0);
    CallCounter calls;
    EXPECT_EQ(filRead(f, buf, 22), 22);
    EXPECT_EQ(calls.reads(), 1u);
    EXPECT_EQ(calls.lastRead(), 4096u) << "one read of a whole buffer";
    EXPECT_EQ(filRead(f, buf, 78), 78);
    EXPECT_EQ(calls.reads(), 1u) << "served from the read-ahead";
    filClose(f);

    f = filOpenRead(AnyId, dir.name("big").c_str());
    ASSERT_NE(f, 0);
    CallCounter big;
    EXPECT_EQ(filRead(f, buf, 10000), 10000);
    EXPECT_EQ(big.reads(), 1u);
    EXPECT_EQ(big.lastRead(), 10000u) << "a read of the buffer's size or more bypasses it";
    filClose(f);
}

TEST(FileStreamCalls, WritesAreCollectedAndFlushedInOneCall) {
    TempDir dir;
    const Bytes data = octtest::pattern(5000);
    struct Case {
        std::vector<std::int64_t> writes;
        std::uint64_t callsBeforeClose;
        std::uint32_t lastBeforeClose;
        std::uint32_t lastAtClose;
    };
    const Case cases[] = {
        {{22, 100}, 0, 0, 122},      // nothing until the close, then one write of 122
        {{4074, 22}, 1, 4074, 22},   // flushed first: 22 more would fill the buffer exactly
        {{5000}, 1, 5000, 0},        // straight to the file; nothing left for the close
    };
    for (const Case& c : cases) {
        std::int64_t f = filCreate(AnyId, dir.name("w").c_str());
        ASSERT_NE(f, 0);
        CallCounter calls;
        std::int64_t at = 0;
        for (std::int64_t n : c.writes) {
            EXPECT_EQ(filWrite(f, data.data() + at, n), n);
            at += n;
        }
        EXPECT_EQ(calls.writes(), c.callsBeforeClose) << c.writes[0];
        if (c.callsBeforeClose) {
            EXPECT_EQ(calls.lastWrite(), c.lastBeforeClose) << c.writes[0];
        }
        EXPECT_EQ(filClose(f), 1);
        const std::uint64_t atClose = calls.writes() - c.callsBeforeClose;
        EXPECT_EQ(atClose, c.lastAtClose ? 1u : 0u) << c.writes[0];
        if (c.lastAtClose) {
            EXPECT_EQ(calls.lastWrite(), c.lastAtClose) << c.writes[0];
        }
    }
}

}  // namespace
}  // namespace oct
