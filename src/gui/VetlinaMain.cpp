// vetlina: the window program of a complex. It works in the current directory like
// every program of the system and honours the switch "/d" (Qt's own options, such as
// "-platform offscreen", are Qt's).
#include "gui/QtDialogs.h"
#include "gui/TForm1.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// Qt picks a platform from "-platform", QT_QPA_PLATFORM or the session's display;
// without any of them it would abort with a page of plugin diagnostics.
bool displayAvailable(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0)
            return true;
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    // SIGTERM and SIGINT (the session ending, Ctrl+C) close the window in order: the
    // signals wait, blocked, until the event loop reads them.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    if (!displayAvailable(argc, argv)) {
        std::fputs("vetlina: no display: DISPLAY and WAYLAND_DISPLAY are not set "
                   "(start it in a desktop session, or with -platform offscreen)\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vetlina"));
    QApplication::setOrganizationName(QStringLiteral("Orvelkan"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vetlina"));

    vetlina::QtDialogs dialogs;
    vetlina::QtFileChooser files(nullptr);
    vetlina::TForm1 form(dialogs, files);
    dialogs.setParent(&form);

    const int stopFd = signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
    QSocketNotifier stopNotifier(stopFd, QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [stopFd] {
        signalfd_siginfo info;
        while (read(stopFd, &info, sizeof info) == sizeof info) {
        }
        QApplication::exit(0);
    });

    form.show();
    const int status = app.exec();
    close(stopFd);
    return status;
}
