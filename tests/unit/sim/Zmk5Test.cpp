#include "Zmk5TestSupport.h"
#include "sim/signals/Signals.h"

#include <gtest/gtest.h>

namespace vetlina::sim {
namespace {

using test::Bench;
using nlohmann::literals::operator""_json;

const std::string kIdentificationLine = "ZMK-5 Kerat, channel analyzer\r\n";

TEST(Zmk5StartUp, SwitchedOnItRaisesDsrAndCts) {
    Bench bench;
    EXPECT_TRUE(bench.port.lines.dsr);
    EXPECT_TRUE(bench.port.lines.cts);
    EXPECT_EQ(bench.zmk->baudRate(), 9600u);
}

TEST(Zmk5StartUp, HandshakeAtEachSpeedEndsWithTheIdentification) {
    for (auto [digit, baud] : {std::pair{'7', 115200u}, {'6', 57600u}, {'5', 38400u}}) {
        Bench bench;
        bench.computer(std::string("$S") + digit);
        bench.advance(10);
        EXPECT_EQ(bench.take().text, std::string("$S") + digit);
        EXPECT_EQ(bench.zmk->baudRate(), baud);
        EXPECT_FALSE(bench.zmk->ready());

        bench.setBaud(baud);
        bench.computer(std::string("\r"));
        bench.advance(10);
        auto received = bench.take();
        EXPECT_EQ(received.text, "\r" + kIdentificationLine);
        EXPECT_EQ(kIdentificationLine.size(), 31u);
        EXPECT_TRUE(bench.zmk->ready());
    }
}

TEST(Zmk5StartUp, RefusedSpeedDigitKeepsTheOpeningSpeed) {
    Bench bench;
    bench.computer("$S4");
    bench.advance(10);
    EXPECT_EQ(bench.take().text, "$N4");
    EXPECT_EQ(bench.zmk->baudRate(), 9600u);
    EXPECT_EQ(bench.eventsOf("analyzer-speed").back()["refused"], true);
    // A good command afterwards still works.
    bench.computer("$S7");
    bench.advance(10);
    EXPECT_EQ(bench.take().text, "$S7");
    EXPECT_EQ(bench.zmk->baudRate(), 115200u);
}

TEST(Zmk5StartUp, BytesAtAnotherSpeedAreNotUnderstood) {
    Bench bench;
    bench.setBaud(115200); // the computer already at the working speed
    bench.computer("$S7");
    bench.advance(10);
    EXPECT_TRUE(bench.take().text.empty());
    EXPECT_EQ(bench.zmk->baudRate(), 9600u);
    EXPECT_EQ(bench.eventsOf("protocol-error").size(), 1u);

    // After the switch the analyzer no longer understands 9600 baud.
    bench.setBaud(9600);
    bench.computer("$S7");
    bench.advance(10);
    bench.take();
    bench.computer(std::string("\r")); // still at 9600: noise to the analyzer
    bench.advance(10);
    EXPECT_TRUE(bench.take().text.empty());
    EXPECT_FALSE(bench.zmk->ready());
}

TEST(Zmk5StartUp, CalibrationBlockCarriesSerialAndFirmware) {
    Bench bench(nlohmann::json::object(), 4711, 23);
    bench.startUp();
    bench.take();
    bench.command({13});
    auto received = bench.take();
    EXPECT_EQ(received.acks, 2); // announcement and request
    ASSERT_EQ(received.blocks.size(), 1u);
    const auto& w = received.blocks[0];
    ASSERT_EQ(w.size(), 26u);
    EXPECT_EQ(received.blockBytes[0], 52u);
    EXPECT_EQ(w[0], -11);
    EXPECT_EQ(w[1 + 9], 4711); // table word 9
    EXPECT_EQ(w[1 + 10], 23);  // table word 10
    int sum = 0;
    for (int i = 1; i <= 25; ++i)
        sum += w[i];
    EXPECT_EQ(static_cast<int16_t>(sum), 0);
}

TEST(Zmk5StartUp, ConfiguredCalibrationTableIsSentAsItIsAndControlBytesSurvive) {
    nlohmann::json table = nlohmann::json::array();
    for (int i = 0; i < 25; ++i)
        table.push_back(i == 3 ? 0x0602 : i == 4 ? 0x0D0A : i == 5 ? 0x1B10 : -i);
    Bench bench(nlohmann::json::object({{"calibration", table}}));
    bench.startUp();
    bench.take();
    bench.command({13});
    auto received = bench.take();
    ASSERT_EQ(received.blocks.size(), 1u);
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(received.blocks[0][1 + i], table[i].get<int>()) << i;
    EXPECT_EQ(received.acks, 2); // the 0x06 inside the block was escaped, not taken as ACK
}

TEST(Zmk5Commands, EveryBlockIsAcknowledgedAndWrongOnesAreLogged) {
    Bench bench;
    bench.startUp();
    bench.take();
    bench.command({15, 11});                      // good
    bench.command({1, 2920, 0});                  // wrong length
    bench.command({7});                           // unknown code
    bench.computer(test::computerBlock({15, 0})); // without announcement
    bench.advance(5);
    EXPECT_EQ(bench.take().acks, 7);
    auto errors = bench.eventsOf("protocol-error");
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0]["error"], "command 1 with 6 bytes, expected 12");
    EXPECT_EQ(errors[1]["error"], "unknown command 7");
    EXPECT_EQ(errors[2]["error"], "command 15 without announcement");
    EXPECT_EQ(bench.zmk->lineMode(), 0); // executed all the same
}

TEST(Zmk5Commands, EscapedCommandBytesAreDecoded) {
    Bench bench;
    bench.startUp();
    bench.command({15, 11});
    // Amplitude 0x0D0A (3338) and a period of 0x0210 (528) hold CR, LF, DLE and STX bytes.
    bench.command({1, 0x0D0A, 0, 0x1200, 0x0210, 8});
    ASSERT_FALSE(bench.line.published.empty());
    const GeneratorSignal s = bench.line.published.back();
    EXPECT_EQ(s.kind, signal_kind::Sine);
    EXPECT_NEAR(s.levelDbm, 20.0 * std::log10(3338.0 / 32767.0) + 11.0, 1e-9);
    EXPECT_TRUE(bench.eventsOf("protocol-error").empty());
}

TEST(Zmk5Generator, HarmonicAndCompositeSettingsArePublishedWhileTheLineIsHeld) {
    Bench bench;
    bench.startUp();
    // Not held: the generator runs but nothing reaches the line.
    bench.command({1, 2920, 0x0000, 0x1200, 128, 8});
    EXPECT_EQ(bench.line.published.back(), GeneratorSignal{});
    bench.command({15, 11});
    EXPECT_TRUE(bench.line.held);
    GeneratorSignal s = bench.line.published.back();
    EXPECT_EQ(s.kind, signal_kind::Sine);
    EXPECT_DOUBLE_EQ(s.frequencyHz, 1800.0);
    EXPECT_NEAR(s.levelDbm, -10.00108, 1e-5);

    // O.132 at 1020 Hz: increment int(1020/25600 x 2^32 + 0.5) = 171127603 = 0x0A333333.
    bench.command({1, 2920, 0x3333, 0x0A33, 1280, 8});
    EXPECT_NEAR(bench.line.published.back().frequencyHz, 1019.9999988, 1e-6);

    // Multi-frequency at -10 dBm: amplitude int(10^((-10 - 11 + 4.54)/20) x 32767 + 0.5) = 4925.
    bench.command({2, 4925, 8});
    s = bench.line.published.back();
    EXPECT_EQ(s.kind, signal_kind::MultiFrequency);
    EXPECT_NEAR(s.levelDbm, 20.0 * std::log10(4925.0 / 32767.0) + 11.0 - 4.54, 1e-9);
    EXPECT_NEAR(s.levelDbm, -10.0, 0.002);
    // O.131 (+7.3 dB) and O.42 (+5.77 dB).
    bench.command({3, 6000, 8});
    EXPECT_EQ(bench.line.published.back().kind, signal_kind::O131);
    EXPECT_NEAR(bench.line.published.back().levelDbm,
                20.0 * std::log10(6000.0 / 32767.0) + 11.0 - 7.3, 1e-9);
    bench.command({4, 6000, 8});
    EXPECT_EQ(bench.line.published.back().kind, signal_kind::O42);
    EXPECT_NEAR(bench.line.published.back().levelDbm,
                20.0 * std::log10(6000.0 / 32767.0) + 11.0 - 5.77, 1e-9);

    // -200 dBm (amplitude 0) switches it off.
    bench.command({1, 0, 0x3333, 0x0A33, 1280, 16});
    EXPECT_EQ(bench.line.published.back(), GeneratorSignal{});
    // An attenuator the generator does not have is refused and changes nothing.
    bench.command({2, 4925, 9});
    EXPECT_EQ(bench.line.published.back(), GeneratorSignal{});
    EXPECT_EQ(bench.eventsOf("protocol-error").back()["error"], "generator attenuator code 9");
}

TEST(Zmk5LineInterface, MeasuringModesHoldTheLineAndZeroLetsItGo) {
    Bench bench;
    bench.startUp();
    for (int mode : {11, 27, 265, 282, 283}) {
        bench.command({15, static_cast<int16_t>(mode)});
        EXPECT_TRUE(bench.line.held) << mode;
        bench.command({15, static_cast<int16_t>(mode + 32)}); // with the input gain
        EXPECT_TRUE(bench.line.held) << mode;
        EXPECT_TRUE(bench.zmk->meter().gain());
    }
    for (int mode : {0, 3, 19, 131, 147, 257, 274, 275}) {
        bench.command({15, 11});
        bench.command({15, static_cast<int16_t>(mode)});
        EXPECT_FALSE(bench.line.held) << mode;
    }
    // An unknown mode is refused and leaves the mode as it was.
    bench.command({15, 11});
    bench.command({15, 12});
    EXPECT_TRUE(bench.line.held);
    EXPECT_EQ(bench.zmk->lineMode(), 11);
    // The line hears of a change only: one take in the first loop, then a release and a
    // take for each local mode but the first take, and the last take.
    EXPECT_EQ(bench.line.holds.size(), 1u + (2u * 8 - 1) + 1u);
}

TEST(Zmk5LineInterface, ShutdownSequenceLetsTheLineGoAndResets) {
    Bench bench;
    bench.startUp();
    bench.command({15, 11});
    bench.command({1, 2920, 0x0000, 0x1200, 128, 8});
    bench.command({0, 576});
    EXPECT_TRUE(bench.zmk->meter().running());
    const std::vector<uint8_t> h000 = {27, 'H', '0', '0', '0'};
    bench.computer(h000);
    bench.advance(5);
    EXPECT_FALSE(bench.line.held);
    EXPECT_EQ(bench.line.published.back(), GeneratorSignal{});
    const std::vector<uint8_t> z = {27, 'Z'};
    bench.computer(z);
    bench.advance(5);
    EXPECT_FALSE(bench.zmk->ready());
    EXPECT_FALSE(bench.zmk->meter().running());
    EXPECT_EQ(bench.zmk->baudRate(), 9600u);
    EXPECT_EQ(bench.eventsOf("analyzer-reset").back()["cause"], "ESC Z");
    bench.take();
    bench.startUp();
    EXPECT_TRUE(bench.zmk->ready());
}

TEST(Zmk5LineInterface, ClosingThePortResetsUnlessConfiguredOtherwise) {
    {
        Bench bench;
        bench.startUp();
        bench.zmk->computerConnected(false);
        EXPECT_FALSE(bench.zmk->ready());
        EXPECT_EQ(bench.zmk->baudRate(), 9600u);
    }
    {
        Bench bench(R"({"resetOnClose": false})"_json);
        bench.startUp();
        bench.zmk->computerConnected(false);
        EXPECT_TRUE(bench.zmk->ready());
        EXPECT_EQ(bench.zmk->baudRate(), 115200u);
    }
}

// ---- faults ----------------------------------------------------------------------------

TEST(Zmk5Faults, SwitchedOffDropsTheLinesAndComesBackInPowerOnState) {
    Bench bench(R"({"faults": {"switchedOff": {"fromS": 1.0, "untilS": 2.0}}})"_json);
    bench.startUp();
    bench.command({15, 11});
    EXPECT_TRUE(bench.line.held);
    bench.advance(1000);
    EXPECT_FALSE(bench.port.lines.dsr);
    EXPECT_FALSE(bench.port.lines.cts);
    EXPECT_FALSE(bench.line.held);
    EXPECT_EQ(bench.eventsOf("fault").size(), 1u);
    EXPECT_EQ(bench.eventsOf("fault")[0]["fault"], "switchedOff");
    bench.take();
    bench.command({13}); // a dead analyzer answers nothing
    EXPECT_EQ(bench.take().acks, 0);
    bench.advance(1000);
    EXPECT_TRUE(bench.port.lines.dsr);
    EXPECT_TRUE(bench.port.lines.cts);
    EXPECT_EQ(bench.zmk->baudRate(), 9600u);
    EXPECT_FALSE(bench.zmk->ready());
}

TEST(Zmk5Faults, AcknowledgementLostOnceForTheChosenCommand) {
    Bench bench(R"({"faults": {"ackLost": {"command": 13, "times": 1}}})"_json);
    bench.startUp();
    bench.take();
    bench.command({13});
    auto first = bench.take();
    EXPECT_EQ(first.acks, 1);           // the announcement only
    EXPECT_EQ(first.blocks.size(), 1u); // the request itself was still carried out
    bench.command({13});
    EXPECT_EQ(bench.take().acks, 2);
    ASSERT_EQ(bench.eventsOf("fault").size(), 1u);
    EXPECT_EQ(bench.eventsOf("fault")[0]["command"], 13);
}

TEST(Zmk5Faults, CorruptedBlockHasTheWrongLengthOrAWrongByte) {
    Bench truncate(R"({"faults": {"blockCorrupt": {"type": -11, "times": 1}}})"_json);
    truncate.startUp();
    truncate.take();
    truncate.command({13});
    truncate.command({13});
    auto r = truncate.take();
    ASSERT_EQ(r.blocks.size(), 2u);
    EXPECT_EQ(r.blockBytes[0], 51u);
    EXPECT_EQ(r.blockBytes[1], 52u);

    Bench flip(R"({"faults": {"blockCorrupt": {"how": "flip"}}})"_json, 0, 0);
    flip.startUp();
    flip.take();
    flip.command({13});
    auto f = flip.take();
    ASSERT_EQ(f.blocks.size(), 1u);
    EXPECT_EQ(f.blockBytes[0], 52u);
    EXPECT_EQ(f.blocks[0][3], static_cast<int16_t>(0x00FF)); // byte 6 inverted
}

TEST(Zmk5Faults, NoReplyAndWrongDigitToTheSpeedCommand) {
    Bench silent(R"({"faults": {"noHandshakeReply": {"times": 1}}})"_json);
    silent.computer("$S7");
    silent.advance(400);
    EXPECT_EQ(silent.take().text, "");
    EXPECT_EQ(silent.zmk->baudRate(), 9600u);
    silent.computer("$S7"); // the second attempt is answered
    silent.advance(10);
    EXPECT_EQ(silent.take().text, "$S7");

    Bench wrong(R"({"faults": {"wrongSpeedDigit": {}}})"_json);
    wrong.computer("$S7");
    wrong.advance(10);
    EXPECT_EQ(wrong.take().text, "$S5");
    EXPECT_EQ(wrong.zmk->baudRate(), 38400u);
    EXPECT_EQ(wrong.eventsOf("fault")[0]["answer"], "5");
}

TEST(Zmk5Faults, WrongIdentificationAndNoCalibration) {
    Bench bench(
        R"({"faults": {"wrongIdentification": {"text": "ZMK-5 Kerat, channel analyser"}, "noCalibration": {}}})"_json);
    bench.startUp();
    EXPECT_EQ(bench.take().text, "$S7\rZMK-5 Kerat, channel analyser\r\n");
    bench.command({13});
    auto r = bench.take();
    EXPECT_EQ(r.acks, 2);
    EXPECT_TRUE(r.blocks.empty());
    EXPECT_EQ(bench.eventsOf("fault").size(), 2u);
}

TEST(Zmk5Faults, FaultsActOnlyInsideTheirTimeWindow) {
    Bench bench(R"({"faults": {"noCalibration": {"fromS": 1.0, "untilS": 2.0}}})"_json);
    bench.startUp();
    bench.take();
    bench.command({13});
    EXPECT_EQ(bench.take().blocks.size(), 1u);
    bench.advance(1000);
    bench.command({13});
    EXPECT_EQ(bench.take().blocks.size(), 0u);
    bench.advance(1000);
    bench.command({13});
    EXPECT_EQ(bench.take().blocks.size(), 1u);
}

TEST(Zmk5Options, BadOptionsAreRefusedAndTheIdentificationKept) {
    std::string error;
    EXPECT_FALSE(parseZmk5Options(R"({"faults": {"meltdown": {}}})"_json, 1, 1, error));
    EXPECT_EQ(error, "faults.meltdown: no such fault of the analyzer");
    EXPECT_FALSE(parseZmk5Options(R"({"faults": {"ackLost": {"digit": "5"}}})"_json, 1, 1, error));
    EXPECT_EQ(error, "faults.ackLost.digit: not a member of this fault");
    EXPECT_FALSE(parseZmk5Options(R"({"faults": {"ackLost": [{}, 3]}})"_json, 1, 1, error));
    EXPECT_EQ(error, "faults.ackLost[1]: an object is expected");
    // Several faults of one kind, each with its own window.
    auto two = parseZmk5Options(
        R"({"faults": {"noCalibration": [{"untilS": 1}, {"fromS": 5, "times": 2}]}})"_json, 1, 1,
        error);
    ASSERT_TRUE(two) << error;
    ASSERT_EQ(two->faults.size(), 2u);
    EXPECT_EQ(two->faults[1].times, 2);
    EXPECT_FALSE(parseZmk5Options(R"({"calibration": [1, 2, 3]})"_json, 1, 1, error));

    EXPECT_FALSE(parseZmk5Options(R"({"faults": 5})"_json, 77, 3, error));

    Bench bench(nlohmann::json::object(), 77, 3);
    bench.startUp();
    bench.take();
    bench.command({13});
    EXPECT_EQ(bench.take().blocks.at(0)[10], 77);
}

} // namespace
} // namespace vetlina::sim
