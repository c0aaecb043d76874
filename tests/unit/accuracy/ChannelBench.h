// Two simulated ZMK-5 analyzers on one channel of the simulated network, the far one
// generating and the near one measuring, with the program's computation behind the near
// one's link:
// - the set-up commands of both sides come from the program's encoders, applied to each
//   side's meter state as the measurement sequence applies them, and go to the analyzers
//   as the link frames them (announcement block, then the command block);
// - the bytes the near analyzer sends are read by the computer's rules of the link and
//   every data block goes through DecodeBlockBytes, then, while a meter step measures,
//   through Accumulate with the sequence's filter (no blocks while the meter is
//   overloaded, none of the meter's own tables);
// - time is the analyzers' own scaled clock, stepped here in polls of 5 ms: no socket,
//   no thread, no wall clock.
// The channel model describes the direction from the far station "B" to the near "A".
#pragma once

#include "analyzer/Encoders.h"
#include "analyzer/MeterComputation.h"
#include "analyzer/Results.h"
#include "sim/analyzer/Zmk5.h"
#include "sim/exchange/AnalyzerLine.h"
#include "sim/network/Config.h"
#include "sim/network/EventLog.h"
#include "sim/ports/SerialDevice.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vetlina::accuracy {

// The computer's receive rules of the analyzer link: STX starts a block, CR ends it,
// DLE makes the next byte data (XOR 0x20), ACK counts wherever it comes, a second STX
// restarts the block, a block keeps at most 550 bytes; bytes outside a block (CR and
// LF included) are characters.
class LinkReader {
public:
    static constexpr std::size_t kBlockMax = 550;

    void feed(std::span<const uint8_t> bytes);

    std::string characters;
    std::deque<std::vector<uint8_t>> blocks;
    int acks = 0;

private:
    bool inBlock_ = false;
    uint8_t mask_ = 0;
    std::vector<uint8_t> block_;
};

// A block as the computer puts it on the line: STX, the bytes with 2, 10, 13, 16 and 27
// escaped as DLE and the byte XOR 0x20, CR.
std::vector<uint8_t> framedBlock(std::span<const uint8_t> bytes);

// One end of the simulated call: what this station's analyzer publishes, and the far
// end's signal as it arrives over the channel.
class LineEnd : public sim::AnalyzerLine {
public:
    void hold(bool on) override { held = on; }
    bool holding() const override { return held; }
    bool connected() const override { return true; }
    void publish(const sim::GeneratorSignal& s) override { signal = s; }
    std::optional<sim::FarEnd> farEnd() const override;

    bool held = false;
    sim::GeneratorSignal signal;
    const LineEnd* other = nullptr;
    const sim::ChannelConfig* channel = nullptr;
    bool reversed = false;
    std::string farName;
};

// A simulated analyzer on its serial port, read by the computer's link rules.
class SimulatedAnalyzer {
public:
    SimulatedAnalyzer(const std::string& name, int serialNumber, int firmware);

    void poll(uint32_t tick);
    // The speed handshake at 9600 baud for 115200 baud and the CR exchange; the
    // characters received up to and including the CR reply go to handshakeReply, the
    // rest stay in the reader.
    bool handshake(std::string& handshakeReply);
    // One command as SendCommand sends it: the announcement block, then the command;
    // true when both were acknowledged.
    bool sendCommand(std::span<const uint8_t> bytes);
    PlanOutcome sendPlan(const CommandPlan& plan);

    LinkReader& reader() { return reader_; }
    const sim::Zmk5& zmk() const { return *zmk_; }
    LineEnd line;

private:
    class Port : public sim::PortSide {
    public:
        void send(std::span<const uint8_t> bytes) override;
        void setLines(const sim::DeviceLines&) override {}
        std::size_t pendingToComputer() const override { return 0; }
        LinkReader* reader = nullptr;
    };

    Port port_;
    sim::EventLog log_{nullptr};
    std::unique_ptr<sim::SerialDevice> device_;
    sim::Zmk5* zmk_ = nullptr;
    LinkReader reader_;
};

// Settings of the sine measurement as the scenario entry gives them.
struct SineSettings {
    double frequencyHz = 1020.0;       // EditSinFreq
    double deadTimeMs = 50.0;          // EditDeadTime
    double impulseThresholdDbm = -8.0; // absolute thresholds
    double interruptionThresholdDbm = -25.0;
    double levelJumpDb = 4.0;
    double phaseJumpDeg = 15.0;
    double searchSeconds = 6.0; // the search for the sine gives up after this
    double seconds = 4.0;       // EditSinTime
};

class ChannelBench : public DecoderActions {
public:
    static constexpr uint32_t kPollMs = 5;

    explicit ChannelBench(const nlohmann::json& model);

    // The start-up of both analyzers as the program does it, up to the identification
    // text (kept for the checks of the link's start-up).
    void startUp();
    std::string nearHandshakeReply, nearIdentification;

    // Range step: the near complex measures first (line mode 11), the far one generates
    // (265). The far analyzer's meter is not started: nothing it would measure enters
    // the table, and its rendering would only double the cost.
    void rangeStep(double maxSignalDbm, double minSignalDbm, double minSnrDb);

    // Generator steps of the far complex; each returns the plan's outcome.
    PlanOutcome farSine(double levelDbm, double frequencyHz);
    PlanOutcome farMultiFrequency(double levelDbm);
    PlanOutcome farO131(double levelDbm);
    PlanOutcome farO42(double levelDbm);
    PlanOutcome farSilent();
    PlanOutcome farEcho(const EchoSettings& settings);
    // What the far analyzer sends into the line now (the simulated instrument's own
    // realisation of the command words).
    const sim::GeneratorSignal& farSignal() const { return far.line.signal; }

    // Lets seconds of the scaled clock pass; every block the near analyzer sends is
    // decoded and its code handed to onCode, which may return true to stop early.
    void run(double seconds, const std::function<bool(int16_t)>& onCode = {});

    // The meter steps. Each returns false when its signal never came.
    bool meterSine(const SineSettings& settings);
    // A timed measurement of the kind a meter step measures, for seconds.
    void measure(AnalyzerCommand command, double seconds);
    // Noise: the far generator silent; while noise is measured everything below the top
    // of the range counts as noise.
    void measureNoise(double seconds);
    // Impedance: ImpedSet on the near side, then the measurement.
    bool meterImpedance(double levelDbm, double seconds);
    // Echo: EchoSet on the near side (its own probe for the talker echo, silence for the
    // listener echo), the wait of the step, then the measurement.
    void meterEcho(AnalyzerCommand command, const EchoSettings& settings, double seconds);

    // DecoderActions of the measurement sequence.
    void reportRange(int16_t report) override;
    bool send(const CommandPlan& plan) override;

    // The near complex's computation and records.
    MeterComputation meter;
    LiveResults results;
    ResultContext context;
    // The far complex's encoders' state.
    MeterState farState;

    // Observations.
    std::vector<int16_t> reports;   // every range report, in order
    std::vector<int16_t> codes;     // every decoded code, in order
    int64_t connectionSample = -1;  // near meter sample at which the call reached the meter
    int64_t lastRestartSample = -1; // near meter sample of the latest meter restart
    bool overload = false;          // as the sequence keeps it while measuring
    int64_t nearSamples() const { return near.zmk().meter().samples(); }

    sim::ChannelConfig channel;
    SimulatedAnalyzer far{"B", 2002, 5};
    SimulatedAnalyzer near{"A", 4321, 17};

private:
    PlanOutcome toNear(const CommandPlan& plan);
    void step();

    uint32_t tick_ = 100000;
    bool measuring_ = false;
};

} // namespace vetlina::accuracy
