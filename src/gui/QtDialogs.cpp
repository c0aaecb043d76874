#include "gui/QtDialogs.h"

#include "gui/QtText.h"
#include "ui/UiBridge.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace vetlina {
namespace {

QMessageBox::Icon qtIcon(DialogIcon icon) {
    switch (icon) {
    case DialogIcon::Error:
        return QMessageBox::Critical;
    case DialogIcon::Warning:
        return QMessageBox::Warning;
    case DialogIcon::Information:
        return QMessageBox::Information;
    case DialogIcon::Question:
        return QMessageBox::Question;
    case DialogIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

void QtDialogs::showMessage(const std::string& title, const std::string& text, DialogIcon icon) {
    ask(title, text, icon, DialogButtons::Ok);
}

DialogAnswer QtDialogs::ask(const std::string& title, const std::string& text, DialogIcon icon,
                            DialogButtons buttons) {
    if (QThread::currentThread() == qApp->thread())
        return onMainThread(title, text, icon, buttons);
    DialogAnswer answer = DialogAnswer::Cancel;
    auto show = [&] { answer = onMainThread(title, text, icon, buttons); };
    if (bridge_)
        bridge_->invokeSync(show);
    else
        QMetaObject::invokeMethod(qApp, show, Qt::BlockingQueuedConnection);
    return answer;
}

DialogAnswer QtDialogs::onMainThread(const std::string& title, const std::string& text,
                                     DialogIcon icon, DialogButtons buttons) {
    QMessageBox box(qtIcon(icon), fromCp(title), messageText(text), QMessageBox::NoButton, parent_);
    switch (buttons) {
    case DialogButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case DialogButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case DialogButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    const std::pair<QMessageBox::StandardButton, const char*> names[] = {
        {QMessageBox::Yes, "Да"}, {QMessageBox::No, "Нет"}, {QMessageBox::Cancel, "Отмена"}};
    for (const auto& [button, name] : names)
        if (QAbstractButton* b = box.button(button))
            b->setText(QString::fromUtf8(name));
    switch (box.exec()) {
    case QMessageBox::Yes:
        return DialogAnswer::Yes;
    case QMessageBox::No:
        return DialogAnswer::No;
    case QMessageBox::Ok:
        return DialogAnswer::Ok;
    default:
        return buttons == DialogButtons::Ok ? DialogAnswer::Ok : DialogAnswer::Cancel;
    }
}

} // namespace vetlina
