// The session dialogue: what two complexes say to each other once their modems are
// connected (greeting, version and identity checks, the busy refusal, the scenario
// hand-over), the hand-over of the line to the analyzers, the reconnection of the modems
// on the held line, the exchange of the results, and the end of a session and of a
// series; and the two steps of a session with an autonomous generator.
//
// The modem thread's commands here: AnswererDialogue, CallerDialogue, Reconnect,
// ResultExchange, GeneratorAnswered and GeneratorSessionComplete. Between its hand-over
// of the line to the analyzer (MeasureFirst or GenerateFirst there) and the analyzer's
// hand-back (ThroughputTest, Reconnect, NoGeneratorSignal or GeneratorSessionComplete
// here) the modem thread idles at Idle; the command is set to Idle before the hand-over
// so that the hand-back can never be overwritten.
#include "analyzer/ZMK.h"
#include "modem/Calling.h"
#include "modem/Modem.h"
#include "modem/SessionBlocks.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "scenario/Scenario.h"
#include "ui/UiBridge.h"

#include <algorithm>

namespace vetlina {
namespace {

constexpr double kSecondsPerDay = 86400.0;
// A throughput value below this is no measurement.
constexpr float kThroughputPresent = -990.0f;

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

// This session is the last planned one of the series (SessionsDone + 1 reaches NumTotal),
// without overflow on counts the far complex sent.
bool lastPlannedSession(const ScenarioEntry& e) {
    return static_cast<int64_t>(e.SessionsDone.get()) + 1 >= e.NumTotal.get();
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

// The diagnostic line of a result exchange: the block lengths of both sides, which
// both take from the entry alone.
std::string exchangeTrace(std::size_t sent, std::size_t received) {
    return " -обмен результатами: передано "_cp + std::to_string(sent) + ", принято "_cp +
           std::to_string(received) + " байт"_cp;
}

} // namespace

// ---- Helpers -----------------------------------------------------------------------------

AnalyzerThread* MODEM::analyzer() {
    RunContext* run = run_;
    return run ? run->analyzer() : nullptr;
}

LiveResults& MODEM::liveResults() {
    AnalyzerThread* a = analyzer();
    return a ? a->liveResults() : ownResults_;
}

void MODEM::setAnalyzerFirstPass(bool on) {
    if (AnalyzerThread* a = analyzer())
        a->setFirstPass(on);
}

void MODEM::startAnalyzer(AnalyzerCommand command) {
    // A new measurement: no throughput of an earlier session stays live.
    throughput = kNotMeasured;
    if (AnalyzerThread* a = analyzer()) {
        a->setFirstPass(true);
        a->SetCommand(command);
    }
}

CycleParties MODEM::parties(bool callingSide) {
    RunContext* run = run_;
    const std::string own = ownIdentOf(run);
    const std::string peer = peerIdentOf(run);
    return callingSide ? CycleParties{true, own, peer} : CycleParties{false, peer, own};
}

bool MODEM::hangUpAfterLastBlock() {
    // The acknowledgement of the far side's last block is still on its way; a modem that
    // hangs up drops what it has not sent, and the far side would take the session as
    // broken off.
    sleepUnlessTerminated(kLastAcknowledgementMs);
    return hangUp();
}

void MODEM::refusalEnd() {
    if (!hangUpAfterLastBlock())
        return;
    entry().Finished = 1;
    if (run_)
        run_->setPeerIdent("");
    setRole(ModemRole::Calling);
    waitLimit = kRefusedWaitMs;
    SetCommand(ModemCommand::WaitForCall);
}

// ---- The caller's dialogue ---------------------------------------------------------------

void MODEM::callerDialogue() {
    logEvent("Есть связь"_cp, true);
    ScenarioEntry& e = entry();
    RunContext* run = run_;
    const std::string own = ownIdentOf(run);

    const GreetingBlock greeting =
        makeGreeting(resumePending, own, textOf(e.Id), e.SeriesTime.get(), e.SessionsDone.get());
    GreetingBlock answer{};
    sleepUnlessTerminated(kBeforeBlockMs);
    if (!sendBlock(blockBytes(greeting)) || !receiveBlock(blockBytes(answer))) {
        linkBrokenCaller();
        return;
    }

    if (answer.version != kSessionVersion) {
        logEvent("Несоответствие версий ПО"_cp, true);
        refusalEnd();
        return;
    }
    const std::string answered = farText(blockText(answer.ident));
    if (answered != farText(textOf(e.Id))) {
        logEvent("Вместо "_cp + std::string(textOf(e.Id)) + " ответил "_cp + answered, true);
        refusalEnd();
        return;
    }
    const std::string serving = farText(blockText(answer.wanted));
    if (!serving.empty() && serving != own) {
        // The answerer serves another complex; it tells how far that pair has come.
        BusyBlock busy{};
        if (!receiveBlock(blockBytes(busy))) {
            linkBrokenCaller();
            return;
        }
        const int32_t done = busy.sessionsDone.get();
        const int32_t planned = busy.numTotal.get();
        logEvent("Занят с "_cp + serving + " ("_cp + std::to_string(done) + " из "_cp +
                     std::to_string(planned) + " сеансов завершены)"_cp,
                 true);
        if (!hangUpAfterLastBlock())
            return;
        // Counts from the far complex: no overflow, and never a time in the past.
        const double left = std::max(0.0, static_cast<double>(planned) - done);
        e.NextTime = now() + left * kBusyPostponementS / kSecondsPerDay;
        setRole(ModemRole::Calling);
        waitLimit = kRefusedWaitMs;
        SetCommand(ModemCommand::WaitForCall);
        return;
    }

    if (resumesExchange(resumePending, answer, e)) {
        SetCommand(ModemCommand::ResultExchange);
        return;
    }
    resumePending = false;

    const bool firstSession = e.SessionsDone.get() == 0;
    if (handsOverScenario(answer, e)) {
        if (firstSession)
            records->resetCycleStatistics(e);
        logEvent("Передача сценария"_cp, true);
        sleepUnlessTerminated(kBeforeBlockMs);
        const uint8_t* image = bytesOf(e);
        const IdentityBlock mine =
            run ? makeIdentity(run->ownParty().user, run->ownParty().city, run->ownParty().station)
                : IdentityBlock{};
        IdentityBlock theirs{};
        if (!sendBlock({image, kEntryFirstBlock}) ||
            !sendBlock({image + kEntryFirstBlock, kEntrySecondBlock}) ||
            !sendBlock(blockBytes(mine)) || !receiveBlock(blockBytes(theirs))) {
            linkBrokenCaller();
            return;
        }
        if (run) {
            run->setPeerDetails(farText(blockText(theirs.ats)), farText(blockText(theirs.user)),
                                farText(blockText(theirs.city)));
            run->setHeadingDue(SessionHeading::Statistics, true);
            run->setHeadingDue(SessionHeading::Results, true);
        }
        if (firstSession) {
            ResetStatistics();
            if (!records->writeNormsFile(*this, e, parties(true)))
                return;
        }
    }

    // The analyzers take the line: this side measures first. The caller hangs up; the
    // analyzers hold the line until they hand back.
    SetCommand(ModemCommand::Idle);
    startAnalyzer(AnalyzerCommand::MeasureFirst);
    sleepUnlessTerminated(kHandOverHangUpMs);
    hangUp();
}

// ---- The answerer's dialogue -------------------------------------------------------------

void MODEM::answererDialogue() {
    logEvent("Есть связь"_cp, true);
    ScenarioEntry& e = entry();
    RunContext* run = run_;
    const std::string own = ownIdentOf(run);

    GreetingBlock caller{};
    if (!receiveBlock(blockBytes(caller))) {
        linkBrokenAnswerer();
        return;
    }
    const GreetingBlock greeting = makeGreeting(resumePending, own, peerIdentOf(run),
                                                e.SeriesTime.get(), e.SessionsDone.get());
    sleepUnlessTerminated(kBeforeBlockMs);
    if (!sendBlock(blockBytes(greeting))) {
        linkBrokenAnswerer();
        return;
    }

    if (caller.version != kSessionVersion) {
        logEvent("Несоответствие версий ПО"_cp, true);
        awaitDisconnect();
        SetCommand(ModemCommand::WaitForCall);
        return;
    }
    const std::string callerIdent = farText(blockText(caller.ident));
    const std::string wanted = farText(blockText(caller.wanted));
    if (wanted != own) {
        logEvent("Неправильная попытка "_cp + callerIdent + " связаться с "_cp + wanted, true);
        awaitDisconnect();
        SetCommand(ModemCommand::WaitForCall);
        return;
    }
    const std::string serving = peerIdentOf(run);
    if (!serving.empty() && serving != callerIdent) {
        logEvent("Отказано в обслуживании "_cp + callerIdent, true);
        const BusyBlock busy = makeBusy(e.SessionsDone.get(), e.NumTotal.get());
        if (!sendBlock(blockBytes(busy))) {
            linkBrokenAnswerer();
            return;
        }
        awaitDisconnect();
        SetCommand(ModemCommand::WaitForCall);
        return;
    }

    if (resumesExchange(resumePending, caller, e)) {
        SetCommand(ModemCommand::ResultExchange);
        return;
    }
    resumePending = false;

    if (handsOverScenario(caller, e)) {
        logEvent("Прием сценария от "_cp + callerIdent, true);
        // The caller's entry becomes the current one only once all of it has come.
        ScenarioEntry received{};
        uint8_t* image = bytesOf(received);
        IdentityBlock theirs{};
        bool ok = receiveBlock({image, kEntryFirstBlock}) &&
                  receiveBlock({image + kEntryFirstBlock, kEntrySecondBlock}) &&
                  receiveBlock(blockBytes(theirs));
        if (ok) {
            sleepUnlessTerminated(kBeforeBlockMs);
            const IdentityBlock mine =
                run ? makeIdentity(run->ownParty().user, run->ownParty().city,
                                   run->ownParty().station)
                    : IdentityBlock{};
            ok = sendBlock(blockBytes(mine));
        }
        if (!ok) {
            linkBrokenAnswerer();
            return;
        }
        receivedScenario = received;
        setCurrentEntry(&receivedScenario);
        switch (role()) {
        case ModemRole::Answering:
            setRole(ModemRole::AnsweringServed);
            break;
        case ModemRole::Calling:
        case ModemRole::CallingInCall:
            setRole(ModemRole::AnsweringInRun);
            break;
        default:
            break;
        }
        if (run) {
            run->setPeerIdent(callerIdent);
            run->setPeerDetails(farText(blockText(theirs.ats)), farText(blockText(theirs.user)),
                                farText(blockText(theirs.city)));
            run->setHeadingDue(SessionHeading::Statistics, true);
            run->setHeadingDue(SessionHeading::Results, true);
        }
        if (receivedScenario.SessionsDone.get() == 0) {
            ResetStatistics();
            if (!records->writeNormsFile(*this, receivedScenario, parties(false)))
                return;
        }
    }

    // The analyzers take the line: this side generates first. The caller hangs up.
    SetCommand(ModemCommand::Idle);
    startAnalyzer(AnalyzerCommand::GenerateFirst);
    awaitDisconnect();
}

// ---- Reconnection for the result exchange -------------------------------------------------

void MODEM::reconnect() {
    // The own results are kept aside: the exchange puts the far side's into the live
    // records. From here until the exchange is through, a broken connection is resumed.
    savedResults = liveResults();
    savedThroughput = throughput;
    resumePending = true;

    ScenarioEntry& e = entry();
    const bool callingSide = calling();
    const std::string at(textOf(e.AT));
    std::string text = "Соединение модемов"_cp;
    if (callingSide && !at.empty())
        text += " (" + lowerLatin(at) + ")";
    logEvent(text, true);
    if (!resetModem())
        return;

    // Originate on the line the analyzers hold, without waiting for a dial tone; the
    // other side answers.
    const std::string command = callingSide ? "AT" + upperLatin(at) + "X1D\r\n" : "ATB1A\r\n";
    dtr(true);
    if (!commandLine(command))
        return;
    // The analyzer lets the line go to the modem.
    if (AnalyzerThread* a = analyzer())
        a->SetCommand(AnalyzerCommand::SwitchOff);

    if (!readLine(kReconnectionMs)) {
        if (Terminated())
            return;
        if (callingSide) {
            e.FailNUV = e.FailNUV + 1;
            logEvent("НУВ (нет сообщения о соединении)"_cp, true);
        } else {
            logEvent("Нет сообщения о соединении"_cp, true);
        }
        dropLine();
        SetCommand(ModemCommand::WaitForCall);
        return;
    }
    if (responseLine == result::Connect) {
        SetCommand(ModemCommand::ResultExchange);
        return;
    }
    if (responseLine == result::NoCarrier) {
        if (callingSide) {
            e.FailNUV = e.FailNUV + 1;
            logEvent("НУВ (нет несущей)"_cp, true);
        } else {
            logEvent("Неустанов взаимодействия"_cp, true);
        }
        SetCommand(ModemCommand::WaitForCall);
        return;
    }
    if (responseLine == result::Error) {
        if (callingSide) {
            e.FailNUV = e.FailNUV + 1;
            logEvent("НУВ (неправильная команда настройки)"_cp, true);
        } else {
            logEvent("Неправильная команда настройки"_cp, true);
        }
    } else if (callingSide) {
        e.FailNUV = e.FailNUV + 1;
        logEvent("НУВ (неправильное сообщение о соединении)"_cp, true);
    } else {
        logEvent("Неправильное сообщение о соединении"_cp, true);
    }
    dropLine();
    SetCommand(ModemCommand::WaitForCall);
}

// ---- Result exchange -----------------------------------------------------------------------

void MODEM::resultExchange() {
    ScenarioEntry& e = entry();
    RunContext* run = run_;
    const bool callingSide = calling();
    const ResultLayout layout = resultLayout(e);
    LiveResults& live = liveResults();
    std::span<uint8_t> buffer(exchangeBuffer);

    if (callingSide) {
        logEvent("Обмен результатами"_cp, true);
        const CountersSection counters = countersOf(e);
        const std::size_t sent =
            buildResultBlock(layout, &counters, savedResults, savedThroughput, buffer);
        sleepUnlessTerminated(kBeforeBlockMs);
        if (!sendBlock(buffer.first(sent))) {
            linkBrokenCaller();
            return;
        }
        const std::span<uint8_t> answer = buffer.first(layout.size(false));
        if (!receiveBlock(answer)) {
            linkBrokenCaller();
            return;
        }
        resumePending = false;
        unpackResultBlock(layout, answer, nullptr, live, throughput);
        traceEvent(exchangeTrace(sent, answer.size()));
    } else {
        logEvent("Обмен результатами с "_cp + peerIdentOf(run), true);
        const std::span<uint8_t> block = buffer.first(layout.size(true));
        if (!receiveBlock(block)) {
            linkBrokenAnswerer();
            return;
        }
        sleepUnlessTerminated(kBeforeBlockMs);
        CountersSection counters{};
        unpackResultBlock(layout, block, &counters, live, throughput);
        takeCounters(counters, e);
        const std::size_t sent =
            buildResultBlock(layout, nullptr, savedResults, savedThroughput, buffer);
        if (!sendBlock(buffer.first(sent))) {
            linkBrokenAnswerer();
            return;
        }
        resumePending = false;
        traceEvent(exchangeTrace(sent, block.size()));
    }

    if (lastPlannedSession(e))
        e.Finished = 1;
    // A throughput that one side did not measure is not measured for either.
    if (!(throughput >= kThroughputPresent) || !(savedThroughput >= kThroughputPresent)) {
        throughput = kNotMeasured;
        savedThroughput = kNotMeasured;
    }
    if (!writeBothDataFiles(e, callingSide))
        return;

    e.SessionsDone = e.SessionsDone.get() + 1;
    resetConsecutiveCounters();
    if (run)
        invokeSync([&] { records->evaluateSession(*run, e, callingSide, normFailed); });

    if (callingSide) {
        if (run && !run->saveProgress())
            return;
        waitLimit = kAfterSessionWaitMs;
    }
    // A series ended early: the files of its last session say so.
    if (e.Finished != 0 && e.SessionsDone.get() < e.NumTotal.get()) {
        if (!previousDataFileName.empty())
            records->markCycleEnd(previousDataFileName);
        if (!dataFileName.empty())
            records->markCycleEnd(dataFileName);
    }

    if (!pauseOrHangUp(callingSide))
        return;

    if (e.Finished != 0) {
        switch (role()) {
        case ModemRole::CallingInCall:
            setRole(ModemRole::Calling);
            break;
        case ModemRole::AnsweringInRun:
            // Back to calling: the scenario's entries from the first on.
            setRole(ModemRole::Calling);
            if (run && run->scenario().count() > 0)
                setCurrentEntry(&run->scenario().entry(0));
            break;
        case ModemRole::Answering:
        case ModemRole::AnsweringServed:
            setRole(ModemRole::Answering);
            break;
        case ModemRole::Calling:
            break;
        }
        if (run)
            run->setPeerIdent("");
    }
    SetCommand(ModemCommand::WaitForCall);
}

bool MODEM::writeBothDataFiles(ScenarioEntry& e, bool callingSide) {
    const CycleParties who = parties(callingSide);
    LiveResults& live = liveResults();
    // The far side's results, now live: this complex's analyzer did not measure them.
    setAnalyzerFirstPass(false);
    if (!records->writeDataFile(*this, e, who, MeasuredDirection{live, throughput, false},
                                dataFileName, previousDataFileName))
        return false;
    // The own results back into the live records.
    live = savedResults;
    throughput = savedThroughput;
    setAnalyzerFirstPass(true);
    return records->writeDataFile(*this, e, who, MeasuredDirection{live, throughput, true},
                                  dataFileName, previousDataFileName);
}

std::string MODEM::noteOfPauseWindow() {
    std::string note;
    invokeSync([&] { note = ui().models().pause.note; });
    return note;
}

bool MODEM::pauseOrHangUp(bool callingSide) {
    if (!normFailed || !ui().models().options.stopOnNorms.load())
        return callingSide ? hangUpAfterLastBlock() : hangUp();

    // The connection is held while the operator looks at the line: the caller's window
    // counts down and continues by itself; the answerer's waits for the operator or for
    // the caller to hang up.
    logBlankLine();
    logEvent("Измерения остановлены"_cp, false);
    invokeSync([&] {
        PauseWindowModel& pause = ui().models().pause;
        if (callingSide)
            pause.showAsCaller();
        else
            pause.showAsAnswerer();
        ui().models().notify(ModelPart::Pause);
    });
    bool go = true;
    for (;;) {
        if (Terminated()) {
            go = false;
            break;
        }
        if (!carrier()) {
            dtr(false);
            const std::string note = noteOfPauseWindow();
            if (!note.empty())
                logEvent(note, false);
            logEvent("Измерения продолжены после разрыва связи"_cp, false);
            sleepUnlessTerminated(kAfterDtrDropMs);
            PurgePort();
            break;
        }
        bool visible = true;
        std::string note;
        invokeSync([&] {
            visible = ui().models().pause.visible;
            note = ui().models().pause.note;
        });
        if (!visible) {
            if (!note.empty())
                logEvent(note, false);
            logEvent("Измерения продолжены"_cp, false);
            go = callingSide ? hangUpAfterLastBlock() : hangUp();
            break;
        }
        sleepMs(kPausePollMs);
    }
    invokeSync([&] {
        ui().models().pause.hide();
        ui().models().notify(ModelPart::Pause);
    });
    return go;
}

// ---- A session with an autonomous generator ------------------------------------------------

void MODEM::generatorAnswered() {
    if (!ui().models().options.simpleGenerator.load())
        logEvent("Есть ответ"_cp, true);
    ScenarioEntry& e = entry();
    RunContext* run = run_;
    if (e.SessionsDone.get() == 0) {
        records->resetCycleStatistics(e);
        ResetStatistics();
        if (!records->writeNormsFile(*this, e, parties(true)))
            return;
    }
    if (run) {
        run->setPeerDetails(kGeneratorAts, kGeneratorUser, kGeneratorCity);
    }
    // Only this complex's analyzer works: it measures the generator's programme and
    // hands back with 11 (no signal) or 12.
    SetCommand(ModemCommand::Idle);
    startAnalyzer(AnalyzerCommand::MeasureFirst);
    sleepUnlessTerminated(kHandOverHangUpMs);
    dropLine();
}

void MODEM::generatorSessionComplete() {
    ScenarioEntry& e = entry();
    RunContext* run = run_;
    if (lastPlannedSession(e))
        e.Finished = 1;
    setAnalyzerFirstPass(true);
    if (!records->writeDataFile(*this, e, parties(true),
                                MeasuredDirection{liveResults(), throughput, true}, dataFileName,
                                previousDataFileName))
        return;
    e.SessionsDone = e.SessionsDone.get() + 1;
    resetConsecutiveCounters();
    if (run) {
        invokeSync([&] { records->evaluateSession(*run, e, true, normFailed); });
        if (!run->saveProgress())
            return;
    }
    waitLimit = kAfterGeneratorWaitMs;
    if (e.Finished != 0) {
        if (e.SessionsDone.get() < e.NumTotal.get() && !dataFileName.empty())
            records->markCycleEnd(dataFileName);
        setRole(ModemRole::Calling);
        if (run)
            run->setPeerIdent("");
    }
    SetCommand(ModemCommand::WaitForCall);
}

} // namespace vetlina
