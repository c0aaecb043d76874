// The simulator's configuration (CONFIG.json): the stations of the network, the
// channels between them, the scheduled faults, the rates and the timing of the
// exchange. The format is described in the README, section "The simulator".
//
// Everything is read here, the members that belong to the analyzer side included
// (an analyzer's options, a channel's model, the generator stations' programme, by
// the readers of ConfigReaders.h); the rest of the simulator gets plain structs.
#pragma once

#include "sim/analyzer/Zmk5Options.h"
#include "sim/channel/ChannelModel.h"
#include "sim/exchange/AnalyzerLine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vetlina::sim {

// Faults of one modem that hold for the whole run.
struct ModemFaults {
    bool noEcho = false;      // never echoes in command mode, whatever E says
    bool dsrAlwaysOn = false; // DSR on all the time, whatever &S says
};

struct ModemConfig {
    uint16_t port = 0; // TCP port on 127.0.0.1; 0: any free port (see the "listening" event)
    std::string identification = "Hayes compatible modem"; // the ATI5 line
    std::string productCode = "14400";                     // the ATI0 line
    // Commands (without "AT") applied to the factory profile to make the stored
    // profile the modem starts with, as if written with &W long ago.
    std::string storedProfile;
    // A file that keeps the stored profiles across runs of the simulator; empty:
    // profiles written with &W live as long as the simulator.
    std::string profileFile;
    uint32_t maxRate = 14400; // the best line rate of the modem, bit/s
    int connectCode = 20;     // the numeric result of a connection (X1 and above)
    // Command processing: the result of a command line follows this long after its
    // CR, or at once after the LF that follows the CR (which is echoed first).
    uint32_t resultDelayMs = 1000;
    ModemFaults faults;
};

struct AnalyzerConfig {
    uint16_t port = 0;
    // The analyzer's identification words (serialNumber, firmware), its own options
    // and its faults.
    Zmk5Options options;
};

enum class StationKind { Complex, Generator };

struct StationConfig {
    std::string name; // as in the event log
    StationKind kind = StationKind::Complex;
    std::string number;               // the number that reaches the station
    std::vector<std::string> aliases; // further numbers that reach it (trunk forms)
    ModemConfig modem;                // complex only
    AnalyzerConfig analyzer;          // complex only
    int answerAfterRings = 1;         // generator only: it answers at this ring
};

// A channel between two stations. The exchange uses its line rate; the analyzers
// use the channel model (attenuation, noise and the rest), which the exchange
// passes on without reading it.
struct ChannelConfig {
    std::string first; // station names
    std::string second;
    std::optional<uint32_t> lineRate; // bit/s; default: the network's line rate
    ChannelModel model;               // an ideal channel unless "model" says otherwise
};

enum class FaultKind {
    Busy,          // calls to the station find it busy
    NoAnswer,      // calls to the station ring at the caller but never at the station
    NoDialTone,    // the station's line gives no dial tone (optionally only the second, after W)
    NoCarrier,     // modems on the station's calls never train (no carrier)
    LineBreak,     // the station's call is cut: at a moment, some time after the modems
                   // connect, or after a number of data bytes
    ByteLoss,      // data bytes between modems lost, duplicated or corrupted with a
    ByteDuplicate, // probability (seeded, reproducible)
    ByteCorrupt,
    NoEcho,      // the station's modem does not echo (while the fault's window is open)
    DsrAlwaysOn, // the station's modem keeps DSR on whatever &S says
    ModemOff,    // the station's modem is switched off: no lines, no echo, no results, its
                 // call dropped; at the window's end it comes back in its power-on state
    DsrLost,     // the station's modem keeps DSR off (a broken DSR wire), whatever &S says
};

struct FaultConfig {
    FaultKind kind = FaultKind::Busy;
    std::string station;             // the station whose line or calls it concerns
    double fromS = 0.0;              // active from this many seconds after the simulator started
    std::optional<double> untilS;    // ... until this many (default: for ever)
    std::optional<int> times;        // it acts at most this many times (default: unlimited)
    bool secondDialToneOnly = false; // NoDialTone: only the tone awaited after W is missing
    std::optional<double> atS;       // LineBreak: at this moment
    std::optional<uint32_t> afterConnectMs; // LineBreak: this long after the modems connect
    std::optional<uint64_t> afterBytes;     // LineBreak: after this many data bytes
    double probability = 0.0;               // byte faults: per byte
    uint32_t seed = 1;                      // byte faults: seed of the fault's own generator
};

struct RatesConfig {
    uint32_t lineRate = 14400;  // bit/s of a connection that no S37 limits
    double bitsPerByte = 8.375; // line bits per data byte (error-correcting framing)
    bool unthrottled = false;   // connections at the full line rate pass data at once
};

struct TimingConfig {
    uint32_t firstRingMs = 1000; // from the end of dialling to the first ring
    uint32_t ringPeriodMs = 6000;
    uint32_t ringOnMs = 2000;    // the ring signal (RI) within each period
    uint32_t handshakeMs = 3000; // modem training, from both modems on the line to CONNECT
    uint32_t resetMs = 200;      // ATZ and &F
};

struct SimConfig {
    std::vector<StationConfig> stations;
    std::vector<ChannelConfig> channels;
    std::vector<FaultConfig> faults;
    RatesConfig rates;
    TimingConfig timing;
    // What the generator stations send. The exchange runs one programme for all of
    // them: the first generator station's "generator" object gives it (by default the
    // programme described in exchange/AutonomousGenerator.cpp).
    GeneratorProgramme generatorProgramme;
};

// Reads and checks a configuration. On failure, error holds one line that says
// what is wrong and where ("stations[1].modem.port: ...").
std::optional<SimConfig> parseConfig(const std::string& jsonText, std::string& error);
std::optional<SimConfig> loadConfig(const std::string& path, std::string& error);

const char* faultName(FaultKind kind);

} // namespace vetlina::sim
