// The manager's life: creation at the first request, installation into the run-time, tear-down
// at program end and after it; and its blocks under several threads at once.
#include "OSCounters.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/MemoryManager.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

bool Check(bool ok, const char* what) {
    if (!ok) std::fprintf(stderr, "failed: %s\n", what);
    return ok;
}

// Runs a check in a process of its own, where the unit starts fresh and may end torn down.
void InFreshProcess(bool (*check)()) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(check() ? 0 : 1), testing::ExitedWithCode(0), "");
}

bool TearDownWithNothingOutstanding() {
    void* p = VqGetMem(100);
    bool ok = Check(p != nullptr && VqFreeMem(p) == 0, "a pooled block");
    VqMMFinalization();
    const TVqMMState state = VqMMState();
    ok &= Check(state.ShutdownPending && state.TornDown, "torn down at finalization");
    void* q = VqGetMem(100);
    ok &= Check(q != nullptr && ValueInFront(q) == 100, "later requests served by the system");
    return ok && Check(VqFreeMem(q) == 0, "released to the system");
}

bool TearDownByTheLastRelease() {
    void* a = VqGetMem(50);
    void* large = VqGetMem(20000);
    VqMMFinalization();
    TVqMMState state = VqMMState();
    bool ok = Check(state.ShutdownPending && !state.TornDown, "pending while blocks are left");
    void* b = VqGetMem(50);
    ok &= Check(ValueInFront(b) == 64, "pools still serve while pending");
    ok &= Check(VqFreeMem(a) == 0 && VqFreeMem(b) == 0 && !VqMMState().TornDown, "one left");
    ok &= Check(VqFreeMem(large) == 0 && VqMMState().TornDown, "torn down by the last release");
    auto* c = static_cast<char*>(VqGetMem(50));
    ok &= Check(c != nullptr && ValueInFront(c) == 50, "served by the system");
    std::fill_n(c, 50, 'x');
    auto* d = static_cast<char*>(VqReallocMem(c, 5000));
    ok &= Check(d != nullptr && std::count(d, d + 50, 'x') == 50, "resized by the system");
    return ok && Check(VqFreeMem(d) == 0, "released to the system");
}

TEST(VqMMLifecycle, TearDownAtProgramEndAndRequestsAfterIt) {
    InFreshProcess(TearDownWithNothingOutstanding);
    InFreshProcess(TearDownByTheLastRelease);
}

bool FirstRequestWithoutSystemMemory() {
    OSCounters::Install();
    OSCounters::refuseHeap = true;
    bool ok = Check(VqGetMem(10) == nullptr && !VqMMState().Initialized, "no manager, no block");
    OSCounters::refuseHeap = false;
    void* p = VqGetMem(10);
    ok &= Check(p != nullptr && VqMMState().Initialized, "created by the next request");
    return ok && Check(VqFreeMem(p) == 0, "released");
}

// The run-time allocates through the installed manager and reports what it refuses.
bool InstalledWhenNoOtherManagerIsSet() {
    bool ok = Check(!IsMemoryManagerSet(), "the run-time's own manager at start");
    InstallMemoryManager();
    TMemoryManager installed{};
    GetMemoryManager(installed);
    ok &= Check(IsMemoryManagerSet() && installed.GetMem == VqGetMem, "installed");
    SysGetMem(0); // keeps the chunk, so the block freed twice stays readable
    void* p = SysGetMem(0);
    ok &= Check(p != nullptr && VqMMState().Outstanding == 32, "blocks for 0 bytes");
    SysFreeMem(p);
    try {
        SysFreeMem(p);
        return Check(false, "freed twice");
    } catch (const EInvalidPointer& e) {
        return ok && Check(e.Message() == "Invalid pointer operation", "its message");
    }
}

TEST(VqMMLifecycle, CreationAndInstallation) {
    InFreshProcess(FirstRequestWithoutSystemMemory);
    InFreshProcess(InstalledWhenNoOtherManagerIsSet);
}

struct LiveBlock {
    unsigned char* p = nullptr;
    int32_t size = 0;
    unsigned char mark = 0;
};

bool Intact(const LiveBlock& b) {
    return std::all_of(b.p, b.p + b.size, [&](unsigned char c) { return c == b.mark; });
}

int32_t RandomSize(std::mt19937& random) {
    const uint32_t kind = random() % 20;
    if (kind < 14) return static_cast<int32_t>(1 + random() % 256);
    if (kind < 19) return static_cast<int32_t>(1 + random() % 16400);
    return static_cast<int32_t>(1 + random() % 70000);
}

TEST(VqMMThreads, BlocksOfManyThreadsNeverOverlapAndKeepTheirContents) {
    constexpr int Threads = 4, Slots = 200, Steps = 30000;
    IsMultiThread = true;
    const uint64_t before = VqMMState().Outstanding;
    std::vector<std::vector<LiveBlock>> live(Threads, std::vector<LiveBlock>(Slots));
    std::vector<int> damaged(Threads);
    auto work = [&](int t) {
        std::mt19937 random(static_cast<uint32_t>(t) + 1);
        for (int step = 0; step < Steps; ++step) {
            LiveBlock& b = live[t][random() % Slots];
            if (b.p != nullptr) {
                damaged[t] += !Intact(b) + VqFreeMem(b.p);
                b = {};
                continue;
            }
            b.size = RandomSize(random);
            b.p = static_cast<unsigned char*>(VqGetMem(b.size));
            b.mark = static_cast<unsigned char>(t * 60 + step % 60 + 1);
            if (b.p == nullptr)
                ++damaged[t];
            else
                std::fill_n(b.p, b.size, b.mark);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back(work, t);
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < Threads; ++t)
        EXPECT_EQ(damaged[t], 0) << "thread " << t;

    std::vector<LiveBlock> all;
    for (const auto& blocks : live)
        std::copy_if(blocks.begin(), blocks.end(), std::back_inserter(all),
                     [](const LiveBlock& b) { return b.p != nullptr; });
    std::sort(all.begin(), all.end(), [](auto& x, auto& y) { return x.p < y.p; });
    for (size_t i = 1; i < all.size(); ++i)
        EXPECT_LE(all[i - 1].p + all[i - 1].size, all[i].p) << "blocks overlap";
    for (const LiveBlock& b : all) {
        EXPECT_TRUE(Intact(b));
        EXPECT_EQ(VqFreeMem(b.p), 0);
    }
    EXPECT_EQ(VqMMState().Outstanding, before);
    IsMultiThread = false;
}

// Forks while other threads keep allocating: every child can still allocate and exit.
bool ForksWhileThreadsAllocate() {
    VqMMInitialization();
    IsMultiThread = true;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&] {
            while (!stop)
                VqFreeMem(VqGetMem(64));
        });
    bool ok = true;
    for (int i = 0; i < 40 && ok; ++i) {
        const pid_t child = fork();
        if (child == 0) std::_Exit(VqFreeMem(VqGetMem(64)));
        int status = 0;
        pid_t reaped = 0;
        for (int wait = 0; wait < 300 && reaped == 0; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            reaped = waitpid(child, &status, WNOHANG);
        }
        ok = Check(reaped == child && WIFEXITED(status) && WEXITSTATUS(status) == 0,
                   "the child allocated");
        if (!ok) kill(child, SIGKILL);
    }
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    return ok;
}

TEST(VqMMThreads, AForkNeverCopiesAHeldCriticalSection) {
    InFreshProcess(ForksWhileThreadsAllocate);
}

} // namespace
