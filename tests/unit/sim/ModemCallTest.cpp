// Calls through the exchange, driven over the modem ports as the program drives them.
#include "SimTestSupport.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

namespace vetlina::sim::test {
namespace {

constexpr uint32_t kCallMs = 40000; // dialling, two rings, handshake

std::string allBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes;
}

// A dials B and both report the connection.
void connectAToB(SimHarness& sim) {
    sim.port("B");
    ASSERT_NE(sim.command("A", "ATD1002", "20\r", kCallMs).find("20\r"), std::string::npos);
    ASSERT_NE(sim.waitFor("B", "20\r", 2000).find("20\r"), std::string::npos);
}

TEST(ModemCall, DialRingAutoAnswerAndConnectOnBothSides) {
    SimHarness sim(network().dump());
    sim.port("B");
    std::string a = sim.command("A", "ATD1002", "20\r", kCallMs);
    EXPECT_EQ(a, "ATD1002\r\n20\r");
    // B rang twice (S0=2 in its profile) and then connected.
    std::string b = sim.waitFor("B", "20\r", 2000);
    EXPECT_EQ(b, "2\r2\r20\r");
    EXPECT_EQ(sim.eventsNamed("ring", "B").size(), 2u);
    EXPECT_TRUE(sim.port("A").carrier());
    EXPECT_TRUE(sim.port("B").carrier());
    EXPECT_TRUE(sim.exchange().answered(sim.exchange().stationIndex("A")));
}

TEST(ModemCall, RingLineAndManualAnswer) {
    SimHarness sim(network().dump());
    sim.command("B", "ATS0=0");
    sim.port("A").write("ATD1002\r\n");
    std::string b = sim.waitFor("B", "2\r", kCallMs);
    EXPECT_EQ(b, "2\r");
    EXPECT_TRUE(sim.until([&] { return sim.port("B").ring(); }, 100));
    EXPECT_TRUE(sim.until([&] { return !sim.port("B").ring(); }, 3000));
    sim.waitFor("B", "2\r", 7000); // no automatic answer with S0=0
    EXPECT_NE(sim.command("B", "ATA", "20\r", 10000).find("20\r"), std::string::npos);
    EXPECT_NE(sim.waitFor("A", "20\r", 1000).find("20\r"), std::string::npos);
}

TEST(ModemCall, DataBothWaysWithEveryByteValue) {
    SimHarness sim(network().dump());
    connectAToB(sim);
    std::string bytes = allBytes();
    sim.port("A").write(bytes);
    sim.port("B").write(bytes + bytes);
    EXPECT_TRUE(sim.until([&] { return sim.port("B").data().size() >= 256; }, 5000));
    EXPECT_TRUE(sim.until([&] { return sim.port("A").data().size() >= 512; }, 5000));
    EXPECT_EQ(sim.port("B").take(), bytes);
    EXPECT_EQ(sim.port("A").take(), bytes + bytes);
}

TEST(ModemCall, FarSideHangsUpGivesNoCarrierAndTheReason) {
    SimHarness sim(network().dump());
    connectAToB(sim);
    sim.port("B").setDtr(false); // &D2: B hangs up
    EXPECT_EQ(sim.waitFor("A", "3\r", 5000), "3\r");
    EXPECT_EQ(sim.command("A", "ATS86?"), "ATS86?\r\n012\r\n0\r");
    EXPECT_TRUE(sim.until([&] { return !sim.exchange().inCall(0); }, 1000));
}

TEST(ModemCall, BusyStationAndBusyFault) {
    auto config = network();
    config["faults"] = {{{"fault", "busy"}, {"station", "C"}, {"times", 1}}};
    SimHarness sim(config.dump());
    connectAToB(sim);
    // B is in a call: C hears busy.
    EXPECT_EQ(sim.command("C", "ATD1002", "\r", kCallMs), "ATD1002\r\n7\r");
    // The fault makes C busy once; the second call rings through.
    sim.port("A").setDtr(false);
    sim.waitFor("A", "3\r", 5000);
    sim.port("A").setDtr(true);
    EXPECT_EQ(sim.command("A", "ATD1003", "\r", kCallMs), "ATD1003\r\n7\r");
    EXPECT_EQ(sim.eventsNamed("fault", "C").size(), 1u);
    EXPECT_NE(sim.command("A", "ATD1003", "20\r", kCallMs).find("20\r"), std::string::npos);
}

TEST(ModemCall, WithoutBusyDetectionABusyLineEndsInNoCarrier) {
    SimHarness sim(network().dump());
    connectAToB(sim);
    sim.command("C", "ATX1S7=10");
    EXPECT_EQ(sim.command("C", "ATD1002", "\r", kCallMs), "ATD1002\r\n3\r");
}

TEST(ModemCall, UnknownNumberIsBusy) {
    SimHarness sim(network().dump());
    EXPECT_EQ(sim.command("A", "ATD5555", "\r", kCallMs), "ATD5555\r\n7\r");
    EXPECT_EQ(sim.eventsNamed("route-failed", "A").size(), 1u);
}

TEST(ModemCall, NoAnswerFromAStationThatDoesNotRing) {
    auto config = network();
    config["faults"] = {{{"fault", "noAnswer"}, {"station", "B"}}};
    SimHarness sim(config.dump());
    sim.port("B");
    sim.command("A", "ATS7=20");
    uint32_t start = tickMs();
    EXPECT_EQ(sim.command("A", "ATD1002", "\r", kCallMs), "ATD1002\r\n8\r");
    EXPECT_GE(tickMs() - start, 20000u); // S7
    EXPECT_EQ(sim.port("B").data(), ""); // B never rang
}

TEST(ModemCall, NoAnswerFromAComplexWhoseProgramIsNotRunning) {
    SimHarness sim(network().dump());
    // Nobody has B's port open: its DTR is off, so its modem does not answer.
    sim.command("A", "ATS7=15");
    EXPECT_EQ(sim.command("A", "ATD1002", "\r", kCallMs), "ATD1002\r\n8\r");
    EXPECT_GE(sim.eventsNamed("ring", "B").size(), 2u);
}

TEST(ModemCall, NoDialTone) {
    auto config = network();
    config["faults"] = {{{"fault", "noDialTone"}, {"station", "A"}}};
    SimHarness sim(config.dump());
    EXPECT_EQ(sim.command("A", "ATD1002", "\r", kCallMs), "ATD1002\r\n6\r");
    // Blind dialling (X3) dials into the dead line and waits for a carrier.
    sim.command("A", "ATX3S7=5");
    EXPECT_EQ(sim.command("A", "ATD1002", "\r", kCallMs), "ATD1002\r\n3\r");
    EXPECT_FALSE(sim.exchange().inCall(0));
}

TEST(ModemCall, NoSecondDialToneAfterW) {
    auto config = network();
    config["stations"][1]["aliases"] = {"81002"};
    config["faults"] = {{{"fault", "noDialTone"}, {"station", "A"}, {"secondDialToneOnly", true}}};
    SimHarness sim(config.dump());
    sim.command("A", "ATS7=5");
    EXPECT_EQ(sim.command("A", "ATD8w1002", "\r", kCallMs), "ATD8w1002\r\n6\r");
    sim.port("B");
    sim.command("A", "ATS7=60");
    std::string reply = sim.command("A", "ATD81002", "20\r", kCallMs);
    EXPECT_NE(reply.find("20\r"), std::string::npos) << reply;
}

TEST(ModemCall, NoCarrierFault) {
    auto config = network();
    config["faults"] = {{{"fault", "noCarrier"}, {"station", "B"}}};
    SimHarness sim(config.dump());
    sim.port("B");
    EXPECT_EQ(sim.command("A", "ATD1002", "\r", 120000), "ATD1002\r\n3\r");
    EXPECT_EQ(sim.waitFor("B", "3\r", 60000), "2\r2\r3\r");
    EXPECT_EQ(sim.command("A", "ATS86?"), "ATS86?\r\n009\r\n0\r");
    EXPECT_EQ(sim.eventsNamed("fault", "B").size(), 1u);
}

TEST(ModemCall, LineBrokenAfterConnectAndAfterBytes) {
    auto config = network();
    config["faults"] = {
        {{"fault", "lineBreak"}, {"station", "B"}, {"afterConnectMs", 5000}, {"times", 1}},
        {{"fault", "lineBreak"}, {"station", "B"}, {"afterBytes", 100}}};
    SimHarness sim(config.dump());
    connectAToB(sim);
    uint32_t connected = tickMs();
    EXPECT_EQ(sim.waitFor("A", "3\r", 10000), "3\r");
    EXPECT_GE(tickMs() - connected, 5000u);
    EXPECT_EQ(sim.waitFor("B", "3\r", 5000), "3\r");
    EXPECT_EQ(sim.command("A", "ATS86?"), "ATS86?\r\n004\r\n0\r");

    connectAToB(sim);
    sim.port("A").write(std::string(150, 'x'));
    EXPECT_EQ(sim.waitFor("A", "3\r", 10000), "3\r");
    EXPECT_EQ(sim.port("B").take().substr(0, 100), std::string(100, 'x'));
}

TEST(ModemCall, LineBrokenAtAMoment) {
    auto config = network();
    config["faults"] = {{{"fault", "lineBreak"}, {"station", "A"}, {"at", 20}}};
    SimHarness sim(config.dump());
    connectAToB(sim);
    EXPECT_EQ(sim.waitFor("A", "3\r", 30000), "3\r");
    auto faults = sim.eventsNamed("fault", "A");
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(faults[0]["fault"], "lineBreak");
}

TEST(ModemCall, EscapeOnlineAgainAndHangUp) {
    SimHarness sim(network().dump());
    connectAToB(sim);
    PortClient& a = sim.port("A");
    sim.run(1500);
    a.write("+++");
    EXPECT_EQ(sim.waitFor("A", "0\r", 3000), "0\r");
    sim.port("B").take(); // the "+++" went to the far side too
    EXPECT_EQ(sim.command("A", "ATO", "20\r"), "ATO\r\n20\r");
    a.write("data");
    EXPECT_EQ(sim.waitFor("B", "data", 2000), "data");
    // "+++" inside the data (no guard time) is data.
    a.write("x+++y");
    EXPECT_EQ(sim.waitFor("B", "y", 3000), "x+++y");
    sim.run(1500);
    EXPECT_EQ(sim.modem("A").phase(), HayesModem::Phase::Online);
    sim.run(1500);
    a.write("+++");
    sim.waitFor("A", "0\r", 3000);
    EXPECT_EQ(sim.command("A", "ATH"), "ATH\r\n0\r");
    EXPECT_EQ(sim.waitFor("B", "3\r", 5000).find("3\r") != std::string::npos, true);
}

TEST(ModemCall, ALateLineFeedDoesNotEndTheDialling) {
    SimHarness sim(network().dump());
    sim.port("B");
    PortClient& a = sim.port("A");
    a.write("ATD1002\r");
    sim.run(3000);
    a.write("\n");
    EXPECT_NE(sim.waitFor("A", "20\r", 40000).find("20\r"), std::string::npos);
}

TEST(ModemCall, AKeyDuringDiallingEndsTheAttempt) {
    SimHarness sim(network().dump());
    PortClient& a = sim.port("A");
    a.write("ATD1002\r\n");
    sim.run(300);
    a.write("x");
    EXPECT_NE(sim.waitFor("A", "3\r", 2000).find("3\r"), std::string::npos);
    EXPECT_EQ(sim.modem("A").phase(), HayesModem::Phase::Idle);
}

TEST(ModemCall, ThrottledThroughputConnectionAtTwentyFourHundred) {
    SimHarness sim(network().dump());
    connectAToB(sim);
    // What the program does before its throughput test: both analyzers hold the line,
    // the modems hang up and connect again with the test set-up.
    auto a = sim.exchange().stationIndex("A");
    auto b = sim.exchange().stationIndex("B");
    sim.exchange().analyzerLine(a).hold(true);
    sim.exchange().analyzerLine(b).hold(true);
    sim.port("A").setDtr(false);
    sim.port("B").setDtr(false);
    sim.waitFor("A", "3\r", 3000);
    sim.port("A").setDtr(true);
    sim.port("B").setDtr(true);
    sim.command("A", "ATZ");
    sim.command("B", "ATZ");
    sim.port("A").write("AT%E2&L1S37=6%M0D\r\n");
    sim.port("B").write("AT%E2&L1S37=6%M0A\r\n");
    EXPECT_NE(sim.waitFor("A", "20\r", 60000).find("20\r"), std::string::npos);
    EXPECT_NE(sim.waitFor("B", "20\r", 5000).find("20\r"), std::string::npos);
    auto connects = sim.eventsNamed("connect");
    EXPECT_EQ(connects.back()["rate"], 2400);

    // B sends its test pattern faster than the line takes it; A counts.
    std::string pattern(32, char(85));
    uint32_t start = tickMs();
    std::size_t received = 0;
    sim.until(
        [&] {
            if (sim.port("B").cts())
                sim.port("B").write(pattern);
            received += sim.port("A").take().size();
            return false;
        },
        30000);
    double seconds = (tickMs() - start) / 1000.0;
    double bytesPerSecond = received / seconds;
    ::testing::Test::RecordProperty("bytesPerSecond", std::to_string(bytesPerSecond));
    // 2400 bit/s at 8.375 line bits per byte: 286.6 bytes/s.
    EXPECT_NEAR(bytesPerSecond, 286.6, 286.6 * 0.08) << received << " bytes in " << seconds;
    EXPECT_TRUE(sim.exchange().inCall(a));
}

// The modem's power switch and a broken DSR wire, as scheduled faults: switched off
// it drops its call (the far modem loses its carrier), its lines go dark and it hears
// nothing; switched on again it is in its power-on state. A lost DSR leaves the
// connection and the carrier standing.
TEST(ModemFaults, SwitchedOffAndBackAndDsrLost) {
    auto config = network();
    config["faults"] = {{{"fault", "modemOff"}, {"station", "A"}, {"from", 20}, {"until", 40}},
                        {{"fault", "dsrLost"}, {"station", "C"}}};
    SimHarness sim(config.dump());
    sim.command("A", "ATS0=5"); // a setting that the power-on state forgets
    connectAToB(sim);
    EXPECT_EQ(sim.waitFor("B", "3\r", 30000), "3\r");
    PortClient& a = sim.port("A");
    EXPECT_TRUE(sim.until([&] { return !a.dsr() && !a.cts() && !a.carrier(); }, 1000));
    sim.run(2000);
    EXPECT_EQ(a.take(), ""); // without power it reports nothing, not even NO CARRIER
    ASSERT_TRUE(sim.until([&] { return a.cts(); }, 30000));
    EXPECT_EQ(sim.command("A", "ATS0?"), "ATS0?\r\n002\r\n0\r");
    auto power = sim.eventsNamed("modem-power", "A");
    ASSERT_EQ(power.size(), 2u);
    EXPECT_EQ(power[0]["on"], false);
    EXPECT_EQ(power[1]["on"], true);

    sim.command("C", "ATD1002", "20\r", 30000);
    EXPECT_TRUE(sim.until([&] { return sim.port("C").carrier(); }, 1000));
    EXPECT_FALSE(sim.port("C").dsr());
    EXPECT_EQ(sim.eventsNamed("fault", "C").at(0)["fault"], "dsrLost");
}

} // namespace
} // namespace vetlina::sim::test
