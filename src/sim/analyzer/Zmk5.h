// The simulated ZMK-5 channel analyzer behind a complex station's analyzer port.
//
// Switched on, it raises DSR and CTS and waits at 9600 baud for the speed command
// "$S" and a digit ("5" 38 400, "6" 57 600, "7" 115 200 baud). It answers with the
// same three characters and switches to that speed (another digit is answered
// "$N" and the digit, and the analyzer stays at 9600); it then waits for a CR at the
// new speed, answers CR and sends its identification text, "ZMK-5 Kerat, channel
// analyzer" and CR LF. From then on it takes command blocks (Zmk5Commands.h), each
// announced by the block with the word 10, acknowledges every block with ACK, and
// sends data blocks (Zmk5Meter.h) while its meter runs. Between blocks it obeys two
// escape sequences: ESC "H000" switches the generator off and lets the line go, ESC
// "Z" resets it to its power-on state (9600 baud, waiting for the speed command).
// Bytes that arrive at another speed or line format than its own are noise to it,
// and what it sends then is noise to the computer.
//
// The line interface: the switching mode (command 15) decides what is connected.
// Modes with the value 8 set (11, 27, 265, 282, 283) connect the analyzer to the
// subscriber line and so hold it; 0 and the local modes (3, 19, 131, 147, 257, 274,
// 275) let it go. 274 and 282 put the impedance divider in circuit without the line
// (its reference), 275 and 283 with it; after an echo set-up (command 9), 131, 147,
// 275 and 283 are the echo modes, in which the meter hears the own generator at the
// line terminals. The generator's signal reaches the line only while it is held.
//
// Events go to the simulator's event log under the station's name: analyzer-power,
// analyzer-speed, analyzer-identification, analyzer-calibration, analyzer-command,
// analyzer-generator, analyzer-line-mode, analyzer-meter, analyzer-reset,
// protocol-error, fault.
#pragma once

#include "sim/analyzer/Zmk5Commands.h"
#include "sim/analyzer/Zmk5Generator.h"
#include "sim/analyzer/Zmk5Link.h"
#include "sim/analyzer/Zmk5Meter.h"
#include "sim/analyzer/Zmk5Options.h"
#include "sim/channel/ChannelPath.h"
#include "sim/exchange/AnalyzerLine.h"
#include "sim/network/EventLog.h"
#include "sim/ports/SerialDevice.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vetlina::sim {

struct StationConfig;

class Zmk5 : public SerialDevice {
public:
    static constexpr const char* kIdentification = "ZMK-5 Kerat, channel analyzer";

    Zmk5(std::string station, Zmk5Options options, AnalyzerLine& line, EventLog& log);

    void attach(PortSide& port) override;
    void computerConnected(bool connected) override;
    void receive(std::span<const uint8_t> bytes) override;
    void setLineFormat(const LineFormat& format) override;
    void setDtr(bool on) override;
    void setRts(bool on) override;
    void purged(bool toComputer, bool toDevice) override;
    void poll(uint32_t tick) override;

    // State seen from outside (tests, diagnostics).
    bool switchedOn() const { return on_; }
    uint32_t baudRate() const { return baud_; }
    bool ready() const { return state_ == State::Blocks; }
    int lineMode() const { return lineMode_; }
    const LineConnection& connection() const { return connection_; }
    const Zmk5Meter& meter() const { return meter_; }
    const Zmk5Generator& generator() const { return generator_; }

private:
    enum class State { Off, Speed, AwaitCr, Blocks };

    // Faults.
    bool faultActs(Zmk5FaultKind kind, const std::function<bool(const Zmk5Fault&)>& applies = {});
    bool switchedOffNow() const;
    double secondsSinceStart() const;
    void logFault(const Zmk5Fault& fault, nlohmann::json details = nlohmann::json::object());

    // Power and reset.
    void switchOn();
    void switchOff();
    void resetToPowerOn(const char* cause);

    // Link.
    bool formatMatches() const;
    void transmit(std::span<const uint8_t> bytes);
    void transmitText(const std::string& text);
    void sendBlock(std::span<const int16_t> words);
    void character(uint8_t byte);
    void speedCommand(char digit);
    void escapeSequence(uint8_t byte);
    void block(const std::vector<uint8_t>& bytes, bool overLong);
    void execute(const zmk5::Command& command);
    // The commands, one step each: what the analyzer does with the command, and the
    // details of its analyzer-command event; nothing when it refuses the command (a
    // protocol error, and no analyzer-command event).
    using CommandDetails = std::optional<nlohmann::json>;
    CommandDetails restartMeter(const zmk5::MeterRestart& c);
    CommandDetails setHarmonic(const zmk5::HarmonicSet& c);
    CommandDetails setComposite(const zmk5::CompositeSet& c);
    CommandDetails setThresholds(const zmk5::ThresholdSet& c);
    CommandDetails noSignal();
    CommandDetails setDeadTimes(const zmk5::DeadTimeSet& c);
    CommandDetails setEchoProbes(const zmk5::EchoSet& c);
    CommandDetails setMeterRange(const zmk5::MeterRange& c);
    CommandDetails sendCalibration();
    CommandDetails changeLineMode(const zmk5::LineMode& c);
    void protocolError(const std::string& error);

    // Instrument.
    void setLineMode(const zmk5::LineMode& mode);
    void updateConnection();
    void publishGenerator();
    void advanceSignal();
    void stream();

    std::string station_;
    Zmk5Options options_;
    AnalyzerLine& line_;
    EventLog& log_;
    PortSide* port_ = nullptr;

    std::vector<int> faultUses_;
    bool started_ = false;
    uint32_t startTick_ = 0;
    uint32_t lastTick_ = 0;
    double clockMs_ = 0.0; // scaled ms since the first poll
    double pollGapMs_ = 0.0;

    bool on_ = false;
    State state_ = State::Off;
    uint32_t baud_ = 9600;
    LineFormat computer_;
    bool garbageLogged_ = false;
    double uartFreeMs_ = 0.0;
    std::string speedInput_;
    std::vector<uint8_t> escape_;
    zmk5::BlockReceiver receiver_;
    bool announced_ = false;

    int lineMode_ = 0;
    int lastGeneratorCommand_ = -1;
    LineConnection connection_;
    bool holding_ = false;
    GeneratorSignal published_;
    bool publishedOnce_ = false;

    Zmk5Generator generator_;
    Zmk5Meter meter_;
    ChannelPath path_;
    std::vector<double> buffer_;
};

// The analyzer factory of the simulator (AnalyzerLine.h): a ZMK-5 with the station's
// analyzer options (read and checked with the configuration).
std::unique_ptr<SerialDevice> makeZmk5(const StationConfig& station, AnalyzerLine& line,
                                       EventLog& log);

} // namespace vetlina::sim
