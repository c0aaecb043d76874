#include "cli/HeadlessRun.h"

#include "app/Complex.h"
#include "app/Run.h"
#include "cli/HeadlessDialogs.h"
#include "config/Configuration.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "scenario/Scenario.h"
#include "scenario/ScenarioFiles.h"
#include "ui/UiBridge.h"
#include "ui/WindowModels.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vetlina {

namespace {

// The longest the loop sleeps when nothing wakes it (ms of the clock).
constexpr uint32_t kLongestWaitMs = 60000;
// How often a run that is done looks again whether the modem thread has left its call.
constexpr uint32_t kDoneCheckMs = 200;
// The pause window's timer.
constexpr uint32_t kPauseTickMs = 1000;

bool everyEntryFinished(const Scenario& scenario) {
    if (scenario.count() == 0)
        return false;
    for (int i = 0; i < scenario.count(); ++i)
        if (scenario.entry(i).Finished == 0)
            return false;
    return true;
}

// The modem thread is still at the last session's work (its data files, the evaluation,
// the scenario file's save, the hang-up: role "in a call"), or it has stopped for good
// after a failure whose end message follows. Either way the run is not done yet.
bool modemBusy(const Run& run) {
    const Complex* complex = run.complex();
    if (complex == nullptr || !complex->modemThread)
        return false;
    const ModemThread& modem = *complex->modemThread;
    return modem.stopped() || modem.role() == ModemRole::CallingInCall;
}

} // namespace

int runHeadless(const RunArguments& args, WorkerFactory& workers, StopSignals& signals,
                std::ostream& out, std::ostream& err) {
    HeadlessDialogs dialogs(err, args.answerYes);
    if (args.trace)
        traceSwitch() = true;

    // What the main window does at its creation: the identifier names the documents, and
    // an invalid one is reported once (nothing else is blocked by it).
    std::string ident = readKey(readConfiguration(), keys::Ident);
    if (!isValidIdent(ident))
        dialogs.showMessage(
            "Ошибка"_cp, "Неверный идентификатор комплекса "_cp + ident + " или нет файла .INI"_cp,
            DialogIcon::Error);

    Scenario scenario;
    if (args.mode != StartMode::Passive) {
        if (!loadScenario(scenario, args.scenarioFile, dialogs))
            return kExitUsage;
        if (scenario.count() == 0) {
            dialogs.showMessage("Ошибка"_cp, "Нет сценария"_cp, DialogIcon::Error);
            return kExitUsage;
        }
    }

    WindowModels models;
    models.options.saveResults = args.saveResults;
    models.options.saveStatistics = args.saveStatistics;
    models.options.stopOnNorms = args.stopOnNorms;
    models.options.simpleGenerator = args.simpleGenerator;
    UiBridge bridge(dialogs, models);
    Run run(bridge, workers, scenario, ident);

    bool done = false;
    models.protocol.lineAdded = [&](const std::string& text) {
        // A reader that has gone (EPIPE; SIGPIPE is ignored) leaves the stream failed:
        // from then on the lines go to the documents only, and the run goes on.
        if (out) {
            out << textForTerminal(text) << '\n';
            out.flush();
        }
        // The entries are the modem thread's during the run: they are looked at only
        // while it waits in a hand-off.
        if (args.exitWhenDone && args.mode != StartMode::Passive && bridge.servingHandOff() &&
            run.active() && everyEntryFinished(scenario))
            done = true;
    };
    signals.setOnSignal([&bridge] { bridge.wake(); });

    // --stop-after counts the clock's milliseconds in 64 bits across the tick's wrap.
    const uint64_t limit = args.stopAfter
                               ? static_cast<uint64_t>(std::llround(*args.stopAfter * 1000.0))
                               : std::numeric_limits<uint64_t>::max();
    uint64_t elapsed = 0;
    uint32_t lastTick = tickMs();

    // The pause window's timer T1, once a second of the clock while it runs. Without an
    // operator the calling side's window thus continues the work after its countdown;
    // the answering side's has no countdown and waits for the caller to hang up.
    bool pauseTimer = false;
    uint32_t nextPauseTick = 0;

    bridge.post(startMessage(args.mode));
    for (;;) {
        bridge.serveInvocations();
        while (auto message = bridge.takeMessage())
            run.handleMessage(*message);
        if (!run.active() && run.lastEnd() != RunEnd::None)
            break;

        if (models.pause.timerOn) {
            if (!pauseTimer) {
                pauseTimer = true;
                nextPauseTick = tickMs() + kPauseTickMs;
            }
            while (models.pause.timerOn && tickReached(nextPauseTick)) {
                models.pause.tick();
                models.notify(ModelPart::Pause);
                nextPauseTick += kPauseTickMs;
            }
        }
        pauseTimer = models.pause.timerOn;

        uint32_t tick = tickMs();
        elapsed += tick - lastTick;
        lastTick = tick;
        // Every entry finished ends the run once the modem thread has left the last call:
        // a failure in its last steps (a scenario file that cannot be saved) ends the run
        // as a failure, not as done.
        if (signals.requested() || elapsed >= limit || (done && !modemBusy(run))) {
            if (run.active()) {
                run.endWork();
                break;
            }
        }
        uint64_t wait = std::min<uint64_t>(kLongestWaitMs, limit - std::min(limit, elapsed));
        if (done)
            wait = std::min<uint64_t>(wait, kDoneCheckMs); // for the modem to leave its call
        if (pauseTimer)
            wait = std::min<uint64_t>(wait, static_cast<uint64_t>(std::max<int32_t>(
                                                ticksLeft(nextPauseTick, tickMs()), 1)));
        bridge.waitForWork(static_cast<uint32_t>(std::max<uint64_t>(wait, 1)));
    }
    signals.setOnSignal(nullptr);
    models.protocol.lineAdded = nullptr;
    return run.lastEnd() == RunEnd::Operator ? kExitOperatorEnd : kExitRunEnd;
}

} // namespace vetlina
