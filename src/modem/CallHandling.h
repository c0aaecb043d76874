// Calling and answering, the modem thread's steps around a call: choosing whom to call
// and dialling, the outcome of a call with its retries and postponements, waiting for
// and answering calls, and the ends of a connection that broke. The rules that follow
// from an entry alone are in Calling.h; the role changes in RoleChanges.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace vetlina {

class MODEM;

class CallHandling {
public:
    // A caller's wait for a call between its own calls.
    static constexpr int32_t kWaitBetweenCallsMs = 10000;

    // The timing values of the run ("TIMES" of the configuration).
    struct Settings {
        int32_t postTime = 600;   // s: postponement after the attempts are used up
        int32_t hangTime = 300;   // s: an answerer's wait for the next call of a series
        int32_t numNoCarrier = 3; // no-carrier outcomes before an entry is given up
    };

    explicit CallHandling(MODEM& modem) : modem_(modem) {}
    // Set at creation, before the thread starts.
    void setSettings(const Settings& settings) { settings_ = settings; }

    // ---- Steps ---------------------------------------------------------------------
    void chooseAndDial();
    void classifyDialResult();
    void waitForCall();
    void ringReceived();
    void noGeneratorSignal();

    // ---- Outcomes the session dialogue shares ---------------------------------------
    // A НУС outcome: a pause and a new attempt, or the entry postponed.
    void noAnswer(const std::string& reason);
    // The entry postponed by PostTime: the text and the time logged, the next choice.
    void postpone(const std::string& text);
    // The calling or the answering side lost the connection in the dialogue.
    void linkBrokenCaller();
    void linkBrokenAnswerer();

    // The scenario overview of a calling run's start (the protocol window).
    void showScenarioOverview();
    // Clears the entry's consecutive НУС, no-carrier and Отб counters.
    void resetConsecutiveCounters();

    // ms: the caller's wait for a call before it chooses again.
    int32_t waitLimit() const { return waitLimit_; }
    void setWaitLimit(int32_t ms) { waitLimit_ = ms; }
    // The run option "Упрощенный вызов генератора" as it was when the current call was
    // dialled (read by the analyzer thread).
    bool simplifiedCall() const { return simplifiedCall_.load(std::memory_order_acquire); }

private:
    // The call line of the protocol and the dial command.
    void dial();

    MODEM& modem_;
    Settings settings_;
    int32_t waitLimit_ = 0;
    std::atomic<bool> simplifiedCall_{false};
};

} // namespace vetlina
