// The pooled memory manager beside glibc's malloc and free: small blocks released and taken in
// pairs while a working set stays alive, and a mixed workload of random sizes and lifetimes; in
// one thread and in four. The locked single-thread run shows what the lock costs.
#include "MV_M/VqMM.h"
#include "bench/PeerRatio.h"
#include "platform/rtl/MemoryManager.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
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

template <class Allocator, Pairing pairing, bool locked = false>
void SmallBlocks(benchmark::State& state) {
    IsMultiThread = locked || state.threads() > 1;
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
    for (const int threads : {1, 4}) {
        pairs.push_back(Compare("small blocks", "small", SmallBlocks<Pooled, Pairing::Replace>,
                                SmallBlocks<Glibc, Pairing::Replace>, threads));
        pairs.push_back(Compare("immediate pairs", "immediate",
                                SmallBlocks<Pooled, Pairing::Immediate>,
                                SmallBlocks<Glibc, Pairing::Immediate>, threads));
        pairs.push_back(Compare("mixed", "mixed", Mixed<Pooled>, Mixed<Glibc>, threads));
    }
    // Ours locked beside ours unlocked: below 1 by what the lock costs.
    pairs.push_back({"small blocks, 1 thread, locked (peer: unlocked)",
                     Register("small/vqmm-locked", &SmallBlocks<Pooled, Pairing::Replace, true>, 1),
                     "small/vqmm/real_time"});
    return peer_ratio::RunAndCompare(argc, argv, pairs);
}
