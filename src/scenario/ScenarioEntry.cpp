#include "scenario/ScenarioEntry.h"

#include "platform/Clock.h"

#include <algorithm>

namespace vetlina {
namespace {

template <typename T>
void setNorm(uint8_t& flag, Le<T>& value, uint8_t on, T norm) {
    flag = on;
    value = norm;
}

// A group is measured only for a time of at least one second.
bool timed(const Le<double>& time) {
    return time.get() >= 1.0;
}

} // namespace

ScenarioEntry defaultEntry(DateTime begTime) {
    ScenarioEntry e{};
    e.ComplexType = kFullComplexType;
    e.NumMin = 3;
    e.NumTotal = 15;
    e.Busy = 20.0f;
    e.Carr = 20.0f;
    e.Break = 20.0f;
    e.BegTime = begTime;
    e.EndTime = begTime - 1e-8;
    e.NextTime = 0.0;
    e.LocalPaus = 15;
    e.LocalCall = 5;
    e.TrunkPaus = 20;
    e.TrunkCall = 3;
    e.Trunk8W = 6;
    e.Analog = 1;

    setNorm(e.sinSNROn, e.sinSNR, 1, 28.0f);
    setNorm(e.sinSNRpsOn, e.sinSNRps, 1, 30.0f);
    setNorm(e.sinJitPhOn, e.sinJitPh, 1, 15.0f);
    setNorm(e.sinJitAmOn, e.sinJitAm, 1, 26.0f);
    setNorm(e.sinShiftOn, e.sinShift, 1, 5.0f);
    setNorm(e.sinPulPrcOn, e.sinPulPrc, 1, 30.0f);
    setNorm(e.sinPulCntOn, e.sinPulCnt, 0, 100);
    setNorm(e.sinPulRelOn, e.sinPulRel, 0, -4);
    setNorm(e.sinIntPrcOn, e.sinIntPrc, 1, 30.0f);
    setNorm(e.sinIntCntOn, e.sinIntCnt, 0, 100);
    setNorm(e.sinIntRelOn, e.sinIntRel, 0, -4);
    setNorm(e.sinSumPrcOn, e.sinSumPrc, 1, 30.0f);
    setNorm(e.sinSumCntOn, e.sinSumCnt, 0, 100);
    setNorm(e.sinSumRelOn, e.sinSumRel, 0, -4);
    setNorm(e.sinHitPhOn, e.sinHitPh, 1, 10);
    setNorm(e.sinHitAmOn, e.sinHitAm, 1, 10);
    setNorm(e.sinModOn, e.sinMod, 1, 50.0f);
    setNorm(e.sinAttOn, e.sinAtt, 1, 30.0f);
    setNorm(e.sinDis2On, e.sinDis2, 1, 1.5f);
    setNorm(e.sinDis3On, e.sinDis3, 1, 1.5f);
    setNorm(e.sinDis23On, e.sinDis23, 1, 1.5f);

    setNorm(e.o132SNROn, e.o132SNR, 1, 28.0f);
    setNorm(e.o132SNRpsOn, e.o132SNRps, 1, 30.0f);
    setNorm(e.o132JitPhOn, e.o132JitPh, 1, 15.0f);
    setNorm(e.o132JitAmOn, e.o132JitAm, 1, 50.0f);
    setNorm(e.o132ShiftOn, e.o132Shift, 1, 5.0f);
    setNorm(e.o131SNROn, e.o131SNR, 1, 28.0f);

    setNorm(e.blkNoiseOn, e.blkNoise, 1, -40.0f);
    setNorm(e.blkNoisePsOn, e.blkNoisePs, 1, -40.0f);
    setNorm(e.blkNoiseSelOn, e.blkNoiseSel, 1, -50.0f);
    setNorm(e.echoTalkOn, e.echoTalk, 1, 23.0f);
    setNorm(e.echoListOn, e.echoList, 1, 24.0f);
    setNorm(e.impImpedOn, e.impImped, 0, 600);
    e.ImpedFreq = 1800.0f;
    setNorm(e.impCapacOn, e.impCapac, 0, 500);
    e.CapacFreq = 1800.0f;

    constexpr float kAtt[kMttPoints] = {kNoNorm, kNoNorm, kNoNorm, kNoNorm, 22, 25, 27,
                                        29,      30,      30,      37,      43, 49, 50};
    constexpr float kAttF[kMttPoints] = {kNoNorm, kNoNorm, kNoNorm, kNoNorm, 200,  400,  600,
                                         800,     1000,    1020,    1800,    2400, 3000, 3400};
    constexpr int32_t kDel[kMttPoints] = {2000, 1200, 1000, 700, 400, 200,  100,
                                          100,  100,  200,  300, 500, 1200, 2000};
    constexpr float kDelF[kMttPoints] = {300,  400,  500,  600,  800,  1000, 1400,
                                         1600, 2200, 2400, 2800, 3000, 3300, 3400};
    e.mttAttOn = 1;
    e.mttDelOn = 1;
    for (int k = 0; k < kMttPoints; ++k) {
        e.Att[k] = kAtt[k];
        e.AttF[k] = kAttF[k];
        e.Del[k] = kDel[k];
        e.DelF[k] = kDelF[k];
    }
    e.AttNotch = kNoNorm;
    e.DelNotch = 1900.0f;

    setNorm(e.o42Dis2On, e.o42Dis2, 1, 1.5f);
    setNorm(e.o42Dis3On, e.o42Dis3, 1, 1.5f);
    setNorm(e.o42Dis23On, e.o42Dis23, 1, 1.5f);
    setNorm(e.disPassOn, e.disPass, 1, 50.0f);

    e.EchoTime = 30.0;
    e.EchoLev = -10.0f;
    e.EchoLevR = -10.0f;
    e.EchoFreq = 1600;
    e.EchoT1 = 2000;
    e.EchoT2 = 2000;
    e.EchoT = 20;
    e.SinTime = 30.0;
    e.SinLev = -10.0f;
    e.SinLevR = -10.0f;
    e.SinFreq = 1800;
    e.O132Time = 30.0;
    e.O132Lev = -10.0f;
    e.O132LevR = -10.0f;
    e.O132Freq = 1020;
    e.O131Time = 30.0;
    e.O131Lev = -10.0f;
    e.O131LevR = -10.0f;
    e.MTTSTime = 30.0;
    e.MTTSLev = -10.0f;
    e.MTTSLevR = -10.0f;
    e.O42Time = 30.0;
    e.O42Lev = -10.0f;
    e.O42LevR = -10.0f;
    e.ImpTime = 30.0;
    e.ImpLev = -10.0f;
    e.ImpLevR = -10.0f;
    e.BlkTime = 30.0;
    e.DiscrTime = 60.0;

    e.SincTime = 8;
    e.DeadTime = 125;
    e.MaxLev = 0;
    e.MinLev = -55;
    e.MinSNR = 0;
    e.ThHitPh = 15.0f;
    e.ThHitAm = 4.0f;
    e.ThAbs = 0;
    e.ThAbsPul = -14.0f;
    e.ThAbsInt = -24.0f;
    e.ThRelPul = 6.0f;
    e.ThRelInt = -15.0f;
    return e;
}

ScenarioEntry defaultEntry() {
    return defaultEntry(now());
}

bool performsSine(const ScenarioEntry& e) {
    return e.Analog && timed(e.SinTime) &&
           (e.sinSNROn || e.sinSNRpsOn || e.sinJitPhOn || e.sinJitAmOn || e.sinShiftOn ||
            e.sinPulPrcOn || e.sinPulCntOn || e.sinPulRelOn || e.sinIntPrcOn || e.sinIntCntOn ||
            e.sinIntRelOn || e.sinSumPrcOn || e.sinSumCntOn || e.sinSumRelOn || e.sinHitPhOn ||
            e.sinHitAmOn || e.sinModOn || e.sinAttOn || e.sinDis2On || e.sinDis3On || e.sinDis23On);
}

bool performsO132(const ScenarioEntry& e) {
    return e.Analog && timed(e.O132Time) &&
           (e.o132SNROn || e.o132SNRpsOn || e.o132JitPhOn || e.o132JitAmOn || e.o132ShiftOn);
}

bool performsO131(const ScenarioEntry& e) {
    return e.Analog && timed(e.O131Time) && e.o131SNROn;
}

bool performsNoise(const ScenarioEntry& e) {
    return e.Analog && timed(e.BlkTime) && (e.blkNoiseOn || e.blkNoisePsOn || e.blkNoiseSelOn);
}

bool performsEcho(const ScenarioEntry& e) {
    return e.Analog && timed(e.EchoTime) && (e.echoTalkOn || e.echoListOn);
}

bool performsImpedance(const ScenarioEntry& e) {
    return e.Analog && timed(e.ImpTime) && (e.impImpedOn || e.impCapacOn);
}

bool performsMultiFrequency(const ScenarioEntry& e) {
    return e.Analog && timed(e.MTTSTime) && (e.mttAttOn || e.mttDelOn);
}

bool performsO42(const ScenarioEntry& e) {
    return e.Analog && timed(e.O42Time) && (e.o42Dis2On || e.o42Dis3On || e.o42Dis23On);
}

bool performsThroughput(const ScenarioEntry& e) {
    return e.disPassOn && timed(e.DiscrTime);
}

int32_t sincSeconds(const ScenarioEntry& e) {
    return e.SincTime.get() / 2;
}

void setSincSeconds(ScenarioEntry& e, int32_t seconds) {
    int64_t halves = static_cast<int64_t>(seconds) * 2;
    e.SincTime = static_cast<int32_t>(std::clamp<int64_t>(halves, INT32_MIN, INT32_MAX));
}

} // namespace vetlina
