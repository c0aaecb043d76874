#include "sim/exchange/FaultSchedule.h"

#include "platform/Clock.h"

namespace vetlina::sim {

FaultSchedule::FaultSchedule(const std::vector<FaultConfig>& faults, uint32_t startTick,
                             EventLog& log)
    : startTick_(startTick), log_(log) {
    for (const auto& fault : faults)
        faults_.push_back({fault, 0, false, std::mt19937(fault.seed)});
}

bool FaultSchedule::mayAct(int index, uint32_t tick) const {
    const Entry& entry = faults_[index];
    double seconds = static_cast<uint32_t>(tick - startTick_) / 1000.0;
    if (seconds < entry.config.fromS)
        return false;
    if (entry.config.untilS && seconds >= *entry.config.untilS)
        return false;
    if (entry.config.times && entry.acted >= *entry.config.times)
        return false;
    return true;
}

int FaultSchedule::find(FaultKind kind, const std::string& station, uint32_t tick) const {
    for (std::size_t i = 0; i < faults_.size(); ++i) {
        const auto& config = faults_[i].config;
        if (config.kind == kind && config.station == station && mayAct(static_cast<int>(i), tick))
            return static_cast<int>(i);
    }
    return -1;
}

void FaultSchedule::act(int index, nlohmann::json details) {
    Entry& entry = faults_[index];
    ++entry.acted;
    details["fault"] = faultName(entry.config.kind);
    details["index"] = index;
    details["acted"] = entry.acted;
    log_.write(entry.config.station, "fault", details);
}

std::vector<int> FaultSchedule::dueBreaks(uint32_t tick) {
    std::vector<int> due;
    double seconds = static_cast<uint32_t>(tick - startTick_) / 1000.0;
    for (std::size_t i = 0; i < faults_.size(); ++i) {
        Entry& entry = faults_[i];
        if (entry.config.kind != FaultKind::LineBreak || !entry.config.atS || entry.due)
            continue;
        if (seconds >= *entry.config.atS) {
            entry.due = true;
            due.push_back(static_cast<int>(i));
        }
    }
    return due;
}

bool FaultSchedule::draw(int index) {
    Entry& entry = faults_[index];
    // 24 bits of the generator: the same sequence with the same seed on any machine.
    double value = static_cast<double>(entry.random() >> 8) / 16777216.0;
    return value < entry.config.probability;
}

uint8_t FaultSchedule::corruption(int index) {
    return static_cast<uint8_t>(1 + faults_[index].random() % 255);
}

} // namespace vetlina::sim
