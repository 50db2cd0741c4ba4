// Size classes, pools and their chunks, operating-system blocks and resizing of the pooled
// manager, run on the unit's one global instance. Every test frees what it takes, so each pool
// is empty again (its chunks given back) when the next test starts.
#include "OSCounters.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

class VqMMTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(EnsureManager()); // its own objects are not counted
        OSCounters::Install();
    }
    void TearDown() override {
        for (void* p : taken_)
            EXPECT_EQ(VqFreeMem(p), 0);
        OSCounters::Restore();
    }
    void* Take(int32_t size) {
        void* p = VqGetMem(size);
        EXPECT_NE(p, nullptr) << size;
        taken_.push_back(p);
        return p;
    }
    void Keep(void* p) { taken_.push_back(p); }
    void FreeTaken(void* p) {
        std::erase(taken_, p);
        EXPECT_EQ(VqFreeMem(p), 0);
    }

private:
    std::vector<void*> taken_;
};

TEST_F(VqMMTest, RequestsGetTheirSizeClassesAndLargeBlocksTheirOwnSize) {
    const struct {
        int32_t size;
        uint32_t sizeClass;
    } cases[] = {{1, 16}, {8, 16}, {9, 32}, {24, 32}, {25, 48}, {16376, 16384}, {16377, 16400}};
    for (const auto& c : cases) {
        const uint64_t before = Outstanding();
        void* p = Take(c.size);
        EXPECT_EQ(ValueInFront(p), c.sizeClass) << c.size;
        EXPECT_EQ(Outstanding() - before, c.sizeClass) << c.size;
    }
    EXPECT_EQ(VqPoolState(16384).Used, 1u);
    EXPECT_EQ(VqPoolState(48).Used, 1u);
}

TEST_F(VqMMTest, LargeBlocksComeFromTheHeapUpTo65512BytesThenFromMappedMemory) {
    const int heapBefore = OSCounters::heapAllocs;
    void* fromHeap = Take(65512);
    EXPECT_EQ(ValueInFront(fromHeap), 65520u);
    EXPECT_EQ(OSCounters::heapAllocs - heapBefore, 1);
    EXPECT_EQ(OSCounters::reserves, 0);

    void* mapped = Take(65513);
    EXPECT_EQ(ValueInFront(mapped), 65536u);
    EXPECT_EQ(OSCounters::reserves, 1);
    EXPECT_EQ(OSCounters::commits, 1);
    std::memset(mapped, 0x5a, 65513);
    FreeTaken(mapped);
    EXPECT_EQ(OSCounters::releases, 1);
}

TEST_F(VqMMTest, ACommitThatFailsHandsOutNothingAndGivesTheReservationBack) {
    auto* p = static_cast<char*>(Take(24));
    std::memcpy(p, "kept", 5);
    const uint64_t before = Outstanding();
    OSCounters::refuseCommit = true;
    EXPECT_EQ(VqGetMem(100000), nullptr);
    EXPECT_EQ(OSCounters::reserves, 1);
    EXPECT_EQ(OSCounters::releases, 1);
    EXPECT_EQ(Outstanding(), before);
    // A resize that cannot get its new block leaves the old one as it was.
    EXPECT_EQ(VqReallocMem(p, 200000), nullptr);
    EXPECT_STREQ(p, "kept");
}

TEST_F(VqMMTest, FirstChunksHold200SmallBlocksOr3LargerOnes) {
    Take(24);
    EXPECT_EQ(VqPoolState(32).LastCapacity, 200u);
    Take(4088);
    EXPECT_EQ(VqPoolState(4096).LastCapacity, 3u);
    for (int i = 1; i < 200; ++i)
        Take(24);
    const TPoolState full = VqPoolState(32);
    EXPECT_EQ(full.AvailableChunks, 0u);
    EXPECT_EQ(full.RetiredChunks, 1u);
    Take(24);
    EXPECT_EQ(VqPoolState(32).AvailableChunks, 1u);
    EXPECT_EQ(VqPoolState(32).LastUsed, 1u);
}

TEST_F(VqMMTest, ChunksGrowWithThePopulationUpTo20BlocksAnd64KB) {
    for (int i = 0; i < 100; ++i)
        Take(120);
    EXPECT_EQ(VqPoolState(128).NextChunkSize, 20u);
    for (int i = 0; i < 30; ++i)
        Take(16376);
    EXPECT_EQ(VqPoolState(16384).MaxChunk, 4u);
    EXPECT_EQ(VqPoolState(16384).NextChunkSize, 4u);
}

TEST_F(VqMMTest, AnEmptiedChunkGoesBackToTheSystemAtOnce) {
    void* p = Take(40);
    const int freesBefore = OSCounters::heapFrees;
    FreeTaken(p);
    EXPECT_EQ(OSCounters::heapFrees - freesBefore, 1);
    EXPECT_EQ(VqPoolState(48).AvailableChunks, 0u);
}

TEST_F(VqMMTest, AFullChunkIsRetiredAndReturnsOnceMoreThanATenthIsFree) {
    void* first[3] = {Take(4088), Take(4088), Take(4088)};
    EXPECT_EQ(VqPoolState(4096).RetiredChunks, 1u);
    Take(4088); // a new chunk serves the next request
    EXPECT_EQ(VqPoolState(4096).AvailableChunks, 1u);

    FreeTaken(first[0]); // 1 free of 3 is not above the threshold of 1
    EXPECT_EQ(VqPoolState(4096).RetiredChunks, 1u);
    FreeTaken(first[1]);
    const TPoolState back = VqPoolState(4096);
    EXPECT_EQ(back.RetiredChunks, 0u);
    EXPECT_EQ(back.AvailableChunks, 2u);
    EXPECT_EQ(back.Used, 2u);
}

TEST_F(VqMMTest, ResizingCopiesTheSmallerOfTheUsableAndTheNewSize) {
    const char pattern[] = "abcdefghijklmnopqrstuvwx"; // 24 bytes, the usable size of class 32
    for (const int32_t newSize : {100, 10}) {
        // A freed block filled with marks is the one the resize gets: it heads its chunk's free
        // list, kept alive by a neighbour.
        Take(newSize);
        void* marked = VqGetMem(newSize);
        std::memset(marked, 0xee, ValueInFront(marked) - 8);
        auto* p = static_cast<char*>(VqGetMem(24));
        std::memcpy(p, pattern, 24);
        EXPECT_EQ(VqFreeMem(marked), 0);

        auto* q = static_cast<unsigned char*>(VqReallocMem(p, newSize));
        ASSERT_EQ(q, marked);
        Keep(q);
        const size_t copied = std::min<size_t>(24, static_cast<size_t>(newSize));
        EXPECT_EQ(std::memcmp(q, pattern, copied), 0);
        EXPECT_EQ(q[copied], 0xee) << newSize;
    }
}

TEST_F(VqMMTest, EveryBlockIsAlignedForAnyType) {
    for (int32_t size = 1; size < 70000; size += size < 1100 ? 1 : 97) {
        void* p = VqGetMem(size);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u) << size;
        ASSERT_EQ(VqFreeMem(p), 0);
    }
}

TEST_F(VqMMTest, ReleasesOfBlocksNotInUseAreRefused) {
    void* keep = Take(30);
    std::memset(keep, 0, 40);
    void* p = VqGetMem(30);
    const uint64_t before = Outstanding();
    ASSERT_EQ(VqFreeMem(p), 0);
    EXPECT_EQ(VqFreeMem(p), 1); // freed twice
    EXPECT_EQ(Outstanding(), before - 48);
    EXPECT_EQ(VqFreeMem(static_cast<char*>(keep) + 16), 1);
    EXPECT_EQ(VqFreeMem(nullptr), 1);
    EXPECT_EQ(VqGetMem(0), nullptr);
    EXPECT_EQ(VqGetMem(-5), nullptr);
}

} // namespace
