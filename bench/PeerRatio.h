// Runs a program's benchmarks and prints how our throughput compares with the peer's.
#pragma once

#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace peer_ratio {

// Two benchmarks of the same work: ours and the peer library's (or memcpy's).
struct Pair {
    std::string label;
    std::string ours;
    std::string peer;
};

// Prints every run as the console reporter does and keeps its time per iteration.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                seconds_[run.benchmark_name()] =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        ConsoleReporter::ReportRuns(runs);
    }
    // Seconds per iteration, 0 when the benchmark did not run.
    double Seconds(const std::string& name) const {
        const auto it = seconds_.find(name);
        return it == seconds_.end() ? 0 : it->second;
    }

private:
    std::map<std::string, double> seconds_;
};

// The ratio is the peer's time over ours: above 1 we are faster.
inline int RunAndCompare(int argc, char** argv, const std::vector<Pair>& pairs) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const Pair& pair : pairs) {
        const double ours = reporter.Seconds(pair.ours), peer = reporter.Seconds(pair.peer);
        if (ours > 0 && peer > 0)
            std::printf("ratio %s: %.3f (ours %.2f us, %s %.2f us)\n", pair.label.c_str(),
                        peer / ours, ours * 1e6, pair.peer.c_str(), peer * 1e6);
    }
    return 0;
}

} // namespace peer_ratio
