// Modem control: the Hayes modem driven with AT command lines typed character by
// character with an echo check, its numeric result lines, resetting, hanging up with
// DTR, the disconnect reason, the fatal failure of the modem, and writing the stored
// set-up into the modem's memory. It works on the modem thread's port and thread; the
// only state it keeps is the last result line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vetlina {

class Device;
class RunContext;

// The result of typeCommand (and the initialisation status it leads to).
enum class TypeResult {
    Ok = 0,
    NotWritten = 4, // a character could not be written
    NoEcho = 5,     // no echo within 300 ms
    WrongEcho = 6,  // another character came back
};

class ModemControl {
public:
    // How long the command-line primitives wait.
    static constexpr uint32_t kOkWaitMs = 3000;       // waitOk
    static constexpr uint32_t kCommandLineMs = 70000; // commandLine, resetModem
    static constexpr uint32_t kCarrierLossMs = 70000; // waitCarrierLoss
    static constexpr uint32_t kCarrierPollMs = 50;    // waitCarrierLoss
    static constexpr uint32_t kRetypeSleepMs = 300;   // after a command line that failed
    static constexpr uint32_t kDropLineMs = 2000;     // dropLine
    static constexpr uint32_t kAfterDtrDropMs = 200;  // after the carrier went
    static constexpr uint32_t kReasonReplyMs = 2000;  // disconnectReason: the S86 reply
    static constexpr uint32_t kReasonEndMs = 3000;    // disconnectReason: the rest
    // The caller's wait after the far side's last block before it hangs up.
    static constexpr uint32_t kLastAcknowledgementMs = 1000;
    // The disconnect-reason line holds at most 127 characters.
    static constexpr std::size_t kTextMax = 127;

    // device: the modem thread (its port, its event lines, its terminate request).
    // run: where the message file of a failure goes; none outside a run.
    ModemControl(Device& device, RunContext* run);

    // Types the text, each character checked against its echo.
    TypeResult typeCommand(std::string_view text);
    // Waits up to 3 s for the numeric "0" result.
    bool waitOk();
    // Reads one result line (see line()) within limitMs; false: none came.
    bool readLine(uint32_t limitMs);
    // The last line readLine read, without its CR (cp1251); empty after a failed read.
    const std::string& line() const { return responseLine_; }
    // Types the command line, again and again for up to 70 s; then the modem has failed.
    bool commandLine(std::string_view text);
    // ATZ until the modem answers "0", for up to 70 s; then the modem has failed.
    bool resetModem();
    // Waits up to 70 s for the carrier to go; then drops DTR and purges the port.
    bool waitCarrierLoss();
    // Drops DTR and waits for the carrier to go; the modem has failed when it stays.
    bool hangUp();
    // Hangs up once the acknowledgement of the far side's last block has crossed.
    bool hangUpAfterLastBlock();
    // Waits for the far side to hang up, then hangs up itself.
    bool awaitDisconnect();
    // Drops DTR for 2 s and purges the port.
    void dropLine();
    // With the trace on: asks the modem why the connection broke (S86) and logs it.
    void disconnectReason();
    // The fatal failure: the thread is stopped for good, the text is logged, the message
    // file with code 5 written, "Отказ модема" or "Отключение модема" logged and shown,
    // and MSG_RUN_END posted. Nothing when the thread is stopped already.
    void modemFailure(const std::string& text);
    // "COM<n>: ", the prefix of the modem's status and set-up texts.
    std::string portPrefix() const;
    // Asks, then writes the set-up line with the extra text into the modem's memory.
    void writeSetup(const std::string& extra);

private:
    enum class Read { Byte, Nothing, TimeUp };
    // The modem's bytes within a wait that ends at `end`. What has arrived by then is
    // still read after it: a thread woken late by a busy machine finds the modem's answer
    // waiting in the port, not silence. TimeUp once the port is dry past `end`, or after
    // kLateReadMax bytes past it (a modem that never stops talking ends the wait too).
    struct TimedRead {
        uint32_t end;
        std::size_t lateBytes = 0;
    };
    static constexpr std::size_t kLateReadMax = 256;
    Read readBy(TimedRead& wait, uint8_t& byte);

    Device& device_;
    RunContext* run_;
    std::string responseLine_;
};

} // namespace vetlina
