// Eight threads mixing every path of the library at once for a while (picture
// codecs and PNG saves among them), each on its own records and files, while images, file streams, archives and
// fonts of all of them share the tables: every result must be the one the
// same work gives on one thread alone.
//
// OCT_SOAK_SECONDS sets how long the threads run (default 2); each thread
// does every kind of work at least once however short the time.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/picture_maker.h"
#include "draw/image_draw.h"
#include "file/stream.h"
#include "image/image.h"
#include "image/loader.h"
#include "image/resample.h"
#include "oct.h"
#include "pack/archive.h"
#include "pack/archive_table.h"
#include "pack/registry.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "runtime/object_table.h"
#include "test_files.h"
#include "tool.h"

namespace oct {
namespace {

namespace fs = std::filesystem;
using octtest::Bytes;

constexpr int kThreads = 8;

std::uint64_t mix(std::uint64_t h, const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
    return h;
}
std::uint64_t mix(std::uint64_t h, const Bytes& b) { return mix(h, b.data(), b.size()); }
std::uint64_t mix(std::uint64_t h, std::int64_t v) { return mix(h, &v, sizeof v); }
constexpr std::uint64_t kStart = 0xCBF29CE484222325ull;

// A record's fingerprint: its size, alpha flag and rebuilt bitmap; 0 for none.
std::uint64_t recordPrint(OctImage* record) {
    plat::BitmapDesc bm{};
    if (!record || !plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(record)), bm)) {
        octFree(record);
        return 0;
    }
    std::uint64_t h = mix(mix(mix(kStart, octWidth(record)), octHeight(record)), octAlpha(record));
    h = mix(h, bm.bits, static_cast<std::size_t>(bm.widthBytes) * bm.height);
    octFree(record);
    return h;
}

std::uint64_t filePrint(std::uint64_t h, const fs::path& p) {
    std::error_code ec;
    if (!fs::exists(p, ec)) return 0;
    return mix(h, octtest::readFile(p));
}

// One thread's inputs, all of its own making, so that a result that took
// another thread's data shows.
struct Workspace {
    fs::path dir;
    int variant = 0;
    BenchPicture rgb, rgba;  // 24- and 32-bit pictures of a size of the variant's own
    Bytes rgbFile, rgbaFile;
    fs::path icon;
    std::vector<fs::path> pictures;  // a PNG, a JPEG, a GIF and (where the system reads it) a WebP

    fs::path at(const std::string& leaf) const { return dir / leaf; }
    std::u16string name(const std::string& leaf) const { return at(leaf).u16string(); }
};

int tool(const std::vector<std::string>& args, std::string* out = nullptr) {
    std::ostringstream o, e;
    std::vector<std::string_view> views(args.begin(), args.end());
    tool::ToolContext context{.out = o, .err = e};
    const int code = tool::toolRun(views, context);
    if (out) *out = o.str();
    return code;
}

// A bottom-up DIB section holding the picture, for octConvert.
plat::Handle sectionOf(const BenchPicture& pic) {
    const plat::Handle h = plat::dibSectionCreate(pic.width, pic.height, pic.bitsPerPixel);
    plat::BitmapDesc bm{};
    if (!h || !plat::bitmapDescribe(h, bm) || bm.widthBytes != pic.pitch) return h;
    std::memcpy(bm.bits, pic.pixels.data(), pic.pixels.size());
    return h;
}

// --- the work, one kind per function; each gives a fingerprint, 0 on failure

std::uint64_t loadBmp(const Workspace& w) { return recordPrint(octLoad(w.name("rgb.bmp").c_str())); }
// octLoad refuses icons; the image loader reads them into the image table,
// and the icon's pixels come back as a bitmap with alpha.
std::uint64_t loadIcon(const Workspace& w) {
    const std::u16string name = w.icon.u16string();
    if (octLoad(name.c_str())) return 0;
    const std::int64_t id = imgLoadImage(AnyId, name.c_str());
    const ImageObject* image = imgGetImage(id);
    plat::Handle dib = image && image->format == kIconFormat ? drwIconToDib(image->handle) : 0;
    // On Windows the icon's own colour bitmap may come back, device-dependent.
    if (dib && !plat::bitmapIsDibSection(dib)) {
        const plat::Handle copy = drwDdbToDib(dib);
        plat::objectDelete(dib);
        dib = copy;
    }
    plat::BitmapDesc bm{};
    std::uint64_t h = 0;
    if (dib && plat::bitmapDescribe(dib, bm) && bm.bits)
        h = mix(mix(mix(kStart, image->width), image->height),
                bm.bits, static_cast<std::size_t>(bm.widthBytes) * bm.height);
    plat::objectDelete(dib);
    imgFreeImage(id);
    return h;
}
std::uint64_t loadLevel(const Workspace& w) { return recordPrint(octLoad(w.name("rgba.oct").c_str())); }
std::uint64_t catchBmp(const Workspace& w) {
    return recordPrint(octCatch(w.rgbaFile.data(), static_cast<std::int64_t>(w.rgbaFile.size())));
}

// octConvert of 24- and 32-bit sections, each saved with flags 0, 1 and 5.
std::uint64_t convertAndSave(const Workspace& w) {
    std::uint64_t h = kStart;
    for (const BenchPicture* pic : {&w.rgb, &w.rgba}) {
        const plat::Handle section = sectionOf(*pic);
        OctImage* record = octConvert(static_cast<std::int64_t>(section));
        plat::objectDelete(section);
        if (!record) return 0;
        for (std::int64_t flag : {0, 1, 5}) {
            const std::string leaf = "saved-" + std::to_string(pic->bitsPerPixel) + "-" + std::to_string(flag);
            if (octSave(record, w.name(leaf).c_str(), flag) != 1) h = 0;
            h = h ? filePrint(h, w.at(leaf)) : 0;
        }
        h = h ? mix(h, static_cast<std::int64_t>(recordPrint(record))) : 0;
    }
    return h;
}

// An archive written, listed and extracted through octtool's archive command.
std::uint64_t archive(const Workspace& w) {
    const std::string pak = w.at("a.pak").string(), x = w.at("x").string();
    std::string listing;
    if (tool({"archive", "create", pak, w.at("rgb.bmp").string(), "level=" + w.at("rgba.oct").string()}) != 0 ||
        tool({"archive", "list", pak}, &listing) != 0 || tool({"archive", "extract", pak, "-C", x}) != 0)
        return 0;
    std::uint64_t h = mix(filePrint(kStart, w.at("a.pak")), Bytes(listing.begin(), listing.end()));
    h = h ? filePrint(h, w.at("x") / "rgb.bmp") : 0;
    return h ? filePrint(h, w.at("x") / "level") : 0;
}

// Palette files of 8, 4 (dithered) and 1 bits.
std::uint64_t paletteSave(const Workspace& w) {
    std::uint64_t h = kStart;
    for (const char* depth : {"8", "4", "1"}) {
        const std::string out = w.at(std::string("pal") + depth + ".bmp").string();
        std::vector<std::string> args{"bmp", "--depth", depth, w.at("rgba.bmp").string(), out};
        if (depth[0] == '4') args.insert(args.begin() + 1, "--dither");
        if (tool(args) != 0) return 0;
        h = filePrint(h, out);
    }
    return h;
}

// Cubic resampling down and up, 24 and 32 bits.
std::uint64_t resample(const Workspace& w) {
    std::uint64_t h = kStart;
    const BenchPicture& p = w.rgba;
    for (auto [dw, dh] : {std::array{p.width / 3, p.height / 2}, std::array{p.width * 2 + 1, p.height + 7}}) {
        for (int bits : {24, 32}) {
            const int bytes = bits / 8;
            Bytes packed(static_cast<std::size_t>(p.width) * p.height * bytes);
            for (std::size_t i = 0, j = 0; j < packed.size(); i += 4, j += bytes)
                std::memcpy(&packed[j], &p.pixels[i], static_cast<std::size_t>(bytes));
            Bytes out(static_cast<std::size_t>(dw) * dh * bytes);
            if (!imgResample(packed.data(), p.width, p.height, out.data(), dw, dh, bits)) return 0;
            h = mix(h, out);
        }
    }
    return h;
}

// A drawing script with text in two fonts, turned text, shapes and the
// thread's own picture and icon drawn in.
std::uint64_t draw(const Workspace& w) {
    const std::string out = w.at("drawn.bmp").string();
    if (tool({"draw", out, "120", "90", w.variant % 2 ? "32" : "24", w.at("script.txt").string()}) != 0) return 0;
    return filePrint(kStart, out);
}

// A file stream written in uneven pieces through the file table, then read back.
std::uint64_t fileStreams(const Workspace& w) {
    const std::u16string name = w.name("stream.bin");
    const Bytes& data = w.rgbFile;
    const std::int64_t out = filCreate(AnyId, name.c_str());
    if (!out) return 0;
    bool ok = true;
    for (std::size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 % 9001 + 1) {
        const std::size_t n = std::min(step, data.size() - at);
        ok = filWrite(out, data.data() + at, static_cast<std::int64_t>(n)) == static_cast<std::int64_t>(n) && ok;
    }
    ok = filClose(out) == 1 && ok;
    const std::int64_t in = filOpenRead(AnyId, name.c_str());
    if (!in) return 0;
    Bytes back(data.size() + 1);
    ok = filSize(in) == static_cast<std::int64_t>(data.size()) && ok;
    ok = filRead(in, back.data(), static_cast<std::int64_t>(back.size())) == static_cast<std::int64_t>(data.size()) && ok;
    filClose(in);
    back.pop_back();
    return ok ? mix(kStart, back) : 0;
}

// Pictures through the system's codecs, and the thread's own pictures
// rebuilt and saved as PNG.
std::uint64_t pictures(const Workspace& w) {
    std::uint64_t h = kStart;
    for (const fs::path& p : w.pictures) {
        const std::uint64_t r = recordPrint(octLoad(p.u16string().c_str()));
        if (!r) return 0;
        h = mix(h, static_cast<std::int64_t>(r));
    }
    for (const char* in : {"rgb.bmp", "rgba.bmp"}) {
        const std::string out = w.at(std::string(in) + ".png").string();
        if (tool({"convert", w.at(in).string(), out}) != 0) return 0;
        h = filePrint(h, out);
    }
    return h;
}

struct Work {
    const char* name;
    std::uint64_t (*run)(const Workspace&);
};
constexpr Work kWork[] = {
    {"octLoad BMP", loadBmp},        {"octLoad icon", loadIcon},       {"octLoad level file", loadLevel},
    {"octCatch", catchBmp},          {"octConvert and octSave", convertAndSave}, {"archive", archive},
    {"palette save", paletteSave},   {"imgResample", resample},        {"drawing with text", draw},
    {"file streams", fileStreams},   {"pictures and PNG saves", pictures},
};
constexpr int kKinds = static_cast<int>(std::size(kWork));

// Objects held while the thread works, so that every table holds entries of
// several threads at once: an image, an open file stream and an open archive.
class Held {
public:
    explicit Held(const Workspace& w) {
        image_ = imgLoadImageMemory(AnyId, w.rgbaFile.data(), static_cast<std::int64_t>(w.rgbaFile.size()));
        // A file of its own: the stream opens it without sharing, which on
        // Windows keeps every other opener out.
        stream_ = filOpenRead(AnyId, w.name("held.bmp").c_str());
        const PackCodec* codec = pakFindCodec(kPakCodecLz);
        archive_ = codec ? static_cast<ArchiveObject*>(objNewObject(pakArchiveTable(), AnyId)) : nullptr;
        if (archive_) {
            archive_->plugin = codec->plugin;
            archive_->plugin->openArchive(archive_, w.name("held.pak").c_str());
        }
    }
    // Whether they are all still what they were.
    bool intact(const Workspace& w) const {
        const ImageObject* image = imgGetImage(image_);
        std::uint8_t head[2] = {};
        Bytes entry(w.rgbFile.size());
        return image && image->width == w.rgba.width && filRead(stream_, head, 2) == 2 && head[0] == 'B' &&
               archive_ && archive_->archive &&
               archive_->plugin->extractMemory(archive_->archive, entry.data(), static_cast<std::int64_t>(entry.size()),
                                               u"rgb") == static_cast<std::int64_t>(entry.size()) &&
               entry == w.rgbFile;
    }
    ~Held() {
        imgFreeImage(image_);
        filClose(stream_);
        if (archive_) pakFreeArchive(reinterpret_cast<std::int64_t>(archive_));
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    std::int64_t image_ = 0, stream_ = 0;
    ArchiveObject* archive_ = nullptr;
};

class Soak : public ::testing::Test {
protected:
    void SetUp() override {
        const auto photo = benchReadBmp((fs::path(OCT_CORPUS_DIR) / "photo" / "harvesters.bmp").string());
        ASSERT_TRUE(photo);
        const char* icons[] = {"hopper.ico", "bmp-32bpp-alpha.ico", "8bpp_8x8.ico", "png-32bpp-alpha.ico"};
        for (int t = 0; t < kThreads; ++t) {
            Workspace& w = spaces_[t];
            w.variant = t;
            w.dir = dir_.path("t" + std::to_string(t));
            fs::create_directories(w.dir / "x");
            const std::int32_t width = 61 + 9 * t, height = 47 + 5 * t;
            w.rgb = *benchScalePhoto(*photo, width, height, false);
            w.rgba = *benchScalePhoto(*photo, width, height, true);
            w.rgbFile = benchBmpFile(w.rgb);
            w.rgbaFile = benchBmpFile(w.rgba);
            octtest::writeFile(w.at("rgb.bmp"), w.rgbFile);
            octtest::writeFile(w.at("rgba.bmp"), w.rgbaFile);
            octtest::writeFile(w.at("held.bmp"), w.rgbFile);
            const fs::path data = OCT_CORPUS_DIR;
            const char* pngs[] = {"png/pngsuite/basn6a08.png", "png/pngsuite/basi2c08.png", "png/pngsuite/tbbn3p08.png"};
            const char* jpegs[] = {"jpeg/pillow/hopper.jpg", "jpeg/pillow/hopper_orientation_6.jpg"};
            const char* gifs[] = {"gif/gif-test-suite/animated_loop.gif", "gif/pillow/transparent.gif"};
            w.pictures = {data / pngs[t % 3], data / jpegs[t % 2], data / gifs[t % 2]};
#ifndef _WIN32
            w.pictures.push_back(data / "webp/libwebp-test-data" / (t % 2 ? "lossless_vec_1_0.webp" : "alpha_color_cache.webp"));
#endif
            w.icon = w.at("icon.ico");
            fs::copy_file(fs::path(OCT_CORPUS_DIR) / "ico" / icons[t % std::size(icons)], w.icon);
            OctImage* record = octCatch(w.rgbaFile.data(), static_cast<std::int64_t>(w.rgbaFile.size()));
            ASSERT_EQ(octSave(record, w.name("rgba.oct").c_str(), 0), 1);
            octFree(record);
            ASSERT_EQ(tool({"archive", "create", w.at("held.pak").string(), "rgb=" + w.at("rgb.bmp").string()}), 0);
            const std::string script = "front 0xFF2040E0\nback 0x80FFFFFF\nbox 2 2 " + std::to_string(20 + t) +
                                       " 30\nmode 4\nellipse 60 45 25 " + std::to_string(10 + t) +
                                       "\nmode 0\nfont DejaVu_Sans -" + std::to_string(11 + t) +
                                       " 700\ntext 4 40 Thread " + std::to_string(t) +
                                       "\nfont -\ntext 50 5 Hg\ntextangle 100 80 " + std::to_string(15 * t) +
                                       " turned\nimage 70 50 200 0 rgba.bmp\nimagesized 5 60 24 24 icon.ico\n";
            const std::string& s = script;
            octtest::writeFile(w.at("script.txt"), Bytes(s.begin(), s.end()));
            // What each kind of work gives on this thread alone.
            for (int k = 0; k < kKinds; ++k) {
                expected_[t][k] = kWork[k].run(w);
                ASSERT_NE(expected_[t][k], 0u) << kWork[k].name << " fails on one thread (thread " << t << ")";
            }
        }
    }

    octtest::TempDir dir_;
    std::array<Workspace, kThreads> spaces_;
    std::array<std::array<std::uint64_t, kKinds>, kThreads> expected_{};
};

TEST_F(Soak, EightThreadsMixEveryPathAtOnce) {
    const char* env = std::getenv("OCT_SOAK_SECONDS");
    const double seconds = env && *env ? std::strtod(env, nullptr) : 2.0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);

    std::array<std::atomic<int>, kKinds> wrong{};
    std::atomic<int> heldLost{0};
    std::atomic<std::int64_t> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            const Workspace& w = spaces_[t];
            // Each thread starts at another kind of work, so that different
            // kinds run side by side.
            for (int i = 0; i < kKinds || std::chrono::steady_clock::now() < until; ++i) {
                const int k = (t + i) % kKinds;
                Held held(w);
                if (kWork[k].run(w) != expected_[t][k]) ++wrong[k];
                if (!held.intact(w)) ++heldLost;
                ++done;
            }
        });
    for (auto& th : threads) th.join();

    for (int k = 0; k < kKinds; ++k) EXPECT_EQ(wrong[k].load(), 0) << kWork[k].name << " gave another result";
    EXPECT_EQ(heldLost.load(), 0) << "a held image, stream or archive changed";
    RecordProperty("work done", static_cast<int>(done.load()));
    if (env) std::printf("soak: %lld pieces of work in %.1f s on %d threads\n", static_cast<long long>(done.load()),
                         seconds, kThreads);
}

}  // namespace
}  // namespace oct
