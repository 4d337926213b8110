#include "platform/posix/objects.h"

#include "platform/fail_points.h"
#include "platform/handles.h"
#include "platform/posix/pixels.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_map>

namespace oct::plat::posix {
namespace {

// A handle is the object's address with a tag in bits 48 to 62: user-space
// addresses on x86-64 stay below 2^47, and bit 63 stays clear so that handles
// are positive 64-bit values. The tag tells apart the objects that the
// allocator places one after another at the same address, so that the handle
// of a deleted object is refused even when a new object lives where it was.
constexpr int kTagShift = 48;
constexpr Handle kAddressMask = (Handle{1} << kTagShift) - 1;
constexpr Handle kTagCount = Handle{1} << 15;

std::mutex gLiveLock;
// Each live object with the handle it was given. Made on first use and freed
// when the last object goes, so that nothing of it outlives the library's
// unloading and no static destructor can run before the last object is deleted.
std::unordered_map<Object*, Handle>* gLive = nullptr;
Handle gLastTag = 0;  // under gLiveLock; tags run from 1 to kTagCount - 1, then again

// The live object that the handle names, under gLiveLock; null when the
// handle is 0, forged or stale.
Object* liveObject(Handle handle) {
    auto* object = reinterpret_cast<Object*>(handle & kAddressMask);
    if (!handle || !gLive) return nullptr;
    auto it = gLive->find(object);
    return it != gLive->end() && it->second == handle ? object : nullptr;
}

}  // namespace

Bitmap::~Bitmap() {
    if (!borrowed) pixelsFree(bits, static_cast<std::size_t>(widthBytes) * static_cast<std::size_t>(height));
}

Icon::~Icon() {
    std::free(pixels);
    std::free(mask);
}

Handle objectRegister(Object* object) {
    const auto address = reinterpret_cast<Handle>(object);
    if (!object || (address & ~kAddressMask) != 0) return 0;
    std::lock_guard guard(gLiveLock);
    gLastTag = gLastTag + 1 < kTagCount ? gLastTag + 1 : 1;
    const Handle handle = address | gLastTag << kTagShift;
    try {
        if (!gLive) gLive = new std::unordered_map<Object*, Handle>;
        gLive->insert_or_assign(object, handle);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    objectNoteMade();
    return handle;
}

Object* objectLookup(Handle handle, HandleKind kind) {
    std::lock_guard guard(gLiveLock);
    Object* object = liveObject(handle);
    return object && object->kind == kind ? object : nullptr;
}

bool objectRemove(Handle handle) {
    Object* object;
    {
        std::lock_guard guard(gLiveLock);
        object = liveObject(handle);
        if (!object) return false;
        gLive->erase(object);
        if (gLive->empty()) {
            delete gLive;
            gLive = nullptr;
        }
    }
    delete object;
    objectNoteGone();
    return true;
}

}  // namespace oct::plat::posix
