// A run started from the main window: it runs through the same Run and Complex as the
// headless runner, the workers' lines reach the log view only through the UI bridge
// served by the Qt event loop, and the end of the run brings the main window back.
#include "GuiTestSupport.h"
#include "WorkerDoubles.h"
#include "app/StartModes.h"
#include "gui/TMetrForm.h"
#include "gui/ViewerWindows.h"

#include <QAction>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

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
    TMetrForm* run = w.form->runWindow();
    ASSERT_NE(run, nullptr);
    EXPECT_FALSE(w.form->isVisible());
    auto* view = run->protForm()->findChild<QPlainTextEdit*>(QStringLiteral("ProtMemo"));
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

// Message boxes that keep the main thread in a nested event loop, as a real one does
// while the operator reads it: here until the run's end has been posted and the loop has
// turned a few more times (so the bridge's queued serve has run inside it).
class ReadingDialogs : public RecordingDialogs {
public:
    std::atomic<bool> endPosted{false};
    void showMessage(const std::string& title, const std::string& text, DialogIcon icon) override {
        RecordingDialogs::showMessage(title, text, icon);
        QEventLoop reading;
        int turnsAfterEnd = 0;
        QTimer turn;
        QObject::connect(&turn, &QTimer::timeout, &reading, [&] {
            if (endPosted && ++turnsAfterEnd > 5)
                reading.quit();
        });
        turn.start(1);
        reading.exec();
    }
};

// The analyzer shows a message; while it is open the modem ends the run. The end is
// handled after the message box has closed, not inside its event loop, where tearing the
// run down would wait for the analyzer, which waits for its message box.
TEST(RunFromWindowTest, TheEndOfARunWaitsForAMessageBoxThatIsOpen) {
    test::TempFolder folder;
    folder.write("Vetlina.ini", "[VETLINA]\r\nIdent=12345678\r\n");
    test::CurrentDirectory cwd(folder.path());
    ReadingDialogs dialogs;
    ScriptedFiles files;
    TForm1 form(dialogs, files);
    form.show();
    WorkerLog log;
    auto factory = std::make_unique<DoubleFactory>(log);
    factory->modemAtStart = [&dialogs](DoubleModem& modem) {
        // A message box of another worker, shown on the main thread as QtDialogs shows it.
        std::thread reader([&modem] {
            modem.ui().invokeSync([&modem] {
                modem.ui().dialogs().showMessage("ZMK", "read me", DialogIcon::Warning);
            });
        });
        while (dialogs.texts().empty())
            sleepMs(1);
        modem.ui().post(MSG_RUN_END);
        dialogs.endPosted = true;
        reader.join();
    };
    form.setWorkerFactory(std::move(factory));
    form.action("SpeedPassive")->trigger();
    ASSERT_NE(form.runWindow(), nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!form.runWindow()->active() && form.isVisible(), 60000);
    EXPECT_EQ(dialogs.texts().back(), "read me");
}

TEST(RunFromWindowTest, AnActiveStartNeedsAList) {
    WindowFixture w;
    w.form->startRun(StartMode::Active);
    EXPECT_EQ(w.form->runWindow(), nullptr);
    EXPECT_EQ(w.dialogs.texts().back(), "Нет сценария");
}

} // namespace
} // namespace vetlina::test
