/* Preloaded into a program (LD_PRELOAD) to fail one allocation of the
 * process: with OCT_FAIL_ALLOC_AT=n the n-th call of malloc, calloc, realloc,
 * aligned_alloc or posix_memalign (counted from 1, over all threads) fails as
 * when memory is exhausted; every other call goes to the C library. With
 * OCT_FAIL_ALLOC_COUNT=PATH the number of calls the process made is written
 * to PATH when it exits normally, so that a test knows how many places to
 * try. With OCT_ALLOC_LIMIT=bytes a request above that many bytes (of the
 * calls above, or an anonymous mmap) ends the process at once with exit code
 * 99 and a line naming its size, so that a test can show none was made.
 * Linux with glibc only: the C library's own entry points
 * (__libc_malloc ...) are called directly, so no lookup that allocates is
 * needed before the first call. */
#define _GNU_SOURCE
#include <errno.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* block, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);

static atomic_long calls;
static long failAt = -1;        /* read once, before main */
static size_t limit = (size_t)-1; /* OCT_ALLOC_LIMIT */

__attribute__((constructor)) static void readSettings(void) {
    const char* at = getenv("OCT_FAIL_ALLOC_AT");
    if (at) failAt = atol(at);
    const char* most = getenv("OCT_ALLOC_LIMIT");
    if (most) limit = (size_t)strtoull(most, NULL, 10);
}

/* Ends the process when `size` is above the limit; writes without allocating. */
static void checkLimit(size_t size) {
    if (size <= limit) return;
    char line[80];
    const int n = snprintf(line, sizeof line, "oct_fail_alloc: a request of %zu bytes\n", size);
    if (n > 0) (void)!write(2, line, (size_t)n);
    _exit(99);
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

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
    if (flags & MAP_ANONYMOUS) checkLimit(length);
    return (void*)syscall(SYS_mmap, address, length, protection, flags, fd, offset);
}

void* malloc(size_t size) {
    checkLimit(size);
    if (failNow()) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    if (size && count > (size_t)-1 / size) { /* as the C library answers it */
        errno = ENOMEM;
        return NULL;
    }
    checkLimit(count * size);
    if (failNow()) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
    checkLimit(size);
    if (failNow()) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_realloc(block, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    checkLimit(size);
    if (failNow()) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    checkLimit(size);
    if (failNow()) return ENOMEM;
    void* p = __libc_memalign(alignment, size);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
