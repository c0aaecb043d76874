#include "gui/TAlarmForm.h"

#include "gui/QtText.h"
#include "platform/Clock.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

namespace vetlina {
namespace {
// One tick of the countdown: a second of the program's clock.
constexpr uint32_t kTickMs = 1000;
// How often the timer looks at the clock (real milliseconds).
constexpr int kPollMs = 20;
// The smallest client area, and the margins of the window's rows.
constexpr int kMinWidth = 300;
constexpr int kMinHeight = 120;
constexpr int kGap = 20;
} // namespace

TAlarmForm::TAlarmForm(WindowModels& models, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint),
      models_(models), parBox_(new QListWidget(this)), label1_(new QLabel(this)),
      label2_(new QLabel(uiText("Записать в протокол :"), this)), prEdit_(new QLineEdit(this)),
      buttonStop_(new QPushButton(uiText("Остановить"), this)),
      buttonStart_(new QPushButton(uiText("Продолжить"), this)) {
    setObjectName(QStringLiteral("TAlarmForm"));
    setWindowTitle(uiText("Измерения остановлены"));
    setMinimumSize(kMinWidth, kMinHeight);
    resize(560, 300);
    parBox_->setObjectName(QStringLiteral("ParBox"));
    // The parameters' lines are columns of figures.
    parBox_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    label1_->setObjectName(QStringLiteral("Label1"));
    QFont bold = label1_->font();
    bold.setBold(true);
    label1_->setFont(bold);
    label2_->setObjectName(QStringLiteral("Label2"));
    prEdit_->setObjectName(QStringLiteral("PrEdit"));
    prEdit_->setMaxLength(200);
    buttonStop_->setObjectName(QStringLiteral("ButtonStop"));
    buttonStop_->setToolTip(uiText("Приостановить измерения"));
    buttonStop_->setDefault(true);
    buttonStart_->setObjectName(QStringLiteral("ButtonStart"));
    buttonStart_->setToolTip(uiText("Продолжить измерения"));
    label2_->setEnabled(false);
    prEdit_->setEnabled(false);
    connect(buttonStop_, &QPushButton::clicked, this, [this] { ButtonStopClick(); });
    connect(buttonStart_, &QPushButton::clicked, this, [this] { ButtonStartClick(); });
    connect(prEdit_, &QLineEdit::textChanged, this,
            [this](const QString& text) { models_.pause.note = toCp(text); });
    t1_.setInterval(kPollMs);
    connect(&t1_, &QTimer::timeout, this, [this] { T1Timer(); });
    arrange();
}

void TAlarmForm::refresh() {
    const PauseWindowModel& pause = models_.pause;
    setWindowTitle(fromCp(pause.caption.empty() ? "Измерения остановлены"_cp : pause.caption));
    label1_->setText(fromCp(pause.question));
    buttonStop_->setEnabled(pause.stopEnabled);
    buttonStart_->setEnabled(pause.startEnabled);
    label2_->setEnabled(pause.noteEnabled);
    prEdit_->setEnabled(pause.noteEnabled);
    if (toCp(prEdit_->text()) != pause.note)
        prEdit_->setText(fromCp(pause.note));
    if (parBox_->count() != static_cast<int>(pause.parameters.size())) {
        parBox_->clear();
        for (const std::string& line : pause.parameters)
            parBox_->addItem(fromCp(line));
    }
    while (beepsHeard_ < pause.beeps) {
        ++beepsHeard_;
        QApplication::beep();
    }
    // The countdown's timer runs while the model's does.
    if (pause.visible && pause.timerOn && !counting_) {
        counting_ = true;
        nextTick_ = tickMs() + kTickMs;
        t1_.start();
    } else if (!(pause.visible && pause.timerOn) && counting_) {
        counting_ = false;
        t1_.stop();
    }
    if (pause.visible && !wasVisible_) {
        wasVisible_ = true;
        // Opened in the middle of the screen, in front, the focus on the first button
        // that may be pressed.
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        show();
        raise();
        activateWindow();
        if (buttonStop_->isEnabled())
            buttonStop_->setFocus();
        else if (buttonStart_->isEnabled())
            buttonStart_->setFocus();
    } else if (!pause.visible && wasVisible_) {
        wasVisible_ = false;
        hide();
    }
}

void TAlarmForm::T1Timer() {
    // Every second of the clock that has passed is a tick (a busy machine may have let
    // more than one pass between two polls).
    while (counting_ && models_.pause.timerOn && tickReached(nextTick_)) {
        nextTick_ += kTickMs;
        models_.pause.tick();
        models_.notify(ModelPart::Pause);
    }
}

void TAlarmForm::release() {
    counting_ = false;
    t1_.stop();
    wasVisible_ = false;
    hide();
}

void TAlarmForm::ButtonStopClick() {
    models_.pause.stop();
    models_.notify(ModelPart::Pause);
    buttonStart_->setFocus();
}

void TAlarmForm::ButtonStartClick() {
    models_.pause.start();
    models_.notify(ModelPart::Pause);
}

void TAlarmForm::closeEvent(QCloseEvent* event) {
    // Closing is hiding: the timer stops and the work continues.
    if (models_.pause.visible) {
        models_.pause.hide();
        models_.notify(ModelPart::Pause);
    }
    event->accept();
}

void TAlarmForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    arrange();
}

void TAlarmForm::arrange() {
    const int w = std::max(width(), kMinWidth);
    const int h = std::max(height(), kMinHeight);
    const int rowHeight = std::max(buttonStart_->sizeHint().height(), prEdit_->sizeHint().height());
    const int rowTop = h - kGap - rowHeight;
    const int buttonWidth = std::max(buttonStop_->sizeHint().width(), 96);
    buttonStop_->setGeometry(w - 2 * buttonWidth - 16, rowTop, buttonWidth, rowHeight);
    buttonStart_->setGeometry(w - buttonWidth - 8, rowTop, buttonWidth, rowHeight);
    prEdit_->setGeometry(8, rowTop, std::max(40, w - 2 * buttonWidth - 32), rowHeight);
    const int labelTop = rowTop - kGap;
    const int labelHeight = kGap - 2;
    // The question stands right-aligned over the buttons, as wide as it needs.
    const int questionWidth =
        std::min(w - 16, std::max(2 * buttonWidth + 8, label1_->sizeHint().width()));
    label1_->setGeometry(w - 8 - questionWidth, labelTop, questionWidth, labelHeight);
    label1_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label2_->setGeometry(8, labelTop, std::max(40, w - questionWidth - 24), labelHeight);
    parBox_->setGeometry(0, 0, w, std::max(10, labelTop - kGap));
}

} // namespace vetlina
