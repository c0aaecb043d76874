// The simulator's event log: one JSON object per line, flushed per line, for every
// thing that happens on the simulated network (connections of the program's ports,
// AT commands and results, dialling, rings, answers, connections, drops, holds,
// faults, protocol errors). Tests and the end-to-end suite read it.
//
// Every line has the members "time" (the scaled clock's date-time,
// "dd.mm.yyyy hh:nn:ss.zzz"), "tick" (the scaled tick counter, ms), "station" (the
// station's name, "" for the simulator itself) and "event"; the event's details
// follow as further members. Texts are UTF-8; bytes from ports are written with
// printable() so that any byte survives.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace vetlina::sim {

class EventLog {
public:
    // Lines go to out (nullptr: nowhere, only to the observer).
    explicit EventLog(std::ostream* out);

    void write(std::string_view station, std::string_view event,
               nlohmann::json details = nlohmann::json::object());

    // Called with every event after it has been written (tests wait on it).
    void setObserver(std::function<void(const nlohmann::json&)> observer);

private:
    std::ostream* out_;
    std::function<void(const nlohmann::json&)> observer_;
};

// Bytes as log text: printable ASCII as it is, backslash, CR, LF and every other
// byte escaped ("\\", "\r", "\n", "\xNN").
std::string printable(std::span<const uint8_t> bytes);
std::string printable(std::string_view bytes);

} // namespace vetlina::sim
