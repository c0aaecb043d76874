// The pause window's behaviour: its two ways of showing, the countdown of the calling
// side, and its buttons.
#include "platform/Cp1251.h"
#include "ui/WindowModels.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

TEST(PauseWindow, TheCallersCountdownRunsFromAlarmTimeAndContinuesByItself) {
    PauseWindowModel pause;
    pause.alarmTime = 300;
    pause.showAsCaller();
    EXPECT_TRUE(pause.visible);
    EXPECT_EQ(toUtf8(pause.caption), "Измерения остановлены");
    EXPECT_EQ(toUtf8(pause.question), "Остановить процесс измерений ?");
    EXPECT_TRUE(pause.stopEnabled);
    EXPECT_TRUE(pause.startEnabled);
    EXPECT_FALSE(pause.noteEnabled);
    pause.tick();
    EXPECT_EQ(toUtf8(pause.caption), "00:04:59 - осталось до продолжения измерений");
    for (int i = 2; i < 300; ++i)
        pause.tick();
    EXPECT_TRUE(pause.visible);
    EXPECT_EQ(toUtf8(pause.caption), "00:00:01 - осталось до продолжения измерений");
    EXPECT_EQ(pause.beeps, 299u);
    // The 300th tick hides it: the work continues.
    pause.tick();
    EXPECT_FALSE(pause.visible);
    EXPECT_FALSE(pause.timerOn);
}

TEST(PauseWindow, StoppingHoldsTheWindowForANoteUntilTheOperatorGoesOn) {
    PauseWindowModel pause;
    pause.alarmTime = 5;
    pause.showAsCaller();
    pause.tick();
    pause.stop();
    EXPECT_FALSE(pause.timerOn);
    EXPECT_EQ(toUtf8(pause.caption), "Измерения остановлены");
    EXPECT_EQ(toUtf8(pause.question), "Продолжить процесс измерений ?");
    EXPECT_FALSE(pause.stopEnabled);
    EXPECT_TRUE(pause.noteEnabled);
    for (int i = 0; i < 10; ++i)
        pause.tick(); // the timer is off: nothing happens
    EXPECT_TRUE(pause.visible);
    pause.note = "x";
    pause.start();
    EXPECT_FALSE(pause.visible);
    EXPECT_EQ(pause.note, "x"); // read by the dialogue after the window has gone
}

TEST(PauseWindow, TheAnswerersWindowHasNoCountdownAndOnlyGoesOn) {
    PauseWindowModel pause;
    pause.showAsAnswerer();
    EXPECT_EQ(toUtf8(pause.question), "Продолжить процесс измерений ?");
    EXPECT_FALSE(pause.stopEnabled);
    EXPECT_TRUE(pause.startEnabled);
    EXPECT_FALSE(pause.timerOn);
    pause.tick();
    EXPECT_TRUE(pause.visible);
    EXPECT_EQ(toUtf8(pause.caption), "Измерения остановлены");
    // A note from an earlier showing does not stay.
    pause.note = "old";
    pause.hide();
    pause.showAsAnswerer();
    EXPECT_EQ(pause.note, "");
}

TEST(PauseWindow, ANewRunKeepsTheAlarmTimeButNothingElse) {
    WindowModels models;
    models.pause.alarmTime = 42;
    models.pause.parameters = {"a"};
    models.pause.showAsCaller();
    models.resetForRun();
    EXPECT_EQ(models.pause.alarmTime, 42);
    EXPECT_FALSE(models.pause.visible);
    EXPECT_TRUE(models.pause.parameters.empty());
}

} // namespace
} // namespace vetlina
