#include "sim/exchange/Exchange.h"

#include "platform/Clock.h"

#include <algorithm>
#include <cmath>

namespace vetlina::sim {

// ---------------------------------------------------------------------------
// State

struct Exchange::Link {
    uint32_t rate = 0;
    bool paced = true;
    double bytesPerMs = 0.0;
    std::deque<uint8_t> queue[2]; // 0: caller to callee, 1: callee to caller
    double credit[2] = {1.0, 1.0};
    uint32_t lastTick = 0;
    uint32_t upTick = 0;
    uint64_t bytes = 0;
    std::vector<int> byteFaults;
    std::vector<int> breaks; // line breaks after a time or a number of bytes
};

struct Exchange::Call {
    std::size_t caller = 0;
    std::size_t callee = 0;
    bool answered = false;
    bool alertCallee = true;
    uint32_t startTick = 0;
    uint32_t answerTick = 0;
    int ringsStarted = 0;
    bool training = false;
    bool trainingFailed = false;
    uint32_t trainingSince = 0;
    std::unique_ptr<Link> link;
};

class Exchange::ModemSide final : public ModemLine {
public:
    ModemSide(Exchange& exchange, std::size_t station) : exchange_(exchange), station_(station) {}

    void attach(LineTerminal& terminal) override;
    void use(LineUse use, uint32_t rateLimit) override;
    bool dialTone(bool second) const override { return exchange_.dialToneOn(station_, second); }
    void dial(const std::string& digits) override { exchange_.dial(station_, digits); }
    CallProgress progress() const override { return exchange_.progressOf(station_); }
    bool ringing() const override;
    std::optional<uint32_t> linkRate() const override;
    LinkEnd lastLinkEnd() const override;
    void send(std::span<const uint8_t> bytes) override;
    std::size_t pendingToLine() const override;

private:
    Exchange& exchange_;
    std::size_t station_;
};

class Exchange::AnalyzerSide final : public AnalyzerLine {
public:
    AnalyzerSide(Exchange& exchange, std::size_t station)
        : exchange_(exchange), station_(station) {}

    void hold(bool on) override;
    bool holding() const override;
    bool connected() const override;
    void publish(const GeneratorSignal& signal) override;
    std::optional<FarEnd> farEnd() const override;

private:
    Exchange& exchange_;
    std::size_t station_;
};

struct Exchange::Station {
    StationConfig config;
    LineTerminal* terminal = nullptr;
    LineUse modemUse = LineUse::OnHook;
    uint32_t rateLimit = 0;
    bool analyzerHold = false;
    GeneratorSignal published;
    Call* call = nullptr;
    bool ringOn = false;
    bool attemptBusy = false; // a dialled number gave the busy tone
    bool noDialToneLogged = false;
    LinkEnd lastLinkEnd = LinkEnd::None;
    std::unique_ptr<ModemSide> modemSide;
    std::unique_ptr<AnalyzerSide> analyzerSide;

    bool isComplex() const { return config.kind == StationKind::Complex; }
};

namespace {

bool isDataUse(LineUse use) {
    return use == LineUse::Originate || use == LineUse::Answer;
}

} // namespace

// ---------------------------------------------------------------------------
// The modem's side

void Exchange::ModemSide::attach(LineTerminal& terminal) {
    exchange_.stations_[station_]->terminal = &terminal;
}

void Exchange::ModemSide::use(LineUse use, uint32_t rateLimit) {
    Station& station = *exchange_.stations_[station_];
    station.rateLimit = rateLimit;
    if (station.modemUse == use)
        return;
    station.modemUse = use;
    exchange_.useChanged(station_);
}

bool Exchange::ModemSide::ringing() const {
    return exchange_.stations_[station_]->ringOn;
}

std::optional<uint32_t> Exchange::ModemSide::linkRate() const {
    if (Link* link = exchange_.linkOf(station_))
        return link->rate;
    return std::nullopt;
}

LinkEnd Exchange::ModemSide::lastLinkEnd() const {
    return exchange_.stations_[station_]->lastLinkEnd;
}

void Exchange::ModemSide::send(std::span<const uint8_t> bytes) {
    Link* link = exchange_.linkOf(station_);
    if (link == nullptr)
        return;
    int direction = exchange_.directionFrom(*exchange_.stations_[station_]->call, station_);
    link->queue[direction].insert(link->queue[direction].end(), bytes.begin(), bytes.end());
}

std::size_t Exchange::ModemSide::pendingToLine() const {
    Link* link = exchange_.linkOf(station_);
    if (link == nullptr)
        return 0;
    return link->queue[exchange_.directionFrom(*exchange_.stations_[station_]->call, station_)]
        .size();
}

// ---------------------------------------------------------------------------
// The analyzer's side

void Exchange::AnalyzerSide::hold(bool on) {
    Station& station = *exchange_.stations_[station_];
    if (station.analyzerHold == on)
        return;
    station.analyzerHold = on;
    exchange_.log_.write(station.config.name, on ? "hold" : "release",
                         {{"inCall", station.call != nullptr}});
    exchange_.useChanged(station_);
}

bool Exchange::AnalyzerSide::holding() const {
    return exchange_.stations_[station_]->analyzerHold;
}

bool Exchange::AnalyzerSide::connected() const {
    const Call* call = exchange_.stations_[station_]->call;
    return call != nullptr && call->answered;
}

void Exchange::AnalyzerSide::publish(const GeneratorSignal& signal) {
    exchange_.stations_[station_]->published = signal;
}

std::optional<FarEnd> Exchange::AnalyzerSide::farEnd() const {
    const Call* call = exchange_.stations_[station_]->call;
    if (call == nullptr || !call->answered)
        return std::nullopt;
    std::size_t far = call->caller == station_ ? call->callee : call->caller;
    const Station& farStation = *exchange_.stations_[far];
    FarEnd end;
    end.station = farStation.config.name;
    end.autonomousGenerator = farStation.config.kind == StationKind::Generator;
    if (end.autonomousGenerator) {
        if (exchange_.programme_)
            end.signal = exchange_.programme_(exchange_.tick_ - call->answerTick);
    } else {
        end.signal = farStation.published;
    }
    end.channel = exchange_.channelBetween(station_, far);
    end.reversed = end.channel != nullptr && end.channel->second == farStation.config.name;
    return end;
}

// ---------------------------------------------------------------------------

Exchange::Exchange(const SimConfig& config, EventLog& log, uint32_t startTick)
    : config_(config), log_(log), faults_(config.faults, startTick, log), tick_(startTick) {
    for (std::size_t i = 0; i < config_.stations.size(); ++i) {
        auto station = std::make_unique<Station>();
        station->config = config_.stations[i];
        station->modemSide = std::make_unique<ModemSide>(*this, i);
        station->analyzerSide = std::make_unique<AnalyzerSide>(*this, i);
        stations_.push_back(std::move(station));
    }
}

Exchange::~Exchange() = default;

std::size_t Exchange::stationIndex(const std::string& name) const {
    for (std::size_t i = 0; i < stations_.size(); ++i)
        if (stations_[i]->config.name == name)
            return i;
    return npos;
}

ModemLine& Exchange::modemLine(std::size_t station) {
    return *stations_.at(station)->modemSide;
}

AnalyzerLine& Exchange::analyzerLine(std::size_t station) {
    return *stations_.at(station)->analyzerSide;
}

void Exchange::setGeneratorProgramme(GeneratorProgramme programme) {
    programme_ = std::move(programme);
}

bool Exchange::faultActive(std::size_t station, FaultKind kind) const {
    return faults_.find(kind, stations_.at(station)->config.name, tick_) >= 0;
}

bool Exchange::inCall(std::size_t station) const {
    return stations_.at(station)->call != nullptr;
}

bool Exchange::answered(std::size_t station) const {
    const Call* call = stations_.at(station)->call;
    return call != nullptr && call->answered;
}

bool Exchange::holds(std::size_t station) const {
    const Station& s = *stations_[station];
    return s.isComplex() && (s.modemUse != LineUse::OnHook || s.analyzerHold);
}

std::size_t Exchange::findNumber(const std::string& digits) const {
    for (std::size_t i = 0; i < stations_.size(); ++i) {
        const auto& config = stations_[i]->config;
        if (config.number == digits)
            return i;
        if (std::find(config.aliases.begin(), config.aliases.end(), digits) != config.aliases.end())
            return i;
    }
    return npos;
}

const ChannelConfig* Exchange::channelBetween(std::size_t a, std::size_t b) const {
    const std::string& first = stations_[a]->config.name;
    const std::string& second = stations_[b]->config.name;
    for (const auto& channel : config_.channels) {
        if ((channel.first == first && channel.second == second) ||
            (channel.first == second && channel.second == first))
            return &channel;
    }
    return nullptr;
}

Exchange::Link* Exchange::linkOf(std::size_t station) const {
    const Call* call = stations_[station]->call;
    if (call == nullptr || !call->link)
        return nullptr;
    return call->link.get();
}

int Exchange::directionFrom(const Call& call, std::size_t station) const {
    return call.caller == station ? 0 : 1;
}

// ---------------------------------------------------------------------------
// Taking the line, dialling

void Exchange::useChanged(std::size_t index) {
    Station& station = *stations_[index];
    if (!holds(index)) {
        station.attemptBusy = false;
        station.noDialToneLogged = false;
    }
    Call* call = station.call;
    if (call == nullptr)
        return;
    // Taking a ringing line answers the call.
    if (!call->answered && call->callee == index && holds(index))
        answer(*call, station.modemUse != LineUse::OnHook ? "modem" : "analyzer");
    // A modem that leaves the connection ends it for the far modem.
    if (call->link && !isDataUse(station.modemUse))
        linkDown(*call, index, "modem left the connection");
}

bool Exchange::dialToneOn(std::size_t index, bool second) const {
    Station& station = *stations_[index];
    if (!holds(index) || station.call != nullptr || station.attemptBusy)
        return false;
    int fault = faults_.find(FaultKind::NoDialTone, station.config.name, tick_);
    if (fault >= 0 && (!faults_.fault(fault).secondDialToneOnly || second)) {
        if (!station.noDialToneLogged) {
            station.noDialToneLogged = true;
            faults_.act(fault, {{"second", second}});
        }
        return false;
    }
    return true;
}

void Exchange::dial(std::size_t index, const std::string& digits) {
    Station& station = *stations_[index];
    const std::string& name = station.config.name;
    if (station.call != nullptr) {
        log_.write(name, "dial-ignored", {{"number", digits}, {"reason", "call on the line"}});
        return;
    }
    if (!holds(index) || station.attemptBusy) {
        log_.write(name, "dial-ignored", {{"number", digits}, {"reason", "line not taken"}});
        return;
    }
    if (!dialToneOn(index, false)) {
        log_.write(name, "dial-ignored", {{"number", digits}, {"reason", "no dial tone"}});
        return;
    }
    std::size_t callee = findNumber(digits);
    if (callee == npos) {
        station.attemptBusy = true;
        log_.write(name, "route-failed", {{"number", digits}});
        return;
    }
    Station& called = *stations_[callee];
    if (callee == index || called.call != nullptr || holds(callee)) {
        station.attemptBusy = true;
        log_.write(name, "busy",
                   {{"number", digits}, {"to", called.config.name}, {"reason", "station in use"}});
        return;
    }
    int busy = faults_.find(FaultKind::Busy, called.config.name, tick_);
    if (busy >= 0) {
        station.attemptBusy = true;
        faults_.act(busy, {{"from", name}});
        log_.write(name, "busy",
                   {{"number", digits}, {"to", called.config.name}, {"reason", "fault"}});
        return;
    }
    Call& call = calls_.emplace_back();
    call.caller = index;
    call.callee = callee;
    call.startTick = tick_;
    int noAnswer = faults_.find(FaultKind::NoAnswer, called.config.name, tick_);
    if (noAnswer >= 0) {
        call.alertCallee = false;
        faults_.act(noAnswer, {{"from", name}});
    }
    station.call = &call;
    called.call = &call;
    log_.write(name, "call", {{"number", digits}, {"to", called.config.name}});
}

CallProgress Exchange::progressOf(std::size_t index) const {
    const Station& station = *stations_[index];
    if (const Call* call = station.call) {
        if (call->answered)
            return CallProgress::Answered;
        return call->caller == index ? CallProgress::Ringback : CallProgress::Silence;
    }
    if (station.attemptBusy)
        return CallProgress::Busy;
    if (holds(index) && dialToneOn(index, false))
        return CallProgress::DialTone;
    return CallProgress::Silence;
}

// ---------------------------------------------------------------------------
// Calls

void Exchange::answer(Call& call, const char* by) {
    call.answered = true;
    call.answerTick = tick_;
    Station& callee = *stations_[call.callee];
    callee.ringOn = false;
    log_.write(
        callee.config.name, "answered",
        {{"by", by}, {"from", stations_[call.caller]->config.name}, {"rings", call.ringsStarted}});
}

void Exchange::ring(Call& call) {
    Station& callee = *stations_[call.callee];
    const auto& timing = config_.timing;
    uint32_t elapsed = tick_ - call.startTick;
    if (elapsed < timing.firstRingMs) {
        callee.ringOn = false;
        return;
    }
    uint32_t since = elapsed - timing.firstRingMs;
    int ringIndex = static_cast<int>(since / timing.ringPeriodMs);
    bool on = since % timing.ringPeriodMs < timing.ringOnMs;
    if (!call.alertCallee) {
        callee.ringOn = false;
        return;
    }
    if (ringIndex + 1 > call.ringsStarted && on) {
        call.ringsStarted = ringIndex + 1;
        log_.write(callee.config.name, "ringing",
                   {{"count", call.ringsStarted}, {"from", stations_[call.caller]->config.name}});
    }
    callee.ringOn = on;
    if (callee.config.kind == StationKind::Generator && !on &&
        call.ringsStarted >= callee.config.answerAfterRings)
        answer(call, "generator");
}

void Exchange::train(Call& call) {
    Station& a = *stations_[call.caller];
    Station& b = *stations_[call.callee];
    bool pair =
        b.isComplex() && ((a.modemUse == LineUse::Originate && b.modemUse == LineUse::Answer) ||
                          (a.modemUse == LineUse::Answer && b.modemUse == LineUse::Originate));
    if (!pair) {
        call.training = false;
        call.trainingFailed = false;
        return;
    }
    if (!call.training) {
        call.training = true;
        call.trainingFailed = false;
        call.trainingSince = tick_;
        log_.write(a.config.name, "training", {{"with", b.config.name}});
        return;
    }
    if (call.trainingFailed || !tickReached(call.trainingSince + config_.timing.handshakeMs, tick_))
        return;
    for (std::size_t end : {call.caller, call.callee}) {
        int fault = faults_.find(FaultKind::NoCarrier, stations_[end]->config.name, tick_);
        if (fault >= 0) {
            call.trainingFailed = true;
            faults_.act(fault, {{"caller", a.config.name}, {"callee", b.config.name}});
            return;
        }
    }
    linkUp(call);
}

void Exchange::linkUp(Call& call) {
    Station& a = *stations_[call.caller];
    Station& b = *stations_[call.callee];
    const ChannelConfig* channel = channelBetween(call.caller, call.callee);
    uint32_t lineRate = channel && channel->lineRate ? *channel->lineRate : config_.rates.lineRate;
    auto link = std::make_unique<Link>();
    link->rate = std::min({a.rateLimit, b.rateLimit, lineRate});
    link->paced = !(config_.rates.unthrottled && link->rate >= lineRate);
    link->bytesPerMs = link->rate / config_.rates.bitsPerByte / 1000.0;
    link->lastTick = tick_;
    link->upTick = tick_;
    for (std::size_t i = 0; i < config_.faults.size(); ++i) {
        const FaultConfig& fault = config_.faults[i];
        if (fault.station != a.config.name && fault.station != b.config.name)
            continue;
        if (fault.kind == FaultKind::ByteLoss || fault.kind == FaultKind::ByteDuplicate ||
            fault.kind == FaultKind::ByteCorrupt)
            link->byteFaults.push_back(static_cast<int>(i));
        if (fault.kind == FaultKind::LineBreak && (fault.afterConnectMs || fault.afterBytes) &&
            faults_.mayAct(static_cast<int>(i), tick_))
            link->breaks.push_back(static_cast<int>(i));
    }
    a.lastLinkEnd = LinkEnd::None;
    b.lastLinkEnd = LinkEnd::None;
    log_.write(a.config.name, "connect",
               {{"with", b.config.name}, {"rate", link->rate}, {"paced", link->paced}});
    call.link = std::move(link);
    call.training = false;
}

void Exchange::linkDown(Call& call, std::size_t leaver, const char* reason) {
    if (!call.link)
        return;
    std::size_t other = leaver == call.caller ? call.callee : call.caller;
    stations_[other]->lastLinkEnd = LinkEnd::RemoteHangUp;
    log_.write(
        stations_[leaver]->config.name, "drop",
        {{"with", stations_[other]->config.name}, {"reason", reason}, {"bytes", call.link->bytes}});
    call.link.reset();
    call.training = false;
}

void Exchange::pump(Call& call) {
    Link& link = *call.link;
    uint32_t elapsed = tick_ - link.lastTick;
    link.lastTick = tick_;
    for (int direction = 0; direction < 2 && call.link; ++direction) {
        auto& queue = link.queue[direction];
        std::size_t count = queue.size();
        if (link.paced) {
            // The line carries what is queued at its rate, also across a late poll. An
            // idle line saves nothing up but lets the next byte go at once.
            if (queue.empty()) {
                link.credit[direction] = 1.0;
                continue;
            }
            double cap = link.bytesPerMs * 5000.0 + 1.0;
            link.credit[direction] =
                std::min(link.credit[direction] + elapsed * link.bytesPerMs, cap);
            count = std::min<std::size_t>(count, static_cast<std::size_t>(link.credit[direction]));
            link.credit[direction] -= static_cast<double>(count);
        }
        if (count == 0)
            continue;
        std::size_t from = direction == 0 ? call.caller : call.callee;
        std::size_t to = direction == 0 ? call.callee : call.caller;
        std::vector<uint8_t> out;
        out.reserve(count + 8);
        for (std::size_t i = 0; i < count; ++i) {
            uint8_t byte = queue.front();
            queue.pop_front();
            bool lost = false;
            bool duplicated = false;
            for (int index : link.byteFaults) {
                if (!faults_.mayAct(index, tick_) || !faults_.draw(index))
                    continue;
                const FaultConfig& fault = faults_.fault(index);
                nlohmann::json details = {{"from", stations_[from]->config.name},
                                          {"to", stations_[to]->config.name},
                                          {"byte", byte},
                                          {"offset", link.bytes + i}};
                if (fault.kind == FaultKind::ByteLoss) {
                    lost = true;
                } else if (fault.kind == FaultKind::ByteDuplicate) {
                    duplicated = true;
                } else {
                    byte ^= faults_.corruption(index);
                    details["corrupted"] = byte;
                }
                faults_.act(index, details);
            }
            if (lost)
                continue;
            out.push_back(byte);
            if (duplicated)
                out.push_back(byte);
        }
        link.bytes += count;
        if (!out.empty() && stations_[to]->terminal != nullptr)
            stations_[to]->terminal->fromLine(out);
    }
}

void Exchange::breakCall(Call& call) {
    if (call.link) {
        stations_[call.caller]->lastLinkEnd = LinkEnd::LineLost;
        stations_[call.callee]->lastLinkEnd = LinkEnd::LineLost;
    }
    clear(call, "line broken");
}

void Exchange::clear(Call& call, const char* reason) {
    Station& caller = *stations_[call.caller];
    Station& callee = *stations_[call.callee];
    log_.write(caller.config.name, "clear",
               {{"with", callee.config.name},
                {"reason", reason},
                {"answered", call.answered},
                {"durationMs", static_cast<uint32_t>(tick_ - call.startTick)}});
    caller.call = nullptr;
    callee.call = nullptr;
    callee.ringOn = false;
    call.link.reset();
    for (auto it = calls_.begin(); it != calls_.end(); ++it) {
        if (&*it == &call) {
            calls_.erase(it);
            break;
        }
    }
}

void Exchange::poll(uint32_t tick) {
    tick_ = tick;
    for (int index : faults_.dueBreaks(tick_)) {
        std::size_t station = stationIndex(faults_.fault(index).station);
        if (station != npos && stations_[station]->call != nullptr) {
            faults_.act(index, {{"at", faults_.fault(index).atS.value_or(0.0)}});
            breakCall(*stations_[station]->call);
        } else {
            faults_.act(index, {{"at", faults_.fault(index).atS.value_or(0.0)},
                                {"effect", "no call on the line"}});
        }
    }
    for (auto it = calls_.begin(); it != calls_.end();) {
        Call& call = *it++;
        bool callerHolds = holds(call.caller);
        // The caller's end controls the call; the called end keeps it only while its
        // analyzer holds the line (for the measurement between the modem sessions).
        bool calleeKeeps =
            stations_[call.callee]->isComplex() && stations_[call.callee]->analyzerHold;
        if (!call.answered) {
            if (!callerHolds) {
                clear(call, "caller hung up before an answer");
                continue;
            }
            ring(call);
        }
        if (call.answered && !callerHolds && !calleeKeeps) {
            clear(call, "hung up");
            continue;
        }
        if (!call.answered)
            continue;
        if (!call.link) {
            train(call);
            continue;
        }
        pump(call);
        if (!call.link)
            continue;
        Link& link = *call.link;
        for (int index : link.breaks) {
            const FaultConfig& fault = faults_.fault(index);
            bool due =
                (fault.afterConnectMs && tickReached(link.upTick + *fault.afterConnectMs, tick_)) ||
                (fault.afterBytes && link.bytes >= *fault.afterBytes);
            if (due && faults_.mayAct(index, tick_)) {
                faults_.act(index,
                            {{"bytes", link.bytes},
                             {"afterConnectMs", static_cast<uint32_t>(tick_ - link.upTick)}});
                breakCall(call);
                break;
            }
        }
    }
}

} // namespace vetlina::sim
