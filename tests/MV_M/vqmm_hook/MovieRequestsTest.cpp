// What the pooled manager asks of the system while the movie maker writes a movie: a movie of 100
// frames may ask no more than one of 10, beyond a few requests for the writer's growing index.
#include "MV_M/JxAvi.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/MemoryManager.h"
#include "tests/MV_M/vqmm/OSCounters.h"
#include "tests/platform/AviTestSupport.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct Requests {
    int heap = 0;     // heap blocks: chunks and blocks below 64 KB
    int mappings = 0; // mapped blocks
};

Requests MakeMovie(const std::string& path, int frames) {
    TBitmap picture;
    picture.SetPixelFormat(pf24bit);
    picture.SetSize(640, 480);
    TJxAvi avi;
    avi.SetBitDepth(24);
    avi.SetCompress(false);
    avi.SetWidth(640);
    avi.SetHeight(480);
    avi.SetFileName(path);
    OSCounters::Install();
    EXPECT_TRUE(avi.Open());
    for (int i = 0; i < frames; ++i)
        EXPECT_TRUE(avi.AddFrame(picture));
    avi.Close();
    const Requests requests{OSCounters::heapAllocs, OSCounters::reserves};
    OSCounters::Restore();
    EXPECT_EQ(avitest::ProbePackets(path, "v:0").size(), static_cast<size_t>(frames));
    return requests;
}

TEST(VqMMMovie, AMoviesFramesAskNothingOfTheSystemFrameByFrame) {
    IsMultiThread = true; // as in mv_m
    const avitest::ScratchDir dir;
    MakeMovie(dir / "warm.avi", 10); // the writer's first use sets up what it keeps
    const Requests ten = MakeMovie(dir / "ten.avi", 10);
    const Requests hundred = MakeMovie(dir / "hundred.avi", 100);
    constexpr int Slack = 8;
    EXPECT_LE(hundred.mappings - ten.mappings, Slack)
        << ten.mappings << " mapped blocks for 10 frames, " << hundred.mappings << " for 100";
    EXPECT_LE(hundred.heap - ten.heap, Slack)
        << ten.heap << " heap blocks for 10 frames, " << hundred.heap << " for 100";
}

} // namespace
