// Operating-system memory calls that count what the manager asks of the system and can be told
// to refuse.
#pragma once

#include "MV_M/VqMM.h"

#include <atomic>
#include <cstdint>
#include <cstring>

struct OSCounters {
    static inline std::atomic<int> heapAllocs, heapFrees, reserves, commits, releases;
    static inline std::atomic<bool> refuseHeap, refuseCommit;

    static void Install() {
        heapAllocs = heapFrees = reserves = commits = releases = 0;
        refuseHeap = refuseCommit = false;
        SetOSMemory({HeapAlloc, HeapFree, Reserve, Commit, SystemOSMemory.Populate,
                     SystemOSMemory.Decommit, Release});
    }
    static void Restore() { SetOSMemory(SystemOSMemory); }

private:
    static void* HeapAlloc(size_t size) {
        if (refuseHeap) return nullptr;
        ++heapAllocs;
        return SystemOSMemory.HeapAlloc(size);
    }
    static void HeapFree(void* p) {
        ++heapFrees;
        SystemOSMemory.HeapFree(p);
    }
    static void* Reserve(size_t size) {
        ++reserves;
        return SystemOSMemory.Reserve(size);
    }
    static bool Commit(void* p, size_t size) {
        ++commits;
        return !refuseCommit && SystemOSMemory.Commit(p, size);
    }
    static bool Release(void* p, size_t size) {
        ++releases;
        return SystemOSMemory.Release(p, size);
    }
};

// The 32-bit value the manager keeps just in front of every block it hands out.
inline uint32_t ValueInFront(const void* p) {
    uint32_t value;
    std::memcpy(&value, static_cast<const char*>(p) - 4, sizeof value);
    return value;
}

inline uint64_t Outstanding() {
    return VqMMState().Outstanding;
}
