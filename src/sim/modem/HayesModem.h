// The simulated Hayes modem of a complex station: the device behind the station's
// modem port, on the station's telephone line.
//
// Command mode: "AT" command lines with echo (E), numeric or verbal results (V),
// quiet mode (Q), result sets and call progress detection (X), the profile commands
// (&F, &W, Z), identification (I), S-registers (Sn?, Sn=v), DTR handling (&D), DSR
// and CD behaviour (&S, &C), leased-line mode (&L) and the other switches of a
// set-up string, which it keeps. Calls: dialling with the Hayes dial modifiers,
// ring and automatic answer (S0), answer (A), originate on a line that is already
// held (D without a number), the "+++" escape with guard time, O and H. Data passes
// to and from the far modem through the exchange.
//
// A command line's result follows its CR after the command has run; when the
// computer sends LF after the CR, the LF is echoed before the result, and the
// result follows at once (the modem's processing time, resultDelayMs but never less
// than 200 ms of real time, is the longest it holds a result back). That LF is
// never data and never a key that ends a call attempt, however late it comes.
#pragma once

#include "sim/exchange/ModemLine.h"
#include "sim/modem/DialString.h"
#include "sim/modem/ModemSettings.h"
#include "sim/network/Config.h"
#include "sim/network/EventLog.h"
#include "sim/ports/SerialDevice.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vetlina::sim {

// The two stored profiles a modem starts with: from its profile file when that
// exists, else the factory profile changed by the configured stored-profile
// commands. nullopt (with error) for a profile file or commands that are wrong.
std::optional<std::array<ModemSettings, 2>> initialProfiles(const ModemConfig& config,
                                                            std::string& error);

class HayesModem final : public SerialDevice, public LineTerminal {
public:
    enum class Phase {
        Idle,          // on hook, command mode
        OffHook,       // holding the line in command mode (after ";" or H1)
        Resetting,     // Z in progress
        Dialing,       // performing a dial string
        Connecting,    // originating or answering, waiting for the far modem
        Online,        // data mode
        OnlineCommand, // command mode with the connection standing ("+++")
    };

    // Whether a scheduled fault of the modem (NoEcho, DsrAlwaysOn, ModemOff, DsrLost)
    // holds now.
    using FaultProbe = std::function<bool(FaultKind)>;

    HayesModem(std::string station, const ModemConfig& config, const TimingConfig& timing,
               const std::array<ModemSettings, 2>& profiles, ModemLine& line, EventLog& log,
               FaultProbe scheduledFault = {});

    // SerialDevice
    void attach(PortSide& port) override;
    void computerConnected(bool connected) override;
    void receive(std::span<const uint8_t> bytes) override;
    void setLineFormat(const LineFormat& format) override;
    void setDtr(bool on) override;
    void setRts(bool on) override;
    void purged(bool toComputer, bool toDevice) override;
    void poll(uint32_t tick) override;

    // LineTerminal
    void fromLine(std::span<const uint8_t> bytes) override;

    Phase phase() const { return phase_; }
    const ModemSettings& settings() const { return settings_; }
    const ModemSettings& storedProfile(int n) const { return profiles_[n & 1]; }
    const DeviceLines& lines() const { return lines_; }

private:
    enum class Result { Ok, Connect, Ring, NoCarrier, Error, NoDialTone, Busy, NoAnswer };
    enum class Step { Next, Error, Pending };
    enum class Wait { None, Timer, DialTone, SecondDialTone, Answer };

    // Command mode.
    void commandByte(uint8_t c);
    // A command line ended with CR: its result waits for the LF (see receive).
    void endLine();
    void executeLine(const std::string& body);
    Step executeCommand(const AtCommand& command);
    Step identification(int n);
    std::string settingsReport() const;
    bool storeProfile(int n);

    // Output.
    void result(Result r);
    void info(const std::string& text);
    void emit(const std::string& text);
    void releaseHeld();
    void echo(uint8_t c);
    // A fault of the modem itself acted: logged once per computer.
    void faultActs(bool& logged, const char* fault);
    bool hasFault(bool configured, FaultKind kind) const;

    // Calls.
    Step dial(const std::string& dialString);
    void advanceDial();
    void finishDial();
    void route();
    void startConnecting(LineUse use);
    void pollConnecting();
    void pollOnline();
    void pollRing();
    void connected(uint32_t rate);
    void hangUp(const char* reason);
    bool terminalReady() const;
    uint32_t rateLimit() const;

    // Data mode.
    void onlineBytes(std::span<const uint8_t> bytes);

    void updateLines(bool force = false);
    // The power switch: off drops the call and every line and ignores the computer;
    // on is the power-on state (stored profile 0, on hook, a fresh command line).
    void switchPower(bool on);

    std::string station_;
    ModemConfig config_;
    TimingConfig timing_;
    ModemLine& line_;
    EventLog& log_;
    FaultProbe scheduledFault_;
    PortSide* port_ = nullptr;

    ModemSettings settings_;
    std::array<ModemSettings, 2> profiles_;
    Phase phase_ = Phase::Idle;
    uint32_t tick_ = 0;
    bool dtr_ = false;
    bool rts_ = false;
    DeviceLines lines_;
    bool ctsHeld_ = false;
    bool noEchoLogged_ = false;
    bool dsrFaultLogged_ = false;
    bool dsrLostLogged_ = false;
    bool switchedOff_ = false;

    // The command line being typed.
    enum class Input { WaitA, WaitT, Body };
    Input input_ = Input::WaitA;
    std::string body_;
    bool overflow_ = false;
    std::string lastBody_;
    // The last byte received ended a command line.
    bool lineEnded_ = false;
    // Results held back until the LF after the CR, or until holdUntil_.
    bool awaitLf_ = false;
    uint32_t holdUntil_ = 0;
    std::string held_;

    // Z in progress.
    uint32_t resetDone_ = 0;
    int resetProfile_ = 0;

    // Dialling.
    DialPlan plan_;
    std::size_t stepIndex_ = 0;
    Wait wait_ = Wait::None;
    uint32_t waitUntil_ = 0;
    std::string digits_;
    std::string lastDialString_;
    std::string dialled_;

    // Connecting and connected.
    LineUse connectUse_ = LineUse::OnHook;
    uint32_t connectDeadline_ = 0;
    bool heardRingback_ = false;
    uint32_t rate_ = 0;
    bool carrierLost_ = false;
    uint32_t lossSince_ = 0;
    bool overrunLogged_ = false;

    // "+++" escape.
    uint32_t lastDataTick_ = 0;
    int escapeCount_ = 0;
    uint32_t lastEscapeTick_ = 0;

    // Incoming rings.
    bool ringOn_ = false;
    uint32_t lastRingTick_ = 0;
};

} // namespace vetlina::sim
