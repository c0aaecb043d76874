// The controls of one numeric field: the edit Edit<name> and, except for durations, the
// spin button UpDn<name>. Leaving the edit (focus to another control of the window, or
// Enter) is one event, as the editor defines it; a message box taking the focus is not.
#pragma once

#include <QLineEdit>
#include <QWidget>

class QToolButton;

namespace vetlina {

struct EditorField;

// Reports leaving a line edit: the focus moved to another control of the window, or
// Enter was pressed.
class LeaveWatcher : public QObject {
    Q_OBJECT
public:
    explicit LeaveWatcher(QLineEdit* edit);
signals:
    void left();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Two small arrow buttons, one above the other.
class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);
signals:
    void stepped(int direction);

private:
    QToolButton* up_;
    QToolButton* down_;
};

class FieldPair : public QWidget {
    Q_OBJECT
public:
    FieldPair(const EditorField& field, QWidget* parent = nullptr);

    const EditorField& field() const { return field_; }
    QLineEdit* edit() const { return edit_; }
    UpDown* upDown() const { return upDown_; }
    // The operator has typed since the value was last shown or stored. Leaving an edit
    // that was not typed in stores nothing: reading back a value shown with one decimal
    // would round the stored value (9.96 shown "  10.0" would become 10.0).
    bool typed() const { return typed_; }
    void setTyped(bool typed) { typed_ = typed; }

signals:
    void left();
    void stepped(int direction);

private:
    const EditorField& field_;
    QLineEdit* edit_;
    UpDown* upDown_ = nullptr;
    bool typed_ = false;
};

} // namespace vetlina
