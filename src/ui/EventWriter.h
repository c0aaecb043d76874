// The writers of event lines: every event of a run as one time-stamped line, shown in
// the protocol window and appended to the run's protocol document (reports/EventProtocol.h).
// Trace lines (the "/d" switch) go to the window only.
#pragma once

#include "platform/DateTime.h"

#include <string>
#include <string_view>

namespace vetlina {

// "hh:nn:ss " + text: the line as the protocol window shows it.
std::string eventLine(DateTime at, std::string_view text);
// "<br>" + line + "\r\n": what an event line appends to the document. The "<br>" stands
// in front so that each line closes the previous one in the HTML view.
std::string eventRecord(std::string_view line);
// What a blank line appends.
inline constexpr std::string_view kBlankRecord = "<br>\r\n";
// The writers of event lines: the device threads (through their own hand-offs) and the
// run on the main thread. The three operations compose the lines; the writer supplies
// the window hand-offs and the document.
class EventWriter {
public:
    virtual ~EventWriter() = default;

    // An event line: to the protocol window, to the state label when toStateLabel, and to
    // the protocol document.
    void logEvent(const std::string& text, bool toStateLabel);
    // A trace line: to the protocol window only, and only while the trace switch is on.
    void traceEvent(const std::string& text);
    // A blank line: an empty window line and "<br>\r\n" in the document.
    void logBlankLine();

    // Appends a line (cp1251) to the protocol window's memo.
    virtual void showProtocolLine(const std::string& text) = 0;
    // Sets the run window's state label.
    virtual void SetStateText(const std::string& text) = 0;
    // Appends bytes to the current run's protocol document.
    virtual void appendProtocol(const std::string& text) = 0;
};

} // namespace vetlina
