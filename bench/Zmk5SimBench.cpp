// How fast the simulated ZMK-5 runs: one iteration is one second of the analyzer's
// (scaled) time, so items per second is the time scale one analyzer can keep up with
// on one core.
#include "sim/analyzer/Zmk5.h"
#include "sim/analyzer/Zmk5Link.h"
#include "sim/analyzer/Zmk5Meter.h"
#include "sim/channel/ChannelPath.h"
#include "sim/network/Config.h"
#include "sim/network/ConfigReaders.h"
#include "sim/network/EventLog.h"

#include <benchmark/benchmark.h>

namespace {

using namespace vetlina::sim;

// A channel with every impairment at once.
const char* kBusyChannel = R"({"attenuationDb": 8, "noiseDbm": -50,
    "attenuationResponse": [[300, 3], [1000, 0], [3400, 6]],
    "groupDelayResponse": [[600, 1], [1000, 0], [3400, 1.5]],
    "frequencyShiftHz": 2, "phaseJitter": {"peakToPeakDeg": 10},
    "amplitudeJitter": {"peakToPeakPercent": 5}, "phaseHits": {"deg": 20, "everyS": 3},
    "levelHits": {"db": 5, "everyS": 4}, "impulses": {"peakDbm": -10, "perMinute": 30},
    "interruptions": {"durationMs": 20, "everyS": 7},
    "harmonics": {"secondPercent": 1, "thirdPercent": 0.5},
    "echo": {"returnLossDb": 25, "delayMs": 20, "listenerLossDb": 50}})";

ChannelModel busyChannel() {
    std::string error;
    return parseChannelModel(nlohmann::json::parse(kBusyChannel), error).value();
}

class NullPort : public PortSide {
public:
    void send(std::span<const uint8_t> bytes) override { sent += bytes.size(); }
    void setLines(const DeviceLines&) override {}
    std::size_t pendingToComputer() const override { return 0; }
    std::size_t sent = 0;
};

class FixedLine : public AnalyzerLine {
public:
    void hold(bool) override {}
    bool holding() const override { return true; }
    bool connected() const override { return true; }
    void publish(const GeneratorSignal&) override {}
    std::optional<FarEnd> farEnd() const override { return far; }
    FarEnd far;
};

void commandTo(SerialDevice& device, const std::vector<int16_t>& words) {
    for (const auto& block : {std::vector<int16_t>{10}, words}) {
        std::vector<uint8_t> bytes = zmk5::frameWords(block);
        device.receive(bytes);
    }
}

// The whole analyzer measuring a sine (or the comb) through the busy channel, polled
// every 5 ms of its time.
void streamSecond(benchmark::State& state, GeneratorSignal signal, int setting) {
    ChannelConfig channel;
    channel.first = "B";
    channel.second = "A";
    channel.model = busyChannel();
    FixedLine line;
    line.far = {"B", false, signal, &channel, false};
    EventLog log(nullptr);
    StationConfig station;
    station.name = "A";
    auto device = makeZmk5(station, line, log);
    NullPort port;
    device->attach(port);
    device->setLineFormat({});
    uint32_t tick = 1000;
    device->poll(tick);
    device->receive(std::vector<uint8_t>{'$', 'S', '7'});
    device->setLineFormat({.baudRate = 115200});
    device->receive(std::vector<uint8_t>{13});
    commandTo(*device, {15, 11});
    commandTo(*device, {11, 58, 0});
    commandTo(*device, {0, static_cast<int16_t>(setting)});
    for (auto _ : state) {
        for (int i = 0; i < 200; ++i) {
            tick += 5;
            device->poll(tick);
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["bytes_per_s"] = static_cast<double>(port.sent) / state.iterations();
}

void BM_AnalyzerMeasuringSine(benchmark::State& state) {
    streamSecond(state, {1, -10.0, 1000.0}, 320);
}
BENCHMARK(BM_AnalyzerMeasuringSine)->Unit(benchmark::kMillisecond);

void BM_AnalyzerMeasuringComb(benchmark::State& state) {
    streamSecond(state, {2, -10.0, 0.0}, 0);
}
BENCHMARK(BM_AnalyzerMeasuringComb)->Unit(benchmark::kMillisecond);

// The channel alone: one second of the comb through the busy channel.
void BM_ChannelSecondOfComb(benchmark::State& state) {
    ChannelConfig channel;
    channel.model = busyChannel();
    ChannelPath path;
    Zmk5Generator own;
    FarEnd far{"B", false, {2, -10.0, 0.0}, &channel, false};
    std::vector<double> buffer(1280);
    int64_t first = 0;
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i) {
            std::fill(buffer.begin(), buffer.end(), 0.0);
            path.render(first, buffer, far, own, LineConnection{.line = true});
            first += 1280;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ChannelSecondOfComb)->Unit(benchmark::kMillisecond);

// The meter alone: one second of a sine with the tracker and the event counters.
void BM_MeterSecondFollowingASine(benchmark::State& state) {
    Zmk5Meter meter;
    meter.restart(320);
    std::vector<double> line(12800);
    for (std::size_t n = 0; n < line.size(); ++n)
        line[n] = 0.44 * std::cos(2.0 * 3.14159265358979 * 1000.0 * n / 12800.0);
    for (auto _ : state) {
        meter.acquire(line);
        while (meter.takeBlock()) {
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MeterSecondFollowingASine)->Unit(benchmark::kMillisecond);

} // namespace
