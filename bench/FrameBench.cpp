// One frame of the player (trace copy, update, drawing) with all 10,000 drops live on a
// 640 x 480 picture, with a 32 x 32 and a 16 x 16 sprite. Prints milliseconds per frame and
// the share of the 33 ms frame budget.
#include "MV_X/main.h"
#include "bench/BenchApp.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/System.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

class TMainFormTestAccess {
public:
    static TDrop& Drop(TMainForm& f, int i) {
        f.FDropsInUse = std::max(f.FDropsInUse, i + 1);
        return f.FDrops[i];
    }
    static void Frame(TMainForm& f) {
        f.ScreenBitmap().Canvas().Draw(0, 0, *f.FTraceBitmap);
        f.UpdateDrops();
        f.DrawDrops();
    }
    // A 640 x 480 picture with stripes of every part, and a sprite of Size x Size.
    static void Scene(TMainForm& f, int size) {
        for (TBitmap* b : {f.FImageBitmap.get(), f.FTraceBitmap.get(), &f.ScreenBitmap()})
            BenchPicture(*b);
        f.FMaskBitmap->SetPixelFormat(pf8bit);
        f.FMaskBitmap->SetSize(640, 480);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
                f.FMaskBitmap->ScanLine(y)[x] = static_cast<uint8_t>((x / 40 + y / 60) % 8);
        f.FEkiBitmap->SetPixelFormat(pf24bit);
        f.FEkiBitmap->SetSize(size, size);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size * 3; ++x)
                f.FEkiBitmap->ScanLine(y)[x] = static_cast<uint8_t>(200 + x % 50);
        f.FMode = 1;
    }
};
using Access = TMainFormTestAccess;

namespace {

TApplication& App() {
    return BenchApplication();
}

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
    App();
    auto form = std::make_unique<TMainForm>();
    Access::Scene(*form, static_cast<int>(state.range(0)));
    const std::vector<TDrop> table = FullTable();
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < DropCount; ++i)
            Access::Drop(*form, i) = table[i];
        RandSeed = 0;
        state.ResumeTiming();
        Access::Frame(*form);
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
    App();
    benchmark::Initialize(&argc, argv);
    BudgetReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.Summary();
    return 0;
}
