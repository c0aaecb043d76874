// The costs the run pays for every event: a worker's synchronous hand-off to the main
// thread, an event line appended to the protocol document (one write and a flush of
// the system's buffers), and a line added to the protocol window's memo.
#include "BenchSupport.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "reports/EventProtocol.h"
#include "ui/ProtocolMemo.h"
#include "ui/UiBridge.h"
#include "ui/WindowModels.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace {

using namespace vetlina;
using bench::SilentDialogs;

// A worker's hand-off: queued, run by the main thread, waited for.
void BM_InvokeSyncFromWorker(benchmark::State& state) {
    SilentDialogs dialogs;
    WindowModels models;
    std::atomic<bool> stop{false};
    std::atomic<UiBridge*> bridgePtr{nullptr};
    // The bridge's main thread serves until the benchmark is done.
    std::thread mainThread([&] {
        UiBridge bridge(dialogs, models);
        bridgePtr = &bridge;
        bridge.serveUntil([&] { return stop.load(); });
    });
    while (!bridgePtr.load())
        std::this_thread::yield();
    UiBridge& bridge = *bridgePtr;
    int counter = 0;
    for (auto _ : state)
        bridge.invokeSync([&] { ++counter; });
    stop = true;
    bridge.wake();
    mainThread.join();
    benchmark::DoNotOptimize(counter);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InvokeSyncFromWorker)->UseRealTime();

// One event line into Prot.htm in the system's temporary folder.
void BM_ProtocolAppend(benchmark::State& state) {
    auto path = std::filesystem::temp_directory_path() /
                ("vetlina-bench-prot-" + std::to_string(::getpid()) + ".htm");
    ProtocolDocument doc;
    if (!doc.open(path.string(), "header")) {
        state.SkipWithError("cannot open the document");
        return;
    }
    std::string record = eventRecord("12:05:09 Измеритель: Синусоидальный сигнал"_cp);
    for (auto _ : state)
        benchmark::DoNotOptimize(doc.append(record));
    doc.close();
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(record.size()));
}
BENCHMARK(BM_ProtocolAppend)->UseRealTime();

// A line into a memo that never finds a call to cut at and so stays between nine and ten
// thousand lines, its limit: the longest the trimming rule takes.
void BM_MemoAddWithoutCalls(benchmark::State& state) {
    ProtocolMemo memo;
    std::string line = "12:05:09  -getch error";
    while (memo.lines().size() < ProtocolMemo::kMaxLines)
        memo.add(line);
    for (auto _ : state)
        memo.add(line);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MemoAddWithoutCalls);

// A line into a memo of a calling run: blocks of calls keep it near 2000 characters.
void BM_MemoAddInCalls(benchmark::State& state) {
    ProtocolMemo memo;
    std::string call = "12:05:09 Вызов 00000201 тел. 201"_cp;
    std::string line = "12:05:10 Соединение 2400"_cp;
    int n = 0;
    for (auto _ : state) {
        if (++n % 20 == 0) {
            memo.add("");
            memo.add(call);
        } else {
            memo.add(line);
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MemoAddInCalls);

} // namespace
