// The pooled memory manager beside glibc's malloc and free: small blocks released and taken in
// pairs while a working set stays alive, and a mixed workload of random sizes and lifetimes; in
// one thread and in four. The locked single-thread runs show what the lock costs in mv_m, where
// the flag is set from the start and Qt has threads of its own. Large blocks show what a movie
// frame's buffer costs and how many page faults it takes.
#include "MV_M/VqMM.h"
#include "bench/PeerRatio.h"
#include "platform/rtl/MemoryManager.h"
#include "platform/rtl/OSMemory.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <linux/perf_event.h>
#include <random>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Pooled {
    static void* Get(int32_t size) { return VqGetMem(size); }
    static void Free(void* p) { VqFreeMem(p); }
};

struct Glibc {
    static void* Get(int32_t size) { return std::malloc(static_cast<size_t>(size)); }
    static void Free(void* p) { std::free(p); }
};

constexpr size_t WorkingSet = 1024;
constexpr size_t PairsPerIteration = 4096;
constexpr int MixedOperations = 1'000'000;
constexpr size_t MixedSlots = 4096;
constexpr double MaxMixedSize = 65536;

// One operation of a workload: the slot it acts on and the size it allocates there.
struct Step {
    uint32_t slot;
    int32_t size;
};

std::vector<Step> SmallPairs(uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<Step> steps(PairsPerIteration);
    for (Step& step : steps)
        step = {static_cast<uint32_t>(random() % WorkingSet),
                static_cast<int32_t>(16 + random() % 241)};
    return steps;
}

// Sizes spread evenly over their logarithm, so small and large blocks both come often.
std::vector<Step> MixedSteps(uint32_t seed, int count) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> logSize(0, std::log(MaxMixedSize));
    std::vector<Step> steps(static_cast<size_t>(count));
    for (Step& step : steps)
        step = {static_cast<uint32_t>(random() % MixedSlots),
                static_cast<int32_t>(std::exp(logSize(random)))};
    return steps;
}

void Touch(void* p) {
    *static_cast<volatile char*>(p) = 1;
}

// How a pair of allocation and release meets the resident population of small blocks.
enum class Pairing {
    Replace,   // a random resident block is released and a new one takes its place
    Immediate, // a new block is released again at once
};

// Whether the manager takes its lock in a one-thread run.
enum class Lock {
    Off,       // the multi-thread flag is clear
    AsInMvM,   // the flag is set and the process has had other threads, as Qt's in mv_m
    OneThread, // the flag is set, but the process has never had a second thread
};

// Sets the flag as the lock mode asks; false (the run skipped) when the process state cannot be
// the one asked for.
bool PrepareLock(benchmark::State& state, Lock lock) {
    IsMultiThread = lock != Lock::Off || state.threads() > 1;
    if (lock == Lock::AsInMvM && OSSingleThreaded()) std::thread([] {}).join();
    if (lock == Lock::OneThread && !OSSingleThreaded()) {
        state.SkipWithError("the process has had a second thread already");
        return false;
    }
    return true;
}

template <class Allocator, Pairing pairing, Lock lock = Lock::Off>
void SmallBlocks(benchmark::State& state) {
    if (!PrepareLock(state, lock)) return;
    const std::vector<Step> steps = SmallPairs(static_cast<uint32_t>(state.thread_index()) + 1);
    std::vector<void*> live(WorkingSet);
    for (size_t i = 0; i < WorkingSet; ++i)
        live[i] = Allocator::Get(steps[i].size);
    for (auto _ : state) {
        for (const Step& step : steps) {
            void* p = Allocator::Get(step.size);
            Touch(p);
            if constexpr (pairing == Pairing::Replace) std::swap(p, live[step.slot]);
            Allocator::Free(p);
        }
    }
    for (void* p : live)
        Allocator::Free(p);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(steps.size()));
}

template <class Allocator>
void Mixed(benchmark::State& state) {
    IsMultiThread = state.threads() > 1;
    const std::vector<Step> steps = MixedSteps(static_cast<uint32_t>(state.thread_index()) + 1,
                                               MixedOperations / state.threads());
    std::vector<void*> live(MixedSlots);
    for (auto _ : state) {
        for (const Step& step : steps) {
            void*& p = live[step.slot];
            if (p != nullptr) {
                Allocator::Free(p);
                p = nullptr;
            } else {
                p = Allocator::Get(step.size);
                Touch(p);
            }
        }
        for (void*& p : live) {
            if (p != nullptr) Allocator::Free(p);
            p = nullptr;
        }
    }
}

// A movie frame's buffer (640 x 480, 24 bits) taken, zero-filled and released. The page faults
// per buffer are reported beside the time: those the program's own writes take, not the pages
// the kernel backs in one call (which the process's fault count includes).
constexpr int32_t FrameBytes = 640 * 480 * 3;

class FaultCounter {
public:
    FaultCounter() {
        perf_event_attr attr{};
        attr.type = PERF_TYPE_SOFTWARE;
        attr.size = sizeof attr;
        attr.config = PERF_COUNT_SW_PAGE_FAULTS;
        attr.exclude_kernel = 1;
        attr.exclude_hv = 1;
        fd_ = static_cast<int>(syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
    }
    ~FaultCounter() {
        if (fd_ >= 0) close(fd_);
    }
    FaultCounter(const FaultCounter&) = delete;
    FaultCounter& operator=(const FaultCounter&) = delete;
    // -1 when the system does not let the process count them.
    double Count() const {
        uint64_t count = 0;
        return fd_ >= 0 && read(fd_, &count, sizeof count) == sizeof count
                   ? static_cast<double>(count)
                   : -1;
    }

private:
    int fd_;
};

template <class Allocator>
void LargeBlocks(benchmark::State& state) {
    IsMultiThread = false;
    const FaultCounter faults;
    const double before = faults.Count();
    for (auto _ : state) {
        void* p = Allocator::Get(FrameBytes);
        std::memset(p, 0, FrameBytes);
        benchmark::DoNotOptimize(p);
        Allocator::Free(p);
    }
    state.counters["faults"] =
        benchmark::Counter(faults.Count() - before, benchmark::Counter::kAvgIterations);
}

// The same with the pages left to be faulted in by the first writes.
void LargeBlocksUnpopulated(benchmark::State& state) {
    TOSMemory calls = SystemOSMemory;
    calls.Populate = [](void*, size_t) {};
    SetOSMemory(calls);
    LargeBlocks<Pooled>(state);
    SetOSMemory(SystemOSMemory);
}

std::string Register(const std::string& name, void (*run)(benchmark::State&), int threads) {
    auto* benchmark = benchmark::RegisterBenchmark(name.c_str(), run)->UseRealTime();
    if (threads == 1) return name + "/real_time";
    benchmark->Threads(threads);
    return name + "/real_time/threads:" + std::to_string(threads);
}

// Our run and glibc's of the same work.
peer_ratio::Pair Compare(const std::string& label, const std::string& name,
                         void (*ours)(benchmark::State&), void (*peer)(benchmark::State&),
                         int threads) {
    return {label + (threads == 1 ? ", 1 thread" : ", 4 threads"),
            Register(name + "/vqmm", ours, threads), Register(name + "/glibc", peer, threads)};
}

} // namespace

int main(int argc, char** argv) {
    std::vector<peer_ratio::Pair> pairs;
    // First, while the process has no other thread: the lock is on, but need not be taken.
    pairs.push_back({"small blocks, 1 thread, flag set, process single-threaded",
                     Register("small/vqmm-flag-one-thread",
                              SmallBlocks<Pooled, Pairing::Replace, Lock::OneThread>, 1),
                     "small/glibc/real_time"});
    for (const int threads : {1, 4}) {
        pairs.push_back(Compare("small blocks", "small", SmallBlocks<Pooled, Pairing::Replace>,
                                SmallBlocks<Glibc, Pairing::Replace>, threads));
        pairs.push_back(Compare("immediate pairs", "immediate",
                                SmallBlocks<Pooled, Pairing::Immediate>,
                                SmallBlocks<Glibc, Pairing::Immediate>, threads));
        pairs.push_back(Compare("mixed", "mixed", Mixed<Pooled>, Mixed<Glibc>, threads));
    }
    // The situation of mv_m: one thread allocates, the lock is taken every time.
    pairs.push_back(
        {"small blocks, 1 thread, locked as in mv_m",
         Register("small/vqmm-locked", SmallBlocks<Pooled, Pairing::Replace, Lock::AsInMvM>, 1),
         "small/glibc/real_time"});
    pairs.push_back({"immediate pairs, 1 thread, locked as in mv_m",
                     Register("immediate/vqmm-locked",
                              SmallBlocks<Pooled, Pairing::Immediate, Lock::AsInMvM>, 1),
                     "immediate/glibc/real_time"});
    // Ours locked beside ours unlocked: below 1 by what the lock costs.
    pairs.push_back({"small blocks, 1 thread, locked as in mv_m (peer: unlocked)",
                     "small/vqmm-locked/real_time", "small/vqmm/real_time"});
    // A movie frame's buffer: its pages asked for in one call beside faulted in one by one.
    pairs.push_back({"large blocks, populated (peer: faulted page by page)",
                     Register("large/vqmm", LargeBlocks<Pooled>, 1),
                     Register("large/vqmm-unpopulated", LargeBlocksUnpopulated, 1)});
    pairs.push_back(
        {"large blocks", "large/vqmm/real_time", Register("large/glibc", LargeBlocks<Glibc>, 1)});
    return peer_ratio::RunAndCompare(argc, argv, pairs);
}
