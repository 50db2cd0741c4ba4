#include "MV_M/VqMM.h"

#include "platform/rtl/MemoryManager.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace {

// Operating-system blocks below this size come from the process heap, the others from reserved
// and committed address space.
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

constexpr uint32_t SmallBlockLimit = 64;
constexpr uint32_t SmallChunkBlocks = 200;
constexpr uint32_t MinChunkBlocks = 3;
constexpr uint32_t MaxChunkBlocks = 20;
constexpr uint32_t MaxChunkBytes = 65536;

uint32_t LoadU32(const std::byte* p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

void StoreU32(std::byte* p, uint32_t value) {
    std::memcpy(p, &value, sizeof value);
}

// The unit's state. All of it is constant-initialised and trivially destructible: the first
// allocation may come before any static constructor, and the last release after every static
// destructor has run.
constinit TOSMemory os = SystemOSMemory;
constinit TOSLock lock;
static_assert(std::is_trivially_destructible_v<TOSLock>);
constinit std::atomic<bool> initialized{false};
constinit bool shutdownPending = false;
constinit bool tornDown = false;
constinit bool unitInitialized = false;
constinit bool unitFinalized = false;
// 64 bits: a 32-bit sum wraps past 4 GB outstanding and could tear the manager down early.
constinit uint64_t outstanding = 0;

// Runs f in the critical section, which is entered only while the multi-thread flag is set and
// another thread may exist: while the process has one thread, no other can come in before this
// one has left. Both are read once: a flag set meanwhile never leaves a section not entered.
template <class F>
[[gnu::always_inline]] inline auto UnderLock(F f) {
    struct Section {
        const bool entered = IsMultiThread.load(std::memory_order_relaxed) && !OSSingleThreaded();
        Section() {
            if (entered) [[unlikely]]
                lock.Enter();
        }
        ~Section() {
            if (entered) [[unlikely]]
                lock.Leave();
        }
    } section;
    return f();
}

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
        // A large block is written at once (a frame, a buffer), so its pages are asked for in one
        // call rather than faulted in one by one.
        if (base != nullptr) os.Populate(base, total);
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

class TChunk;

// A ring of chunks. A pool's two rings are headed by sentinels of their own, without memory;
// the ring's last chunk is the sentinel's FPrev.
class TRing {
public:
    TRing() = default;
    TRing(const TRing&) = delete;
    TRing& operator=(const TRing&) = delete;

    void InsertAfter(TRing* c) {
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
    // Of a sentinel whose ring is not empty.
    TChunk* Last() const;

    TRing* FNext = this;
    TRing* FPrev = this;

protected:
    ~TRing() = default;
};

// One operating-system block carved into equal blocks. The chunk's own fields head the block, so
// a chunk costs the system one call, and a block finds its chunk from its 32-bit distance to it.
class TChunk : public TRing {
public:
    static TChunk* Create(uint32_t blockSize, uint32_t capacity) {
        std::byte* memory = OSAlloc(Head + uint64_t{blockSize} * capacity);
        return memory == nullptr ? nullptr : new (memory) TChunk(blockSize, capacity);
    }
    // Unlinks the chunk and gives its memory back to the system.
    [[gnu::noinline]] static void Destroy(TChunk* chunk) {
        chunk->Unlink();
        chunk->~TChunk();
        OSFree(reinterpret_cast<std::byte*>(chunk));
    }

    // The chunk that owns a pooled block, or nullptr when the block's header cannot be one of
    // this size class's.
    static TChunk* Owner(std::byte* block, uint32_t blockSize) {
        const uint32_t offset = LoadU32(block);
        if (offset < Head || offset > Head + MaxChunkBytes) return nullptr;
        auto* chunk = reinterpret_cast<TChunk*>(block - offset);
        return chunk->FBlockSize == blockSize && block < chunk->FBump ? chunk : nullptr;
    }

    std::byte* GetBlock() {
        ++FUsed;
        std::byte* block = FFreeList;
        if (block != nullptr) {
            const uint32_t next = LoadU32(block + SizeField);
            FFreeList = next == 0 ? nullptr : FMemory() + next;
        } else {
            block = FBump;
            FBump += FBlockSize;
        }
        StoreU32(block, static_cast<uint32_t>(block - FMemory()));
        return block;
    }

    // The free list links by distance from the chunk; such a value (8 past a multiple of 16,
    // or 0) is never a size class, so a block freed twice is refused.
    void PutBlock(std::byte* block) {
        StoreU32(block + SizeField,
                 FFreeList == nullptr ? 0 : static_cast<uint32_t>(FFreeList - FMemory()));
        FFreeList = block;
        --FUsed;
    }
    uint32_t FreeCount() const { return FBlockCount - FUsed; }

    std::byte* FFreeList = nullptr;
    std::byte* FBump;
    uint16_t FBlockSize;
    bool FRetired = false;
    uint32_t FBlockCount;
    uint32_t FUsed = 0;
    uint32_t FThreshold;

    // Room for the fields, ending 8 bytes past a multiple of 16 so that the caller's memory
    // behind each block's header is 16-aligned.
    static constexpr uint32_t Head = 56;

private:
    TChunk(uint32_t blockSize, uint32_t capacity)
        : FBump(FMemory() + Head), FBlockSize(static_cast<uint16_t>(blockSize)),
          FBlockCount(capacity), FThreshold(std::max(capacity / 10, 1u)) {}
    ~TChunk() = default;

    // The operating-system block, which the chunk heads.
    std::byte* FMemory() { return reinterpret_cast<std::byte*>(this); }
};
static_assert(sizeof(TChunk) <= TChunk::Head && TChunk::Head % OSHeader == BlockHeader);

TChunk* TRing::Last() const {
    return static_cast<TChunk*>(FPrev);
}

class TSentinel : public TRing {};

uint32_t RingLength(const TRing& sentinel) {
    uint32_t n = 0;
    for (const TRing* c = sentinel.FNext; c != &sentinel; c = c->FNext)
        ++n;
    return n;
}

// All chunks of one size class: the available ring serves requests from its last chunk, the
// retired ring holds chunks set aside until they are worth using again.
class TFixedSizePool {
public:
    explicit TFixedSizePool(uint32_t blockSize)
        : FBlockSize(blockSize), FMaxChunk(std::min(MaxChunkBytes / blockSize, MaxChunkBlocks)),
          FNextChunkSize(NextChunkSize()) {}
    ~TFixedSizePool() {
        for (TRing* sentinel : {&FAvailable, &FRetiredRing})
            while (!sentinel->IsLone())
                TChunk::Destroy(sentinel->Last());
    }
    TFixedSizePool(const TFixedSizePool&) = delete;
    TFixedSizePool& operator=(const TFixedSizePool&) = delete;

    std::byte* AllocBlock() {
        if (FAvailable.IsLone()) [[unlikely]]
            return AllocFromNewChunk();
        TChunk* last = FAvailable.Last();
        std::byte* block = last->GetBlock();
        if (last->FreeCount() == 0 || last->FBlockCount > FNextChunkSize) Retire(last);
        ++FUsed;
        FNextChunkSize = NextChunkSize();
        return block;
    }

    void FreeBlock(std::byte* block, TChunk* c) {
        c->PutBlock(block);
        --FUsed;
        if (c->FUsed == 0) {
            TChunk::Destroy(c); // its memory goes back to the system at once
        } else if (c->FRetired) {
            if (c->FreeCount() > c->FThreshold && c->FBlockCount <= FNextChunkSize) Restore(c);
        } else if (c->FUsed > FAvailable.Last()->FUsed) {
            c->Unlink();
            c->InsertAfter(FAvailable.FPrev);
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
        if (!FAvailable.IsLone()) {
            state.LastCapacity = FAvailable.Last()->FBlockCount;
            state.LastUsed = FAvailable.Last()->FUsed;
        }
        return state;
    }

private:
    [[gnu::noinline]] std::byte* AllocFromNewChunk() {
        TChunk* chunk = TChunk::Create(FBlockSize, FNextChunkSize);
        if (chunk == nullptr) return nullptr;
        std::byte* block = chunk->GetBlock();
        chunk->InsertAfter(&FAvailable);
        ++FUsed;
        FNextChunkSize = NextChunkSize();
        return block;
    }

    [[gnu::noinline]] void Retire(TChunk* c) {
        c->Unlink();
        c->FRetired = true;
        c->InsertAfter(FRetiredRing.FPrev);
    }

    // Back into the available ring: last when it is fuller than the present last chunk,
    // otherwise just before it.
    [[gnu::noinline]] void Restore(TChunk* c) {
        c->FRetired = false;
        c->Unlink();
        if (FAvailable.IsLone() || FAvailable.Last()->FUsed < c->FUsed)
            c->InsertAfter(FAvailable.FPrev);
        else
            c->InsertAfter(FAvailable.FPrev->FPrev);
    }

    // The fields every request reads come first, beside the available ring's links.
    uint32_t FBlockSize;
    uint32_t FUsed = 0;
    uint32_t FMaxChunk;
    uint32_t FNextChunkSize;
    TSentinel FAvailable;
    TSentinel FRetiredRing;
};

// Pool k serves size class 16 (k + 1). The pools are part of the manager: one system call
// creates them all.
class TMemManager : public TClassUseOSMemory {
public:
    static TMemManager* Create() { return new (std::nothrow) TMemManager; }
    TMemManager(const TMemManager&) = delete;
    TMemManager& operator=(const TMemManager&) = delete;

    [[gnu::always_inline]] std::byte* GetMem(int32_t size) {
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
    [[gnu::always_inline]] bool FreeMem(std::byte* p) {
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

    TFixedSizePool& Pool(uint32_t sizeClass) { return FPools[sizeClass / SizeClassStep - 1]; }

private:
    TMemManager() : FPools(MakePools(std::make_index_sequence<PoolCount>())) {}

    template <size_t... k>
    static std::array<TFixedSizePool, PoolCount> MakePools(std::index_sequence<k...>) {
        return {TFixedSizePool((k + 1) * SizeClassStep)...};
    }

    std::array<TFixedSizePool, PoolCount> FPools;
};

// A raw pointer, not a unique_ptr: no exit-time destructor may free the pools under live blocks.
constinit TMemManager* manager = nullptr;

// The usable bytes of a block: a pooled block's size class less its header; an operating-system
// block's own size.
uint32_t UsableSize(const std::byte* p) {
    const uint32_t value = LoadU32(p - SizeField);
    return UnderLock(
        [&] { return value <= MaxPooledClass && !tornDown ? value - BlockHeader : value; });
}

} // namespace

void SetOSMemory(const TOSMemory& osMemory) {
    UnderLock([&] { os = osMemory; });
}

bool EnsureManager() {
    if (initialized.load(std::memory_order_acquire)) return true;
    return UnderLock([] {
        if (initialized.load(std::memory_order_relaxed)) return true; // another thread was first
        if (!InitOSHeap()) return false;
        // Without its own objects there is no manager yet; the next request tries again.
        manager = TMemManager::Create();
        if (manager == nullptr) return false;
        initialized.store(true, std::memory_order_release);
        return true;
    });
}

void DestroyManager() {
    delete manager;
    manager = nullptr;
    tornDown = true;
}

namespace {

// The entry points' work inside the critical section; inlined into both of its branches.
[[gnu::always_inline]] inline void* GetMemInside(int32_t size) {
    if (tornDown) [[unlikely]]
        return OSAlloc(static_cast<uint64_t>(size));
    return manager->GetMem(size);
}

[[gnu::always_inline]] inline int32_t FreeMemInside(std::byte* block) {
    if (tornDown) [[unlikely]] {
        OSFree(block);
        return 0;
    }
    if (manager == nullptr || !manager->FreeMem(block)) return 1;
    if (shutdownPending && outstanding == 0) [[unlikely]]
        DestroyManager();
    return 0;
}

} // namespace

void* VqGetMem(int32_t size) {
    if (size <= 0) return nullptr;
    if (!initialized.load(std::memory_order_acquire) && !EnsureManager()) return nullptr;
    return UnderLock([size] { return GetMemInside(size); });
}

int32_t VqFreeMem(void* p) {
    if (p == nullptr) return 1;
    return UnderLock([block = static_cast<std::byte*>(p)] { return FreeMemInside(block); });
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

namespace {

// A child forked while another thread is inside the manager would find the critical section held
// for ever; the fork waits until no thread is inside.
void BeforeFork() {
    lock.Enter();
}
void AfterFork() {
    lock.Leave();
}

} // namespace

void VqMMInitialization() {
    if (unitInitialized) return;
    unitInitialized = true;
    InstallMemoryManager();
    std::atexit(VqMMFinalization);
    OSAtFork(BeforeFork, AfterFork, AfterFork);
}

void VqMMFinalization() {
    UnderLock([] {
        if (unitFinalized) return;
        unitFinalized = true;
        shutdownPending = true;
        if (!tornDown && outstanding == 0) DestroyManager();
    });
}

TVqMMState VqMMState() {
    return UnderLock([] {
        return TVqMMState{outstanding, initialized.load(std::memory_order_relaxed), shutdownPending,
                          tornDown};
    });
}

TPoolState VqPoolState(uint32_t blockSize) {
    if (blockSize == 0 || blockSize % SizeClassStep != 0 || blockSize > MaxPooledClass) return {};
    return UnderLock([blockSize] {
        return manager == nullptr ? TPoolState{} : manager->Pool(blockSize).State();
    });
}
