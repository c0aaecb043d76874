// A run started from the main window: it runs through the same Run and Complex as the
// headless runner, the workers' lines reach the log view only through the UI bridge
// served by the Qt event loop, and the end of the run brings the main window back.
#include "GuiTestSupport.h"
#include "WorkerDoubles.h"
#include "app/StartModes.h"
#include "gui/RunLogWindow.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

namespace vetlina::test {
namespace {

TEST(RunFromWindowTest, APassiveRunShowsItsProtocolAndEndsBackInTheEditor) {
    WindowFixture w;
    WorkerLog log;
    auto factory = std::make_unique<DoubleFactory>(log);
    std::atomic<bool> workerOffMainThread{false};
    factory->modemAtStart = [&](DoubleModem& modem) {
        workerOffMainThread = QThread::currentThread() != qApp->thread();
        modem.showProtocolLine("line from the modem thread");
    };
    w.form->setWorkerFactory(std::move(factory));
    EXPECT_FALSE(w.form->action("SpeedOpenProt")->isEnabled());

    w.form->action("SpeedPassive")->trigger();
    RunLogWindow* run = w.form->runLog();
    ASSERT_NE(run, nullptr);
    EXPECT_FALSE(w.form->isVisible());
    auto* view = run->findChild<QPlainTextEdit*>(QStringLiteral("ProtMemo"));
    ASSERT_NE(view, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(
        view->toPlainText().contains(QStringLiteral("line from the modem thread")), 60000);
    EXPECT_TRUE(workerOffMainThread);
    EXPECT_TRUE(run->active());

    // Closing the run's window asks, and Yes ends the work.
    w.dialogs.answerNext(DialogAnswer::Yes);
    EXPECT_TRUE(run->close());
    EXPECT_FALSE(run->active());
    EXPECT_TRUE(w.form->isVisible());
    EXPECT_EQ(w.dialogs.texts().front(), "Закончить работу ?");
    // The protocol document now exists, and its command is enabled.
    EXPECT_TRUE(w.form->action("SpeedOpenProt")->isEnabled());
    EXPECT_EQ(checkLifecycle(log.events(), {"analyzer", "modem"}, true), "");
}

TEST(RunFromWindowTest, AnActiveStartNeedsAList) {
    WindowFixture w;
    w.form->startRun(StartMode::Active);
    EXPECT_EQ(w.form->runLog(), nullptr);
    EXPECT_EQ(w.dialogs.texts().back(), "Нет сценария");
}

} // namespace
} // namespace vetlina::test
