// The serial-port worker thread of a run, the base of the analyzer thread ZMK and the
// modem thread MODEM: the command number through which the other thread steers this
// one, the port operations (every one non-blocking or bounded in time), and the
// synchronous hand-offs of text to the windows of the main thread.
#pragma once

#include "device/DeviceThread.h"
#include "device/SerialPort.h"
#include "ui/EventWriter.h"
#include "ui/WindowModels.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vetlina {

class UiBridge;

// Makes the serial port behind "COM<n>" (not yet open). The program resolves the
// name through the configuration (makeComPort, device/ComPort.h); tests hand in
// in-memory ports. A null port cannot be opened.
using PortFactory = std::function<std::unique_ptr<SerialPort>(int32_t portNumber)>;

class Device : public DeviceThread, public EventWriter {
public:
    // A write gives up after this many milliseconds (flow control may hold the output).
    static constexpr uint32_t kWriteTimeoutMs = 600;
    // OpenPort waits this long before it purges the fresh port.
    static constexpr uint32_t kOpenSettleMs = 60;
    // An empty read sleeps this long, so a polling loop wakes about 20 times a second.
    static constexpr uint32_t kEmptyReadSleepMs = 50;
    // getch_wait waits this long for a byte.
    static constexpr uint32_t kByteWaitMs = 300;
    // The port speed until the analyzer changes it.
    static constexpr uint32_t kOpeningBaudRate = 9600;

    // run: where the protocol lines of this thread go besides the window (the run that
    // created the thread); none for a thread outside a run.
    Device(UiBridge& ui, PortFactory ports, EventWriter* run = nullptr);
    ~Device() override;

    // ---- Command number -------------------------------------------------------------
    // The command that stops a thread for good, the same in both threads' numbering
    // (AnalyzerCommand::Stopped, ModemCommand::Stopped).
    static constexpr int32_t kStopCommand = -1;
    // Stores n unless the thread has been stopped for good: false then. Another thread
    // steers this one only through this; the store (release) hands over the step and
    // every datum that goes with it. The thread classes offer it with their own
    // command numbers (device/AnalyzerCommands.h, device/ModemCommands.h).
    bool SetCommand(int32_t n);
    // The command as the loop reads it at the top of each pass (acquire).
    int32_t command() const { return command_.load(std::memory_order_acquire); }
    // Stops the thread for good (SetCommand with kStopCommand): false when it was already.
    bool stop() { return SetCommand(kStopCommand); }
    bool stopped() const { return command() == kStopCommand; }

    // ---- Port operations (on the owning thread) --------------------------------------
    // Each tests the port first and does nothing (false, 0) while it is closed.
    PortOpenResult OpenPort();
    // The port's own error text of the last OpenPort that failed (shown in the "System
    // Error" box of a port that opened but could not be set up); empty after a success.
    const std::string& openError() const { return openError_; }
    void ClosePort();
    bool portOpen() const;
    void PurgePort();
    // Clears the error state; true when transmission is held waiting for CTS.
    bool ClearErrors();
    // Applies the line settings again at another speed (the analyzer's speed change).
    bool SetBaudRate(uint32_t baudRate);
    bool putch(uint8_t byte);
    bool puts(const uint8_t* bytes, std::size_t count);
    bool puts(std::string_view bytes);
    // One byte if one is buffered; otherwise sleeps 50 ms and returns false.
    bool getch(uint8_t& byte);
    // getch until a byte comes or 300 ms of the clock have passed.
    bool getch_wait(uint8_t& byte);
    // What is buffered, up to max bytes; nothing: sleeps 50 ms, 0.
    std::size_t gets(uint8_t* buffer, std::size_t max);
    void dtr(bool on);
    // Carrier detect or DSR on (a modem keeps DSR on while a connection stands).
    bool carrier();
    bool dsr();
    bool cts();
    bool dsr_or_cts_off();

    // ---- Hand-offs to the main thread (each waits until the window model has it) ------
    void showProtocolLine(const std::string& text) override;
    void SetResultsCaption(const std::string& text);
    void SetShowCaption(const std::string& text);
    void ResetStatistics();
    void SetStateText(const std::string& text) override;
    // Shows `progress` on the bar `progressBar` of the visualisation window.
    void ShowProgress();
    // Shows a link counter of the run window.
    void ShowCounter(RunCounter which, int32_t value);
    // Any other update of a window model, run on the main thread while this thread waits.
    void invokeSync(const std::function<void()>& update);

    // Appends to the run's protocol document (nothing without a run or while it is closed).
    void appendProtocol(const std::string& text) override;

    UiBridge& ui() { return ui_; }

    // ---- Fields (the derived constructors set the port number) -----------------------
    int32_t portNumber = 0;    // COM port number, 1..9
    LineSettings lineSettings; // baud rate; framing and flow control are fixed
    uint32_t deadline = 0;     // end of the current timed step (tick ms)
    int32_t progress = 0;      // 0..100, for ShowProgress
    ShowKind progressBar = ShowKind::Sin;
    std::string resultsCaptionText; // pending hand-off texts: written just before the
    std::string stateText;          // hand-off by this thread, read by the main thread
    std::string protocolText;       // inside it

protected:
    // Wakes a main thread that waits for this thread's end.
    void OnFinished() override;

private:
    UiBridge& ui_;
    EventWriter* run_;
    PortFactory ports_;
    std::unique_ptr<SerialPort> port_;
    std::string openError_;
    std::atomic<int32_t> command_{0};
};

} // namespace vetlina
