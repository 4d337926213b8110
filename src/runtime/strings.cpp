#include "runtime/strings.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/fail_inject.h"
#include "platform/heaps.h"
#include "platform/threads.h"
#include "runtime/run_once.h"
#include "runtime/thread_exit.h"
#include "platform/utf8.h"

namespace oct {
namespace {

// One per thread, in the string heap.
struct StringBlock {
    std::uint8_t* buffer;   // capacity + 10 bytes (the first buffer: exactly 16)
    std::int64_t capacity;  // bytes, not counting the spare ones
    std::int64_t position;  // byte offset where the next string result begins
};

constexpr std::int64_t kFirstCapacity = 16;
constexpr std::int64_t kSpare = 10;
constexpr std::int64_t kGrowth = 16384;
// Ends of string results are 32-bit values; with the growth and the spare
// bytes added they must still fit.
constexpr std::int64_t kMaxEnd = INT32_MAX - kGrowth - kSpare;

plat::Heap* gStringHeap = nullptr;
// Read by every calling thread; written by start and stop, and by a start on
// first use, which may race with other first users.
std::atomic<plat::TlsSlot> gSlot{plat::kNoTlsSlot};
plat::OnceFlag gSelfStart{};  // a start on first use happens once until the next stop
std::atomic<std::int64_t> gLiveBlocks{0};  // made by createBlock, not yet freed (diagnostic)

StringBlock* blockOfThisThread() { return static_cast<StringBlock*>(plat::tlsGet(gSlot)); }

// The module's shared part: heap and slot.
void startShared() {
    if (!gStringHeap) gStringHeap = plat::heapCreate();
    if (gStringHeap && gSlot == plat::kNoTlsSlot) gSlot = plat::tlsAlloc();
}

StringBlock* createBlock() {
    auto* block = static_cast<StringBlock*>(plat::heapAlloc(gStringHeap, sizeof(StringBlock), true));
    if (!block) return nullptr;
    block->buffer = static_cast<std::uint8_t*>(plat::heapAlloc(gStringHeap, kFirstCapacity, false));
    if (!block->buffer || !plat::tlsSet(gSlot, block)) {
        plat::heapFree(gStringHeap, block->buffer);
        plat::heapFree(gStringHeap, block);
        return nullptr;
    }
    block->capacity = kFirstCapacity;
    gLiveBlocks.fetch_add(1, std::memory_order_relaxed);
    return block;
}

// Thread-exit callback of a string block.
void freeBlock(void* data) {
    auto* block = static_cast<StringBlock*>(data);
    // On Linux this runs on the ending thread itself, whose slot must not keep
    // naming the freed block.
    if (blockOfThisThread() == block) plat::tlsSet(gSlot, nullptr);
    plat::heapFree(gStringHeap, block->buffer);
    plat::heapFree(gStringHeap, block);
    gLiveBlocks.fetch_sub(1, std::memory_order_relaxed);
}

char16_t* at(StringBlock* block, std::int64_t offset) {
    return reinterpret_cast<char16_t*>(block->buffer + offset);
}

}  // namespace

void strStart() {
    startShared();
    if (gSlot != plat::kNoTlsSlot && !blockOfThisThread()) createBlock();
}

void strStop() {
    plat::tlsFree(gSlot);
    gSlot = plat::kNoTlsSlot;
    plat::heapDestroy(gStringHeap);
    gStringHeap = nullptr;
    gSelfStart = {};
    gLiveBlocks.store(0, std::memory_order_relaxed);
}

plat::Heap* strHeap() { return gStringHeap; }

bool strThreadEnter() {
    if (gSlot == plat::kNoTlsSlot) {
        // Not started: start on first use. Unlike the start step, this
        // thread's block gets its thread-exit clean-up like any other.
        modRunOnce(gSelfStart, startShared);
        if (gSlot == plat::kNoTlsSlot) return false;
    }
    if (blockOfThisThread()) return true;
    StringBlock* block = createBlock();
    if (!block) return false;
    thrAtExit(freeBlock, block);
    return true;
}

std::int64_t strLiveBlocks() { return gLiveBlocks.load(std::memory_order_relaxed); }

void strCopyArg(char16_t*& destination, const char16_t* source) {
    if (!source) return;
    std::size_t n = std::char_traits<char16_t>::length(source);
    // Five spare units, as every string copy of the runtime carries.
    auto* copy = static_cast<char16_t*>(plat::heapAlloc(gStringHeap, (n + 5) * sizeof(char16_t), false));
    if (copy) {
        std::memcpy(copy, source, n * sizeof(char16_t));
        copy[n] = 0;
    }
    destination = copy;
}

void strFreeArg(char16_t* copy) { plat::heapFree(gStringHeap, copy); }

char16_t* strReserve(std::int64_t characters, std::int64_t position) {
    StringBlock* block = blockOfThisThread();
    if (!block || characters < 0 || position < -1) return nullptr;
    const std::int64_t p = position == -1 ? block->position : position;
    if (p % 2 != 0 || characters > kMaxEnd / 2) return nullptr;
    // The room needed is measured from the current position, or from the
    // given one when it lies further on, so the result always fits.
    const std::int64_t end = (p > block->position ? p : block->position) + 2 * characters;
    if (end > kMaxEnd) return nullptr;
    if (end >= block->capacity - 4) {
        const std::int64_t capacity = end + kGrowth;
        auto* buffer = static_cast<std::uint8_t*>(
            plat::heapRealloc(gStringHeap, block->buffer, static_cast<std::size_t>(capacity + kSpare), false));
        if (!buffer) return nullptr;
        block->buffer = buffer;
        block->capacity = capacity;
    }
    block->position = p + 2 * characters;
    return at(block, p);
}

char16_t* strBufferStart() {
    StringBlock* block = blockOfThisThread();
    return block ? at(block, 0) : nullptr;
}

char16_t* strBufferEnd() {
    StringBlock* block = blockOfThisThread();
    return block ? at(block, block->position) : nullptr;
}

std::int64_t strBufferPosition() {
    StringBlock* block = blockOfThisThread();
    return block ? block->position : -1;
}

std::int64_t strBufferCapacity() {
    StringBlock* block = blockOfThisThread();
    return block ? block->capacity : -1;
}

char16_t* strSetPosition(std::int64_t offset) {
    StringBlock* block = blockOfThisThread();
    if (!block || offset < 0 || offset > block->capacity || offset % 2 != 0) return nullptr;
    block->position = offset;
    return at(block, offset);
}

void strAdvance() {
    if (StringBlock* block = blockOfThisThread()) block->position += 2;
}

// ---------------------------------------------------------------------------
// UTF-8
// ---------------------------------------------------------------------------

char* strToUtf8(const char16_t* text) {
    if (text) {
        std::u16string_view source(text);
        std::size_t length = utf8LengthOf(source);
        if (auto* out = static_cast<char*>(plat::crtAlloc(length + 1, false))) {
            *utf8Encode(source, out) = 0;
            return out;
        }
    }
    auto* empty = static_cast<char*>(plat::crtAlloc(1, false));
    if (empty) *empty = 0;
    return empty;
}

char16_t* strFromUtf8(const char* text, std::int64_t position) {
    std::string_view source(text ? text : "");
    std::size_t length = utf16LengthOf(source);
    if (length > static_cast<std::size_t>(kMaxEnd / 2)) return nullptr;
    char16_t* out = strReserve(static_cast<std::int64_t>(length), position);
    if (!out) return nullptr;
    *utf16Encode(source, out) = 0;
    return out;
}

char16_t* strFromUtf8Alloc(const char* text) {
    std::string_view source(text ? text : "");
    std::size_t length = utf16LengthOf(source);
    if (length >= SIZE_MAX / sizeof(char16_t)) return nullptr;
    auto* out = static_cast<char16_t*>(plat::crtAlloc((length + 1) * sizeof(char16_t), false));
    if (!out) return nullptr;
    *utf16Encode(source, out) = 0;
    return out;
}

}  // namespace oct
