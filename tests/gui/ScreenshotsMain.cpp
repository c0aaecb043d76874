// vetlina-screenshots DIR: renders the main window offscreen with each of its pages in
// front, as PNG files editor-1-dialling.png ... editor-6-norms3.png in DIR, with a small
// scenario of three complexes loaded.
#include "RecordingDialogs.h"
#include "TempFolder.h"
#include "gui/TForm1.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableView>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: vetlina-screenshots DIR\n", stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    const QString dir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "vetlina-screenshots: cannot make %s\n", argv[1]);
        return 1;
    }

    // The settings of a fresh installation (tool bar shown, every option at its default).
    QSettings(QStringLiteral("Orvelkan"), QStringLiteral("Vetlina")).clear();
    vetlina::test::TempFolder folder;
    folder.write("Vetlina.ini", "[VETLINA]\r\nIdent=77001234\r\n");
    vetlina::test::CurrentDirectory cwd(folder.path());
    vetlina::test::RecordingDialogs dialogs;
    struct NoFiles : vetlina::FileChooser {
        std::optional<std::string> chooseOpen(vetlina::FileKind) override { return {}; }
        std::optional<std::string> chooseSave(vetlina::FileKind) override { return {}; }
    } files;
    vetlina::TForm1 form(dialogs, files);
    form.resize(1140, 740);
    auto& editor = form.editor();
    editor.addComplex("77001201", "8w4952310045");
    editor.addComplex("770012X2", "t8123456789");
    editor.addComplex("77001203", "8w8432123456");
    form.show();
    form.listBox()->setCurrentIndex(form.listBox()->model()->index(1, 0));
    const char* names[] = {"dialling", "measurements", "settings", "norms1", "norms2", "norms3"};
    for (int page = 0; page < 6; ++page) {
        form.pages()->setCurrentIndex(page);
        QApplication::processEvents();
        const QString file = QStringLiteral("%1/editor-%2-%3.png")
                                 .arg(dir)
                                 .arg(page + 1)
                                 .arg(QString::fromLatin1(names[page]));
        if (!form.grab().save(file)) {
            std::fprintf(stderr, "vetlina-screenshots: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
