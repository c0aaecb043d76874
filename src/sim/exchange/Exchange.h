// The simulated telephone exchange: one subscriber line per station, calls between
// them, and the data connections of the modems on those calls.
//
// A complex station's line is taken when its modem or its analyzer holds it. A
// dialled number is routed to the station with that number (or one of its
// aliases); a free station rings (every ringPeriodMs, the ring signal lasting
// ringOnMs), a station in use or under a "busy" fault gives the busy tone, an
// unknown number the same. A complex answers when one of its devices takes the
// ringing line; an autonomous generator answers by itself at its configured ring.
// The caller's end controls the call: it stands while the calling station holds
// its line (modem or analyzer), and also while the called station's analyzer holds
// its end, so that the modems can hang up while the analyzers measure and connect
// again afterwards.
//
// Two modems on one call, one originating and one answering, train for
// handshakeMs and then carry data both ways at the connection's rate (the lower
// of the two modems' limits and the channel's line rate), paced at rate /
// bitsPerByte bytes per second unless the network is unthrottled. Scheduled faults
// act here: busy, no answer, no dial tone, no carrier, line breaks, and lost,
// duplicated or corrupted data bytes.
#pragma once

#include "sim/exchange/AnalyzerLine.h"
#include "sim/exchange/FaultSchedule.h"
#include "sim/exchange/ModemLine.h"
#include "sim/network/Config.h"
#include "sim/network/EventLog.h"

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace vetlina::sim {

class Exchange {
public:
    Exchange(const SimConfig& config, EventLog& log, uint32_t startTick);
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    std::size_t stationIndex(const std::string& name) const;

    ModemLine& modemLine(std::size_t station);
    AnalyzerLine& analyzerLine(std::size_t station);

    // What autonomous generator stations send once they have answered.
    void setGeneratorProgramme(GeneratorProgramme programme);

    // One step of the exchange's time: rings, answers of generators, training of
    // modems, data on the connections, faults that are due, calls that end.
    void poll(uint32_t tick);

    // Whether a scheduled fault of this kind for the station may act now (the
    // modem's own faults, which the modem logs itself).
    bool faultActive(std::size_t station, FaultKind kind) const;

    // For tests: whether a call stands on the station's line, and whether its
    // modems are connected.
    bool inCall(std::size_t station) const;
    bool answered(std::size_t station) const;

private:
    struct Station;
    struct Call;
    struct Link;
    class ModemSide;
    class AnalyzerSide;

    // Modem and analyzer actions.
    void useChanged(std::size_t station);
    bool dialToneOn(std::size_t station, bool second) const;
    void dial(std::size_t station, const std::string& digits);
    CallProgress progressOf(std::size_t station) const;
    Link* linkOf(std::size_t station) const;
    int directionFrom(const Call& call, std::size_t station) const;

    void answer(Call& call, const char* by);
    void ring(Call& call);
    void train(Call& call);
    void linkUp(Call& call);
    void linkDown(Call& call, std::size_t leaver, const char* reason);
    void pump(Call& call);
    void breakCall(Call& call);
    void clear(Call& call, const char* reason);
    bool holds(std::size_t station) const;
    std::size_t findNumber(const std::string& digits) const;
    const ChannelConfig* channelBetween(std::size_t a, std::size_t b) const;

    SimConfig config_;
    EventLog& log_;
    mutable FaultSchedule faults_; // acting is logged and counted, also from queries
    std::vector<std::unique_ptr<Station>> stations_;
    std::list<Call> calls_;
    GeneratorProgramme programme_;
    uint32_t tick_;
};

} // namespace vetlina::sim
