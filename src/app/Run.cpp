#include "app/Run.h"

#include "config/Configuration.h"
#include "platform/Cp1251.h"
#include "reports/MessageFile.h"
#include "scenario/Scenario.h"
#include "scenario/ScenarioFiles.h"
#include "ui/UiBridge.h"

namespace vetlina {
namespace {

// A series has begun once its start time lies after day 1.0.
constexpr double kSeriesBegunAfter = 1.0;

} // namespace

Run::Run(UiBridge& ui, WorkerFactory& workers, Scenario& scenario, std::string ident)
    : ui_(ui), workers_(workers), scenario_(scenario), ident_(std::move(ident)) {}

Run::~Run() {
    // The front end that would hear of this teardown is going away with the run.
    ended = nullptr;
    if (complex_)
        teardown(RunEnd::Message);
}

void Run::handleMessage(RunMessage message) {
    if (auto mode = startModeOf(message)) {
        if (!complex_)
            start(*mode);
        return;
    }
    if (message == MSG_RUN_END && complex_)
        teardown(RunEnd::Message);
}

void Run::start(StartMode mode) {
    WindowModels& models = ui_.models();
    models.resetForRun();
    // The pause window is created with the run's windows and reads its countdown then.
    models.pause.alarmTime = readKey(readConfiguration(), keys::AlarmTime);
    models.run.caption = "ЛИРС "_cp + ident_;
    std::string text = startText(mode, scenario_.fileName());
    models.setStateText(text);
    prepareEntries(scenario_, mode);
    lastEnd_ = RunEnd::None;
    callsAtStart_ = mode == StartMode::Passive ? -1 : callsMade();

    complex_ = std::make_unique<Complex>(ui_, workers_, scenario_, ident_);
    // Current before its creation runs, so that the threads' start-ups can log.
    setCurrentComplex(complex_.get());
    complex_->create(startRole(mode), text);
}

bool Run::closeQuery() {
    DialogAnswer answer = ui_.dialogs().ask("ЛИРС"_cp, "Закончить работу ?"_cp, DialogIcon::Warning,
                                            DialogButtons::YesNo);
    if (answer != DialogAnswer::Yes)
        return false;
    endWork();
    return true;
}

void Run::endWork() {
    if (!complex_)
        return;
    Complex& complex = *complex_;
    ModemThread* modem = complex.modemThread.get();
    ScenarioEntry* entry = currentEntry();
    // A series in progress: begun and not yet finished. A series that has ended (its
    // last session, an early end, a refusal) was not cut short, and its files say so
    // already; a message file would claim a session that never was.
    if (modem != nullptr && modem->role() != ModemRole::Answering && entry != nullptr &&
        static_cast<double>(entry->SeriesTime) > kSeriesBegunAfter && entry->Finished == 0) {
        complex.logEvent("Снято оператором"_cp, true);
        writeMessageFile(&complex, complex, MessageCode::OperatorStop);
    }
    complex.logBlankLine();
    complex.logEvent("Работа закончена"_cp, false);

    static const struct {
        RunCounter counter;
        const char* text;
    } counterLines[] = {
        {RunCounter::MdmSendErr, " -повторений передачи модема: "},
        {RunCounter::MdmRecvErr, " -ошибок приема модема: "},
        {RunCounter::ZmkSendNotReady, " -потерь подтверждений анализатора: "},
        {RunCounter::ZmkRecvBadBlk, " -сбойных блоков анализатора: "},
    };
    const RunWindowModel& window = ui_.models().run;
    for (const auto& line : counterLines) {
        std::string count = window.counterText(line.counter);
        if (count != "0")
            complex.logEvent(toCp1251(line.text) + count, true);
    }
    teardown(RunEnd::Operator);
}

long Run::callsMade() const {
    long calls = 0;
    for (int i = 0; i < scenario_.count(); ++i)
        calls += static_cast<int32_t>(scenario_.entry(i).Calls);
    return calls;
}

void Run::teardown(RunEnd how) {
    // A run that ends because the scenario file could not be written has shown that.
    const bool saveFailureShown = complex_ && complex_->progressSaveFailed();
    // The threads end (their hand-offs served) while the Complex is still current.
    complex_.reset();
    setCurrentComplex(nullptr);
    // The scenario file is rewritten after each session; the calls that failed since
    // (their outcome counters, a postponement, an entry given up) would be lost with a
    // run that ends now, so an active run that dialled keeps them in the file. After a
    // failed save of the session it is tried once more, without a second message.
    if (callsAtStart_ >= 0 && callsMade() != callsAtStart_)
        saveProgress(scenario_, [this, saveFailureShown](const std::string& text) {
            if (!saveFailureShown)
                ui_.dialogs().showMessage("Ошибка"_cp, text, DialogIcon::Warning);
        });
    callsAtStart_ = -1;
    setCurrentEntry(scenario_.count() > 0 ? &scenario_.entry(0) : &placeholder_);
    // End messages still queued belong to the run that has just ended.
    ui_.discardMessages(MSG_RUN_END);
    lastEnd_ = how;
    if (ended)
        ended(how);
}

} // namespace vetlina
