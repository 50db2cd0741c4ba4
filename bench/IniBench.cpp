// Opening an album entry's settings: the eleven values of a small file and of one grown close
// to the reader's 16 MiB limit (a file edited by hand, or by another program, may hold much
// besides the player's keys). Each file is parsed once per opening, however many keys are read.
#include "platform/classes/IniFiles.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr const char* Sections[] = {"COLOR", "EKI", "EKIPT"};
constexpr const char* Keys[][6] = {
    {"A", "R", "G", "B"}, {"RYOU", "SITATARI", "SOKUDO", "HEKI", "EKIATO", "SIRO"}, {"PT"}};

std::string WriteEntryFile(int64_t fillerBytes) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("mv-ini-bench-" + std::to_string(fillerBytes) + ".ini"))
                                 .string();
    std::ofstream out(path, std::ios::binary);
    for (int64_t written = 0; written < fillerBytes; written += 40)
        out << "[NOTE" << written << "]\r\nTEXT=some words of a note\r\n";
    out << "[COLOR]\r\nA=3\r\nR=4\r\nG=5\r\nB=6\r\n[EKI]\r\nRYOU=1\r\nSITATARI=2\r\nSOKUDO=3\r\n"
        << "HEKI=0\r\nEKIATO=1\r\nSIRO=2\r\n[EKIPT]\r\nPT=3\r\n";
    return path;
}

void BM_OpenEntrySettings(benchmark::State& state) {
    const std::string path = WriteEntryFile(state.range(0));
    for (auto _ : state) {
        const TIniFile ini(path);
        int32_t sum = 0;
        for (int s = 0; s < 3; ++s)
            for (const char* key : Keys[s])
                if (key != nullptr) sum += ini.ReadInteger(Sections[s], key, 0);
        benchmark::DoNotOptimize(sum);
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_OpenEntrySettings)->Arg(0)->Arg(15 << 20)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
