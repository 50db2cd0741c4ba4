#include "platform/rtl/OSMemory.h"

#include <cerrno>
#include <cstdlib>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// Linux 5.14 on; older headers lack the name, older kernels refuse the advice with EINVAL.
#ifdef MADV_POPULATE_WRITE
constexpr int PopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int PopulateWrite = 23;
#endif

// Set once the kernel refused the advice: it will not take it later either.
constinit std::atomic<bool> populateUnsupported{false};

void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

} // namespace

void* OSHeapAlloc(size_t size) noexcept {
    return std::malloc(size);
}

void OSHeapFree(void* p) noexcept {
    std::free(p);
}

void* OSReserve(size_t size) noexcept {
    void* p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool OSCommit(void* p, size_t size) noexcept {
    return mprotect(p, size, PROT_READ | PROT_WRITE) == 0;
}

void OSPopulate(void* p, size_t size) noexcept {
    if (populateUnsupported.load(std::memory_order_relaxed)) return;
    // Any failure only leaves the pages to the first writes; EINVAL means never again.
    const int saved = errno;
    if (madvise(p, size, PopulateWrite) != 0 && errno == EINVAL)
        populateUnsupported.store(true, std::memory_order_relaxed);
    errno = saved;
}

bool OSDecommit(void* p, size_t size) noexcept {
    return madvise(p, size, MADV_DONTNEED) == 0;
}

bool OSRelease(void* p, size_t size) noexcept {
    return munmap(p, size) == 0;
}

void OSAtFork(void (*prepare)(), void (*parent)(), void (*child)()) noexcept {
    pthread_atfork(prepare, parent, child);
}

// Waits longer after every failed attempt, so that waiters leave the lock's cache line to its
// holder; past the longest wait it gives the processor away between attempts.
void TOSLock::EnterContended() noexcept {
    constexpr int MaxBackoff = 1024;
    for (int backoff = 1;; backoff = backoff < MaxBackoff ? backoff * 2 : backoff) {
        if (backoff < MaxBackoff)
            for (int i = 0; i < backoff; ++i)
                CpuRelax();
        else
            sched_yield();
        if (!FHeld.load(std::memory_order_relaxed) &&
            !FHeld.exchange(true, std::memory_order_acquire))
            return;
    }
}
