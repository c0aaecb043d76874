// The settings of the simulated Hayes modem: the basic switches (E, Q, V, X, M, L,
// B, &C, &D, &S, &L), the other extended switches it accepts and keeps, and the
// S-registers. One set is active; two stored profiles (&W0, &W1) and the factory
// profile (&F) can replace it.
#pragma once

#include "sim/modem/AtCommandReader.h"

#include <array>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace vetlina::sim {

// S-registers the modem knows.
namespace sreg {
constexpr int AutoAnswerRings = 0;   // answer at this ring; 0: never by itself
constexpr int RingCount = 1;         // rings of the current incoming call
constexpr int EscapeChar = 2;        // "+"
constexpr int CarriageReturn = 3;    // ends a command line
constexpr int LineFeed = 4;          // follows results in verbal mode
constexpr int Backspace = 5;         // edits the command line
constexpr int DialToneWait = 6;      // s: wait for the dial tone (blind: before dialling)
constexpr int CarrierWait = 7;       // s: wait for the far modem's carrier after dialling
constexpr int CommaPause = 8;        // s: pause of "," in a dial string
constexpr int CarrierDetectTime = 9; // 0.1 s
constexpr int CarrierLossTime = 10;  // 0.1 s: hang up this long after the carrier went
constexpr int ToneDuration = 11;     // ms: one DTMF digit (and the gap after it)
constexpr int EscapeGuard = 12;      // 1/50 s: guard time around "+++"
constexpr int LineRate = 37;         // the line rate to connect at (see rateOfS37)
constexpr int DisconnectReason = 86; // why the last connection ended (read only)
} // namespace sreg

// Reasons kept in S86.
namespace disconnect {
constexpr int None = 0;          // no connection ended yet, or hung up by the computer
constexpr int CarrierLost = 4;   // the line failed: the carrier went without a hang-up
constexpr int NoCarrier = 9;     // no common modulation: the modems did not train
constexpr int RemoteHangUp = 12; // the far modem hung up
} // namespace disconnect

struct ModemSettings {
    int echo = 1;       // E
    int quiet = 0;      // Q
    int verbose = 1;    // V
    int resultSet = 4;  // X: 0..4, which results and which call progress detection
    int speaker = 1;    // M
    int volume = 1;     // L
    int bell = 0;       // B
    int dcd = 1;        // &C: 0 CD always on, 1 CD follows the carrier
    int dtr = 2;        // &D: 0 ignored, 1 to command mode, 2 hang up, 3 reset
    int dsr = 0;        // &S: 0 DSR always on, 1 DSR only while connected
    int leasedLine = 0; // &L: 1 originate and answer on the line as it is, no dialling
    int pulseDial = 0;  // P (1) or T (0): how digits are dialled unless the dial string says
    std::map<std::string, int> other; // further switches, "&K" -> 3, "\\N" -> 2, "W" -> 1 ...
    std::array<uint8_t, 256> s{};

    bool operator==(const ModemSettings&) const = default;
};

// The settings a modem leaves the factory with.
ModemSettings factorySettings();

// Whether register n exists, and whether the computer may set it.
bool knownRegister(int n);
bool writableRegister(int n);

// The line rate asked for by S37: 0 or an unknown value is the modem's best rate.
uint32_t rateOfS37(int value, uint32_t bestRate);

// Applies one command to the settings when it is a setting (E1, &D2, S7=60, %E2 ...).
enum class SettingResult { Applied, NotASetting, Invalid };
SettingResult applySetting(ModemSettings& settings, const AtCommand& command);

// A stored profile as JSON (the profile file) and back; nullopt for a malformed one.
nlohmann::json settingsToJson(const ModemSettings& settings);
std::optional<ModemSettings> settingsFromJson(const nlohmann::json& json);

} // namespace vetlina::sim
