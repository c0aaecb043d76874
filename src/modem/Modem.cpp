// MODEM: creation and initialisation of the modem for a run, the one-off set-up
// writing from the main window, the loop over the command number, and destruction.
#include "modem/Modem.h"

#include "config/Configuration.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "scenario/Scenario.h"
#include "ui/UiBridge.h"

namespace vetlina {
namespace {

// An idle pass of the loop (Idle, Stopped) sleeps this long.
constexpr uint32_t kIdleSleepMs = 100;

} // namespace

std::string modemStatusText(ModemStatus status) {
    switch (status) {
    case ModemStatus::Ready:
        return "Модем инициализирован"_cp;
    case ModemStatus::Unavailable:
        return "недоступен"_cp;
    case ModemStatus::DsrOn:
        return "Модем имеет сигнал DSR = 1"_cp;
    case ModemStatus::SwitchedOff:
        return "Модем отключен или выключен"_cp;
    case ModemStatus::NoEcho:
        return "Не вводится командная строка (нет эхо-символа)"_cp;
    case ModemStatus::WrongEcho:
        return "Не вводится команда строка (ошибочный эхо-символ)"_cp;
    case ModemStatus::NoAnswer:
        return "Нет ответа на командую строку"_cp;
    case ModemStatus::SystemError:
        return "Системная ошибка"_cp;
    }
    return std::string();
}

MODEM::MODEM(RunContext& run, PortFactory ports, ModemRole role)
    : MODEM(run.ui(), std::move(ports), role, &run) {}

MODEM::MODEM(UiBridge& ui, PortFactory ports, ModemRole role)
    : MODEM(ui, std::move(ports), role, nullptr) {}

MODEM::MODEM(UiBridge& ui, PortFactory ports, ModemRole role, RunContext* run)
    : ModemThread(ui, std::move(ports), run), run_(run), role_(role) {
    readModemSettings();
    setModemIdentification(std::string());
    const ModemStatus status = initialise();
    showProtocolLine(control_.portPrefix() + modemStatusText(status));

    if (status != ModemStatus::Ready) {
        stop();
        const std::string text = control_.portPrefix() + modemStatusText(status);
        if (status == ModemStatus::DsrOn || status == ModemStatus::NoEcho ||
            status == ModemStatus::NoAnswer) {
            // The modem answers, but not as its stored set-up would: offer to write it.
            ui.dialogs().showMessage("Модем"_cp,
                                     text + "\r\n\r\n Возможно, модем неправильно настроен"_cp,
                                     DialogIcon::Warning);
            control_.writeSetup(modemInit_);
        } else {
            ui.dialogs().showMessage("Модем"_cp, text, DialogIcon::Warning);
        }
        ui.post(MSG_RUN_END);
        return;
    }

    if (role == ModemRole::Calling || role == ModemRole::CallingInCall) {
        calls_.showScenarioOverview();
        Scenario* scenario = run_ ? &run_->scenario() : nullptr;
        setCurrentEntry(scenario != nullptr && scenario->count() > 0
                            ? &scenario->entry(0)
                            : &dialogue_.receivedScenario());
        SetCommand(ModemCommand::ChooseAndDial);
    } else {
        ScenarioEntry& received = dialogue_.receivedScenario();
        received.SessionsDone = 0;
        received.SeriesTime = 0.0;
        setCurrentEntry(&received);
        SetCommand(ModemCommand::WaitForCall);
    }
}

ScenarioEntry& MODEM::entry() {
    ScenarioEntry* current = currentEntry();
    return current ? *current : dialogue_.receivedScenario();
}

AnalyzerThread* MODEM::analyzer() {
    RunContext* run = run_;
    return run ? run->analyzer() : nullptr;
}

LiveResults& MODEM::liveResults() {
    AnalyzerThread* a = analyzer();
    return a ? a->liveResults() : ownResults_;
}

void MODEM::setAnalyzerFirstPass(bool on) {
    if (AnalyzerThread* a = analyzer())
        a->setFirstPass(on);
}

CycleParties MODEM::parties(bool callingSide) {
    RunContext* run = run_;
    const std::string own = run ? run->ownParty().ident : std::string();
    const std::string peer = run ? run->peerParty().ident : std::string();
    return callingSide ? CycleParties{true, own, peer} : CycleParties{false, peer, own};
}

ScenarioEntry* MODEM::currentEntry() const {
    return run_ ? run_->entry() : ownEntry_.load(std::memory_order_acquire);
}

void MODEM::setCurrentEntry(ScenarioEntry* entry) {
    if (run_)
        run_->setEntry(entry);
    else
        ownEntry_.store(entry, std::memory_order_release);
}

void MODEM::setModemIdentification(const std::string& text) {
    if (run_)
        run_->setModemIdentification(text);
}

MODEM::MODEM(UiBridge& ui, PortFactory ports, WriteSetupRequest)
    : ModemThread(ui, std::move(ports)), role_(ModemRole::Answering) {
    readModemSettings();
    PortOpenResult open = OpenPort();
    dtr(false);
    if (open != PortOpenResult::Ok) {
        reportOpenFailure(open == PortOpenResult::SystemError ? ModemStatus::SystemError
                                                              : ModemStatus::Unavailable);
    } else {
        control_.writeSetup(modemInit_);
    }
    ClosePort();
}

void MODEM::writeInitialSetup(UiBridge& ui, PortFactory ports) {
    MODEM modem(ui, std::move(ports), WriteSetupRequest{});
    // The command stays 0: the thread is started only to see its end.
    modem.Resume();
    modem.Terminate();
    ui.serveUntil([&modem] { return modem.Finished(); });
    modem.WaitFor();
}

MODEM::~MODEM() {
    // The owner has ended the thread (Complex waits while serving the hand-offs); this
    // only makes sure no step still runs on the members.
    Terminate();
    WaitFor();
    if (portOpen()) {
        PurgePort();
        dtr(false);
        sleepMs(ModemControl::kAfterDtrDropMs);
    }
    ClosePort();
}

void MODEM::readModemSettings() {
    IniFile ini = vetlina::readConfiguration();
    portNumber = readKey(ini, keys::ModemPort);
    CallHandling::Settings settings;
    settings.postTime = readKey(ini, keys::PostTime);
    settings.hangTime = readKey(ini, keys::HangTime);
    settings.numNoCarrier = readKey(ini, keys::NumNoCarrier);
    calls_.setSettings(settings);
    modemInit_ = readKey(ini, keys::ModemInit);
    if (modemInit_.size() > kModemInitMax)
        modemInit_.resize(kModemInitMax);
}

void MODEM::reportOpenFailure(ModemStatus status) {
    if (status == ModemStatus::SystemError)
        ui().dialogs().showMessage("System Error", openError(), DialogIcon::Warning);
    ui().dialogs().showMessage("Модем"_cp, control_.portPrefix() + modemStatusText(status),
                               DialogIcon::Warning);
}

ModemStatus MODEM::initialise() {
    const PortOpenResult open = OpenPort();
    dtr(false);
    if (open != PortOpenResult::Ok) {
        if (open == PortOpenResult::SystemError) {
            ui().dialogs().showMessage("System Error", openError(), DialogIcon::Warning);
            return ModemStatus::SystemError;
        }
        return ModemStatus::Unavailable;
    }
    // With DTR dropped no connection can stand: DSR on means the profile lacks &S1.
    if (dsr())
        return ModemStatus::DsrOn;

    auto attempts = [this](std::string_view command, auto&& answered) {
        ModemStatus status = ModemStatus::NoAnswer;
        for (int attempt = 0; attempt < kInitAttempts; ++attempt) {
            PurgePort();
            const TypeResult typed = control_.typeCommand(command);
            if (typed == TypeResult::NotWritten)
                return ModemStatus::SwitchedOff;
            if (typed == TypeResult::Ok && answered())
                return ModemStatus::Ready;
            status =
                typed == TypeResult::Ok ? ModemStatus::NoAnswer : static_cast<ModemStatus>(typed);
            putch('\r');
            sleepMs(ModemControl::kRetypeSleepMs);
        }
        return status;
    };

    ModemStatus status = attempts("ATZ\r\n", [this] { return control_.waitOk(); });
    if (status != ModemStatus::Ready)
        return status;
    return attempts("ATI5\r\n", [this] {
        if (!control_.readLine(kIdentificationMs))
            return false;
        std::string identification = control_.line();
        if (!modemInit_.empty())
            identification += " Доп.настройка "_cp + modemInit_;
        if (identification.size() > kTextMax)
            identification.resize(kTextMax);
        setModemIdentification(identification);
        return true;
    });
}

void MODEM::Execute() {
    while (!Terminated()) {
        switch (command()) {
        case ModemCommand::WaitForCall:
            calls_.waitForCall();
            break;
        case ModemCommand::RingReceived:
            calls_.ringReceived();
            break;
        case ModemCommand::AnswererDialogue:
            dialogue_.answererDialogue();
            break;
        case ModemCommand::ChooseAndDial:
            calls_.chooseAndDial();
            break;
        case ModemCommand::ClassifyDialResult:
            calls_.classifyDialResult();
            break;
        case ModemCommand::CallerDialogue:
            dialogue_.callerDialogue();
            break;
        case ModemCommand::ThroughputTest:
            throughputTest_.run();
            break;
        case ModemCommand::Reconnect:
            exchange_.reconnect();
            break;
        case ModemCommand::ResultExchange:
            exchange_.resultExchange();
            break;
        case ModemCommand::GeneratorAnswered:
            dialogue_.generatorAnswered();
            break;
        case ModemCommand::NoGeneratorSignal:
            calls_.noGeneratorSignal();
            break;
        case ModemCommand::GeneratorSessionComplete:
            exchange_.generatorSessionComplete();
            break;
        default:
            // Stopped for good, or Idle: the analyzer holds the line.
            sleepMs(kIdleSleepMs);
            break;
        }
    }
}

} // namespace vetlina
