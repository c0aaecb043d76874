#include "sim/analyzer/Zmk5Commands.h"

#include "sim/analyzer/Zmk5Link.h"

#include <cmath>
#include <vector>

namespace vetlina::sim::zmk5 {

std::optional<int> commandBytes(int code) {
    switch (code) {
    case command::MeterRestart:
        return 4;
    case command::Harmonic:
        return 12;
    case command::MultiFrequency:
    case command::O131:
    case command::O42:
        return 6;
    case command::Thresholds:
        return 14;
    case command::NoSignal:
        return 2;
    case command::DeadTimes:
        return 10;
    case command::Echo:
        return 34;
    case command::Announce:
        return 2;
    case command::MeterRange:
        return 6;
    case command::Calibration:
        return 2;
    case command::LineMode:
        return 4;
    default:
        return std::nullopt;
    }
}

std::optional<double> generatorFullScaleDbm(int attenuator) {
    switch (attenuator) {
    case 8:
        return 11.0;
    case 16:
        return -0.84;
    default:
        return std::nullopt;
    }
}

double amplitudeLevelDbm(int amplitudeCode, double fullScaleDbm) {
    return 20.0 * std::log10(static_cast<double>(amplitudeCode) / 32767.0) + fullScaleDbm;
}

double phaseIncrementHz(uint32_t increment) {
    return static_cast<double>(increment) * kGeneratorRate / kPhaseSteps;
}

namespace {

uint32_t pair32(int16_t low, int16_t high) {
    return static_cast<uint32_t>(static_cast<uint16_t>(low)) |
           (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16);
}

} // namespace

std::optional<Command> decodeCommand(std::span<const uint8_t> block, std::string& error) {
    if (block.size() < 2) {
        error = "block of " + std::to_string(block.size()) + " bytes";
        return std::nullopt;
    }
    std::vector<int16_t> w = blockWords(block);
    const int code = w[0];
    auto expected = commandBytes(code);
    if (!expected) {
        error = "unknown command " + std::to_string(code);
        return std::nullopt;
    }
    if (static_cast<int>(block.size()) != *expected) {
        error = "command " + std::to_string(code) + " with " + std::to_string(block.size()) +
                " bytes, expected " + std::to_string(*expected);
        return std::nullopt;
    }
    switch (code) {
    case command::MeterRestart:
        return MeterRestart{w[1]};
    case command::Harmonic:
        return HarmonicSet{w[1], pair32(w[2], w[3]), w[4], w[5]};
    case command::MultiFrequency:
    case command::O131:
    case command::O42:
        return CompositeSet{code, w[1], w[2]};
    case command::Thresholds:
        return ThresholdSet{w[1], pair32(w[2], w[3]), w[4], w[5], w[6]};
    case command::NoSignal:
        return NoSignal{};
    case command::DeadTimes:
        return DeadTimeSet{w[1], w[2], w[3], w[4]};
    case command::Echo:
        return EchoSet{pair32(w[1], w[2]),
                       w[3],
                       pair32(w[4], w[5]),
                       pair32(w[6], w[7]),
                       pair32(w[8], w[9]),
                       w[10],
                       pair32(w[11], w[12]),
                       pair32(w[13], w[14]),
                       w[15],
                       w[16]};
    case command::Announce:
        return Announcement{};
    case command::MeterRange:
        return MeterRange{w[1], w[2]};
    case command::Calibration:
        return CalibrationRequest{};
    case command::LineMode:
        return LineMode{w[1] & ~32, (w[1] & 32) != 0};
    default:
        error = "unknown command " + std::to_string(code);
        return std::nullopt;
    }
}

} // namespace vetlina::sim::zmk5
