// Damaged and hostile AVI files: each gives an error result, never a read outside the file, a
// hang or an allocation the file's size does not justify (AddressSanitizer watches the reads).
#include "AviCrafted.h"
#include "platform/avi/AviReader.h"

#include <functional>
#include <gtest/gtest.h>
#include <random>

using namespace avitest;

namespace {

// Position of the first chunk Id at or after From.
size_t Find(const Bytes& bytes, const char* id, size_t from = 0) {
    const auto it =
        std::search(bytes.begin() + static_cast<ptrdiff_t>(from), bytes.end(), id, id + 4);
    return static_cast<size_t>(it - bytes.begin());
}

void Put(Bytes& bytes, size_t at, uint32_t value) {
    avi::PutU32(&bytes[at], value);
}

HRESULT OpenBytes(const Bytes& bytes) {
    avi::AviReader reader;
    return reader.Open(avi::MemorySource(bytes.data(), bytes.size()));
}

// Opens, then reads every sample of every stream; the first error, or AVIERR_OK.
HRESULT ReadAll(const Bytes& bytes) {
    avi::AviReader reader;
    HRESULT r = reader.Open(avi::MemorySource(bytes.data(), bytes.size()));
    for (int s = 0; r == AVIERR_OK && s < reader.StreamCount(); ++s) {
        const int32_t end = reader.Start(s) + reader.Length(s);
        for (int32_t at = reader.Start(s); r == AVIERR_OK && at < end;) {
            int32_t size = 0, count = 0;
            r = reader.Read(s, at, AVISTREAMREAD_CONVENIENT, nullptr, 0, &size, &count);
            Bytes block(static_cast<size_t>(std::max(size, 0)));
            if (r == AVIERR_OK) r = reader.Read(s, at, count, block.data(), size, &size, &count);
            at += std::max(count, 1);
        }
    }
    return r;
}

Bytes WrittenMovie(const ScratchDir& dir) {
    const std::string path = dir / "written.avi";
    std::vector<Bytes> frames = {MakeFrame(6, 4, 0), MakeFrame(6, 4, 1)};
    WriteMovie(path, VideoInfo(6, 4, 5), FrameHeader(6, 4), frames, {AVIIF_KEYFRAME, 0});
    return ReadFile(path);
}

TEST(AviHostileTest, EveryTruncationOfAFileIsAnError) {
    ScratchDir dir;
    for (const Bytes& whole : {WrittenMovie(dir), CraftAvi({.index = CraftedIndex::OpenDml}),
                               CraftAvi({.index = CraftedIndex::Idx1Relative})}) {
        ASSERT_EQ(ReadAll(whole), AVIERR_OK);
        for (size_t size = 0; size < whole.size(); ++size)
            ASSERT_NE(OpenBytes(Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(size))),
                      AVIERR_OK)
                << size;
    }
}

struct Damage {
    const char* name;
    CraftedOptions options;
    std::function<void(Bytes&)> damage;
};

class AviDamageTest : public ::testing::TestWithParam<Damage> {};

const CraftedOptions kIdx1{.index = CraftedIndex::Idx1Relative};
const CraftedOptions kOpenDml{.index = CraftedIndex::OpenDml};

INSTANTIATE_TEST_SUITE_P(
    Files, AviDamageTest,
    ::testing::Values(
        Damage{"RiffSizePastTheFile", kIdx1,
               [](Bytes& b) { Put(b, 4, static_cast<uint32_t>(b.size())); }},
        Damage{"FormatSizePastTheFile", kIdx1,
               [](Bytes& b) { Put(b, Find(b, "strf") + 4, 0x7FFFFFF0); }},
        Damage{"StreamHeaderTooShort", kIdx1,
               [](Bytes& b) {
                   // The header shrinks; the rest of it becomes a JUNK chunk.
                   const size_t strh = Find(b, "strh");
                   Put(b, strh + 4, 8);
                   std::copy_n("JUNK", 4, &b[strh + 16]);
                   Put(b, strh + 20, avi::kStreamHeaderSize - 16);
               }},
        Damage{"StreamStartsPastThePositions", kIdx1,
               [](Bytes& b) { Put(b, Find(b, "strh") + 8 + 28, 0xF9000000); }},
        Damage{"NoStreamHeader", kIdx1, [](Bytes& b) { b[Find(b, "strh") + 3] = 'X'; }},
        Damage{"MoviListPastItsRiff", kIdx1,
               [](Bytes& b) { Put(b, Find(b, "movi") - 4, 0x10000); }},
        Damage{"Idx1EntryOutsideTheFile", kIdx1,
               [](Bytes& b) { Put(b, Find(b, "idx1") + 8 + 2 * 16 + 8, 0x7FFFFF00); }},
        Damage{"Idx1FirstEntryPointsNowhere", kIdx1,
               [](Bytes& b) { Put(b, Find(b, "idx1") + 8 + 8, 3); }},
        Damage{"Idx1SizePastTheFile", kIdx1,
               [](Bytes& b) { Put(b, Find(b, "idx1") + 8 + 16 + 12, 0x7FFFFFFF); }},
        Damage{"StandardIndexEntryOutside",
               {.index = CraftedIndex::OpenDml,
                .patchEntry = [](uint32_t& offset, uint32_t&) { offset = 0xFFFFFF00; }},
               {}},
        Damage{"StandardIndexSizePastTheFile",
               {.index = CraftedIndex::OpenDml,
                .patchEntry = [](uint32_t&, uint32_t& size) { size = 0x7FFFFFFF; }},
               {}},
        Damage{"StandardIndexBaseOutside", kOpenDml,
               [](Bytes& b) { Put(b, Find(b, "ix00") + 8 + 16, 0xFFFFFFFF); }},
        Damage{"StandardIndexCountPastItsChunk", kOpenDml,
               [](Bytes& b) { Put(b, Find(b, "ix00") + 8 + 4, 1000000); }},
        Damage{"SuperIndexListsAnIndexTwice",
               {.index = CraftedIndex::OpenDml, .superIndexRepeat = 2},
               {}},
        Damage{"SuperIndexCountPastItsChunk", kOpenDml,
               [](Bytes& b) { Put(b, Find(b, "indx") + 8 + 4, 0x10000000); }},
        Damage{"SuperIndexPointsOutside", kOpenDml,
               [](Bytes& b) { Put(b, Find(b, "indx") + 8 + 24 + 4, 0x7FFFFFFF); }},
        Damage{"SuperIndexPointsIntoAFrame", kOpenDml,
               [](Bytes& b) {
                   Put(b, Find(b, "indx") + 8 + 24, static_cast<uint32_t>(Find(b, "00db") + 8));
               }}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_P(AviDamageTest, OpeningGivesAnErrorResult) {
    Bytes bytes = CraftAvi(GetParam().options);
    if (GetParam().damage) GetParam().damage(bytes);
    ScratchDir dir;
    WriteFile(dir / "damaged.avi", bytes);
    PAVIFILE file = nullptr;
    EXPECT_NE(AVIFileOpen(&file, dir / "damaged.avi", OF_READ), AVIERR_OK);
    EXPECT_EQ(file, nullptr);
}

// Random damage, as a fuzzer makes it: opening and reading may succeed or fail, but must end.
TEST(AviHostileTest, RandomDamageEndsInAResult) {
    ScratchDir dir;
    std::mt19937 random(20261209);
    int opened = 0, refused = 0;
    for (const Bytes& whole : {WrittenMovie(dir), CraftAvi({.index = CraftedIndex::OpenDml}),
                               CraftAvi({.index = CraftedIndex::Idx1Relative, .records = true})}) {
        for (int round = 0; round < 1500; ++round) {
            Bytes bytes = whole;
            for (int n = 1 + static_cast<int>(random() % 6); n > 0; --n)
                bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
            (ReadAll(bytes) == AVIERR_OK ? opened : refused)++;
        }
    }
    EXPECT_GT(opened, 0);
    EXPECT_GT(refused, 0);
}

} // namespace
