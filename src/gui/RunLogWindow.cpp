#include "gui/RunLogWindow.h"

#include "gui/GuiSettings.h"
#include "gui/QtDialogs.h"
#include "gui/QtText.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace vetlina {
namespace {
// The pause window's countdown ticks once a second.
constexpr int kPauseTickMs = 1000;
// The protocol view keeps this many lines (the documents keep them all).
constexpr int kLogLines = 5000;
} // namespace

RunLogWindow::RunLogWindow(Dialogs& dialogs, WorkerFactory& workers, Scenario& scenario,
                           std::string ident)
    : bridge_(dialogs, models_), run_(bridge_, workers, scenario, ident), state_(new QLabel(this)),
      log_(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("TMetrForm"));
    setWindowTitle(fromCp("ЛИРС "_cp + ident));
    if (auto* qt = dynamic_cast<QtDialogs*>(&dialogs))
        qt->setBridge(&bridge_);
    auto* layout = new QVBoxLayout(this);
    state_->setObjectName(QStringLiteral("LabState"));
    state_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    layout->addWidget(state_);
    log_->setObjectName(QStringLiteral("ProtMemo"));
    log_->setReadOnly(true);
    log_->setMaximumBlockCount(kLogLines);
    log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(log_);
    // The run window's place is kept per machine, like the other windows of a run.
    QRect placement(120, 80, 760, 420);
    GuiSettings().readPlacement("MetrForm", placement);
    setGeometry(placement);

    models_.changed = [this](ModelPart part) { redraw(part); };
    models_.protocol.lineAdded = [this](const std::string& text) {
        log_->appendPlainText(messageText(text));
    };
    // Any thread: a hand-off or a message is queued; the loop serves it on the main thread.
    bridge_.setWakeHandler([this] {
        QMetaObject::invokeMethod(
            this, [this] { serve(); }, Qt::QueuedConnection);
    });
    run_.ended = [this](RunEnd how) {
        pauseTimer_.stop();
        if (ended)
            ended(how);
    };
    pauseTimer_.setInterval(kPauseTickMs);
    connect(&pauseTimer_, &QTimer::timeout, this, [this] {
        if (models_.pause.timerOn) {
            models_.pause.tick();
            models_.notify(ModelPart::Pause);
        }
    });
}

RunLogWindow::~RunLogWindow() {
    GuiSettings().writePlacement("MetrForm", geometry());
    bridge_.setWakeHandler(nullptr);
    models_.protocol.lineAdded = nullptr;
    models_.changed = nullptr;
}

void RunLogWindow::start(StartMode mode) {
    pauseTimer_.start();
    bridge_.post(startMessage(mode));
}

void RunLogWindow::serve() {
    // A hand-off that shows a message box runs a nested event loop, which may call serve
    // again. Hand-offs are served there too, but a run message waits for the outer
    // serve: tearing the run down inside would wait for the worker whose message box is
    // still open below on the stack.
    ++depth_;
    bridge_.serveInvocations();
    if (depth_ == 1)
        while (auto message = bridge_.takeMessage())
            run_.handleMessage(*message);
    --depth_;
}

void RunLogWindow::redraw(ModelPart part) {
    if (part == ModelPart::RunWindow)
        state_->setText(fromCp(models_.run.stateLabel));
}

void RunLogWindow::closeEvent(QCloseEvent* event) {
    if (run_.active() && !run_.closeQuery()) {
        event->ignore();
        return;
    }
    event->accept();
}

} // namespace vetlina
