// The Qt application of a window benchmark: offscreen unless the environment names a
// platform, settings in Qt's test locations, made once per process.
#pragma once

#include <QApplication>
#include <QStandardPaths>

namespace vetlina::bench {

inline QApplication& guiApplication() {
    static int argc = 1;
    static char name[] = "vetlina-bench";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    static QApplication app(argc, argv);
    return app;
}

} // namespace vetlina::bench
