// Test doubles for the simulated ZMK-5: a port and a line that record what the
// analyzer does, and the computer's side of the link written from the computer's
// rules (its stuffing and its receive state machine), independent of the analyzer's.
#pragma once

#include "sim/analyzer/Zmk5.h"
#include "sim/exchange/AnalyzerLine.h"
#include "sim/network/Config.h"
#include "sim/network/ConfigReaders.h"
#include "sim/network/EventLog.h"
#include "sim/ports/SerialDevice.h"
#include "sim/signals/Fft.h"

#include <cmath>
#include <cstdint>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace vetlina::sim::test {

class FakePort : public PortSide {
public:
    void send(std::span<const uint8_t> bytes) override {
        if (charsPerMs > 0.0) {
            line.insert(line.end(), bytes.begin(), bytes.end());
            return;
        }
        sent.insert(sent.end(), bytes.begin(), bytes.end());
        totalSent += bytes.size();
    }
    void setLines(const DeviceLines& l) override { lines = l; }
    std::size_t pendingToComputer() const override { return pending + line.size(); }

    // With charsPerMs set the port carries what it is given at that rate, as the serial
    // line does (an idle line saves nothing up); without, at once.
    void carry(double ms) {
        credit = line.empty() ? 0.0 : credit + ms * charsPerMs;
        const auto n = std::min(line.size(), static_cast<std::size_t>(credit));
        sent.insert(sent.end(), line.begin(), line.begin() + static_cast<std::ptrdiff_t>(n));
        line.erase(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(n));
        totalSent += n;
        credit -= static_cast<double>(n);
    }

    std::vector<uint8_t> sent;
    std::size_t totalSent = 0;
    DeviceLines lines;
    std::size_t pending = 0;
    double charsPerMs = 0.0;
    std::deque<uint8_t> line;
    double credit = 0.0;
};

class FakeLine : public AnalyzerLine {
public:
    void hold(bool on) override {
        held = on;
        holds.push_back(on);
    }
    bool holding() const override { return held; }
    bool connected() const override { return far.has_value(); }
    void publish(const GeneratorSignal& signal) override { published.push_back(signal); }
    std::optional<FarEnd> farEnd() const override { return far; }

    bool held = false;
    std::vector<bool> holds;
    std::vector<GeneratorSignal> published;
    std::optional<FarEnd> far;
};

// What the computer makes of the analyzer's bytes: characters outside blocks, blocks
// (un-escaped, as words) and acknowledgements, by the computer's rules: STX starts a
// block, ACK is an acknowledgement wherever it comes, DLE escapes the next byte, CR
// ends a block.
struct Received {
    std::string text;
    std::vector<std::vector<int16_t>> blocks;
    std::vector<std::size_t> blockBytes; // un-escaped length of each block
    int acks = 0;
};

inline Received parseFromAnalyzer(const std::vector<uint8_t>& bytes) {
    Received r;
    bool inBlock = false;
    uint8_t mask = 0;
    std::vector<uint8_t> block;
    for (uint8_t byte : bytes) {
        const uint8_t m = mask;
        mask = 0;
        if (byte == 2) {
            inBlock = true;
            block.clear();
        } else if (byte == 6) {
            ++r.acks;
        } else if (byte == 13 && inBlock) {
            inBlock = false;
            std::vector<int16_t> words(block.size() / 2);
            for (std::size_t i = 0; i < words.size(); ++i)
                words[i] = static_cast<int16_t>(block[2 * i] | (block[2 * i + 1] << 8));
            r.blocks.push_back(std::move(words));
            r.blockBytes.push_back(block.size());
        } else if (byte == 16) {
            mask = 0x20;
        } else if (inBlock) {
            block.push_back(static_cast<uint8_t>(byte ^ m));
        } else {
            r.text += static_cast<char>(byte);
        }
    }
    return r;
}

inline std::vector<std::vector<int16_t>> ofType(const std::vector<std::vector<int16_t>>& blocks,
                                                int16_t type) {
    std::vector<std::vector<int16_t>> out;
    for (const auto& b : blocks)
        if (!b.empty() && b[0] == type)
            out.push_back(b);
    return out;
}
inline uint32_t pair(int16_t high, int16_t low) {
    return (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16) | static_cast<uint16_t>(low);
}
// The computer's assembly of a set: frames with positions 64..4096 in order, then the
// samples in time order (sample i from position i/2 when i is even, 2048 + i/2 when odd).
inline std::vector<std::vector<int16_t>>
assembleSets(const std::vector<std::vector<int16_t>>& frames) {
    std::vector<std::vector<int16_t>> sets;
    std::vector<int16_t> raw;
    int position = 0;
    uint32_t tag = 0;
    for (const auto& f : frames) {
        const uint32_t t = (static_cast<uint32_t>(static_cast<uint16_t>(f[1])) << 16) |
                           static_cast<uint16_t>(f[2]);
        if (f[67] == 64) {
            raw.clear();
            position = 0;
            tag = t;
        }
        if (f[67] != position + 64 || t != tag) {
            position = 0;
            continue;
        }
        raw.insert(raw.end(), f.begin() + 3, f.begin() + 67);
        position = f[67];
        if (position == 4096) {
            std::vector<int16_t> set(4096);
            for (int i = 0; i < 4096; ++i)
                set[i] = raw[i % 2 == 0 ? i / 2 : 2048 + i / 2];
            sets.push_back(set);
        }
    }
    return sets;
}
// The level of the sine at a peak bin of a set, as the computer's frame analysis
// reads it: Hann window with 4095, the transform's bin powers around the peak, and
// 10 log10(P x 2^-52) + 3.7 + top.
inline double transformLevel(const std::vector<int16_t>& set, double topDbm) {
    std::vector<double> x(4096);
    for (int i = 0; i < 4096; ++i)
        x[i] = set[i] * (0.5 - 0.5 * std::cos(2.0 * 3.14159265358979323846 * i / 4095.0));
    auto power = powerSpectrum(x);
    int peak = 96;
    for (int k = 96; k <= 1088; ++k)
        if (power[k] > power[peak])
            peak = k;
    double sum = 0.0;
    for (int k = peak - 16; k <= peak + 15; ++k)
        sum += power[k];
    return 10.0 * std::log10(sum * 2.220446049250313e-16) + 3.7 + topDbm;
}

struct Statistics {
    double seconds;
    int impulses, suppressed, positive, negative;
    int dropouts, interruptions, breaks;
    double impulseTime, interruptionTime;
    double impulsePercent, interruptionPercent, erroredPercent;
    int levelHits, phaseHits;
    double impulseThreshold, interruptionThreshold, levelThreshold, phaseThreshold;
};

// The -4 block read as the computer reads it.
inline Statistics readStatistics(const std::vector<int16_t>& w, double top) {
    Statistics s{};
    s.seconds = pair(w[1], w[2]) * 0.001;
    s.suppressed = static_cast<uint16_t>(w[3]);
    s.positive = static_cast<uint16_t>(w[4]);
    s.negative = static_cast<uint16_t>(w[5]);
    s.impulses = s.positive + s.negative;
    s.dropouts = static_cast<uint16_t>(w[14]);
    s.interruptions =
        static_cast<uint16_t>(w[15]) + static_cast<uint16_t>(w[16]) + static_cast<uint16_t>(w[17]);
    s.breaks = static_cast<uint16_t>(w[18]);
    s.impulseTime = (pair(w[6], w[7]) + pair(w[8], w[9])) * 7.8125e-5 / s.seconds;
    s.interruptionTime = pair(w[19], w[20]) * 7.8125e-5 / s.seconds;
    s.impulsePercent = (pair(w[10], w[11]) + pair(w[12], w[13])) / s.seconds * 100.0;
    s.interruptionPercent = pair(w[21], w[22]) / s.seconds * 100.0;
    s.erroredPercent = pair(w[23], w[24]) / s.seconds * 100.0;
    s.levelHits = w[25];
    s.phaseHits = w[26];
    s.impulseThreshold = 20.0 * std::log10(w[27] / 8192.0) - 9.43 + top;
    s.interruptionThreshold = 10.0 * std::log10(pair(w[28], w[29]) / 1073741824.0) + 2.125 + top;
    s.levelThreshold = std::max(std::abs(20.0 * std::log10(8192.0 / (8192.0 - w[30]))),
                                std::abs(20.0 * std::log10(8192.0 / (8192.0 - w[31])))) *
                       1.1363636;
    s.phaseThreshold = std::asin(w[32] * 1.2987013 / 8192.0) * 180.0 / 3.14159265358979323846;
    return s;
}

// A command block as the computer puts it on the wire.
inline std::vector<uint8_t> computerBlock(const std::vector<int16_t>& words) {
    std::vector<uint8_t> out{2};
    for (int16_t w : words) {
        for (uint8_t b : {static_cast<uint8_t>(w & 0xFF), static_cast<uint8_t>((w >> 8) & 0xFF)}) {
            if (b == 2 || b == 10 || b == 13 || b == 16 || b == 27) {
                out.push_back(16);
                out.push_back(static_cast<uint8_t>(b ^ 0x20));
            } else {
                out.push_back(b);
            }
        }
    }
    out.push_back(13);
    return out;
}

// A ZMK-5 on a fake port and line, with its event log kept.
// A channel's model and an analyzer's options from their configuration objects, as the
// configuration reads them; an object the configuration would refuse fails the test.
inline ChannelModel channelModel(const nlohmann::json& model) {
    std::string error;
    auto parsed = parseChannelModel(model, error);
    if (!parsed)
        ADD_FAILURE() << "channel model: " << error;
    return parsed.value_or(ChannelModel{});
}

inline Zmk5Options analyzerOptions(const nlohmann::json& analyzer, int serial, int firmware) {
    std::string error;
    auto parsed = parseZmk5Options(analyzer, serial, firmware, error);
    if (!parsed)
        ADD_FAILURE() << "analyzer options: " << error;
    return parsed.value_or(Zmk5Options{});
}

class Bench {
public:
    explicit Bench(nlohmann::json analyzer = nlohmann::json::object(), int serial = 1234,
                   int firmware = 17)
        : log(nullptr) {
        log.setObserver([this](const nlohmann::json& e) { events.push_back(e); });
        StationConfig station;
        station.name = "A";
        station.analyzer.options = analyzerOptions(analyzer, serial, firmware);
        device = makeZmk5(station, line, log);
        zmk = static_cast<Zmk5*>(device.get());
        zmk->attach(port);
        zmk->computerConnected(true);
        zmk->setLineFormat(LineFormat{});
        zmk->poll(tick);
    }

    // Polls every step ms for ms milliseconds of the scaled clock.
    void advance(uint32_t ms, uint32_t step = 5) {
        for (uint32_t t = 0; t < ms; t += step) {
            tick += step;
            zmk->poll(tick);
            port.carry(step);
        }
    }

    void computer(const std::vector<uint8_t>& bytes) { zmk->receive(bytes); }
    void computer(const std::string& text) {
        computer(std::vector<uint8_t>(text.begin(), text.end()));
    }
    void setBaud(uint32_t baud) { zmk->setLineFormat(LineFormat{.baudRate = baud}); }

    // Takes what the analyzer has sent since the last take.
    Received take() {
        Received r = parseFromAnalyzer(port.sent);
        port.sent.clear();
        return r;
    }

    // The whole start-up as the computer does it: speed command, CR, identification.
    void startUp(char digit = '7') {
        setBaud(9600);
        computer(std::string("$S") + digit);
        advance(20);
        const uint32_t baud = digit == '5' ? 38400 : digit == '6' ? 57600 : 115200;
        setBaud(baud);
        computer(std::string("\r"));
        advance(20);
    }

    // A command as the computer sends it: the announcement, then the command.
    void command(const std::vector<int16_t>& words) {
        computer(computerBlock({10}));
        computer(computerBlock(words));
        advance(5);
    }

    std::vector<nlohmann::json> eventsOf(const std::string& name) const {
        std::vector<nlohmann::json> out;
        for (const auto& e : events)
            if (e["event"] == name)
                out.push_back(e);
        return out;
    }

    FakePort port;
    FakeLine line;
    EventLog log;
    std::vector<nlohmann::json> events;
    std::unique_ptr<SerialDevice> device;
    Zmk5* zmk = nullptr;
    uint32_t tick = 100000;
};

} // namespace vetlina::sim::test
