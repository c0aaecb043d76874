// The event protocol: every event of a run as one time-stamped line, shown in the
// protocol window and appended to the protocol document Prot.htm, which keeps the
// history of every run of the complex. Trace lines (the "/d" switch) go to the window
// only.
#pragma once

#include "platform/DateTime.h"
#include "platform/Files.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace vetlina {

class UiBridge;

// "hh:nn:ss " + text: the line as the protocol window shows it.
std::string eventLine(DateTime at, std::string_view text);
// "<br>" + line + "\r\n": what an event line appends to the document. The "<br>" stands
// in front so that each line closes the previous one in the HTML view.
std::string eventRecord(std::string_view line);
// What a blank line appends.
inline constexpr std::string_view kBlankRecord = "<br>\r\n";
// The first bytes of a new protocol document.
inline constexpr std::string_view kProtocolFileHead = "<html>\r\n";

// What the run header of the protocol names.
struct ProtocolHeader {
    std::string ident; // the complex identifier (cp1251)
    DateTime runStartTime = 0;
    int32_t modemPort = 0;
    std::string modemIdentification; // the modem's reply at initialisation (cp1251)
    int32_t analyzerPort = 0;
    int16_t analyzerSerial = 0;   // calibration word 9
    int16_t analyzerFirmware = 0; // calibration word 10
    std::string startText;        // the run window's state text at start (cp1251)
};
// The header one run appends to the protocol document.
std::string protocolHeader(const ProtocolHeader& header);

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

// Prot.htm while a run has it open. Appends come from the analyzer thread, the modem
// thread and the main thread; one lock around each write and its flush keeps their
// lines whole and in one order.
class ProtocolDocument {
public:
    // Creates the file with "<html>\r\n" when there is none, opens it for appending
    // (others may read, no other writer), and writes the header with a flush. False when
    // any of it fails; a file this call created is then removed again, so that the next
    // run starts it afresh with its head.
    bool open(const std::string& path, const std::string& header);
    // Writes the bytes in one write and flushes the system's buffers of the file. Nothing
    // for an empty text or while closed. False when the write or the flush failed; the
    // document is then cut back to where the line began, so no torn line stays in it.
    bool append(std::string_view bytes);
    bool isOpen() const;
    void close();

private:
    mutable std::mutex mutex_;
    File file_;
};

} // namespace vetlina
