// One frame of the player (trace copy, update, drawing) with all 10,000 drops live on a
// 640 x 480 picture, with a 32 x 32 and a 16 x 16 sprite; and the window's whole frame with a
// 4000 x 3000 picture, 0 or 1,000 drops live, including the repaint of the scrolled view.
// Prints milliseconds per frame and the share of the 33 ms frame budget.
#include "MV_X/Drops.h"
#include "MV_X/main.h"
#include "bench/BenchApp.h"
#include "bench/BenchPicture.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/System.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

class TMainFormTestAccess {
public:
    static constexpr int LargeWidth = 4000;
    static constexpr int LargeHeight = 3000;
    static constexpr int SpriteSize = 32;

    // A 4000 x 3000 picture playing in a window of the usual size, scrolled into the middle.
    static void LargePicture(TMainForm& f) {
        for (TBitmap* b : {f.FImageBitmap.get(), f.FTraceBitmap.get(), &f.ScreenBitmap()}) {
            b->SetPixelFormat(pf24bit);
            b->SetSize(LargeWidth, LargeHeight);
            for (int y = 0; y < LargeHeight; ++y)
                for (int x = 0; x < LargeWidth * 3; ++x)
                    b->ScanLine(y)[x] = static_cast<uint8_t>(x ^ y);
        }
        f.FMaskBitmap->SetPixelFormat(pf8bit);
        f.FMaskBitmap->SetSize(LargeWidth, LargeHeight);
        f.FEkiBitmap->SetPixelFormat(pf24bit);
        f.FEkiBitmap->SetSize(SpriteSize, SpriteSize);
        for (int y = 0; y < SpriteSize; ++y)
            for (int x = 0; x < SpriteSize * 3; ++x)
                f.FEkiBitmap->ScanLine(y)[x] = static_cast<uint8_t>(200 + x % 50);
        f.ui.Image->resize(LargeWidth, LargeHeight);
        f.resize(820, 615);
        f.ui.ImageScrollBox->horizontalScrollBar()->setValue(1500);
        f.ui.ImageScrollBox->verticalScrollBar()->setValue(1200);
        f.FMode = mdPlaying;
        f.FAutoEmit = false;
    }
    static TDropField& Drops(TMainForm& f) { return f.DropField(); }
    static TImage& Image(TMainForm& f) { return *f.ui.Image; }
    static void RunFrame(TMainForm& f) { f.RunFrame(); }
};

namespace {

// Counts the paint events a widget receives.
class TPaintCounter : public QObject {
public:
    int Paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        Paints += event->type() == QEvent::Paint;
        return false;
    }
};

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

// The window's frame with a 4000 x 3000 picture and Arg drops flying across it, then the repaint
// the frame asked for, as the message loop delivers it.
void LargeFrame(benchmark::State& state) {
    using Access = TMainFormTestAccess;
    BenchApplication();
    auto form = std::make_unique<TMainForm>();
    form->show();
    Access::LargePicture(*form);
    QCoreApplication::processEvents();
    TPaintCounter counter;
    Access::Image(*form).installEventFilter(&counter);
    TDropField& field = Access::Drops(*form);
    const int live = static_cast<int>(state.range(0));
    // Two tables taken in turn, so that every frame shows another picture than the last.
    RandSeed = 0;
    std::vector<TDrop> tables[2] = {std::vector<TDrop>(live), std::vector<TDrop>(live)};
    for (TDrop& d : tables[0]) {
        d.State = 1;
        d.X = d.StartX = Random(Access::LargeWidth);
        d.Y = d.StartY = Random(Access::LargeHeight);
        d.TargetX = Random(Access::LargeWidth);
        d.TargetY = Random(Access::LargeHeight);
        d.Angle = atan2l(d.TargetY - d.StartY, d.TargetX - d.StartX);
        d.Speed = 3;
        d.Alpha = 100 + Random(100);
    }
    for (int i = 0; i < live; ++i) {
        tables[1][i] = tables[0][i];
        tables[1][i].X += 5;
        tables[1][i].StartX += 5;
    }
    size_t turn = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::vector<TDrop>& table = tables[turn++ % 2];
        for (int i = 0; i < live; ++i)
            field.Drop(i) = table[i];
        RandSeed = 0;
        state.ResumeTiming();
        // The repaint the frame asked for, painted at once as the loop would paint it.
        const uint64_t asked = Access::Image(*form).Invalidations();
        Access::RunFrame(*form);
        if (Access::Image(*form).Invalidations() != asked) Access::Image(*form).repaint();
    }
    state.counters["paints_per_frame"] =
        static_cast<double>(counter.Paints) / static_cast<double>(state.iterations());
}

BENCHMARK(LargeFrame)->Arg(0)->Arg(1000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

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
