// The window tests run offscreen with their own settings store, so that they never see
// or change the operator's.
#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    // A settings store of this process's own: ctest runs the window tests side by side,
    // and one test's store must not be cleared or changed under another.
    QTemporaryDir settingsFolder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Orvelkan"));
    QApplication::setApplicationName(QStringLiteral("Vetlina"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
