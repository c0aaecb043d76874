#include "gui/FieldPair.h"

#include "editor/EditorFields.h"

#include <QFocusEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

namespace vetlina {

LeaveWatcher::LeaveWatcher(QLineEdit* edit) : QObject(edit) {
    edit->installEventFilter(this);
}

bool LeaveWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // A message box or a menu taking the focus is not leaving the field.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            emit left();
    } else if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            emit left();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (auto [button, arrow, direction] :
         {std::tuple{&up_, Qt::UpArrow, 1}, std::tuple{&down_, Qt::DownArrow, -1}}) {
        *button = new QToolButton(this);
        (*button)->setArrowType(arrow);
        (*button)->setFixedSize(15, 11);
        (*button)->setAutoRepeat(true);
        (*button)->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(*button);
        connect(*button, &QToolButton::clicked, this, [this, d = direction] { emit stepped(d); });
    }
}

FieldPair::FieldPair(const EditorField& field, QWidget* parent)
    : QWidget(parent), field_(field), edit_(new QLineEdit(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    edit_->setObjectName(QStringLiteral("Edit") + QString::fromLatin1(field.name));
    edit_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    edit_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const bool duration = field.family == FieldFamily::Duration;
    edit_->setFixedWidth(duration ? 74 : 62);
    edit_->setMaxLength(duration ? 8 : 10);
    layout->addWidget(edit_);
    if (!duration) {
        upDown_ = new UpDown(this);
        upDown_->setObjectName(QStringLiteral("UpDn") + QString::fromLatin1(field.name));
        layout->addWidget(upDown_);
        connect(upDown_, &UpDown::stepped, this, &FieldPair::stepped);
    }
    connect(new LeaveWatcher(edit_), &LeaveWatcher::left, this, &FieldPair::left);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

} // namespace vetlina
