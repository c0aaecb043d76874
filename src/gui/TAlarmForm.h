// The pause window: the parameters that broke their norms, the question, the operator's
// note for the protocol, "Остановить" and "Продолжить", and on the calling complex the
// countdown that continues the work by itself. It draws the pause window model, which
// the session dialogue shows and reads through the UI bridge; its buttons and its
// timer change the model on the main thread.
#pragma once

#include "ui/WindowModels.h"

#include <QTimer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace vetlina {

class TAlarmForm : public QWidget {
    Q_OBJECT
public:
    explicit TAlarmForm(WindowModels& models, QWidget* parent = nullptr);

    // The model changed (ModelPart::Pause): shown, hidden or redrawn from it.
    void refresh();

    QListWidget* parBox() const { return parBox_; }
    QLabel* question() const { return label1_; }
    QLabel* noteLabel() const { return label2_; }
    QLineEdit* note() const { return prEdit_; }
    QPushButton* stopButton() const { return buttonStop_; }
    QPushButton* startButton() const { return buttonStart_; }

    // The end of the run: the timer stops and the window hides, whatever the model says.
    void release();

    void ButtonStopClick();
    void ButtonStartClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void T1Timer();
    void arrange();

    WindowModels& models_;
    QListWidget* parBox_;
    QLabel* label1_;
    QLabel* label2_;
    QLineEdit* prEdit_;
    QPushButton* buttonStop_;
    QPushButton* buttonStart_;
    // T1: the countdown's second, on the program's clock; the timer polls it.
    QTimer t1_;
    uint32_t nextTick_ = 0;
    bool counting_ = false;
    uint32_t beepsHeard_ = 0;
    bool wasVisible_ = false;
};

} // namespace vetlina
