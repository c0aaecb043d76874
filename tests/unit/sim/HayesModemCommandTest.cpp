// The modem in command mode, driven over its RFC 2217 port as the program drives it.
#include "SimTestSupport.h"
#include "TempFolder.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

namespace vetlina::sim::test {
namespace {

TEST(ModemCommandMode, StoredProfileAnswersNumericallyWithEcho) {
    SimHarness sim(network().dump());
    EXPECT_EQ(sim.command("A", "ATZ"), "ATZ\r\n0\r");
    EXPECT_EQ(sim.command("A", "AT"), "AT\r\n0\r");
}

TEST(ModemCommandMode, FactoryProfileAnswersVerbally) {
    auto config = network();
    config["stations"][0]["modem"].erase("storedProfile");
    SimHarness sim(config.dump());
    EXPECT_EQ(sim.command("A", "ATZ", "OK\r\n"), "ATZ\r\n\r\nOK\r\n");
    EXPECT_EQ(sim.command("A", "ATV0"), "ATV0\r\n0\r");
    EXPECT_EQ(sim.command("A", "ATV1Q1", "\n", 3000), "ATV1Q1\r\n");
    EXPECT_EQ(sim.command("A", "ATQ0", "OK\r\n"), "ATQ0\r\n\r\nOK\r\n");
}

TEST(ModemCommandMode, EchoOffAndTheModemThatNeverEchoes) {
    auto config = network();
    config["stations"][1]["modem"]["faults"]["noEcho"] = true;
    SimHarness sim(config.dump());
    // E0 takes effect at the CR: the LF after it is no longer echoed, and E1 the
    // other way round.
    EXPECT_EQ(sim.command("A", "ATE0"), "ATE0\r0\r");
    EXPECT_EQ(sim.command("A", "AT"), "0\r");
    EXPECT_EQ(sim.command("A", "ATE1"), "\n0\r");
    EXPECT_EQ(sim.command("A", "AT"), "AT\r\n0\r");
    EXPECT_EQ(sim.command("B", "ATE1"), "0\r");
    EXPECT_EQ(sim.command("B", "ATZ"), "0\r");
    auto faults = sim.eventsNamed("fault", "B");
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(faults[0]["fault"], "noEcho");
}

TEST(ModemCommandMode, AScheduledEchoFaultHoldsOnlyInItsWindow) {
    auto config = network();
    config["faults"] = {{{"fault", "noEcho"}, {"station", "A"}, {"from", 5}, {"until", 10}}};
    SimHarness sim(config.dump());
    EXPECT_EQ(sim.command("A", "AT"), "AT\r\n0\r");
    sim.run(5000);
    EXPECT_EQ(sim.command("A", "AT"), "0\r");
    sim.run(5000);
    EXPECT_EQ(sim.command("A", "AT"), "AT\r\n0\r");
    EXPECT_EQ(sim.eventsNamed("fault", "A").size(), 1u);
}

TEST(ModemCommandMode, LineFeedAfterTheCarriageReturnIsEchoedBeforeTheResult) {
    SimHarness sim(network().dump());
    PortClient& port = sim.port("A");
    // The program types character by character and waits for each echo.
    for (char c : std::string("ATZ\r")) {
        port.write(std::string(1, c));
        ASSERT_TRUE(
            sim.until([&] { return port.data().size() > 0 && port.data().back() == c; }, 300));
    }
    sim.run(400); // longer than the reset: the result still waits for the LF
    EXPECT_EQ(port.data(), "ATZ\r");
    port.write("\n");
    sim.waitFor("A", "0\r", 1000);
    EXPECT_TRUE(sim.eventsNamed("result", "A").size() == 1);
}

TEST(ModemCommandMode, ResultWithoutLineFeedFollowsAfterTheProcessingTime) {
    SimHarness sim(network().dump());
    PortClient& port = sim.port("A");
    port.write("AT\r");
    // resultDelayMs, but at least 200 ms of real time: 10 s at the scale of 50.
    EXPECT_FALSE(sim.until([&] { return port.data().find("0\r") != std::string::npos; }, 9000));
    EXPECT_TRUE(sim.until([&] { return port.data() == "AT\r0\r"; }, 2000));
    // A LF that comes after the result is still the tail of the line.
    port.write("\n");
    EXPECT_TRUE(sim.until([&] { return port.data() == "AT\r0\r\n"; }, 1000));
}

TEST(ModemCommandMode, SeveralCommandsOnOneLineAndTheFirstErrorStopsTheLine) {
    SimHarness sim(network().dump());
    EXPECT_EQ(sim.command("A", "ATS0=5 S7=30&C1"), "ATS0=5 S7=30&C1\r\n0\r");
    EXPECT_EQ(sim.modem("A").settings().s[0], 5);
    EXPECT_EQ(sim.modem("A").settings().s[7], 30);
    // S0=9 is done, then E7 is refused and the rest is not read.
    EXPECT_EQ(sim.command("A", "ATS0=9E7S7=40"), "ATS0=9E7S7=40\r\n4\r");
    EXPECT_EQ(sim.modem("A").settings().s[0], 9);
    EXPECT_EQ(sim.modem("A").settings().s[7], 30);
}

TEST(ModemCommandMode, RegistersAreQueriedAndSet) {
    SimHarness sim(network().dump());
    EXPECT_EQ(sim.command("A", "ATS37?"), "ATS37?\r\n004\r\n0\r");
    EXPECT_EQ(sim.command("A", "ATS0=3S0?"), "ATS0=3S0?\r\n003\r\n0\r");
    EXPECT_EQ(sim.command("A", "ATS86?"), "ATS86?\r\n000\r\n0\r");
    EXPECT_EQ(sim.command("A", "ATS86=1"), "ATS86=1\r\n4\r"); // read only
    EXPECT_EQ(sim.command("A", "ATS7=256"), "ATS7=256\r\n4\r");
    EXPECT_EQ(sim.command("A", "ATS99?"), "ATS99?\r\n4\r");
}

TEST(ModemCommandMode, SetUpStringSwitchesAreAcceptedAndBadOnesRefused) {
    SimHarness sim(network().dump());
    EXPECT_EQ(sim.command("A", "ATM0X4B1%E2&L1%M0\\N2\\V1&K3"),
              "ATM0X4B1%E2&L1%M0\\N2\\V1&K3\r\n0\r");
    const auto& settings = sim.modem("A").settings();
    EXPECT_EQ(settings.leasedLine, 1);
    EXPECT_EQ(settings.bell, 1);
    EXPECT_EQ(settings.other.at("%E"), 2);
    EXPECT_EQ(sim.command("A", "ATX5"), "ATX5\r\n4\r");
    EXPECT_EQ(sim.command("A", "AT&Z"), "AT&Z\r\n4\r");
    EXPECT_EQ(sim.command("A", "ATJ"), "ATJ\r\n4\r");
    EXPECT_EQ(sim.command("A", "AT" + std::string(300, 'E')),
              "AT" + std::string(300, 'E') + "\r\n4\r");
}

TEST(ModemCommandMode, IdentificationFromTheConfiguration) {
    SimHarness sim(network().dump());
    EXPECT_EQ(sim.command("B", "ATI5"), "ATI5\r\nModem of B\r\n0\r");
    EXPECT_EQ(sim.command("B", "ATI0"), "ATI0\r\n14400\r\n0\r");
}

TEST(ModemProfiles, FactoryStoreAndRestore) {
    SimHarness sim(network().dump());
    EXPECT_EQ(sim.command("A", "ATS0=7&W"), "ATS0=7&W\r\n0\r");
    EXPECT_EQ(sim.command("A", "AT&F", "OK\r\n"), "AT&F\r\n\r\nOK\r\n");
    EXPECT_EQ(sim.modem("A").settings().s[0], 0);
    EXPECT_EQ(sim.modem("A").settings().verbose, 1);
    // Z restores the stored profile, V0 included, and answers in it.
    EXPECT_EQ(sim.command("A", "ATZ"), "ATZ\r\n0\r");
    EXPECT_EQ(sim.modem("A").settings().s[0], 7);
    EXPECT_EQ(sim.modem("B").settings().s[0], 2); // profiles are per station
}

TEST(ModemProfiles, TheProgramsSetUpWritingStoresTheProfile) {
    auto config = network();
    config["stations"][0]["modem"].erase("storedProfile");
    SimHarness sim(config.dump());
    PortClient& port = sim.port("A");
    // "A", a pause, then "T&F\r\n" as one block; then the set-up line typed.
    port.write("A");
    sim.run(100);
    port.write("T&F\r\n");
    sim.run(400);
    port.purge(3);
    std::string line = "ATM0S0=2&D2&S1V0\\N2\\V1S7=60S37=4&WZ";
    std::string reply = sim.command("A", line);
    EXPECT_EQ(reply, line + "\r\n0\r");
    const ModemSettings& stored = sim.modem("A").storedProfile(0);
    EXPECT_EQ(stored.verbose, 0);
    EXPECT_EQ(stored.s[0], 2);
    EXPECT_EQ(stored.dtr, 2);
    EXPECT_EQ(stored.dsr, 1);
    EXPECT_EQ(stored.s[37], 4);
}

TEST(ModemProfiles, AProfileFileKeepsTheStoredProfileAcrossRuns) {
    vetlina::test::TempFolder folder;
    auto config = network();
    config["stations"][0]["modem"]["profileFile"] = folder.file("a.profile");
    config["stations"][0]["modem"].erase("storedProfile");
    {
        SimHarness sim(config.dump());
        EXPECT_EQ(sim.command("A", "ATV0S0=4&W", "\r"), "ATV0S0=4&W\r\n0\r");
    }
    ASSERT_TRUE(fileExists(folder.file("a.profile")));
    SimHarness again(config.dump());
    EXPECT_EQ(again.modem("A").settings().s[0], 4);
    EXPECT_EQ(again.command("A", "AT"), "AT\r\n0\r");
}

TEST(ModemProfiles, ABrokenProfileFileIsAConfigurationError) {
    vetlina::test::TempFolder folder;
    folder.write("a.profile", "{\"profiles\": [1, 2]}");
    auto config = network();
    config["stations"][0]["modem"]["profileFile"] = folder.file("a.profile");
    std::string error;
    EXPECT_FALSE(parseConfig(config.dump(), error));
    EXPECT_NE(error.find("stations[0].modem"), std::string::npos) << error;
}

TEST(ModemLines, DsrFollowsAndS) {
    auto config = network();
    config["stations"][1]["modem"]["faults"]["dsrAlwaysOn"] = true;
    SimHarness sim(config.dump());
    // &S1 from the stored profile: DSR off while no connection stands.
    EXPECT_FALSE(sim.port("A").dsr());
    EXPECT_TRUE(sim.port("A").cts());
    EXPECT_FALSE(sim.port("A").carrier());
    sim.command("A", "AT&S0");
    EXPECT_TRUE(sim.until([&] { return sim.port("A").dsr(); }, 1000));
    sim.command("A", "AT&S1");
    EXPECT_TRUE(sim.until([&] { return !sim.port("A").dsr(); }, 1000));
    // A modem whose DSR is always on, whatever &S says.
    EXPECT_TRUE(sim.port("B").dsr());
    EXPECT_EQ(sim.eventsNamed("fault", "B").at(0)["fault"], "dsrAlwaysOn");
}

TEST(ModemLines, DsrAndCarrierOnlyWhileConnectedWithAndS1) {
    SimHarness sim(network().dump());
    sim.port("B");
    sim.command("A", "ATD1002", "20\r", 30000);
    ASSERT_TRUE(sim.until([&] { return sim.port("A").carrier() && sim.port("A").dsr(); }, 1000));
    sim.port("B").setDtr(false);
    EXPECT_TRUE(sim.until([&] { return !sim.port("A").carrier(); }, 2000));
    EXPECT_TRUE(sim.until([&] { return !sim.port("A").dsr(); }, 3000));
    EXPECT_NE(sim.waitFor("A", "3\r"), "");
}

TEST(ModemCommandMode, APortThatClosesDropsDtrAndHangsUp) {
    SimHarness sim(network().dump());
    sim.port("B");
    sim.command("A", "ATD1002", "20\r", 30000);
    ASSERT_EQ(sim.modem("A").phase(), HayesModem::Phase::Online);
    sim.port("A").close();
    EXPECT_TRUE(sim.until([&] { return sim.modem("A").phase() == HayesModem::Phase::Idle; }, 1000));
    EXPECT_EQ(sim.eventsNamed("dtr", "A").back()["on"], false);
    EXPECT_NE(sim.waitFor("B", "3\r", 5000).find("3\r"), std::string::npos);
}

} // namespace
} // namespace vetlina::sim::test
