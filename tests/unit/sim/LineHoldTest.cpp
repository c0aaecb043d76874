// The analyzer's side of the exchange: holding the line between the modem sessions,
// the modems' reconnection on the held line, calls to autonomous generators, and what
// an analyzer receives from the far end.
#include "SimTestSupport.h"

#include <gtest/gtest.h>

namespace vetlina::sim::test {
namespace {

constexpr uint32_t kCallMs = 40000;

class LineHold : public ::testing::Test {
protected:
    explicit LineHold(nlohmann::json config = network()) : sim(config.dump()) {
        a = sim.exchange().stationIndex("A");
        b = sim.exchange().stationIndex("B");
    }

    AnalyzerLine& analyzer(std::size_t station) { return sim.exchange().analyzerLine(station); }

    // A session's first half: A calls B, the modems connect, both analyzers take the
    // line, the caller hangs up and the answerer follows on carrier loss.
    void callAndHandOver() {
        sim.port("B");
        ASSERT_NE(sim.command("A", "ATD1002", "20\r", kCallMs).find("20\r"), std::string::npos);
        ASSERT_NE(sim.waitFor("B", "20\r", 2000).find("20\r"), std::string::npos);
        analyzer(a).hold(true);
        analyzer(b).hold(true);
        sim.port("A").setDtr(false);
        ASSERT_NE(sim.waitFor("B", "3\r", 5000).find("3\r"), std::string::npos);
        sim.port("B").setDtr(false);
        sim.run(500);
    }

    SimHarness sim;
    std::size_t a = 0;
    std::size_t b = 0;
};

TEST_F(LineHold, TheCallStaysWhileTheAnalyzersHoldIt) {
    callAndHandOver();
    EXPECT_EQ(sim.modem("A").phase(), HayesModem::Phase::Idle);
    EXPECT_EQ(sim.modem("B").phase(), HayesModem::Phase::Idle);
    sim.run(60000);
    EXPECT_TRUE(analyzer(a).connected());
    EXPECT_TRUE(analyzer(b).connected());
    // A third station finds B busy meanwhile.
    EXPECT_EQ(sim.command("C", "ATD1002", "\r", kCallMs), "ATD1002\r\n7\r");
}

TEST_F(LineHold, ModemsReconnectOnTheHeldLineAndTheReleaseLeavesItToThem) {
    callAndHandOver();
    // The program's reconnection: reset, originate without dialling on one side,
    // answer on the other, then the analyzers let the line go.
    sim.port("A").setDtr(true);
    sim.port("B").setDtr(true);
    EXPECT_EQ(sim.command("A", "ATZ"), "ATZ\r\n0\r");
    EXPECT_EQ(sim.command("B", "ATZ"), "ATZ\r\n0\r");
    sim.port("A").write("ATX1D\r\n");
    sim.port("B").write("ATB1A\r\n");
    sim.run(200);
    analyzer(a).hold(false);
    analyzer(b).hold(false);
    EXPECT_NE(sim.waitFor("A", "20\r", 20000).find("20\r"), std::string::npos);
    EXPECT_NE(sim.waitFor("B", "20\r", 2000).find("20\r"), std::string::npos);
    sim.port("A").write("results");
    EXPECT_EQ(sim.waitFor("B", "results", 2000), "results");
    // Both modems hang up and nothing holds the line any more: the call ends.
    sim.port("A").setDtr(false);
    sim.port("B").setDtr(false);
    EXPECT_TRUE(sim.until([&] { return !sim.exchange().inCall(a); }, 3000));
    EXPECT_FALSE(sim.exchange().inCall(b));
}

TEST_F(LineHold, TwoOriginatingModemsDoNotConnect) {
    callAndHandOver();
    sim.port("A").setDtr(true);
    sim.port("B").setDtr(true);
    sim.command("A", "ATX1S7=10");
    sim.command("B", "ATX1S7=10");
    sim.port("A").write("ATD\r\n");
    sim.port("B").write("ATD\r\n");
    EXPECT_NE(sim.waitFor("A", "3\r", 20000).find("3\r"), std::string::npos);
    EXPECT_NE(sim.waitFor("B", "3\r", 2000).find("3\r"), std::string::npos);
    EXPECT_TRUE(analyzer(a).connected());
}

TEST_F(LineHold, OriginateWithDialToneDetectionFindsNoToneOnAHeldLine) {
    callAndHandOver();
    sim.port("A").setDtr(true);
    EXPECT_EQ(sim.command("A", "ATX4D", "\r", 20000), "ATX4D\r\n6\r");
}

TEST_F(LineHold, ReleaseByBothEndsClearsTheCall) {
    callAndHandOver();
    analyzer(a).hold(false);
    sim.run(100);
    EXPECT_TRUE(sim.exchange().inCall(a)); // B's analyzer keeps it
    analyzer(b).hold(false);
    EXPECT_TRUE(sim.until([&] { return !sim.exchange().inCall(a); }, 1000));
    EXPECT_FALSE(analyzer(a).connected());
    EXPECT_FALSE(analyzer(a).farEnd());
}

TEST_F(LineHold, EachAnalyzerReceivesWhatTheOtherGenerates) {
    callAndHandOver();
    analyzer(a).publish({1, -10.0, 1020.0});
    analyzer(b).publish({2, -20.0, 800.0});
    auto atA = analyzer(a).farEnd();
    auto atB = analyzer(b).farEnd();
    ASSERT_TRUE(atA && atB);
    EXPECT_EQ(atA->station, "B");
    EXPECT_EQ(atA->signal, (GeneratorSignal{2, -20.0, 800.0}));
    EXPECT_EQ(atB->signal, (GeneratorSignal{1, -10.0, 1020.0}));
    EXPECT_FALSE(atA->autonomousGenerator);
    EXPECT_EQ(atA->channel, nullptr);
}

class LineHoldWithChannel : public LineHold {
protected:
    static nlohmann::json config() {
        auto c = network();
        c["channels"] = {
            {{"between", {"A", "B"}}, {"lineRate", 9600}, {"model", {{"attenuationDb", 7}}}}};
        return c;
    }
    LineHoldWithChannel() : LineHold(config()) {}
};

TEST_F(LineHoldWithChannel, TheChannelAndItsDirectionReachTheAnalyzers) {
    callAndHandOver();
    auto atA = analyzer(a).farEnd();
    auto atB = analyzer(b).farEnd();
    ASSERT_TRUE(atA && atB);
    ASSERT_NE(atA->channel, nullptr);
    EXPECT_EQ(atA->channel, atB->channel);
    EXPECT_EQ(atA->channel->model.forward.attenuationDb, 7.0);
    EXPECT_TRUE(atA->reversed);  // B to A: from the channel's second station
    EXPECT_FALSE(atB->reversed); // A to B
    EXPECT_EQ(sim.eventsNamed("connect").front()["rate"], 9600);
}

TEST(GeneratorCall, SemicolonReturnsAtOnceAndTheAnalyzerKeepsTheLine) {
    Simulator::Options options;
    options.generatorProgramme = [](uint32_t ms) {
        return GeneratorSignal{7, -13.0, ms < 60000 ? 1020.0 : 0.0};
    };
    SimHarness sim(network().dump(), 50.0, options);
    auto a = sim.exchange().stationIndex("A");
    EXPECT_EQ(sim.command("A", "ATD2000;", "\r", 10000), "ATD2000;\r\n0\r");
    EXPECT_EQ(sim.modem("A").phase(), HayesModem::Phase::OffHook);
    // The program's analyzer takes the line, the modem drops it.
    sim.exchange().analyzerLine(a).hold(true);
    sim.port("A").setDtr(false);
    EXPECT_TRUE(sim.until([&] { return sim.exchange().analyzerLine(a).connected(); }, 10000));
    auto far = sim.exchange().analyzerLine(a).farEnd();
    ASSERT_TRUE(far);
    EXPECT_TRUE(far->autonomousGenerator);
    EXPECT_EQ(far->station, "G");
    EXPECT_EQ(far->signal, (GeneratorSignal{7, -13.0, 1020.0}));
    sim.exchange().analyzerLine(a).hold(false);
    EXPECT_TRUE(sim.until([&] { return !sim.exchange().inCall(a); }, 1000));
}

TEST(GeneratorCall, QuietAnswerWaitsForTheGenerator) {
    auto config = network();
    config["stations"][3]["answerAfterRings"] = 2;
    SimHarness sim(config.dump());
    std::string reply = sim.command("A", "ATD2000@;", "\r", 30000);
    EXPECT_EQ(reply, "ATD2000@;\r\n0\r");
    auto answered = sim.eventsNamed("answered", "G");
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0]["rings"], 2);
    EXPECT_TRUE(sim.exchange().answered(sim.exchange().stationIndex("A")));
}

TEST(GeneratorCall, AGeneratorThatNeverAnswersGivesNoAnswerToQuietAnswer) {
    auto config = network();
    config["faults"] = {{{"fault", "noAnswer"}, {"station", "G"}}};
    SimHarness sim(config.dump());
    sim.command("A", "ATS7=20");
    EXPECT_EQ(sim.command("A", "ATD2000@;", "\r", 30000), "ATD2000@;\r\n8\r");
}

TEST(GeneratorCall, AModemDiallingAGeneratorForDataGetsNoCarrier) {
    SimHarness sim(network().dump());
    sim.command("A", "ATS7=15");
    EXPECT_EQ(sim.command("A", "ATD2000", "\r", 30000), "ATD2000\r\n3\r");
}

} // namespace
} // namespace vetlina::sim::test
