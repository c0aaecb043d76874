// The records of a session once the analyzers have measured: the reconnection of the
// modems for the result exchange, the exchange itself, the data files, the evaluation,
// the pause on unmet norms and the end of a session and of a series; and the end of a
// session with an autonomous generator.
#include "modem/ResultExchange.h"

#include "modem/Calling.h"
#include "modem/Modem.h"
#include "modem/ReceivedChecks.h"
#include "modem/RoleChanges.h"
#include "modem/SessionBlocks.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "scenario/Scenario.h"
#include "ui/UiBridge.h"

#include <span>

namespace vetlina {
namespace {

// A throughput value below this is no measurement.
constexpr float kThroughputPresent = -990.0f;

// This session is the last planned one of the series (SessionsDone + 1 reaches NumTotal),
// without overflow on counts the far complex sent.
bool lastPlannedSession(const ScenarioEntry& e) {
    return static_cast<int64_t>(e.SessionsDone.get()) + 1 >= e.NumTotal.get();
}

// The diagnostic line of a result exchange: the block lengths of both sides, which
// both take from the entry alone.
std::string exchangeTrace(std::size_t sent, std::size_t received) {
    return " -обмен результатами: передано "_cp + std::to_string(sent) + ", принято "_cp +
           std::to_string(received) + " байт"_cp;
}

} // namespace

// ---- Reconnection for the result exchange -------------------------------------------------

void ResultExchange::reconnect() {
    // The own results are kept aside: the exchange puts the far side's into the live
    // records. From here until the exchange is through, a broken connection is resumed.
    keepOwnResults(modem_.liveResults(), modem_.throughputTest().throughput());
    resumePending_ = true;

    ScenarioEntry& e = modem_.entry();
    ModemControl& control = modem_.control();
    const bool callingSide = modem_.calling();
    const std::string at(textOf(e.AT));
    std::string text = "Соединение модемов"_cp;
    if (callingSide && !at.empty())
        text += " (" + lowerLatin(at) + ")";
    modem_.logEvent(text, true);
    if (!control.resetModem())
        return;

    // Originate on the line the analyzers hold, without waiting for a dial tone; the
    // other side answers.
    const std::string command = callingSide ? "AT" + upperLatin(at) + "X1D\r\n" : "ATB1A\r\n";
    modem_.dtr(true);
    if (!control.commandLine(command))
        return;
    // The analyzer lets the line go to the modem.
    if (AnalyzerThread* a = modem_.analyzer())
        a->SetCommand(AnalyzerCommand::SwitchOff);

    if (!control.readLine(kReconnectionMs)) {
        if (modem_.Terminated())
            return;
        if (callingSide) {
            e.FailNUV = e.FailNUV + 1;
            modem_.logEvent("НУВ (нет сообщения о соединении)"_cp, true);
        } else {
            modem_.logEvent("Нет сообщения о соединении"_cp, true);
        }
        control.dropLine();
        modem_.SetCommand(ModemCommand::WaitForCall);
        return;
    }
    const std::string& line = control.line();
    if (line == result::Connect) {
        modem_.SetCommand(ModemCommand::ResultExchange);
        return;
    }
    if (line == result::NoCarrier) {
        if (callingSide) {
            e.FailNUV = e.FailNUV + 1;
            modem_.logEvent("НУВ (нет несущей)"_cp, true);
        } else {
            modem_.logEvent("Неустанов взаимодействия"_cp, true);
        }
        modem_.SetCommand(ModemCommand::WaitForCall);
        return;
    }
    if (line == result::Error) {
        if (callingSide) {
            e.FailNUV = e.FailNUV + 1;
            modem_.logEvent("НУВ (неправильная команда настройки)"_cp, true);
        } else {
            modem_.logEvent("Неправильная команда настройки"_cp, true);
        }
    } else if (callingSide) {
        e.FailNUV = e.FailNUV + 1;
        modem_.logEvent("НУВ (неправильное сообщение о соединении)"_cp, true);
    } else {
        modem_.logEvent("Неправильное сообщение о соединении"_cp, true);
    }
    control.dropLine();
    modem_.SetCommand(ModemCommand::WaitForCall);
}

// ---- Result exchange -----------------------------------------------------------------------

void ResultExchange::resultExchange() {
    const bool callingSide = modem_.calling();
    if (!(callingSide ? exchangeAsCaller() : exchangeAsAnswerer()))
        return;
    if (!recordSession(callingSide))
        return;
    if (!pauseOrHangUp(callingSide))
        return;
    endSession();
}

bool ResultExchange::exchangeAsCaller() {
    ScenarioEntry& e = modem_.entry();
    const ResultLayout layout = resultLayout(e);
    std::span<uint8_t> buffer(exchangeBuffer_);
    ThroughputTest& live = modem_.throughputTest();

    modem_.logEvent("Обмен результатами"_cp, true);
    const CountersSection counters = countersOf(e);
    const std::size_t sent =
        buildResultBlock(layout, &counters, savedResults_, savedThroughput_, buffer);
    modem_.sleepUnlessTerminated(SessionDialogue::kBeforeBlockMs);
    if (!modem_.sendBlock(buffer.first(sent))) {
        modem_.calls().linkBrokenCaller();
        return false;
    }
    const std::span<uint8_t> answer = buffer.first(layout.size(false));
    if (!modem_.receiveBlock(answer)) {
        modem_.calls().linkBrokenCaller();
        return false;
    }
    resumePending_ = false;
    float throughput = live.throughput();
    unpackResultBlock(layout, answer, nullptr, modem_.liveResults(), throughput);
    if (const int untaken = sanitizeReceivedResults(nullptr, modem_.liveResults(), throughput))
        modem_.logEvent(untakenResultsLine(untaken), false);
    live.setThroughput(throughput);
    modem_.traceEvent(exchangeTrace(sent, answer.size()));
    return true;
}

bool ResultExchange::exchangeAsAnswerer() {
    ScenarioEntry& e = modem_.entry();
    const ResultLayout layout = resultLayout(e);
    std::span<uint8_t> buffer(exchangeBuffer_);
    ThroughputTest& live = modem_.throughputTest();
    const RunContext* run = modem_.run();

    modem_.logEvent("Обмен результатами с "_cp + (run ? run->peerParty().ident : std::string()),
                    true);
    const std::span<uint8_t> block = buffer.first(layout.size(true));
    if (!modem_.receiveBlock(block)) {
        modem_.calls().linkBrokenAnswerer();
        return false;
    }
    modem_.sleepUnlessTerminated(SessionDialogue::kBeforeBlockMs);
    CountersSection counters{};
    float throughput = live.throughput();
    unpackResultBlock(layout, block, &counters, modem_.liveResults(), throughput);
    if (const int untaken = sanitizeReceivedResults(&counters, modem_.liveResults(), throughput))
        modem_.logEvent(untakenResultsLine(untaken), false);
    live.setThroughput(throughput);
    takeCounters(counters, e);
    const std::size_t sent =
        buildResultBlock(layout, nullptr, savedResults_, savedThroughput_, buffer);
    if (!modem_.sendBlock(buffer.first(sent))) {
        modem_.calls().linkBrokenAnswerer();
        return false;
    }
    resumePending_ = false;
    modem_.traceEvent(exchangeTrace(sent, block.size()));
    return true;
}

bool ResultExchange::recordSession(bool callingSide) {
    ScenarioEntry& e = modem_.entry();
    RunContext* run = modem_.run();
    ThroughputTest& live = modem_.throughputTest();
    if (lastPlannedSession(e))
        e.Finished = 1;
    // A throughput that one side did not measure is not measured for either.
    if (!(live.throughput() >= kThroughputPresent) || !(savedThroughput_ >= kThroughputPresent)) {
        live.setThroughput(kNotMeasured);
        savedThroughput_ = kNotMeasured;
    }
    if (!writeBothDataFiles(e, callingSide))
        return false;

    e.SessionsDone = e.SessionsDone.get() + 1;
    modem_.calls().resetConsecutiveCounters();
    if (run)
        modem_.invokeSync(
            [&] { modem_.records().evaluateSession(*run, e, callingSide, normFailed_); });

    if (callingSide) {
        if (run && !run->saveProgress())
            return false;
        modem_.calls().setWaitLimit(kAfterSessionWaitMs);
    }
    // A series ended early: the files of its last session say so.
    if (e.Finished != 0 && e.SessionsDone.get() < e.NumTotal.get()) {
        if (!previousDataFileName_.empty())
            modem_.records().markCycleEnd(previousDataFileName_);
        if (!dataFileName_.empty())
            modem_.records().markCycleEnd(dataFileName_);
    }
    return true;
}

void ResultExchange::endSession() {
    const ScenarioEntry& e = modem_.entry();
    RunContext* run = modem_.run();
    const RoleChange change = roleAfterSession(modem_.role(), e.Finished != 0);
    modem_.setRole(change.role);
    if (change.backToFirstEntry && run && run->scenario().count() > 0)
        modem_.setCurrentEntry(&run->scenario().entry(0));
    if (e.Finished != 0 && run)
        run->setPeerIdent("");
    modem_.SetCommand(change.next);
}

bool ResultExchange::writeBothDataFiles(ScenarioEntry& e, bool callingSide) {
    const CycleParties who = modem_.parties(callingSide);
    LiveResults& live = modem_.liveResults();
    ThroughputTest& throughput = modem_.throughputTest();
    // The far side's results, now live: this complex's analyzer did not measure them.
    modem_.setAnalyzerFirstPass(false);
    if (!modem_.records().writeDataFile(modem_, e, who,
                                        MeasuredDirection{live, throughput.throughput(), false},
                                        dataFileName_, previousDataFileName_))
        return false;
    // The own results back into the live records.
    live = savedResults_;
    throughput.setThroughput(savedThroughput_);
    modem_.setAnalyzerFirstPass(true);
    return modem_.records().writeDataFile(modem_, e, who,
                                          MeasuredDirection{live, throughput.throughput(), true},
                                          dataFileName_, previousDataFileName_);
}

std::string ResultExchange::noteOfPauseWindow() {
    std::string note;
    modem_.invokeSync([&] { note = modem_.ui().models().pause.note; });
    return note;
}

bool ResultExchange::pauseOrHangUp(bool callingSide) {
    ModemControl& control = modem_.control();
    if (!normFailed_ || !modem_.ui().models().options.stopOnNorms.load())
        return callingSide ? control.hangUpAfterLastBlock() : control.hangUp();

    // The connection is held while the operator looks at the line: the caller's window
    // counts down and continues by itself; the answerer's waits for the operator or for
    // the caller to hang up.
    modem_.logBlankLine();
    modem_.logEvent("Измерения остановлены"_cp, false);
    modem_.invokeSync([&] {
        PauseWindowModel& pause = modem_.ui().models().pause;
        if (callingSide)
            pause.showAsCaller();
        else
            pause.showAsAnswerer();
        modem_.ui().models().notify(ModelPart::Pause);
    });
    bool go = true;
    for (;;) {
        if (modem_.Terminated()) {
            go = false;
            break;
        }
        if (!modem_.carrier()) {
            modem_.dtr(false);
            const std::string note = noteOfPauseWindow();
            if (!note.empty())
                modem_.logEvent(note, false);
            modem_.logEvent("Измерения продолжены после разрыва связи"_cp, false);
            modem_.sleepUnlessTerminated(ModemControl::kAfterDtrDropMs);
            modem_.PurgePort();
            break;
        }
        bool visible = true;
        std::string note;
        modem_.invokeSync([&] {
            visible = modem_.ui().models().pause.visible;
            note = modem_.ui().models().pause.note;
        });
        if (!visible) {
            if (!note.empty())
                modem_.logEvent(note, false);
            modem_.logEvent("Измерения продолжены"_cp, false);
            go = callingSide ? control.hangUpAfterLastBlock() : control.hangUp();
            break;
        }
        sleepMs(kPausePollMs);
    }
    modem_.invokeSync([&] {
        modem_.ui().models().pause.hide();
        modem_.ui().models().notify(ModelPart::Pause);
    });
    return go;
}

// ---- A session with an autonomous generator ------------------------------------------------

void ResultExchange::generatorSessionComplete() {
    ScenarioEntry& e = modem_.entry();
    RunContext* run = modem_.run();
    if (lastPlannedSession(e))
        e.Finished = 1;
    modem_.setAnalyzerFirstPass(true);
    if (!modem_.records().writeDataFile(
            modem_, e, modem_.parties(true),
            MeasuredDirection{modem_.liveResults(), modem_.throughputTest().throughput(), true},
            dataFileName_, previousDataFileName_))
        return;
    e.SessionsDone = e.SessionsDone.get() + 1;
    modem_.calls().resetConsecutiveCounters();
    if (run) {
        modem_.invokeSync([&] { modem_.records().evaluateSession(*run, e, true, normFailed_); });
        if (!run->saveProgress())
            return;
    }
    modem_.calls().setWaitLimit(kAfterGeneratorWaitMs);
    if (e.Finished != 0) {
        if (e.SessionsDone.get() < e.NumTotal.get() && !dataFileName_.empty())
            modem_.records().markCycleEnd(dataFileName_);
        modem_.setRole(ModemRole::Calling);
        if (run)
            run->setPeerIdent("");
    }
    modem_.SetCommand(ModemCommand::WaitForCall);
}

} // namespace vetlina
