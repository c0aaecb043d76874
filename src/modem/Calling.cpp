// Choosing whom to call, dialling, the outcome of a call with its retries and
// postponements, and waiting for and answering calls: the steps 1, 2, 4, 5 and 11 of
// the modem thread, and the outcome operations the session dialogue shares.
#include "modem/Calling.h"

#include "modem/Modem.h"
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

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

char upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isGenerator(const ScenarioEntry& entry) {
    return entry.ComplexType == kGeneratorComplexType;
}

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

std::string lowerLatin(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lowerAscii);
    return out;
}

std::string upperLatin(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), upperAscii);
    return out;
}

bool isTrunkNumber(std::string_view number) {
    std::size_t eight = number.find('8');
    return eight != std::string_view::npos && number.find('w', eight) != std::string_view::npos;
}

bool callWindowOpen(const ScenarioEntry& entry, DateTime at) {
    const double t = timeOfDay(at);
    // The window opens at the time of day of BegTime; NextTime (a postponement) only
    // says "not before" (entryDue), so a postponement past the window's end waits for
    // the next day's window instead of leaving an empty one.
    const double n = timeOfDay(entry.BegTime);
    const double e = timeOfDay(entry.EndTime);
    if (static_cast<double>(entry.BegTime) < static_cast<double>(entry.EndTime))
        return n <= t && t < e;
    return t >= n || t < e;
}

bool entryDue(const ScenarioEntry& entry, DateTime at) {
    if (entry.Finished != 0 || at < static_cast<double>(entry.NextTime))
        return false;
    return entry.SessionsDone > 0 || callWindowOpen(entry, at);
}

std::string overviewLine(const ScenarioEntry& entry, DateTime at) {
    std::string line(textOf(entry.Id));
    const double next = entry.NextTime;
    const double end = entry.EndTime;
    if (entry.Finished != 0)
        line += " - цикл выполнен"_cp;
    else if (next >= end)
        line += " - готов к выполнению"_cp;
    else if (dateOf(next) > dateOf(at))
        line += " - начать цикла с "_cp + formatDateTime(next) + " до "_cp + formatDateTime(end);
    else
        line += " - начало цикла с "_cp + formatTime(next) + " до "_cp + formatTime(end);
    return line;
}

std::string callText(const ScenarioEntry& entry) {
    std::string text = isGenerator(entry) ? "Вызов генератора "_cp : "Вызов "_cp;
    text += textOf(entry.Id);
    std::string_view at = textOf(entry.AT);
    if (!at.empty())
        text += " (" + lowerLatin(at) + ")";
    text += " тел: "_cp;
    text += textOf(entry.Number);
    return text;
}

std::string dialCommand(const ScenarioEntry& entry, bool simplifiedCall) {
    std::string command = "AT" + upperLatin(textOf(entry.AT)) + "D";
    command += textOf(entry.Number);
    if (isGenerator(entry))
        command += simplifiedCall ? ";" : "@;";
    command += "\r\n";
    return command;
}

int32_t secondsToWaitMs(int64_t seconds) {
    if (seconds <= 0)
        return 0;
    if (seconds >= kUnlimitedWaitMs / 1000)
        return kUnlimitedWaitMs;
    return static_cast<int32_t>(seconds * 1000);
}

// ---- The steps of the modem thread ---------------------------------------------------

void MODEM::showScenarioOverview() {
    RunContext* run = run_;
    Scenario* scenario = run ? &run->scenario() : nullptr;
    showProtocolLine(std::string());
    std::string ident = run ? run->ownParty().ident : std::string();
    showProtocolLine("Сценарий "_cp + ident + ":");
    if (scenario == nullptr)
        return;
    const DateTime at = now();
    for (int i = 0; i < scenario->count(); ++i)
        showProtocolLine(overviewLine(scenario->entry(i), at));
}

ScenarioEntry& MODEM::entry() {
    ScenarioEntry* current = currentEntry();
    return current ? *current : receivedScenario;
}

void MODEM::resetConsecutiveCounters() {
    ScenarioEntry& e = entry();
    e.RunCounters[runcounter::ConsecutiveNus] = 0;
    e.RunCounters[runcounter::ConsecutiveNoCarrier] = 0;
    e.RunCounters[runcounter::ConsecutiveOtb] = 0;
}

void MODEM::chooseAndDial() {
    RunContext* run = run_;
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
            resumePending = false;
            receivedScenario.SessionsDone = 0;
            receivedScenario.SeriesTime = 0.0;
            setCurrentEntry(&receivedScenario);
            setRole(ModemRole::Answering);
            resetModem();
            SetCommand(ModemCommand::WaitForCall);
        } else {
            waitLimit = kWaitBetweenCallsMs;
            setRole(ModemRole::Calling);
            SetCommand(ModemCommand::WaitForCall);
        }
        return;
    }

    // The entry worked on stays current while it is itself due (a series under way is
    // not left for another entry); otherwise the entry taken becomes current. An entry
    // that is merely not finished, but outside its window, is not dialled.
    ScenarioEntry* current = currentEntry();
    if (taken != current && (current == nullptr || !entryDue(*current, at))) {
        resumePending = false;
        setCurrentEntry(taken);
        if (isGenerator(*taken) && run) {
            run->setHeadingDue(SessionHeading::Statistics, true);
            run->setHeadingDue(SessionHeading::Results, true);
        }
        if (!resetModem())
            return;
    }

    ScenarioEntry& e = entry();
    if (e.Calls == 0 && run && textOf(e.Id) == run->ownParty().ident)
        ui().dialogs().showMessage(" Предупреждение"_cp, " Вызов собственного комплекса"_cp,
                                   DialogIcon::Warning);
    if (run)
        run->setPeerIdent(textOf(e.Id));
    setRole(ModemRole::CallingInCall);
    dial();
    SetCommand(ModemCommand::ClassifyDialResult);
}

void MODEM::dial() {
    ScenarioEntry& e = entry();
    if (isGenerator(e))
        simplifiedCall_.store(ui().models().options.simpleGenerator.load(),
                              std::memory_order_release);
    logBlankLine();
    logEvent(callText(e), true);
    const std::string command = dialCommand(e, simplifiedCall());
    // The series starts with its first call.
    if (e.SessionsDone == 0 && e.SeriesTime < 1.0)
        e.SeriesTime = now();
    dtr(true);
    commandLine(command);
}

void MODEM::classifyDialResult() {
    ScenarioEntry& e = entry();
    e.Calls = e.Calls + 1;
    waitLimit = kWaitBetweenCallsMs;
    if (!readLine(kDialResultMs)) {
        if (Terminated()) {
            e.Calls = e.Calls - 1;
            return;
        }
        e.FailNUV = e.FailNUV + 1;
        logEvent("НУВ (нет сообщения о результате вызова)"_cp, true);
        dropLine();
        SetCommand(ModemCommand::WaitForCall);
        return;
    }

    const std::string& line = responseLine;
    if (line == result::NoDialTone) {
        e.FailNUS = e.FailNUS + 1;
        int32_t consecutive = e.RunCounters[runcounter::ConsecutiveNus] + 1;
        e.RunCounters[runcounter::ConsecutiveNus] = consecutive;
        int32_t limit = isTrunkNumber(textOf(e.Number)) ? e.Trunk8W : e.LocalCall;
        if (consecutive >= limit) {
            postpone("НУС (нет ответа станции). Вызов отложен до "_cp);
        } else {
            logEvent("НУС (нет ответа станции)"_cp, true);
            SetCommand(ModemCommand::WaitForCall);
        }
    } else if (line == result::Busy) {
        noAnswer("занято"_cp);
    } else if (line == result::NoAnswer) {
        noAnswer("нет ответа"_cp);
    } else if (line == result::NoCarrier) {
        e.FailNUV = e.FailNUV + 1;
        int32_t consecutive = e.RunCounters[runcounter::ConsecutiveNoCarrier] + 1;
        e.RunCounters[runcounter::ConsecutiveNoCarrier] = consecutive;
        if (consecutive >= numNoCarrier) {
            logEvent("НУВ (нет несущей). Выполнение прекращено"_cp, true);
            disconnectReason();
            writeMessageFile(run_, *this, MessageCode::NoCarrierLimit);
            e.Finished = 1;
            SetCommand(ModemCommand::ChooseAndDial);
        } else {
            logEvent("НУВ (нет несущей)"_cp, true);
            disconnectReason();
            SetCommand(ModemCommand::WaitForCall);
        }
    } else if (line == result::Connect) {
        SetCommand(ModemCommand::CallerDialogue);
    } else if (line == result::Ok && isGenerator(e)) {
        SetCommand(ModemCommand::GeneratorAnswered);
    } else if (line == result::Error) {
        dropLine();
        logEvent("Неправильная команда набора номера. Выполнение прекращено"_cp, true);
        e.Finished = 1;
        SetCommand(ModemCommand::ChooseAndDial);
    } else {
        dropLine();
        logEvent("Неправильное сообщение. Выполнение прекращено"_cp, true);
        e.Finished = 1;
        SetCommand(ModemCommand::ChooseAndDial);
    }
}

void MODEM::noAnswer(const std::string& reason) {
    ScenarioEntry& e = entry();
    e.FailNUS = e.FailNUS + 1;
    int32_t consecutive = e.RunCounters[runcounter::ConsecutiveNus] + 1;
    e.RunCounters[runcounter::ConsecutiveNus] = consecutive;
    const bool trunk = isTrunkNumber(textOf(e.Number));
    const int32_t attempts = trunk ? e.TrunkCall : e.LocalCall;
    const int32_t pauseSeconds = trunk ? e.TrunkPaus : e.LocalPaus;
    if (consecutive < attempts) {
        logEvent("НУС ("_cp + reason + "). Пауза "_cp + std::to_string(pauseSeconds) + " сек"_cp,
                 true);
        waitLimit = secondsToWaitMs(pauseSeconds);
        SetCommand(ModemCommand::WaitForCall);
    } else {
        postpone("НУС ("_cp + reason + "). Вызов отложен до "_cp);
    }
}

void MODEM::postpone(const std::string& text) {
    ScenarioEntry& e = entry();
    e.RunCounters[runcounter::Postponements] = e.RunCounters[runcounter::Postponements] + 1;
    e.NextTime = now() + postTime / kSecondsPerDay;
    logEvent(text + formatTime(e.NextTime), true);
    resetConsecutiveCounters();
    SetCommand(ModemCommand::ChooseAndDial);
}

void MODEM::linkBrokenCaller() {
    if (Terminated())
        return;
    ScenarioEntry& e = entry();
    e.RunCounters[runcounter::ConsecutiveOtb] = e.RunCounters[runcounter::ConsecutiveOtb] + 1;
    e.FailOtb = e.FailOtb + 1;
    if (carrier()) {
        logEvent("Отбой (принудительный разрыв связи)"_cp, true);
        hangUp();
    } else {
        logEvent("Отбой"_cp, true);
        PurgePort();
        dtr(false);
        sleepUnlessTerminated(kAfterDtrDropMs);
        PurgePort();
        disconnectReason();
    }
    waitLimit = kWaitBetweenCallsMs;
    SetCommand(ModemCommand::WaitForCall);
}

void MODEM::linkBrokenAnswerer() {
    if (Terminated())
        return;
    if (waitCarrierLoss()) {
        logEvent("Отбой"_cp, true);
        disconnectReason();
    } else if (!Terminated()) {
        logEvent("Отбой (принудительный разрыв связи)"_cp, true);
        hangUp();
    }
    SetCommand(ModemCommand::WaitForCall);
}

void MODEM::waitForCall() {
    dtr(true);
    const ModemRole r = role();
    const bool answering = r == ModemRole::Answering || r == ModemRole::AnsweringServed ||
                           r == ModemRole::AnsweringInRun;
    if (answering) {
        // Decided and written on the main thread, so that the last line is the one seen;
        // a thread being ended (the run's end already logged) announces nothing.
        invokeSync([this] {
            if (Terminated() || waitAnnounced(ui().models()))
                return;
            logBlankLine();
            logEvent("Жду звонка"_cp, true);
        });
    }

    uint32_t limit = 0;
    switch (r) {
    case ModemRole::Answering:
        limit = kUnlimitedWaitMs;
        break;
    case ModemRole::AnsweringServed:
    case ModemRole::AnsweringInRun:
        limit = static_cast<uint32_t>(secondsToWaitMs(hangTime));
        break;
    case ModemRole::Calling:
    case ModemRole::CallingInCall:
        limit = static_cast<uint32_t>(std::max<int32_t>(waitLimit, 0));
        break;
    }

    if (readLine(limit)) {
        if (responseLine == result::Ring) {
            logBlankLine();
            logEvent("Звонок"_cp, true);
            SetCommand(ModemCommand::RingReceived);
        } else if (responseLine == result::Connect) {
            logEvent("Есть связь"_cp, true);
            SetCommand(ModemCommand::AnswererDialogue);
        }
        // Any other line: the step runs again.
        return;
    }
    if (Terminated())
        return;

    switch (r) {
    case ModemRole::AnsweringServed:
    case ModemRole::AnsweringInRun: {
        // The caller of the series has not called again: the series is given up.
        logBlankLine();
        logEvent("Зависание"_cp, true);
        writeMessageFile(run_, *this, MessageCode::Hang);
        if (run_)
            run_->setPeerIdent("");
        ScenarioEntry& e = entry();
        e.SessionsDone = 0;
        e.Finished = 1;
        resumePending = false;
        if (r == ModemRole::AnsweringServed)
            setRole(ModemRole::Answering);
        else
            SetCommand(ModemCommand::ChooseAndDial);
        break;
    }
    case ModemRole::Calling:
        SetCommand(ModemCommand::ChooseAndDial);
        break;
    case ModemRole::CallingInCall:
        dial();
        SetCommand(ModemCommand::ClassifyDialResult);
        break;
    case ModemRole::Answering:
        break;
    }
}

void MODEM::ringReceived() {
    if (!readLine(kConnectionAfterRingMs)) {
        if (!Terminated()) {
            dropLine();
            SetCommand(ModemCommand::WaitForCall);
        }
        return;
    }
    if (responseLine == result::Ring) {
        logEvent("Звонок"_cp, true);
    } else if (responseLine == result::NoCarrier) {
        logEvent("Неустанов взаимодействия"_cp, true);
        SetCommand(ModemCommand::WaitForCall);
    } else if (responseLine == result::Connect) {
        SetCommand(ModemCommand::AnswererDialogue);
    } else {
        logEvent("Неправильное сообщение о соединении"_cp, true);
        dropLine();
        SetCommand(ModemCommand::WaitForCall);
    }
}

void MODEM::noGeneratorSignal() {
    sleepUnlessTerminated(kNoSignalPauseMs);
    if (Terminated())
        return;
    noAnswer("нет сигнала"_cp);
}

} // namespace vetlina
