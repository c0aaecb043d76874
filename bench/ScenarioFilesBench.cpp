// Loading and saving a scenario of 10 000 answering complexes: the time per entry
// (per_entry) of the file commands, the save with its sync to the disk, and the
// save's in-memory image alone.
#include "platform/Files.h"
#include "scenario/ScenarioFiles.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

namespace {

using namespace vetlina;

constexpr int kEntries = 10000;

class SilentDialogs : public Dialogs {
public:
    void showMessage(const std::string&, const std::string&, DialogIcon) override { ++shown; }
    DialogAnswer ask(const std::string&, const std::string&, DialogIcon, DialogButtons) override {
        return DialogAnswer::No;
    }
    int shown = 0;
};

// A scenario of kEntries complexes with start times in random order, so that the
// load also sorts.
Scenario bigScenario() {
    Scenario s(defaultEntry(45000.0));
    std::mt19937 random(1);
    for (int i = 0; i < kEntries; ++i) {
        s.append(std::to_string(10000000 + i), std::to_string(i));
        s.current().BegTime = 45000.0 + static_cast<double>(random() % 100000) / 1000.0;
        s.current().SessionsDone = i;
    }
    s.select(-1);
    return s;
}

std::string benchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vetlina-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void perEntry(benchmark::State& state) {
    state.counters["per_entry"] = benchmark::Counter(
        kEntries, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_LoadScenario(benchmark::State& state) {
    const std::string folder = benchFolder();
    const std::string path = folder + "/big.scn";
    SilentDialogs dialogs;
    Scenario source = bigScenario();
    if (!saveScenario(source, path, dialogs))
        state.SkipWithError("cannot write the scenario");
    Scenario target(defaultEntry(45000.0));
    for (auto _ : state) {
        bool loaded = loadScenario(target, path, dialogs);
        benchmark::DoNotOptimize(loaded);
    }
    if (target.count() != kEntries || dialogs.shown != 0)
        state.SkipWithError("the scenario did not load");
    perEntry(state);
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_LoadScenario)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveScenario(benchmark::State& state) {
    const std::string folder = benchFolder();
    const std::string path = folder + "/big.scn";
    SilentDialogs dialogs;
    Scenario scenario = bigScenario();
    for (auto _ : state) {
        bool saved = saveScenario(scenario, path, dialogs);
        benchmark::DoNotOptimize(saved);
    }
    if (dialogs.shown != 0)
        state.SkipWithError("the scenario was not saved");
    perEntry(state);
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_SaveScenario)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScenarioImage(benchmark::State& state) {
    Scenario scenario = bigScenario();
    for (auto _ : state) {
        std::string image = scenarioFileImage(scenario.entries());
        benchmark::DoNotOptimize(image.data());
    }
    perEntry(state);
}
BENCHMARK(BM_ScenarioImage)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
