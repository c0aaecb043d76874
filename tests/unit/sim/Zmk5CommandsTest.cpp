#include "sim/analyzer/Zmk5Commands.h"

#include "sim/analyzer/Zmk5Link.h"

#include <gtest/gtest.h>

namespace vetlina::sim::zmk5 {
namespace {

std::optional<Command> decode(const std::vector<int16_t>& words, std::string& error) {
    const std::vector<uint8_t> bytes = wordBytes(words);
    return decodeCommand(bytes, error);
}

TEST(Zmk5Commands, LengthsOfTheCommandTable) {
    const std::pair<int, int> table[] = {{0, 4},  {1, 12}, {2, 6},  {3, 6},  {4, 6},
                                         {5, 14}, {6, 2},  {8, 10}, {9, 34}, {10, 2},
                                         {11, 6}, {13, 2}, {15, 4}};
    for (auto [code, bytes] : table)
        EXPECT_EQ(commandBytes(code), bytes) << code;
    for (int code : {7, 12, 14, 16, -1})
        EXPECT_FALSE(commandBytes(code)) << code;
}

TEST(Zmk5Commands, WrongLengthAndUnknownCodeAreRefusedWithAReason) {
    std::string error;
    EXPECT_FALSE(decode({1, 2920, 0, 0x1200, 128}, error));
    EXPECT_EQ(error, "command 1 with 10 bytes, expected 12");
    EXPECT_FALSE(decode({7}, error));
    EXPECT_EQ(error, "unknown command 7");
    EXPECT_FALSE(decodeCommand(std::vector<uint8_t>{1}, error));
}

TEST(Zmk5Commands, HarmonicWordsGiveLevelAndFrequency) {
    // -10 dBm at 1800 Hz: attenuator 8 (-11 dB correction), amplitude
    // int(10^(-21/20) x 32767 + 0.5) = 2920; 9 cycles in 128 samples at 25 600/s give
    // exactly 1800 Hz, phase increment 1800/25600 x 2^32 = 0x12000000.
    std::string error;
    auto c = decode({1, 2920, 0x0000, 0x1200, 128, 8}, error);
    ASSERT_TRUE(c) << error;
    const auto& h = std::get<HarmonicSet>(*c);
    EXPECT_EQ(h.amplitudeCode, 2920);
    EXPECT_EQ(h.increment, 0x12000000u);
    EXPECT_EQ(h.period, 128);
    EXPECT_DOUBLE_EQ(phaseIncrementHz(h.increment), 1800.0);
    // 20 log10(2920/32767) + 11 = -10.00108 dBm.
    EXPECT_NEAR(amplitudeLevelDbm(h.amplitudeCode, *generatorFullScaleDbm(8)), -10.00108, 1e-5);
    // -45 dBm: attenuator 16 (+0.84 dB), amplitude int(10^(-44.16/20) x 32767 + 0.5) = 203,
    // realised 20 log10(203/32767) - 0.84 = -44.99881 dBm.
    EXPECT_NEAR(amplitudeLevelDbm(203, *generatorFullScaleDbm(16)), -44.99881, 1e-5);
    EXPECT_FALSE(generatorFullScaleDbm(12));
}

TEST(Zmk5Commands, EchoWordsAreReadLowWordFirst) {
    std::string error;
    // 2 s probe (51 200 = 0xC800 samples), amplitude 2920, 1600 Hz (0x10000000), phase 90
    // degrees (0x40000000); then 2 s of pause.
    auto c = decode(
        {9, -14336, 0, 2920, 0, 0x1000, 0, 0x4000, -14336, 0, 0, 0, 0x1000, 0, 0, 2048, 8}, error);
    ASSERT_TRUE(c) << error;
    const auto& e = std::get<EchoSet>(*c);
    EXPECT_EQ(e.firstSamples, 51200u);
    EXPECT_EQ(e.firstAmplitude, 2920);
    EXPECT_DOUBLE_EQ(phaseIncrementHz(e.firstIncrement), 1600.0);
    EXPECT_EQ(e.firstPhase, 0x40000000u);
    EXPECT_EQ(e.secondSamples, 51200u);
    EXPECT_EQ(e.secondAmplitude, 0);
    EXPECT_EQ(e.envelopeHalf, 2048);
    EXPECT_EQ(e.attenuator, 8);
}

TEST(Zmk5Commands, ThresholdsLineModeAndRange) {
    std::string error;
    auto t = decode({5, 24270, 0x1234, 0x0040, 3042, -4520, 1717}, error);
    ASSERT_TRUE(t) << error;
    const auto& th = std::get<ThresholdSet>(*t);
    EXPECT_EQ(th.interruption, 0x00401234u);
    EXPECT_EQ(th.levelRise, -4520);

    auto m = decode({15, 265 + 32}, error);
    ASSERT_TRUE(m);
    EXPECT_EQ(std::get<LineMode>(*m).mode, 265);
    EXPECT_TRUE(std::get<LineMode>(*m).gain);
    auto r = decode({11, 58, 13}, error);
    ASSERT_TRUE(r);
    EXPECT_EQ(std::get<MeterRange>(*r).attenuator, 13);
}

} // namespace
} // namespace vetlina::sim::zmk5
