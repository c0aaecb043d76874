// The main window in a test: offscreen, in a working folder of its own, with recorded
// message boxes and scripted file dialogs; typing into a field and leaving it as the
// operator does.
#pragma once

#include "RecordingDialogs.h"
#include "TempFolder.h"
#include "gui/FieldPair.h"
#include "gui/TForm1.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <memory>

namespace vetlina::test {

class ScriptedFiles : public FileChooser {
public:
    std::optional<std::string> open, save;
    std::optional<std::string> chooseOpen(FileKind) override { return open; }
    std::optional<std::string> chooseSave(FileKind) override { return save; }
};

class WindowFixture {
public:
    explicit WindowFixture(const std::string& ident = "12345678") : cwd_(folder.path()) {
        folder.write("Vetlina.ini", "[VETLINA]\r\nIdent=" + ident + "\r\n");
        form = std::make_unique<TForm1>(dialogs, files);
        form->show();
        QApplication::processEvents();
    }

    // Types text into an edit (replacing what it holds) and leaves it with Enter.
    void type(QLineEdit* edit, const QString& text) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    void typeField(const char* name, const QString& text) { type(form->pair(name)->edit(), text); }
    QString shown(const char* name) { return form->pair(name)->edit()->text(); }
    QLineEdit* edit(const char* objectName) {
        return form->findChild<QLineEdit*>(QString::fromLatin1(objectName));
    }

    TempFolder folder;
    RecordingDialogs dialogs;
    ScriptedFiles files;
    std::unique_ptr<TForm1> form;

private:
    CurrentDirectory cwd_;
};

} // namespace vetlina::test
