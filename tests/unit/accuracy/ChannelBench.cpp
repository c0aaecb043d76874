#include "ChannelBench.h"

#include "sim/network/ConfigReaders.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace vetlina::accuracy {

namespace {

constexpr uint8_t STX = 2, ACK = 6, CR = 13, DLE = 16;
constexpr uint8_t kEscapeMask = 0x20;
constexpr std::size_t kTakeMax = 512; // the part of a block the analyzer thread decodes
constexpr uint32_t kHandshakeBaud = 9600;
constexpr uint32_t kLinkBaud = 115200;

// Line modes of the range step.
constexpr int kMeasureFirst = 11;
constexpr int kGenerateFirst = 265;
constexpr double kSilentLevel = -200.0;
constexpr double kParkFrequency = 1020.0;
// A sine this close to the expected frequency is the one the search looks for.
constexpr double kSearchWindowHz = 16.0;
// The sine step waits this long after its meter restart before it measures.
constexpr double kSineSettleSeconds = 0.5;
// The echo step waits for a table and a second before it measures.
constexpr double kEchoSettleSeconds = 2.0;

bool restarts(const CommandPlan& plan) {
    for (std::size_t i = 0; i < plan.count; ++i)
        if (plan.blocks[i].code() == command::MeterRestart)
            return true;
    return false;
}

} // namespace

// ---- link ------------------------------------------------------------------------------

void LinkReader::feed(std::span<const uint8_t> bytes) {
    for (uint8_t byte : bytes) {
        const uint8_t mask = mask_;
        mask_ = 0;
        if (byte == STX) {
            inBlock_ = true;
            block_.clear();
        } else if (byte == ACK) {
            ++acks;
        } else if (byte == CR && inBlock_) {
            inBlock_ = false;
            blocks.push_back(block_);
        } else if (byte == DLE) {
            mask_ = kEscapeMask;
        } else if (inBlock_) {
            if (block_.size() < kBlockMax)
                block_.push_back(static_cast<uint8_t>(byte ^ mask));
        } else {
            characters += static_cast<char>(byte ^ mask);
        }
    }
}

std::vector<uint8_t> framedBlock(std::span<const uint8_t> bytes) {
    std::vector<uint8_t> out{STX};
    for (uint8_t b : bytes) {
        if (b == 2 || b == 10 || b == 13 || b == 16 || b == 27) {
            out.push_back(DLE);
            out.push_back(static_cast<uint8_t>(b ^ kEscapeMask));
        } else {
            out.push_back(b);
        }
    }
    out.push_back(CR);
    return out;
}

std::optional<sim::FarEnd> LineEnd::farEnd() const {
    sim::FarEnd far;
    far.station = farName;
    far.signal = other != nullptr ? other->signal : sim::GeneratorSignal{};
    far.channel = channel;
    far.reversed = reversed;
    return far;
}

// ---- one analyzer ------------------------------------------------------------------------

void SimulatedAnalyzer::Port::send(std::span<const uint8_t> bytes) {
    if (reader != nullptr)
        reader->feed(bytes);
}

SimulatedAnalyzer::SimulatedAnalyzer(const std::string& name, int serialNumber, int firmware) {
    sim::StationConfig station;
    station.name = name;
    station.analyzer.options.serialNumber = serialNumber;
    station.analyzer.options.firmware = firmware;
    device_ = sim::makeZmk5(station, line, log_);
    zmk_ = static_cast<sim::Zmk5*>(device_.get());
    port_.reader = &reader_;
    zmk_->attach(port_);
    zmk_->computerConnected(true);
    zmk_->setLineFormat(sim::LineFormat{.baudRate = kHandshakeBaud});
}

void SimulatedAnalyzer::poll(uint32_t tick) {
    zmk_->poll(tick);
}

bool SimulatedAnalyzer::handshake(std::string& handshakeReply) {
    const std::string speed = "$S7";
    zmk_->setLineFormat(sim::LineFormat{.baudRate = kHandshakeBaud});
    zmk_->receive(std::span(reinterpret_cast<const uint8_t*>(speed.data()), speed.size()));
    zmk_->setLineFormat(sim::LineFormat{.baudRate = kLinkBaud});
    const uint8_t cr = CR;
    zmk_->receive(std::span(&cr, 1));
    const std::string& text = reader_.characters;
    const std::size_t end = std::min<std::size_t>(text.size(), speed.size() + 1);
    handshakeReply = text.substr(0, end);
    reader_.characters.erase(0, end);
    return handshakeReply == speed + "\r";
}

bool SimulatedAnalyzer::sendCommand(std::span<const uint8_t> bytes) {
    const int before = reader_.acks;
    const uint8_t announcement[2] = {command::Prefix, 0};
    const auto a = framedBlock(announcement);
    zmk_->receive(a);
    const auto b = framedBlock(bytes);
    zmk_->receive(b);
    return reader_.acks == before + 2;
}

PlanOutcome SimulatedAnalyzer::sendPlan(const CommandPlan& plan) {
    return vetlina::sendPlan(plan, [this](const uint8_t* bytes, std::size_t count) {
        return sendCommand(std::span(bytes, count));
    });
}

// ---- the bench ---------------------------------------------------------------------------

ChannelBench::ChannelBench(const nlohmann::json& model) {
    // A model the simulator cannot read would leave the line ideal without a word.
    std::string error;
    auto parsed = sim::parseChannelModel(model, error);
    if (!parsed)
        ADD_FAILURE() << "channel model: " << error;
    channel.first = "B";
    channel.second = "A";
    channel.model = parsed.value_or(sim::ChannelModel{});
    near.line.other = &far.line;
    near.line.channel = &channel;
    near.line.farName = "B";
    far.line.other = &near.line;
    far.line.channel = &channel;
    far.line.reversed = true;
    far.line.farName = "A";
    context.autonomous = false;
    context.firstPass = true;
}

void ChannelBench::startUp() {
    std::string farReply;
    EXPECT_TRUE(far.handshake(farReply)) << farReply;
    EXPECT_TRUE(near.handshake(nearHandshakeReply)) << nearHandshakeReply;
    nearIdentification = near.reader().characters;
    near.reader().characters.clear();
    far.reader().characters.clear();
    meter.reset();
    farState.reset();
}

PlanOutcome ChannelBench::toNear(const CommandPlan& plan) {
    const bool restart = restarts(plan);
    const PlanOutcome outcome = near.sendPlan(plan);
    if (restart) {
        lastRestartSample = nearSamples();
        if (connectionSample < 0 && near.line.held)
            connectionSample = lastRestartSample;
    }
    if (plan.reportsInRange && outcome.ok)
        reportRange(code::InRange);
    return outcome;
}

void ChannelBench::rangeStep(double maxSignalDbm, double minSignalDbm, double minSnrDb) {
    SetLineMode(meter.state, kMeasureFirst);
    meter.state.recognitionThreshold = minSnrDb;
    EXPECT_TRUE(toNear(MeterLevHiLowRangeSet(meter.state, maxSignalDbm, minSignalDbm)).ok);
    EXPECT_TRUE(toNear(HarmSet(meter.state, kSilentLevel, kParkFrequency)).ok);
    SetLineMode(farState, kGenerateFirst);
    EXPECT_TRUE(far.sendPlan(HarmSet(farState, kSilentLevel, kParkFrequency)).ok);
}

PlanOutcome ChannelBench::farSine(double levelDbm, double frequencyHz) {
    return far.sendPlan(HarmSet(farState, levelDbm, frequencyHz));
}
PlanOutcome ChannelBench::farMultiFrequency(double levelDbm) {
    return far.sendPlan(MttsSet(farState, levelDbm));
}
PlanOutcome ChannelBench::farO131(double levelDbm) {
    return far.sendPlan(O131Set(farState, levelDbm));
}
PlanOutcome ChannelBench::farO42(double levelDbm) {
    return far.sendPlan(O42Set(farState, levelDbm));
}
PlanOutcome ChannelBench::farSilent() {
    return far.sendPlan(HarmSet(farState, kSilentLevel, kParkFrequency));
}
PlanOutcome ChannelBench::farEcho(const EchoSettings& settings) {
    return far.sendPlan(EchoSet(farState, settings));
}

void ChannelBench::step() {
    tick_ += kPollMs;
    far.poll(tick_);
    near.poll(tick_);
    far.reader().blocks.clear();
}

void ChannelBench::run(double seconds, const std::function<bool(int16_t)>& onCode) {
    const auto polls = static_cast<int64_t>(std::ceil(seconds * 1000.0 / kPollMs));
    for (int64_t p = 0; p < polls; ++p) {
        step();
        auto& blocks = near.reader().blocks;
        while (!blocks.empty()) {
            const std::vector<uint8_t> block = std::move(blocks.front());
            blocks.pop_front();
            const int16_t code =
                meter.DecodeBlockBytes(block.data(), std::min(block.size(), kTakeMax), *this);
            codes.push_back(code);
            if (onCode && onCode(code))
                return;
        }
    }
}

void ChannelBench::measure(AnalyzerCommand command, double seconds) {
    measuring_ = true;
    overload = false;
    ResultKind kind;
    if (resultKindOfCommand(command, kind))
        ClearResult(results, kind);
    run(seconds, [&](int16_t code) {
        // As the sequence's Measure: nothing while the meter is overloaded, nor the
        // meter's own table, nor the codes below impedance.
        if (!overload && code != code::MeterTable && code >= code::Impedance)
            Accumulate(results, command, code, meter, context);
        return false;
    });
    measuring_ = false;
}

bool ChannelBench::meterSine(const SineSettings& s) {
    context.sinFreq = s.frequencyHz;
    const double d = s.deadTimeMs;
    EXPECT_TRUE(toNear(DeadTimeSet(meter.state, d, d, d, d)).ok);
    int bin = 0;
    run(s.searchSeconds, [&](int16_t code) {
        if (code <= 0)
            return false;
        const double f = meter.out().levels[item::Frequency];
        if (!(std::fabs(f - s.frequencyHz) < kSearchWindowHz))
            return false;
        bin = code;
        return true;
    });
    if (bin == 0)
        return false;
    EXPECT_TRUE(toNear(ThreshSet(meter.state, s.impulseThresholdDbm, s.interruptionThresholdDbm,
                                 s.levelJumpDb, s.phaseJumpDeg))
                    .ok);
    meter.state.adoptSine(bin);
    EXPECT_TRUE(toNear(ZmkMeterRestart(meter.state)).ok);
    run(kSineSettleSeconds);
    measure(AnalyzerCommand::MeterSine, s.seconds);
    return true;
}

void ChannelBench::measureNoise(double seconds) {
    const double bottom = meter.state.bottomLevel;
    meter.state.bottomLevel = meter.state.referenceLevel;
    measure(AnalyzerCommand::MeterNoise, seconds);
    meter.state.bottomLevel = bottom;
}

bool ChannelBench::meterImpedance(double levelDbm, double seconds) {
    if (!toNear(ImpedSet(meter.state, levelDbm)).ok)
        return false;
    measure(AnalyzerCommand::MeterImpedance, seconds);
    return true;
}

void ChannelBench::meterEcho(AnalyzerCommand command, const EchoSettings& settings,
                             double seconds) {
    EXPECT_TRUE(toNear(EchoSet(meter.state, settings)).ok);
    run(kEchoSettleSeconds);
    measure(command, seconds);
    // The step ends with the generator off, which also leaves the echo mode.
    toNear(HarmSet(meter.state, kSilentLevel, kParkFrequency));
}

void ChannelBench::reportRange(int16_t report) {
    reports.push_back(report);
    if (!measuring_)
        return;
    if (report == code::Overload)
        overload = true;
    else if (report == code::InRange)
        overload = false;
}

bool ChannelBench::send(const CommandPlan& plan) {
    return toNear(plan).ok;
}

} // namespace vetlina::accuracy
