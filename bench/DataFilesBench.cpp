// The files of DATA: the CSV of the file tool over 10 000 data files (per_file), and the
// writing of one session's two data files (each composed, written through its temporary
// file, synced and linked under its number) into a DATA that holds 800 files already, as
// the start-up's clean-up leaves it at most.
#include "BenchSupport.h"
#include "analyzer/Results.h"
#include "cli/DataFileTool.h"
#include "platform/Files.h"
#include "reports/CycleStatistics.h"
#include "reports/DataFileFormat.h"
#include "reports/DataFiles.h"
#include "ui/UiBridge.h"
#include "ui/WindowModels.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

using namespace vetlina;

constexpr int kFiles = 10000;
constexpr int kFolderFill = 800;

std::string benchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vetlina-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

// Every group planned and every parameter selected, as a full channel test has it.
ScenarioEntry fullEntry() {
    ScenarioEntry e = defaultEntry(45000.0);
    setText(e.Id, "REMOTE01");
    e.SeriesTime = 45000.5;
    e.Calls = 3;
    e.Analog = 1;
    e.ComplexType = kFullComplexType;
    test::setEverySelection(e, 1);
    for (auto* t : {&e.SinTime, &e.O132Time, &e.O131Time, &e.MTTSTime, &e.O42Time, &e.ImpTime,
                    &e.BlkTime, &e.EchoTime, &e.DiscrTime})
        *t = 30.0;
    for (int i = 0; i < kMttPoints; ++i)
        e.AttF[i] = e.DelF[i] = 300.0f + 200.0f * i;
    return e;
}

LiveResults fullResults() {
    LiveResults r{};
    r.sine.counter = r.o132.counter = r.o131.counter = r.noise.counter = 10;
    r.talkerEcho.counter = r.listenerEcho.counter = r.impedance.counter = 10;
    r.mtts.counter = r.o42.counter = 10;
    r.sine.snr = 41.5f;
    for (int i = 0; i < 38; ++i) {
        r.mtts.freq[i] = r.impedance.freq[i] = 100.0f * (i + 1);
        r.mtts.att[i] = 0.1f * i;
        r.mtts.del[i] = 0.02f * i;
        r.impedance.imped[i] = 3.0f * i - 50.0f;
        r.impedance.capac[i] = 0.1f;
    }
    return r;
}

const CycleParties kParties{true, "LOCAL001", "REMOTE01"};

void BM_DataCsv(benchmark::State& state) {
    const std::string folder = benchFolder();
    const ScenarioEntry entry = fullEntry();
    const LiveResults results = fullResults();
    const DirectionValues values = directionValues(entry, results, 97.0f, true);
    for (int i = 0; i < kFiles; ++i) {
        ScenarioEntry e = entry;
        e.SessionsDone = i / 2;
        const std::string image = dataFileImage(
            e, dataFileHeader(kDataKind, e, kParties, i % 2 == 0, 45000.5 + i * 1e-3), values);
        char name[32];
        std::snprintf(name, sizeof name, "/zmk%05d.dat", i);
        if (!atomicReplace(folder + name, image))
            state.SkipWithError("cannot write the data files");
    }
    std::size_t bytes = 0;
    for (auto _ : state) {
        DataCsv table = dataFolderCsv(folder);
        bytes = table.text.size();
        if (!table.problems.empty())
            state.SkipWithError("a data file was refused");
        benchmark::DoNotOptimize(table.text.data());
    }
    state.counters["csv_bytes"] = static_cast<double>(bytes);
    state.counters["per_file"] = benchmark::Counter(
        kFiles, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_DataCsv)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteSessionDataFiles(benchmark::State& state) {
    const std::string folder = benchFolder();
    const std::string previous = std::filesystem::current_path().string();
    std::filesystem::current_path(folder);
    makeFolder(kDataFolder);
    for (int i = 0; i < kFolderFill; ++i) {
        std::string path;
        publishNewFile("old", path);
    }
    bench::SilentDialogs dialogs;
    WindowModels models;
    UiBridge ui(dialogs, models);
    bench::IdleDevice thread(ui, nullptr);
    ScenarioEntry entry = fullEntry();
    LiveResults own = fullResults();
    LiveResults far = fullResults();
    std::string dataFileName, previousDataFileName;
    for (auto _ : state) {
        bool ok = writeDataFile(thread, entry, kParties, MeasuredDirection{far, 96.0f, false},
                                dataFileName, previousDataFileName) &&
                  writeDataFile(thread, entry, kParties, MeasuredDirection{own, 97.0f, true},
                                dataFileName, previousDataFileName);
        if (!ok)
            state.SkipWithError("a data file was not written");
        state.PauseTiming();
        removeFile(dataFileName);
        removeFile(previousDataFileName);
        state.ResumeTiming();
    }
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_WriteSessionDataFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
