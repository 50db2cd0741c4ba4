// The run-time's memory-manager hook. Every allocation of a program that links the hook's
// operator new and delete goes through the three entry points of the installed manager; until a
// program installs its own, the process heap serves them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct TMemoryManager {
    void* (*GetMem)(int32_t size);
    // 0 when the block was released, 1 when the manager refused it.
    int32_t (*FreeMem)(void* p);
    void* (*ReallocMem)(void* p, int32_t size);
};

// Set once a second thread exists; managers lock only while it is set. Threads do not set it
// themselves: a program sets it before it starts any, Qt's included (before the first window).
inline constinit std::atomic<bool> IsMultiThread{false};

void GetMemoryManager(TMemoryManager& memoryManager);
// Hands over the program's manager; it must serve every allocation from then on, so a program
// sets it before its first allocation.
void SetMemoryManager(const TMemoryManager& memoryManager);
// Whether a manager other than the run-time's own has been set.
bool IsMemoryManagerSet();

// The largest request the managers' 32-bit sizes can take.
inline constexpr size_t MaxMemRequest = INT32_MAX;

// Allocation through the installed manager: nullptr when it cannot serve the request. A request
// of 0 bytes gets a block of its own. Every block is aligned to alignof(std::max_align_t);
// a larger alignment is served by the Aligned pair, which must also release the block.
void* SysGetMem(size_t size) noexcept;
void* SysGetMemAligned(size_t size, size_t alignment) noexcept;
// Release through the installed manager; raises EInvalidPointer when the manager refuses the
// block. nullptr is ignored.
void SysFreeMem(void* p);
void SysFreeMemAligned(void* p, size_t alignment);
