// The only interface between the core and an operating system.
//
// Everything here is phrased in the library's own terms: heaps, libraries and
// entry points, display facts, locks, thread slots and thread-exit watches. src/platform/win32 implements it with the
// Windows API; src/platform/posix gives the same results on Linux with the
// library's own objects. Nothing outside src/platform includes an OS header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace oct::plat {

// ---------------------------------------------------------------------------
// Heaps
// ---------------------------------------------------------------------------

// A private, growable heap whose operations may be called from any thread.
// Destroying it frees every block still allocated from it.
struct Heap;

// Creates a heap (initial size 4,096 bytes, no maximum). Null on failure.
Heap* heapCreate();
// Destroys the heap and every block in it. Null does nothing.
void heapDestroy(Heap* heap);
// A block of `size` bytes (size ≥ 1), zero-filled when `zero`; null when the
// heap cannot supply it.
void* heapAlloc(Heap* heap, std::size_t size, bool zero);
// Resizes a block; bytes beyond the old size are zero when `zeroNew`. On
// failure returns null and the old block stays valid.
void* heapRealloc(Heap* heap, void* block, std::size_t size, bool zeroNew);
// Returns a block to its heap. Null does nothing.
void heapFree(Heap* heap, void* block);

// ---------------------------------------------------------------------------
// Run-time libraries and capability probes
// ---------------------------------------------------------------------------

// A library loaded by name at run time, or null. On Linux none of the Windows
// system libraries that the probes ask for exist, so loading them gives null.
struct Library;
Library* libraryLoad(const char16_t* name);
void* libraryProc(Library* library, const char* name);
void libraryFree(Library* library);

// Vertical pixels per logical inch of the display; 96 when there is no display.
int displayPixelsPerInchY();

// ---------------------------------------------------------------------------
// Console
// ---------------------------------------------------------------------------

// True when the process's standard error goes to a terminal (a console on
// Windows), so that output meant for a person there, such as a progress bar,
// may be drawn.
bool stderrIsTerminal();

// For a command-line program: standard input and output carry bytes as they
// are (no line-end translation), and text for the console is UTF-8. Stop
// gives the console back its output code page.
void consoleStart();
void consoleStop();

}  // namespace oct::plat

// ---------------------------------------------------------------------------
// Bitmaps and icons
// ---------------------------------------------------------------------------
namespace oct::plat {

// A GDI object handle as a 64-bit value: HBITMAP or HICON on Windows; on Linux
// a handle of the layer's own objects, checked against the live set before
// use, so a forged or stale handle is refused rather than followed.
using Handle = std::uint64_t;

enum class HandleKind { None, Bitmap, Icon, Font };

// What a handle names; None for 0, a dead or a forged handle.
HandleKind handleKind(Handle handle);

// The description of a bitmap, laid out as the Windows BITMAP record.
struct BitmapDesc {
    std::int32_t type;          // 0
    std::int32_t width;
    std::int32_t height;        // positive, for bottom-up and top-down DIB sections alike
    std::int32_t widthBytes;    // row bytes, padded to a multiple of 4
    std::uint16_t planes;       // 1
    std::uint16_t bitsPerPixel;
    void* bits;                 // the pixels, or null when not directly addressable
};
static_assert(sizeof(BitmapDesc) == 32);

// Fills `out` for a bitmap handle (the 32-byte BITMAP). False for anything
// that is not a live bitmap.
bool bitmapDescribe(Handle handle, BitmapDesc& out);

// True when the handle is a DIB section whose full description (DIBSECTION)
// holds a bits pointer. `topDown`, when given, tells whether its rows are
// stored top row first (a negative height in its header).
bool bitmapIsDibSection(Handle handle, bool* topDown = nullptr);

// A zero-filled bottom-up DIB section of `width` × `height` pixels (BI_RGB,
// no colour table, rows padded to 4 bytes) with the larger of bitsPerPixel
// and 24 bits; 0 when the bit count is not 24 or 32 after that, or on failure.
Handle dibSectionCreate(std::int32_t width, std::int32_t height, int bitsPerPixel);

// The same with its bytes unspecified, for a caller that writes every byte of
// every row, padding included: on Linux a large one may take the memory of a
// section deleted before, as it was left, which spares the clearing and
// faulting of fresh pages; on Windows it is the same as dibSectionCreate.
Handle dibSectionCreateForOverwrite(std::int32_t width, std::int32_t height, int bitsPerPixel);

// A zero-filled top-down DIB section (top row first: a negative height in its
// header) of `width` × `height` pixels at 24 bits, BI_RGB, rows padded to 4
// bytes: the raster that text is rendered into. 0 on failure.
Handle dibSectionCreateTopDown(std::int32_t width, std::int32_t height);

// Deletes a bitmap or a font (DeleteObject), or destroys an icon. False when
// the handle names none of them, and for the stock font, which is shared.
bool objectDelete(Handle handle);

// While a drawing session runs on a bitmap: a memory device context with the
// bitmap selected and the thread's GDI batch limit at 1. Null on failure.
// Surfaces of one thread may overlap; the batch limit the thread had before
// its first open surface comes back when its last one closes.
struct DrawSurface;
DrawSurface* surfaceOpen(Handle bitmap);
// Selects the bitmap where surfaceOpen could not because another open
// surface held it then (a bitmap is in one device context at a time).
void surfaceSelect(DrawSurface* surface);
// Deselects and deletes the device context and restores the batch limit.
void surfaceClose(DrawSurface* surface);

}  // namespace oct::plat

// ---------------------------------------------------------------------------
// Icons
// ---------------------------------------------------------------------------
namespace oct::plat {

// Builds an icon from one image of an icon file — a BITMAPINFOHEADER image
// (colour rows, then the AND mask; its height counts both) or a PNG stream —
// at the desired size (CreateIconFromResourceEx, version 0x00030000,
// LR_DEFAULTCOLOR); a desired side of 0 takes the image's own. 0 when no icon
// can be made from the bytes: an image that does not lie within `size` or
// breaks the limits of platform/icon_image.h, or a negative desired side or
// one above kIconMaxSide. A 1-bit image whose table starts with black and
// white becomes a monochrome icon, which has no colour bitmap.
Handle iconFromResource(const std::uint8_t* data, std::size_t size, std::int32_t width, std::int32_t height);
// The same at the system's default icon size (32 × 32), as
// CreateIconFromResource builds it, but not shared: objectDelete destroys it.
Handle iconFromResourceDefault(const std::uint8_t* data, std::size_t size);
// Describes the icon's colour bitmap as GetIconInfo + GetObjectW would
// (the colour bitmap's BITMAP: a 32-bit device bitmap of the icon's size).
// Its bits are always null: the pixels are not addressable. False for what is
// not an icon, and for a monochrome icon that has no colour bitmap.
bool iconDescribe(Handle icon, BitmapDesc& colour);

}  // namespace oct::plat

// ---------------------------------------------------------------------------
// Converting bitmaps and icons for image drawing
// ---------------------------------------------------------------------------
namespace oct::plat {

// Copies `source` into the DIB section `destination` of the same size,
// converting the depth (BitBlt SRCCOPY). From 24 to 32 bits the alpha bytes
// become 0; from 32 to 24 they are dropped. False when either handle is not
// a bitmap, the sizes differ or the copy fails.
bool bitmapCopy(Handle destination, Handle source);

// Stretches a bitmap of at most 24 bits per pixel into the 24-bit DIB section
// `destination` of another size. Windows: StretchBlt in HALFTONE mode with
// the brush origin at (0, 0). Linux: area averaging — every output pixel is
// the mean of the source area it covers, each source pixel weighted by the
// part of it that lies inside, rounded to nearest. False when a handle is not
// a bitmap of the kinds above or memory runs out.
bool bitmapStretchHalftone(Handle destination, Handle source);

// Copies every row of a bitmap into `out` at 24 or 32 bits per pixel, rows
// padded to 4 bytes, top row first when `topDown`, else bottom row first
// (GetDIBits, DIB_RGB_COLORS). From 24 to 32 bits the alpha bytes are 0.
// `out` holds height × row bytes. The number of rows copied; 0 on failure.
std::int32_t bitmapReadRows(Handle bitmap, int bitsPerPixel, bool topDown, void* out);

// The icon's colour bitmap (GetIconInfo; the mask is deleted), owned by the
// caller: on Windows a device-dependent bitmap, on Linux a 32-bit DIB section
// of the icon's pixels and alpha. 0 for what is not an icon and for a
// monochrome icon.
Handle iconColourBitmap(Handle icon);

// A new 32-bit DIB section of the colour bitmap's size holding the icon's
// colour image (DrawIconEx with DI_IMAGE) with each alpha byte from the mask:
// 255 where the mask is black, 0 elsewhere. 0 for what is not an icon, for a
// monochrome icon and on failure.
Handle iconRenderMasked(Handle icon);

// True when the layer blends by alpha without a system library: on Linux,
// where bitmaps and icons are the layer's own objects whose alpha channel is
// kept in full and every blend is the library's own pixel code. False on
// Windows, where the capability is AlphaBlend of msimg32.dll, found at run time.
bool alphaBlendBuiltIn();

// A device-dependent bitmap (compatible with the screen) of 32 bits holding
// `pixels` (width × height B, G, R, A, top row first), for tests of the
// conversions that such bitmaps need. Windows only: 0 on Linux, which has
// no device-dependent bitmaps.
Handle deviceBitmapCreate(std::int32_t width, std::int32_t height, const std::uint8_t* pixels);

}  // namespace oct::plat

// ---------------------------------------------------------------------------
// Fonts and text
// ---------------------------------------------------------------------------
namespace oct::plat {

// A font description, laid out as LOGFONTW (92 bytes).
struct LogFont {
    std::int32_t height;       // < 0: character height in pixels; > 0: cell height; 0: a default
    std::int32_t width;        // 0: the face's own proportions
    std::int32_t escapement;   // tenths of a degree, counter-clockwise
    std::int32_t orientation;  // tenths of a degree
    std::int32_t weight;       // 100..900: 400 normal, 700 bold; 0 a default
    std::uint8_t italic, underline, strikeOut, charSet;
    std::uint8_t outPrecision, clipPrecision, quality, pitchAndFamily;
    char16_t faceName[32];     // zero-terminated
};
static_assert(sizeof(LogFont) == 92);

// LogFont field values, as LOGFONTW defines them.
constexpr std::int32_t kFontWeightNormal = 400;            // weight: FW_NORMAL
constexpr std::int32_t kFontWeightBold = 700;              // weight: FW_BOLD
constexpr std::uint8_t kFontDefaultCharSet = 1;            // charSet: DEFAULT_CHARSET, any script the face has
constexpr std::uint8_t kFontOutlinePrecision = 7;          // outPrecision: OUT_TT_ONLY_PRECIS, outline faces only
constexpr std::uint8_t kFontAntialiasedQuality = 4;        // quality: ANTIALIASED_QUALITY, grey edges

// A new font from a description (CreateFontIndirectW): the face that best
// matches it. Linux: fontconfig picks the face by name, weight and slant and
// FreeType renders it. 0 on failure. objectDelete deletes it.
Handle fontCreate(const LogFont& description);
// The stock system font (GetStockObject(SYSTEM_FONT)), shared by everyone and
// never deleted. Linux: a bold sans face (DejaVu Sans Bold) with a cell
// height of 16.
Handle fontStock();
// The font's description as GetObjectW gives it: the number of bytes
// written, 92 for a font, 0 for anything else.
std::int32_t fontDescribe(Handle font, LogFont& out);

struct TextSize {
    std::int32_t cx, cy;
};

// A memory device context for text (CreateCompatibleDC(null)), with the
// stock font selected. Null on failure.
struct TextDevice;
TextDevice* textDeviceCreate();
// Deselects what the device holds and deletes it; the font and the raster
// selected into it stay, for their owners to delete.
void textDeviceDelete(TextDevice* device);
// Selects a font into the device (SelectObject); false for what is not a font.
bool textSelectFont(TextDevice* device, Handle font);
// Selects a 24-bit DIB section into the device as the target of textOut, with
// background mode OPAQUE, text alignment 0 (the reference point is the top
// left of the text's cell), background colour black and text colour white.
// False for what is not a 24-bit DIB section.
bool textSelectRaster(TextDevice* device, Handle raster);
// The size of `length` UTF-16 units in the selected font
// (GetTextExtentPoint32W): the advance width and the cell height, measured
// along the text (an escapement does not change it). False on failure.
bool textExtent(TextDevice* device, const char16_t* text, std::int32_t length, TextSize& out);
// True when the selected font's metrics (GetTextMetricsW) report it italic.
bool textIsItalic(TextDevice* device);
// Draws `length` UTF-16 units white on black into the selected raster
// (TextOutW), the top left of the text's cell at (x, y), turned by the
// font's escapement about that point. Glyph edges are antialiased: each
// raster byte tells how much of that pixel the glyphs cover (Linux: 8-bit
// grey from FreeType in all three bytes). A surrogate pair is one character;
// a character the face lacks is drawn as its missing-glyph box. The cell
// behind the glyphs is painted black (OPAQUE), and everything outside the
// raster is clipped. The raster's bits are complete when it returns (GdiFlush).
// False on failure.
bool textOut(TextDevice* device, std::int32_t x, std::int32_t y, const char16_t* text, std::int32_t length);
// The italic probe: in a bitmap compatible with the device (a monochrome one:
// no antialiasing) of 2·cx × 2·cy, black, draws "H" white at (0, 0) in the
// selected font and gives the highest column, scanned from 2·cx − 1 down, in
// which a pixel of rows 0 to cy − 1 is not black (GetPixel); −1 when none is,
// or on failure.
std::int32_t textInkRightColumn(TextDevice* device, std::int32_t cx, std::int32_t cy);

}  // namespace oct::plat

// ---------------------------------------------------------------------------
// Files, addressed by zero-terminated UTF-16 names
// ---------------------------------------------------------------------------
namespace oct::plat {

struct File;

// Access bits.
constexpr std::uint32_t kFileRead = 1;
constexpr std::uint32_t kFileWrite = 2;
// Sharing bits (accepted and ignored on Linux, which has no share modes).
constexpr std::uint32_t kShareRead = 1;
constexpr std::uint32_t kShareWrite = 2;
constexpr std::uint32_t kShareDelete = 4;

enum class FileCreation {
    CreateAlways,      // create, or truncate an existing file
    CreateNew,         // create; fail when the file exists
    OpenExisting,      // open; fail when it does not exist
    OpenAlways,        // open, or create when it does not exist
    TruncateExisting,  // open and truncate; fail when it does not exist
};

enum class SeekFrom { Begin, Current, End };

// Opens or creates a file (CreateFileW; FILE_ATTRIBUTE_NORMAL when
// `normalAttributes`, else none). Null on failure.
File* fileOpen(const char16_t* name, std::uint32_t access, std::uint32_t share, FileCreation creation,
               bool normalAttributes = true);
// Reads up to `count` bytes: the number read (0 at the end of the file), or −1 on failure.
std::int64_t fileRead(File* file, void* destination, std::uint32_t count);
// Writes `count` bytes: the number written, or −1 on failure.
std::int64_t fileWrite(File* file, const void* source, std::uint32_t count);
// Whole transfers of any length, in pieces of at most 1 GiB, which keep every
// call inside the 32-bit counts (and a read of a regular file on Linux, which
// stops near 2 GiB). They stop at the first piece that moves fewer bytes than
// asked. The number of bytes moved; less than `count` at the end of the file
// or on failure.
std::int64_t fileReadAll(File* file, void* destination, std::int64_t count);
std::int64_t fileWriteAll(File* file, const void* source, std::int64_t count);
// Moves the file position; the new position, or −1 on failure.
std::int64_t fileSeek(File* file, std::int64_t distance, SeekFrom from);
// The file's size, or −1.
std::int64_t fileSize(File* file);
// Cuts the file (or extends it with zeros) to `size` bytes, leaving the file
// position at `size` (SetFilePointerEx + SetEndOfFile); false on failure.
bool fileSetEnd(File* file, std::int64_t size);
// Reserves disk space for the first `size` bytes of the file without
// changing its size (fallocate with KEEP_SIZE on Linux, the allocation size on
// Windows), so that writing them allocates nothing more. Only a hint: false
// when the system did not reserve, which changes nothing else.
bool fileReserve(File* file, std::int64_t size);
// Asks the system to start writing the `count` bytes at `offset`, already
// written to the file, to the disk now without waiting for them
// (sync_file_range on Linux), so that a later fileFlush has less left to wait
// for. Only a hint: nothing happens where the system has no such request
// (Windows), and no result changes.
void fileStartWriteback(File* file, std::int64_t offset, std::int64_t count);
// Makes the file's written bytes durable (fsync on Linux, FlushFileBuffers on
// Windows); false when the system reports that they may not have reached the
// disk. Devices and pipes may refuse this: call it for disk files only.
bool fileFlush(File* file);
// Gives the file the permission bits of the file `model` (Linux; a file
// replacing another keeps its mode). True when done or when there is nothing
// to give: on Windows, and when `model` does not exist.
bool fileTakeMode(File* file, const char16_t* model);
// Closes the file; false when the close reported an error (on Linux, a
// failed close may mean that written bytes did not reach the disk).
bool fileClose(File* file);
// Deletes a file by name (DeleteFileW): as on Windows, a read-only file is not deleted.
bool fileDelete(const char16_t* name);
// Clears the file's attributes to normal (SetFileAttributesW), making a read-only file deletable.
bool fileSetNormalAttributes(const char16_t* name);
// Moves `from` over `to`, replacing an existing `to` (MoveFileExW with
// MOVEFILE_REPLACE_EXISTING; rename on Linux).
bool fileReplace(const char16_t* from, const char16_t* to);
// A number that tells this process apart from others, for temporary names.
std::uint32_t processId();

// What a save finds at a name.
enum class FileTarget {
    None,      // nothing that needs care: no file of that name, or one that cannot be examined
    Disk,      // a disk file that may be replaced
    ReadOnly,  // a disk file that must not be written: on Linux one without any write
               // permission bit (whoever the caller is, root included), on Windows one
               // with FILE_ATTRIBUTE_READONLY
    Folder,
    Device,    // not a disk file (device, FIFO, pipe, socket, console): written in place
    Broken,    // links that lead nowhere usable: a loop, more than kFileMaxLinks links, a
               // link name that is not valid UTF-8 (Linux), a link to nothing (Windows);
               // also a name that could not be followed for want of memory
};

// The longest chain of symbolic links followed to a save's target.
constexpr int kFileMaxLinks = 40;

// Examines `name` for a save, following symbolic links. `finalName` gets the
// name that the bytes should go to: where the chain of links ends (Linux: a
// relative link is taken relative to the folder of the link; a link to a name
// that does not exist yet gives that name and None), otherwise `name` itself.
// On Windows a name that opens a device (NUL, COM1, \\.\…) is a Device; a symbolic
// link ends at the final path of the file it leads to.
FileTarget fileExamine(const char16_t* name, std::u16string& finalName);

// The process's file reads, writes and flushes so far (calls of fileRead,
// fileWrite and fileFlush) and the byte count each read and write last asked
// for: a diagnostic that lets the buffering of streams, and the flushing of
// saves, be observed.
struct FileCallCounts {
    std::uint64_t reads;
    std::uint64_t writes;
    std::uint32_t lastReadSize;
    std::uint32_t lastWriteSize;
    std::uint64_t flushes;  // calls of fileFlush
};
FileCallCounts fileCallCounts();

// A disk that fills up, for tests: after the next `count` calls of fileWrite,
// every one fails (−1, nothing written) until this is called with a negative
// count, which ends the failing. The same as failCallAt(FailKind::FileWrite,
// count + 1, true).
void fileFailWritesAfter(std::int64_t count);

}  // namespace oct::plat

// ---------------------------------------------------------------------------
// Failure injection and live counts, for tests
// ---------------------------------------------------------------------------
namespace oct::plat {

// The fallible calls that a test can make fail. Alloc counts every block
// asked of any heap (heapAlloc, a growing heapRealloc), of crtAlloc, and of
// the C++ allocator when the test program routes it here (failCallCounts).
enum class FailKind {
    Alloc,
    FileOpen,    // fileOpen
    FileRead,    // fileRead
    FileWrite,   // fileWrite
    Bitmap,      // device-dependent bitmaps: an icon's colour bitmap, deviceBitmapCreate
    DibSection,  // every DIB section the layer makes, for callers and for itself
    Icon,        // iconFromResource, iconFromResourceDefault
    Font,        // fontCreate
    Codec,       // the picture codecs: on Windows each COM and WIC call that makes a factory, a decoder or an
                 // encoder, copies pixels or commits; on Linux each codec's open, decode and encode
};
constexpr int kFailKinds = 9;

// Makes the n-th call of `kind` from now fail (n ≥ 1), and with `sticky`
// every call after it too; n ≤ 0 ends the failing of that kind and keeps its
// counts below readable. The count is process-wide, over every thread.
void failCallAt(FailKind kind, std::int64_t n, bool sticky = false);
// Ends the failing of every kind.
void failNone();
// Calls of `kind` seen since failCallAt last set it to fail (those after its
// failing ended not counted), and whether one of them was made to fail.
std::int64_t failCallsSeen(FailKind kind);
bool failInjected(FailKind kind);
// For the backends and the allocation sites: counts one call of `kind` and
// tells whether it must fail. One relaxed load when nothing is set to fail.
bool failThisCall(FailKind kind);
// The same for a call that asks for `bytes` of memory (Alloc, DibSection),
// which also keeps the largest such request: largestRequestSeen gives it
// and, with `reset`, starts again from 0. It lets a test show that a refused
// file never asked for much.
bool failThisCall(FailKind kind, std::uint64_t bytes);
std::uint64_t largestRequestSeen(bool reset = false);

// A block of `size` bytes (zero-filled when `zero`) from the C runtime's
// malloc; null for a size of 0, on exhaustion, or when an injected Alloc
// failure says so. crtFree (or std::free, which the count then misses)
// releases it; crtLiveBlocks counts the blocks not yet given to crtFree.
void* crtAlloc(std::size_t size, bool zero);
void crtFree(void* block);
std::int64_t crtLiveBlocks();

// Blocks allocated from `heap` and not yet freed (0 for null).
std::int64_t heapLiveBlocks(Heap* heap);
// Bitmaps, icons and fonts that the layer made and that were not deleted
// yet (the stock font not counted).
std::int64_t liveObjects();
// Holders of COM references and COM initialisations of threads that the
// layer made and has not ended (0 where there is no COM): a reference or an
// initialisation left behind shows here.
std::int64_t liveComHolds();

}  // namespace oct::plat

// ---------------------------------------------------------------------------
// Threads: recursive locks, run-once, thread-local slots, thread-exit watches
// ---------------------------------------------------------------------------

namespace oct::plat {

// A recursive lock, embedded in the record it guards: the owning thread may
// enter it again, and leaves it as often as it entered. The storage is sized
// for the largest backend lock; each backend checks that it fits.
struct RecursiveLock {
    alignas(16) unsigned char storage[64];
};

// Prepares the lock. False when the system refuses (the lock is then unusable
// and must not be entered or deleted).
[[nodiscard]] bool lockInit(RecursiveLock& lock);
void lockEnter(RecursiveLock& lock);
void lockLeave(RecursiveLock& lock);
// Releases what lockInit set up. The lock must not be held.
void lockDelete(RecursiveLock& lock);

// Holds a lock for one scope.
class LockHold {
public:
    explicit LockHold(RecursiveLock& lock) : lock_(lock) { lockEnter(lock_); }
    ~LockHold() { lockLeave(lock_); }
    LockHold(const LockHold&) = delete;
    LockHold& operator=(const LockHold&) = delete;

private:
    RecursiveLock& lock_;
};

// A run-once flag: one pointer-sized word, zero before the first run. The
// system's own one-time initialisation may keep its state in it, so callers
// only ever zero it (to allow a new run) and pass it to the run-once call.
struct OnceFlag {
    std::intptr_t word;
};

// Runs `fn` through the system's own one-time initialisation when the system
// has one ("InitOnceExecuteOnce" of Kernel32.dll, looked up at run time on
// Windows): exactly one caller runs it, the others return after it finished.
// False, without running anything, when the system has none.
bool onceRunNative(OnceFlag& flag, void (*fn)());

// Gives the rest of the calling thread's time slice to other threads.
void threadYield();

// A thread-local slot: every thread sees its own value, null until it sets one.
using TlsSlot = std::int64_t;
constexpr TlsSlot kNoTlsSlot = -1;

// A new slot, or kNoTlsSlot when none is left.
TlsSlot tlsAlloc();
// Frees the slot; every thread's value in it is forgotten (not freed).
// kNoTlsSlot does nothing.
void tlsFree(TlsSlot slot);
// The calling thread's value; null for kNoTlsSlot or an unset value. Leaves
// the thread's last-error value as it was.
void* tlsGet(TlsSlot slot);
// Sets the calling thread's value; false for kNoTlsSlot or on failure.
bool tlsSet(TlsSlot slot, void* value);

// Thread-exit watches. A watch arranges for fn(context) to run once after the
// thread that started it has made its last call into the library: on Windows
// on a thread-pool thread once the thread's handle is signalled, on Linux from
// the thread's own teardown (its thread-local destructors).
using ThreadExitFn = void (*)(void* context);

// One watch, embedded in the caller's record; it must stay at its address
// until it is released.
struct ThreadWatch {
    ThreadExitFn fn;
    void* context;
    void* native[2];  // the backend's registration (on Windows: wait handle, thread handle)
};

// Opens watching for the process (again, after a close). False when the
// system refuses; no watch can be started then.
[[nodiscard]] bool threadWatchOpen();

// Starts a watch of the calling thread. False when it cannot be arranged;
// the watch then holds nothing and needs no release.
[[nodiscard]] bool threadWatchStart(ThreadWatch& watch, ThreadExitFn fn, void* context);

// Releases a started watch. `insideFn` is true when called from the watch's
// own fn, which does not wait for itself. Otherwise the call is made either on
// the watched thread or after threadWatchClose, and once it returns fn is not
// running for this watch and never will.
void threadWatchRelease(ThreadWatch& watch, bool insideFn);

// Closes watching: no fn starts after this returns, and every fn that had
// started has returned. Watches still started must then be released. Must not
// be called with a lock held that a running fn may take.
void threadWatchClose();

}  // namespace oct::plat

// ---------------------------------------------------------------------------
// Picture codecs: PNG, JPEG, GIF, TIFF and WebP through the system's own
// (WIC on Windows; libspng, TurboJPEG, giflib, libtiff and libwebp on Linux).
// Both give the same pixels by these rules:
//   - 16-bit samples become their high byte (v >> 8); gray samples of 1, 2
//     and 4 bits are scaled by bit replication; palettes are expanded; gray
//     goes into blue, green and red alike.
//   - No colour management: gamma, chromaticities, sRGB and ICC profiles are
//     ignored. CMYK and YCCK JPEGs (Adobe, stored inverted) become RGB by
//     the same integer rule as Pillow's conversion to RGB.
//   - Alpha is straight, never premultiplied; colour stored premultiplied (a
//     TIFF's associated alpha) is made straight as Pillow does it: 255 × c / a,
//     truncated, and left alone where a is 0 or 255.
//   - Orientation (EXIF, TIFF tag 274) is not applied here: the image layer
//     reads it and turns the picture upright itself.
// ---------------------------------------------------------------------------
namespace oct::plat {

// The formats. The image layer recognises each by its signature before it asks.
enum class PictureFormat : std::uint8_t { Png, Jpeg, Gif, Tiff, WebP };

// What a codec may allocate for one picture; a header that asks for more is
// refused before any pixel buffer exists.
struct PictureLimits {
    std::int32_t maxSide;    // width and height each in 1 .. maxSide
    std::int64_t maxBytes;   // any one allocation, and width × height × 4
    std::int32_t maxFrames;  // frames of an animation
    // A picture whose width × height × 4 is above this must come with data
    // enough to fill it (pictureDataSuffices); at most this, it need not.
    std::int64_t unbackedBytes = INT64_MAX;
};

// Whether `size` bytes of `format` can hold a picture of width × height: true
// up to limits.unbackedBytes; above it, when the picture has no more pixels
// than the format's coder can give from that many bytes. Each format's
// coders have a largest expansion (PNG: deflate's 1032 to 1 on a bit a pixel;
// GIF: a code of at least 3 bits for at most 4096 pixels; JPEG: at least one
// bit for each 8 × 8 block's DC; TIFF: a blank row of group 4 fax in one
// bit), so a few hundred bytes declaring a huge picture are refused before
// anything is allocated for it. A lossless WebP of one colour costs no bits a
// pixel, so WebP has no such bound; it is held to PNG's.
bool pictureDataSuffices(PictureFormat format, std::int64_t width, std::int64_t height, std::size_t size,
                         const PictureLimits& limits);
// The same rule for `pixels` in all, whatever their shape: an animation's
// frames, each kept as a bitmap of the whole screen.
bool pictureDataSufficesFor(PictureFormat format, std::int64_t pixels, std::size_t size, const PictureLimits& limits);

// What a picture's headers say.
struct PictureInfo {
    std::int32_t width;        // pixels; GIF and animated WebP: the logical screen (canvas), for GIF
    std::int32_t height;       // widened to hold the first frame where it reaches past the declared one
    std::int32_t sourceDepth;  // bits per pixel as stored: samples × bits per sample; a palette's index bits
    bool alpha;                // an alpha channel or a transparent colour (PNG types 4 and 6 or tRNS, a
                               // transparent index in a GIF's first frame, WebP alpha, a TIFF extra alpha sample)
    std::int32_t frameCount;   // 1 for still pictures; TIFF: the first page only
    std::uint32_t clearColour; // red << 16 | green << 8 | blue of the screen where nothing is drawn (with
                               // alpha 0): a GIF's first frame's transparent colour, as viewers fill it; else 0
};

// How a frame leaves the screen before the next one is laid (GIF, WebP).
enum class FrameDisposal : std::uint8_t {
    Keep,        // it stays
    Background,  // its rectangle becomes transparent
    Previous,    // its rectangle goes back to what it was before the frame
};

// One frame as stored: the rectangle it covers on the screen and how it is
// laid there. A still picture has one frame covering the whole picture.
struct PictureFrame {
    std::int32_t left, top, width, height;  // inside the screen (a codec clips what lies outside; a frame
                                            // wholly outside is empty, and decoding it writes nothing)
    std::int32_t delayMs;                   // display time in milliseconds; 0 for still pictures
    FrameDisposal disposal;
    bool blend;  // laid over the screen by its alpha (GIF: transparent pixels show what is below); false replaces
};

struct PictureReader;  // a codec's state for one picture

// Opens a picture held in memory; `data` stays the caller's and must outlive
// the reader. Reads the headers only. Null when the platform has no codec for
// the format (WebP and JPEG-in-TIFF under wine), the headers are corrupt or
// beyond `limits`, or memory runs out. Thread-safe: any thread may open and
// use its own readers (on Windows COM is initialised on the calling thread).
PictureReader* pictureOpen(PictureFormat format, const std::uint8_t* data, std::size_t size,
                           const PictureLimits& limits, PictureInfo& info);

// Frame `index` (0 .. frameCount − 1). False when it cannot be read.
bool pictureFrameInfo(PictureReader* reader, std::int32_t index, PictureFrame& frame);

// Decodes frame `index` into frame.height rows of frame.width pixels, each
// `bytesPerPixel` bytes: 3 (blue, green, red) or 4 (blue, green, red, straight
// alpha; 255 where the picture has none). `rows` is the first row in memory,
// rows lie `pitch` bytes apart (pitch > 0), and with `bottomUp` the first row
// in memory is the frame's bottom row. Pixels of a GIF's transparent index
// keep their palette colour with alpha 0 (as Pillow shows them). False on a
// truncated or corrupt stream; the rows may then be partly written.
bool pictureDecode(PictureReader* reader, std::int32_t index, std::uint8_t* rows, std::int32_t pitch,
                   std::int32_t bytesPerPixel, bool bottomUp);

// Ends the reader and frees what it holds; null does nothing. Called on the
// thread that opened it.
void pictureClose(PictureReader* reader);

// Whether this system has a codec for the format at all (wine has none for
// WebP), so that a refusal can say "no codec" rather than "corrupt".
bool pictureHasCodec(PictureFormat format);

// --- PNG out ------------------------------------------------------------------
// The image layer chooses what a PNG holds (a palette, RGB or RGBA) and lays
// out its rows; the platform's PNG encoder (libspng on Linux, WIC on
// Windows) compresses them. The bytes may differ between the two; the pixels
// do not.

enum class PngColour : std::uint8_t {
    Indexed,  // a palette of 1 .. 256 entries, indices of `bitDepth` bits packed from the high bit
    Rgb,      // red, green, blue, 8 bits each
    Rgba,     // red, green, blue, straight alpha
};

struct PngPicture {
    std::int32_t width, height;     // 1 .. 2^31 − 1
    PngColour colour;
    std::int32_t bitDepth;          // Indexed: 1, 2, 4 or 8; else 8
    const std::uint8_t* palette;    // Indexed: paletteSize entries of red, green, blue
    std::int32_t paletteSize;
    const std::uint8_t* alpha;      // Indexed: the alpha of the first alphaCount entries (tRNS); the rest are opaque
    std::int32_t alphaCount;
    std::int32_t level;             // deflate effort, 1 .. 9
    bool filter;                    // per-row filters chosen adaptively; false: none (better for palettes)
    // Fills `out` with row `y` (top row first) as the PNG stores it, without
    // the filter byte: ⌈width × bits per pixel / 8⌉ bytes.
    void (*row)(void* context, std::int32_t y, std::uint8_t* out);
    void* rowContext;
};

// The bytes of one of the picture's rows as the PNG stores them.
inline std::size_t pngRowBytes(const PngPicture& p) {
    const std::size_t bits = p.colour == PngColour::Indexed ? static_cast<std::size_t>(p.bitDepth)
                             : p.colour == PngColour::Rgb   ? 24
                                                            : 32;
    return (static_cast<std::size_t>(p.width) * bits + 7) / 8;
}

// Where encoded bytes go, in order; false stops the encoder.
struct ByteSink {
    bool (*write)(void* context, const void* bytes, std::size_t n);
    void* context;
};

// Encodes the picture as a PNG into the sink. False when the encoder fails
// or the sink refuses; what reached the sink is then to be discarded.
bool pngEncode(const PngPicture& picture, const ByteSink& sink);

}  // namespace oct::plat
