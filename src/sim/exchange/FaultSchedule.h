// The scheduled faults of the network: which may act now, how often they have
// acted, and the seeded generators of the byte faults. Every fault is logged when
// it acts ("fault" event), by whoever applies it.
#pragma once

#include "sim/network/Config.h"
#include "sim/network/EventLog.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace vetlina::sim {

class FaultSchedule {
public:
    FaultSchedule(const std::vector<FaultConfig>& faults, uint32_t startTick, EventLog& log);

    // A fault of this kind for this station that may act now (its window is open
    // and it has acts left), or -1.
    int find(FaultKind kind, const std::string& station, uint32_t tick) const;

    // The fault acts: counted and logged with the details of what it did.
    void act(int index, nlohmann::json details = nlohmann::json::object());

    const FaultConfig& fault(int index) const { return faults_[index].config; }

    // Line breaks fixed to a moment that has come; each is returned once.
    std::vector<int> dueBreaks(uint32_t tick);

    // One draw of a byte fault: true with the fault's probability.
    bool draw(int index);
    // A non-zero byte to corrupt a data byte with.
    uint8_t corruption(int index);

    bool mayAct(int index, uint32_t tick) const;

private:
    struct Entry {
        FaultConfig config;
        int acted = 0;
        bool due = false; // a break at a moment that has been handled
        std::mt19937 random;
    };

    std::vector<Entry> faults_;
    uint32_t startTick_;
    EventLog& log_;
};

} // namespace vetlina::sim
