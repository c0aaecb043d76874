// Bringing the analyzer up (port, speed handshake, identification, calibration table,
// DATA folder) and putting it back to rest when the thread goes.
#include "analyzer/ZMK.h"
#include "config/Configuration.h"
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

constexpr const char* kIdentificationFailure =
    "Отказ анализатора\r\n\r\nВозможно, требуется повторное включение питания";
constexpr const char* kNoCalibration = "Анализатор не имеет калибровочных данных";
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

std::string portPrefix(int32_t portNumber) {
    char text[24];
    std::snprintf(text, sizeof text, "COM%1d: ", portNumber);
    return text;
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

ZMK::ZMK(RunContext& run, PortFactory ports) : ZMK(run.ui(), std::move(ports), &run) {}

ZMK::ZMK(UiBridge& ui, PortFactory ports) : ZMK(ui, std::move(ports), nullptr) {}

ZMK::ZMK(UiBridge& ui, PortFactory ports, RunContext* run)
    : AnalyzerThread(ui, std::move(ports), run), run_(run), link_(*this, run),
      fallbackEntry_(defaultEntry()) {
    const IniFile ini = readConfiguration();
    portNumber = readKey(ini, keys::ZmkPort);
    const int32_t speed = readKey(ini, keys::ZmkSpeed);

    // The computation's working memory, obtained once for the whole run.
    ZmkStartup code = ZmkStartup::Ok;
    try {
        meter_ = std::make_unique<MeterComputation>();
    } catch (const std::bad_alloc&) {
        meter_.reset();
    }
    if (!meter_ || !meter_->hasWorkingMemory()) {
        meter_.reset();
        code = ZmkStartup::NoMemory;
    } else {
        code = static_cast<ZmkStartup>(static_cast<int>(OpenPort()));
        if (code == ZmkStartup::Ok)
            code = speedHandshake(speed);
    }

    if (code != ZmkStartup::Ok) {
        if (code == ZmkStartup::SystemError)
            ui.dialogs().showMessage("System Error", openError(), DialogIcon::Warning);
        if (code == ZmkStartup::NoMemory)
            startupFailure(toCp1251(startupText(code)));
        else
            startupFailure(portPrefix(portNumber) + toCp1251(startupText(code)));
        return;
    }
    showProtocolLine(portPrefix(portNumber) + toCp1251(startupText(code)));

    tidyDataFolder();
    link_.discardChunk();
    if (!identify()) {
        startupFailure(toCp1251(kIdentificationFailure));
        return;
    }
    // When the command itself fails, "Отказ анализатора" has been reported already; the
    // operator sees both messages.
    if (!readCalibration()) {
        startupFailure(toCp1251(kNoCalibration));
        return;
    }
    meter_->state.reset();
    measuring_ = false;
    overload_ = false;
    SetCommand(AnalyzerCommand::SwitchOff);
}

void ZMK::endThread() {
    if (Started() && !Finished()) {
        SetCommand(AnalyzerCommand::Stopped);
        Terminate();
        if (ui().onMainThread())
            ui().serveUntil([this] { return Finished(); });
    }
    DeviceThread::WaitFor();
}

ZMK::~ZMK() {
    // The last resort for an owner that did not end the thread: the loop uses everything
    // below.
    endThread();

    meter_.reset();
    if (!portOpen())
        return;
    sleepMs(100);
    puts(kRestGenerator);
    sleepMs(100);
    puts(kRestReset);
    sleepMs(300);
    dtr(false);
    ClosePort();
}

ZmkStartup ZMK::speedHandshake(int32_t speed) {
    if (!dsr()) {
        ClosePort();
        return ZmkStartup::DsrOff;
    }
    if (!cts()) {
        ClosePort();
        return ZmkStartup::CtsOff;
    }
    const char digit = speedCharacter(speed);
    if (digit == 0) {
        ClosePort();
        return ZmkStartup::BadSpeed;
    }
    if (!putch('$') || !putch('S') || !putch(static_cast<uint8_t>(digit))) {
        ClosePort();
        return ZmkStartup::SpeedNotSent;
    }
    // No reply or a wrong one: the port stays open and the destructor puts the
    // analyzer to rest.
    uint8_t reply = 0;
    if (!getch_wait(reply))
        return ZmkStartup::NoReply;
    if (reply != '$' || !getch_wait(reply) || reply != 'S' || !getch_wait(reply) ||
        reply != static_cast<uint8_t>(digit))
        return ZmkStartup::WrongReply;

    // Both sides now talk at the new speed; whether the port took it shows in the CR.
    SetBaudRate(static_cast<uint32_t>(speed));
    if (!putch(zmkbyte::CR))
        return ZmkStartup::SpeedNotSent;
    if (!getch_wait(reply) || reply != zmkbyte::CR)
        return ZmkStartup::WrongReply;
    link_.resetAfterHandshake();
    return ZmkStartup::Ok;
}

bool ZMK::identify() {
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

bool ZMK::readCalibration() {
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
        MeterOutputs& out = meter_->out();
        out.calibration = calibration_;
        out.calibrationReceived = true;
        return true;
    } while (!tickReached(deadline));
    return false;
}

void ZMK::tidyDataFolder() {
    const std::vector<std::string> files = listFiles(kDataFolder, kDataPattern);
    if (files.size() <= kDataFilesMax)
        return;
    const DialogAnswer answer = ui().dialogs().ask(toCp1251(kDataTitle), toCp1251(kDataQuestion),
                                                   DialogIcon::Question, DialogButtons::YesNo);
    if (answer != DialogAnswer::Yes)
        return;
    // A file that cannot be deleted stays; the next start-up asks again.
    for (const std::string& name : files)
        removeFile(std::string(kDataFolder) + "/" + name);
    showProtocolLine(toCp1251(kDataDeleted));
}

void ZMK::startupFailure(const std::string& line) {
    SetCommand(AnalyzerCommand::Stopped);
    showProtocolLine(line);
    ui().dialogs().showMessage(toCp1251(kAnalyzerTitle), line, DialogIcon::Warning);
    ui().post(MSG_RUN_END);
}

} // namespace vetlina
