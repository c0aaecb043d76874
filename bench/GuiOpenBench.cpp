// The main window opening a scenario of 10 000 answering complexes until it can be
// worked with: the open command (file read, sort, list rebuilt, fields shown), a line
// selected in the middle and its entry shown, and the window painted. The list is a
// model/view list, so its cost does not grow with the lines that are not drawn.
#include "BenchSupport.h"
#include "GuiBenchSupport.h"
#include "gui/TForm1.h"
#include "scenario/ScenarioFiles.h"

#include <QApplication>
#include <QStandardPaths>
#include <QTableView>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

using namespace vetlina;

constexpr int kEntries = 10000;

class FixedFiles : public FileChooser {
public:
    explicit FixedFiles(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> chooseOpen(FileKind) override { return path_; }
    std::optional<std::string> chooseSave(FileKind) override { return std::nullopt; }

private:
    std::string path_;
};

QApplication& application() {
    return bench::guiApplication();
}

std::string writeBigScenario() {
    Scenario s(defaultEntry(45000.0));
    for (int i = 0; i < kEntries; ++i) {
        s.append(std::to_string(10000000 + i), std::to_string(4950000000LL + i));
        s.current().BegTime = 45000.0 + static_cast<double>((i * 7919) % kEntries) / 100.0;
    }
    const std::string path = std::filesystem::temp_directory_path() /
                             ("vetlina-gui-bench-" + std::to_string(getpid()) + ".scn");
    bench::SilentDialogs dialogs;
    if (!saveScenario(s, path, dialogs))
        std::abort();
    return path;
}

void BM_OpenTenThousandComplexes(benchmark::State& state) {
    application();
    const std::string path = writeBigScenario();
    bench::SilentDialogs dialogs;
    FixedFiles files(path);
    for (auto _ : state) {
        TForm1 form(dialogs, files);
        form.show();
        form.SpeedOpenScenClick();
        QTableView* list = form.listBox();
        list->setCurrentIndex(list->model()->index(kEntries / 2, 0));
        QApplication::processEvents();
        benchmark::DoNotOptimize(form.grab());
        if (form.scenario().count() != kEntries || form.scenario().currentIndex() != kEntries / 2)
            state.SkipWithError("the scenario did not open");
        state.PauseTiming();
        form.scenario().setModified(false);
        state.ResumeTiming();
    }
    std::filesystem::remove(path);
    state.counters["entries"] = kEntries;
}
BENCHMARK(BM_OpenTenThousandComplexes)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
