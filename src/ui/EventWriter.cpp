#include "ui/EventWriter.h"

#include "config/Configuration.h"
#include "platform/Clock.h"

namespace vetlina {

std::string eventLine(DateTime at, std::string_view text) {
    std::string line = formatTime(at);
    line += ' ';
    line += text;
    return line;
}

std::string eventRecord(std::string_view line) {
    std::string record = "<br>";
    record += line;
    record += "\r\n";
    return record;
}

void EventWriter::logEvent(const std::string& text, bool toStateLabel) {
    std::string line = eventLine(now(), text);
    showProtocolLine(line);
    if (toStateLabel)
        SetStateText(line);
    appendProtocol(eventRecord(line));
}

void EventWriter::traceEvent(const std::string& text) {
    if (!traceSwitch().load(std::memory_order_relaxed))
        return;
    showProtocolLine(eventLine(now(), text));
}

void EventWriter::logBlankLine() {
    showProtocolLine(std::string());
    appendProtocol(std::string(kBlankRecord));
}

} // namespace vetlina
