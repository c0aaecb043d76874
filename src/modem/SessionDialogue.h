// The session dialogue: what two complexes say to each other once their modems are
// connected (greeting, version and identity checks, the busy refusal, the scenario
// hand-over) and the hand-over of the line to the analyzers; and the start of a session
// with an autonomous generator. The reconnection and the result exchange that follow the
// measuring are ResultExchange's.
#pragma once

#include "device/AnalyzerCommands.h"
#include "scenario/ScenarioEntry.h"

#include <cstdint>
#include <string>

namespace vetlina {

class MODEM;
struct GreetingBlock;

class SessionDialogue {
public:
    static constexpr uint32_t kBeforeBlockMs = 100;     // before a side sends its block
    static constexpr uint32_t kHandOverHangUpMs = 2000; // the caller's wait before it hangs up
    static constexpr int32_t kRefusedWaitMs = 3000;     // waitLimit after a refusal or busy
    static constexpr double kBusyPostponementS = 360.0; // per session the busy pair has left

    explicit SessionDialogue(MODEM& modem) : modem_(modem) {}

    // ---- Steps ---------------------------------------------------------------------
    void callerDialogue();
    void answererDialogue();
    void generatorAnswered();

    // The entry received from the caller: the current entry of an answering complex.
    ScenarioEntry& receivedScenario() { return receivedScenario_; }

private:
    // The caller's phases. Each false: the step ends (what ends it has been done).
    bool greetAsCaller(GreetingBlock& answer);
    bool acceptAnswer(const GreetingBlock& answer);
    bool handOverScenario();
    // The answerer's phases, likewise.
    bool greetAsAnswerer(GreetingBlock& caller);
    bool admitCaller(const GreetingBlock& caller);
    bool receiveScenario(const std::string& callerIdent);

    // A result exchange of this session that a broken connection interrupted is done now
    // (ResultExchange next): true. Otherwise no exchange is pending any longer.
    bool resumeExchange(const GreetingBlock& far);
    // Hands the line to the analyzer: its first-pass flag set, then its command.
    void startAnalyzer(AnalyzerCommand command);
    // The caller ends a session it may not have: hang up, the entry finished.
    void refusalEnd();

    MODEM& modem_;
    ScenarioEntry receivedScenario_{};
};

} // namespace vetlina
