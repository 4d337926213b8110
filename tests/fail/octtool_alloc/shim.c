/* Preloaded into a program (LD_PRELOAD) to fail one allocation of the
 * process: with OCT_FAIL_ALLOC_AT=n the n-th call of malloc, calloc, realloc,
 * aligned_alloc or posix_memalign (counted from 1, over all threads) fails as
 * when memory is exhausted; every other call goes to the C library. With
 * OCT_FAIL_ALLOC_COUNT=PATH the number of calls the process made is written
 * to PATH when it exits normally, so that a test knows how many places to
 * try. Linux with glibc only: the C library's own entry points
 * (__libc_malloc ...) are called directly, so no lookup that allocates is
 * needed before the first call. */
#define _GNU_SOURCE
#include <errno.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* block, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);

static atomic_long calls;
static long failAt = -1; /* read once, before main */

__attribute__((constructor)) static void readSettings(void) {
    const char* at = getenv("OCT_FAIL_ALLOC_AT");
    if (at) failAt = atol(at);
}

__attribute__((destructor)) static void writeCount(void) {
    const char* path = getenv("OCT_FAIL_ALLOC_COUNT");
    if (!path) return;
    const long n = atomic_load(&calls);
    failAt = -1; /* the report's own allocations succeed */
    FILE* f = fopen(path, "w");
    if (!f) return;
    fprintf(f, "%ld\n", n);
    fclose(f);
}

/* True when this call is the one to fail. */
static int failNow(void) { return atomic_fetch_add(&calls, 1) + 1 == failAt; }

void* malloc(size_t size) {
    if (failNow()) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    if (failNow()) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
    if (failNow()) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_realloc(block, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    if (failNow()) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    if (failNow()) return ENOMEM;
    void* p = __libc_memalign(alignment, size);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
