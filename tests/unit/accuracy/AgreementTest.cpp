// Where the program and the simulated analyzer must read the same words the same way: the
// identification text, the calibration table's word numbering, the generator's command
// words, the order of the echo envelope, and the meter table's peak with the overload
// reports that follow from it.
#include "ChannelBench.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <numeric>

namespace vetlina::accuracy {
namespace {

// The identification the program waits for after the CR of the handshake: the analyzer's
// 29 characters and CR LF, 31 characters in all.
constexpr const char* kExpectedIdentification = "ZMK-5 Kerat, channel analyzer\r\n";

TEST(ProgramAndAnalyzer, IdentificationIs29CharactersAndCrLf) {
    ChannelBench bench(nlohmann::json::object());
    bench.startUp();
    EXPECT_EQ(bench.nearHandshakeReply, "$S7\r");
    // The program's rule: each character appended, the whole buffer compared each time.
    std::string buffer;
    std::size_t matchedAt = 0;
    for (char c : bench.nearIdentification) {
        buffer += c;
        if (buffer == kExpectedIdentification) {
            matchedAt = buffer.size();
            break;
        }
    }
    EXPECT_EQ(matchedAt, 31u);
    EXPECT_EQ(std::string(kExpectedIdentification).size(), 31u);
    EXPECT_EQ(bench.nearIdentification, kExpectedIdentification);
}

TEST(ProgramAndAnalyzer, CalibrationTableCarriesSerialAndFirmwareInItsWords9And10) {
    ChannelBench bench(nlohmann::json::object());
    bench.startUp();
    const uint8_t request[2] = {static_cast<uint8_t>(command::Calibration), 0};
    ASSERT_TRUE(bench.near.sendCommand(request));
    auto& blocks = bench.near.reader().blocks;
    ASSERT_EQ(blocks.size(), 1u);
    // The program takes only a block of exactly 52 bytes with the type -11 first.
    const std::vector<uint8_t> block = blocks.front();
    ASSERT_EQ(block.size(), 52u);
    EXPECT_EQ(static_cast<int16_t>(block[0] | block[1] << 8), -11);
    // Block word 10 is table word 9: the table is words 1 to 25 of the block.
    EXPECT_EQ(static_cast<int16_t>(block[20] | block[21] << 8), 4321);
    EXPECT_EQ(bench.meter.DecodeBlockBytes(block.data(), block.size(), bench), code::Calibration);
    const auto& table = bench.meter.out().calibration;
    EXPECT_EQ(table[9], 4321);                                    // the serial number
    EXPECT_EQ(table[10], 17);                                     // the firmware number
    EXPECT_EQ(std::accumulate(table.begin(), table.end(), 0), 0); // with its check word 24
}

TEST(ProgramAndAnalyzer, GeneratorRealisesTheLevelAndFrequencyTheEncodersComputed) {
    ChannelBench bench(nlohmann::json::object());
    bench.startUp();
    bench.rangeStep(0.0, -60.0, 20.0);
    // Both attenuator codes of the generator (8 from -40 dBm up, 16 below), and frequencies
    // that the period search can and cannot meet exactly.
    for (double level : {11.0, -5.0, -40.0, -40.5, -55.0})
        for (double hz : {300.0, 1020.0, 1777.7, 3400.0}) {
            const PlanOutcome o = bench.farSine(level, hz);
            ASSERT_TRUE(o.ok);
            bench.run(0.01);
            EXPECT_NEAR(bench.farSignal().levelDbm, bench.farState.generatorLevel, 1e-9) << level;
            EXPECT_NEAR(bench.farSignal().frequencyHz, o.value, 1e-5) << hz;
        }
    for (double level : {-10.0, -45.0}) {
        ASSERT_TRUE(bench.farMultiFrequency(level).ok);
        bench.run(0.01);
        EXPECT_NEAR(bench.farSignal().levelDbm, bench.farState.generatorLevel, 1e-9);
        ASSERT_TRUE(bench.farO131(level).ok);
        bench.run(0.01);
        EXPECT_NEAR(bench.farSignal().levelDbm, bench.farState.generatorLevel, 1e-9);
        ASSERT_TRUE(bench.farO42(level).ok);
        bench.run(0.01);
        EXPECT_NEAR(bench.farSignal().levelDbm, bench.farState.generatorLevel, 1e-9);
    }
}

TEST(ProgramAndAnalyzer, EchoEnvelopeArrivesInTimeOrder) {
    // The echo set is in time order, not in the interleaved order of the signal sets: the
    // probe's last 20 ms first, then the echo's tail for its 30 ms delay, then silence.
    // 30 ms are 48 whole periods of 1600 Hz: while the probe sounds its echo adds in phase,
    // so the probe reads 20 log10(1.1) = 0.83 dB above itself.
    ChannelBench bench(
        nlohmann::json{{"echo", {{"returnLossDb", 20.0}, {"delayMs", 30.0}}}, {"noiseDbm", -90.0}});
    bench.startUp();
    bench.rangeStep(0.0, -60.0, 20.0);
    ASSERT_TRUE(bench.farSilent().ok);
    EchoSettings s;
    s.firstProbeTime = 0.9;
    s.firstLevel = -10.0;
    s.firstFrequency = 1600.0;
    s.secondProbeTime = 2.5;
    s.analysisTime = 0.02;
    ASSERT_TRUE(bench.send(EchoSet(bench.meter.state, s)));
    bool analysed = false;
    bench.run(6.0, [&](int16_t code) { return analysed = code == code::Echo; });
    ASSERT_TRUE(analysed);
    const auto& e = bench.meter.out().envelope; // dB below the largest value
    for (int i = 0; i < 32; ++i)
        ASSERT_GT(e[i], -0.5f) << i;
    const float inPhase = static_cast<float>(20.0 + 20.0 * std::log10(1.1));
    for (int i = 34; i < 78; ++i)
        ASSERT_NEAR(e[i], -inPhase, 0.3f) << i;
    for (int i = 82; i < 1400; ++i)
        ASSERT_LT(e[i], -50.0f) << i;
    EXPECT_NEAR(bench.meter.out().echo, inPhase, 0.2f);
}

// A sine measured in the 0 dBm range; the range reports of the measurement.
std::vector<int16_t> reportsWhileMeasuring(double levelDbm, ChannelBench& bench) {
    bench.startUp();
    bench.rangeStep(0.0, -60.0, 20.0);
    EXPECT_TRUE(bench.farSine(levelDbm, 1020.0).ok);
    bench.context.sinFreq = 1020.0;
    bench.run(3.0);
    bench.reports.clear();
    bench.measure(AnalyzerCommand::MeterSine, 5.0);
    return bench.reports;
}

TEST(ProgramAndAnalyzer, OverloadHeadroomIs1Point77DbBelowTheTop) {
    // A sine peaking at full scale is at top - 0.56 dBm, and frame sets overload above
    // 28499 codes, 1.21 dB below full scale: sines up to top - 1.77 dBm are in range.
    ChannelBench below(nlohmann::json::object());
    const auto quiet = reportsWhileMeasuring(-1.9, below);
    EXPECT_EQ(std::count(quiet.begin(), quiet.end(), code::Overload), 0);
    EXPECT_GT(below.results.sine.counter.get(), 3);
    ChannelBench above(nlohmann::json::object());
    const auto loud = reportsWhileMeasuring(-1.6, above);
    EXPECT_GT(std::count(loud.begin(), loud.end(), code::Overload), 3);
}

TEST(ProgramAndAnalyzer, MeterTablePeakKeepsAnOverloadTheFramesReport) {
    // Beyond the top of the range the frames and the tables agree: the meter stays
    // overloaded, without a return to range between the sets.
    ChannelBench over(nlohmann::json{{"noiseDbm", -50.0}, {"seed", 2u}});
    const auto reports = reportsWhileMeasuring(1.0, over);
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(
        std::all_of(reports.begin(), reports.end(), [](int16_t r) { return r == code::Overload; }));
    EXPECT_TRUE(over.overload);
    EXPECT_GT(over.meter.state.meterTable[meter::Peak], 0.0f);
    EXPECT_EQ(over.results.sine.counter.get(), 0); // nothing accumulated while overloaded

    // Well inside the range nothing is reported, and the peak of a sine in little noise is
    // the sine's level.
    ChannelBench inside(nlohmann::json{{"noiseDbm", -70.0}, {"seed", 2u}});
    EXPECT_TRUE(reportsWhileMeasuring(-10.0, inside).empty());
    EXPECT_TRUE(inside.meter.state.sineRecognised());
    EXPECT_NEAR(inside.meter.state.meterTable[meter::Peak], -10.0f, 0.15f);
    EXPECT_GT(inside.results.sine.counter.get(), 3);
}

} // namespace
} // namespace vetlina::accuracy
