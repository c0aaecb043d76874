#include "sim/analyzer/Zmk5.h"

#include "sim/network/Config.h"
#include "sim/network/EventLog.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <variant>

namespace vetlina::sim {

namespace {

constexpr uint32_t kOpeningBaud = 9600;
// The UART may catch up this much scaled time after a late poll (or twice the time
// since the previous poll, when the simulator polls less often), no more.
constexpr double kBurstMs = 250.0;
// At most this much signal is rendered in one poll; a longer gap is skipped.
constexpr int64_t kMaxRenderSamples = 25600;
constexpr double kSamplesPerMs = kMeterRate / 1000.0;

constexpr int kAcceptedModes[] = {0, 3, 11, 19, 27, 131, 147, 257, 265, 274, 275, 282, 283};

std::optional<uint32_t> speedOfDigit(char digit) {
    switch (digit) {
    case '5':
        return 38400;
    case '6':
        return 57600;
    case '7':
        return 115200;
    default:
        return std::nullopt;
    }
}

// One callable of several lambdas, for std::visit over a command.
template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};

bool isEchoMode(int mode) {
    return mode == 131 || mode == 147 || mode == 275 || mode == 283;
}

nlohmann::json signalJson(const GeneratorSignal& s) {
    nlohmann::json j = {{"signal", signalKindName(s.kind)}};
    if (s.kind != signal_kind::Silence)
        j["levelDbm"] = std::round(s.levelDbm * 1000.0) / 1000.0;
    if (s.kind == signal_kind::Sine)
        j["frequencyHz"] = std::round(s.frequencyHz * 1000.0) / 1000.0;
    return j;
}

} // namespace

Zmk5::Zmk5(std::string station, Zmk5Options options, AnalyzerLine& line, EventLog& log)
    : station_(std::move(station)), options_(std::move(options)), line_(line), log_(log),
      faultUses_(options_.faults.size(), 0), meter_(options_.seed) {}

// ---- faults ---------------------------------------------------------------------------

double Zmk5::secondsSinceStart() const {
    return clockMs_ / 1000.0;
}

bool Zmk5::faultActs(Zmk5FaultKind kind, const std::function<bool(const Zmk5Fault&)>& applies) {
    const double now = secondsSinceStart();
    for (std::size_t i = 0; i < options_.faults.size(); ++i) {
        const Zmk5Fault& f = options_.faults[i];
        if (f.kind != kind || now < f.fromS || (f.untilS && now >= *f.untilS))
            continue;
        if (f.times && faultUses_[i] >= *f.times)
            continue;
        if (applies && !applies(f))
            continue;
        ++faultUses_[i];
        return true;
    }
    return false;
}

bool Zmk5::switchedOffNow() const {
    const double now = secondsSinceStart();
    return std::any_of(options_.faults.begin(), options_.faults.end(), [&](const Zmk5Fault& f) {
        return f.kind == Zmk5FaultKind::SwitchedOff && now >= f.fromS &&
               (!f.untilS || now < *f.untilS);
    });
}

void Zmk5::logFault(const Zmk5Fault& fault, nlohmann::json details) {
    details["fault"] = zmk5FaultName(fault.kind);
    log_.write(station_, "fault", std::move(details));
}

// ---- power ------------------------------------------------------------------------------

void Zmk5::attach(PortSide& port) {
    port_ = &port;
    port_->setLines(DeviceLines{});
    if (!switchedOffNow())
        switchOn();
}

void Zmk5::switchOn() {
    on_ = true;
    resetToPowerOn(nullptr);
    if (port_ != nullptr)
        port_->setLines(DeviceLines{.cts = true, .dsr = true});
    log_.write(station_, "analyzer-power", {{"on", true}});
}

void Zmk5::switchOff() {
    on_ = false;
    state_ = State::Off;
    meter_.stop();
    generator_.off(meter_.samples());
    lineMode_ = 0;
    lastGeneratorCommand_ = -1;
    updateConnection();
    publishGenerator();
    if (port_ != nullptr)
        port_->setLines(DeviceLines{});
    for (const Zmk5Fault& f : options_.faults)
        if (f.kind == Zmk5FaultKind::SwitchedOff) {
            logFault(f);
            break;
        }
    log_.write(station_, "analyzer-power", {{"on", false}});
}

void Zmk5::resetToPowerOn(const char* cause) {
    if (cause != nullptr)
        log_.write(station_, "analyzer-reset", {{"cause", cause}});
    state_ = State::Speed;
    baud_ = kOpeningBaud;
    speedInput_.clear();
    escape_.clear();
    receiver_.reset();
    announced_ = false;
    meter_.powerOn();
    generator_.off(meter_.samples());
    lineMode_ = 0;
    lastGeneratorCommand_ = -1;
    updateConnection();
    publishGenerator();
}

void Zmk5::computerConnected(bool connected) {
    if (!connected && on_ && options_.resetOnClose)
        resetToPowerOn("port closed");
}

void Zmk5::setLineFormat(const LineFormat& format) {
    computer_ = format;
    garbageLogged_ = false;
}

void Zmk5::setDtr(bool) {}
void Zmk5::setRts(bool) {}
void Zmk5::purged(bool, bool) {}

// ---- link -------------------------------------------------------------------------------

bool Zmk5::formatMatches() const {
    return computer_.baudRate == baud_ && computer_.dataBits == 8 &&
           computer_.parity == Parity::None && computer_.stopBits == StopBits::One;
}

void Zmk5::transmit(std::span<const uint8_t> bytes) {
    if (port_ == nullptr || bytes.empty())
        return;
    if (formatMatches()) {
        port_->send(bytes);
    } else {
        // Characters at the wrong speed arrive as other characters.
        std::vector<uint8_t> noise(bytes.begin(), bytes.end());
        for (uint8_t& b : noise)
            b ^= 0xA5;
        port_->send(noise);
    }
    // The UART may have sent since the previous poll: it catches up that far, no further.
    const double burst = std::max(kBurstMs, 2.0 * pollGapMs_);
    uartFreeMs_ = std::max(uartFreeMs_, clockMs_ - burst) +
                  static_cast<double>(bytes.size()) * 10000.0 / baud_;
}

void Zmk5::transmitText(const std::string& text) {
    transmit(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void Zmk5::sendBlock(std::span<const int16_t> words) {
    std::vector<uint8_t> bytes = zmk5::wordBytes(words);
    const int type = words.empty() ? 0 : words[0];
    bool flip = false;
    bool damaged = false;
    for (std::size_t i = 0; i < options_.faults.size() && !damaged; ++i) {
        const Zmk5Fault& f = options_.faults[i];
        if (f.kind != Zmk5FaultKind::BlockCorrupt || (f.type && *f.type != type))
            continue;
        if (faultActs(Zmk5FaultKind::BlockCorrupt, [&](const Zmk5Fault& g) { return &g == &f; })) {
            damaged = true;
            flip = f.flip;
            logFault(f, {{"type", type}, {"how", flip ? "flip" : "truncate"}});
        }
    }
    if (damaged && !bytes.empty()) {
        if (flip)
            bytes[std::min<std::size_t>(6, bytes.size() - 1)] ^= 0xFF;
        else
            bytes.pop_back();
    }
    transmit(zmk5::frameBlock(bytes));
}

void Zmk5::receive(std::span<const uint8_t> bytes) {
    if (!on_ || bytes.empty())
        return;
    if (!formatMatches()) {
        if (!garbageLogged_) {
            garbageLogged_ = true;
            protocolError("bytes at " + std::to_string(computer_.baudRate) +
                          " baud or another format while the analyzer runs at " +
                          std::to_string(baud_) + " baud 8N1: not understood");
        }
        return;
    }
    for (uint8_t byte : bytes) {
        switch (state_) {
        case State::Off:
            return;
        case State::Speed:
        case State::AwaitCr:
            character(byte);
            break;
        case State::Blocks:
            switch (receiver_.feed(byte)) {
            case zmk5::BlockReceiver::Event::Character:
                character(byte);
                break;
            case zmk5::BlockReceiver::Event::Block:
                block(receiver_.block(), receiver_.overLong());
                break;
            case zmk5::BlockReceiver::Event::None:
                break;
            }
            break;
        }
    }
}

void Zmk5::character(uint8_t byte) {
    if (byte == zmk5::ESC || !escape_.empty()) {
        escapeSequence(byte);
        return;
    }
    switch (state_) {
    case State::Speed:
        if (byte == '$') {
            speedInput_ = "$";
        } else if (speedInput_ == "$" && byte == 'S') {
            speedInput_ = "$S";
        } else if (speedInput_ == "$S") {
            speedInput_.clear();
            speedCommand(static_cast<char>(byte));
        } else {
            speedInput_.clear();
        }
        break;
    case State::AwaitCr:
        if (byte == zmk5::CR) {
            const uint8_t cr = zmk5::CR;
            transmit(std::span(&cr, 1));
            std::string text = kIdentification;
            for (std::size_t i = 0; i < options_.faults.size(); ++i) {
                const Zmk5Fault& f = options_.faults[i];
                if (f.kind == Zmk5FaultKind::WrongIdentification &&
                    faultActs(f.kind, [&](const Zmk5Fault& g) { return &g == &f; })) {
                    text = f.text;
                    logFault(f, {{"text", text}});
                    break;
                }
            }
            transmitText(text + "\r\n");
            state_ = State::Blocks;
            receiver_.reset();
            announced_ = false;
            log_.write(station_, "analyzer-identification", {{"text", printable(text)}});
        }
        break;
    case State::Blocks:
        protocolError("stray byte " + printable(std::span(&byte, 1)) + " between blocks");
        break;
    case State::Off:
        break;
    }
}

void Zmk5::speedCommand(char digit) {
    for (std::size_t i = 0; i < options_.faults.size(); ++i) {
        const Zmk5Fault& f = options_.faults[i];
        if (f.kind == Zmk5FaultKind::NoHandshakeReply &&
            faultActs(f.kind, [&](const Zmk5Fault& g) { return &g == &f; })) {
            logFault(f, {{"digit", std::string(1, digit)}});
            return;
        }
    }
    char answer = digit;
    for (std::size_t i = 0; i < options_.faults.size(); ++i) {
        const Zmk5Fault& f = options_.faults[i];
        if (f.kind == Zmk5FaultKind::WrongSpeedDigit &&
            faultActs(f.kind, [&](const Zmk5Fault& g) { return &g == &f; })) {
            answer = f.digit ? *f.digit : digit == '7' ? '5' : digit == '5' ? '6' : '7';
            logFault(f, {{"digit", std::string(1, digit)}, {"answer", std::string(1, answer)}});
            break;
        }
    }
    auto speed = speedOfDigit(answer);
    if (!speed && answer == digit) {
        transmitText(std::string("$N") + digit);
        log_.write(station_, "analyzer-speed",
                   {{"digit", printable(std::string(1, digit))}, {"refused", true}});
        return;
    }
    transmitText(std::string("$S") + answer);
    if (!speed)
        return;
    baud_ = *speed;
    state_ = State::AwaitCr;
    log_.write(station_, "analyzer-speed", {{"digit", std::string(1, answer)}, {"baud", baud_}});
}

void Zmk5::escapeSequence(uint8_t byte) {
    if (byte == zmk5::ESC) {
        if (!escape_.empty())
            protocolError("escape sequence " + printable(escape_) + " cut short");
        escape_.assign(1, byte);
        return;
    }
    escape_.push_back(byte);
    if (escape_[1] == 'Z') {
        escape_.clear();
        resetToPowerOn("ESC Z");
        return;
    }
    if (escape_[1] == 'H') {
        if (escape_.size() < 5)
            return;
        const std::string digits(escape_.begin() + 2, escape_.end());
        escape_.clear();
        if (digits != "000") {
            protocolError("escape sequence ESC H" + printable(digits) + " not known");
            return;
        }
        generator_.off(meter_.samples());
        lastGeneratorCommand_ = -1;
        lineMode_ = 0;
        updateConnection();
        publishGenerator();
        log_.write(station_, "analyzer-reset", {{"cause", "ESC H000"}, {"generator", "off"}});
        return;
    }
    protocolError("escape sequence " + printable(escape_) + " not known");
    escape_.clear();
}

void Zmk5::protocolError(const std::string& error) {
    log_.write(station_, "protocol-error", {{"error", error}});
}

void Zmk5::block(const std::vector<uint8_t>& bytes, bool overLong) {
    const int code = bytes.size() >= 2 ? static_cast<int16_t>(bytes[0] | (bytes[1] << 8)) : -1;
    bool lost = false;
    for (std::size_t i = 0; i < options_.faults.size() && !lost; ++i) {
        const Zmk5Fault& f = options_.faults[i];
        if (f.kind != Zmk5FaultKind::AckLost || (f.command && *f.command != code))
            continue;
        if (faultActs(f.kind, [&](const Zmk5Fault& g) { return &g == &f; })) {
            lost = true;
            logFault(f, {{"command", code}});
        }
    }
    if (!lost) {
        const uint8_t ack = zmk5::ACK;
        transmit(std::span(&ack, 1));
    }
    if (overLong) {
        protocolError("block longer than " + std::to_string(zmk5::kMaxCommandBytes) + " bytes");
        announced_ = false;
        return;
    }
    std::string error;
    auto command = zmk5::decodeCommand(bytes, error);
    if (!command) {
        protocolError(error);
        announced_ = false;
        return;
    }
    if (std::holds_alternative<zmk5::Announcement>(*command)) {
        announced_ = true;
        return;
    }
    if (!announced_)
        protocolError("command " + std::to_string(code) + " without announcement");
    announced_ = false;
    execute(*command);
}

// ---- commands ---------------------------------------------------------------------------

void Zmk5::execute(const zmk5::Command& command) {
    auto details =
        std::visit(Overloaded{
                       [&](const zmk5::MeterRestart& c) { return restartMeter(c); },
                       [&](const zmk5::HarmonicSet& c) { return setHarmonic(c); },
                       [&](const zmk5::CompositeSet& c) { return setComposite(c); },
                       [&](const zmk5::ThresholdSet& c) { return setThresholds(c); },
                       [&](const zmk5::NoSignal&) { return noSignal(); },
                       [&](const zmk5::DeadTimeSet& c) { return setDeadTimes(c); },
                       [&](const zmk5::EchoSet& c) { return setEchoProbes(c); },
                       // block() takes the announcements; none reaches here.
                       [&](const zmk5::Announcement&) { return CommandDetails(nlohmann::json()); },
                       [&](const zmk5::MeterRange& c) { return setMeterRange(c); },
                       [&](const zmk5::CalibrationRequest&) { return sendCalibration(); },
                       [&](const zmk5::LineMode& c) { return changeLineMode(c); },
                   },
                   command);
    if (!details)
        return;
    log_.write(station_, "analyzer-command", std::move(*details));
    updateConnection();
    publishGenerator();
}

Zmk5::CommandDetails Zmk5::restartMeter(const zmk5::MeterRestart& c) {
    if (!meter_.restart(c.setting))
        protocolError("meter restart with setting " + std::to_string(c.setting) +
                      ": neither 0 nor a bin of 96..1088");
    return nlohmann::json{{"code", zmk5::command::MeterRestart}, {"setting", c.setting}};
}

Zmk5::CommandDetails Zmk5::setHarmonic(const zmk5::HarmonicSet& c) {
    nlohmann::json details = {{"code", zmk5::command::Harmonic}};
    auto fullScale = zmk5::generatorFullScaleDbm(c.attenuator);
    if (!fullScale) {
        protocolError("generator attenuator code " + std::to_string(c.attenuator));
        return std::nullopt;
    }
    if (c.period < 1 || c.period > 4096)
        protocolError("generator period " + std::to_string(c.period));
    const int64_t now = meter_.samples();
    const double hz = zmk5::phaseIncrementHz(c.increment);
    if (c.amplitudeCode > 0 && c.increment > 0)
        generator_.steady(
            {signal_kind::Sine, zmk5::amplitudeLevelDbm(c.amplitudeCode, *fullScale), hz}, now);
    else
        generator_.off(now);
    lastGeneratorCommand_ = zmk5::command::Harmonic;
    details.update(signalJson(generator_.steadySignal()));
    return details;
}

Zmk5::CommandDetails Zmk5::setComposite(const zmk5::CompositeSet& c) {
    nlohmann::json details = {{"code", c.kind}};
    auto fullScale = zmk5::generatorFullScaleDbm(c.attenuator);
    if (!fullScale) {
        protocolError("generator attenuator code " + std::to_string(c.attenuator));
        return std::nullopt;
    }
    const int64_t now = meter_.samples();
    const int kind = c.kind == zmk5::command::MultiFrequency ? signal_kind::MultiFrequency
                     : c.kind == zmk5::command::O131         ? signal_kind::O131
                                                             : signal_kind::O42;
    const double share = kind == signal_kind::MultiFrequency ? zmk5::kMultiFrequencyShareDb
                         : kind == signal_kind::O131         ? zmk5::kO131ShareDb
                                                             : zmk5::kO42ShareDb;
    if (c.amplitudeCode > 0)
        generator_.steady({kind, zmk5::amplitudeLevelDbm(c.amplitudeCode, *fullScale) - share, 0.0},
                          now);
    else
        generator_.off(now);
    lastGeneratorCommand_ = c.kind;
    details.update(signalJson(generator_.steadySignal()));
    return details;
}

Zmk5::CommandDetails Zmk5::setThresholds(const zmk5::ThresholdSet& c) {
    meter_.setThresholds(c);
    return nlohmann::json{{"code", zmk5::command::Thresholds}, {"impulse", c.impulse},
                          {"interruption", c.interruption},    {"levelDrop", c.levelDrop},
                          {"levelRise", c.levelRise},          {"phase", c.phase}};
}

Zmk5::CommandDetails Zmk5::noSignal() {
    meter_.noSignal();
    return nlohmann::json{{"code", zmk5::command::NoSignal}};
}

Zmk5::CommandDetails Zmk5::setDeadTimes(const zmk5::DeadTimeSet& c) {
    meter_.setDeadTimes(c);
    return nlohmann::json{{"code", zmk5::command::DeadTimes},
                          {"impulse", c.impulse},
                          {"interruption", c.interruption},
                          {"levelHit", c.levelHit},
                          {"phaseHit", c.phaseHit}};
}

Zmk5::CommandDetails Zmk5::setEchoProbes(const zmk5::EchoSet& c) {
    nlohmann::json details = {{"code", zmk5::command::Echo}};
    auto fullScale = zmk5::generatorFullScaleDbm(c.attenuator);
    if (!fullScale) {
        protocolError("generator attenuator code " + std::to_string(c.attenuator));
        return std::nullopt;
    }
    auto probe = [&](uint32_t samples, int amplitude, uint32_t increment, uint32_t phase) {
        EchoProbe p;
        p.on = amplitude > 0 && increment > 0;
        p.levelDbm = p.on ? zmk5::amplitudeLevelDbm(amplitude, *fullScale) : -200.0;
        p.frequencyHz = zmk5::phaseIncrementHz(increment);
        p.phase = static_cast<double>(phase) / zmk5::kPhaseSteps * 2.0 * std::numbers::pi;
        p.samples = (static_cast<int64_t>(samples) + 1) / 2; // 25 600 -> 12 800 a second
        return p;
    };
    const EchoProbe first = probe(c.firstSamples, c.firstAmplitude, c.firstIncrement, c.firstPhase);
    const EchoProbe second =
        probe(c.secondSamples, c.secondAmplitude, c.secondIncrement, c.secondPhase);
    generator_.echo(first, second, meter_.samples());
    lastGeneratorCommand_ = zmk5::command::Echo;
    details["firstMs"] = first.samples / kSamplesPerMs;
    details["firstLevelDbm"] = first.on ? nlohmann::json(first.levelDbm) : nullptr;
    details["frequencyHz"] = first.frequencyHz;
    details["secondMs"] = second.samples / kSamplesPerMs;
    details["secondLevelDbm"] = second.on ? nlohmann::json(second.levelDbm) : nullptr;
    return details;
}

Zmk5::CommandDetails Zmk5::setMeterRange(const zmk5::MeterRange& c) {
    nlohmann::json details = {{"code", zmk5::command::MeterRange},
                              {"attenuator", c.attenuator},
                              {"bottom", c.bottomCode}};
    if (c.attenuator < 0 || c.attenuator > 31) {
        protocolError("meter attenuator code " + std::to_string(c.attenuator));
        return std::nullopt;
    }
    meter_.setRange(c.attenuator, c.bottomCode);
    details["topDbm"] = meter_.topDbm();
    return details;
}

Zmk5::CommandDetails Zmk5::sendCalibration() {
    bool withheld = false;
    for (std::size_t i = 0; i < options_.faults.size() && !withheld; ++i) {
        const Zmk5Fault& f = options_.faults[i];
        if (f.kind == Zmk5FaultKind::NoCalibration &&
            faultActs(f.kind, [&](const Zmk5Fault& g) { return &g == &f; })) {
            withheld = true;
            logFault(f);
        }
    }
    if (!withheld) {
        const auto table = options_.calibrationTable();
        const auto words = zmk5::calibrationBlock(table);
        sendBlock(words);
        log_.write(station_, "analyzer-calibration",
                   {{"serialNumber", table[9]}, {"firmware", table[10]}});
    }
    return nlohmann::json{{"code", zmk5::command::Calibration}};
}

Zmk5::CommandDetails Zmk5::changeLineMode(const zmk5::LineMode& c) {
    nlohmann::json details = {
        {"code", zmk5::command::LineMode}, {"mode", c.mode}, {"gain", c.gain}};
    if (std::find(std::begin(kAcceptedModes), std::end(kAcceptedModes), c.mode) ==
        std::end(kAcceptedModes)) {
        protocolError("line mode " + std::to_string(c.mode) + " not known");
        return std::nullopt;
    }
    setLineMode(c);
    return details;
}

void Zmk5::setLineMode(const zmk5::LineMode& mode) {
    lineMode_ = mode.mode;
    meter_.setGain(mode.gain);
}

void Zmk5::updateConnection() {
    LineConnection c;
    c.line = (lineMode_ & 8) != 0;
    const bool echo = lastGeneratorCommand_ == zmk5::command::Echo && isEchoMode(lineMode_);
    if (lineMode_ == 274 || lineMode_ == 282)
        c.divider = LineConnection::Divider::Reference;
    else if (!echo && (lineMode_ == 275 || lineMode_ == 283))
        c.divider = LineConnection::Divider::Measure;
    c.ownDirect = echo;
    c.gain = meter_.gain();
    meter_.setEcho(echo, echo ? generator_.probe(0).frequencyHz : 0.0, &generator_);
    if (c.line != holding_) {
        holding_ = c.line;
        line_.hold(holding_);
        log_.write(station_, "analyzer-line-mode",
                   {{"mode", lineMode_}, {"gain", c.gain}, {"hold", holding_}});
    }
    connection_ = c;
}

void Zmk5::publishGenerator() {
    const GeneratorSignal signal =
        connection_.line ? generator_.signalAt(meter_.samples()) : GeneratorSignal{};
    if (publishedOnce_ && signal == published_)
        return;
    publishedOnce_ = true;
    published_ = signal;
    line_.publish(signal);
}

// ---- time -------------------------------------------------------------------------------

void Zmk5::poll(uint32_t tick) {
    if (!started_) {
        started_ = true;
        startTick_ = lastTick_ = tick;
    }
    pollGapMs_ = static_cast<double>(static_cast<uint32_t>(tick - lastTick_));
    clockMs_ += pollGapMs_;
    lastTick_ = tick;

    const bool off = switchedOffNow();
    if (off && on_)
        switchOff();
    else if (!off && !on_)
        switchOn();
    if (!on_) {
        meter_.skip(static_cast<int64_t>(clockMs_ * kSamplesPerMs) - meter_.samples());
        return;
    }
    advanceSignal();
    publishGenerator();
    if (state_ == State::Blocks)
        stream();
}

void Zmk5::advanceSignal() {
    int64_t due = static_cast<int64_t>(clockMs_ * kSamplesPerMs) - meter_.samples();
    if (due <= 0)
        return;
    if (!meter_.running()) {
        meter_.skip(due);
        return;
    }
    if (due > kMaxRenderSamples) {
        meter_.skip(due - kMaxRenderSamples);
        due = kMaxRenderSamples;
    }
    buffer_.assign(static_cast<std::size_t>(due), 0.0);
    std::optional<FarEnd> far;
    if (connection_.line)
        far = line_.farEnd();
    path_.render(meter_.samples(), buffer_, far, generator_, connection_);
    meter_.acquire(buffer_);
}

void Zmk5::stream() {
    if (port_ == nullptr)
        return;
    // The meter's blocks wait in the meter until the link takes them: the next one goes
    // to the port only once the port holds less than the line carries until the next
    // poll (taken as long as the time since the previous one). The line stays busy,
    // and what the analyzer answers to a command (its ACK) waits behind little data: a
    // deeper queue would hold every acknowledgement back by the time of the queued data
    // while the meter streams.
    const double carried = std::max(1.0, pollGapMs_ * baud_ / 10000.0);
    while (uartFreeMs_ <= clockMs_ && static_cast<double>(port_->pendingToComputer()) < carried) {
        auto block = meter_.takeBlock();
        if (!block)
            break;
        sendBlock(*block);
    }
}

// ---- factory ----------------------------------------------------------------------------

std::unique_ptr<SerialDevice> makeZmk5(const StationConfig& station, AnalyzerLine& line,
                                       EventLog& log) {
    return std::make_unique<Zmk5>(station.name, station.analyzer.options, line, log);
}

} // namespace vetlina::sim
