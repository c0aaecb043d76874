// The blocks of a session, byte for byte as the two complexes exchange them.
#include "modem/SessionBlocks.h"

#include "EntryKinds.h"
#include "platform/Cp1251.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace vetlina {
namespace {

using Bytes = std::vector<uint8_t>;

template <class Block>
Bytes bytesOfBlock(const Block& block) {
    auto span = blockBytes(block);
    return Bytes(span.begin(), span.end());
}

// Writes a text, a 32-bit integer or a 64-bit float at an offset of an expected image.
void putText(Bytes& b, std::size_t at, const std::string& text) {
    std::memcpy(b.data() + at, text.data(), text.size());
}
void putI32(Bytes& b, std::size_t at, int32_t v) {
    storeLe<int32_t>(b.data() + at, v);
}
void putF64(Bytes& b, std::size_t at, double v) {
    storeLe<double>(b.data() + at, v);
}

TEST(SessionBlocks, TheGreetingStandsAtItsOffsetsAndIsZeroElsewhere) {
    const GreetingBlock g = makeGreeting(true, "12345678", "87654321", 45717.5, 7);
    Bytes expected(40, 0);
    expected[0] = 50;
    expected[1] = 1;
    putText(expected, 2, "12345678");
    putText(expected, 12, "87654321");
    putF64(expected, 24, 45717.5);
    putI32(expected, 32, 7);
    EXPECT_EQ(bytesOfBlock(g), expected);

    // No resume, and an answerer that serves nobody.
    const GreetingBlock idle = makeGreeting(false, "12345678", "", 0.0, 0);
    Bytes none(40, 0);
    none[0] = 50;
    putText(none, 2, "12345678");
    EXPECT_EQ(bytesOfBlock(idle), none);
}

TEST(SessionBlocks, GreetingTextsAreCutSoThatTheyStayTerminated) {
    // An entry's Id may fill all its 10 bytes; the field of the wanted complex holds 12.
    const GreetingBlock g = makeGreeting(false, "ABCDEFGHIJKL", "0123456789AB", 0.0, 0);
    const Bytes b = bytesOfBlock(g);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[2]), 9), "ABCDEFGHI");
    EXPECT_EQ(b[11], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[12]), 11), "0123456789A");
    EXPECT_EQ(b[23], 0);
    EXPECT_EQ(blockText(g.ident), "ABCDEFGHI");
    EXPECT_EQ(blockText(g.wanted), "0123456789A");
}

TEST(SessionBlocks, AFarGreetingWithoutTerminatorsIsReadWithinItsFields) {
    GreetingBlock g{};
    std::memset(&g, 'Z', sizeof g);
    EXPECT_EQ(blockText(g.ident), std::string(10, 'Z'));
    EXPECT_EQ(blockText(g.wanted), std::string(12, 'Z'));
}

TEST(SessionBlocks, BusyIdentityAndCountersBlocks) {
    Bytes busy(8, 0);
    putI32(busy, 0, 3);
    putI32(busy, 4, 10);
    EXPECT_EQ(bytesOfBlock(makeBusy(3, 10)), busy);

    const std::string user = toCp1251("Служба измерений каналов");
    const std::string city = toCp1251("Москва");
    const std::string ats = toCp1251("АТС Э");
    Bytes identity(58, 0);
    putText(identity, 0, user);
    putText(identity, 30, city);
    putText(identity, 50, ats);
    EXPECT_EQ(bytesOfBlock(makeIdentity(user, city, ats)), identity);
    // Texts too long for their fields keep a terminator.
    const IdentityBlock longOnes =
        makeIdentity(std::string(40, 'u'), std::string(40, 'c'), std::string(40, 'a'));
    EXPECT_EQ(blockText(longOnes.user), std::string(29, 'u'));
    EXPECT_EQ(blockText(longOnes.city), std::string(19, 'c'));
    EXPECT_EQ(blockText(longOnes.ats), std::string(7, 'a'));

    ScenarioEntry e = defaultEntry(45000.0);
    e.Calls = 9;
    e.FailNUS = 1;
    e.FailNUV = 2;
    e.FailOtb = -3;
    Bytes counters(16, 0);
    putI32(counters, 0, 9);
    putI32(counters, 4, 1);
    putI32(counters, 8, 2);
    putI32(counters, 12, -3);
    const CountersSection c = countersOf(e);
    EXPECT_EQ(bytesOfBlock(c), counters);
    ScenarioEntry other = defaultEntry(45000.0);
    takeCounters(c, other);
    EXPECT_EQ(other.Calls, 9);
    EXPECT_EQ(other.FailOtb, -3);
}

TEST(SessionBlocks, FarTextsCannotOpenMarkupInTheDocuments) {
    EXPECT_EQ(farText("1234567X"), "1234567X");
    EXPECT_EQ(farText("<!--"), "?!--");
    EXPECT_EQ(farText(std::string("a\r\nb&>\x7f", 7)), "a??b???");
    EXPECT_EQ(farText(toCp1251("Город")), toCp1251("Город"));
}

// ---- The result block --------------------------------------------------------------

// An entry with no measurement kind enabled.
ScenarioEntry nothingEnabled() {
    ScenarioEntry e = defaultEntry(45000.0);
    test::setEveryKindTime(e, 0);
    return e;
}

// Records with a different marker in each, so that every section can be found.
LiveResults markedRecords() {
    LiveResults r;
    r.sine.level = -11.5f;
    r.sine.counter = 21;
    r.o131.level = -12.5f;
    r.o132.level = -13.5f;
    r.noise.noise = -61.0f;
    r.noise.counter = 23;
    r.talkerEcho.echo = 24.0f;
    r.listenerEcho.echo = 25.0f;
    r.impedance.imped[0] = 26.0f;
    r.mtts.level = -27.0f;
    r.mtts.counter = 28;
    r.o42.dis2 = 0.29f;
    return r;
}

TEST(ResultBlock, EveryKindEnabledPutsTheSectionsInTheirOrderAfterTheCounters) {
    ScenarioEntry e = defaultEntry(45000.0);
    // A new entry holds no impedance norm: the impedance is measured only with one.
    e.impImpedOn = 1;
    const ResultLayout layout = resultLayout(e);
    ASSERT_EQ(layout.count, 9u);
    const std::size_t offsets[] = {0, 160, 172, 204, 1236, 1252, 1712, 2176, 2196};
    const ResultSection order[] = {
        ResultSection::Sine,  ResultSection::O131, ResultSection::O132,
        ResultSection::Noise, ResultSection::Echo, ResultSection::Impedance,
        ResultSection::Mtts,  ResultSection::O42,  ResultSection::Throughput};
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(layout.places[i].section, order[i]) << i;
        EXPECT_EQ(layout.places[i].offset, offsets[i]) << i;
    }
    EXPECT_EQ(layout.size(false), 2200u);
    EXPECT_EQ(layout.size(true), kLargestResultBlock);

    ScenarioEntry counted = e;
    counted.Calls = 4;
    counted.FailOtb = 1;
    const CountersSection counters = countersOf(counted);
    const LiveResults records = markedRecords();
    std::vector<uint8_t> block(4096, 0xEE);
    ASSERT_EQ(buildResultBlock(layout, &counters, records, 87.5f, block), 2216u);
    const uint8_t* b = block.data();
    EXPECT_EQ(loadLe<int32_t>(b + 0), 4);
    EXPECT_EQ(loadLe<int32_t>(b + 12), 1);
    EXPECT_EQ(loadLe<float>(b + 16 + 0), -11.5f);        // sine level
    EXPECT_EQ(loadLe<int32_t>(b + 16 + 156), 21);        // sine counter
    EXPECT_EQ(loadLe<float>(b + 16 + 160), -12.5f);      // O.131 level
    EXPECT_EQ(loadLe<float>(b + 16 + 172), -13.5f);      // O.132 level
    EXPECT_EQ(loadLe<float>(b + 16 + 204), -61.0f);      // noise
    EXPECT_EQ(loadLe<int32_t>(b + 16 + 204 + 1028), 23); // noise counter
    EXPECT_EQ(loadLe<float>(b + 16 + 1236), 24.0f);      // talker echo
    EXPECT_EQ(loadLe<float>(b + 16 + 1244), 25.0f);      // listener echo
    EXPECT_EQ(loadLe<float>(b + 16 + 1252), 26.0f);      // first impedance deviation
    EXPECT_EQ(loadLe<float>(b + 16 + 1712), -27.0f);     // multi-frequency level
    EXPECT_EQ(loadLe<int32_t>(b + 16 + 1712 + 460), 28); // its counter
    EXPECT_EQ(loadLe<float>(b + 16 + 2176 + 4), 0.29f);  // O.42 2nd-order product
    EXPECT_EQ(loadLe<float>(b + 16 + 2196), 87.5f);      // throughput
    EXPECT_EQ(block[2216], 0xEE);                        // nothing beyond the block

    // The answerer reads it back: the same counters, records and throughput.
    LiveResults got;
    CountersSection gotCounters{};
    float throughput = 0.0f;
    ASSERT_TRUE(
        unpackResultBlock(layout, std::span(block).first(2216), &gotCounters, got, throughput));
    EXPECT_EQ(std::memcmp(&gotCounters, &counters, sizeof counters), 0);
    EXPECT_EQ(std::memcmp(&got.sine, &records.sine, sizeof records.sine), 0);
    EXPECT_EQ(std::memcmp(&got.mtts, &records.mtts, sizeof records.mtts), 0);
    EXPECT_EQ(std::memcmp(&got.noise, &records.noise, sizeof records.noise), 0);
    EXPECT_EQ(got.listenerEcho.echo, 25.0f);
    EXPECT_EQ(throughput, 87.5f);
}

TEST(ResultBlock, WithOnlyTheThroughputTheCallerSends20BytesAndTheAnswerer4) {
    ScenarioEntry e = nothingEnabled();
    e.DiscrTime = 60;
    e.disPassOn = 1;
    const ResultLayout layout = resultLayout(e);
    EXPECT_EQ(layout.size(true), 20u);
    EXPECT_EQ(layout.size(false), 4u);

    const CountersSection counters = countersOf(e);
    std::vector<uint8_t> block(64, 0);
    EXPECT_EQ(buildResultBlock(layout, &counters, LiveResults{}, 96.25f, block), 20u);
    EXPECT_EQ(loadLe<float>(block.data() + 16), 96.25f);
    EXPECT_EQ(buildResultBlock(layout, nullptr, LiveResults{}, -999.0f, block), 4u);
    EXPECT_EQ(loadLe<float>(block.data()), -999.0f);
}

TEST(ResultBlock, TheLayoutFollowsTheEnabledKindsOfTheEntry) {
    // Sine only: 16 + 160 from the caller, 160 from the answerer.
    ScenarioEntry e = nothingEnabled();
    e.SinTime = 10;
    EXPECT_EQ(resultLayout(e).size(true), 176u);
    EXPECT_EQ(resultLayout(e).size(false), 160u);
    // A kind shorter than a second, or with none of its parameters selected, is left out.
    e.O132Time = 0.5;
    e.MTTSTime = 30;
    e.mttAttOn = 0;
    e.mttDelOn = 0;
    EXPECT_EQ(resultLayout(e).size(false), 160u);
    // Without the analyzer switch only the throughput stays.
    e.Analog = 0;
    e.DiscrTime = 30;
    EXPECT_EQ(resultLayout(e).size(false), 4u);
    EXPECT_TRUE(resultLayout(e).has(ResultSection::Throughput));
    EXPECT_FALSE(resultLayout(e).has(ResultSection::Sine));
    // Nothing at all: an empty block (which the link does not send).
    EXPECT_EQ(resultLayout(nothingEnabled()).size(false), 0u);
    EXPECT_EQ(resultLayout(nothingEnabled()).size(true), 16u);
}

TEST(ResultBlock, ABlockOfAnotherLengthChangesNothing) {
    ScenarioEntry e = nothingEnabled();
    e.SinTime = 10;
    const ResultLayout layout = resultLayout(e);
    LiveResults records = markedRecords();
    float throughput = 12.0f;
    std::vector<uint8_t> block(161, 0);
    EXPECT_FALSE(unpackResultBlock(layout, block, nullptr, records, throughput));
    EXPECT_EQ(records.sine.level, -11.5f);
    EXPECT_EQ(throughput, 12.0f);
    // A kind the block does not hold keeps its record.
    block.resize(160);
    EXPECT_TRUE(unpackResultBlock(layout, block, nullptr, records, throughput));
    EXPECT_EQ(records.sine.level, 0.0f);
    EXPECT_EQ(records.mtts.level, -27.0f);
    EXPECT_EQ(throughput, 12.0f);
    // Too small a buffer for the block: nothing built.
    std::vector<uint8_t> small(100);
    EXPECT_EQ(buildResultBlock(layout, nullptr, records, 0.0f, small), 0u);
}

} // namespace
} // namespace vetlina
