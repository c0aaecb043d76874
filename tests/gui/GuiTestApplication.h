// The Qt application of a window test binary: offscreen unless the environment names a
// platform, under the program's organisation and application names, with its settings
// store in Qt's test locations (never the operator's) and emptied first, so that no
// earlier run leaves settings behind; then every test of the binary.
#pragma once

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace vetlina::test {

inline int runWindowTests(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Orvelkan"));
    QApplication::setApplicationName(QStringLiteral("Vetlina"));
    QSettings().clear();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

} // namespace vetlina::test
