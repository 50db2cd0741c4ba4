// Unit VqMM: the movie maker's pooled memory manager, which serves every allocation of mv_m.
// Requests of up to 16,376 bytes come from pools of 16-byte size classes, each carving chunks
// obtained from the operating system into equal blocks; larger requests go straight to the
// operating system. The manager's own objects never come from its pools. At program end it tears
// itself down once no block it handed out is left; later requests go to the operating system.
#pragma once

#include "platform/rtl/OSMemory.h"

#include <cstddef>
#include <cstdint>

// The three entry points handed to the run-time's memory-manager hook.
void* VqGetMem(int32_t size);
// 0 when the block was released, 1 when it was refused.
int32_t VqFreeMem(void* p);
// A new block holding the old one's bytes, or nullptr with the old block left as it was.
void* VqReallocMem(void* p, int32_t size);

// Hands the entry points to the run-time unless another manager is set already.
void InstallMemoryManager();
// Creates the manager at the first request; false when it cannot be created.
bool EnsureManager();
void DestroyManager();

// The unit's initialization (the first time only: install, register the finalization for
// program end, and keep forks from copying a held critical section) and finalization (tear down
// now, or at the last release if blocks are left).
void VqMMInitialization();
void VqMMFinalization();

// The operating system's memory calls the manager makes: SystemOSMemory unless tests hand it
// others.
void SetOSMemory(const TOSMemory& osMemory);

// What tests and benchmarks read of the unit's state.
struct TVqMMState {
    uint64_t Outstanding = 0; // the size classes of the blocks not yet freed
    bool Initialized = false;
    bool ShutdownPending = false;
    bool TornDown = false;
};
TVqMMState VqMMState();

struct TPoolState {
    uint32_t Used = 0; // blocks handed out
    uint32_t MaxChunk = 0;
    uint32_t NextChunkSize = 0;
    uint32_t AvailableChunks = 0;
    uint32_t RetiredChunks = 0;
    uint32_t LastCapacity = 0; // the available ring's last chunk, which serves the next request
    uint32_t LastUsed = 0;
};
// The pool of one size class (a multiple of 16 up to 16,384); all zero without a manager.
TPoolState VqPoolState(uint32_t blockSize);
