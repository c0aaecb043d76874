// The analyzer's side of the exchange: what a station's ZMK-5 does with its
// telephone line through its line interface, and what reaches it over the line.
//
// A complex station has one subscriber line shared by its modem and its analyzer.
// The analyzer's line interface can take the line (hold) and let it go (release).
// A call between two stations stands while the calling station holds its line
// (modem or analyzer) or the called station's analyzer holds its end: the modems
// may hang up while the analyzers measure, and can later reconnect on the same call
// (originate on one side, answer on the other). Otherwise the exchange clears it.
//
// Everything runs on the simulator's event loop (see SerialDevice.h); the object is
// owned by the exchange and lives as long as the simulator.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vetlina::sim {

struct ChannelConfig; // Config.h: the configured channel between two stations
struct StationConfig; // Config.h: a station, with its analyzer's options
class EventLog;       // EventLog.h
class SerialDevice;   // SerialDevice.h

// What a generator sends into the line. The analyzer fills it; kind 0 is silence,
// the analyzer gives the other kinds their meaning.
struct GeneratorSignal {
    int kind = 0;
    double levelDbm = -200.0;
    double frequencyHz = 0.0;

    bool operator==(const GeneratorSignal&) const = default;
};

// The fixed programme of an autonomous generator station: what it sends the given
// milliseconds after it answered a call.
using GeneratorProgramme = std::function<GeneratorSignal(uint32_t msSinceAnswer)>;

// What arrives at this station from the far end of its call.
struct FarEnd {
    std::string station; // name of the far station
    bool autonomousGenerator = false;
    GeneratorSignal signal;                 // what the far generator sends now
    const ChannelConfig* channel = nullptr; // the channel between the two stations;
                                            // nullptr when none is configured (an ideal line)
    bool reversed = false; // the signal travels from the channel's second station to its first
};

class AnalyzerLine {
public:
    virtual ~AnalyzerLine() = default;

    // The line interface takes the line (true) or lets it go (false). Taking an idle
    // line gives a dial tone and nothing more; taking a ringing line answers the call.
    virtual void hold(bool on) = 0;
    virtual bool holding() const = 0;

    // A call stands on this station's line and the far end has answered.
    virtual bool connected() const = 0;

    // What this station's generator sends from now on (kind 0: nothing).
    virtual void publish(const GeneratorSignal& signal) = 0;

    // The far end of the call while one stands and has answered; nullopt otherwise.
    virtual std::optional<FarEnd> farEnd() const = 0;
};

// Makes the analyzer of a complex station. The simulator calls it once per complex
// station, serves the device on the station's analyzer port and polls it.
using AnalyzerFactory = std::function<std::unique_ptr<SerialDevice>(
    const StationConfig& station, AnalyzerLine& line, EventLog& log)>;

} // namespace vetlina::sim
