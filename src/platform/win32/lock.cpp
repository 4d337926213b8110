// Recursive locks and run-once on Windows: critical sections, and the
// system's one-time initialisation when Kernel32.dll has it.
#include "platform/threads.h"

#include <windows.h>

#include <new>

namespace oct::plat {
namespace {

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(RecursiveLock::storage));
static_assert(alignof(CRITICAL_SECTION) <= alignof(RecursiveLock));
static_assert(sizeof(INIT_ONCE) == sizeof(OnceFlag));

CRITICAL_SECTION* sectionOf(RecursiveLock& lock) {
    return std::launder(reinterpret_cast<CRITICAL_SECTION*>(lock.storage));
}

using InitOnceExecuteOnceFn = BOOL(WINAPI*)(PINIT_ONCE, PINIT_ONCE_FN, PVOID, LPVOID*);

BOOL CALLBACK runOnceCallback(PINIT_ONCE, PVOID parameter, PVOID* context) {
    reinterpret_cast<void (*)()>(parameter)();
    // The value is kept as the flag's context; its low bits must stay clear.
    if (context) *context = reinterpret_cast<PVOID>(4);
    return TRUE;
}

}  // namespace

bool lockInit(RecursiveLock& lock) {
    InitializeCriticalSection(new (lock.storage) CRITICAL_SECTION);
    return true;
}

void lockEnter(RecursiveLock& lock) { EnterCriticalSection(sectionOf(lock)); }
void lockLeave(RecursiveLock& lock) { LeaveCriticalSection(sectionOf(lock)); }
void lockDelete(RecursiveLock& lock) { DeleteCriticalSection(sectionOf(lock)); }

bool onceRunNative(OnceFlag& flag, void (*fn)()) {
    HMODULE kernel = LoadLibraryW(L"Kernel32.dll");
    if (!kernel) return false;
    auto execute = reinterpret_cast<InitOnceExecuteOnceFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "InitOnceExecuteOnce")));
    if (execute) {
        PVOID context = nullptr;
        execute(reinterpret_cast<PINIT_ONCE>(&flag), runOnceCallback, reinterpret_cast<PVOID>(fn), &context);
    }
    FreeLibrary(kernel);
    return execute != nullptr;
}

}  // namespace oct::plat
