// The window of a run until the run window proper exists: the run is started through
// the same Run and Complex as the headless runner's, its protocol lines are shown in a
// plain log view, and its state label above them. The run's UI bridge is served from
// the Qt event loop: a worker's hand-off wakes the loop, which runs it on the main
// thread; no worker ever touches a widget.
#pragma once

#include "app/Run.h"
#include "app/StartModes.h"
#include "ui/UiBridge.h"
#include "ui/WindowModels.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class QLabel;
class QPlainTextEdit;

namespace vetlina {

class RunLogWindow : public QWidget {
    Q_OBJECT
public:
    RunLogWindow(Dialogs& dialogs, WorkerFactory& workers, Scenario& scenario, std::string ident);
    ~RunLogWindow() override;

    WindowModels& models() { return models_; }
    UiBridge& bridge() { return bridge_; }
    bool active() const { return run_.active(); }
    // Posts the start message of the mode; the run starts when the loop serves it.
    void start(StartMode mode);
    // Called on the main thread once the run has been torn down.
    std::function<void(RunEnd)> ended;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void serve();
    void redraw(ModelPart part);

    WindowModels models_;
    UiBridge bridge_;
    Run run_;
    QLabel* state_;
    QPlainTextEdit* log_;
    QTimer pauseTimer_;
    int depth_ = 0; // serve() calls on the stack
};

} // namespace vetlina
