// The session dialogue up to the analyzers' turn, and the start of a session with an
// autonomous generator.
//
// Between its hand-over of the line to the analyzer (MeasureFirst or GenerateFirst there)
// and the analyzer's hand-back (ThroughputTest, Reconnect, NoGeneratorSignal or
// GeneratorSessionComplete here) the modem thread idles at Idle; the command is set to
// Idle before the hand-over so that the hand-back can never be overwritten.
#include "modem/SessionDialogue.h"

#include "modem/Calling.h"
#include "modem/Modem.h"
#include "modem/ReceivedChecks.h"
#include "modem/RoleChanges.h"
#include "modem/SessionBlocks.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "ui/UiBridge.h"

#include <algorithm>

namespace vetlina {
namespace {

constexpr double kSecondsPerDay = 86400.0;

// What an autonomous generator is known by in the documents instead of an identity.
constexpr const char* kGeneratorUser = "................"; // 16 dots
constexpr const char* kGeneratorCity = "........";         // 8 dots
constexpr const char* kGeneratorAts = "....";              // 4 dots

std::string ownIdentOf(const RunContext* run) {
    return run ? run->ownParty().ident : std::string();
}

std::string peerIdentOf(const RunContext* run) {
    return run ? run->peerParty().ident : std::string();
}

// The far complex greets from the same session of the same series as this entry.
bool sameSession(const GreetingBlock& far, const ScenarioEntry& e) {
    return far.seriesTime.get() == e.SeriesTime.get() &&
           far.sessionsDone.get() == e.SessionsDone.get();
}

// A result exchange broken off on both sides is done now, without measuring again.
bool resumesExchange(bool resumePending, const GreetingBlock& far, const ScenarioEntry& e) {
    return resumePending && far.resume == 1 && sameSession(far, e);
}

// The scenario entry goes over at the first session of a series and whenever the two
// complexes are not in the same session of it (an edited entry has a new SeriesTime).
bool handsOverScenario(const GreetingBlock& far, const ScenarioEntry& e) {
    return e.SessionsDone.get() == 0 || !sameSession(far, e);
}

IdentityBlock ownIdentity(const RunContext* run) {
    return run ? makeIdentity(run->ownParty().user, run->ownParty().city, run->ownParty().station)
               : IdentityBlock{};
}

void takePeerDetails(RunContext* run, const IdentityBlock& theirs) {
    if (!run)
        return;
    run->setPeerDetails(farText(blockText(theirs.ats)), farText(blockText(theirs.user)),
                        farText(blockText(theirs.city)));
    run->setHeadingDue(SessionHeading::Statistics, true);
    run->setHeadingDue(SessionHeading::Results, true);
}

} // namespace

void SessionDialogue::startAnalyzer(AnalyzerCommand command) {
    // A new measurement: no throughput of an earlier session stays live.
    modem_.throughputTest().setThroughput(kNotMeasured);
    if (AnalyzerThread* a = modem_.analyzer()) {
        a->setFirstPass(true);
        a->SetCommand(command);
    }
}

void SessionDialogue::refusalEnd() {
    if (!modem_.control().hangUpAfterLastBlock())
        return;
    modem_.entry().Finished = 1;
    if (RunContext* run = modem_.run())
        run->setPeerIdent("");
    modem_.setRole(ModemRole::Calling);
    modem_.calls().setWaitLimit(kRefusedWaitMs);
    modem_.SetCommand(ModemCommand::WaitForCall);
}

bool SessionDialogue::resumeExchange(const GreetingBlock& far) {
    ResultExchange& exchange = modem_.exchange();
    if (resumesExchange(exchange.resumePending(), far, modem_.entry())) {
        modem_.SetCommand(ModemCommand::ResultExchange);
        return true;
    }
    exchange.setResumePending(false);
    return false;
}

// ---- The caller's dialogue ---------------------------------------------------------------

void SessionDialogue::callerDialogue() {
    modem_.logEvent("Есть связь"_cp, true);
    GreetingBlock answer{};
    if (!greetAsCaller(answer) || !acceptAnswer(answer))
        return;

    if (resumeExchange(answer))
        return;

    if (handsOverScenario(answer, modem_.entry()) && !handOverScenario())
        return;

    // The analyzers take the line: this side measures first. The caller hangs up; the
    // analyzers hold the line until they hand back.
    modem_.SetCommand(ModemCommand::Idle);
    startAnalyzer(AnalyzerCommand::MeasureFirst);
    modem_.sleepUnlessTerminated(kHandOverHangUpMs);
    modem_.control().hangUp();
}

bool SessionDialogue::greetAsCaller(GreetingBlock& answer) {
    ScenarioEntry& e = modem_.entry();
    const GreetingBlock greeting =
        makeGreeting(modem_.exchange().resumePending(), ownIdentOf(modem_.run()), textOf(e.Id),
                     e.SeriesTime.get(), e.SessionsDone.get());
    modem_.sleepUnlessTerminated(kBeforeBlockMs);
    if (!modem_.sendBlock(blockBytes(greeting)) || !modem_.receiveBlock(blockBytes(answer))) {
        modem_.calls().linkBrokenCaller();
        return false;
    }
    return true;
}

bool SessionDialogue::acceptAnswer(const GreetingBlock& answer) {
    ScenarioEntry& e = modem_.entry();
    if (answer.version != kSessionVersion) {
        modem_.logEvent("Несоответствие версий ПО"_cp, true);
        refusalEnd();
        return false;
    }
    const std::string answered = farText(blockText(answer.ident));
    if (answered != farText(textOf(e.Id))) {
        modem_.logEvent("Вместо "_cp + std::string(textOf(e.Id)) + " ответил "_cp + answered, true);
        refusalEnd();
        return false;
    }
    const std::string serving = farText(blockText(answer.wanted));
    if (serving.empty() || serving == ownIdentOf(modem_.run()))
        return true;

    // The answerer serves another complex; it tells how far that pair has come.
    BusyBlock busy{};
    if (!modem_.receiveBlock(blockBytes(busy))) {
        modem_.calls().linkBrokenCaller();
        return false;
    }
    const int32_t done = busy.sessionsDone.get();
    const int32_t planned = busy.numTotal.get();
    modem_.logEvent("Занят с "_cp + serving + " ("_cp + std::to_string(done) + " из "_cp +
                        std::to_string(planned) + " сеансов завершены)"_cp,
                    true);
    if (!modem_.control().hangUpAfterLastBlock())
        return false;
    // Counts from the far complex: no overflow, and never a time in the past.
    const double left = busySessionsLeft(done, planned);
    e.NextTime = now() + left * kBusyPostponementS / kSecondsPerDay;
    modem_.setRole(ModemRole::Calling);
    modem_.calls().setWaitLimit(kRefusedWaitMs);
    modem_.SetCommand(ModemCommand::WaitForCall);
    return false;
}

bool SessionDialogue::handOverScenario() {
    ScenarioEntry& e = modem_.entry();
    RunContext* run = modem_.run();
    // An entry the answerer would refuse is not handed over: no call could take it on.
    if (const auto unfit = unsendableEntryLine(e)) {
        modem_.logEvent(*unfit, true);
        refusalEnd();
        return false;
    }
    const bool firstSession = e.SessionsDone.get() == 0;
    if (firstSession)
        modem_.records().resetCycleStatistics(e);
    modem_.logEvent("Передача сценария"_cp, true);
    modem_.sleepUnlessTerminated(kBeforeBlockMs);
    const uint8_t* image = bytesOf(e);
    const IdentityBlock mine = ownIdentity(run);
    IdentityBlock theirs{};
    if (!modem_.sendBlock({image, kEntryFirstBlock}) ||
        !modem_.sendBlock({image + kEntryFirstBlock, kEntrySecondBlock}) ||
        !modem_.sendBlock(blockBytes(mine)) || !modem_.receiveBlock(blockBytes(theirs))) {
        modem_.calls().linkBrokenCaller();
        return false;
    }
    takePeerDetails(run, theirs);
    if (firstSession) {
        modem_.ResetStatistics();
        if (!modem_.records().writeNormsFile(modem_, e, modem_.parties(true)))
            return false;
    }
    return true;
}

// ---- The answerer's dialogue -------------------------------------------------------------

void SessionDialogue::answererDialogue() {
    modem_.logEvent("Есть связь"_cp, true);
    GreetingBlock caller{};
    if (!greetAsAnswerer(caller) || !admitCaller(caller))
        return;

    if (resumeExchange(caller))
        return;

    if (handsOverScenario(caller, modem_.entry()) &&
        !receiveScenario(farText(blockText(caller.ident))))
        return;

    // The analyzers take the line: this side generates first. The caller hangs up.
    modem_.SetCommand(ModemCommand::Idle);
    startAnalyzer(AnalyzerCommand::GenerateFirst);
    modem_.control().awaitDisconnect();
}

bool SessionDialogue::greetAsAnswerer(GreetingBlock& caller) {
    if (!modem_.receiveBlock(blockBytes(caller))) {
        modem_.calls().linkBrokenAnswerer();
        return false;
    }
    ScenarioEntry& e = modem_.entry();
    RunContext* run = modem_.run();
    const GreetingBlock greeting =
        makeGreeting(modem_.exchange().resumePending(), ownIdentOf(run), peerIdentOf(run),
                     e.SeriesTime.get(), e.SessionsDone.get());
    modem_.sleepUnlessTerminated(kBeforeBlockMs);
    if (!modem_.sendBlock(blockBytes(greeting))) {
        modem_.calls().linkBrokenAnswerer();
        return false;
    }
    return true;
}

bool SessionDialogue::admitCaller(const GreetingBlock& caller) {
    RunContext* run = modem_.run();
    if (caller.version != kSessionVersion) {
        modem_.logEvent("Несоответствие версий ПО"_cp, true);
        modem_.control().awaitDisconnect();
        modem_.SetCommand(ModemCommand::WaitForCall);
        return false;
    }
    const std::string callerIdent = farText(blockText(caller.ident));
    const std::string wanted = farText(blockText(caller.wanted));
    if (wanted != ownIdentOf(run)) {
        modem_.logEvent("Неправильная попытка "_cp + callerIdent + " связаться с "_cp + wanted,
                        true);
        modem_.control().awaitDisconnect();
        modem_.SetCommand(ModemCommand::WaitForCall);
        return false;
    }
    const std::string serving = peerIdentOf(run);
    if (serving.empty() || serving == callerIdent)
        return true;

    modem_.logEvent("Отказано в обслуживании "_cp + callerIdent, true);
    const ScenarioEntry& e = modem_.entry();
    const BusyBlock busy = makeBusy(e.SessionsDone.get(), e.NumTotal.get());
    if (!modem_.sendBlock(blockBytes(busy))) {
        modem_.calls().linkBrokenAnswerer();
        return false;
    }
    modem_.control().awaitDisconnect();
    modem_.SetCommand(ModemCommand::WaitForCall);
    return false;
}

bool SessionDialogue::receiveScenario(const std::string& callerIdent) {
    RunContext* run = modem_.run();
    modem_.logEvent("Прием сценария от "_cp + callerIdent, true);
    // The caller's entry becomes the current one only once all of it has come.
    ScenarioEntry received{};
    uint8_t* image = bytesOf(received);
    IdentityBlock theirs{};
    bool ok = modem_.receiveBlock({image, kEntryFirstBlock}) &&
              modem_.receiveBlock({image + kEntryFirstBlock, kEntrySecondBlock}) &&
              modem_.receiveBlock(blockBytes(theirs));
    // An entry out of the editor's ranges is refused before it is used: the caller's
    // wait for the identity ends with the connection ("Отбой").
    if (const auto refused = ok ? refusedEntryLine(received, callerIdent) : std::nullopt) {
        modem_.logEvent(*refused, true);
        modem_.dtr(false);
        ok = false;
    }
    if (ok) {
        modem_.sleepUnlessTerminated(kBeforeBlockMs);
        ok = modem_.sendBlock(blockBytes(ownIdentity(run)));
    }
    if (!ok) {
        modem_.calls().linkBrokenAnswerer();
        return false;
    }
    receivedScenario_ = received;
    modem_.setCurrentEntry(&receivedScenario_);
    modem_.setRole(roleAfterScenarioReceived(modem_.role()));
    if (run)
        run->setPeerIdent(callerIdent);
    takePeerDetails(run, theirs);
    if (receivedScenario_.SessionsDone.get() == 0) {
        modem_.ResetStatistics();
        if (!modem_.records().writeNormsFile(modem_, receivedScenario_, modem_.parties(false)))
            return false;
    }
    return true;
}

// ---- A session with an autonomous generator ------------------------------------------------

void SessionDialogue::generatorAnswered() {
    if (!modem_.ui().models().options.simpleGenerator.load())
        modem_.logEvent("Есть ответ"_cp, true);
    ScenarioEntry& e = modem_.entry();
    if (e.SessionsDone.get() == 0) {
        modem_.records().resetCycleStatistics(e);
        modem_.ResetStatistics();
        if (!modem_.records().writeNormsFile(modem_, e, modem_.parties(true)))
            return;
    }
    if (RunContext* run = modem_.run())
        run->setPeerDetails(kGeneratorAts, kGeneratorUser, kGeneratorCity);
    // Only this complex's analyzer works: it measures the generator's programme and
    // hands back with NoGeneratorSignal or GeneratorSessionComplete.
    modem_.SetCommand(ModemCommand::Idle);
    startAnalyzer(AnalyzerCommand::MeasureFirst);
    modem_.sleepUnlessTerminated(kHandOverHangUpMs);
    modem_.control().dropLine();
}

} // namespace vetlina
