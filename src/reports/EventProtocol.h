// The event protocol: every event of a run as one time-stamped line, shown in the
// protocol window and appended to the protocol document Prot.htm, which keeps the
// history of every run of the complex. Trace lines (the "/d" switch) go to the window
// only.
#pragma once

#include "platform/DateTime.h"
#include "platform/Files.h"
#include "ui/EventWriter.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace vetlina {

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
