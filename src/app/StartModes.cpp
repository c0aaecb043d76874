#include "app/StartModes.h"

#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "scenario/Scenario.h"

namespace vetlina {

std::optional<StartMode> startModeOf(RunMessage message) {
    switch (message) {
    case MSG_ACTIVE_START:
        return StartMode::Active;
    case MSG_ACTIVE_RESTART:
        return StartMode::Restart;
    case MSG_PASSIVE_START:
        return StartMode::Passive;
    default:
        return std::nullopt;
    }
}

RunMessage startMessage(StartMode mode) {
    switch (mode) {
    case StartMode::Active:
        return MSG_ACTIVE_START;
    case StartMode::Restart:
        return MSG_ACTIVE_RESTART;
    case StartMode::Passive:
        break;
    }
    return MSG_PASSIVE_START;
}

std::string scenarioNameText(const std::string& scenarioFileName) {
    std::string name = baseName(scenarioFileName);
    // A name that is not UTF-8 was made for the code page already (copied from an old
    // complex, say) and goes into the text as it stands.
    return isUtf8(name) ? toCp1251(name) : name;
}

std::string startText(StartMode mode, const std::string& scenarioFileName) {
    switch (mode) {
    case StartMode::Active:
        return "Активный старт, отработка сценария "_cp + scenarioNameText(scenarioFileName);
    case StartMode::Restart:
        return "Активный рестарт, отработка сценария "_cp + scenarioNameText(scenarioFileName);
    case StartMode::Passive:
        break;
    }
    return "Пассивный старт"_cp;
}

ModemRole startRole(StartMode mode) {
    return mode == StartMode::Passive ? ModemRole::Answering : ModemRole::Calling;
}

void prepareEntries(Scenario& scenario, StartMode mode) {
    if (mode == StartMode::Passive)
        return;
    for (int i = 0; i < scenario.count(); ++i) {
        ScenarioEntry& e = scenario.entry(i);
        e.NextTime = static_cast<double>(e.BegTime);
        for (auto& counter : e.RunCounters)
            counter = 0;
        if (mode == StartMode::Restart)
            continue;
        e.Finished = 0;
        e.SeriesTime = 0.0;
        e.SessionsDone = 0;
        e.Calls = 0;
        e.FailNUS = 0;
        e.FailNUV = 0;
        e.FailOtb = 0;
        e.EvalCounterA = 0;
        e.EvalCounterB = 0;
    }
}

} // namespace vetlina
