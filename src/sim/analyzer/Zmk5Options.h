// Options and faults of a station's ZMK-5, from the station's "analyzer" object in the
// simulator's configuration (AnalyzerConfig: "port", "serialNumber" and "firmware"
// are read there; the members below are the analyzer's own):
//
//   "calibration": [25 whole numbers]  the calibration table (default: zeros, with the
//                                      serial number in word 9 and the firmware number in
//                                      word 10, counted from 0, and in word 24 the
//                                      check word that makes the 25 words sum to 0)
//   "resetOnClose": true               closing the port resets the analyzer to its
//                                      power-on state, as if switched off and on; false:
//                                      only the shutdown sequence ESC "Z" resets it
//   "seed": 5                          of the meter's own input noise
//   "faults": {"KIND": {...}, ...}     faults by kind; a kind may also hold an array of
//                                      such objects
//
// Every fault may have "fromS" (seconds after the simulator started, default 0),
// "untilS" (default: for ever) and "times" (how often it acts at most). Kinds and their
// own members:
//   "switchedOff"          DSR and CTS drop from fromS; at untilS the analyzer comes
//                          back in its power-on state
//   "ackLost"              a received block is not acknowledged; "command": only blocks
//                          with this command code (default any)
//   "blockCorrupt"         a data block is damaged on its way out; "type": only this
//                          block type (default any); "how": "truncate" (its last byte is
//                          lost, default) or "flip" (a data byte is inverted)
//   "noHandshakeReply"     the speed command gets no reply
//   "wrongSpeedDigit"      the speed command is answered, and obeyed, with another digit;
//                          "digit": that digit (default: the next of 5, 6, 7)
//   "wrongIdentification"  another identification text; "text" (default
//                          "ZMK-4 Kerat, channel analyzer")
//   "noCalibration"        the calibration request is acknowledged but not answered
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vetlina::sim {

enum class Zmk5FaultKind {
    SwitchedOff,
    AckLost,
    BlockCorrupt,
    NoHandshakeReply,
    WrongSpeedDigit,
    WrongIdentification,
    NoCalibration,
};

const char* zmk5FaultName(Zmk5FaultKind kind);

struct Zmk5Fault {
    Zmk5FaultKind kind = Zmk5FaultKind::SwitchedOff;
    double fromS = 0.0;
    std::optional<double> untilS;
    std::optional<int> times;
    std::optional<int> command; // AckLost
    std::optional<int> type;    // BlockCorrupt
    bool flip = false;          // BlockCorrupt: invert a byte instead of losing the last
    std::optional<char> digit;  // WrongSpeedDigit
    std::string text = "ZMK-4 Kerat, channel analyzer"; // WrongIdentification
};

struct Zmk5Options {
    int serialNumber = 1;
    int firmware = 1;
    std::optional<std::array<int16_t, 25>> calibration;
    bool resetOnClose = true;
    uint32_t seed = 5;
    std::vector<Zmk5Fault> faults;

    // The calibration table the analyzer sends.
    std::array<int16_t, 25> calibrationTable() const;
};

// parseZmk5Options (network/ConfigReaders.h) reads them from the configuration.

} // namespace vetlina::sim
