// The Qt application of a window test binary: offscreen unless the environment names a
// platform, under the program's organisation and application names, with a settings
// store of the process's own (never the operator's, and never that of another test
// binary that ctest runs side by side), empty at the start; then every test of the
// binary.
#pragma once

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace vetlina::test {

inline int runWindowTests(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir settingsFolder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Orvelkan"));
    QApplication::setApplicationName(QStringLiteral("Vetlina"));
    QSettings().clear();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

} // namespace vetlina::test
