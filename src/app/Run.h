// The run as the run window (TMetrForm) drives it, without the window itself: the
// start messages, the end-of-run message, the operator's end of work and the
// teardown. The Qt run window and the headless runner both delegate to it; it runs on
// the main thread.
#pragma once

#include "app/Complex.h"
#include "app/StartModes.h"
#include "scenario/ScenarioEntry.h"
#include "ui/RunMessages.h"

#include <functional>
#include <memory>
#include <string>

namespace vetlina {

class Scenario;
class UiBridge;

// How a run ended.
enum class RunEnd {
    None,     // still running, or never started
    Operator, // the operator's "Закончить работу" answered Yes
    Message,  // message 1438: a failure ended the run
};

class Run {
public:
    // ident: the complex identifier as the front end read it at its start (it names the
    // documents and the run window's caption "ЛИРС " + ident).
    Run(UiBridge& ui, WorkerFactory& workers, Scenario& scenario, std::string ident);
    // A run still on is torn down (as by message 1438, without the closing lines); the
    // front end is not called back.
    ~Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // The run window's message dispatch: a start message starts a run (ignored while one
    // is on: there is never more than one Complex); MSG_RUN_END tears the run down
    // without the closing question and lines (ignored when no run is on).
    void handleMessage(RunMessage message);

    // The run window's close: asks "Закончить работу ?" (title "ЛИРС", Yes/No, warning
    // icon); Yes ends the work. True when the window may close.
    bool closeQuery();
    // The operator's end of work: "Снято оператором" and the message file while a series
    // is in progress (begun, not finished), a blank line, "Работа закончена", a line for each
    // non-zero counter, then the teardown.
    void endWork();

    bool active() const { return complex_ != nullptr; }
    Complex* complex() const { return complex_.get(); }
    RunEnd lastEnd() const { return lastEnd_; }

    // Called at the end of each teardown, for the front end's part of it: the check marks
    // back to the main window, the placement saved, the windows released, the main
    // window shown again.
    std::function<void(RunEnd)> ended;

private:
    void start(StartMode mode);
    void teardown(RunEnd how);
    // The calls of all entries: the outcome counters grow with them.
    long callsMade() const;

    UiBridge& ui_;
    WorkerFactory& workers_;
    Scenario& scenario_;
    std::string ident_;
    std::unique_ptr<Complex> complex_;
    RunEnd lastEnd_ = RunEnd::None;
    // The calls when the active run started (-1: a passive run, or none).
    long callsAtStart_ = -1;
    // The current entry between runs when the scenario has none.
    ScenarioEntry placeholder_{};
};

} // namespace vetlina
