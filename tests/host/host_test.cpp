// A host program's view of the shared library: load it as a host does, call
// an export through a looked-up address, unload it. The observed build of the
// library reports its start and stop sequences through octTestObserve, which
// this program exports.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#define OCT_TEST_EXPORT extern "C" __declspec(dllexport)
#else
#include <dlfcn.h>
#define OCT_TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#include "host/host_library.h"
#include "oct.h"

namespace {
std::mutex gEventsLock;
std::string gEvents;

std::string events() {
    std::lock_guard hold(gEventsLock);
    return gEvents;
}

void clearEvents() {
    std::lock_guard hold(gEventsLock);
    gEvents.clear();
}

}  // namespace

// Called by the observed library, possibly from a thread-pool thread.
OCT_TEST_EXPORT void octTestObserve(const char* event) {
    std::lock_guard hold(gEventsLock);
    gEvents += event;
    gEvents += ';';
}

namespace {

TEST(HostProgram, LoadsCallsAndUnloadsTheLibrary) {
    clearEvents();
    HostLibrary lib;
    ASSERT_TRUE(lib.load());
    EXPECT_EQ(events(), "start;");

    using Version = decltype(&::octVersion);
    auto version = lib.proc<Version>("octVersion");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 1);

    lib.unload();
    // This thread lives on, so its exit callback runs at the unload.
    EXPECT_EQ(events(), "start;thread exit;stop;");
}

TEST(HostProgram, ExportsOnlyTheLibraryInterface) {
    HostLibrary lib;
    ASSERT_TRUE(lib.load());
    // Internal operations stay hidden, whatever their linkage.
    for (const char* hidden : {"_ZN3oct8memAllocEl", "_ZN3oct11modStartAllEv", "modStartAll", "memAlloc"})
        EXPECT_EQ(lib.proc<void (*)()>(hidden), nullptr) << hidden;
    // The helpers of hosts without GDI are Linux's; oct.dll keeps its ten.
    for (const char* helper : {"octBitmapCreate", "octBitmapInfo", "octBitmapDelete", "octBitmapWrap", "octLevelCodes",
                               "octLastError"}) {
#ifdef _WIN32
        EXPECT_EQ(lib.proc<void (*)()>(helper), nullptr) << helper;
#else
        EXPECT_NE(lib.proc<void (*)()>(helper), nullptr) << helper;
#endif
    }
    lib.unload();
}

// The reason of a failed load, as a host finds it: octLastError on Linux;
// oct.dll keeps its ten exports and has none.
TEST(HostProgram, ReadsTheReasonOfAFailedLoad) {
    HostLibrary lib;
    ASSERT_TRUE(lib.load());
    auto lastError = lib.proc<std::int64_t (*)(char*, std::int64_t)>("octLastError");
#ifdef _WIN32
    EXPECT_EQ(lastError, nullptr);
#else
    ASSERT_NE(lastError, nullptr);
    auto load = lib.proc<decltype(&::octLoad)>("octLoad");
    EXPECT_EQ(load(u"no-such-picture.png"), nullptr);
    char text[64];
    EXPECT_EQ(lastError(text, sizeof text), OCT_ENOFILE);
    EXPECT_STREQ(text, "no such file");
#endif
    lib.unload();
}

// A thread that called into the library outlives it: its exit callback runs
// at the unload, and its end later must not call into the unloaded code.
TEST(HostProgram, UnloadsWhileACallingThreadLivesOn) {
    clearEvents();
    HostLibrary lib;
    std::mutex m;
    std::condition_variable cv;
    bool loaded = false, release = false;
    std::thread caller([&] {
        bool ok = lib.load();
        std::unique_lock lock(m);
        loaded = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
        EXPECT_TRUE(ok);
    });
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return loaded; });
    }
    lib.unload();
    EXPECT_EQ(events(), "start;thread exit;stop;");
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    caller.join();
    // On Windows a wait callback left registered would fire on a pool thread
    // shortly after the thread ended; give it the chance to crash the program.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(events(), "start;thread exit;stop;");
}

TEST(HostProgram, ThreadExitCallbackRunsWhenTheCallingThreadEnds) {
    clearEvents();
    HostLibrary lib;
    std::thread([&] { ASSERT_TRUE(lib.load()); }).join();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (events() != "start;thread exit;" && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(events(), "start;thread exit;");
    lib.unload();
    EXPECT_EQ(events(), "start;thread exit;stop;");
}

}  // namespace

// ---------------------------------------------------------------------------
// A host converts its own bitmap and reads the rebuilt one back.
// ---------------------------------------------------------------------------
namespace {

struct Exports {
    using Convert = decltype(&::octConvert);
    using Record = decltype(&::octWidth);
    Convert convert;
    Record free, width, height, alpha, handle;

    explicit Exports(const HostLibrary& lib)
        : convert(lib.proc<Convert>("octConvert")), free(lib.proc<Record>("octFree")),
          width(lib.proc<Record>("octWidth")), height(lib.proc<Record>("octHeight")),
          alpha(lib.proc<Record>("octAlpha")), handle(lib.proc<Record>("octHandle")) {}
    bool complete() const { return convert && free && width && height && alpha && handle; }
};

// The host's picture: bottom-left pixel white, everything else black except
// the top-right pixel, a level-3 colour with alpha 200.
struct HostPixels {
    std::int32_t width, height;
    int bpp;
};

#ifdef _WIN32
struct HostDib {
    HBITMAP bitmap = nullptr;
    BITMAP bm{};
    HostDib(const HostLibrary&, std::int32_t w, std::int32_t h, int bpp) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = static_cast<WORD>(bpp);
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap) GetObjectW(bitmap, sizeof bm, &bm);
    }
    ~HostDib() {
        if (bitmap) DeleteObject(bitmap);
    }
    std::int64_t handle() const { return reinterpret_cast<std::int64_t>(bitmap); }
    std::uint8_t* bits() const { return static_cast<std::uint8_t*>(bm.bmBits); }
    std::int32_t pitch() const { return bm.bmWidthBytes; }
    static bool describe(const HostLibrary&, std::int64_t h, BITMAP& out) {
        return GetObjectW(reinterpret_cast<HGDIOBJ>(h), sizeof out, &out) == sizeof out;
    }
    bool alive(const HostLibrary&) const { return GetObjectType(bitmap) == OBJ_BITMAP; }
};
#else
struct BITMAP {
    std::int32_t bmType, bmWidth, bmHeight, bmWidthBytes;
    std::uint16_t bmPlanes, bmBitsPixel;
    void* bmBits;
};
struct HostDib {
    using Create = decltype(&::octBitmapCreate);
    using Info = decltype(&::octBitmapInfo);
    using Delete = decltype(&::octBitmapDelete);
    std::int64_t bitmap = 0;
    BITMAP bm{};
    Delete del;
    HostDib(const HostLibrary& lib, std::int32_t w, std::int32_t h, int bpp) : del(lib.proc<Delete>("octBitmapDelete")) {
        auto create = lib.proc<Create>("octBitmapCreate");
        if (create && del) bitmap = create(w, h, bpp);
        if (bitmap) describe(lib, bitmap, bm);
    }
    ~HostDib() {
        if (bitmap) del(bitmap);
    }
    std::int64_t handle() const { return bitmap; }
    std::uint8_t* bits() const { return static_cast<std::uint8_t*>(bm.bmBits); }
    std::int32_t pitch() const { return bm.bmWidthBytes; }
    static bool describe(const HostLibrary& lib, std::int64_t h, BITMAP& out) {
        auto info = lib.proc<Info>("octBitmapInfo");
        return info && info(h, reinterpret_cast<OctBitmap*>(&out)) == 1;
    }
    bool alive(const HostLibrary& lib) const {
        BITMAP b;
        return describe(lib, bitmap, b);
    }
};
#endif

TEST(HostProgram, ConvertsItsBitmapsAndReadsTheRebuiltPixels) {
    HostLibrary lib;
    ASSERT_TRUE(lib.load());
    Exports oct(lib);
    ASSERT_TRUE(oct.complete());
    EXPECT_EQ(oct.convert(0), nullptr);
    for (int bpp : {24, 32}) {
        const int bytes = bpp / 8;
        HostDib dib(lib, 7, 5, bpp);
        ASSERT_NE(dib.handle(), 0) << bpp;
        std::memset(dib.bits(), 0xFF, static_cast<std::size_t>(bytes));  // memory row 0 = bottom row
        std::uint8_t* topRight = dib.bits() + 4 * dib.pitch() + 6 * bytes;
        topRight[0] = 200, topRight[1] = 100, topRight[2] = 50;
        if (bpp == 32) topRight[3] = 200;

        OctImage* record = oct.convert(dib.handle());
        ASSERT_NE(record, nullptr) << bpp;
        EXPECT_EQ(oct.width(record), 7);
        EXPECT_EQ(oct.height(record), 5);
        EXPECT_EQ(oct.alpha(record), bpp == 32 ? 1 : 0);

        BITMAP rebuilt{};
        ASSERT_TRUE(HostDib::describe(lib, oct.handle(record), rebuilt));
        EXPECT_EQ(rebuilt.bmWidth, 7);
        EXPECT_EQ(rebuilt.bmHeight, 5);
        EXPECT_EQ(rebuilt.bmBitsPixel, bpp);
        const auto* out = static_cast<const std::uint8_t*>(rebuilt.bmBits);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out[0], 0xFF);
        EXPECT_EQ(out[2], 0xFF);
        const std::uint8_t* px = out + 4 * rebuilt.bmWidthBytes + 6 * bytes;
        EXPECT_EQ(px[0], 89);
        EXPECT_EQ(px[2], 89);
        if (bpp == 32) {
            EXPECT_EQ(out[3], 255);
            EXPECT_EQ(px[3], 179);  // alpha 200 is level 6
        }
        EXPECT_EQ(oct.free(record), 0);
        EXPECT_TRUE(dib.alive(lib)) << "the host's bitmap must outlive the record";
    }
    lib.unload();
}

// A Linux host converts its own top-row-first pixels without a copy and
// reads the level codes.
TEST(HostProgram, WrapsItsOwnPixelsAndReadsTheLevelCodes) {
#ifdef _WIN32
    GTEST_SKIP() << "oct.dll has no octBitmapWrap or octLevelCodes: a Windows host makes its own DIB section";
#else
    HostLibrary lib;
    ASSERT_TRUE(lib.load());
    auto wrap = lib.proc<decltype(&::octBitmapWrap)>("octBitmapWrap");
    auto codes = lib.proc<decltype(&::octLevelCodes)>("octLevelCodes");
    auto del = lib.proc<decltype(&::octBitmapDelete)>("octBitmapDelete");
    Exports oct(lib);
    ASSERT_TRUE(wrap && codes && del && oct.complete());
    // 3 × 2 pixels of 3 bytes, top row first: white, black, black over
    // black, black, (200, 100, 50).
    std::uint8_t pixels[18] = {255, 255, 255};
    pixels[15] = 200, pixels[16] = 100, pixels[17] = 50;
    const std::int64_t bitmap = wrap(pixels + 9, 3, 2, -9, 24);
    ASSERT_NE(bitmap, 0);
    OctImage* record = oct.convert(bitmap);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(del(bitmap), 1);
    // The bottom row first: level 0, 0, 3 (bit 6 at pixel 2), then 7, 0, 0
    // (bits 9, 10, 11).
    std::uint8_t out[3] = {0xCD, 0xCD, 0xCD};
    EXPECT_EQ(codes(record, out, 2), 3);
    EXPECT_EQ(out[0], 0xCD);
    EXPECT_EQ(codes(record, out, 3), 3);
    EXPECT_EQ(out[0], 0x40);
    EXPECT_EQ(out[1], 0x0E);
    EXPECT_EQ(out[2], 0x00);
    oct.free(record);
    lib.unload();
#endif
}

}  // namespace
