#include "sim/network/EventLog.h"

#include "platform/Clock.h"
#include "platform/DateTime.h"

#include <cstdio>

namespace vetlina::sim {

namespace {

std::string timeText(DateTime at) {
    CivilTime t = decodeDateTime(at);
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d.%03d", t.day, t.month, t.year,
                  t.hour, t.minute, t.second, t.millisecond);
    return text;
}

} // namespace

EventLog::EventLog(std::ostream* out) : out_(out) {}

void EventLog::write(std::string_view station, std::string_view event, nlohmann::json details) {
    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    line["time"] = timeText(now());
    line["tick"] = tickMs();
    line["station"] = std::string(station);
    line["event"] = std::string(event);
    if (details.is_object()) {
        for (auto& [key, value] : details.items())
            line[key] = value;
    }
    if (out_ != nullptr) {
        // Invalid UTF-8 cannot reach here through printable(); replace keeps a
        // careless caller from ending the simulator.
        *out_ << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        out_->flush();
    }
    if (observer_)
        observer_(nlohmann::json(line));
}

void EventLog::setObserver(std::function<void(const nlohmann::json&)> observer) {
    observer_ = std::move(observer);
}

std::string printable(std::span<const uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (uint8_t byte : bytes) {
        if (byte == '\\') {
            text += "\\\\";
        } else if (byte == '\r') {
            text += "\\r";
        } else if (byte == '\n') {
            text += "\\n";
        } else if (byte >= 0x20 && byte < 0x7F) {
            text += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        }
    }
    return text;
}

std::string printable(std::string_view bytes) {
    return printable(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

} // namespace vetlina::sim
