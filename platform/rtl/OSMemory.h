// The operating system's services as the run-time's memory managers use them: the process heap,
// address space reserved and committed in two steps, fork handlers, whether the process has one
// thread, and a lock for sections that are held only briefly.
#pragma once

#include <atomic>
#include <cstddef>
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#endif

void* OSHeapAlloc(size_t size) noexcept;
void OSHeapFree(void* p) noexcept;

// Address space without access; nullptr when the system refuses it.
void* OSReserve(size_t size) noexcept;
// Read and write access to reserved pages.
bool OSCommit(void* p, size_t size) noexcept;
// Asks the kernel to back committed pages now, in one call, rather than fault by fault on the
// first write; a kernel that cannot leaves them to be faulted in as before.
void OSPopulate(void* p, size_t size) noexcept;
// Drops the pages' contents and backing; the range stays reserved.
bool OSDecommit(void* p, size_t size) noexcept;
bool OSRelease(void* p, size_t size) noexcept;

// The calls above as a table, for a memory manager that makes them through one: tests hand it
// their own to count the calls or to make the system refuse memory.
struct TOSMemory {
    void* (*HeapAlloc)(size_t size);
    void (*HeapFree)(void* p);
    void* (*Reserve)(size_t size);
    bool (*Commit)(void* p, size_t size);
    void (*Populate)(void* p, size_t size);
    bool (*Decommit)(void* p, size_t size);
    bool (*Release)(void* p, size_t size);
};
inline constexpr TOSMemory SystemOSMemory{OSHeapAlloc, OSHeapFree, OSReserve, OSCommit,
                                          OSPopulate,  OSDecommit, OSRelease};

// Handlers the next fork runs before it (prepare) and after it, in the parent and in the child.
void OSAtFork(void (*prepare)(), void (*parent)(), void (*child)()) noexcept;

// True while the process has never had a second thread. A thread that reads true is the only
// one, so no other thread can start before it starts one itself.
inline bool OSSingleThreaded() noexcept {
#if __has_include(<sys/single_threaded.h>)
    return __libc_single_threaded != 0;
#else
    return false;
#endif
}

// A lock taken by one atomic exchange and released by a plain store. A thread that finds it held
// spins a little, then gives up the processor until the lock is free: it suits sections of a few
// dozen instructions. Constant-initialised and trivially destructible, so it works before static
// constructors and after static destructors.
class TOSLock {
public:
    void Enter() noexcept {
        if (FHeld.exchange(true, std::memory_order_acquire)) [[unlikely]]
            EnterContended();
    }
    void Leave() noexcept { FHeld.store(false, std::memory_order_release); }

private:
    [[gnu::noinline]] void EnterContended() noexcept;

    std::atomic<bool> FHeld{false};
};
