// Starting the program: without a display it says so in one line; with
// "-platform offscreen" it starts, and a stop signal closes it in order.
#include "TempFolder.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace vetlina::test {
namespace {

QProcessEnvironment withoutDisplay(const TempFolder& folder) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    // The program's settings go to the test's folder, not the operator's.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(folder.file("config")));
    return env;
}

// True once the process blocks SIGTERM: from then on the signal waits for its event
// loop, which closes the window in order.
bool blocksStopSignal(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigBlk:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    return false;
}

TEST(StartupTest, WithoutADisplayTheProgramSaysSoInOneLine) {
    TempFolder folder;
    QProcess program;
    program.setProcessEnvironment(withoutDisplay(folder));
    program.setWorkingDirectory(QString::fromStdString(folder.path()));
    program.start(QStringLiteral(VETLINA_BINARY_DIR "/src/gui/vetlina"), {});
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    const QByteArray err = program.readAllStandardError();
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.startsWith("vetlina: no display")) << err.toStdString();
}

TEST(StartupTest, OffscreenTheProgramStartsAndAStopSignalClosesIt) {
    TempFolder folder;
    folder.write("Vetlina.ini", "[VETLINA]\r\nIdent=12345678\r\n");
    QProcess program;
    program.setProcessEnvironment(withoutDisplay(folder));
    program.setWorkingDirectory(QString::fromStdString(folder.path()));
    program.start(QStringLiteral(VETLINA_BINARY_DIR "/src/gui/vetlina"),
                  {QStringLiteral("-platform"), QStringLiteral("offscreen")});
    ASSERT_TRUE(program.waitForStarted(60000));
    QTRY_VERIFY_WITH_TIMEOUT(
        blocksStopSignal(program.processId()) || program.state() == QProcess::NotRunning, 60000);
    ASSERT_EQ(program.state(), QProcess::Running) << program.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
}

} // namespace
} // namespace vetlina::test
