#include "modem/ReceivedChecks.h"

#include "platform/Cp1251.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace vetlina {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

ScenarioEntry soundEntry() {
    ScenarioEntry e = defaultEntry(45000.25);
    setText(e.Id, "22222222");
    setText(e.Number, "1002");
    e.sineA.count = 3;
    e.sineA.sinSNRSums.sum = 90.0;
    return e;
}

TEST(ReceivedEntry, SoundEntryIsTaken) {
    EXPECT_EQ(refusedEntryLine(soundEntry(), "11111111"), std::nullopt);
}

TEST(ReceivedEntry, RefusalLineNamesCallerFieldAndRange) {
    struct Case {
        std::function<void(ScenarioEntry&)> spoil;
        std::string line; // UTF-8
    };
    const std::vector<Case> cases = {
        {[](auto& e) { e.SinLev = kInf; },
         "Сценарий от 11111111 отвергнут: SinLev = inf: не число"},
        {[](auto& e) { e.SincTime = 1000000; },
         "Сценарий от 11111111 отвергнут: SincTime = 500000: допустимо целое число от 1 до 10"},
        {[](auto& e) { std::memset(e.Id, '2', sizeof e.Id); },
         "Сценарий от 11111111 отвергнут: Id: нет завершающего нуля"},
        {[](auto& e) { setText(e.DiscrAT, "&F\r\nATD5"); },
         "Сценарий от 11111111 отвергнут: DiscrAT: управляющий символ 0D"},
        // The statistics the answerer goes on accumulating into.
        {[](auto& e) { e.mttB.mttDelSumSq[4] = std::nan(""); },
         "Сценарий от 11111111 отвергнут: mttB: не число в строке 20"},
        {[](auto& e) { e.echoA.echoListCount = -1; },
         "Сценарий от 11111111 отвергнут: echoA: число сеансов -1"},
        {[](auto& e) { e.throughputB.disPassLast = -kInf; },
         "Сценарий от 11111111 отвергнут: throughputB: не число в строке 1"},
    };
    for (const Case& c : cases) {
        ScenarioEntry e = soundEntry();
        c.spoil(e);
        const auto line = refusedEntryLine(e, "11111111");
        ASSERT_TRUE(line) << c.line;
        EXPECT_EQ(*line, toCp1251(c.line));
    }
}

LiveResults measured() {
    LiveResults r{};
    r.sine.level = -10.5f;
    r.sine.snr = 41.0f;
    r.sine.pulCnt = 7;
    r.sine.hitPh = -999;
    r.sine.counter = 12;
    r.mtts.del[3] = -10000.0f; // a group delay not measured
    r.mtts.freq[3] = 1000.0f;
    r.noise.spectrum[200] = -999.0f;
    r.impedance.imped[0] = 10400.0f;
    return r;
}

TEST(ReceivedResults, MeasuredValuesPassByteForByte) {
    LiveResults live = measured();
    float throughput = 87.25f;
    CountersSection counters{};
    counters.calls = 5;
    counters.failOtb = 2;
    const LiveResults before = live;
    const CountersSection countersBefore = counters;
    EXPECT_EQ(sanitizeReceivedResults(&counters, live, throughput), 0);
    EXPECT_EQ(std::memcmp(&live, &before, sizeof live), 0);
    EXPECT_EQ(std::memcmp(&counters, &countersBefore, sizeof counters), 0);
    EXPECT_EQ(throughput, 87.25f);
}

TEST(ReceivedResults, AbsurdValuesAreNotMeasuredAndCountsClamped) {
    LiveResults live = measured();
    float throughput = kNaN;
    CountersSection counters{};
    counters.calls = -3;
    counters.failNUV = std::numeric_limits<int32_t>::max();
    live.sine.snr = kNaN;
    live.sine.jitPh = kInf;
    live.sine.att = -kInf;
    live.sine.mod[16] = 1e38f;
    live.sine.pulCnt = -5;
    live.sine.counter = -1;
    live.o132.shift = -1e7f;
    live.mtts.freq[37] = kNaN;
    live.noise.spectrum[0] = 3e9f;
    live.listenerEcho.echo = kInf;
    live.listenerEcho.counter = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(sanitizeReceivedResults(&counters, live, throughput), 14);
    for (float v : {live.sine.snr.get(), live.sine.jitPh.get(), live.sine.att.get(),
                    live.sine.mod[16].get(), live.o132.shift.get(), live.mtts.freq[37].get(),
                    live.noise.spectrum[0].get(), live.listenerEcho.echo.get(), throughput})
        EXPECT_EQ(v, kNotMeasured);
    EXPECT_EQ(live.sine.pulCnt.get(), -999);
    EXPECT_EQ(live.sine.counter.get(), 0);
    EXPECT_EQ(live.listenerEcho.counter.get(), 0);
    EXPECT_EQ(counters.calls.get(), 0);
    EXPECT_EQ(counters.failNUV.get(), 1000000000);
    // The sound values beside them are untouched.
    EXPECT_EQ(live.sine.level.get(), -10.5f);
    EXPECT_EQ(live.mtts.del[3].get(), -10000.0f);
    EXPECT_EQ(untakenResultsLine(14),
              toCp1251("Недостоверные результаты: 14 значений сохранены как не измеренные"));
}

TEST(ReceivedBusyBlock, SessionsLeftStayWithinASeries) {
    EXPECT_EQ(busySessionsLeft(3, 10), 7);
    EXPECT_EQ(busySessionsLeft(10, 3), 0);
    EXPECT_EQ(
        busySessionsLeft(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()),
        100);
    EXPECT_EQ(busySessionsLeft(-1, 0), 1);
}

} // namespace
} // namespace vetlina
