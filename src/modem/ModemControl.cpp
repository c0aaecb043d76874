#include "modem/ModemControl.h"

#include "config/Configuration.h"
#include "device/Device.h"
#include "modem/ResultLine.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "reports/MessageFile.h"
#include "ui/UiBridge.h"

namespace vetlina {
namespace {

// The trace switch off for a scope, restored at its end.
class TraceOff {
public:
    TraceOff() : saved_(traceSwitch().exchange(false)) {}
    ~TraceOff() { traceSwitch().store(saved_); }
    TraceOff(const TraceOff&) = delete;
    TraceOff& operator=(const TraceOff&) = delete;

private:
    bool saved_;
};

// What the set-up line stores besides the extra commands: no speaker, answer on the
// second ring, hang up when DTR drops, DSR only while connected, numeric results, and
// the modem's own error correction.
constexpr const char* kSetupHead = "ATM0S0=2";
constexpr const char* kSetupTail = "&D2&S1V0\\N2\\V1S7=60S37=4&WZ\r\n";

} // namespace

ModemControl::ModemControl(Device& device, RunContext* run) : device_(device), run_(run) {}

TypeResult ModemControl::typeCommand(std::string_view text) {
    for (char ch : text) {
        const uint8_t c = static_cast<uint8_t>(ch);
        if (!device_.putch(c)) {
            device_.traceEvent(" -не выдан символ командной строки"_cp);
            return TypeResult::NotWritten;
        }
        uint8_t echo = 0;
        if (!device_.getch_wait(echo)) {
            device_.traceEvent(" -не принят эхо-символ"_cp);
            return TypeResult::NoEcho;
        }
        if (echo != c) {
            device_.traceEvent(" -ошибочный эхо-символ"_cp);
            return TypeResult::WrongEcho;
        }
    }
    return TypeResult::Ok;
}

ModemControl::Read ModemControl::readBy(TimedRead& wait, uint8_t& byte) {
    const bool late = tickReached(wait.end);
    if (late && wait.lateBytes >= kLateReadMax)
        return Read::TimeUp;
    if (device_.getch(byte)) {
        wait.lateBytes += late ? 1 : 0;
        return Read::Byte;
    }
    return late ? Read::TimeUp : Read::Nothing;
}

bool ModemControl::waitOk() {
    TimedRead wait{tickMs() + kOkWaitMs};
    bool zero = false;
    while (!device_.Terminated()) {
        uint8_t c = 0;
        const Read r = readBy(wait, c);
        if (r == Read::TimeUp)
            return false;
        if (r == Read::Nothing)
            continue;
        if (zero && c == '\r')
            return true;
        zero = c == '0';
    }
    return false;
}

bool ModemControl::readLine(uint32_t limitMs) {
    responseLine_.clear();
    TimedRead wait{tickMs() + limitMs};
    while (!device_.Terminated()) {
        uint8_t c = 0;
        const Read r = readBy(wait, c);
        if (r == Read::TimeUp)
            return false;
        if (r == Read::Byte && addResultLineChar(responseLine_, c))
            return true;
    }
    return false;
}

bool ModemControl::commandLine(std::string_view text) {
    const uint32_t end = tickMs() + kCommandLineMs;
    while (!tickReached(end)) {
        if (device_.Terminated())
            return false;
        device_.PurgePort();
        if (typeCommand(text) == TypeResult::Ok)
            return true;
        device_.putch('\r');
        device_.sleepUnlessTerminated(kRetypeSleepMs);
    }
    if (!device_.Terminated())
        modemFailure("Не выполнен ввод командной строки в модем"_cp);
    return false;
}

bool ModemControl::resetModem() {
    const uint32_t end = tickMs() + kCommandLineMs;
    while (!tickReached(end)) {
        if (device_.Terminated())
            return false;
        if (!commandLine("ATZ\r\n"))
            return false;
        if (waitOk())
            return true;
        device_.traceEvent(" -неправильный ответ модема на ATZ"_cp);
    }
    if (!device_.Terminated())
        modemFailure("Модем не отвечает на команду ATZ"_cp);
    return false;
}

bool ModemControl::waitCarrierLoss() {
    const uint32_t end = tickMs() + kCarrierLossMs;
    for (;;) {
        if (device_.Terminated() || tickReached(end))
            return false;
        if (!device_.carrier()) {
            // Still gone a poll later: not a dip of the line.
            sleepMs(kCarrierPollMs);
            if (!device_.carrier()) {
                device_.dtr(false);
                device_.sleepUnlessTerminated(kAfterDtrDropMs);
                device_.PurgePort();
                return true;
            }
        }
        sleepMs(kCarrierPollMs);
        device_.PurgePort();
    }
}

bool ModemControl::hangUp() {
    device_.dtr(false);
    if (waitCarrierLoss())
        return true;
    if (!device_.Terminated())
        modemFailure("Модем не разорвал связь при сбросе DTR"_cp);
    return false;
}

std::string ModemControl::portPrefix() const {
    return "COM" + std::to_string(device_.portNumber) + ": ";
}

bool ModemControl::hangUpAfterLastBlock() {
    // The acknowledgement of the far side's last block is still on its way; a modem that
    // hangs up drops what it has not sent, and the far side would take the session as
    // broken off.
    device_.sleepUnlessTerminated(kLastAcknowledgementMs);
    return hangUp();
}

bool ModemControl::awaitDisconnect() {
    if (waitCarrierLoss())
        return true;
    if (device_.Terminated())
        return false;
    device_.logEvent("Принудительный разрыв связи"_cp, false);
    return hangUp();
}

void ModemControl::dropLine() {
    device_.dtr(false);
    device_.sleepUnlessTerminated(kDropLineMs);
    device_.PurgePort();
}

void ModemControl::disconnectReason() {
    if (!traceSwitch().load())
        return;
    if (!commandLine("ATS86?\r\n"))
        return;
    const uint32_t start = tickMs();
    std::string line = "Причина разрыва соединения: S86 = "_cp;
    while (!device_.Terminated() && !tickReached(start + kReasonReplyMs)) {
        uint8_t c = 0;
        if (!device_.getch(c))
            continue;
        if (c == '\r')
            break;
        if (line.size() < kTextMax)
            line += static_cast<char>(c);
    }
    // The rest of the reply (the line's LF and the result code) up to its CR.
    while (!device_.Terminated() && !tickReached(start + kReasonEndMs)) {
        uint8_t c = 0;
        if (device_.getch(c) && c == '\r')
            break;
    }
    device_.logEvent(line, false);
}

void ModemControl::modemFailure(const std::string& text) {
    if (!device_.stop())
        return;
    device_.logEvent(text, true);
    writeMessageFile(run_, device_, MessageCode::DeviceFailure);
    // A modem that still shows a line has failed; one that shows none is off or unplugged.
    const std::string what =
        device_.carrier() || device_.cts() ? "Отказ модема"_cp : "Отключение модема"_cp;
    device_.logEvent(what, true);
    device_.ui().dialogs().showMessage(" Модем"_cp, what, DialogIcon::Warning);
    device_.ui().post(MSG_RUN_END);
}

void ModemControl::writeSetup(const std::string& extra) {
    Dialogs& dialogs = device_.ui().dialogs();
    if (dialogs.ask("Модем"_cp,
                    portPrefix() + "Записать настройку в энергонезависимую память модема?"_cp,
                    DialogIcon::Question, DialogButtons::YesNo) != DialogAnswer::Yes)
        return;
    const std::string line = kSetupHead + extra + kSetupTail;

    TraceOff quiet;
    // "A" and then "T&F" unchecked: a modem whose profile has no echo (or no numeric
    // results) goes back to its factory settings first, which echo.
    device_.PurgePort();
    bool written = device_.putch('A');
    if (written) {
        sleepMs(100);
        written = device_.puts("T&F\r\n");
    }
    if (written) {
        sleepMs(400);
        device_.PurgePort();
        written = typeCommand(line) == TypeResult::Ok;
    }
    if (!written) {
        dialogs.showMessage("Модем"_cp, "Модем отключен или выключен"_cp, DialogIcon::Warning);
        return;
    }
    if (waitOk())
        dialogs.showMessage("Записана настройка модема"_cp, line, DialogIcon::Information);
    else
        dialogs.showMessage("Модем"_cp, "Ошибка записи исходной настройки"_cp, DialogIcon::Warning);
}

} // namespace vetlina
