// The evaluation of one session of a full entry (every measurement kind planned) with
// every document it writes: the statistics window and the broken norms, the caption as
// an event line, the protocol's links, the statistics entry, the summary row and the
// passport. The documents lie in /dev/shm (a memory file system where there is one), so
// that the flushes of the system's buffers cost next to nothing and the figure is the
// program's own work.
#include "BenchSupport.h"
#include "app/Complex.h"
#include "platform/Cp1251.h"
#include "reports/Evaluation.h"
#include "scenario/Scenario.h"
#include "scenario/ScenarioEntry.h"
#include "ui/UiBridge.h"
#include "ui/WindowModels.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <unistd.h>

namespace {

using namespace vetlina;

class NoWorkers : public WorkerFactory {
public:
    std::unique_ptr<AnalyzerThread> createAnalyzer(RunContext&) override { return nullptr; }
    std::unique_ptr<ModemThread> createModem(RunContext&, ModemRole) override { return nullptr; }
};

// Every quantity of a block holds `sessions` values around base.
template <typename Block>
void fill(Block& block, int sessions, double base) {
    for (int row = 0; row < Block::kItems; ++row) {
        StatRef item = block.item(row);
        for (int s = 0; s < sessions; ++s) {
            const double x = base + row + 0.25 * s;
            item.last = static_cast<float>(x);
            item.sum = item.sum.get() + x;
            item.sumSq = item.sumSq.get() + x * x;
        }
    }
}

// An entry with every kind planned, every norm selected, in the last session of its cycle.
ScenarioEntry fullEntry() {
    ScenarioEntry e = defaultEntry(45000.0);
    setText(e.Id, "87654321");
    setText(e.Number, "84951001");
    e.SeriesTime = 45000.4;
    e.sinPulCntOn = e.sinPulRelOn = e.sinIntCntOn = e.sinIntRelOn = 1;
    e.sinSumCntOn = e.sinSumRelOn = e.impImpedOn = e.impCapacOn = 1;
    const int sessions = 5;
    e.NumMin = 3;
    e.NumTotal = sessions;
    e.SessionsDone = sessions;
    e.Calls = 7;
    e.FailNUS = 1;
    e.FailOtb = 1;
    for (SineStats* b : {&e.sineA, &e.sineB}) {
        fill(*b, sessions, 10);
        b->count = sessions;
    }
    for (O132Stats* b : {&e.o132A, &e.o132B}) {
        fill(*b, sessions, 10);
        b->count = sessions;
    }
    for (O131Stats* b : {&e.o131A, &e.o131B}) {
        fill(*b, sessions, 30);
        b->count = sessions;
    }
    for (NoiseStats* b : {&e.noiseA, &e.noiseB}) {
        fill(*b, sessions, -60);
        b->count = sessions;
    }
    for (EchoStats* b : {&e.echoA, &e.echoB}) {
        fill(*b, sessions, 30);
        b->echoTalkCount = sessions;
        b->echoListCount = sessions;
    }
    for (ImpedanceStats* b : {&e.impedanceA, &e.impedanceB}) {
        fill(*b, sessions, 0.1);
        b->count = sessions;
    }
    for (MultiFrequencyStats* b : {&e.mttA, &e.mttB}) {
        fill(*b, sessions, 0.01);
        b->count = sessions;
    }
    for (O42Stats* b : {&e.o42A, &e.o42B}) {
        fill(*b, sessions, 0.5);
        b->count = sessions;
    }
    for (ThroughputStats* b : {&e.throughputA, &e.throughputB}) {
        fill(*b, sessions, 60);
        b->count = sessions;
    }
    return e;
}

void BM_EvaluateSessionWithDocuments(benchmark::State& state) {
    const std::filesystem::path base =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    const std::filesystem::path folder =
        base / ("vetlina-bench-eval-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    {
        bench::SilentDialogs dialogs;
        WindowModels models;
        UiBridge ui(dialogs, models);
        NoWorkers workers;
        Scenario scenario;
        Complex complex(ui, workers, scenario, "12345678");
        setCurrentComplex(&complex);
        complex.create(ModemRole::Calling, "start"_cp);
        setFieldText(complex.peerIdent, "87654321");
        const ScenarioEntry prepared = fullEntry();
        ScenarioEntry entry = prepared;
        bool normFailed = false;
        std::size_t rows = 0;
        for (auto _ : state) {
            state.PauseTiming();
            entry = prepared;
            state.ResumeTiming();
            evaluateSession(complex, entry, true, normFailed);
            rows = models.statistics.lines.size();
        }
        state.counters["rows"] = static_cast<double>(rows);
        if (!complex.summaryStream.isOpen() || rows < 60)
            state.SkipWithError("the documents were not written");
        setCurrentComplex(nullptr);
    }
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_EvaluateSessionWithDocuments)->Unit(benchmark::kMicrosecond);

} // namespace
