#include "platform/posix/objects.h"

#include "platform/posix/pixels.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_set>

namespace oct::plat::posix {
namespace {

std::mutex gLiveLock;
// Made on first use and freed when the last object goes, so that nothing of
// it outlives the library's unloading and no static destructor can run
// before the last object is deleted.
std::unordered_set<Object*>* gLive = nullptr;

}  // namespace

Bitmap::~Bitmap() { pixelsFree(bits, static_cast<std::size_t>(widthBytes) * static_cast<std::size_t>(height)); }

Icon::~Icon() {
    std::free(pixels);
    std::free(mask);
}

Handle objectRegister(Object* object) {
    std::lock_guard guard(gLiveLock);
    try {
        if (!gLive) gLive = new std::unordered_set<Object*>;
        gLive->insert(object);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return reinterpret_cast<Handle>(object);
}

Object* objectLookup(Handle handle, HandleKind kind) {
    auto* object = reinterpret_cast<Object*>(handle);
    std::lock_guard guard(gLiveLock);
    if (!handle || !gLive || !gLive->contains(object) || object->kind != kind) return nullptr;
    return object;
}

bool objectRemove(Handle handle) {
    auto* object = reinterpret_cast<Object*>(handle);
    {
        std::lock_guard guard(gLiveLock);
        if (!handle || !gLive || gLive->erase(object) == 0) return false;
        if (gLive->empty()) {
            delete gLive;
            gLive = nullptr;
        }
    }
    delete object;
    return true;
}

}  // namespace oct::plat::posix
