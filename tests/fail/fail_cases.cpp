#include "fail/fail_cases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "draw_script.h"
#include "encode/bmp_writer.h"
#include "encode/encoder.h"
#include "encode/png_writer.h"
#include "image/image.h"
#include "image/loader.h"
#include "image/resample.h"
#include "oct.h"
#include "pack/archive.h"
#include "pack/archive_table.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "platform/pictures.h"
#include "runtime/heap.h"
#include "runtime/object_table.h"

namespace octtest {
namespace {

namespace plat = oct::plat;

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) h = (h ^ ((v >> (8 * i)) & 0xFF)) * 0x100000001b3u;
    return h;
}

std::uint64_t mixBytes(std::uint64_t h, const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3u;
    return h;
}

// A bitmap's size, depth and pixels.
std::uint64_t bitmapPrint(plat::Handle handle) {
    plat::BitmapDesc bm{};
    if (!plat::bitmapDescribe(handle, bm) || !bm.bits) return 0;
    std::uint64_t h = mix(mix(mix(0xcbf29ce484222325u, bm.width), bm.height), bm.bitsPerPixel);
    return mixBytes(h, bm.bits, static_cast<std::size_t>(bm.widthBytes) * static_cast<std::size_t>(bm.height));
}

// A record's result: its sizes, alpha flag and rebuilt bitmap; it is freed.
std::optional<std::uint64_t> recordPrint(std::int64_t result) {
    auto* record = reinterpret_cast<OctImage*>(result);
    if (!record) return std::nullopt;
    std::uint64_t h = mix(mix(mix(1, octWidth(record)), octHeight(record)), octAlpha(record));
    h = mix(h, bitmapPrint(static_cast<plat::Handle>(octHandle(record))));
    octFree(record);
    return h;
}

Bytes fileOf(const std::filesystem::path& p) { return std::filesystem::exists(p) ? readFile(p) : Bytes{}; }

// A photo-like pattern of B, G, R (and A) bytes, rows padded to 4 bytes.
Bytes picture(int w, int h, int bytesPerPixel) {
    const int row = (w * bytesPerPixel + 3) / 4 * 4;
    Bytes out(static_cast<std::size_t>(row) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < bytesPerPixel; ++k)
                out[static_cast<std::size_t>(y) * row + x * bytesPerPixel + k] =
                    static_cast<std::uint8_t>((x * (3 + k) + y * (5 - k) + ((x * y) >> (3 + k))) & 0xFF);
    return out;
}

// A save to `target` over an old file: a success writes the new bytes (their
// fingerprint; then the old file is put back); a failure leaves the old file
// as it was and nothing new in the folder.
struct SafeSave {
    const TempDir* dir;
    std::string leaf;
    Bytes old = Bytes(100, 'o');
    std::vector<std::string> entries{};

    void prepare() {
        writeFile(dir->path(leaf), old);
        entries = dir->entries();
        std::sort(entries.begin(), entries.end());
    }
    std::optional<std::uint64_t> check(bool saved) {
        const Bytes now = fileOf(dir->path(leaf));
        std::vector<std::string> after = dir->entries();
        std::sort(after.begin(), after.end());
        EXPECT_EQ(after, entries) << leaf << ": the save left something beside the file";
        std::optional<std::uint64_t> result;
        if (saved)
            result = fingerprint(now);
        else
            EXPECT_EQ(now, old) << leaf << ": a failed save changed the old file";
        prepare();
        return result;
    }
    void release() { std::vector<std::string>().swap(entries); }
};

}  // namespace

FailCases::FailCases() {
    bmp_ = readFile(std::filesystem::path(OCT_SAMPLES_DIR) / "harvesters-320.bmp");
    // A 32-bit BMP with alpha, made by the encoder from a pattern.
    const Bytes rgba = picture(40, 30, 4);
    writeFile(dir_.path("input.bmp"), bmp_);
    writeFile(dir_.path("input.ico"), readFile(std::filesystem::path(OCT_CORPUS_DIR) / "ico" / "bmp-32bpp-alpha.ico"));
    const std::int64_t made =
        oct::imgBmpEncode(nullptr, {rgba.data(), 40, 30, 160, oct::kEncodeBottomUp}, {.flags = 0, .depth = 32}, 32);
    if (made) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(made);
        bmp32_.assign(p, p + 54 + 160 * 30);
        oct::memFree(reinterpret_cast<void*>(made));
    }
    writeFile(dir_.path("input32.bmp"), bmp32_);
    OctImage* record = octLoad(dir_.name("input.bmp").c_str());
    if (record && octSave(record, dir_.name("input.lvl").c_str(), 0) == 1) level_ = readFile(dir_.path("input.lvl"));
    octFree(record);
}

std::vector<FailCase> FailCases::all() {
    std::vector<FailCase> cases;
    auto none = [] {};
    auto name = [this](const char* leaf) { return std::make_shared<std::u16string>(dir_.name(leaf)); };

    // Loading.
    for (const char* leaf : {"input.bmp", "input32.bmp", "input.lvl"}) {
        auto file = name(leaf);
        cases.push_back({leaf, none, [file] { return reinterpret_cast<std::int64_t>(octLoad(file->c_str())); },
                         recordPrint, none, true});
    }
    {
        // An icon loads as an icon, which the record refuses: every run is a
        // failure, and must leave nothing behind.
        auto file = name("input.ico");
        cases.push_back({"input.ico", none, [file] { return reinterpret_cast<std::int64_t>(octLoad(file->c_str())); },
                         [](std::int64_t r) -> std::optional<std::uint64_t> {
                             EXPECT_EQ(r, 0) << "an icon became a record";
                             octFree(reinterpret_cast<OctImage*>(r));
                             return 0;
                         },
                         none});
        // The icon itself, as the image layer loads it.
        cases.push_back({"icon image", none, [file] { return oct::imgLoadImage(oct::AnyId, file->c_str(), oct::LoadFrames::All); },
                         [](std::int64_t id) -> std::optional<std::uint64_t> {
                             if (!id) return std::nullopt;
                             const oct::ImageObject* image = oct::imgGetImage(id);
                             plat::BitmapDesc colour{};
                             const bool described = image && plat::iconDescribe(image->handle, colour);
                             const std::uint64_t h = described ? mix(mix(2, colour.width), colour.height) : 0;
                             oct::imgFreeImage(id);
                             return h;
                         },
                         none});
    }
    for (const Bytes* bytes : {&bmp_, &level_}) {
        cases.push_back({bytes == &bmp_ ? "octCatch BMP" : "octCatch level file", none,
                         [bytes] {
                             return reinterpret_cast<std::int64_t>(
                                 octCatch(bytes->data(), static_cast<std::int64_t>(bytes->size())));
                         },
                         recordPrint, none, true});
    }

    // Pictures through the system's codecs: a PNG with alpha, a JPEG turned
    // upright by its orientation, a GIF's frames composed on its screen (all
    // of them, and frame 0 alone as a conversion loads it), a TIFF, and a
    // WebP where the system has a codec for it (wine has none).
    std::vector<const char*> pictures = {"png/pngsuite/basn6a08.png", "jpeg/pillow/hopper_orientation_6.jpg",
                                         "gif/gif-test-suite/animated_transparent_frame_restoreprev_loop.gif",
                                         "tiff/libtiff/palette-1c-8b.tiff"};
    if (plat::pictureHasCodec(plat::PictureFormat::WebP)) pictures.push_back("webp/libwebp-test-data/lossless_vec_1_0.webp");
    std::vector<std::pair<const char*, oct::LoadFrames>> loads;
    for (const char* leaf : pictures) loads.emplace_back(leaf, oct::LoadFrames::All);
    loads.emplace_back(pictures[2], oct::LoadFrames::First);
    for (const auto& [leaf, frames] : loads) {
        auto file = std::make_shared<std::u16string>(
            (std::filesystem::path(OCT_CORPUS_DIR) / leaf).u16string());
        cases.push_back({frames == oct::LoadFrames::All ? leaf : "the GIF's frame 0 alone", none,
                         [file, frames = frames] { return oct::imgLoadImage(oct::AnyId, file->c_str(), frames); },
                         [](std::int64_t id) -> std::optional<std::uint64_t> {
                             if (!id) return std::nullopt;
                             const oct::ImageObject* image = oct::imgGetImage(id);
                             std::uint64_t h = mix(2, image->frameCount);
                             for (std::int32_t i = 0; image->frames && i < image->frameCount; ++i)
                                 h = mix(h, bitmapPrint(image->frames[i].bitmap));
                             h = mix(h, bitmapPrint(image->handle));
                             oct::imgFreeImage(id);
                             return h;
                         },
                         none, true});
    }

    // PNG out: indexed (the rebuilt levels of a 24-bit picture) and RGBA.
    for (const char* input : {"input.bmp", "input32.bmp"}) {
        auto record = std::make_shared<OctImage*>(nullptr);
        auto source = name(input);
        auto save = std::make_shared<SafeSave>(SafeSave{&dir_, "saved.png"});
        auto target = name("saved.png");
        cases.push_back({std::string_view(input) == "input.bmp" ? "PNG save, indexed" : "PNG save, RGBA",
                         [record, source, save] {
                             *record = octLoad(source->c_str());
                             save->prepare();
                         },
                         [record, target] {
                             plat::BitmapDesc bm{};
                             if (!*record || !plat::bitmapDescribe(octHandle(*record), bm)) return std::int64_t{0};
                             return oct::imgPngEncode(target->c_str(),
                                                      {static_cast<const std::uint8_t*>(bm.bits), bm.width, bm.height,
                                                       bm.widthBytes, oct::kEncodeBottomUp},
                                                      {.flags = 0, .depth = bm.bitsPerPixel}, bm.bitsPerPixel);
                         },
                         [save](std::int64_t saved) { return save->check(saved == 1); },
                         [record, save] {
                             octFree(*record);
                             save->release();
                         },
                         true});
    }

    // Converting the host's bitmaps.
    for (int depth : {24, 32}) {
        auto host = std::make_shared<plat::Handle>(0);
        cases.push_back({depth == 24 ? "octConvert 24" : "octConvert 32",
                         [host, depth] {
                             *host = plat::dibSectionCreate(120, 90, depth);
                             plat::BitmapDesc bm{};
                             if (plat::bitmapDescribe(*host, bm)) {
                                 const Bytes p = picture(120, 90, depth / 8);
                                 std::memcpy(bm.bits, p.data(), p.size());
                             }
                         },
                         [host] { return reinterpret_cast<std::int64_t>(octConvert(static_cast<std::int64_t>(*host))); },
                         recordPrint, [host] { plat::objectDelete(*host); }, true});
    }

    // Saving: flag 0 (level file) and 1 (BMP), from 24- and 32-bit records.
    struct SaveKind {
        const char* name;
        const char* input;
        std::int64_t flag;
    };
    for (const SaveKind& k : {SaveKind{"octSave 0", "input.bmp", 0}, SaveKind{"octSave 1", "input.bmp", 1},
                              SaveKind{"octSave 0, alpha", "input32.bmp", 0},
                              SaveKind{"octSave 1, alpha", "input32.bmp", 1}}) {
        auto record = std::make_shared<OctImage*>(nullptr);
        auto input = name(k.input);
        auto save = std::make_shared<SafeSave>(SafeSave{&dir_, "saved.out"});
        auto target = name("saved.out");
        const std::int64_t flag = k.flag;
        cases.push_back({k.name,
                         [record, input, save] {
                             *record = octLoad(input->c_str());
                             save->prepare();
                         },
                         [record, target, flag] { return octSave(*record, target->c_str(), flag); },
                         [save](std::int64_t saved) { return save->check(saved == 1); },
                         [record, save] {
                             octFree(*record);
                             save->release();
                         },
                         true});
    }

    // An archive: created with two entries, listed, and both extracted.
    {
        struct ArchiveRun {
            std::u16string file;
            Bytes a = picture(300, 40, 3), b = Bytes(5000, 7);
            Bytes outA = Bytes(a.size() + 16), outB = Bytes(b.size() + 16);
            std::int64_t sizes[4] = {};
            std::int32_t listed = 0;
        };
        auto s = std::make_shared<ArchiveRun>();
        s->file = dir_.name("input-archive.pak");
        auto run = [s]() -> std::int64_t {
            const oct::PackPlugin& lz = *oct::pakFindCodec(oct::kPakCodecLz)->plugin;
            auto* object = static_cast<oct::ArchiveObject*>(oct::objNewObject(oct::pakArchiveTable(), oct::AnyId));
            if (!object) return 0;
            object->plugin = &lz;
            const std::int64_t id = reinterpret_cast<std::int64_t>(object);
            bool ok = lz.createArchive(object, s->file.c_str(), 0, 6) != nullptr &&
                      lz.addMemory(object->archive, s->a.data(), static_cast<std::int64_t>(s->a.size()), u"picture") == 1 &&
                      lz.addMemory(object->archive, s->b.data(), static_cast<std::int64_t>(s->b.size()), u"sevens") == 1;
            if (object->archive) lz.closeArchive(object->archive);
            object->archive = nullptr;
            ok = ok && lz.openArchive(object, s->file.c_str()) != nullptr && lz.listEntries(object->archive);
            s->listed = 0;
            while (ok && lz.nextEntry(object->archive) && s->listed < 2) {
                s->sizes[2 * s->listed] = lz.entrySize(object->archive, 0);
                s->sizes[2 * s->listed + 1] = lz.entrySize(object->archive, 1);
                ++s->listed;
            }
            const std::int64_t gotA =
                ok ? lz.extractMemory(object->archive, s->outA.data(), static_cast<std::int64_t>(s->outA.size()), u"picture") : -1;
            const std::int64_t gotB =
                ok ? lz.extractMemory(object->archive, s->outB.data(), static_cast<std::int64_t>(s->outB.size()), u"sevens") : -1;
            oct::pakFreeArchive(id);
            return ok && gotA == static_cast<std::int64_t>(s->a.size()) && gotB == static_cast<std::int64_t>(s->b.size());
        };
        cases.push_back({"archive", none, run,
                         [s](std::int64_t ok) -> std::optional<std::uint64_t> {
                             std::error_code ec;
                             std::filesystem::remove(std::filesystem::path(s->file), ec);
                             std::optional<std::uint64_t> result;
                             if (ok) {
                                 // The stored sizes are left out: an entry that
                                 // cannot be packed for want of memory is stored
                                 // as it is, which is a valid archive too.
                                 std::uint64_t h = mix(mix(mix(3, s->listed), s->sizes[0]), s->sizes[2]);
                                 h = mixBytes(h, s->outA.data(), s->a.size());
                                 h = mixBytes(h, s->outB.data(), s->b.size());
                                 result = h;
                             }
                             std::fill(s->outA.begin(), s->outA.end(), 0);
                             std::fill(s->outB.begin(), s->outB.end(), 0);
                             std::fill(std::begin(s->sizes), std::end(s->sizes), 0);
                             return result;
                         },
                         none, true});
    }

    // Palette BMP files, with error diffusion at 4 bits.
    for (int depth : {1, 4, 8}) {
        auto pixels = std::make_shared<Bytes>(picture(64, 48, 3));
        auto save = std::make_shared<SafeSave>(SafeSave{&dir_, "palette.bmp"});
        auto target = name("palette.bmp");
        const std::int32_t flags = depth == 4 ? 0x100 : 0;
        cases.push_back({depth == 1 ? "palette 1" : depth == 4 ? "palette 4" : "palette 8", [save] { save->prepare(); },
                         [pixels, target, depth, flags] {
                             return oct::imgBmpEncode(target->c_str(), {pixels->data(), 64, 48, 192, oct::kEncodeBottomUp},
                                                      {.flags = flags, .depth = depth}, 24);
                         },
                         [save](std::int64_t saved) { return save->check(saved == 1); },
                         [save] { save->release(); }, true});
    }

    // Resampling, down in one direction and up in the other.
    {
        auto src = std::make_shared<Bytes>(picture(96, 64, 4));
        auto dst = std::make_shared<Bytes>(static_cast<std::size_t>(60 * 4) * 100);
        cases.push_back({"imgResample", none, [src, dst] { return oct::imgResample(src->data(), 96, 64, dst->data(), 60, 100, 32); },
                         [dst](std::int64_t ok) -> std::optional<std::uint64_t> {
                             std::optional<std::uint64_t> result;
                             if (ok == 1) result = fingerprint(*dst);
                             std::fill(dst->begin(), dst->end(), 0);
                             return result;
                         },
                         none});
    }

    // A drawing script: shapes in several modes, a BMP and an icon, text in
    // made fonts and the stock font.
    {
        auto steps = std::make_shared<std::optional<std::vector<oct::tool::ScriptStep>>>();
        auto script = std::make_shared<std::string>(
            "front 0xFF302010\nbox 0 0 160 100\nimagesized 4 20 80 60 input.bmp\nimage 100 4 255 0 input.ico\n"
            "mode 4\nfront 0xFFFFFFFF\nbox 3 19 82 62\nmode 0x10\nfront 0x90000000\nbox 4 60 80 12\n"
            "mode 1\nfront 0xFFFFFFFF\nfont DejaVu_Sans -12 700\ntext 6 62 Harvest\n"
            "font DejaVu_Serif -11 400 1\ntext 90 40 shapes\\nand text\nmode 0x10\nfront 0xA00000FF\n"
            "ellipse 130 80 14 14\nmode 0\nfont -\nback 0xFF80E0FF\ntext 4 2 stock\nmode 1\n"
            "textangle 150 96 90 turned\nmode 2\nfront 0x00FFFFFF\nroundbox 120 70 30 20 6 6\nfill 1 1 -1\n");
        const std::filesystem::path folder = dir_.path("");
        cases.push_back({"draw script",
                         [steps, script, folder] {
                             oct::tool::ScriptError error;
                             *steps = oct::tool::parseDrawScript(*script, error, folder);
                             EXPECT_TRUE(steps->has_value()) << error.line << ": " << error.message;
                         },
                         [steps]() -> std::int64_t {
                             if (!*steps) return 0;
                             oct::tool::ScriptError error;
                             return oct::tool::drawScriptImage(**steps, 160, 100, 24, error);
                         },
                         [](std::int64_t image) -> std::optional<std::uint64_t> {
                             if (!image) return std::nullopt;
                             const std::uint64_t h = bitmapPrint(oct::imgImageHandle(image));
                             oct::imgFreeImage(image);
                             return h;
                         },
                         [steps] { steps->reset(); }, true});
    }
    return cases;
}

}  // namespace octtest
