// The program's allocation entry points: every form of operator new and delete, routed through
// the run-time's installed memory manager. The first allocation of the process, which may come
// from a shared library's static initialiser long before main, runs VqMM's unit initialization,
// so the pooled manager serves the program from its first block on.
#include "MV_M/VqMM.h"
#include "platform/rtl/MemoryManager.h"

#include <cstddef>
#include <new>

namespace {

// Constant-initialised, so it holds before any static constructor runs.
constinit bool unitStarted = false;

void StartUnit() {
    if (unitStarted) return;
    unitStarted = true;
    VqMMInitialization();
}

size_t Alignment(std::align_val_t alignment) {
    return static_cast<size_t>(alignment);
}

// Asks the new-handler for room until the manager serves the request, as operator new must.
void* Allocate(size_t size, size_t alignment) {
    StartUnit();
    for (;;) {
        if (void* p = SysGetMemAligned(size, alignment)) return p;
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void* AllocateOrNull(size_t size, size_t alignment) noexcept {
    try {
        return Allocate(size, alignment);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// A release the manager refuses raises the run-time's invalid-pointer error; out of a noexcept
// delete that ends the program with its message.
void Release(void* p, size_t alignment) noexcept {
    SysFreeMemAligned(p, alignment);
}

constexpr size_t Natural = alignof(std::max_align_t);

} // namespace

void* operator new(size_t size) {
    return Allocate(size, Natural);
}
void* operator new[](size_t size) {
    return Allocate(size, Natural);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, Natural);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, Natural);
}
void* operator new(size_t size, std::align_val_t alignment) {
    return Allocate(size, Alignment(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment) {
    return Allocate(size, Alignment(alignment));
}
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, Alignment(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size, Alignment(alignment));
}

void operator delete(void* p) noexcept {
    Release(p, Natural);
}
void operator delete[](void* p) noexcept {
    Release(p, Natural);
}
void operator delete(void* p, size_t) noexcept {
    Release(p, Natural);
}
void operator delete[](void* p, size_t) noexcept {
    Release(p, Natural);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Release(p, Natural);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    Release(p, Natural);
}
void operator delete(void* p, std::align_val_t alignment) noexcept {
    Release(p, Alignment(alignment));
}
void operator delete[](void* p, std::align_val_t alignment) noexcept {
    Release(p, Alignment(alignment));
}
void operator delete(void* p, size_t, std::align_val_t alignment) noexcept {
    Release(p, Alignment(alignment));
}
void operator delete[](void* p, size_t, std::align_val_t alignment) noexcept {
    Release(p, Alignment(alignment));
}
void operator delete(void* p, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    Release(p, Alignment(alignment));
}
void operator delete[](void* p, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    Release(p, Alignment(alignment));
}
