#include "platform/rtl/MemoryManager.h"

#include "platform/rtl/Exceptions.h"

#include <cstdlib>
#include <cstring>

namespace {

void* HeapGetMem(int32_t size) {
    return std::malloc(static_cast<size_t>(size));
}

int32_t HeapFreeMem(void* p) {
    std::free(p);
    return 0;
}

void* HeapReallocMem(void* p, int32_t size) {
    return std::realloc(p, static_cast<size_t>(size));
}

// Both are constant-initialised: the hook may run before any static constructor.
constinit TMemoryManager installed{HeapGetMem, HeapFreeMem, HeapReallocMem};
constinit bool managerSet = false;

constexpr size_t NaturalAlignment = alignof(std::max_align_t);

} // namespace

void GetMemoryManager(TMemoryManager& memoryManager) {
    memoryManager = installed;
}

void SetMemoryManager(const TMemoryManager& memoryManager) {
    installed = memoryManager;
    managerSet = true;
}

bool IsMemoryManagerSet() {
    return managerSet;
}

void* SysGetMem(size_t size) noexcept {
    if (size > MaxMemRequest) return nullptr;
    return installed.GetMem(size == 0 ? 1 : static_cast<int32_t>(size));
}

// Over-allocates by the alignment and keeps the manager's own address just in front of the
// aligned one, where the release finds it.
void* SysGetMemAligned(size_t size, size_t alignment) noexcept {
    if (alignment <= NaturalAlignment) return SysGetMem(size);
    if (size > MaxMemRequest - alignment) return nullptr;
    void* raw = SysGetMem(size + alignment);
    if (raw == nullptr) return nullptr;
    const auto address = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (address + sizeof(void*) + alignment - 1) & ~(alignment - 1);
    std::memcpy(reinterpret_cast<void*>(aligned - sizeof(void*)), &raw, sizeof(void*));
    return reinterpret_cast<void*>(aligned);
}

void SysFreeMem(void* p) {
    if (p != nullptr && installed.FreeMem(p) != 0) throw EInvalidPointer();
}

void SysFreeMemAligned(void* p, size_t alignment) {
    if (p == nullptr || alignment <= NaturalAlignment) return SysFreeMem(p);
    void* raw = nullptr;
    std::memcpy(&raw, static_cast<const char*>(p) - sizeof(void*), sizeof(void*));
    SysFreeMem(raw);
}
