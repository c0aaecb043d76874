#include "modem/ReceivedChecks.h"

#include "platform/Cp1251.h"
#include "scenario/EntryRanges.h"

#include <algorithm>
#include <cmath>

namespace vetlina {
namespace {

constexpr int32_t kLargestCount = 1000000000;
constexpr int32_t kNotMeasuredCount = -999;
// A series has at most this many sessions (the editor's NumTotal).
constexpr int32_t kLongestSeries = 100;

template <class Stats>
std::optional<std::string> blockFault(const char* name, const Stats& stats,
                                      std::initializer_list<int32_t> counts) {
    for (int row = 0; row < Stats::kItems; ++row) {
        const StatValue v = stats.item(row);
        if (!std::isfinite(v.last) || !std::isfinite(v.sum) || !std::isfinite(v.sumSq))
            return std::string(name) + ": не число в строке "_cp + std::to_string(row + 1);
    }
    for (int32_t count : counts)
        if (count < 0 || count > kLargestCount)
            return std::string(name) + ": число сеансов "_cp + std::to_string(count);
    return std::nullopt;
}

struct Sanitizer {
    int replaced = 0;

    void value(float& f) {
        if (std::isfinite(f) && std::fabs(f) <= kLargestMeasuredValue)
            return;
        f = kNotMeasured;
        ++replaced;
    }
    void value(Le<float>& v) {
        float f = v.get();
        value(f);
        v = f;
    }
    template <std::size_t N>
    void values(std::array<Le<float>, N>& a) {
        for (Le<float>& v : a)
            value(v);
    }
    // A count of events: not negative; -999 when it was not measured.
    void count(Le<int32_t>& c) {
        const int32_t n = c.get();
        if (n == kNotMeasuredCount || (n >= 0 && n <= kLargestMeasuredValue))
            return;
        c = kNotMeasuredCount;
        ++replaced;
    }
    // A block counter or a call count: clamped into 0..limit.
    void clamp(Le<int32_t>& c, int32_t limit) {
        const int32_t n = c.get();
        if (n >= 0 && n <= limit)
            return;
        c = std::clamp(n, 0, limit);
        ++replaced;
    }
};

} // namespace

std::optional<std::string> unfitEntryReason(const ScenarioEntry& e) {
    if (auto fault = checkEntryRanges(e))
        return std::move(fault->reason);
    return statisticsFault(e);
}

std::optional<std::string> refusedEntryLine(const ScenarioEntry& received,
                                            std::string_view callerIdent) {
    if (auto why = unfitEntryReason(received))
        return "Сценарий от "_cp + std::string(callerIdent) + " отвергнут: "_cp + *why;
    return std::nullopt;
}

std::optional<std::string> unsendableEntryLine(const ScenarioEntry& own) {
    if (auto why = unfitEntryReason(own))
        return "Сценарий не передан: "_cp + *why;
    return std::nullopt;
}

std::optional<std::string> statisticsFault(const ScenarioEntry& e) {
    std::optional<std::string> f;
    (f = blockFault("sineA", e.sineA, {e.sineA.count})) ||
        (f = blockFault("sineB", e.sineB, {e.sineB.count})) ||
        (f = blockFault("o132A", e.o132A, {e.o132A.count})) ||
        (f = blockFault("o132B", e.o132B, {e.o132B.count})) ||
        (f = blockFault("o131A", e.o131A, {e.o131A.count})) ||
        (f = blockFault("o131B", e.o131B, {e.o131B.count})) ||
        (f = blockFault("noiseA", e.noiseA, {e.noiseA.count})) ||
        (f = blockFault("noiseB", e.noiseB, {e.noiseB.count})) ||
        (f = blockFault("echoA", e.echoA, {e.echoA.echoTalkCount, e.echoA.echoListCount})) ||
        (f = blockFault("echoB", e.echoB, {e.echoB.echoTalkCount, e.echoB.echoListCount})) ||
        (f = blockFault("impedanceA", e.impedanceA, {e.impedanceA.count})) ||
        (f = blockFault("impedanceB", e.impedanceB, {e.impedanceB.count})) ||
        (f = blockFault("mttA", e.mttA, {e.mttA.count})) ||
        (f = blockFault("mttB", e.mttB, {e.mttB.count})) ||
        (f = blockFault("o42A", e.o42A, {e.o42A.count})) ||
        (f = blockFault("o42B", e.o42B, {e.o42B.count})) ||
        (f = blockFault("throughputA", e.throughputA, {e.throughputA.count})) ||
        (f = blockFault("throughputB", e.throughputB, {e.throughputB.count}));
    return f;
}

int sanitizeReceivedResults(CountersSection* counters, LiveResults& live, float& throughput) {
    Sanitizer s;
    if (counters) {
        s.clamp(counters->calls, kLargestCount);
        s.clamp(counters->failNUS, kLargestCount);
        s.clamp(counters->failNUV, kLargestCount);
        s.clamp(counters->failOtb, kLargestCount);
    }
    SineResult& sine = live.sine;
    for (Le<float>* v :
         {&sine.level, &sine.frequency, &sine.snr, &sine.snrPs, &sine.jitPh, &sine.jitAm,
          &sine.shift, &sine.pulPrc, &sine.pulRel, &sine.intPrc, &sine.intRel, &sine.sumPrc,
          &sine.sumRel, &sine.att, &sine.dis2, &sine.dis3, &sine.dis23})
        s.value(*v);
    for (Le<int32_t>* c : {&sine.pulCnt, &sine.intCnt, &sine.sumCnt, &sine.hitPh, &sine.hitAm})
        s.count(*c);
    s.values(sine.mod);
    s.clamp(sine.counter, kLargestCount);

    O132Result& o132 = live.o132;
    for (Le<float>* v : {&o132.level, &o132.frequency, &o132.snr, &o132.snrPs, &o132.jitPh,
                         &o132.jitAm, &o132.shift})
        s.value(*v);
    s.clamp(o132.counter, kLargestCount);

    s.value(live.o131.level);
    s.value(live.o131.snr);
    s.clamp(live.o131.counter, kLargestCount);

    s.value(live.mtts.level);
    s.values(live.mtts.att);
    s.values(live.mtts.del);
    s.values(live.mtts.freq);
    s.clamp(live.mtts.counter, kLargestCount);

    for (Le<float>* v : {&live.o42.level, &live.o42.dis2, &live.o42.dis3, &live.o42.dis23})
        s.value(*v);
    s.clamp(live.o42.counter, kLargestCount);

    s.values(live.impedance.imped);
    s.values(live.impedance.capac);
    s.values(live.impedance.freq);
    s.clamp(live.impedance.counter, kLargestCount);

    s.value(live.noise.noise);
    s.value(live.noise.noisePs);
    s.values(live.noise.spectrum);
    s.clamp(live.noise.counter, kLargestCount);

    for (EchoResult* echo : {&live.talkerEcho, &live.listenerEcho}) {
        s.value(echo->echo);
        s.clamp(echo->counter, kLargestCount);
    }
    s.value(throughput);
    return s.replaced;
}

std::string untakenResultsLine(int replaced) {
    return "Недостоверные результаты: "_cp + std::to_string(replaced) +
           " значений сохранены как не измеренные"_cp;
}

int32_t busySessionsLeft(int32_t sessionsDone, int32_t numTotal) {
    const int64_t left = static_cast<int64_t>(numTotal) - sessionsDone;
    return static_cast<int32_t>(std::clamp<int64_t>(left, 0, kLongestSeries));
}

} // namespace vetlina
