#include "platform/posix/objects.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_set>

namespace oct::plat::posix {
namespace {

std::mutex& liveLock() {
    static std::mutex m;
    return m;
}
std::unordered_set<Object*>& liveSet() {
    static auto* s = new std::unordered_set<Object*>;  // outlives every static destructor
    return *s;
}

}  // namespace

Bitmap::~Bitmap() { std::free(bits); }

Handle objectRegister(Object* object) {
    std::lock_guard guard(liveLock());
    try {
        liveSet().insert(object);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return reinterpret_cast<Handle>(object);
}

Object* objectLookup(Handle handle, HandleKind kind) {
    auto* object = reinterpret_cast<Object*>(handle);
    std::lock_guard guard(liveLock());
    if (!handle || !liveSet().contains(object) || object->kind != kind) return nullptr;
    return object;
}

bool objectRemove(Handle handle) {
    auto* object = reinterpret_cast<Object*>(handle);
    {
        std::lock_guard guard(liveLock());
        if (!handle || liveSet().erase(object) == 0) return false;
    }
    delete object;
    return true;
}

}  // namespace oct::plat::posix
