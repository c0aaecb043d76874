// The session link's own costs: escaping a result block, and a block crossing an
// in-memory line between two complexes at the real clock (a line with no delay of its
// own, so what is measured is the link's pace: one character per read, and a 50 ms
// sleep whenever the receiver finds the line empty).
#include "BenchSupport.h"
#include "device/Device.h"
#include "device/MemoryPort.h"
#include "modem/SessionLink.h"
#include "platform/Dialogs.h"
#include "ui/UiBridge.h"
#include "ui/WindowModels.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <random>
#include <thread>
#include <vector>

namespace {

using namespace vetlina;
using bench::IdleDevice;
using bench::SilentDialogs;

std::vector<uint8_t> randomBlock(std::size_t size) {
    std::mt19937 random(1);
    std::uniform_int_distribution<int> value(0, 255);
    std::vector<uint8_t> block(size);
    for (auto& b : block)
        b = static_cast<uint8_t>(value(random));
    return block;
}

void BM_EncodeResultBlock(benchmark::State& state) {
    const auto block = randomBlock(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeBlock(block));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EncodeResultBlock)->Arg(40)->Arg(4096);

void BM_BlockAcrossTheLink(benchmark::State& state) {
    SilentDialogs dialogs;
    WindowModels models;
    UiBridge bridge(dialogs, models);
    auto [a, b] = MemoryLine::makePair();
    MemoryPort* endA = a.get();
    MemoryPort* endB = b.get();
    auto once = [](std::unique_ptr<MemoryPort>& port) {
        return [&port](int32_t) -> std::unique_ptr<SerialPort> { return std::move(port); };
    };
    IdleDevice sender(bridge, once(a));
    IdleDevice receiver(bridge, once(b));
    sender.OpenPort();
    receiver.OpenPort();
    const ModemLines connected{.cts = true, .dsr = true, .ring = false, .carrier = true};
    endA->setLines(connected);
    endB->setLines(connected);
    int32_t errors = 0, repeats = 0;
    SessionLink sendLink(sender, errors, repeats);
    SessionLink receiveLink(receiver, errors, repeats);

    const std::size_t size = static_cast<std::size_t>(state.range(0));
    const auto block = randomBlock(size);
    std::thread far([&] {
        std::vector<uint8_t> buffer(size);
        while (!receiver.Terminated())
            receiveLink.receiveBlock(buffer);
    });
    for (auto _ : state)
        if (!sendLink.sendBlock(block))
            state.SkipWithError("a block was not acknowledged");
    receiver.Terminate();
    far.join();
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BlockAcrossTheLink)->Arg(40)->Arg(4096)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
