// One frame of the player (trace copy, update, drawing) with all 10,000 drops live on a
// 640 x 480 picture, with a 32 x 32 and a 16 x 16 sprite. Prints milliseconds per frame and
// the share of the 33 ms frame budget.
#include "MV_X/Drops.h"
#include "bench/BenchPicture.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/System.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace {

// A 640 x 480 picture with stripes of every part, and a sprite of Size x Size.
struct TScene {
    TBitmap Picture, Trace, Screen, Mask, Sprite;

    explicit TScene(int size) {
        for (TBitmap* b : {&Picture, &Trace, &Screen})
            BenchPicture(*b);
        Mask.SetPixelFormat(pf8bit);
        Mask.SetSize(640, 480);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
                Mask.ScanLine(y)[x] = static_cast<uint8_t>((x / 40 + y / 60) % 8);
        Sprite.SetPixelFormat(pf24bit);
        Sprite.SetSize(size, size);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size * 3; ++x)
                Sprite.ScanLine(y)[x] = static_cast<uint8_t>(200 + x % 50);
    }
};

// Every slot live: a quarter flying across the picture, the rest dripping on the part under
// them (a tenth falling freely), all young enough to live through the measured frame.
std::vector<TDrop> FullTable() {
    RandSeed = 0;
    std::vector<TDrop> drops(DropCount);
    for (int i = 0; i < DropCount; ++i) {
        TDrop& d = drops[i];
        d = TDrop{};
        d.X = Random(640) - 8;
        d.Y = Random(480) - 8;
        if (i % 4 == 0) {
            d.State = 1;
            d.StartX = d.X;
            d.StartY = d.Y;
            d.TargetX = Random(640);
            d.TargetY = Random(480);
            d.Angle = atan2l(d.TargetY - d.StartY, d.TargetX - d.StartX);
            d.Speed = 3;
            d.Alpha = 100 + Random(100);
        } else {
            d.State = 2;
            // The part under the drop, as landing gives it; one in ten falls freely.
            const bool inside = d.X >= 0 && d.X < 640 && d.Y >= 0 && d.Y < 480;
            d.Part = i % 10 == 1 ? ptFall : inside ? (d.X / 40 + d.Y / 60) % 8 : ptNasi;
            d.FloatX = d.X;
            d.FloatY = d.Y;
            d.Speed = 0.5L;
            d.VX = 0.1L;
            d.Dist = 1 + Random(10);
            d.Alpha = 120 + Random(80);
            d.FloatAlpha = d.Alpha;
        }
    }
    return drops;
}

void Frame(benchmark::State& state) {
    TScene scene(static_cast<int>(state.range(0)));
    auto field = std::make_unique<TDropField>();
    field->SetBitmaps({&scene.Picture, &scene.Trace, &scene.Mask, &scene.Sprite});
    const std::vector<TDrop> table = FullTable();
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < DropCount; ++i)
            field->Drop(i) = table[i];
        RandSeed = 0;
        state.ResumeTiming();
        // The frame as the player runs it: the trace copied to the screen, then the drops.
        scene.Screen.Canvas().Draw(0, 0, scene.Trace);
        field->UpdateDrops();
        field->DrawDrops(scene.Screen);
    }
}

BENCHMARK(Frame)->Arg(32)->Arg(16)->Unit(benchmark::kMillisecond)->MinTime(2.0);

class BudgetReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                ms_[run.benchmark_name()] = run.GetAdjustedRealTime() /
                                            benchmark::GetTimeUnitMultiplier(run.time_unit) *
                                            1000.0;
        ConsoleReporter::ReportRuns(runs);
    }
    void Summary() const {
        for (const auto& [name, ms] : ms_)
            std::printf("%s: %.2f ms per frame, %.1f%% of the 33 ms frame budget\n", name.c_str(),
                        ms, ms / 33.0 * 100.0);
    }

private:
    std::map<std::string, double> ms_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    BudgetReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.Summary();
    return 0;
}
