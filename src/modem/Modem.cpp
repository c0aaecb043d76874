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
    showProtocolLine(portPrefix() + modemStatusText(status));

    if (status != ModemStatus::Ready) {
        stop();
        const std::string text = portPrefix() + modemStatusText(status);
        if (status == ModemStatus::DsrOn || status == ModemStatus::NoEcho ||
            status == ModemStatus::NoAnswer) {
            // The modem answers, but not as its stored set-up would: offer to write it.
            ui.dialogs().showMessage("Модем"_cp,
                                     text + "\r\n\r\n Возможно, модем неправильно настроен"_cp,
                                     DialogIcon::Warning);
            writeSetup(modemInit);
        } else {
            ui.dialogs().showMessage("Модем"_cp, text, DialogIcon::Warning);
        }
        ui.post(MSG_RUN_END);
        return;
    }

    if (role == ModemRole::Calling || role == ModemRole::CallingInCall) {
        showScenarioOverview();
        Scenario* scenario = run_ ? &run_->scenario() : nullptr;
        setCurrentEntry(scenario != nullptr && scenario->count() > 0 ? &scenario->entry(0)
                                                                     : &receivedScenario);
        SetCommand(ModemCommand::ChooseAndDial);
    } else {
        receivedScenario.SessionsDone = 0;
        receivedScenario.SeriesTime = 0.0;
        setCurrentEntry(&receivedScenario);
        SetCommand(ModemCommand::WaitForCall);
    }
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
        writeSetup(modemInit);
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
        sleepMs(kAfterDtrDropMs);
    }
    ClosePort();
}

void MODEM::readModemSettings() {
    IniFile ini = vetlina::readConfiguration();
    portNumber = readKey(ini, keys::ModemPort);
    postTime = readKey(ini, keys::PostTime);
    hangTime = readKey(ini, keys::HangTime);
    numNoCarrier = readKey(ini, keys::NumNoCarrier);
    modemInit = readKey(ini, keys::ModemInit);
    if (modemInit.size() > kModemInitMax)
        modemInit.resize(kModemInitMax);
}

std::string MODEM::portPrefix() const {
    return "COM" + std::to_string(portNumber) + ": ";
}

void MODEM::reportOpenFailure(ModemStatus status) {
    if (status == ModemStatus::SystemError)
        ui().dialogs().showMessage("System Error", openError(), DialogIcon::Warning);
    ui().dialogs().showMessage("Модем"_cp, portPrefix() + modemStatusText(status),
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
            const TypeResult typed = typeCommand(command);
            if (typed == TypeResult::NotWritten)
                return ModemStatus::SwitchedOff;
            if (typed == TypeResult::Ok && answered())
                return ModemStatus::Ready;
            status =
                typed == TypeResult::Ok ? ModemStatus::NoAnswer : static_cast<ModemStatus>(typed);
            putch('\r');
            sleepMs(kRetypeSleepMs);
        }
        return status;
    };

    ModemStatus status = attempts("ATZ\r\n", [this] { return waitOk(); });
    if (status != ModemStatus::Ready)
        return status;
    return attempts("ATI5\r\n", [this] {
        if (!readLine(kIdentificationMs))
            return false;
        std::string identification = responseLine;
        if (!modemInit.empty())
            identification += " Доп.настройка "_cp + modemInit;
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
            waitForCall();
            break;
        case ModemCommand::RingReceived:
            ringReceived();
            break;
        case ModemCommand::AnswererDialogue:
            answererDialogue();
            break;
        case ModemCommand::ChooseAndDial:
            chooseAndDial();
            break;
        case ModemCommand::ClassifyDialResult:
            classifyDialResult();
            break;
        case ModemCommand::CallerDialogue:
            callerDialogue();
            break;
        case ModemCommand::ThroughputTest:
            throughputTest();
            break;
        case ModemCommand::Reconnect:
            reconnect();
            break;
        case ModemCommand::ResultExchange:
            resultExchange();
            break;
        case ModemCommand::GeneratorAnswered:
            generatorAnswered();
            break;
        case ModemCommand::NoGeneratorSignal:
            noGeneratorSignal();
            break;
        case ModemCommand::GeneratorSessionComplete:
            generatorSessionComplete();
            break;
        default:
            // Stopped for good, or Idle: the analyzer holds the line.
            sleepMs(kIdleSleepMs);
            break;
        }
    }
}

} // namespace vetlina
