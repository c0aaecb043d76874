// The ZMK-5 in the simulated network: reached over its RFC 2217 port, holding the
// line of a call, and measuring what the far analyzer generates through the channel.
#include "SimTestSupport.h"
#include "Zmk5TestSupport.h"
#include "sim/analyzer/Zmk5.h"

#include <gtest/gtest.h>

namespace vetlina::sim::test {
namespace {

std::string bytes(const std::vector<uint8_t>& b) {
    return std::string(b.begin(), b.end());
}

class Zmk5Network : public ::testing::Test {
protected:
    static nlohmann::json config() {
        auto c = network();
        c["channels"] = {{{"between", {"A", "B"}}, {"model", {{"attenuationDb", 3.0}}}}};
        return c;
    }

    // Five times real speed: the analyzers render 64 000 samples a second, which a
    // sanitizer build keeps up with (at 50 times it falls behind and skips signal,
    // which breaks the frame sets).
    Zmk5Network()
        : sim(config().dump(), 5.0,
              {.analyzerFactory = makeZmk5, .generatorProgramme = GeneratorProgramme{}}) {}

    // The program's start-up of an analyzer port: 9600 baud, speed command, 115 200
    // baud, CR, identification.
    bool startUp(PortClient& port, const std::string& station) {
        if (!port.connect(sim.simulator().analyzerPort(station)))
            return false;
        port.setBaudRate(9600);
        port.setControl(3);
        sim.run(100);
        port.service();
        port.take();
        port.write("$S7");
        if (!sim.until(
                [&] {
                    port.service();
                    return port.data().size() >= 3;
                },
                2000)) {
            ADD_FAILURE() << "no reply: " << port.data();
            return false;
        }
        if (std::string reply = port.take(); reply != "$S7") {
            ADD_FAILURE() << "reply " << reply;
            return false;
        }
        port.setBaudRate(115200);
        sim.run(50);
        port.write("\r");
        const std::string expected = "\rZMK-5 Kerat, channel analyzer\r\n";
        return sim.until(
                   [&] {
                       port.service();
                       return port.data().size() >= expected.size();
                   },
                   3000) &&
               port.take() == expected;
    }

    void command(PortClient& port, const std::vector<int16_t>& words) {
        port.write(bytes(computerBlock({10})));
        port.write(bytes(computerBlock(words)));
        sim.run(50);
    }

    SimHarness sim;
};

TEST_F(Zmk5Network, StartUpAndCalibrationOverTheServedPort) {
    PortClient port;
    ASSERT_TRUE(startUp(port, "A"));
    EXPECT_TRUE(port.dsr());
    EXPECT_TRUE(port.cts());
    command(port, {13});
    Received r;
    ASSERT_TRUE(sim.until(
        [&] {
            port.service();
            r = parseFromAnalyzer(std::vector<uint8_t>(port.data().begin(), port.data().end()));
            return r.blocks.size() == 1;
        },
        2000));
    EXPECT_EQ(r.acks, 2);
    EXPECT_EQ(r.blocks[0][0], -11);
}

TEST_F(Zmk5Network, OneAnalyzerMeasuresTheOthersSineThroughTheChannel) {
    PortClient a, b;
    ASSERT_TRUE(startUp(a, "A"));
    ASSERT_TRUE(startUp(b, "B"));
    // A calls B by modem; both analyzers take the line; the modems hang up.
    sim.port("B");
    ASSERT_NE(sim.command("A", "ATD1002", "20\r", 40000).find("20\r"), std::string::npos);
    ASSERT_NE(sim.waitFor("B", "20\r", 2000).find("20\r"), std::string::npos);
    command(a, {15, 11});
    command(b, {15, 265});
    sim.port("A").setDtr(false);
    sim.port("B").setDtr(false);
    for (int i = 0; i < 30; ++i) {
        sim.run(100);
        a.service();
        b.service();
    }
    ASSERT_TRUE(sim.exchange().analyzerLine(sim.exchange().stationIndex("B")).connected());

    // B generates -10 dBm at 1800 Hz, A measures it.
    command(b, {1, 2920, 0x0000, 0x1200, 128, 8});
    command(a, {11, 58, 0});
    command(a, {0, 576});
    a.service();
    a.take();
    // The sets come within 6 s; a loaded machine is given up to 60 s.
    std::string data;
    Received r;
    std::vector<std::vector<int16_t>> sets;
    for (int i = 1; i <= 600 && (sets.size() < 3 || ofType(r.blocks, -4).empty()); ++i) {
        sim.run(100);
        a.service();
        b.service();
        data += a.take();
        if (i % 10 == 0) {
            r = parseFromAnalyzer(std::vector<uint8_t>(data.begin(), data.end()));
            sets = assembleSets(ofType(r.blocks, -9));
        }
    }
    ASSERT_GE(sets.size(), 3u);
    for (std::size_t i = 1; i < sets.size(); ++i)
        EXPECT_NEAR(transformLevel(sets[i], 0.0), -13.0, 0.05) << i;
    EXPECT_FALSE(ofType(r.blocks, -4).empty());
}

} // namespace
} // namespace vetlina::sim::test
