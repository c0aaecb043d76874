// Calling and answering: choosing whom to call, dialling, the outcome of a call with its
// retries and postponements, and waiting for and answering calls.
#include "modem/CallHandling.h"

#include "modem/Calling.h"
#include "modem/Modem.h"
#include "modem/RoleChanges.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "reports/MessageFile.h"
#include "scenario/Scenario.h"
#include "ui/UiBridge.h"

#include <algorithm>

namespace vetlina {
namespace {

constexpr double kSecondsPerDay = 86400.0;
// Waiting for the modem's result of a dial command.
constexpr uint32_t kDialResultMs = 120000;
// Waiting for the connection after a ring.
constexpr uint32_t kConnectionAfterRingMs = 90000;
// NoGeneratorSignal waits this long before it counts the missing signal.
constexpr uint32_t kNoSignalPauseMs = 1000;

// The last line of the protocol window holds "Жду" or "Зво": a wait or a ring is
// announced already. Main thread.
bool waitAnnounced(const WindowModels& models) {
    const auto& lines = models.protocol.lines();
    if (lines.empty())
        return false;
    const std::string& last = lines.back();
    return last.find("Жду"_cp) != std::string::npos || last.find("Зво"_cp) != std::string::npos;
}

} // namespace

void CallHandling::showScenarioOverview() {
    RunContext* run = modem_.run();
    Scenario* scenario = run ? &run->scenario() : nullptr;
    modem_.showProtocolLine(std::string());
    std::string ident = run ? run->ownParty().ident : std::string();
    modem_.showProtocolLine("Сценарий "_cp + ident + ":");
    if (scenario == nullptr)
        return;
    const DateTime at = now();
    for (int i = 0; i < scenario->count(); ++i)
        modem_.showProtocolLine(overviewLine(scenario->entry(i), at));
}

void CallHandling::resetConsecutiveCounters() {
    ScenarioEntry& e = modem_.entry();
    e.RunCounters[runcounter::ConsecutiveNus] = 0;
    e.RunCounters[runcounter::ConsecutiveNoCarrier] = 0;
    e.RunCounters[runcounter::ConsecutiveOtb] = 0;
}

void CallHandling::chooseAndDial() {
    RunContext* run = modem_.run();
    Scenario* scenario = run ? &run->scenario() : nullptr;
    const DateTime at = now();

    ScenarioEntry* taken = nullptr;
    bool workRemains = false;
    for (int i = 0; scenario != nullptr && i < scenario->count(); ++i) {
        ScenarioEntry& candidate = scenario->entry(i);
        if (candidate.Finished != 0)
            continue;
        if (entryDue(candidate, at)) {
            taken = &candidate;
            break;
        }
        workRemains = true;
    }

    if (taken == nullptr) {
        if (run)
            run->setPeerIdent("");
        if (!workRemains) {
            // Every entry is finished: from now on the complex serves as an answering one.
            modem_.exchange().setResumePending(false);
            ScenarioEntry& received = modem_.dialogue().receivedScenario();
            received.SessionsDone = 0;
            received.SeriesTime = 0.0;
            modem_.setCurrentEntry(&received);
            modem_.setRole(ModemRole::Answering);
            modem_.control().resetModem();
            modem_.SetCommand(ModemCommand::WaitForCall);
        } else {
            waitLimit_ = kWaitBetweenCallsMs;
            modem_.setRole(ModemRole::Calling);
            modem_.SetCommand(ModemCommand::WaitForCall);
        }
        return;
    }

    // The entry worked on stays current while it is itself due (a series under way is
    // not left for another entry); otherwise the entry taken becomes current. An entry
    // that is merely not finished, but outside its window, is not dialled.
    ScenarioEntry* current = modem_.currentEntry();
    if (taken != current && (current == nullptr || !entryDue(*current, at))) {
        modem_.exchange().setResumePending(false);
        modem_.setCurrentEntry(taken);
        if (isGenerator(*taken) && run) {
            run->setHeadingDue(SessionHeading::Statistics, true);
            run->setHeadingDue(SessionHeading::Results, true);
        }
        if (!modem_.control().resetModem())
            return;
    }

    ScenarioEntry& e = modem_.entry();
    if (e.Calls == 0 && run && textOf(e.Id) == run->ownParty().ident)
        modem_.ui().dialogs().showMessage(" Предупреждение"_cp, " Вызов собственного комплекса"_cp,
                                          DialogIcon::Warning);
    if (run)
        run->setPeerIdent(textOf(e.Id));
    modem_.setRole(ModemRole::CallingInCall);
    dial();
    modem_.SetCommand(ModemCommand::ClassifyDialResult);
}

void CallHandling::dial() {
    ScenarioEntry& e = modem_.entry();
    if (isGenerator(e))
        simplifiedCall_.store(modem_.ui().models().options.simpleGenerator.load(),
                              std::memory_order_release);
    modem_.logBlankLine();
    modem_.logEvent(callText(e), true);
    const std::string command = dialCommand(e, simplifiedCall());
    // The series starts with its first call.
    if (e.SessionsDone == 0 && e.SeriesTime < 1.0)
        e.SeriesTime = now();
    modem_.dtr(true);
    modem_.control().commandLine(command);
}

void CallHandling::classifyDialResult() {
    ScenarioEntry& e = modem_.entry();
    e.Calls = e.Calls + 1;
    waitLimit_ = kWaitBetweenCallsMs;
    if (!modem_.control().readLine(kDialResultMs)) {
        if (modem_.Terminated()) {
            e.Calls = e.Calls - 1;
            return;
        }
        e.FailNUV = e.FailNUV + 1;
        modem_.logEvent("НУВ (нет сообщения о результате вызова)"_cp, true);
        modem_.control().dropLine();
        modem_.SetCommand(ModemCommand::WaitForCall);
        return;
    }

    const std::string& line = modem_.control().line();
    if (line == result::NoDialTone) {
        e.FailNUS = e.FailNUS + 1;
        int32_t consecutive = e.RunCounters[runcounter::ConsecutiveNus] + 1;
        e.RunCounters[runcounter::ConsecutiveNus] = consecutive;
        int32_t limit = isTrunkNumber(textOf(e.Number)) ? e.Trunk8W : e.LocalCall;
        if (consecutive >= limit) {
            postpone("НУС (нет ответа станции). Вызов отложен до "_cp);
        } else {
            modem_.logEvent("НУС (нет ответа станции)"_cp, true);
            modem_.SetCommand(ModemCommand::WaitForCall);
        }
    } else if (line == result::Busy) {
        noAnswer("занято"_cp);
    } else if (line == result::NoAnswer) {
        noAnswer("нет ответа"_cp);
    } else if (line == result::NoCarrier) {
        e.FailNUV = e.FailNUV + 1;
        int32_t consecutive = e.RunCounters[runcounter::ConsecutiveNoCarrier] + 1;
        e.RunCounters[runcounter::ConsecutiveNoCarrier] = consecutive;
        if (consecutive >= settings_.numNoCarrier) {
            modem_.logEvent("НУВ (нет несущей). Выполнение прекращено"_cp, true);
            modem_.control().disconnectReason();
            writeMessageFile(modem_.run(), modem_, MessageCode::NoCarrierLimit);
            e.Finished = 1;
            modem_.SetCommand(ModemCommand::ChooseAndDial);
        } else {
            modem_.logEvent("НУВ (нет несущей)"_cp, true);
            modem_.control().disconnectReason();
            modem_.SetCommand(ModemCommand::WaitForCall);
        }
    } else if (line == result::Connect) {
        modem_.SetCommand(ModemCommand::CallerDialogue);
    } else if (line == result::Ok && isGenerator(e)) {
        modem_.SetCommand(ModemCommand::GeneratorAnswered);
    } else if (line == result::Error) {
        modem_.control().dropLine();
        modem_.logEvent("Неправильная команда набора номера. Выполнение прекращено"_cp, true);
        e.Finished = 1;
        modem_.SetCommand(ModemCommand::ChooseAndDial);
    } else {
        modem_.control().dropLine();
        modem_.logEvent("Неправильное сообщение. Выполнение прекращено"_cp, true);
        e.Finished = 1;
        modem_.SetCommand(ModemCommand::ChooseAndDial);
    }
}

void CallHandling::noAnswer(const std::string& reason) {
    ScenarioEntry& e = modem_.entry();
    e.FailNUS = e.FailNUS + 1;
    int32_t consecutive = e.RunCounters[runcounter::ConsecutiveNus] + 1;
    e.RunCounters[runcounter::ConsecutiveNus] = consecutive;
    const bool trunk = isTrunkNumber(textOf(e.Number));
    const int32_t attempts = trunk ? e.TrunkCall : e.LocalCall;
    const int32_t pauseSeconds = trunk ? e.TrunkPaus : e.LocalPaus;
    if (consecutive < attempts) {
        modem_.logEvent(
            "НУС ("_cp + reason + "). Пауза "_cp + std::to_string(pauseSeconds) + " сек"_cp, true);
        waitLimit_ = secondsToWaitMs(pauseSeconds);
        modem_.SetCommand(ModemCommand::WaitForCall);
    } else {
        postpone("НУС ("_cp + reason + "). Вызов отложен до "_cp);
    }
}

void CallHandling::postpone(const std::string& text) {
    ScenarioEntry& e = modem_.entry();
    e.RunCounters[runcounter::Postponements] = e.RunCounters[runcounter::Postponements] + 1;
    e.NextTime = now() + settings_.postTime / kSecondsPerDay;
    modem_.logEvent(text + formatTime(e.NextTime), true);
    resetConsecutiveCounters();
    modem_.SetCommand(ModemCommand::ChooseAndDial);
}

void CallHandling::linkBrokenCaller() {
    if (modem_.Terminated())
        return;
    ScenarioEntry& e = modem_.entry();
    e.RunCounters[runcounter::ConsecutiveOtb] = e.RunCounters[runcounter::ConsecutiveOtb] + 1;
    e.FailOtb = e.FailOtb + 1;
    if (modem_.carrier()) {
        modem_.logEvent("Отбой (принудительный разрыв связи)"_cp, true);
        modem_.control().hangUp();
    } else {
        modem_.logEvent("Отбой"_cp, true);
        modem_.PurgePort();
        modem_.dtr(false);
        modem_.sleepUnlessTerminated(ModemControl::kAfterDtrDropMs);
        modem_.PurgePort();
        modem_.control().disconnectReason();
    }
    waitLimit_ = kWaitBetweenCallsMs;
    modem_.SetCommand(ModemCommand::WaitForCall);
}

void CallHandling::linkBrokenAnswerer() {
    if (modem_.Terminated())
        return;
    if (modem_.control().waitCarrierLoss()) {
        modem_.logEvent("Отбой"_cp, true);
        modem_.control().disconnectReason();
    } else if (!modem_.Terminated()) {
        modem_.logEvent("Отбой (принудительный разрыв связи)"_cp, true);
        modem_.control().hangUp();
    }
    modem_.SetCommand(ModemCommand::WaitForCall);
}

void CallHandling::waitForCall() {
    modem_.dtr(true);
    const ModemRole r = modem_.role();
    const bool answering = r == ModemRole::Answering || r == ModemRole::AnsweringServed ||
                           r == ModemRole::AnsweringInRun;
    if (answering) {
        // Decided and written on the main thread, so that the last line is the one seen;
        // a thread being ended (the run's end already logged) announces nothing.
        modem_.invokeSync([this] {
            if (modem_.Terminated() || waitAnnounced(modem_.ui().models()))
                return;
            modem_.logBlankLine();
            modem_.logEvent("Жду звонка"_cp, true);
        });
    }

    uint32_t limit = 0;
    switch (r) {
    case ModemRole::Answering:
        limit = kUnlimitedWaitMs;
        break;
    case ModemRole::AnsweringServed:
    case ModemRole::AnsweringInRun:
        limit = static_cast<uint32_t>(secondsToWaitMs(settings_.hangTime));
        break;
    case ModemRole::Calling:
    case ModemRole::CallingInCall:
        limit = static_cast<uint32_t>(std::max<int32_t>(waitLimit_, 0));
        break;
    }

    if (modem_.control().readLine(limit)) {
        if (modem_.control().line() == result::Ring) {
            modem_.logBlankLine();
            modem_.logEvent("Звонок"_cp, true);
            modem_.SetCommand(ModemCommand::RingReceived);
        } else if (modem_.control().line() == result::Connect) {
            modem_.logEvent("Есть связь"_cp, true);
            modem_.SetCommand(ModemCommand::AnswererDialogue);
        }
        // Any other line: the step runs again.
        return;
    }
    if (modem_.Terminated())
        return;

    const RoleChange change = roleAfterNoCall(r);
    if (change.seriesAbandoned) {
        // The caller of the series has not called again: the series is given up.
        modem_.logBlankLine();
        modem_.logEvent("Зависание"_cp, true);
        writeMessageFile(modem_.run(), modem_, MessageCode::Hang);
        if (RunContext* run = modem_.run())
            run->setPeerIdent("");
        ScenarioEntry& e = modem_.entry();
        e.SessionsDone = 0;
        e.Finished = 1;
        modem_.exchange().setResumePending(false);
    }
    modem_.setRole(change.role);
    if (change.redial)
        dial();
    modem_.SetCommand(change.next);
}

void CallHandling::ringReceived() {
    if (!modem_.control().readLine(kConnectionAfterRingMs)) {
        if (!modem_.Terminated()) {
            modem_.control().dropLine();
            modem_.SetCommand(ModemCommand::WaitForCall);
        }
        return;
    }
    if (modem_.control().line() == result::Ring) {
        modem_.logEvent("Звонок"_cp, true);
    } else if (modem_.control().line() == result::NoCarrier) {
        modem_.logEvent("Неустанов взаимодействия"_cp, true);
        modem_.SetCommand(ModemCommand::WaitForCall);
    } else if (modem_.control().line() == result::Connect) {
        modem_.SetCommand(ModemCommand::AnswererDialogue);
    } else {
        modem_.logEvent("Неправильное сообщение о соединении"_cp, true);
        modem_.control().dropLine();
        modem_.SetCommand(ModemCommand::WaitForCall);
    }
}

void CallHandling::noGeneratorSignal() {
    modem_.sleepUnlessTerminated(kNoSignalPauseMs);
    if (modem_.Terminated())
        return;
    noAnswer("нет сигнала"_cp);
}

} // namespace vetlina
