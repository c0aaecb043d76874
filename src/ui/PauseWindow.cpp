// The pause window's behaviour as a model: what it shows, its countdown and its two
// buttons. The Qt window draws it and forwards its events; the headless runner ticks
// its timer.
#include "platform/Cp1251.h"
#include "ui/WindowModels.h"

#include <cstdio>

namespace vetlina {
namespace {

std::string stoppedCaption() {
    return "Измерения остановлены"_cp;
}

// Seconds as "hh:nn:ss".
std::string clockText(int32_t seconds) {
    if (seconds < 0)
        seconds = 0;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600 % 100, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

} // namespace

void PauseWindowModel::showAsCaller() {
    question = "Остановить процесс измерений ?"_cp;
    stopEnabled = true;
    startEnabled = true;
    countdown = alarmTime;
    timerOn = true;
    caption = stoppedCaption();
    noteEnabled = false;
    note.clear();
    visible = true;
}

void PauseWindowModel::showAsAnswerer() {
    question = "Продолжить процесс измерений ?"_cp;
    stopEnabled = false;
    startEnabled = true;
    timerOn = false;
    caption = stoppedCaption();
    noteEnabled = false;
    note.clear();
    visible = true;
}

void PauseWindowModel::tick() {
    if (!visible || !timerOn)
        return;
    --countdown;
    if (countdown <= 0) {
        hide();
        return;
    }
    caption = clockText(countdown) + " - осталось до продолжения измерений"_cp;
    ++beeps;
}

void PauseWindowModel::stop() {
    timerOn = false;
    caption = stoppedCaption();
    question = "Продолжить процесс измерений ?"_cp;
    stopEnabled = false;
    noteEnabled = true;
}

void PauseWindowModel::start() {
    hide();
}

void PauseWindowModel::hide() {
    timerOn = false;
    visible = false;
}

} // namespace vetlina
