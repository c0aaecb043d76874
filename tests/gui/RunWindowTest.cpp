// The run window and the windows of a run as the operator meets them: the bar's size
// rules, the print keys and the print items, the counters as the workers set them, the
// pause window's countdown and its two ends, printing to PDF, and a viewer closed by
// its close box.
#include "GuiTestSupport.h"
#include "WorkerDoubles.h"
#include "app/StartModes.h"
#include "gui/PrintWindow.h"
#include "gui/TAlarmForm.h"
#include "gui/TMetrForm.h"
#include "gui/ViewerWindows.h"
#include "gui/WindowPlacement.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <gtest/gtest.h>

namespace vetlina::test {
namespace {

// Each test starts from the per-machine values of a fresh installation.
struct FreshSettings {
    FreshSettings() { QSettings(QStringLiteral("Orvelkan"), QStringLiteral("Vetlina")).clear(); }
};

// A passive run on worker doubles, its window open.
class RunWindowTest : public ::testing::Test {
protected:
    FreshSettings fresh;
    void SetUp() override {
        auto factory = std::make_unique<DoubleFactory>(log);
        factory->modemAtStart = [this](DoubleModem& modem) {
            if (modemAtStart)
                modemAtStart(modem);
        };
        w.form->setWorkerFactory(std::move(factory));
        w.form->action("SpeedPassive")->trigger();
        run = w.form->runWindow();
        ASSERT_NE(run, nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(run->active(), 30000);
        // Prints go to PDF files of the test's folder, one per print, named by window.
        run->choosePrinter = [this](QPrinter& printer, QWidget* window) {
            printed.push_back(window->objectName());
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdfPath(window->objectName()));
            return true;
        };
    }
    void TearDown() override {
        if (run && run->active()) {
            w.dialogs.answerNext(DialogAnswer::Yes);
            run->close();
        }
    }
    QString pdfPath(const QString& window) {
        return QString::fromStdString(w.folder.path()) + QLatin1Char('/') + window +
               QStringLiteral(".pdf");
    }
    // The pages of a PDF file (0 when there is none).
    int pdfPages(const QString& window) {
        QFile file(pdfPath(window));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        const QString text = QString::fromLatin1(file.readAll());
        return static_cast<int>(
            text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?![s])"))));
    }

    WindowFixture w;
    WorkerLog log;
    std::function<void(DoubleModem&)> modemAtStart;
    TMetrForm* run = nullptr;
    QStringList printed;
};

TEST_F(RunWindowTest, TheBarKeepsItsHeightAndLeastWidthWithTheCountersAtTheRightEdge) {
    const struct {
        QSize asked;
        QSize kept;
    } cases[] = {{{150, 60}, {200, 23}},
                 {{640, 10}, {640, 23}},
                 {{199, 23}, {200, 23}},
                 {{900, 80}, {900, 23}}};
    for (const auto& c : cases) {
        run->resize(c.asked);
        QApplication::processEvents();
        EXPECT_EQ(run->size(), c.kept) << c.asked.width() << "x" << c.asked.height();
        // Right to left: bad blocks, lost acknowledgements, receive errors, repeats, each
        // 4 pixels from the one on its right (the first from the window's edge).
        int right = run->width();
        for (RunCounter which : {RunCounter::ZmkRecvBadBlk, RunCounter::ZmkSendNotReady,
                                 RunCounter::MdmRecvErr, RunCounter::MdmSendErr}) {
            const QRect g = run->counter(which)->geometry();
            EXPECT_EQ(g.right() + 1, right - 4);
            right = g.left();
        }
        EXPECT_LE(run->labState()->geometry().right(), right);
    }
}

TEST_F(RunWindowTest, ThePrintKeysPrintTheirWindowFromTheBarAndFromEveryViewer) {
    const struct {
        int key;
        const char* window;
    } keys[] = {{Qt::Key_F5, "TReslForm"},
                {Qt::Key_F6, "TStatForm"},
                {Qt::Key_F7, "TProtForm"},
                {Qt::Key_F8, "TShowForm"}};
    QWidget* from[] = {run, run->protForm()->memo(), run->reslForm(), run->showForm()};
    for (QWidget* source : from)
        for (const auto& k : keys) {
            printed.clear();
            QTest::keyClick(source, static_cast<Qt::Key>(k.key));
            EXPECT_EQ(printed, QStringList{QString::fromLatin1(k.window)})
                << qPrintable(source->objectName()) << " " << k.window;
            EXPECT_EQ(pdfPages(QString::fromLatin1(k.window)), 1) << k.window;
        }
    // Another key prints nothing.
    printed.clear();
    QTest::keyClick(run, Qt::Key_F9);
    EXPECT_TRUE(printed.isEmpty());
}

TEST_F(RunWindowTest, AHiddenWindowDisablesItsPrintItemAndItsKeyPrintsNothing) {
    QAction* window = run->item("N5");
    QAction* print = run->item("N6");
    EXPECT_EQ(print->text(), QStringLiteral("Печать...                  F7"));
    ASSERT_TRUE(window->isChecked());
    window->trigger();
    EXPECT_FALSE(run->protForm()->isVisible());
    EXPECT_FALSE(print->isEnabled());
    QTest::keyClick(run, Qt::Key_F7);
    EXPECT_TRUE(printed.isEmpty());
    EXPECT_EQ(pdfPages(QStringLiteral("TProtForm")), 0);

    // The close box of a viewer does the same, and "Отобразить все окна" brings all back.
    EXPECT_TRUE(run->statForm()->close());
    EXPECT_FALSE(run->statForm()->isVisible());
    EXPECT_FALSE(run->item("N3")->isChecked());
    EXPECT_FALSE(run->item("N4")->isEnabled());
    run->item("N21")->trigger();
    for (const char* name : {"N1", "N3", "N5", "N7"})
        EXPECT_TRUE(run->item(name)->isChecked()) << name;
    for (const char* name : {"N2", "N4", "N6", "N8"})
        EXPECT_TRUE(run->item(name)->isEnabled()) << name;
    EXPECT_TRUE(run->protForm()->isVisible());
    EXPECT_TRUE(run->statForm()->isVisible());
    // The check marks go back to the main window at the end of the run.
    window->trigger();
    w.dialogs.answerNext(DialogAnswer::Yes);
    run->close();
    EXPECT_FALSE(w.form->action("ProtWindow")->isChecked());
    EXPECT_TRUE(w.form->action("StatWindow")->isChecked());
}

TEST_F(RunWindowTest, TheCountersFollowTheWorkersAndTheWindowsGetNothingAfterTheEnd) {
    // The workers set their counters through the bridge, from their own threads.
    std::atomic<bool> done{false};
    std::thread worker([&] {
        UiBridge& bridge = run->bridge();
        const std::pair<RunCounter, int> counts[] = {{RunCounter::ZmkRecvBadBlk, 3},
                                                     {RunCounter::ZmkSendNotReady, 1},
                                                     {RunCounter::MdmRecvErr, 12},
                                                     {RunCounter::MdmSendErr, 7}};
        for (auto [which, value] : counts)
            bridge.invokeSync(
                [&bridge, which, value] { bridge.models().setCounter(which, value); });
        bridge.invokeSync([&bridge] { bridge.models().addProtocolLine("12:00:00 a line"); });
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 30000);
    worker.join();
    EXPECT_EQ(run->counter(RunCounter::ZmkRecvBadBlk)->text(), QStringLiteral("3"));
    EXPECT_EQ(run->counter(RunCounter::ZmkSendNotReady)->text(), QStringLiteral("1"));
    EXPECT_EQ(run->counter(RunCounter::MdmRecvErr)->text(), QStringLiteral("12"));
    EXPECT_EQ(run->counter(RunCounter::MdmSendErr)->text(), QStringLiteral("7"));
    EXPECT_EQ(run->counter(RunCounter::MdmSendErr)->toolTip(),
              QStringLiteral("Счетчик повторений передачи модема"));
    EXPECT_TRUE(run->protForm()->memo()->toPlainText().endsWith(QStringLiteral("a line")));

    // The end of work writes the counters that are not 0 into the protocol.
    w.dialogs.answerNext(DialogAnswer::Yes);
    ASSERT_TRUE(run->close());
    const auto& lines = run->models().protocol.lines();
    auto has = [&](const std::string& tail) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.size() >= tail.size() &&
                   l.compare(l.size() - tail.size(), tail.size(), tail) == 0;
        });
    };
    EXPECT_TRUE(has("Работа закончена"_cp));
    EXPECT_TRUE(has(" -повторений передачи модема: 7"_cp));
    EXPECT_TRUE(has(" -сбойных блоков анализатора: 3"_cp));
    // A late change of a model reaches no window of the ended run.
    const QString shown = run->counter(RunCounter::MdmSendErr)->text();
    run->models().setCounter(RunCounter::MdmSendErr, 99);
    run->models().addProtocolLine("late");
    EXPECT_EQ(run->counter(RunCounter::MdmSendErr)->text(), shown);
    EXPECT_FALSE(run->protForm()->memo()->toPlainText().contains(QStringLiteral("late")));
}

TEST_F(RunWindowTest, NoToTheClosingQuestionLeavesTheRunOn) {
    w.dialogs.answerNext(DialogAnswer::No);
    EXPECT_FALSE(run->close());
    EXPECT_TRUE(run->active());
    EXPECT_EQ(w.dialogs.texts().back(), "Закончить работу ?");
    EXPECT_FALSE(w.form->isVisible());
}

// The pause window on the program's clock, sped up so that 300 seconds pass in a few.
class PauseWindowTest : public RunWindowTest {
protected:
    void SetUp() override {
        RunWindowTest::SetUp();
        setTimeScaleForTesting(200);
    }
    void TearDown() override {
        setTimeScaleForTesting(1);
        RunWindowTest::TearDown();
    }
    PauseWindowModel& pause() { return run->models().pause; }
    void show(bool caller) {
        pause().parameters = {"Сигнал/шум      25.1 < 30.0"_cp};
        if (caller)
            pause().showAsCaller();
        else
            pause().showAsAnswerer();
        run->models().notify(ModelPart::Pause);
    }
};

TEST_F(PauseWindowTest, TheCallersCountdownContinuesTheWorkByItself) {
    TAlarmForm* alarm = run->alarmForm();
    pause().alarmTime = 300;
    QStringList titles;
    QObject::connect(alarm, &QWidget::windowTitleChanged,
                     [&titles](const QString& title) { titles << title; });
    const uint32_t shown = tickMs();
    show(true);
    ASSERT_TRUE(alarm->isVisible());
    EXPECT_EQ(alarm->windowTitle(), QStringLiteral("Измерения остановлены"));
    EXPECT_EQ(alarm->question()->text(), QStringLiteral("Остановить процесс измерений ?"));
    EXPECT_TRUE(alarm->stopButton()->isEnabled());
    EXPECT_FALSE(alarm->note()->isEnabled());
    EXPECT_EQ(alarm->parBox()->count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!alarm->isVisible(), 60000);
    // The caption counted every second down from 00:04:59 to 00:00:01.
    ASSERT_EQ(titles.size(), 299);
    EXPECT_EQ(titles.front(), QStringLiteral("00:04:59 - осталось до продолжения измерений"));
    EXPECT_EQ(titles[239], QStringLiteral("00:01:00 - осталось до продолжения измерений"));
    EXPECT_EQ(titles.back(), QStringLiteral("00:00:01 - осталось до продолжения измерений"));
    EXPECT_FALSE(pause().visible);
    EXPECT_GE(tickMs() - shown, 300000u);
    EXPECT_EQ(pause().beeps, 299u);
}

TEST_F(PauseWindowTest, AfterStopTheWindowWaitsForContinueAndKeepsTheNote) {
    TAlarmForm* alarm = run->alarmForm();
    pause().alarmTime = 5;
    show(true);
    QTest::mouseClick(alarm->stopButton(), Qt::LeftButton);
    EXPECT_EQ(alarm->question()->text(), QStringLiteral("Продолжить процесс измерений ?"));
    EXPECT_FALSE(alarm->stopButton()->isEnabled());
    ASSERT_TRUE(alarm->note()->isEnabled());
    QTest::keyClicks(alarm->note(), QStringLiteral("OK"));
    alarm->note()->insert(QStringLiteral(": линия проверена"));
    // Well past the countdown the window still waits.
    const uint32_t past = tickMs() + 10000;
    QTRY_VERIFY_WITH_TIMEOUT(tickReached(past), 30000);
    QApplication::processEvents();
    EXPECT_TRUE(alarm->isVisible());
    EXPECT_EQ(alarm->windowTitle(), QStringLiteral("Измерения остановлены"));
    QTest::mouseClick(alarm->startButton(), Qt::LeftButton);
    EXPECT_FALSE(alarm->isVisible());
    EXPECT_FALSE(pause().visible);
    EXPECT_EQ(pause().note, "OK: линия проверена"_cp);

    // The answerer's window has no countdown and only "Продолжить".
    show(false);
    EXPECT_TRUE(alarm->isVisible());
    EXPECT_FALSE(alarm->stopButton()->isEnabled());
    EXPECT_TRUE(alarm->startButton()->isEnabled());
    EXPECT_TRUE(alarm->note()->text().isEmpty());
    EXPECT_FALSE(pause().timerOn);
    QTest::mouseClick(alarm->startButton(), Qt::LeftButton);
    EXPECT_FALSE(pause().visible);
}

TEST_F(PauseWindowTest, TheEndOfTheRunTakesAPauseWindowAwayAndStopsItsCountdown) {
    pause().alarmTime = 300;
    show(true);
    ASSERT_TRUE(run->alarmForm()->isVisible());
    w.dialogs.answerNext(DialogAnswer::Yes);
    ASSERT_TRUE(run->close());
    EXPECT_FALSE(run->alarmForm()->isVisible());
    const int32_t left = pause().countdown;
    const uint32_t later = tickMs() + 5000;
    QTRY_VERIFY_WITH_TIMEOUT(tickReached(later), 30000);
    QApplication::processEvents();
    EXPECT_EQ(pause().countdown, left);
}

TEST(PrintWindowTest, TheImageIsSizedOnThePageAsTheScaleSettingSays) {
    const QSizeF screen(96, 96), printer(600, 600);
    const QSize page(4800, 6600); // printable area in printer pixels
    const int h = 100;            // line height
    const struct {
        QSize image;
        PrintScale scale;
        QRect expected;
    } cases[] = {
        // Proportional: 6.25 printer pixels per screen pixel.
        {{400, 300}, PrintScale::Proportional, {480, 500, 2500, 1875}},
        // Wider than 0.8 of the page: 0.8 page width, the height in proportion.
        {{1000, 200}, PrintScale::Proportional, {480, 500, 3840, 768}},
        // Taller than the page less 5 lines: the height is cut, the width follows.
        {{300, 1200}, PrintScale::Proportional, {480, 500, 1525, 6100}},
        // Fit to page: the page height, unless that makes it wider than the page.
        {{300, 600}, PrintScale::FitToPage, {480, 500, 3300, 6600}},
        {{1200, 300}, PrintScale::FitToPage, {480, 500, 4800, 1200}},
        {{321, 123}, PrintScale::None, {480, 500, 321, 123}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(printedImageRect(c.image, screen, printer, page, h, c.scale), c.expected)
            << c.image.width() << "x" << c.image.height() << " " << static_cast<int>(c.scale);
}

TEST_F(RunWindowTest, EveryWindowPrintsToAPdfPageAndAHiddenOneToNone) {
    // The viewers through the run window, the run window and the pause window directly.
    for (Viewer which :
         {Viewer::Results, Viewer::Statistics, Viewer::Protocol, Viewer::Visualisation})
        EXPECT_TRUE(run->printViewer(which));
    for (const char* name : {"TReslForm", "TStatForm", "TProtForm", "TShowForm"})
        EXPECT_EQ(pdfPages(QString::fromLatin1(name)), 1) << name;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfPath(QStringLiteral("TMetrForm")));
    EXPECT_TRUE(printWindow(run, printer));
    EXPECT_EQ(pdfPages(QStringLiteral("TMetrForm")), 1);
    printer.setOutputFileName(pdfPath(QStringLiteral("TAlarmForm")));
    EXPECT_FALSE(printWindow(run->alarmForm(), printer)); // not shown
    EXPECT_EQ(pdfPages(QStringLiteral("TAlarmForm")), 0);
}

} // namespace
} // namespace vetlina::test

namespace vetlina::test {
namespace {

TEST(WindowPlacementTest, TheWindowsOfARunStartUnderTheBar) {
    const RunPlacements p = defaultRunPlacements(QRect(80, 60, 1140, 740), 23);
    EXPECT_EQ(p.metr, QRect(80, 60, 1140, 23));
    EXPECT_EQ(p.prot, QRect(80, 83, 570, 182));
    EXPECT_EQ(p.stat, QRect(260, 83, 960, 360));
    EXPECT_EQ(p.resl, QRect(360, 83, 860, 360));
    EXPECT_EQ(p.show, QRect(80, 265, 1140, 535));
    // A main window too small for the visualisation window still leaves it room.
    EXPECT_GE(defaultRunPlacements(QRect(0, 0, 300, 150), 23).show.height(), 100);
}

TEST_F(RunWindowTest, EachWindowKeepsThePlaceTheOperatorGaveIt) {
    run->protForm()->setGeometry(QRect(40, 500, 610, 230));
    run->alarmForm()->resize(700, 330);
    w.dialogs.answerNext(DialogAnswer::Yes);
    ASSERT_TRUE(run->close());
    w.form->action("SpeedPassive")->trigger();
    run = w.form->runWindow();
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->protForm()->geometry(), QRect(40, 500, 610, 230));
    EXPECT_EQ(run->alarmForm()->size(), QSize(700, 330));
    QTRY_VERIFY_WITH_TIMEOUT(run->active(), 30000);
}

} // namespace
} // namespace vetlina::test

namespace vetlina::test {
namespace {

TEST(AboutBoxTest, ItNamesTheProgramAndClosesWithItsButton) {
    TAboutBox about;
    QStringList texts;
    for (QLabel* label : about.findChildren<QLabel*>())
        texts << label->text();
    for (const char* text : {"Программно-аппаратный измерительный комплекс", "Kerat ЛИРС",
                             "Версия  2", "Модификация 50"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(text))) << text;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("О программе"));
    auto* exit = about.findChild<QPushButton*>(QStringLiteral("OKButton"));
    ASSERT_NE(exit, nullptr);
    EXPECT_EQ(exit->text(), QStringLiteral("Выход"));
    about.show();
    QTest::mouseClick(exit, Qt::LeftButton);
    EXPECT_EQ(about.result(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());
}

} // namespace
} // namespace vetlina::test
