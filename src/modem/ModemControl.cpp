// The command-line primitives of the modem: typing a command with its echo checked,
// reading result lines, resetting, hanging up, the disconnect reason, the fatal
// failure, and writing the stored set-up into the modem's memory.
#include "config/Configuration.h"
#include "modem/Modem.h"
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

TypeResult MODEM::typeCommand(std::string_view text) {
    for (char ch : text) {
        const uint8_t c = static_cast<uint8_t>(ch);
        if (!putch(c)) {
            traceEvent(" -не выдан символ командной строки"_cp);
            return TypeResult::NotWritten;
        }
        uint8_t echo = 0;
        if (!getch_wait(echo)) {
            traceEvent(" -не принят эхо-символ"_cp);
            return TypeResult::NoEcho;
        }
        if (echo != c) {
            traceEvent(" -ошибочный эхо-символ"_cp);
            return TypeResult::WrongEcho;
        }
    }
    return TypeResult::Ok;
}

bool MODEM::waitOk() {
    const uint32_t end = tickMs() + kOkWaitMs;
    bool zero = false;
    while (!Terminated() && !tickReached(end)) {
        uint8_t c = 0;
        if (!getch(c))
            continue;
        if (zero && c == '\r')
            return true;
        zero = c == '0';
    }
    return false;
}

bool MODEM::readLine(uint32_t limitMs) {
    responseLine.clear();
    const uint32_t end = tickMs() + limitMs;
    for (;;) {
        if (Terminated() || tickReached(end))
            return false;
        uint8_t c = 0;
        if (getch(c) && addResultLineChar(responseLine, c))
            return true;
    }
}

bool MODEM::commandLine(std::string_view text) {
    const uint32_t end = tickMs() + kCommandLineMs;
    while (!tickReached(end)) {
        if (Terminated())
            return false;
        PurgePort();
        if (typeCommand(text) == TypeResult::Ok)
            return true;
        putch('\r');
        sleepUnlessTerminated(kRetypeSleepMs);
    }
    if (!Terminated())
        modemFailure("Не выполнен ввод командной строки в модем"_cp);
    return false;
}

bool MODEM::resetModem() {
    const uint32_t end = tickMs() + kCommandLineMs;
    while (!tickReached(end)) {
        if (Terminated())
            return false;
        if (!commandLine("ATZ\r\n"))
            return false;
        if (waitOk())
            return true;
        traceEvent(" -неправильный ответ модема на ATZ"_cp);
    }
    if (!Terminated())
        modemFailure("Модем не отвечает на команду ATZ"_cp);
    return false;
}

bool MODEM::waitCarrierLoss() {
    const uint32_t end = tickMs() + kCarrierLossMs;
    for (;;) {
        if (Terminated() || tickReached(end))
            return false;
        if (!carrier()) {
            // Still gone a poll later: not a dip of the line.
            sleepMs(kCarrierPollMs);
            if (!carrier()) {
                dtr(false);
                sleepUnlessTerminated(kAfterDtrDropMs);
                PurgePort();
                return true;
            }
        }
        sleepMs(kCarrierPollMs);
        PurgePort();
    }
}

bool MODEM::hangUp() {
    dtr(false);
    if (waitCarrierLoss())
        return true;
    if (!Terminated())
        modemFailure("Модем не разорвал связь при сбросе DTR"_cp);
    return false;
}

bool MODEM::awaitDisconnect() {
    if (waitCarrierLoss())
        return true;
    if (Terminated())
        return false;
    logEvent("Принудительный разрыв связи"_cp, false);
    return hangUp();
}

void MODEM::dropLine() {
    dtr(false);
    sleepUnlessTerminated(kDropLineMs);
    PurgePort();
}

void MODEM::disconnectReason() {
    if (!traceSwitch().load())
        return;
    if (!commandLine("ATS86?\r\n"))
        return;
    const uint32_t start = tickMs();
    std::string line = "Причина разрыва соединения: S86 = "_cp;
    while (!Terminated() && !tickReached(start + kReasonReplyMs)) {
        uint8_t c = 0;
        if (!getch(c))
            continue;
        if (c == '\r')
            break;
        if (line.size() < kTextMax)
            line += static_cast<char>(c);
    }
    // The rest of the reply (the line's LF and the result code) up to its CR.
    while (!Terminated() && !tickReached(start + kReasonEndMs)) {
        uint8_t c = 0;
        if (getch(c) && c == '\r')
            break;
    }
    logEvent(line, false);
}

void MODEM::modemFailure(const std::string& text) {
    if (!stop())
        return;
    logEvent(text, true);
    writeMessageFile(run_, *this, MessageCode::DeviceFailure);
    // A modem that still shows a line has failed; one that shows none is off or unplugged.
    const std::string what = carrier() || cts() ? "Отказ модема"_cp : "Отключение модема"_cp;
    logEvent(what, true);
    ui().dialogs().showMessage(" Модем"_cp, what, DialogIcon::Warning);
    ui().post(MSG_RUN_END);
}

void MODEM::writeSetup(const std::string& extra) {
    Dialogs& dialogs = ui().dialogs();
    if (dialogs.ask("Модем"_cp,
                    portPrefix() + "Записать настройку в энергонезависимую память модема?"_cp,
                    DialogIcon::Question, DialogButtons::YesNo) != DialogAnswer::Yes)
        return;
    const std::string line = kSetupHead + extra + kSetupTail;

    TraceOff quiet;
    // "A" and then "T&F" unchecked: a modem whose profile has no echo (or no numeric
    // results) goes back to its factory settings first, which echo.
    PurgePort();
    bool written = putch('A');
    if (written) {
        sleepMs(100);
        written = puts("T&F\r\n");
    }
    if (written) {
        sleepMs(400);
        PurgePort();
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
