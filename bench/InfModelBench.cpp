// The package checker's INF model on the largest INF of ../shared/inf-corpus:
// reading it (ParseInf), what every Windows target installs from it
// (InstallFor, 18 targets), and both; beside the floor of splitting the same
// bytes into lines with std::getline. Each reports bytes/s over the INF.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "InfInstall.h"
#include "InfModel.h"

namespace {

std::string LargestInf()
{
    std::filesystem::path largest;
    for (const auto& entry : std::filesystem::directory_iterator(MERVO_INF_CORPUS_DIR)) {
        if (entry.path().extension() == ".inf" &&
            (largest.empty() || entry.file_size() > std::filesystem::file_size(largest))) {
            largest = entry.path();
        }
    }
    std::ifstream in(largest, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

const std::string& Bytes()
{
    static const std::string bytes = LargestInf();
    return bytes;
}

void Finish(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Bytes().size()));
    state.counters["inf_bytes"] = static_cast<double>(Bytes().size());
}

void BM_Floor_GetlineSplit(benchmark::State& state)
{
    for (auto _ : state) {
        std::istringstream in(Bytes());
        std::string line;
        size_t lines = 0;
        while (std::getline(in, line)) {
            ++lines;
        }
        benchmark::DoNotOptimize(lines);
    }
    Finish(state);
}

void BM_ParseInf(benchmark::State& state)
{
    for (auto _ : state) {
        InfModel model = ParseInf(Bytes());
        benchmark::DoNotOptimize(model.sections.data());
    }
    Finish(state);
}

void BM_InstallForEveryTarget(benchmark::State& state)
{
    const InfModel model = ParseInf(Bytes());
    for (auto _ : state) {
        for (const WindowsTarget& target : WindowsTargets()) {
            InfTargetInstall install = InstallFor(model, target);
            benchmark::DoNotOptimize(install.devices.data());
        }
    }
    Finish(state);
}

void BM_ParseAndInstallForEveryTarget(benchmark::State& state)
{
    for (auto _ : state) {
        const InfModel model = ParseInf(Bytes());
        for (const WindowsTarget& target : WindowsTargets()) {
            InfTargetInstall install = InstallFor(model, target);
            benchmark::DoNotOptimize(install.devices.data());
        }
    }
    Finish(state);
}

}  // namespace

BENCHMARK(BM_Floor_GetlineSplit);
BENCHMARK(BM_ParseInf);
BENCHMARK(BM_InstallForEveryTarget);
BENCHMARK(BM_ParseAndInstallForEveryTarget);
BENCHMARK_MAIN();
