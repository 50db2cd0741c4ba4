// Damaged and hostile AVI files: each gives an error result, never a read outside the file, a
// hang or an allocation the file's size does not justify (AddressSanitizer watches the reads).
#include "AviCrafted.h"
#include "platform/avi/AviReader.h"

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

// The three kinds of files every damage is tried on: ours (AVI 1.0 and OpenDML) and another
// tool's shape.
std::vector<Bytes> Originals(const ScratchDir& dir) {
    const std::string path = dir / "written.avi";
    WriteMovie(path, VideoInfo(6, 4, 5), FrameHeader(6, 4),
               {MakeFrame(6, 4, 0), MakeFrame(6, 4, 1)}, {AVIIF_KEYFRAME, 0});
    return {ReadFile(path), SmallOpenDml(dir / "odml.avi"),
            CraftAvi({.index = CraftedIndex::Idx1Relative, .records = true})};
}

TEST(AviHostileTest, EveryTruncationOfAFileIsAnError) {
    ScratchDir dir;
    for (const Bytes& whole : Originals(dir)) {
        ASSERT_EQ(ReadAll(whole), AVIERR_OK);
        for (size_t size = 0; size < whole.size(); ++size)
            ASSERT_NE(OpenBytes(Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(size))),
                      AVIERR_OK)
                << size;
    }
}

// Random damage, as a fuzzer makes it: opening and reading may succeed or fail, but must end.
TEST(AviHostileTest, RandomDamageEndsInAResult) {
    ScratchDir dir;
    std::mt19937 random(20261209);
    int opened = 0, refused = 0;
    for (const Bytes& whole : Originals(dir)) {
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

struct Damage {
    const char* name;
    bool openDml; // damages the small OpenDML file, else the crafted AVI 1.0 file with idx1
    void (*damage)(Bytes&);
};

class AviDamageTest : public ::testing::TestWithParam<Damage> {};

// Offsets into the indexes: the header of each index chunk is 8 + 24 bytes.
constexpr size_t kIndexEntries = 8 + 24;

INSTANTIATE_TEST_SUITE_P(
    Files, AviDamageTest,
    ::testing::Values(
        Damage{"RiffSizePastTheFile", false,
               [](Bytes& b) { Put(b, 4, static_cast<uint32_t>(b.size())); }},
        Damage{"FormatSizePastTheFile", false,
               [](Bytes& b) { Put(b, Find(b, "strf") + 4, 0x7FFFFFF0); }},
        Damage{"StreamHeaderTooShort", false,
               [](Bytes& b) {
                   // The header shrinks to 8 bytes; the rest of it becomes a JUNK chunk.
                   const size_t strh = Find(b, "strh");
                   Put(b, strh + 4, 8);
                   std::copy_n("JUNK", 4, &b[strh + 16]);
                   Put(b, strh + 20, avi::kStreamHeaderSize - 16);
               }},
        Damage{"StreamStartsPastThePositions", false,
               [](Bytes& b) { Put(b, Find(b, "strh") + 8 + 28, 0xF9000000); }},
        Damage{"NoStreamHeader", false, [](Bytes& b) { b[Find(b, "strh") + 3] = 'X'; }},
        Damage{"MoviListPastItsRiff", false,
               [](Bytes& b) { Put(b, Find(b, "movi") - 4, 0x10000); }},
        Damage{"Idx1EntryOutsideTheFile", false,
               [](Bytes& b) { Put(b, Find(b, "idx1") + 8 + 2 * 16 + 8, 0x7FFFFF00); }},
        Damage{"Idx1FirstEntryPointsNowhere", false,
               [](Bytes& b) { Put(b, Find(b, "idx1") + 8 + 8, 3); }},
        Damage{"StandardIndexEntryOutside", true,
               [](Bytes& b) { Put(b, Find(b, "ix00") + kIndexEntries, 0xFFFFFF00); }},
        Damage{"StandardIndexBaseOutside", true,
               [](Bytes& b) { Put(b, Find(b, "ix00") + 8 + 16, 0xFFFFFFFF); }},
        Damage{"StandardIndexCountPastItsChunk", true,
               [](Bytes& b) { Put(b, Find(b, "ix00") + 8 + 4, 1000000); }},
        Damage{"SuperIndexListsAnIndexTwice", true,
               [](Bytes& b) {
                   const size_t entries = Find(b, "indx") + kIndexEntries;
                   std::copy_n(&b[entries], 16, &b[entries + 16]);
               }},
        Damage{"SuperIndexCountPastItsChunk", true,
               [](Bytes& b) { Put(b, Find(b, "indx") + 8 + 4, 0x10000000); }},
        Damage{"SuperIndexPointsOutside", true,
               [](Bytes& b) { Put(b, Find(b, "indx") + kIndexEntries + 4, 0x7FFFFFFF); }},
        Damage{"SuperIndexPointsIntoAFrame", true,
               [](Bytes& b) {
                   Put(b, Find(b, "indx") + kIndexEntries,
                       static_cast<uint32_t>(Find(b, "00db") + 8));
               }}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_P(AviDamageTest, OpeningGivesAnErrorResult) {
    ScratchDir dir;
    const std::string path = dir / "damaged.avi";
    Bytes bytes =
        GetParam().openDml ? SmallOpenDml(path) : CraftAvi({.index = CraftedIndex::Idx1Relative});
    ASSERT_EQ(OpenBytes(bytes), AVIERR_OK);
    GetParam().damage(bytes);
    WriteFile(path, bytes);
    PAVIFILE file = nullptr;
    EXPECT_NE(AVIFileOpen(&file, path, OF_READ), AVIERR_OK);
    EXPECT_EQ(file, nullptr);
}

} // namespace
