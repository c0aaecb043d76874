#include "sim/modem/HayesModem.h"

#include "platform/Clock.h"
#include "platform/Files.h"

#include <cstdio>

namespace vetlina::sim {

namespace {

constexpr std::size_t kMaxCommandLine = 255; // characters after "AT"
constexpr std::size_t kLineBuffer = 4096;    // data waiting for the line
constexpr std::size_t kCtsOffAbove = 2048;   // flow control towards the computer
constexpr std::size_t kCtsOnBelow = 512;
constexpr uint32_t kDialToneDetectMs = 500;  // hearing the dial tone
constexpr uint32_t kFlashMs = 500;           // "!"
constexpr uint32_t kRingCountResetMs = 8000; // S1 is cleared after this without a ring
constexpr uint32_t kPulseMs = 100;           // one dial pulse
constexpr uint32_t kInterDigitPulseMs = 700;
constexpr double kMinimumHoldRealMs = 200.0; // see endLine()

const char* useName(LineUse use) {
    switch (use) {
    case LineUse::OnHook:
        return "on-hook";
    case LineUse::OffHook:
        return "off-hook";
    case LineUse::Originate:
        return "originate";
    case LineUse::Answer:
        return "answer";
    }
    return "?";
}

std::optional<ModemSettings> applyProfileCommands(const std::string& commands, std::string& error) {
    ModemSettings settings = factorySettings();
    std::string body = commands;
    if (body.size() >= 2 && (body[0] == 'A' || body[0] == 'a') &&
        (body[1] == 'T' || body[1] == 't'))
        body = body.substr(2);
    AtCommandReader reader(body);
    AtCommand command;
    for (;;) {
        auto status = reader.next(command);
        if (status == AtCommandReader::Status::End)
            return settings;
        if (status == AtCommandReader::Status::Error ||
            applySetting(settings, command) != SettingResult::Applied) {
            error = "stored profile: \"" + printable(commands) + "\" is not a list of settings";
            return std::nullopt;
        }
    }
}

} // namespace

std::optional<std::array<ModemSettings, 2>> initialProfiles(const ModemConfig& config,
                                                            std::string& error) {
    if (!config.profileFile.empty() && fileExists(config.profileFile)) {
        auto text = readWholeFile(config.profileFile);
        if (!text) {
            error = "profile file " + config.profileFile + " cannot be read";
            return std::nullopt;
        }
        nlohmann::json json = nlohmann::json::parse(*text, nullptr, false);
        if (json.is_discarded() || !json.is_object() || !json.contains("profiles") ||
            !json["profiles"].is_array() || json["profiles"].size() != 2) {
            error = "profile file " + config.profileFile + " is not a modem profile file";
            return std::nullopt;
        }
        std::array<ModemSettings, 2> profiles;
        for (int n = 0; n < 2; ++n) {
            auto settings = settingsFromJson(json["profiles"][n]);
            if (!settings) {
                error = "profile file " + config.profileFile + ": profile " + std::to_string(n) +
                        " is malformed";
                return std::nullopt;
            }
            profiles[n] = *settings;
        }
        return profiles;
    }
    auto settings = applyProfileCommands(config.storedProfile, error);
    if (!settings)
        return std::nullopt;
    return std::array<ModemSettings, 2>{*settings, *settings};
}

HayesModem::HayesModem(std::string station, const ModemConfig& config, const TimingConfig& timing,
                       const std::array<ModemSettings, 2>& profiles, ModemLine& line, EventLog& log,
                       FaultProbe scheduledFault)
    : station_(std::move(station)), config_(config), timing_(timing), line_(line), log_(log),
      scheduledFault_(std::move(scheduledFault)), settings_(profiles[0]), profiles_(profiles) {
    line_.attach(*this);
}

void HayesModem::attach(PortSide& port) {
    port_ = &port;
    updateLines(true);
}

void HayesModem::computerConnected(bool connected) {
    // A new computer starts a fresh command line; what was held for the old one is
    // lost. The faults of the modem are logged again for the new one.
    noEchoLogged_ = false;
    dsrFaultLogged_ = false;
    dsrLostLogged_ = false;
    input_ = Input::WaitA;
    body_.clear();
    overflow_ = false;
    awaitLf_ = false;
    lineEnded_ = false;
    held_.clear();
    (void)connected;
}

void HayesModem::setLineFormat(const LineFormat&) {
    // The modem follows the computer's rate by itself (it reads the rate from "AT").
}

void HayesModem::setRts(bool on) {
    rts_ = on;
}

void HayesModem::purged(bool, bool) {}

void HayesModem::setDtr(bool on) {
    bool dropped = dtr_ && !on;
    dtr_ = on;
    if (!dropped || switchedOff_)
        return;
    switch (settings_.dtr) {
    case 1:
        if (phase_ == Phase::Online) {
            phase_ = Phase::OnlineCommand;
            log_.write(station_, "escape", {{"by", "DTR"}});
            result(Result::Ok);
        }
        break;
    case 2:
        if (phase_ == Phase::OffHook) {
            hangUp("DTR dropped");
        } else if (phase_ == Phase::Dialing || phase_ == Phase::Connecting ||
                   phase_ == Phase::Online || phase_ == Phase::OnlineCommand) {
            hangUp("DTR dropped");
            settings_.s[sreg::DisconnectReason] = disconnect::None;
            result(Result::NoCarrier);
        }
        break;
    case 3:
        if (phase_ != Phase::Idle && phase_ != Phase::Resetting)
            hangUp("DTR dropped");
        {
            uint8_t reason = settings_.s[sreg::DisconnectReason];
            settings_ = profiles_[0];
            settings_.s[sreg::DisconnectReason] = reason;
        }
        log_.write(station_, "reset", {{"by", "DTR"}, {"profile", 0}});
        break;
    default:
        break;
    }
    updateLines();
}

void HayesModem::receive(std::span<const uint8_t> bytes) {
    if (switchedOff_)
        return; // a modem without power hears nothing
    std::size_t i = 0;
    while (i < bytes.size()) {
        // The LF right after a command line's CR is the line's tail whenever it comes:
        // echoed, never data and never a key that ends a call attempt.
        bool tail = lineEnded_ && bytes[i] == settings_.s[sreg::LineFeed];
        lineEnded_ = false;
        if (tail) {
            echo(bytes[i++]);
            releaseHeld();
            continue;
        }
        if (awaitLf_)
            releaseHeld();
        if (phase_ == Phase::Online) {
            // Data mode takes the rest of the chunk; the escape may end it midway.
            std::size_t start = i;
            while (i < bytes.size() && phase_ == Phase::Online)
                ++i;
            onlineBytes(bytes.subspan(start, i - start));
            continue;
        }
        uint8_t c = bytes[i++];
        if (phase_ == Phase::Dialing || phase_ == Phase::Connecting) {
            // Any key ends the call attempt.
            hangUp("call attempt ended by a key");
            result(Result::NoCarrier);
            continue;
        }
        if (phase_ == Phase::Resetting)
            continue;
        commandByte(c);
    }
    updateLines();
}

void HayesModem::endLine() {
    lineEnded_ = true;
    awaitLf_ = true;
    // At least kMinimumHoldRealMs of real time: at a high time scale the LF's trip
    // over the network must not look like a missing LF.
    uint32_t floor = static_cast<uint32_t>(kMinimumHoldRealMs * timeScale());
    holdUntil_ = tick_ + std::max(config_.resultDelayMs, floor);
}

void HayesModem::commandByte(uint8_t c) {
    const uint8_t cr = settings_.s[sreg::CarriageReturn];
    const uint8_t bs = settings_.s[sreg::Backspace];
    echo(c);
    char upper = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    switch (input_) {
    case Input::WaitA:
        if (upper == 'A')
            input_ = Input::WaitT;
        break;
    case Input::WaitT:
        if (upper == 'T') {
            input_ = Input::Body;
            body_.clear();
            overflow_ = false;
        } else if (c == '/') {
            // "A/": the last command line again, at once.
            input_ = Input::WaitA;
            endLine();
            executeLine(lastBody_);
        } else if (upper != 'A') {
            input_ = Input::WaitA;
        }
        break;
    case Input::Body:
        if (c == cr) {
            input_ = Input::WaitA;
            endLine();
            std::string body = std::move(body_);
            body_.clear();
            if (overflow_) {
                log_.write(station_, "command",
                           {{"line", "AT" + printable(body)}, {"overflow", true}});
                result(Result::Error);
                return;
            }
            lastBody_ = body;
            executeLine(body);
        } else if (c == bs) {
            if (!body_.empty())
                body_.pop_back();
        } else if (body_.size() < kMaxCommandLine) {
            body_ += static_cast<char>(c);
        } else {
            overflow_ = true;
        }
        break;
    }
}

void HayesModem::executeLine(const std::string& body) {
    log_.write(station_, "command", {{"line", "AT" + printable(body)}});
    AtCommandReader reader(body);
    AtCommand command;
    for (;;) {
        auto status = reader.next(command);
        if (status == AtCommandReader::Status::End) {
            result(Result::Ok);
            return;
        }
        if (status == AtCommandReader::Status::Error) {
            result(Result::Error);
            return;
        }
        auto applied = applySetting(settings_, command);
        if (applied == SettingResult::Applied)
            continue;
        if (applied == SettingResult::Invalid) {
            result(Result::Error);
            return;
        }
        Step step = executeCommand(command);
        if (step == Step::Error) {
            result(Result::Error);
            return;
        }
        if (step == Step::Pending)
            return;
    }
}

HayesModem::Step HayesModem::executeCommand(const AtCommand& command) {
    int n = command.number.value_or(0);
    if (command.prefix == 0) {
        switch (command.letter) {
        case 'A':
            if (command.number || phase_ == Phase::OnlineCommand)
                return Step::Error;
            if (!terminalReady()) {
                result(Result::NoCarrier);
                return Step::Pending;
            }
            log_.write(station_, "answer", {{"by", "ATA"}});
            startConnecting(LineUse::Answer);
            return Step::Pending;
        case 'D':
            return dial(command.dial);
        case 'H':
            if (n > 1)
                return Step::Error;
            if (n == 0) {
                if (phase_ != Phase::Idle) {
                    hangUp("ATH");
                    settings_.s[sreg::DisconnectReason] = disconnect::None;
                }
            } else if (phase_ == Phase::Idle) {
                line_.use(LineUse::OffHook, rateLimit());
                phase_ = Phase::OffHook;
                log_.write(station_, "off-hook", {{"by", "ATH1"}});
            }
            return Step::Next;
        case 'I':
            return identification(n);
        case 'O':
            if (n > 1)
                return Step::Error;
            if (phase_ == Phase::OnlineCommand && line_.linkRate()) {
                phase_ = Phase::Online;
                escapeCount_ = 0;
                lastDataTick_ = tick_;
                log_.write(station_, "online", {{"rate", rate_}});
                result(Result::Connect);
            } else {
                result(Result::NoCarrier);
            }
            return Step::Pending;
        case 'S': {
            // Only the query reaches here (settings are applied before).
            if (!knownRegister(command.reg))
                return Step::Error;
            char text[8];
            std::snprintf(text, sizeof text, "%03d", settings_.s[command.reg]);
            info(text);
            return Step::Next;
        }
        case 'Z':
            if (n > 1)
                return Step::Error;
            if (phase_ != Phase::Idle)
                hangUp("ATZ");
            phase_ = Phase::Resetting;
            resetProfile_ = n;
            resetDone_ = tick_ + timing_.resetMs;
            return Step::Pending;
        default:
            return Step::Error;
        }
    }
    if (command.prefix == '&') {
        switch (command.letter) {
        case 'F':
            if (n != 0)
                return Step::Error;
            {
                uint8_t reason = settings_.s[sreg::DisconnectReason];
                settings_ = factorySettings();
                settings_.s[sreg::DisconnectReason] = reason;
            }
            log_.write(station_, "factory-profile");
            return Step::Next;
        case 'W':
            if (n > 1)
                return Step::Error;
            return storeProfile(n) ? Step::Next : Step::Error;
        case 'V':
            info(settingsReport());
            return Step::Next;
        case 'T':
            // Tests of the modem: nothing to test in a simulated one.
            return n <= 8 ? Step::Next : Step::Error;
        default:
            return Step::Error;
        }
    }
    return Step::Error;
}

HayesModem::Step HayesModem::identification(int n) {
    switch (n) {
    case 0:
        info(config_.productCode);
        return Step::Next;
    case 1:
        info("000");
        return Step::Next;
    case 2:
        return Step::Next;
    case 3:
    case 4:
    case 5:
        info(config_.identification);
        return Step::Next;
    case 6:
    case 7:
    case 8:
    case 9:
        return Step::Next;
    default:
        return Step::Error;
    }
}

std::string HayesModem::settingsReport() const {
    char text[160];
    std::snprintf(text, sizeof text, "E%d Q%d V%d X%d M%d L%d B%d &C%d &D%d &S%d &L%d %c",
                  settings_.echo, settings_.quiet, settings_.verbose, settings_.resultSet,
                  settings_.speaker, settings_.volume, settings_.bell, settings_.dcd, settings_.dtr,
                  settings_.dsr, settings_.leasedLine, settings_.pulseDial ? 'P' : 'T');
    std::string report = text;
    for (const auto& [name, value] : settings_.other)
        report += " " + name + std::to_string(value);
    report += "\r\n";
    int column = 0;
    for (int n = 0; n < 256; ++n) {
        if (!knownRegister(n))
            continue;
        std::snprintf(text, sizeof text, "S%02d:%03d", n, settings_.s[n]);
        if (column > 0)
            report += ' ';
        report += text;
        if (++column == 8) {
            report += "\r\n";
            column = 0;
        }
    }
    while (!report.empty() && (report.back() == '\n' || report.back() == '\r'))
        report.pop_back();
    return report;
}

bool HayesModem::storeProfile(int n) {
    profiles_[n] = settings_;
    if (!config_.profileFile.empty()) {
        nlohmann::json json = {
            {"profiles", {settingsToJson(profiles_[0]), settingsToJson(profiles_[1])}}};
        if (!atomicReplace(config_.profileFile, json.dump(2) + "\n")) {
            log_.write(station_, "profile-error",
                       {{"file", config_.profileFile}, {"detail", "cannot be written"}});
            return false;
        }
    }
    log_.write(station_, "profile-stored",
               {{"profile", n}, {"settings", settingsToJson(settings_)}});
    return true;
}

// ---------------------------------------------------------------------------
// Output

void HayesModem::result(Result r) {
    // The numeric and verbal forms of each result (a connection's extended form aside).
    struct Forms {
        Result result;
        int code;
        const char* text;
    };
    static constexpr Forms kForms[] = {
        {Result::Ok, 0, "OK"},       {Result::Connect, 1, "CONNECT"},
        {Result::Ring, 2, "RING"},   {Result::NoCarrier, 3, "NO CARRIER"},
        {Result::Error, 4, "ERROR"}, {Result::NoDialTone, 6, "NO DIALTONE"},
        {Result::Busy, 7, "BUSY"},   {Result::NoAnswer, 8, "NO ANSWER"},
    };
    int code = 0;
    std::string text;
    for (const Forms& f : kForms) {
        if (f.result == r) {
            code = f.code;
            text = f.text;
        }
    }
    // Extended result codes: the connection with its rate and error correction.
    if (r == Result::Connect && settings_.resultSet != 0) {
        code = config_.connectCode;
        text = "CONNECT " + std::to_string(rate_);
        auto it = settings_.other.find("\\V");
        if (it != settings_.other.end() && it->second >= 1)
            text += "/REL";
    }
    nlohmann::json details = {{"code", std::to_string(code)}, {"text", text}};
    if (settings_.quiet) {
        details["quiet"] = true;
        log_.write(station_, "result", details);
        return;
    }
    log_.write(station_, "result", details);
    const char cr = static_cast<char>(settings_.s[sreg::CarriageReturn]);
    const char lf = static_cast<char>(settings_.s[sreg::LineFeed]);
    if (settings_.verbose)
        emit(std::string{cr, lf} + text + std::string{cr, lf});
    else
        emit(std::to_string(code) + cr);
}

void HayesModem::info(const std::string& text) {
    const char cr = static_cast<char>(settings_.s[sreg::CarriageReturn]);
    const char lf = static_cast<char>(settings_.s[sreg::LineFeed]);
    if (settings_.verbose)
        emit(std::string{cr, lf} + text + std::string{cr, lf});
    else
        emit(text + std::string{cr, lf});
}

void HayesModem::emit(const std::string& text) {
    if (awaitLf_) {
        if (!tickReached(holdUntil_, tick_)) {
            held_ += text;
            return;
        }
        releaseHeld();
    }
    if (port_ != nullptr)
        port_->send({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

void HayesModem::releaseHeld() {
    awaitLf_ = false;
    if (!held_.empty() && port_ != nullptr)
        port_->send({reinterpret_cast<const uint8_t*>(held_.data()), held_.size()});
    held_.clear();
}

void HayesModem::echo(uint8_t c) {
    if (!settings_.echo || port_ == nullptr)
        return;
    if (hasFault(config_.faults.noEcho, FaultKind::NoEcho)) {
        faultActs(noEchoLogged_, "noEcho");
        return;
    }
    port_->send({&c, 1});
}

bool HayesModem::hasFault(bool configured, FaultKind kind) const {
    return configured || (scheduledFault_ && scheduledFault_(kind));
}

void HayesModem::faultActs(bool& logged, const char* fault) {
    if (logged)
        return;
    logged = true;
    log_.write(station_, "fault", {{"fault", fault}, {"device", "modem"}});
}

// ---------------------------------------------------------------------------
// Calls

bool HayesModem::terminalReady() const {
    return settings_.dtr == 0 || dtr_;
}

uint32_t HayesModem::rateLimit() const {
    return rateOfS37(settings_.s[sreg::LineRate], config_.maxRate);
}

HayesModem::Step HayesModem::dial(const std::string& dialString) {
    if (phase_ == Phase::OnlineCommand)
        return Step::Error;
    DialPlan plan = parseDialString(dialString);
    if (plan.redial) {
        DialPlan last = parseDialString(lastDialString_);
        last.returnToCommand = last.returnToCommand || plan.returnToCommand;
        plan = last;
    } else {
        lastDialString_ = dialString;
    }
    nlohmann::json details = {{"dial", printable(dialString)}, {"number", digitsOf(plan)}};
    if (!plan.skipped.empty())
        details["skipped"] = printable(plan.skipped);
    if (!terminalReady()) {
        details["refused"] = "DTR off";
        log_.write(station_, "dial", details);
        result(Result::NoCarrier);
        return Step::Pending;
    }
    log_.write(station_, "dial", details);
    plan_ = std::move(plan);
    stepIndex_ = 0;
    digits_.clear();
    dialled_.clear();
    if (settings_.leasedLine) {
        // A leased line: no dial tone, no number; connect on the line as it is.
        finishDial();
        return Step::Pending;
    }
    line_.use(LineUse::OffHook, rateLimit());
    phase_ = Phase::Dialing;
    int x = settings_.resultSet;
    uint32_t toneWait = std::max<uint32_t>(settings_.s[sreg::DialToneWait], 2) * 1000u;
    if (x == 2 || x == 4) {
        wait_ = Wait::DialTone;
        waitUntil_ = tick_ + toneWait;
    } else {
        // Blind dialling: the modem waits S6 and dials whatever is on the line.
        wait_ = Wait::Timer;
        waitUntil_ = tick_ + toneWait;
    }
    advanceDial();
    return Step::Pending;
}

void HayesModem::advanceDial() {
    while (phase_ == Phase::Dialing) {
        switch (wait_) {
        case Wait::Timer:
            if (!tickReached(waitUntil_, tick_))
                return;
            wait_ = Wait::None;
            break;
        case Wait::DialTone:
        case Wait::SecondDialTone:
            if (line_.dialTone(wait_ == Wait::SecondDialTone)) {
                wait_ = Wait::Timer;
                waitUntil_ = tick_ + kDialToneDetectMs;
                break;
            }
            if (!tickReached(waitUntil_, tick_))
                return;
            hangUp("no dial tone");
            result(settings_.resultSet == 2 || settings_.resultSet == 4 ? Result::NoDialTone
                                                                        : Result::NoCarrier);
            return;
        case Wait::Answer: {
            CallProgress progress = line_.progress();
            if (progress == CallProgress::Answered) {
                wait_ = Wait::None;
                break;
            }
            if (progress == CallProgress::Ringback)
                heardRingback_ = true;
            int x = settings_.resultSet;
            if (progress == CallProgress::Busy && x >= 3) {
                hangUp("busy");
                result(Result::Busy);
                return;
            }
            if (!tickReached(waitUntil_, tick_))
                return;
            hangUp("no answer");
            result(x >= 3 ? Result::NoAnswer : Result::NoCarrier);
            return;
        }
        case Wait::None:
            if (stepIndex_ >= plan_.steps.size()) {
                finishDial();
                return;
            }
            const DialStep& step = plan_.steps[stepIndex_++];
            switch (step.kind) {
            case DialStep::Kind::Digit: {
                digits_ += step.digit;
                dialled_ += step.digit;
                bool pulse = step.pulse || settings_.pulseDial;
                uint32_t ms = 0;
                if (pulse) {
                    int pulses = step.digit >= '1' && step.digit <= '9' ? step.digit - '0' : 10;
                    ms = pulses * kPulseMs + kInterDigitPulseMs;
                } else {
                    ms = 2u * settings_.s[sreg::ToneDuration];
                }
                wait_ = Wait::Timer;
                waitUntil_ = tick_ + ms;
                break;
            }
            case DialStep::Kind::Pause:
                wait_ = Wait::Timer;
                waitUntil_ = tick_ + settings_.s[sreg::CommaPause] * 1000u;
                break;
            case DialStep::Kind::WaitDialTone:
                wait_ = Wait::SecondDialTone;
                waitUntil_ = tick_ + settings_.s[sreg::CarrierWait] * 1000u;
                break;
            case DialStep::Kind::Flash:
                wait_ = Wait::Timer;
                waitUntil_ = tick_ + kFlashMs;
                break;
            case DialStep::Kind::WaitAnswer:
                route();
                heardRingback_ = false;
                wait_ = Wait::Answer;
                waitUntil_ = tick_ + settings_.s[sreg::CarrierWait] * 1000u;
                break;
            }
            break;
        }
    }
}

void HayesModem::route() {
    if (digits_.empty())
        return;
    line_.dial(digits_);
    digits_.clear();
}

void HayesModem::finishDial() {
    route();
    if (plan_.returnToCommand) {
        if (phase_ == Phase::Idle)
            line_.use(LineUse::OffHook, rateLimit());
        phase_ = Phase::OffHook;
        result(Result::Ok);
        return;
    }
    startConnecting(plan_.reverse ? LineUse::Answer : LineUse::Originate);
}

void HayesModem::startConnecting(LineUse use) {
    connectUse_ = use;
    line_.use(use, rateLimit());
    phase_ = Phase::Connecting;
    connectDeadline_ = tick_ + settings_.s[sreg::CarrierWait] * 1000u;
    heardRingback_ = false;
    ringOn_ = false;
    log_.write(station_, "handshake", {{"mode", useName(use)}, {"rateLimit", rateLimit()}});
}

void HayesModem::pollConnecting() {
    if (auto rate = line_.linkRate()) {
        connected(*rate);
        return;
    }
    CallProgress progress = line_.progress();
    if (progress == CallProgress::Ringback)
        heardRingback_ = true;
    int x = settings_.resultSet;
    if (progress == CallProgress::Busy && x >= 3 && connectUse_ == LineUse::Originate) {
        hangUp("busy");
        result(Result::Busy);
        return;
    }
    if (!tickReached(connectDeadline_, tick_))
        return;
    bool noAnswer = heardRingback_ && progress == CallProgress::Ringback && x >= 3;
    hangUp(noAnswer ? "no answer" : "no carrier");
    if (!noAnswer)
        settings_.s[sreg::DisconnectReason] = disconnect::NoCarrier;
    result(noAnswer ? Result::NoAnswer : Result::NoCarrier);
}

void HayesModem::connected(uint32_t rate) {
    phase_ = Phase::Online;
    rate_ = rate;
    carrierLost_ = false;
    escapeCount_ = 0;
    lastDataTick_ = tick_;
    overrunLogged_ = false;
    settings_.s[sreg::RingCount] = 0;
    result(Result::Connect);
}

void HayesModem::pollOnline() {
    if (!line_.linkRate()) {
        if (!carrierLost_) {
            carrierLost_ = true;
            lossSince_ = tick_;
            log_.write(
                station_, "carrier-lost",
                {{"cause", line_.lastLinkEnd() == LinkEnd::LineLost ? "line" : "far modem"}});
        }
        if (tickReached(lossSince_ + settings_.s[sreg::CarrierLossTime] * 100u, tick_)) {
            hangUp("carrier lost");
            settings_.s[sreg::DisconnectReason] = line_.lastLinkEnd() == LinkEnd::LineLost
                                                      ? disconnect::CarrierLost
                                                      : disconnect::RemoteHangUp;
            result(Result::NoCarrier);
        }
        return;
    }
    if (phase_ == Phase::Online && escapeCount_ == 3) {
        uint32_t guard = settings_.s[sreg::EscapeGuard] * 20u;
        if (tickReached(lastEscapeTick_ + guard, tick_)) {
            escapeCount_ = 0;
            phase_ = Phase::OnlineCommand;
            input_ = Input::WaitA;
            log_.write(station_, "escape", {{"by", "+++"}});
            result(Result::Ok);
        }
    }
}

void HayesModem::pollRing() {
    bool ringing = line_.ringing();
    auto& rings = settings_.s[sreg::RingCount];
    if (ringing && !ringOn_) {
        ringOn_ = true;
        lastRingTick_ = tick_;
        if (rings < 255)
            ++rings;
        log_.write(station_, "ring", {{"count", rings}});
        result(Result::Ring);
        int answerAt = settings_.s[sreg::AutoAnswerRings];
        if (answerAt > 0 && rings >= answerAt && terminalReady()) {
            log_.write(station_, "answer", {{"by", "S0"}, {"ring", rings}});
            startConnecting(LineUse::Answer);
        }
    } else if (!ringing && ringOn_) {
        ringOn_ = false;
    } else if (!ringing && rings > 0 && tickReached(lastRingTick_ + kRingCountResetMs, tick_)) {
        rings = 0;
    }
}

void HayesModem::hangUp(const char* reason) {
    bool wasConnected = phase_ == Phase::Online || phase_ == Phase::OnlineCommand;
    line_.use(LineUse::OnHook, rateLimit());
    phase_ = Phase::Idle;
    wait_ = Wait::None;
    carrierLost_ = false;
    escapeCount_ = 0;
    ringOn_ = false;
    log_.write(station_, "hang-up", {{"reason", reason}, {"wasConnected", wasConnected}});
}

// ---------------------------------------------------------------------------
// Data mode

void HayesModem::onlineBytes(std::span<const uint8_t> bytes) {
    const uint8_t escape = settings_.s[sreg::EscapeChar];
    const uint32_t guard = settings_.s[sreg::EscapeGuard] * 20u;
    for (uint8_t c : bytes) {
        if (escape <= 127 && c == escape) {
            if (escapeCount_ == 0) {
                if (tick_ - lastDataTick_ >= guard) {
                    escapeCount_ = 1;
                    lastEscapeTick_ = tick_;
                }
            } else if (escapeCount_ < 3 && tick_ - lastEscapeTick_ < guard) {
                ++escapeCount_;
                lastEscapeTick_ = tick_;
            } else {
                escapeCount_ = 0;
            }
        } else {
            escapeCount_ = 0;
        }
        lastDataTick_ = tick_;
    }
    std::size_t room =
        line_.pendingToLine() < kLineBuffer ? kLineBuffer - line_.pendingToLine() : 0;
    std::size_t take = std::min(room, bytes.size());
    if (take > 0)
        line_.send(bytes.first(take));
    if (take < bytes.size() && !overrunLogged_) {
        overrunLogged_ = true;
        log_.write(station_, "overrun",
                   {{"lost", bytes.size() - take},
                    {"detail", "data from the computer beyond the buffer"}});
    }
}

void HayesModem::fromLine(std::span<const uint8_t> bytes) {
    if (phase_ == Phase::Online && port_ != nullptr)
        port_->send(bytes);
}

// ---------------------------------------------------------------------------

void HayesModem::poll(uint32_t tick) {
    tick_ = tick;
    bool off = hasFault(false, FaultKind::ModemOff);
    if (off != switchedOff_)
        switchPower(!off);
    if (switchedOff_)
        return;
    if (awaitLf_ && tickReached(holdUntil_, tick_))
        releaseHeld();
    switch (phase_) {
    case Phase::Idle:
        pollRing();
        break;
    case Phase::Resetting:
        if (tickReached(resetDone_, tick_)) {
            uint8_t reason = settings_.s[sreg::DisconnectReason];
            settings_ = profiles_[resetProfile_];
            settings_.s[sreg::DisconnectReason] = reason;
            settings_.s[sreg::RingCount] = 0;
            phase_ = Phase::Idle;
            log_.write(station_, "reset", {{"by", "ATZ"}, {"profile", resetProfile_}});
            result(Result::Ok);
        }
        break;
    case Phase::Dialing:
        advanceDial();
        break;
    case Phase::Connecting:
        pollConnecting();
        break;
    case Phase::Online:
    case Phase::OnlineCommand:
        pollOnline();
        break;
    case Phase::OffHook:
        break;
    }
    updateLines();
}

void HayesModem::switchPower(bool on) {
    if (!on) {
        if (phase_ != Phase::Idle && phase_ != Phase::Resetting)
            hangUp("switched off");
        log_.write(station_, "fault", {{"fault", "modemOff"}, {"device", "modem"}});
    }
    switchedOff_ = !on;
    settings_ = profiles_[0];
    phase_ = Phase::Idle;
    input_ = Input::WaitA;
    body_.clear();
    overflow_ = false;
    awaitLf_ = false;
    lineEnded_ = false;
    held_.clear();
    ringOn_ = false;
    ctsHeld_ = false;
    escapeCount_ = 0;
    log_.write(station_, "modem-power", {{"on", on}});
    updateLines();
}

void HayesModem::updateLines(bool force) {
    if (switchedOff_) {
        DeviceLines dark; // no DSR, no CTS, no carrier, no ring
        if (dark != lines_ || force) {
            lines_ = dark;
            if (port_ != nullptr)
                port_->setLines(lines_);
        }
        return;
    }
    std::size_t pending = line_.pendingToLine();
    if (!ctsHeld_ && pending > kCtsOffAbove)
        ctsHeld_ = true;
    else if (ctsHeld_ && pending < kCtsOnBelow)
        ctsHeld_ = false;
    bool connected = (phase_ == Phase::Online || phase_ == Phase::OnlineCommand);
    DeviceLines lines;
    lines.cts = !ctsHeld_;
    lines.dsr = settings_.dsr == 0 || connected;
    if (!lines.dsr && hasFault(config_.faults.dsrAlwaysOn, FaultKind::DsrAlwaysOn)) {
        lines.dsr = true;
        faultActs(dsrFaultLogged_, "dsrAlwaysOn");
    }
    if (lines.dsr && hasFault(false, FaultKind::DsrLost)) {
        lines.dsr = false;
        faultActs(dsrLostLogged_, "dsrLost");
    }
    lines.carrier = settings_.dcd == 0 || (connected && !carrierLost_);
    lines.ring = ringOn_ && phase_ == Phase::Idle;
    if (lines != lines_ || force) {
        lines_ = lines;
        if (port_ != nullptr)
            port_->setLines(lines_);
    }
}

} // namespace vetlina::sim
