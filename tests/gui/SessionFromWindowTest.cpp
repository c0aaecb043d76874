// A whole session watched from the windows: vetlina-sim stands for the network, a
// passive vetlina-run for the answering complex, and this process is `vetlina`
// (offscreen) with an active run started from its main window. While the session runs
// the viewers fill, the spectrum plot is redrawn, the pause window stops the work on a
// broken norm until the operator goes on, and the counters show the link's counts; the
// run ends through the closing question with "Работа закончена" in the protocol.
//
// All processes share one clock (VETLINA_CLOCK_FILE) at the time scale
// VETLINA_GUI_SESSION_SCALE (10). With VETLINA_SCREENSHOT_DIR set, the windows are
// rendered into it during the session (the README's pictures).
#include "GuiTestApplication.h"
#include "RecordingDialogs.h"
#include "RunProcess.h"
#include "SimProcess.h"
#include "TempFolder.h"
#include "gui/TAlarmForm.h"
#include "gui/TForm1.h"
#include "gui/TMetrForm.h"
#include "gui/ViewerWindows.h"
#include "modem/ModemControl.h"
#include "modem/SessionLink.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace vetlina::test {
namespace {

std::string scale() {
    const char* s = std::getenv("VETLINA_GUI_SESSION_SCALE");
    return s && *s ? s : "10";
}

// The session's timetable in seconds of the network's clock, from the entry and the
// settings below: each step of the test waits for the phases that lead to it, and a
// phase whose length is the far side's or the line's for as long as the program
// itself waits before it gives up.
namespace timetable {
constexpr double kHalfDelay = 1.0;                 // SincTime 2
constexpr double kRangeStep = 5.0;                 // every pass begins with it
constexpr double kSineStep = 2 * kHalfDelay + 6.0; // SinTime 6
constexpr double kO132Step = 2 * kHalfDelay + 4.0; // O132Time 4
constexpr double kEndOfPass = 2.5;                 // the generator off, then 2 s
constexpr double kPass = kRangeStep + kSineStep + kO132Step + kEndOfPass;
constexpr double kStartUp = ModemControl::kCommandLineMs / 1000.0; // a modem set-up
constexpr double kConnection = 60.0; // S7 of the stored profile: the wait for the carrier
constexpr double kBlock = SessionLink::kOperationLimitMs / 1000.0; // one block of the dialogue
constexpr double kCountdown = 60.0;                                // AlarmTime
} // namespace timetable

// Turns the event loop until ready() holds, for at most `seconds` of the network's
// clock from the call (the clock slows down with a busy machine, so the limit does
// too); a step that does not come fails the test by its name at once.
template <class Ready>
::testing::AssertionResult step(const char* name, double seconds, Ready&& ready) {
    const uint32_t until = tickMs() + static_cast<uint32_t>(seconds * 1000.0);
    while (!ready()) {
        if (tickReached(until))
            return ::testing::AssertionFailure()
                   << "the session step \"" << name << "\" did not come within " << seconds
                   << " s of the session's clock (time scale " << scale() << ")";
        QTest::qWait(10);
    }
    return ::testing::AssertionSuccess();
}

class ScriptedFiles : public FileChooser {
public:
    std::optional<std::string> open;
    std::optional<std::string> chooseOpen(FileKind) override { return open; }
    std::optional<std::string> chooseSave(FileKind) override { return {}; }
};

// The largest gap between two turns of a 5 ms timer while it is measured: how long the
// event loop was kept from serving the windows (and the workers' hand-offs).
class LoopGaps : public QObject {
public:
    LoopGaps() {
        turn_.setTimerType(Qt::PreciseTimer);
        turn_.setInterval(5);
        QObject::connect(&turn_, &QTimer::timeout, this, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (measuring_ && last_ > 0)
                largest_ = std::max(largest_, now - last_);
            last_ = now;
        });
        clock_.start();
        turn_.start();
    }
    void measure(bool on) {
        measuring_ = on;
        last_ = 0;
    }
    double largestMs() const { return largest_ / 1e6; }

private:
    QTimer turn_;
    QElapsedTimer clock_;
    qint64 last_ = 0, largest_ = 0;
    bool measuring_ = false;
};

bool protocolHas(TMetrForm* run, const char* utf8) {
    for (const std::string& line : run->models().protocol.lines())
        if (toUtf8(line).find(utf8) != std::string::npos)
            return true;
    return false;
}

// The screenshots are taken on the loop's thread: their time is not a gap of the loop.
LoopGaps* gapsMeasured = nullptr;

void shoot(QWidget* window, const char* name) {
    if (gapsMeasured)
        gapsMeasured->measure(false);
    const char* dir = std::getenv("VETLINA_SCREENSHOT_DIR");
    const QString folder = dir && *dir
                               ? QString::fromLocal8Bit(dir)
                               : QStringLiteral(VETLINA_BINARY_DIR "/tests/gui/screenshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(window->grab().save(folder + QLatin1Char('/') + QString::fromLatin1(name))) << name;
}

std::string ini(const std::string& ident, uint16_t modem, uint16_t analyzer,
                const std::string& times = "") {
    return "[VETLINA]\r\nIdent=" + ident + "\r\nModemPort=1\r\nZMKPort=2\r\n[TIMES]\r\n" + times +
           "[PORTS]\r\nCOM1=rfc2217://127.0.0.1:" + std::to_string(modem) +
           "\r\nCOM2=rfc2217://127.0.0.1:" + std::to_string(analyzer) + "\r\n";
}

TEST(SessionFromWindowTest, TheWindowsFollowASessionAndTheRunEndsThroughTheClosingQuestion) {
    TempFolder root;
    // The network's clock, joined by this process at its first look at the clock.
    ::setenv("VETLINA_CLOCK_FILE", (root.path() + "/clock").c_str(), 1);
    ::setenv("VETLINA_TIME_SCALE", scale().c_str(), 1);
    nlohmann::json config = {
        {"stations", {test::modemStation("A", "1001"), test::modemStation("B", "1002")}},
        {"channels",
         {{{"between", {"A", "B"}}, {"model", {{"attenuationDb", 6}, {"noiseDbm", -60}}}}}}};
    SimProcess sim(config, root.path(), std::stod(scale()));

    // B answers (vetlina-run, passive).
    TempFolder b;
    b.write("Vetlina.ini", ini("22222222", sim.port("B", "modem"), sim.port("B", "analyzer")));
    // It stops on a broken norm too, so that the connection is held until the caller's
    // operator goes on.
    RunProcess answerer(b, {"--passive", "--option", "stop-on-norms"}, scale());
    ASSERT_TRUE(waitForText(b.path() + "/stdout.txt", "Жду звонка", 60));

    // A calls B from the window: one session of sine and O.132 signal, with a signal/noise
    // norm on O.132 that no channel meets, and the run option that stops on it.
    TempFolder a;
    a.write("Vetlina.ini",
            ini("11111111", sim.port("A", "modem"), sim.port("A", "analyzer"), "AlarmTime=60\r\n"));
    a.write("scn.json", R"({"version": "01.12.99", "entries": [{"Id": "22222222",
        "Number": "1002", "NumTotal": 1, "NumMin": 1, "SincTime": 2, "SinTime": 6,
        "O132Time": 4, "O131Time": 0, "MTTSTime": 0, "O42Time": 0, "ImpTime": 0, "BlkTime": 0,
        "EchoTime": 0, "DiscrTime": 0, "norms": {"o132SNR": {"on": 1, "value": 70}}}]})");
    const std::string make = "cd '" + a.path() +
                             "' && mkdir -p SCN && " VETLINA_BINARY_DIR
                             "/src/cli/vetlina-data scn make scn.json -o SCN/s.scn";
    ASSERT_EQ(std::system(make.c_str()), 0);
    CurrentDirectory cwd(a.path());
    RecordingDialogs dialogs;
    ScriptedFiles files;
    files.open = a.path() + "/SCN/s.scn";
    TForm1 form(dialogs, files);
    form.show();
    form.action("SpeedOpenScen")->trigger();
    ASSERT_EQ(form.scenario().count(), 1);
    form.action("StopOnNorms")->setChecked(true);
    LoopGaps gaps;
    gapsMeasured = &gaps;
    form.action("SpeedStart")->trigger();
    TMetrForm* run = form.runWindow();
    ASSERT_NE(run, nullptr);
    using namespace timetable;
    ASSERT_TRUE(step("the run is active", kStartUp, [&] { return run->active(); }));
    ASSERT_TRUE(step("the call", kStartUp, [&] { return protocolHas(run, "Вызов 22222222"); }));
    gaps.measure(true);

    // The sine measurement: the results window lists its values, the visualisation
    // window shows its panel and redraws the spectrum as the analyzer sends it.
    TShowForm* show = run->showForm();
    auto measuring = [&] {
        return !run->models().show.spectrum.empty() && run->models().show.spectrumMode != -6;
    };
    // The call connects, the entry is handed over, the range step, then the sine step.
    ASSERT_TRUE(step("the spectrum of the sine", kConnection + kBlock + kRangeStep + kSineStep,
                     [&] { return measuring() && show->plot()->framesDrawn() >= 3; }));
    const uint64_t frames = show->plot()->framesDrawn();
    ASSERT_TRUE(step("the spectrum redrawn", kSineStep,
                     [&] { return measuring() && show->plot()->framesDrawn() > frames + 2; }));
    ASSERT_TRUE(
        step("the sine's results", kSineStep, [&] { return run->reslForm()->box()->count() > 0; }));
    EXPECT_TRUE(run->protForm()->memo()->toPlainText().contains(QStringLiteral("Вызов 22222222")));
    EXPECT_FALSE(run->labState()->text().isEmpty());
    shoot(run, "run-window.png");
    shoot(show, "viewer-visualisation.png");
    shoot(run->reslForm(), "viewer-results.png");
    shoot(run->protForm(), "viewer-protocol.png");
    // Then the generator's turn: the progress panel with the kinds of the session.
    ASSERT_TRUE(step("the generator's progress", kPass, [&] {
        return show->panel()->isVisible() && show->bar(ShowKind::Sin)->value() > 30;
    }));
    EXPECT_TRUE(show->bar(ShowKind::Sin)->isEnabled());
    EXPECT_FALSE(show->bar(ShowKind::Echo)->isEnabled());
    shoot(show, "viewer-progress.png");

    // The broken norm stops the work: the pause window counts down; the operator goes on.
    TAlarmForm* alarm = run->alarmForm();
    // The rest of the pass, the modems reconnect and the results are exchanged.
    ASSERT_TRUE(
        step("the pause window", kPass + kConnection + kBlock, [&] { return alarm->isVisible(); }));
    EXPECT_GT(alarm->parBox()->count(), 0);
    ASSERT_TRUE(step("the countdown", kCountdown,
                     [&] { return alarm->windowTitle().contains(QStringLiteral("осталось")); }));
    shoot(alarm, "pause-window.png");
    QTest::mouseClick(alarm->startButton(), Qt::LeftButton);
    ASSERT_TRUE(
        step("the work goes on", kBlock, [&] { return protocolHas(run, "Измерения продолжены"); }));
    EXPECT_FALSE(protocolHas(run, "после разрыва связи"));
    EXPECT_GT(run->statForm()->box()->count(), 0);
    shoot(run->statForm(), "viewer-statistics.png");
    gaps.measure(false);
    gapsMeasured = nullptr;

    // The counters show what the link counted.
    for (RunCounter which : {RunCounter::ZmkRecvBadBlk, RunCounter::ZmkSendNotReady,
                             RunCounter::MdmRecvErr, RunCounter::MdmSendErr})
        EXPECT_EQ(run->counter(which)->text().toStdString(), run->models().run.counterText(which));

    dialogs.answerNext(DialogAnswer::Yes);
    EXPECT_TRUE(run->close());
    EXPECT_FALSE(run->active());
    EXPECT_EQ(dialogs.texts().back(), "Закончить работу ?");
    EXPECT_TRUE(protocolHas(run, "Работа закончена"));
    EXPECT_TRUE(form.isVisible());
    std::printf("largest gap between event-loop turns during the session: %.1f ms (scale %s)\n",
                gaps.largestMs(), scale().c_str());
    answerer.signal(SIGTERM);
    EXPECT_EQ(answerer.wait(60000), 0) << answerer.err();
}

} // namespace
} // namespace vetlina::test

int main(int argc, char** argv) {
    return vetlina::test::runWindowTests(argc, argv);
}
