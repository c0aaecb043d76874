// The modem thread MODEM: the Hayes modem on its own serial port, driven with AT
// command lines typed character by character with an echo check, its numeric result
// codes, and DTR. The thread's loop runs one step per pass, chosen by its command
// number; the steps belong to the parts it is composed of.
//
// The program relies on the modem holding the stored profile that writeSetup writes:
// numeric result codes (V0), automatic answer on the second ring (S0=2), hang-up when
// DTR drops (&D2), and DSR on only while a connection stands (&S1).
//
// The parts: ModemControl (command lines, results, hanging up, the fatal failure, the
// set-up), SessionLink (the block layer between two complexes), CallHandling (choosing,
// dialling, call outcomes, waiting for and answering calls; its rules in Calling.h and
// RoleChanges.h), SessionDialogue (greeting, scenario hand-over, the analyzers' turn),
// ResultExchange (reconnection, result exchange, the end of a session and a series),
// ThroughputTest (the data throughput test). SessionBlocks.h holds the blocks of a
// session. MODEM itself (Modem.cpp) is creation, the loop and destruction, and what the
// parts share: the role, the current entry, the analyzer and the run.
#pragma once

#include "analyzer/Results.h"
#include "device/WorkerThreads.h"
#include "modem/CallHandling.h"
#include "modem/ModemControl.h"
#include "modem/ResultExchange.h"
#include "modem/SessionDialogue.h"
#include "modem/SessionLink.h"
#include "modem/SessionRecords.h"
#include "modem/ThroughputTest.h"
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
    static constexpr uint32_t kIdentificationMs = 1000; // the ATI5 line
    static constexpr int kInitAttempts = 3;
    // The identification holds at most 127 characters.
    static constexpr std::size_t kTextMax = ModemControl::kTextMax;
    static constexpr std::size_t kModemInitMax = 79;

    // Creation for a run, on the main thread: reads the configuration, opens the port,
    // drops DTR, and initialises the modem (ATZ, ATI5). On success the command is
    // ChooseAndDial (calling: the scenario overview has been shown and the scenario's
    // first entry is current) or WaitForCall (answering: the received-scenario entry is
    // current). On failure the thread is stopped, the status has been shown, the set-up
    // offered where the profile looks wrong, and MSG_RUN_END posted.
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
    bool simplifiedCall() const override { return calls_.simplifiedCall(); }

    // ---- The parts (each works on this thread and its port) ---------------------------
    ModemControl& control() { return control_; }
    CallHandling& calls() { return calls_; }
    SessionDialogue& dialogue() { return dialogue_; }
    ResultExchange& exchange() { return exchange_; }
    ThroughputTest& throughputTest() { return throughputTest_; }

    // ---- What the parts share (modem thread) ------------------------------------------
    RunContext* run() const { return run_; }
    // The run's current entry (the thread's own outside a run).
    ScenarioEntry* currentEntry() const;
    void setCurrentEntry(ScenarioEntry* entry);
    // The entry dialled or answered now (never null while the thread runs).
    ScenarioEntry& entry();
    // This complex called the far one in the current session.
    bool calling() const { return role() == ModemRole::CallingInCall; }
    AnalyzerThread* analyzer();
    // The analyzer's live records (the modem thread's own while there is no analyzer).
    LiveResults& liveResults();
    void setAnalyzerFirstPass(bool on);
    // The two complexes of the session in the documents' order.
    CycleParties parties(bool calling);
    bool sendBlock(std::span<const uint8_t> data) { return link_.sendBlock(data); }
    bool receiveBlock(std::span<uint8_t> buffer) { return link_.receiveBlock(buffer); }
    // Where the session's records go (the reports room's unless a test put its own).
    SessionRecords& records() { return *records_; }
    // Set before the thread starts.
    void setRecords(SessionRecords* records) { records_ = records; }

protected:
    void Execute() override;

private:
    struct WriteSetupRequest {};
    MODEM(UiBridge& ui, PortFactory ports, WriteSetupRequest);
    MODEM(UiBridge& ui, PortFactory ports, ModemRole role, RunContext* run);
    // Hands the identification to the run (for its protocol header).
    void setModemIdentification(const std::string& text);
    void readModemSettings();
    ModemStatus initialise();
    void reportOpenFailure(ModemStatus status);

    RunContext* run_ = nullptr;                     // null outside a run
    std::atomic<ScenarioEntry*> ownEntry_{nullptr}; // the current entry outside a run
    std::atomic<ModemRole> role_;
    std::string modemInit_;   // "ModemInit": extra set-up commands
    int32_t recvErrors_ = 0;  // session-link receive errors (nMdmRecvErr)
    int32_t sendRepeats_ = 0; // session-link repeats (nMdmSendErr)
    SessionLink link_{*this, recvErrors_, sendRepeats_};
    LiveResults ownResults_; // live records when the run has no analyzer
    SessionRecords* records_ = &programRecords();

    ModemControl control_{*this, run_};
    CallHandling calls_{*this};
    SessionDialogue dialogue_{*this};
    ResultExchange exchange_{*this};
    ThroughputTest throughputTest_{*this};
};

} // namespace vetlina
