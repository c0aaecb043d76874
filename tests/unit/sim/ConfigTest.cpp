// The simulator's configuration: what it reads, and the one clear line it gives for a
// file it cannot use (also from the command line, with exit status 1).
#include "SimTestSupport.h"
#include "TempFolder.h"
#include "sim/modem/DialString.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace vetlina::sim::test {
namespace {

TEST(SimConfig, ReadsStationsChannelsFaultsRatesAndTiming) {
    auto config = network();
    config["stations"][0]["aliases"] = {"81001"};
    config["stations"][0]["analyzer"] = {{"port", 7002},
                                         {"serialNumber", 1234},
                                         {"firmware", 305},
                                         {"faults", {{"switchedOff", {{"fromS", 5}}}}}};
    config["stations"][3]["answerAfterRings"] = 3;
    config["channels"] = {{{"between", {"A", "G"}}, {"model", {{"noiseDbm", -60}}}}};
    config["faults"] = {{{"fault", "byteCorrupt"},
                         {"station", "A"},
                         {"probability", 0.5},
                         {"seed", 9},
                         {"from", 10},
                         {"until", 20},
                         {"times", 3}},
                        {{"fault", "lineBreak"}, {"station", "B"}, {"afterBytes", 500}}};
    config["rates"] = {{"lineRate", 9600}, {"bitsPerByte", 10}, {"unthrottled", true}};
    config["timing"] = {{"ringPeriodMs", 5000}, {"ringOnMs", 1500}};
    std::string error;
    auto parsed = parseConfig(config.dump(), error);
    ASSERT_TRUE(parsed) << error;
    ASSERT_EQ(parsed->stations.size(), 4u);
    const StationConfig& a = parsed->stations[0];
    EXPECT_EQ(a.aliases, std::vector<std::string>{"81001"});
    EXPECT_EQ(a.analyzer.port, 7002);
    EXPECT_EQ(a.analyzer.options.serialNumber, 1234);
    EXPECT_EQ(a.analyzer.options.firmware, 305);
    ASSERT_EQ(a.analyzer.options.faults.size(), 1u); // the analyzer's own, read for it
    EXPECT_EQ(a.analyzer.options.faults[0].kind, Zmk5FaultKind::SwitchedOff);
    EXPECT_EQ(a.modem.identification, "Modem of A");
    EXPECT_EQ(parsed->stations[3].kind, StationKind::Generator);
    EXPECT_EQ(parsed->stations[3].answerAfterRings, 3);
    EXPECT_EQ(parsed->channels[0].model.forward.noiseDbm, -60.0);
    ASSERT_EQ(parsed->faults.size(), 2u);
    EXPECT_EQ(parsed->faults[0].kind, FaultKind::ByteCorrupt);
    EXPECT_EQ(parsed->faults[0].seed, 9u);
    EXPECT_EQ(parsed->faults[0].times, 3);
    EXPECT_EQ(parsed->faults[0].untilS, 20.0);
    EXPECT_EQ(parsed->faults[1].afterBytes, 500u);
    EXPECT_EQ(parsed->rates.lineRate, 9600u);
    EXPECT_TRUE(parsed->rates.unthrottled);
    EXPECT_EQ(parsed->timing.ringOnMs, 1500u);
}

// Each bad file names the place that is wrong.
TEST(SimConfig, RefusesWhatItCannotUseAndSaysWhere) {
    struct Case {
        std::function<void(nlohmann::json&)> spoil;
        std::string where;
    };
    std::vector<Case> cases = {
        {[](auto& c) { c.erase("stations"); }, "stations"},
        {[](auto& c) { c["stations"][1]["number"] = "1001"; }, "stations[1].number"},
        {[](auto& c) { c["stations"][1]["number"] = "12-34"; }, "stations[1].number"},
        {[](auto& c) { c["stations"][2]["name"] = "A"; }, "stations[2].name"},
        {[](auto& c) { c["stations"][0]["type"] = "exchange"; }, "stations[0].type"},
        {[](auto& c) { c["stations"][0]["modem"]["port"] = 70000; }, "stations[0].modem.port"},
        {[](auto& c) {
             c["stations"][0]["modem"]["port"] = 7001;
             c["stations"][1]["analyzer"]["port"] = 7001;
         },
         "stations[1].analyzer.port"},
        {[](auto& c) { c["stations"][0]["modem"]["storedProfile"] = "S0=2D123"; },
         "stations[0].modem"},
        {[](auto& c) { c["stations"][0]["modem"]["faults"]["noEcco"] = true; },
         "stations[0].modem.faults.noEcco"},
        {[](auto& c) { c["stations"][0]["modem"].erase("port"); }, "stations[0].modem.port"},
        {[](auto& c) { c["stations"][0]["analyzer"]["serialNumber"] = 40000; },
         "stations[0].analyzer.serialNumber"},
        {[](auto& c) {
             c["channels"] = {{{"between", {"A", "X"}}}};
         },
         "channels[0].between"},
        {[](auto& c) {
             c["faults"] = {{{"fault", "fire"}, {"station", "A"}}};
         },
         "faults[0].fault"},
        {[](auto& c) {
             c["faults"] = {{{"fault", "busy"}, {"station", "Z"}}};
         },
         "faults[0].station"},
        {[](auto& c) {
             c["faults"] = {{{"fault", "lineBreak"}, {"station", "A"}}};
         },
         "faults[0]"},
        {[](auto& c) {
             c["faults"] = {{{"fault", "busy"}, {"station", "A"}, {"probability", 0.5}}};
         },
         "faults[0].probability"},
        {[](auto& c) {
             c["faults"] = {{{"fault", "byteLoss"}, {"station", "A"}, {"probability", 2}}};
         },
         "faults[0].probability"},
        {[](auto& c) {
             c["faults"] = {{{"fault", "busy"}, {"station", "A"}, {"from", 5}, {"until", 5}}};
         },
         "faults[0].until"},
        {[](auto& c) {
             c["timing"] = {{"ringOnMs", 7000}};
         },
         "timing.ringOnMs"},
        {[](auto& c) { c["rate"] = {}; }, "rate"},
    };
    for (const auto& c : cases) {
        auto config = network();
        c.spoil(config);
        std::string error;
        EXPECT_FALSE(parseConfig(config.dump(), error)) << c.where;
        EXPECT_EQ(error.rfind(c.where + ":", 0), 0u) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
    std::string error;
    EXPECT_FALSE(parseConfig("{\"stations\": [", error));
    EXPECT_EQ(error.rfind("not JSON", 0), 0u) << error;
}

std::pair<int, std::string> runSimulator(const std::string& configPath) {
    std::string command =
        std::string(VETLINA_BINARY_DIR) + "/src/sim/vetlina-sim " + configPath + " 2>&1 >/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    int status = pipe ? ::pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(SimConfig, TheSimulatorRefusesABadFileWithOneLineAndStatusOne) {
    vetlina::test::TempFolder folder;
    auto config = network();
    config["stations"][1]["modem"]["port"] = "7000";
    folder.write("bad.json", config.dump());
    auto [status, output] = runSimulator(folder.file("bad.json"));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(output, "vetlina-sim: " + folder.file("bad.json") +
                          ": stations[1].modem.port: must be an integer\n");
    auto [missingStatus, missingOutput] = runSimulator(folder.file("none.json"));
    EXPECT_EQ(missingStatus, 1);
    EXPECT_EQ(std::count(missingOutput.begin(), missingOutput.end(), '\n'), 1);
}

TEST(DialStrings, ModifiersDigitsAndTheEndOfTheString) {
    DialPlan plan = parseDialString("T8W,P495-12 34!@;rest");
    EXPECT_EQ(digitsOf(plan), "84951234");
    EXPECT_TRUE(plan.returnToCommand);
    EXPECT_EQ(plan.skipped, "rest");
    using K = DialStep::Kind;
    std::vector<K> kinds;
    for (const auto& step : plan.steps)
        kinds.push_back(step.kind);
    EXPECT_EQ(kinds,
              (std::vector<K>{K::Digit, K::WaitDialTone, K::Pause, K::Digit, K::Digit, K::Digit,
                              K::Digit, K::Digit, K::Digit, K::Digit, K::Flash, K::WaitAnswer}));
    EXPECT_FALSE(plan.steps[0].pulse);
    EXPECT_TRUE(plan.steps[3].pulse);
    EXPECT_TRUE(parseDialString("L").redial);
    EXPECT_TRUE(parseDialString("1002R").reverse);
    EXPECT_EQ(parseDialString("*#0AD").steps.size(), 5u);
    EXPECT_EQ(parseDialString("12x").skipped, "x");
}

TEST(DialStrings, RedialDialsTheLastNumberAgain) {
    SimHarness sim(network().dump());
    EXPECT_EQ(sim.command("A", "ATD5555", "\r", 30000), "ATD5555\r\n7\r");
    EXPECT_EQ(sim.command("A", "ATDL", "\r", 30000), "ATDL\r\n7\r");
    auto dials = sim.eventsNamed("dial", "A");
    ASSERT_EQ(dials.size(), 2u);
    EXPECT_EQ(dials[1]["number"], "5555");
}

} // namespace
} // namespace vetlina::sim::test
