// The player's share of one core while nothing happens, with the real message loop, clock and
// (offscreen) display: the start screen, and a still 640 x 480 picture playing with no drops.
// Reports the process's CPU time over wall time; the target is under 1 %.
#include "MV_X/main.h"
#include "bench/BenchApp.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"

#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <ctime>
#include <memory>

class TMainFormTestAccess {
public:
    // A still picture of 640 x 480 playing, the emission spot shown, no drops.
    static void StillPicture(TMainForm& f) {
        for (TBitmap* b : {f.FImageBitmap.get(), f.FTraceBitmap.get(), &f.ScreenBitmap()})
            BenchPicture(*b);
        f.ui.Image->resize(640, 480);
        f.FMaskBitmap->SetPixelFormat(pf8bit);
        f.FMaskBitmap->SetSize(640, 480);
        f.FMode = mdPlaying;
    }
};

namespace {

TApplication& App() {
    return BenchApplication();
}

double ProcessSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void RunLoop(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Arg 0: the start screen; 1: a still picture.
void Idle(benchmark::State& state) {
    App();
    auto form = std::make_unique<TMainForm>();
    form->show();
    if (state.range(0) == 1) TMainFormTestAccess::StillPicture(*form);
    RunLoop(200);
    constexpr int Milliseconds = 2000;
    double cpu = 0;
    for (auto _ : state) {
        const double start = ProcessSeconds();
        RunLoop(Milliseconds);
        cpu += ProcessSeconds() - start;
    }
    state.counters["core_percent"] =
        100.0 * cpu / (Milliseconds / 1000.0 * static_cast<double>(state.iterations()));
}

BENCHMARK(Idle)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
