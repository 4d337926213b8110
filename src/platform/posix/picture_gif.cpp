// GIF through giflib. Opening reads the screen descriptor, checks it against
// the limits, then walks the records once (image descriptors and graphics
// control extensions, skipping the compressed data without decoding it) to
// list the frames, at most maxFrames of them. Decoding keeps one stream open
// from frame to frame: frame n + 1 after frame n reads on from where frame n
// ended, so decoding every frame in order reads the file once more, not once
// a frame. A frame before the stream's place, or a failure, opens it again.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/picture_failure.h"
#include "platform/pictures.h"
#include "platform/posix/picture.h"

namespace oct::plat {
namespace {

struct GifFrameRecord {
    std::int32_t left, top, width, height;  // as stored, before clipping
    std::int32_t delayMs;
    FrameDisposal disposal;
    std::int32_t transparent;  // palette index, or −1
};

// giflib reads through this; it never reads past the caller's bytes.
struct MemorySource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;
};

int readMemory(GifFileType* gif, GifByteType* out, int wanted) {
    auto* source = static_cast<MemorySource*>(gif->UserData);
    if (wanted <= 0) return 0;
    const std::size_t n = std::min(static_cast<std::size_t>(wanted), source->size - source->at);
    std::memcpy(out, source->data + source->at, n);
    source->at += n;
    return static_cast<int>(n);
}

// An open giflib stream that closes itself.
class GifStream {
public:
    GifStream(const std::uint8_t* data, std::size_t size) : source_{data, size, 0} {
        int error = 0;
        gif_ = DGifOpen(&source_, readMemory, &error);
    }
    ~GifStream() {
        int error = 0;
        if (gif_) DGifCloseFile(gif_, &error);
    }
    GifStream(const GifStream&) = delete;
    GifStream& operator=(const GifStream&) = delete;
    GifFileType* get() const { return gif_; }

private:
    MemorySource source_;
    GifFileType* gif_ = nullptr;
};

struct GifReader : PictureReader {
    const std::uint8_t* data;
    std::size_t size;
    std::int32_t width, height;  // the logical screen, widened to hold the first frame
    std::vector<GifFrameRecord> frames;
    std::unique_ptr<GifStream> stream;  // for decoding: null until the first frame, and after a failure
    std::int32_t streamNext = 0;        // the frame whose image descriptor the stream reads next
};

// giflib keeps a copy of every image descriptor it reads in an array that
// grows by one each time, so a walk over thousands of frames would copy it
// thousands of times. This reader uses the current descriptor (gif->Image)
// only: the copies go as they come. GifFreeSavedImages leaves the count,
// which the next descriptor's copy is placed by, to its caller.
void forgetSavedImages(GifFileType* gif) {
    GifFreeSavedImages(gif);
    gif->ImageCount = 0;
}

// Skips the compressed data of the image whose descriptor was just read.
bool skipImageData(GifFileType* gif) {
    int codeSize = 0;
    GifByteType* block = nullptr;
    if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR) return false;
    while (block)
        if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return false;
    return true;
}

// Reads an extension; a graphics control block updates `control`.
bool readExtension(GifFileType* gif, GraphicsControlBlock& control, bool& haveControl) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
        if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) haveControl = true;
    }
    while (block)
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    return true;
}

FrameDisposal disposalOf(int mode) {
    switch (mode) {
        case DISPOSE_BACKGROUND: return FrameDisposal::Background;
        case DISPOSE_PREVIOUS: return FrameDisposal::Previous;
        default: return FrameDisposal::Keep;  // unspecified, "do not dispose" and the reserved values
    }
}

PictureReader* gifOpen(const std::uint8_t* data, std::size_t size, const PictureLimits& limits, PictureInfo& info) {
    GifStream stream(data, size);
    GifFileType* gif = stream.get();
    if (!gif || !pictureFits(limits, gif->SWidth, gif->SHeight)) return nullptr;

    auto* reader = new (std::nothrow) GifReader{};
    if (!reader) return nullptr;
    reader->data = data;
    reader->size = size;
    reader->width = gif->SWidth;
    reader->height = gif->SHeight;
    int depth = gif->SColorMap ? gif->SColorMap->BitsPerPixel : 0;
    std::uint32_t clearColour = 0;

    GraphicsControlBlock control{};
    bool haveControl = false;
    // A stream cut short after a frame keeps the frames before the cut.
    try {
        for (;;) {
            GifRecordType type = UNDEFINED_RECORD_TYPE;
            if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
                break;
            }
            if (type == TERMINATE_RECORD_TYPE) break;
            if (type == EXTENSION_RECORD_TYPE) {
                if (!readExtension(gif, control, haveControl)) {
                    break;
                }
                continue;
            }
            if (type != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) == GIF_ERROR) {
                break;
            }
            forgetSavedImages(gif);
            const GifImageDesc& desc = gif->Image;
            if (!depth && desc.ColorMap) depth = desc.ColorMap->BitsPerPixel;
            const bool ok = skipImageData(gif);
            // A frame whose data is cut short still counts: giflib gives its
            // rows up to the cut, as other readers show them.
            if (static_cast<std::int32_t>(reader->frames.size()) == limits.maxFrames) {
                delete reader;
                return nullptr;
            }
            const int transparent = haveControl ? control.TransparentColor : NO_TRANSPARENT_COLOR;
            if (reader->frames.empty()) {
                // Viewers show the whole first frame: the screen grows to
                // hold it (within the limits), and where the frame leaves the
                // screen uncovered it shows the frame's transparent colour.
                const std::int64_t right = static_cast<std::int64_t>(desc.Left) + desc.Width;
                const std::int64_t bottom = static_cast<std::int64_t>(desc.Top) + desc.Height;
                if (right > reader->width || bottom > reader->height) {
                    if (!pictureFits(limits, std::max<std::int64_t>(right, reader->width),
                                     std::max<std::int64_t>(bottom, reader->height))) {
                        delete reader;
                        return nullptr;
                    }
                    reader->width = static_cast<std::int32_t>(std::max<std::int64_t>(right, reader->width));
                    reader->height = static_cast<std::int32_t>(std::max<std::int64_t>(bottom, reader->height));
                }
                const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
                if (map && transparent >= 0 && transparent < map->ColorCount) {
                    const GifColorType& c = map->Colors[transparent];
                    clearColour = static_cast<std::uint32_t>(c.Red) << 16 | static_cast<std::uint32_t>(c.Green) << 8 | c.Blue;
                }
            }
            reader->frames.push_back(GifFrameRecord{desc.Left, desc.Top, desc.Width, desc.Height,
                                                    haveControl ? control.DelayTime * 10 : 0,
                                                    disposalOf(haveControl ? control.DisposalMode : 0),
                                                    transparent});
            haveControl = false;
            if (!ok) {
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        delete reader;
        return nullptr;
    }
    if (reader->frames.empty()) {
        delete reader;
        return nullptr;
    }
    info.width = reader->width;
    info.height = reader->height;
    info.sourceDepth = depth ? depth : 8;
    // The picture shows the first frame: its transparent index gives it
    // alpha. Later frames' transparent pixels show the frames below.
    info.alpha = reader->frames.front().transparent != NO_TRANSPARENT_COLOR;
    info.frameCount = static_cast<std::int32_t>(reader->frames.size());
    info.clearColour = clearColour;
    return reader;
}

bool gifFrameInfo(PictureReader* base, std::int32_t index, PictureFrame& frame) {
    const auto* reader = static_cast<GifReader*>(base);
    if (index >= static_cast<std::int32_t>(reader->frames.size())) return false;
    const GifFrameRecord& f = reader->frames[static_cast<std::size_t>(index)];
    // Clipped to the screen; a frame wholly outside it is empty.
    const std::int32_t left = std::min(f.left, reader->width);
    const std::int32_t top = std::min(f.top, reader->height);
    const std::int32_t right = std::min(f.left + f.width, reader->width);
    const std::int32_t bottom = std::min(f.top + f.height, reader->height);
    frame = PictureFrame{left, top, right - left, bottom - top, f.delayMs, f.disposal, true};
    return true;
}

// Walks the reader's stream to frame `index`'s image descriptor, opening it
// again from the start when it stands past that frame or is gone. False, the
// stream dropped, when the records cannot be read.
GifFileType* gifSeekFrame(GifReader& reader, std::int32_t index) {
    if (reader.stream && reader.streamNext > index) reader.stream.reset();
    if (!reader.stream) {
        reader.stream.reset(new (std::nothrow) GifStream(reader.data, reader.size));
        reader.streamNext = 0;
        if (!reader.stream || !reader.stream->get()) {
            reader.stream.reset();
            return nullptr;
        }
    }
    GifFileType* gif = reader.stream->get();
    GraphicsControlBlock control{};
    bool haveControl = false;
    auto fail = [&reader]() -> GifFileType* {
        reader.stream.reset();
        return nullptr;
    };
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return fail();
        if (type == EXTENSION_RECORD_TYPE) {
            if (!readExtension(gif, control, haveControl)) return fail();
        } else if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif) == GIF_ERROR) return fail();
            forgetSavedImages(gif);
            if (reader.streamNext++ == index) return gif;
            if (!skipImageData(gif)) return fail();
        } else {
            return fail();
        }
    }
}

bool gifDecode(PictureReader* base, std::int32_t index, const RowTarget& target) {
    auto* reader = static_cast<GifReader*>(base);
    const GifFrameRecord& record = reader->frames[static_cast<std::size_t>(index)];
    GifFileType* gif = gifSeekFrame(*reader, index);
    if (!gif) return false;
    // Until every row is read the stream stands inside this frame's data.
    bool whole = false;
    struct DropUnlessWhole {
        GifReader& reader;
        const bool& whole;
        ~DropUnlessWhole() {
            if (!whole) reader.stream.reset();
        }
    } drop{*reader, whole};

    const GifImageDesc& desc = gif->Image;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (!map || desc.Width != record.width || desc.Height != record.height) return false;

    std::vector<GifPixelType> line;
    try {
        line.resize(static_cast<std::size_t>(desc.Width));
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Interlaced images store rows 0, 8, 16 …, then 4, 12 …, then 2, 6 …, then 1, 3 ….
    static constexpr std::int32_t kStart[] = {0, 4, 2, 1};
    static constexpr std::int32_t kStep[] = {8, 8, 4, 2};
    const std::int32_t passes = desc.Interlace ? 4 : 1;
    for (std::int32_t pass = 0; pass < passes; ++pass) {
        const std::int32_t start = desc.Interlace ? kStart[pass] : 0;
        const std::int32_t step = desc.Interlace ? kStep[pass] : 1;
        for (std::int32_t y = start; y < desc.Height; y += step) {
            if (DGifGetLine(gif, line.data(), desc.Width) == GIF_ERROR)
                return pictureDamaged(PictureFormat::Gif, GifErrorString(gif->Error));
            const std::int32_t screenY = desc.Top + y;
            if (screenY >= reader->height || desc.Left >= reader->width) continue;  // clipped away
            std::uint8_t* dst = target.row(screenY - desc.Top);
            const std::int32_t visible = std::min(desc.Width, reader->width - desc.Left);
            for (std::int32_t x = 0; x < visible; ++x) {
                const int i = line[static_cast<std::size_t>(x)];
                if (i == record.transparent && i < map->ColorCount) {
                    const GifColorType& c = map->Colors[i];
                    putPixel(dst, x, target.bpp, c.Blue, c.Green, c.Red, 0);
                } else if (i == record.transparent) {
                    putPixel(dst, x, target.bpp, 0, 0, 0, 0);
                } else if (i < map->ColorCount) {
                    const GifColorType& c = map->Colors[i];
                    putPixel(dst, x, target.bpp, c.Blue, c.Green, c.Red, 255);
                } else {
                    putPixel(dst, x, target.bpp, 0, 0, 0, 255);  // an index past the palette shows black
                }
            }
        }
    }
    // giflib has read past the frame's last data block with its last row.
    whole = true;
    return true;
}

void gifClose(PictureReader* reader) { delete static_cast<GifReader*>(reader); }

}  // namespace

const PictureCodec kGifCodec{.open = gifOpen, .frameInfo = gifFrameInfo, .decode = gifDecode,
                             .close = gifClose};

}  // namespace oct::plat
