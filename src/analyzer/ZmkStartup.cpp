// Bringing the analyzer up (speed handshake, identification, calibration table, DATA
// folder) and putting it back to rest when the thread goes.
#include "analyzer/ZmkStartup.h"

#include "analyzer/Encoders.h"
#include "analyzer/ZmkLink.h"
#include "config/Configuration.h"
#include "device/Device.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "ui/UiBridge.h"

#include <cstdio>
#include <new>

namespace vetlina {

namespace {

// The identification must come within this time and be no longer than this.
constexpr uint32_t kIdentificationWaitMs = 3000;
constexpr std::size_t kIdentificationMax = 79;
// The calibration block must come within this time, 52 bytes with the type -11 first.
constexpr uint32_t kCalibrationWaitMs = 3000;
constexpr std::size_t kCalibrationBytes = 52;
constexpr int16_t kCalibrationType = -11;
// The largest part of a block the analyzer thread looks at.
constexpr std::size_t kTakeMax = 512;

// The data folder and what start-up does when it has filled up.
constexpr const char* kDataFolder = "DATA";
constexpr const char* kDataPattern = "zmk*.dat";
constexpr std::size_t kDataFilesMax = 800;

constexpr const char* kDataQuestion =
    "Количество *.dat файлов больше 800\r\n\r\nУдалить файлы из папки \\DATA ?";
constexpr const char* kDataTitle = " Папка DATA";
constexpr const char* kDataDeleted = " -выполнено удаление *.dat файлов";

// The two raw escape sequences that put the analyzer to rest: generator off and line
// let go, then the reset to the power-on state.
constexpr std::string_view kRestGenerator = "\x1bH000";
constexpr std::string_view kRestReset = "\x1bZ";

// The speed character of the handshake for a link speed; 0 for a speed the analyzer
// does not know.
char speedCharacter(int32_t speed) {
    switch (speed) {
    case 115200:
        return '7';
    case 57600:
        return '6';
    case 38400:
        return '5';
    default:
        return 0;
    }
}

} // namespace

const char* startupText(ZmkStartup code) {
    switch (code) {
    case ZmkStartup::Ok:
        return "ZMK-5 инициализирован";
    case ZmkStartup::PortUnavailable:
        return "недоступен";
    case ZmkStartup::DsrOff:
        return "Анализатор отключен или выключен";
    case ZmkStartup::CtsOff:
        return "Анализатор выключен";
    case ZmkStartup::SpeedNotSent:
        return "Не выдана команда установки скорости";
    case ZmkStartup::NoReply:
        return "Анализатор не отвечает на команды, нужно повторное включение";
    case ZmkStartup::WrongReply:
        return "Анализатор не готов к работе, нужно повторное включение";
    case ZmkStartup::BadSpeed:
        return "Недопустимая скорость обмена";
    case ZmkStartup::NoMemory:
        return "Нет памяти";
    case ZmkStartup::SystemError:
        return "Системная ошибка";
    }
    return "";
}

ZmkStartup ZmkBringUp::speedHandshake(int32_t speed) {
    if (!device_.dsr()) {
        device_.ClosePort();
        return ZmkStartup::DsrOff;
    }
    if (!device_.cts()) {
        device_.ClosePort();
        return ZmkStartup::CtsOff;
    }
    const char digit = speedCharacter(speed);
    if (digit == 0) {
        device_.ClosePort();
        return ZmkStartup::BadSpeed;
    }
    if (!device_.putch('$') || !device_.putch('S') || !device_.putch(static_cast<uint8_t>(digit))) {
        device_.ClosePort();
        return ZmkStartup::SpeedNotSent;
    }
    // No reply or a wrong one: the port stays open and the destructor puts the
    // analyzer to rest.
    uint8_t reply = 0;
    if (!device_.getch_wait(reply))
        return ZmkStartup::NoReply;
    if (reply != '$' || !device_.getch_wait(reply) || reply != 'S' || !device_.getch_wait(reply) ||
        reply != static_cast<uint8_t>(digit))
        return ZmkStartup::WrongReply;

    // Both sides now talk at the new speed; whether the port took it shows in the CR.
    device_.SetBaudRate(static_cast<uint32_t>(speed));
    if (!device_.putch(zmkbyte::CR))
        return ZmkStartup::SpeedNotSent;
    if (!device_.getch_wait(reply) || reply != zmkbyte::CR)
        return ZmkStartup::WrongReply;
    link_.resetAfterHandshake();
    return ZmkStartup::Ok;
}

bool ZmkBringUp::identify() {
    const std::string expected = kZmkIdentification;
    std::string received;
    const uint32_t deadline = tickMs() + kIdentificationWaitMs;
    do {
        const uint32_t event = link_.ReadEvent();
        if (event & zmkstatus::SwitchedOff)
            return false;
        if (event & zmkstatus::CharEvent) {
            received += static_cast<char>(event & 0xFF);
            if (received.size() > kIdentificationMax)
                return false;
            if (received == expected)
                return true;
        }
    } while (!tickReached(deadline));
    return false;
}

bool ZmkBringUp::readCalibration(MeterOutputs& out) {
    const uint8_t request[2] = {static_cast<uint8_t>(command::Calibration), 0};
    if (!link_.SendCommand(request, sizeof request))
        return false;
    uint8_t block[kTakeMax];
    const uint32_t deadline = tickMs() + kCalibrationWaitMs;
    do {
        const uint32_t event = link_.ReadEvent();
        if (event & zmkstatus::SwitchedOff)
            return false;
        if (!(event & zmkstatus::BlockReady))
            continue;
        const std::size_t n = link_.TakeBlock(block, sizeof block);
        if (n != kCalibrationBytes ||
            static_cast<int16_t>(block[0] | block[1] << 8) != kCalibrationType)
            continue;
        for (std::size_t i = 0; i < calibration_.size(); ++i)
            calibration_[i] = static_cast<int16_t>(block[2 + 2 * i] | block[3 + 2 * i] << 8);
        out.calibration = calibration_;
        out.calibrationReceived = true;
        return true;
    } while (!tickReached(deadline));
    return false;
}

void ZmkBringUp::tidyDataFolder() {
    const std::vector<std::string> files = listFiles(kDataFolder, kDataPattern);
    if (files.size() <= kDataFilesMax)
        return;
    const DialogAnswer answer = device_.ui().dialogs().ask(
        toCp1251(kDataTitle), toCp1251(kDataQuestion), DialogIcon::Question, DialogButtons::YesNo);
    if (answer != DialogAnswer::Yes)
        return;
    // A file that cannot be deleted stays; the next start-up asks again.
    for (const std::string& name : files)
        removeFile(std::string(kDataFolder) + "/" + name);
    device_.showProtocolLine(toCp1251(kDataDeleted));
}

void ZmkBringUp::putToRest() {
    if (!device_.portOpen())
        return;
    sleepMs(100);
    device_.puts(kRestGenerator);
    sleepMs(100);
    device_.puts(kRestReset);
    sleepMs(300);
    device_.dtr(false);
    device_.ClosePort();
}

} // namespace vetlina
