// The modem thread MODEM: the Hayes modem on its own serial port, driven with AT
// command lines typed character by character with an echo check, its numeric result
// codes, and DTR. The thread's loop runs one step per pass, chosen by its command
// number: waiting for calls, answering, choosing an entry of the scenario and dialling
// it, classifying the outcome of a call.
//
// The program relies on the modem holding the stored profile that writeSetup writes:
// numeric result codes (V0), automatic answer on the second ring (S0=2), hang-up when
// DTR drops (&D2), and DSR on only while a connection stands (&S1).
//
// The files of this room: Modem.cpp (creation, the loop, destruction),
// ModemControl.cpp (command lines, results, hanging up, the fatal failure, the set-up),
// SessionLink.cpp (the block layer between two complexes), Calling.cpp (choosing,
// dialling, call outcomes, waiting for and answering calls), SessionBlocks.cpp (the
// blocks of a session), SessionDialogue.cpp (greeting, scenario hand-over, the
// analyzers' turn, reconnection, result exchange, the end of a session and a series),
// ThroughputTest.cpp (the data throughput test).
#pragma once

#include "analyzer/Results.h"
#include "device/WorkerThreads.h"
#include "modem/ResultLine.h"
#include "modem/SessionLink.h"
#include "modem/SessionRecords.h"
#include "reports/RunContext.h"
#include "scenario/ScenarioEntry.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vetlina {

class Scenario;

// The result of typeCommand (and the initialisation status it leads to).
enum class TypeResult {
    Ok = 0,
    NotWritten = 4, // a character could not be written
    NoEcho = 5,     // no echo within 300 ms
    WrongEcho = 6,  // another character came back
};

// The initialisation status of a run's modem: the open result or what the first
// commands met.
enum class ModemStatus {
    Ready = 0,       // "Модем инициализирован"
    Unavailable = 1, // "недоступен": the port cannot be opened
    DsrOn = 2,       // "Модем имеет сигнал DSR = 1": no &S1 in its profile
    SwitchedOff = 3, // "Модем отключен или выключен": nothing can be written
    NoEcho = 5, // "Не вводится командная строка (нет эхо-символа)"
    WrongEcho = 6, // "Не вводится команда строка (ошибочный эхо-символ)"
    NoAnswer = 7,    // "Нет ответа на командую строку": no numeric result
    SystemError = 9, // "Системная ошибка": the port opened but could not be set up
};
// The status text after "COM%1d: " (cp1251).
std::string modemStatusText(ModemStatus status);

class MODEM : public ModemThread {
public:
    // How long the command-line primitives wait.
    static constexpr uint32_t kOkWaitMs = 3000;           // waitOk
    static constexpr uint32_t kCommandLineMs = 70000;     // commandLine, resetModem
    static constexpr uint32_t kCarrierLossMs = 70000;     // waitCarrierLoss
    static constexpr uint32_t kCarrierPollMs = 50;        // waitCarrierLoss
    static constexpr uint32_t kRetypeSleepMs = 300;       // after a command line that failed
    static constexpr uint32_t kDropLineMs = 2000;         // dropLine
    static constexpr uint32_t kAfterDtrDropMs = 200;      // after the carrier went
    static constexpr uint32_t kIdentificationMs = 1000;   // the ATI5 line
    static constexpr uint32_t kReasonReplyMs = 2000;      // disconnectReason: the S86 reply
    static constexpr uint32_t kReasonEndMs = 3000;        // disconnectReason: the rest
    static constexpr int32_t kWaitBetweenCallsMs = 10000; // a caller's wait for a call
    static constexpr int kInitAttempts = 3;
    // The disconnect-reason line and the identification hold at most 127 characters.
    static constexpr std::size_t kTextMax = 127;
    static constexpr std::size_t kModemInitMax = 79;

    // Creation for a run, on the main thread: reads the configuration, opens the port,
    // drops DTR, and initialises the modem (ATZ, ATI5). On success the command is 4
    // (calling: the scenario overview has been shown and the scenario's first entry is
    // current) or 1 (answering: the received-scenario entry is current). On failure the
    // command is -1, the status has been shown, the set-up offered where the profile
    // looks wrong, and MSG_RUN_END posted.
    // run: the run the thread works for (its scenario, current entry, identities and
    // documents, the analyzer thread).
    MODEM(RunContext& run, PortFactory ports, ModemRole role);
    // A modem thread outside a run: no scenario, no analyzer, no documents; it keeps its
    // current entry itself.
    MODEM(UiBridge& ui, PortFactory ports, ModemRole role);
    // Releases the port: purged, DTR dropped, 200 ms, closed.
    ~MODEM() override;

    // The main window's "Исходная настройка модема": a short-lived modem thread object
    // opens the port and offers to write the set-up (with the "ModemInit" text) into the
    // modem's non-volatile memory; then the object is ended and released. Main thread.
    static void writeInitialSetup(UiBridge& ui, PortFactory ports);

    ModemRole role() const override { return role_.load(std::memory_order_acquire); }
    void setRole(ModemRole role) { role_.store(role, std::memory_order_release); }
    bool simplifiedCall() const override { return simplifiedCall_.load(std::memory_order_acquire); }

    // ---- Command-line primitives (modem thread) ----------------------------------------
    TypeResult typeCommand(std::string_view text);
    bool waitOk();
    bool readLine(uint32_t limitMs);
    bool commandLine(std::string_view text);
    bool resetModem();
    bool waitCarrierLoss();
    bool hangUp();
    bool awaitDisconnect();
    void dropLine();
    void disconnectReason();
    // The fatal failure: the command becomes -1, the text is logged, the message file
    // with code 5 written, "Отказ модема" or "Отключение модема" logged and shown, and
    // MSG_RUN_END posted. Nothing when the command is -1 already.
    void modemFailure(const std::string& text);
    // Asks, then writes the set-up line with the extra text into the modem's memory.
    void writeSetup(const std::string& extra);

    // ---- Session link (modem thread) --------------------------------------------------
    bool sendBlock(std::span<const uint8_t> data) { return link_.sendBlock(data); }
    bool receiveBlock(std::span<uint8_t> buffer) { return link_.receiveBlock(buffer); }

    // ---- Calling and answering (modem thread) ------------------------------------------
    void showScenarioOverview();
    void chooseAndDial();
    void dial(); // the call line, the dial command
    void classifyDialResult();
    void waitForCall();
    void ringReceived();
    void noGeneratorSignal();
    void noAnswer(const std::string& reason);
    void postpone(const std::string& text);
    void linkBrokenCaller();
    void linkBrokenAnswerer();

    // ---- Session dialogue (modem thread) ------------------------------------------------
    static constexpr uint32_t kBeforeBlockMs = 100;      // before a side sends its block
    static constexpr uint32_t kHandOverHangUpMs = 2000;  // the caller's wait before it hangs up
    static constexpr int32_t kRefusedWaitMs = 3000;      // waitLimit after a refusal or busy
    static constexpr int32_t kAfterSessionWaitMs = 8000; // the caller's waitLimit after a session
    static constexpr int32_t kAfterGeneratorWaitMs = 10000;
    static constexpr double kBusyPostponementS = 360.0; // per session the busy pair has left
    static constexpr uint32_t kReconnectionMs = 90000;  // the modems' connection on the held line
    static constexpr uint32_t kPausePollMs = 50;        // the pause window's poll
    // The caller's wait after the far side's last block before it hangs up.
    static constexpr uint32_t kLastAcknowledgementMs = 1000;
    void answererDialogue();
    void callerDialogue();
    void throughputTest(); // ThroughputTest.cpp
    void reconnect();
    void resultExchange();
    void generatorAnswered();
    void generatorSessionComplete();

    // ---- Fields -----------------------------------------------------------------------
    bool normFailed = false;          // the last evaluation found a norm not met
    bool resumePending = false;       // a result exchange has begun and not finished
    std::string responseLine;         // the modem's last line, without its CR (cp1251)
    ScenarioEntry receivedScenario{}; // the entry received from the caller
    std::array<uint8_t, 4096> exchangeBuffer{};
    int32_t recvErrors = 0;  // session-link receive errors (nMdmRecvErr)
    int32_t sendRepeats = 0; // session-link repeats (nMdmSendErr)
    int32_t waitLimit = 0;   // ms: the caller's wait for a call between its own calls
    std::string dataFileName, previousDataFileName;
    // The own results of the session, saved from the analyzer's live records at the
    // reconnection; they go to the far side in the result exchange.
    LiveResults savedResults;
    float throughput = kNotMeasured; // per cent, the live throughput
    float savedThroughput = kNotMeasured;
    // Where the session's records go (the reports room's unless a test put its own).
    // Set before the thread starts.
    SessionRecords* records = &programRecords();

    // The timing values of the run, read from "TIMES" at creation.
    int32_t postTime = 600;   // s: postponement after the attempts are used up
    int32_t hangTime = 300;   // s: an answerer's wait for the next call of a series
    int32_t numNoCarrier = 3; // no-carrier outcomes before an entry is given up
    std::string modemInit;    // "ModemInit": extra set-up commands

protected:
    void Execute() override;

private:
    struct WriteSetupRequest {};
    MODEM(UiBridge& ui, PortFactory ports, WriteSetupRequest);
    MODEM(UiBridge& ui, PortFactory ports, ModemRole role, RunContext* run);
    // The run's current entry (the thread's own outside a run).
    ScenarioEntry* currentEntry() const;
    void setCurrentEntry(ScenarioEntry* entry);
    // Hands the identification to the run (for its protocol header).
    void setModemIdentification(const std::string& text);
    void readModemSettings();
    std::string portPrefix() const; // "COM%1d: "
    ModemStatus initialise();
    void reportOpenFailure(ModemStatus status);
    // The entry dialled or answered now (never null while the thread runs).
    ScenarioEntry& entry();
    void resetConsecutiveCounters();

    // ---- Session dialogue helpers (SessionDialogue.cpp) ---------------------------------
    AnalyzerThread* analyzer();
    // The analyzer's live records (the modem thread's own while there is no analyzer).
    LiveResults& liveResults();
    // Hands the line to the analyzer: its first-pass flag set, then its command.
    void startAnalyzer(AnalyzerCommand command);
    void setAnalyzerFirstPass(bool on);
    CycleParties parties(bool calling);
    bool calling() const { return role() == ModemRole::CallingInCall; }
    void refusalEnd();
    // Hangs up once the acknowledgement of the far side's last block has crossed.
    bool hangUpAfterLastBlock();
    bool writeBothDataFiles(ScenarioEntry& e, bool calling);
    // Stops on unmet norms when asked to (the pause window), else hangs up. False when
    // the step is to end (hanging up failed, or the thread is being ended).
    bool pauseOrHangUp(bool calling);
    std::string noteOfPauseWindow();

    // ---- Throughput test helpers (ThroughputTest.cpp) -----------------------------------
    enum class Attempt { Measured, Again, GiveUp, End };
    Attempt throughputAttempt(const std::string& command, uint32_t start);
    DateTime measureThroughput(); // returns when the measurement started
    void sendPattern();
    void showThroughput(bool deadlinePassed, int32_t leftMs);
    void throughputNotMeasured(bool withCaption);

    RunContext* run_ = nullptr;                     // null outside a run
    std::atomic<ScenarioEntry*> ownEntry_{nullptr}; // the current entry outside a run
    std::atomic<ModemRole> role_;
    std::atomic<bool> simplifiedCall_{false};
    SessionLink link_{*this, recvErrors, sendRepeats};
    LiveResults ownResults_; // live records when the run has no analyzer
};

} // namespace vetlina
