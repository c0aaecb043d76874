// Accuracy of the counted events of the sine measurement (impulse noise, interruptions)
// and of the echo measurements.
#include "AccuracyTable.h"
#include "ChannelBench.h"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace vetlina::accuracy {
namespace {

const Tolerance kExact{0.0, 0.0, "exact"};
const Tolerance kEcho{1.0, 0.0, "±1 dB"};

constexpr double kMeterRate = 12800.0;
// An event this close to either end of the statistics' interval could fall either way.
constexpr double kEdgeSeconds = 0.1;

struct Schedule {
    double firstS, everyS;
    double durationMs = 0.0; // interruptions
};

// Events of a schedule (counted from the moment the call reached the meter) that start
// inside the interval of the event statistics, from the meter's restart to the time of
// the last statistics block. An event near an end of it fails the test: its count would
// depend on rounding, and the schedule is to be moved.
int eventsInInterval(const ChannelBench& bench, const Schedule& s) {
    const double start = static_cast<double>(bench.lastRestartSample - bench.connectionSample);
    const double end = start + bench.meter.out().events[event::Time] * kMeterRate;
    const auto first = static_cast<double>(std::llround(s.firstS * kMeterRate));
    const auto every = static_cast<double>(std::llround(s.everyS * kMeterRate));
    const double margin = kEdgeSeconds * kMeterRate;
    const double length = s.durationMs * kMeterRate / 1000.0;
    int n = 0;
    for (double t = first; t < end + margin; t += every) {
        const bool nearStart =
            std::fabs(t - start) < margin || std::fabs(t + length - start) < margin;
        const bool nearEnd = std::fabs(t - end) < margin || std::fabs(t + length - end) < margin;
        if (nearStart || nearEnd)
            ADD_FAILURE() << "an event at " << t / kMeterRate
                          << " s lies at an end of the statistics' interval " << start / kMeterRate
                          << " .. " << end / kMeterRate << " s";
        if (t >= start && t + length < end)
            ++n;
    }
    return n;
}

std::unique_ptr<ChannelBench> measureEvents(const nlohmann::json& model, double seconds) {
    auto bench = std::make_unique<ChannelBench>(model);
    bench->startUp();
    bench->rangeStep(0.0, -60.0, 20.0);
    EXPECT_TRUE(bench->farSine(-10.0, 1020.0).ok);
    SineSettings s;
    s.seconds = seconds;
    EXPECT_TRUE(bench->meterSine(s));
    EXPECT_GT(bench->meter.out().events[event::Time], seconds - 2.0);
    return bench;
}

TEST(Accuracy, EventCounts) {
    AccuracyTable::instance().note(
        "events", "Injected: the events the channel model schedules inside the interval of the "
                  "event statistics (from the meter's last restart to the time of the last "
                  "statistics block; none within 0.1 s of either end). Sine −10 dBm, impulse "
                  "threshold −8 dBm against impulses peaking like a −5 dBm sine, interruption "
                  "threshold −25 dBm, dead times 50 ms.");
    const Schedule impulsesEverySecond{0.37, 1.0};
    const Schedule impulsesFast{0.21, 0.6};
    const Schedule breaks50{0.55, 2.0, 50.0};
    const Schedule breaks10{0.45, 1.5, 10.0};
    const Schedule breaks400{0.65, 3.0, 400.0};
    auto impulses = [](const Schedule& s) {
        return nlohmann::json{{"peakDbm", -5.0}, {"everyS", s.everyS}, {"firstS", s.firstS}};
    };
    auto breaks = [](const Schedule& s) {
        return nlohmann::json{
            {"durationMs", s.durationMs}, {"everyS", s.everyS}, {"firstS", s.firstS}};
    };
    struct Case {
        const char* name;
        nlohmann::json model;
        const Schedule* impulses;
        const Schedule* breaks;
    };
    const Case cases[] = {
        {"impulses every 1 s",
         {{"impulses", impulses(impulsesEverySecond)}},
         &impulsesEverySecond,
         nullptr},
        {"impulses every 0.6 s", {{"impulses", impulses(impulsesFast)}}, &impulsesFast, nullptr},
        {"interruptions of 10 ms every 1.5 s",
         {{"interruptions", breaks(breaks10)}},
         nullptr,
         &breaks10},
        {"interruptions of 50 ms every 2 s",
         {{"interruptions", breaks(breaks50)}},
         nullptr,
         &breaks50},
        {"interruptions of 400 ms every 3 s",
         {{"interruptions", breaks(breaks400)}},
         nullptr,
         &breaks400},
        {"impulses every 1 s, interruptions of 50 ms every 2 s, noise −50 dBm",
         {{"impulses", impulses(impulsesEverySecond)},
          {"interruptions", breaks(breaks50)},
          {"noiseDbm", -50.0}},
         &impulsesEverySecond,
         &breaks50},
    };
    for (const Case& c : cases) {
        auto bench = measureEvents(c.model, 8.0);
        const SineResult& r = bench->results.sine;
        const int impulseCount = c.impulses != nullptr ? eventsInInterval(*bench, *c.impulses) : 0;
        const int breakCount = c.breaks != nullptr ? eventsInInterval(*bench, *c.breaks) : 0;
        record({"Impulse-noise count", c.name, "", static_cast<double>(impulseCount),
                static_cast<double>(impulseCount), static_cast<double>(r.pulCnt.get()), kExact,
                "events", 0});
        record({"Interruption count", c.name, "", static_cast<double>(breakCount),
                static_cast<double>(breakCount), static_cast<double>(r.intCnt.get()), kExact,
                "events", 0});
    }
}

// The echo probes of both steps: 0.9 s of 1600 Hz, then 2.5 s of pause (so that every
// probe's set is taken), 20 ms of analysis after the probe's end.
EchoSettings probes(double levelDbm) {
    EchoSettings s;
    s.firstProbeTime = 0.9;
    s.firstLevel = levelDbm;
    s.firstFrequency = 1600.0;
    s.secondProbeTime = 2.5;
    s.secondLevel = -200.0;
    s.secondFrequency = 1600.0;
    s.analysisTime = 0.02;
    return s;
}

// An echo delay of 386 samples, 48¼ periods of 1600 Hz: the echo is in quadrature with
// the probe while both sound.
constexpr double kEchoDelayMs = 30.15625;

void noteEcho() {
    AccuracyTable::instance().note(
        "echo", "Compared corrected. The probe's window (its last 20 ms) holds the probe and its "
                "own echo, which arrives 30.16 ms later in quadrature with it (48¼ periods of "
                "1600 Hz), so the probe reads 10·log10(1 + 10^(−E/10)) high and the echo "
                "E + 10·log10(1 + 10^(−E/10)): +0.41 dB at 10 dB, +0.04 dB at 20 dB. A property "
                "of the definition (the probe is measured as it is on the line).");
}

double quadratureEcho(double lossDb) {
    return lossDb + 10.0 * std::log10(1.0 + std::pow(10.0, -lossDb / 10.0));
}

TEST(Accuracy, TalkerEcho) {
    noteEcho();
    for (double loss : {10.0, 20.0, 30.0, 40.0}) {
        auto bench = std::make_unique<ChannelBench>(nlohmann::json{
            {"echo", {{"returnLossDb", loss}, {"delayMs", kEchoDelayMs}}}, {"noiseDbm", -80.0}});
        bench->startUp();
        bench->rangeStep(0.0, -60.0, 20.0);
        ASSERT_TRUE(bench->farSilent().ok);
        bench->meterEcho(AnalyzerCommand::MeterTalkerEcho, probes(-10.0), 8.0);
        const EchoResult& r = bench->results.talkerEcho;
        EXPECT_GE(r.counter.get(), 2);
        record({"Talker echo", label("return loss %.0f dB", loss), "dB", loss, quadratureEcho(loss),
                r.echo.get(), kEcho, "echo"});
    }
}

TEST(Accuracy, ListenerEcho) {
    noteEcho();
    for (double loss : {15.0, 30.0}) {
        auto bench = std::make_unique<ChannelBench>(nlohmann::json{
            {"echo", {{"listenerLossDb", loss}, {"delayMs", kEchoDelayMs}}}, {"noiseDbm", -80.0}});
        bench->startUp();
        bench->rangeStep(0.0, -60.0, 20.0);
        ASSERT_TRUE(bench->farEcho(probes(-10.0)).ok);
        bench->meterEcho(AnalyzerCommand::MeterListenerEcho, probes(-200.0), 8.0);
        const EchoResult& r = bench->results.listenerEcho;
        EXPECT_GE(r.counter.get(), 2);
        record({"Listener echo", label("listener loss %.0f dB", loss), "dB", loss,
                quadratureEcho(loss), r.echo.get(), kEcho, "echo"});
    }
}

} // namespace
} // namespace vetlina::accuracy
