// Lost, duplicated and corrupted data bytes between modems: seeded, reproducible, and
// each logged where it acted.
#include "SimTestSupport.h"

#include <gtest/gtest.h>

namespace vetlina::sim::test {
namespace {

struct Transfer {
    std::string received;
    std::vector<nlohmann::json> faults;
};

std::string payload() {
    std::string bytes;
    for (int i = 0; i < 2000; ++i)
        bytes += static_cast<char>(i * 7 % 256);
    return bytes;
}

// A calls B and sends the payload; what B receives and the faults that acted.
Transfer transfer(const std::string& fault, double probability, uint32_t seed) {
    auto config = network();
    config["faults"] = {
        {{"fault", fault}, {"station", "B"}, {"probability", probability}, {"seed", seed}}};
    config["rates"] = {{"unthrottled", true}};
    SimHarness sim(config.dump());
    sim.port("B");
    sim.command("A", "ATD1002", "20\r", 40000);
    sim.waitFor("B", "20\r", 2000);
    sim.port("A").write(payload());
    sim.run(5000); // 2000 bytes at 9600 baud take 2.1 s
    return {sim.port("B").take(), sim.eventsNamed("fault", "B")};
}

TEST(ByteFaults, LossIsReproducibleWithTheSameSeed) {
    Transfer first = transfer("byteLoss", 0.02, 7);
    Transfer again = transfer("byteLoss", 0.02, 7);
    Transfer other = transfer("byteLoss", 0.02, 8);
    std::string sent = payload();
    ASSERT_FALSE(first.faults.empty());
    EXPECT_EQ(first.received.size() + first.faults.size(), sent.size());
    EXPECT_EQ(first.received, again.received);
    EXPECT_NE(first.received, other.received);
    // The bytes that came are the payload without the logged ones, in order.
    std::string expected;
    std::size_t next = 0;
    for (const auto& fault : first.faults) {
        std::size_t offset = fault["offset"].get<std::size_t>();
        expected += sent.substr(next, offset - next);
        next = offset + 1;
    }
    expected += sent.substr(next);
    EXPECT_EQ(first.received, expected);
}

TEST(ByteFaults, DuplicatesAndCorruptionAreWhereTheLogSays) {
    std::string sent = payload();
    Transfer duplicated = transfer("byteDuplicate", 0.01, 3);
    ASSERT_FALSE(duplicated.faults.empty());
    EXPECT_EQ(duplicated.received.size(), sent.size() + duplicated.faults.size());

    Transfer corrupted = transfer("byteCorrupt", 0.01, 3);
    ASSERT_FALSE(corrupted.faults.empty());
    ASSERT_EQ(corrupted.received.size(), sent.size());
    std::size_t differences = 0;
    for (std::size_t i = 0; i < sent.size(); ++i)
        differences += sent[i] != corrupted.received[i];
    EXPECT_EQ(differences, corrupted.faults.size());
    for (const auto& fault : corrupted.faults) {
        std::size_t offset = fault["offset"].get<std::size_t>();
        EXPECT_EQ(static_cast<uint8_t>(corrupted.received[offset]), fault["corrupted"].get<int>());
    }
}

TEST(ByteFaults, ProbabilityZeroChangesNothing) {
    EXPECT_EQ(transfer("byteLoss", 0.0, 1).received, payload());
}

} // namespace
} // namespace vetlina::sim::test
