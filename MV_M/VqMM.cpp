#include "MV_M/VqMM.h"

#include "platform/rtl/MemoryManager.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <type_traits>

namespace {

// Operating-system blocks below this size come from the process heap, the others from mmap.
constexpr uint64_t HeapLimit = 65532;
// Room in front of an operating-system block: its size sits in the last four bytes, and the
// caller's memory keeps the alignment every block must have.
constexpr size_t OSHeader = alignof(std::max_align_t);
constexpr size_t SizeField = 4;

// A pooled block: bytes 0 to 3 locate the owning chunk, bytes 4 to 7 hold the size class while
// the block is in use and the next free block while it is free; the caller's memory follows.
constexpr uint32_t BlockHeader = 8;
constexpr uint32_t SizeClassStep = 16;
constexpr uint32_t MaxPooledClass = 16384;
constexpr uint32_t PoolCount = MaxPooledClass / SizeClassStep;
// A chunk's memory starts with its owner, so that blocks (8 bytes past a multiple of 16) hand
// out 16-aligned memory and find their chunk from a 32-bit distance.
constexpr uint32_t ChunkHeader = 8;
static_assert(BlockHeader + ChunkHeader == OSHeader && sizeof(void*) <= ChunkHeader);

constexpr uint32_t SmallBlockLimit = 64;
constexpr uint32_t SmallChunkBlocks = 200;
constexpr uint32_t MinChunkBlocks = 3;
constexpr uint32_t MaxChunkBlocks = 20;
constexpr uint32_t MaxChunkBytes = 65536;
// The largest distance of a block from its chunk's memory.
constexpr uint32_t MaxBlockOffset = ChunkHeader + MaxChunkBytes;

uint32_t LoadU32(const std::byte* p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

void StoreU32(std::byte* p, uint32_t value) {
    std::memcpy(p, &value, sizeof value);
}

void* DefaultHeapAlloc(size_t size) {
    return std::malloc(size);
}
void DefaultHeapFree(void* p) {
    std::free(p);
}
void* DefaultReserve(size_t size) {
    void* p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}
bool DefaultCommit(void* p, size_t size) {
    return mprotect(p, size, PROT_READ | PROT_WRITE) == 0;
}
bool DefaultDecommit(void* p, size_t size) {
    return madvise(p, size, MADV_DONTNEED) == 0;
}
bool DefaultRelease(void* p, size_t size) {
    return munmap(p, size) == 0;
}

constexpr TOSMemory DefaultCalls{DefaultHeapAlloc, DefaultHeapFree, DefaultReserve,
                                 DefaultCommit,    DefaultDecommit, DefaultRelease};

// The unit's state. All of it is constant-initialised and trivially destructible: the first
// allocation may come before any static constructor, and the last release after every static
// destructor has run.
constinit TOSMemory os = DefaultCalls;
constinit std::mutex lock;
static_assert(std::is_trivially_destructible_v<std::mutex>);
constinit std::atomic<bool> initialized{false};
constinit bool shutdownPending = false;
constinit bool tornDown = false;
constinit bool unitInitialized = false;
constinit bool unitFinalized = false;
// 64 bits: a 32-bit sum wraps past 4 GB outstanding and could tear the manager down early.
constinit uint64_t outstanding = 0;

// The critical section, entered only while the multi-thread flag is set. Whether it was entered
// is remembered, so a flag set meanwhile never leaves a section that was not entered.
class TLockGuard {
public:
    TLockGuard() : locked_(IsMultiThread.load(std::memory_order_relaxed)) {
        if (locked_) lock.lock();
    }
    ~TLockGuard() {
        if (locked_) lock.unlock();
    }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

private:
    bool locked_;
};

// An operating-system block of n bytes with n in front of it; nullptr when the system refuses.
std::byte* OSAlloc(uint64_t n) {
    if (n > UINT32_MAX - OSHeader) return nullptr;
    const size_t total = n + OSHeader;
    void* base = nullptr;
    if (n < HeapLimit) {
        base = os.HeapAlloc(total);
    } else {
        base = os.Reserve(total);
        // A reservation that cannot be committed hands out nothing and is given back.
        if (base != nullptr && !os.Commit(base, total)) {
            os.Release(base, total);
            base = nullptr;
        }
    }
    if (base == nullptr) return nullptr;
    std::byte* p = static_cast<std::byte*>(base) + OSHeader;
    StoreU32(p - SizeField, static_cast<uint32_t>(n));
    return p;
}

bool OSFree(std::byte* p) {
    const uint64_t n = LoadU32(p - SizeField);
    std::byte* base = p - OSHeader;
    if (n < HeapLimit) {
        os.HeapFree(base);
        return true;
    }
    const size_t total = n + OSHeader;
    return os.Decommit(base, total) && os.Release(base, total);
}

// The process heap is always there on this platform.
bool InitOSHeap() {
    return os.HeapAlloc != nullptr;
}

uint64_t SizeClass(int32_t size) {
    return (static_cast<uint64_t>(size) + BlockHeader + SizeClassStep - 1) & ~uint64_t{15};
}

// The manager's objects are operating-system blocks, never blocks of its own pools.
class TClassUseOSMemory {
public:
    static void* operator new(size_t size, const std::nothrow_t&) noexcept { return OSAlloc(size); }
    static void operator delete(void* p) noexcept { OSFree(static_cast<std::byte*>(p)); }
    static void operator delete(void* p, const std::nothrow_t&) noexcept {
        OSFree(static_cast<std::byte*>(p));
    }

protected:
    TClassUseOSMemory() = default;
    ~TClassUseOSMemory() = default;
};

// One operating-system block carved into equal blocks, kept in a ring of chunks. A chunk of
// capacity 0 is a ring's sentinel and has no memory.
class TChunk : public TClassUseOSMemory {
public:
    static TChunk* Create(uint16_t blockSize, uint16_t capacity) {
        auto* chunk = new (std::nothrow) TChunk(blockSize, capacity);
        if (chunk == nullptr || capacity == 0) return chunk;
        chunk->FMemory = OSAlloc(ChunkHeader + uint64_t{blockSize} * capacity);
        if (chunk->FMemory == nullptr) {
            delete chunk;
            return nullptr;
        }
        TChunk* owner = chunk;
        std::memcpy(chunk->FMemory, &owner, sizeof owner);
        chunk->FBump = chunk->FMemory + ChunkHeader;
        return chunk;
    }
    ~TChunk() {
        if (FMemory == nullptr) return;
        OSFree(FMemory);
        Unlink();
    }
    TChunk(const TChunk&) = delete;
    TChunk& operator=(const TChunk&) = delete;

    // The chunk that owns a pooled block, or nullptr when the block's header cannot be one of
    // this size class's.
    static TChunk* Owner(std::byte* block, uint32_t blockSize) {
        const uint32_t offset = LoadU32(block);
        if (offset < ChunkHeader || offset > MaxBlockOffset ||
            (offset - ChunkHeader) % blockSize != 0)
            return nullptr;
        TChunk* chunk = nullptr;
        std::memcpy(&chunk, block - offset, sizeof chunk);
        return chunk != nullptr && chunk->FBlockSize == blockSize ? chunk : nullptr;
    }

    std::byte* GetBlock() {
        ++FUsed;
        --FFreeCount;
        std::byte* block = FFreeList;
        if (block != nullptr) {
            const uint32_t next = LoadU32(block + SizeField);
            FFreeList = next == 0 ? nullptr : FMemory + next;
        } else {
            block = FBump;
            FBump += FBlockSize;
        }
        StoreU32(block, static_cast<uint32_t>(block - FMemory));
        return block;
    }

    // The free list links by distance from the chunk's memory; such a value (8 past a multiple
    // of 16, or 0) is never a size class, so a block freed twice is refused.
    void PutBlock(std::byte* block) {
        StoreU32(block + SizeField,
                 FFreeList == nullptr ? 0 : static_cast<uint32_t>(FFreeList - FMemory));
        FFreeList = block;
        --FUsed;
        ++FFreeCount;
    }

    void InsertAfter(TChunk* c) {
        FPrev = c;
        FNext = c->FNext;
        c->FNext->FPrev = this;
        c->FNext = this;
    }
    void Unlink() {
        FPrev->FNext = FNext;
        FNext->FPrev = FPrev;
        FNext = this;
        FPrev = this;
    }
    bool IsLone() const { return FNext == this; }

    TChunk* FNext;
    TChunk* FPrev;
    uint16_t FBlockSize;
    bool FRetired = false;
    uint32_t FBlockCount;
    uint32_t FUsed = 0;
    uint32_t FThreshold;
    uint32_t FFreeCount;
    std::byte* FBump = nullptr;
    std::byte* FFreeList = nullptr;
    std::byte* FMemory = nullptr;

private:
    TChunk(uint16_t blockSize, uint16_t capacity)
        : FNext(this), FPrev(this), FBlockSize(blockSize), FBlockCount(capacity),
          FThreshold(std::max(capacity / 10u, 1u)), FFreeCount(capacity) {}
};

uint32_t RingLength(const TChunk* sentinel) {
    uint32_t n = 0;
    for (const TChunk* c = sentinel->FNext; c != sentinel; c = c->FNext)
        ++n;
    return n;
}

// All chunks of one size class: the available ring serves requests from its last chunk, the
// retired ring holds chunks set aside until they are worth using again.
class TFixedSizePool : public TClassUseOSMemory {
public:
    static TFixedSizePool* Create(uint32_t blockSize) {
        auto* pool = new (std::nothrow) TFixedSizePool(blockSize);
        if (pool == nullptr) return nullptr;
        pool->FAvailable = TChunk::Create(static_cast<uint16_t>(blockSize), 0);
        pool->FRetiredRing = TChunk::Create(static_cast<uint16_t>(blockSize), 0);
        if (pool->FAvailable == nullptr || pool->FRetiredRing == nullptr) {
            delete pool;
            return nullptr;
        }
        return pool;
    }
    ~TFixedSizePool() {
        for (TChunk* sentinel : {FAvailable, FRetiredRing}) {
            if (sentinel == nullptr) continue;
            while (!sentinel->IsLone())
                delete sentinel->FPrev;
            delete sentinel;
        }
    }
    TFixedSizePool(const TFixedSizePool&) = delete;
    TFixedSizePool& operator=(const TFixedSizePool&) = delete;

    std::byte* AllocBlock() {
        std::byte* block = nullptr;
        if (FAvailable->IsLone()) {
            TChunk* chunk = TChunk::Create(static_cast<uint16_t>(FBlockSize),
                                           static_cast<uint16_t>(FNextChunkSize));
            if (chunk == nullptr) return nullptr;
            block = chunk->GetBlock();
            chunk->InsertAfter(FAvailable);
        } else {
            TChunk* last = FAvailable->FPrev;
            block = last->GetBlock();
            if (last->FFreeCount == 0 || last->FBlockCount > FNextChunkSize) Retire(last);
        }
        ++FUsed;
        FNextChunkSize = NextChunkSize();
        return block;
    }

    void FreeBlock(std::byte* block, TChunk* c) {
        c->PutBlock(block);
        --FUsed;
        if (c->FUsed == 0) {
            delete c; // its memory goes back to the system at once
        } else if (c->FRetired) {
            if (c->FFreeCount > c->FThreshold && c->FBlockCount <= FNextChunkSize) Restore(c);
        } else {
            TChunk* last = FAvailable->FPrev;
            if (c->FUsed > last->FUsed) {
                c->Unlink();
                c->InsertAfter(FAvailable->FPrev);
            }
        }
        FNextChunkSize = NextChunkSize();
    }

    uint32_t NextChunkSize() const {
        if (FBlockSize <= SmallBlockLimit) return SmallChunkBlocks;
        return std::min(std::max(FUsed / 4, MinChunkBlocks), FMaxChunk);
    }

    TPoolState State() const {
        TPoolState state{FUsed, FMaxChunk, FNextChunkSize, RingLength(FAvailable),
                         RingLength(FRetiredRing)};
        if (!FAvailable->IsLone()) {
            state.LastCapacity = FAvailable->FPrev->FBlockCount;
            state.LastUsed = FAvailable->FPrev->FUsed;
        }
        return state;
    }

private:
    explicit TFixedSizePool(uint32_t blockSize)
        : FBlockSize(blockSize), FMaxChunk(std::min(MaxChunkBytes / blockSize, MaxChunkBlocks)),
          FNextChunkSize(NextChunkSize()) {}

    void Retire(TChunk* c) {
        c->Unlink();
        c->FRetired = true;
        c->InsertAfter(FRetiredRing->FPrev);
    }

    // Back into the available ring: last when it is fuller than the present last chunk,
    // otherwise just before it.
    void Restore(TChunk* c) {
        c->FRetired = false;
        c->Unlink();
        TChunk* last = FAvailable->FPrev;
        if (last == FAvailable || last->FUsed < c->FUsed)
            c->InsertAfter(last);
        else
            c->InsertAfter(last->FPrev);
    }

    uint32_t FBlockSize;
    TChunk* FAvailable = nullptr;
    TChunk* FRetiredRing = nullptr;
    uint32_t FUsed = 0;
    uint32_t FMaxChunk;
    uint32_t FNextChunkSize;
};

// Pool k serves size class 16 (k + 1).
class TMemManager : public TClassUseOSMemory {
public:
    static TMemManager* Create() {
        auto* created = new (std::nothrow) TMemManager;
        if (created == nullptr) return nullptr;
        for (uint32_t k = 0; k < PoolCount; ++k) {
            created->FPools[k] = TFixedSizePool::Create((k + 1) * SizeClassStep);
            if (created->FPools[k] == nullptr) {
                delete created;
                return nullptr;
            }
        }
        return created;
    }
    ~TMemManager() {
        for (TFixedSizePool* pool : FPools)
            delete pool;
    }
    TMemManager(const TMemManager&) = delete;
    TMemManager& operator=(const TMemManager&) = delete;

    std::byte* GetMem(int32_t size) {
        const uint64_t a = SizeClass(size);
        outstanding += a;
        std::byte* p = nullptr;
        if (a <= MaxPooledClass) {
            std::byte* block = Pool(static_cast<uint32_t>(a)).AllocBlock();
            if (block != nullptr) {
                StoreU32(block + SizeField, static_cast<uint32_t>(a));
                p = block + BlockHeader;
            }
        } else {
            p = OSAlloc(a);
        }
        // A request that failed leaves nothing outstanding, so the tear-down still comes.
        if (p == nullptr) outstanding -= a;
        return p;
    }

    // False when p is not a block of this manager in use.
    bool FreeMem(std::byte* p) {
        const uint32_t r = LoadU32(p - SizeField);
        if (r == 0 || r % SizeClassStep != 0) return false;
        if (r <= MaxPooledClass) {
            std::byte* block = p - BlockHeader;
            TChunk* chunk = TChunk::Owner(block, r);
            if (chunk == nullptr) return false;
            Pool(r).FreeBlock(block, chunk);
        } else if (!OSFree(p)) {
            return false;
        }
        outstanding -= r;
        return true;
    }

    TFixedSizePool& Pool(uint32_t sizeClass) { return *FPools[sizeClass / SizeClassStep - 1]; }

private:
    TMemManager() = default;

    std::array<TFixedSizePool*, PoolCount> FPools{};
};

// A raw pointer, not a unique_ptr: no exit-time destructor may free the pools under live blocks.
constinit TMemManager* manager = nullptr;

// The usable bytes of a block: a pooled block's size class less its header; an operating-system
// block's own size.
uint32_t UsableSize(const std::byte* p) {
    const uint32_t value = LoadU32(p - SizeField);
    TLockGuard guard;
    return value <= MaxPooledClass && !tornDown ? value - BlockHeader : value;
}

} // namespace

TOSMemory DefaultOSMemory() {
    return DefaultCalls;
}

void SetOSMemory(const TOSMemory& osMemory) {
    TLockGuard guard;
    os = osMemory;
}

bool EnsureManager() {
    if (initialized.load(std::memory_order_acquire)) return true;
    TLockGuard guard;
    if (initialized.load(std::memory_order_relaxed)) return true; // another thread was first
    if (!InitOSHeap()) return false;
    // Without its own objects there is no manager yet; the next request tries again.
    manager = TMemManager::Create();
    if (manager == nullptr) return false;
    initialized.store(true, std::memory_order_release);
    return true;
}

void DestroyManager() {
    delete manager;
    manager = nullptr;
    tornDown = true;
}

void* VqGetMem(int32_t size) {
    if (size <= 0 || !EnsureManager()) return nullptr;
    TLockGuard guard;
    if (tornDown) return OSAlloc(static_cast<uint64_t>(size));
    return manager->GetMem(size);
}

int32_t VqFreeMem(void* p) {
    if (p == nullptr) return 1;
    auto* block = static_cast<std::byte*>(p);
    TLockGuard guard;
    if (tornDown) {
        OSFree(block);
        return 0;
    }
    if (manager == nullptr || !manager->FreeMem(block)) return 1;
    if (shutdownPending && outstanding == 0) DestroyManager();
    return 0;
}

void* VqReallocMem(void* p, int32_t size) {
    void* q = VqGetMem(size);
    if (q == nullptr || p == nullptr) return q;
    const uint32_t usable = UsableSize(static_cast<const std::byte*>(p));
    std::memcpy(q, p, std::min(static_cast<uint32_t>(size), usable));
    VqFreeMem(p);
    return q;
}

void InstallMemoryManager() {
    if (IsMemoryManagerSet()) return;
    SetMemoryManager(TMemoryManager{VqGetMem, VqFreeMem, VqReallocMem});
}

void VqMMInitialization() {
    if (unitInitialized) return;
    unitInitialized = true;
    InstallMemoryManager();
    std::atexit(VqMMFinalization);
}

void VqMMFinalization() {
    TLockGuard guard;
    if (unitFinalized) return;
    unitFinalized = true;
    shutdownPending = true;
    if (!tornDown && outstanding == 0) DestroyManager();
}

TVqMMState VqMMState() {
    TLockGuard guard;
    return {outstanding, initialized.load(std::memory_order_relaxed), shutdownPending, tornDown};
}

TPoolState VqPoolState(uint32_t blockSize) {
    TLockGuard guard;
    if (manager == nullptr || blockSize == 0 || blockSize % SizeClassStep != 0 ||
        blockSize > MaxPooledClass)
        return {};
    return manager->Pool(blockSize).State();
}
