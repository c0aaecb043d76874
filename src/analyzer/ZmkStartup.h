// Bringing the analyzer up and putting it back to rest: the speed handshake, the
// identification, the calibration table, the tidying of the DATA folder, and the two
// escape sequences that return the analyzer to its power-on state. The part keeps the
// calibration table; the analyzer thread ZMK runs the start-up in its constructor, on
// the main thread, before its loop starts.
#pragma once

#include "analyzer/MeterOutputs.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace vetlina {

class Device;
class ZmkLink;

// The identification text the analyzer sends after the speed handshake.
inline constexpr const char* kZmkIdentification = "ZMK-5 Kerat, channel analyzer\r\n";

// Start-up result codes; each but 0 ends the run with its text.
enum class ZmkStartup : int {
    Ok = 0,
    PortUnavailable = 1,
    DsrOff = 2,
    CtsOff = 3,
    SpeedNotSent = 4,
    NoReply = 5,
    WrongReply = 6,
    BadSpeed = 7,
    NoMemory = 8,
    SystemError = 9,
};
// The text of a start-up code (UTF-8), appended to "COM<n>: " (code 8 stands alone).
const char* startupText(ZmkStartup code);

class ZmkBringUp {
public:
    // The start-up of the analyzer on device's port, talking through link.
    ZmkBringUp(Device& device, ZmkLink& link) : device_(device), link_(link) {}

    // "$S" and the speed character, the echo of all three, the new speed and a CR each
    // way. The port is closed again where the analyzer cannot be reached at all.
    ZmkStartup speedHandshake(int32_t speed);
    // Waits up to 3 s for the identification text.
    bool identify();
    // Asks for the calibration table and waits up to 3 s for it; on success the table is
    // kept here and handed to the computation's outputs.
    bool readCalibration(MeterOutputs& out);
    // More than 800 data files: asks the operator whether to delete them all.
    void tidyDataFolder();
    // Generator off and line let go, then the reset to the power-on state; the port is
    // closed. Nothing happens when the port is not open.
    void putToRest();

    // The calibration table as the analyzer sent it (zeros before).
    const std::array<int16_t, 25>& calibration() const { return calibration_; }
    int16_t serialNumber() const { return calibration_[kSerialWord]; }
    int16_t firmwareNumber() const { return calibration_[kFirmwareWord]; }

private:
    static constexpr std::size_t kSerialWord = 9;
    static constexpr std::size_t kFirmwareWord = 10;

    Device& device_;
    ZmkLink& link_;
    std::array<int16_t, 25> calibration_{};
};

} // namespace vetlina
