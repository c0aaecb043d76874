#include "sim/network/Simulator.h"

#include "platform/Clock.h"

#include <cerrno>
#include <chrono>

namespace vetlina::sim {

Simulator::Simulator(const SimConfig& config, EventLog& log, Options options)
    : config_(config), log_(log) {
    exchange_ = std::make_unique<Exchange>(config_, log_, tickMs());
    if (options.generatorProgramme)
        exchange_->setGeneratorProgramme(options.generatorProgramme);
    for (std::size_t i = 0; i < config_.stations.size(); ++i) {
        const StationConfig& station = config_.stations[i];
        if (station.kind != StationKind::Complex)
            continue;
        Complex complex;
        complex.name = station.name;
        complex.modemPortWanted = station.modem.port;
        complex.analyzerPortWanted = station.analyzer.port;
        std::string error;
        // The configuration was checked when it was read, profiles included.
        auto profiles = initialProfiles(station.modem, error);
        complex.modem = std::make_unique<HayesModem>(
            station.name, station.modem, config_.timing,
            profiles.value_or(std::array<ModemSettings, 2>{factorySettings(), factorySettings()}),
            exchange_->modemLine(i), log_, [exchange = exchange_.get(), i](FaultKind kind) {
                return exchange->faultActive(i, kind);
            });
        if (options.analyzerFactory)
            complex.analyzer = options.analyzerFactory(station, exchange_->analyzerLine(i), log_);
        if (!complex.analyzer) {
            complex.analyzer = std::make_unique<SwitchedOffDevice>();
            log_.write(
                station.name, "analyzer-off",
                {{"detail", "no analyzer model: the port serves a switched-off instrument"}});
        }
        complex.modemServer =
            std::make_unique<Rfc2217Server>(station.name, "modem", *complex.modem, log_);
        complex.analyzerServer =
            std::make_unique<Rfc2217Server>(station.name, "analyzer", *complex.analyzer, log_);
        complexes_.push_back(std::move(complex));
    }
}

Simulator::~Simulator() = default;

bool Simulator::start(std::string& error) {
    for (auto& complex : complexes_) {
        std::string why;
        if (!complex.modemServer->listen(complex.modemPortWanted, why)) {
            error = complex.name + " modem port: " + why;
            return false;
        }
        if (!complex.analyzerServer->listen(complex.analyzerPortWanted, why)) {
            error = complex.name + " analyzer port: " + why;
            return false;
        }
    }
    // The programs' waits count on the instruments and lines computed here: from now on
    // the network's clock runs on only while this loop comes round.
    hold_.emplace();
    log_.write("", "started", {{"stations", config_.stations.size()}, {"timeScale", timeScale()}});
    return true;
}

void Simulator::step(int waitMs) {
    fds_.clear();
    for (auto& complex : complexes_) {
        complex.modemServer->addPollFds(fds_);
        complex.analyzerServer->addPollFds(fds_);
    }
    if (hold_)
        hold_->alive();
    const auto start = std::chrono::steady_clock::now();
    int ready = ::poll(fds_.data(), fds_.size(), waitMs);
    // Awake again: the clock runs on from here, whatever kept the loop away.
    if (hold_)
        hold_->alive();
    if (ready == 0) {
        // A wake-up that came late tells the shared clock how punctual the machine is.
        noteLateWakeUp(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count() -
            waitMs);
    }
    if (ready > 0) {
        for (auto& complex : complexes_) {
            complex.modemServer->service(fds_);
            complex.analyzerServer->service(fds_);
        }
    }
    uint32_t tick = tickMs();
    exchange_->poll(tick);
    for (auto& complex : complexes_) {
        complex.modemServer->poll(tick);
        complex.analyzerServer->poll(tick);
    }
}

void Simulator::run(const std::atomic<bool>& stop) {
    // A short period keeps rings, guard times and paced data close to the clock at
    // any time scale, while a busy socket is served at once.
    constexpr int kPeriodMs = 2;
    while (!stop.load(std::memory_order_acquire))
        step(kPeriodMs);
    hold_.reset();
    log_.write("", "stopped");
}

const Simulator::Complex* Simulator::find(const std::string& station) const {
    for (const auto& complex : complexes_)
        if (complex.name == station)
            return &complex;
    return nullptr;
}

uint16_t Simulator::modemPort(const std::string& station) const {
    const Complex* complex = find(station);
    return complex ? complex->modemServer->port() : 0;
}

uint16_t Simulator::analyzerPort(const std::string& station) const {
    const Complex* complex = find(station);
    return complex ? complex->analyzerServer->port() : 0;
}

HayesModem* Simulator::modem(const std::string& station) {
    const Complex* complex = find(station);
    return complex ? complex->modem.get() : nullptr;
}

} // namespace vetlina::sim
