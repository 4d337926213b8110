// Recursive locks and run-once on Linux: recursive pthread mutexes. There is
// no system one-time initialisation that can be reset for a new run, so
// run-once always takes the runtime's own flag protocol.
#include "platform/threads.h"

#include <pthread.h>

#include <new>

namespace oct::plat {
namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(RecursiveLock::storage));
static_assert(alignof(pthread_mutex_t) <= alignof(RecursiveLock));

pthread_mutex_t* mutexOf(RecursiveLock& lock) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(lock.storage));
}

}  // namespace

bool lockInit(RecursiveLock& lock) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    bool ok = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
              pthread_mutex_init(new (lock.storage) pthread_mutex_t, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

void lockEnter(RecursiveLock& lock) { pthread_mutex_lock(mutexOf(lock)); }
void lockLeave(RecursiveLock& lock) { pthread_mutex_unlock(mutexOf(lock)); }
void lockDelete(RecursiveLock& lock) { pthread_mutex_destroy(mutexOf(lock)); }

bool onceRunNative(OnceFlag&, void (*)()) { return false; }

}  // namespace oct::plat
