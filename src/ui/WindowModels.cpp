#include "ui/WindowModels.h"

#include "platform/Cp1251.h"

namespace vetlina {

WindowModels::WindowModels() {
    resetForRun();
}

void WindowModels::resetForRun() {
    run.stateLabel.clear();
    run.counters = {};
    protocol.clear();
    results = {" Результаты"_cp, {}};
    statistics = {" Статистика"_cp, {}};
    // The list and the state go; the AlarmTime the window was created with stays.
    const int32_t alarmTime = pause.alarmTime;
    pause = {};
    pause.alarmTime = alarmTime;
    show = {};
    show.caption = " Визуализация"_cp;
}

void WindowModels::addProtocolLine(const std::string& line) {
    protocol.add(line);
    notify(ModelPart::Protocol);
}

void WindowModels::setStateText(const std::string& text) {
    run.stateLabel = text;
    notify(ModelPart::RunWindow);
}

void WindowModels::setResultsCaption(const std::string& text) {
    results.caption = text;
    results.lines.clear();
    notify(ModelPart::Results);
}

void WindowModels::setShowCaption(const std::string& text) {
    show.caption = text;
    notify(ModelPart::Visualisation);
}

void WindowModels::resetStatistics() {
    statistics.caption = "Статистика"_cp;
    statistics.lines.clear();
    notify(ModelPart::Statistics);
}

void WindowModels::setCounter(RunCounter which, int32_t value) {
    run.counters[static_cast<std::size_t>(which)] = value;
    notify(ModelPart::RunWindow);
}

} // namespace vetlina
