// The window tests run offscreen with their own settings store, so that they never see
// or change the operator's.
#include <QApplication>
#include <QStandardPaths>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Orvelkan"));
    QApplication::setApplicationName(QStringLiteral("Vetlina"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
