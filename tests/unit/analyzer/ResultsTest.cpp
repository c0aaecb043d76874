// Result records: byte images, accumulation of decoded blocks, clearing, and the lines
// of the results window.
#include "analyzer/Results.h"

#include "platform/Cp1251.h"

#include <cstring>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

// --- byte images ---------------------------------------------------------------

template <std::size_t N>
void fill(std::array<Le<float>, N>& a, float v) {
    for (auto& x : a)
        x = v;
}

uint32_t le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

TEST(ResultRecords, SineResultFieldsSitAtTheirOffsetsLittleEndian) {
    SineResult r;
    r.level = 1.5f;        // 0x3FC00000
    r.pulCnt = 0x01020304; // field 9
    r.hitAm = -2;          // field 18
    r.mod[16] = -2.0f;     // field 35
    r.att = 0.25f;         // field 36
    r.dis23 = 100.0f;      // field 39
    r.counter = 7;         // field 40
    uint8_t b[160];
    toBytes(r, b);
    EXPECT_EQ(le32(b + 0), 0x3FC00000u);
    EXPECT_EQ(b[32], 0x04);
    EXPECT_EQ(b[35], 0x01);
    EXPECT_EQ(le32(b + 68), 0xFFFFFFFEu);
    EXPECT_EQ(le32(b + 136), 0xC0000000u);
    EXPECT_EQ(le32(b + 140), 0x3E800000u);
    EXPECT_EQ(le32(b + 152), 0x42C80000u);
    EXPECT_EQ(le32(b + 156), 7u);
    SineResult back;
    fromBytes(b, back);
    EXPECT_EQ(std::memcmp(&back, &r, sizeof r), 0);
}

template <class R>
void roundTrip(R r, std::size_t size, std::size_t counterOffset) {
    ASSERT_EQ(recordSize<R>(), size);
    r.counter = 0x11223344;
    std::vector<uint8_t> b(size);
    toBytes(r, b.data());
    EXPECT_EQ(le32(b.data() + counterOffset), 0x11223344u);
    R back;
    fromBytes(b.data(), back);
    EXPECT_EQ(std::memcmp(&back, &r, size), 0);
}

TEST(ResultRecords, EveryRecordHasItsWidthAndItsCounterLast) {
    O132Result o132;
    o132.shift = -3.5f;
    roundTrip(o132, 32, 28);
    O131Result o131;
    o131.snr = 44.0f;
    roundTrip(o131, 12, 8);
    MttsResult mtts;
    mtts.del[0] = 0.125f;
    mtts.freq[37] = 3800.0f;
    roundTrip(mtts, 464, 460);
    O42Result o42;
    o42.dis3 = 0.01f;
    roundTrip(o42, 20, 16);
    ImpedanceResult imp;
    imp.capac[5] = 0.47f;
    roundTrip(imp, 460, 456);
    NoiseResult noise;
    noise.spectrum[254] = -77.0f;
    roundTrip(noise, 1032, 1028);
    EchoResult echo;
    echo.echo = 22.0f;
    roundTrip(echo, 8, 4);
}

// --- accumulation --------------------------------------------------------------

class Accumulation : public ::testing::Test {
protected:
    // A decoded sine block as the frame analysis leaves it.
    void sineBlock(double level, double hz, double dis2 = 1.0) {
        auto& l = meter.out().levels;
        l.fill(kNotMeasured);
        l[item::Level] = static_cast<float>(level);
        l[item::Frequency] = static_cast<float>(hz);
        l[item::Snr] = 40.0f;
        l[item::SnrPs] = 42.0f;
        l[item::JitPh] = 1.5f;
        l[item::JitAm] = 0.5f;
        l[item::Dis2] = static_cast<float>(dis2);
        l[item::Dis3] = 0.5f;
        l[item::Dis23] = 1.2f;
        meter.out().sideComponents.fill(50.0f);
        meter.out().sideComponents[8] = 0.0f;
    }
    bool sine(int code = 576) {
        return Accumulate(results, AnalyzerCommand::MeterSine, code, meter, ctx);
    }

    MeterComputation meter;
    LiveResults results;
    ResultContext ctx;
};

TEST_F(Accumulation, SineBlocksAreAveragedWithTheCounter) {
    ctx.sinFreq = 1800.0;
    ctx.sinLevR = -5.0;
    sineBlock(-10.0, 1801.0);
    EXPECT_TRUE(sine());
    sineBlock(-14.0, 1803.0);
    EXPECT_TRUE(sine());
    const SineResult& r = results.sine;
    EXPECT_EQ(r.counter, 2);
    EXPECT_FLOAT_EQ(r.level, -12.0f);
    EXPECT_FLOAT_EQ(r.frequency, 1802.0f);
    EXPECT_FLOAT_EQ(r.shift, 2.0f);
    EXPECT_FLOAT_EQ(r.att, 7.0f) << "first pass: EditSinLevR - level";
    EXPECT_FLOAT_EQ(r.snr, 40.0f);
    EXPECT_FLOAT_EQ(r.mod[0], 50.0f);
    EXPECT_FLOAT_EQ(r.dis23, 1.2f);
    ctx.firstPass = false;
    ctx.sinLev = -1.0;
    sineBlock(-12.0, 1802.0);
    sine();
    EXPECT_FLOAT_EQ(r.att, (2 * 7.0f + 11.0f) / 3) << "second pass: EditSinLev - level";
}

TEST_F(Accumulation, ASineTwelveHertzOffChangesNothing) {
    ctx.sinFreq = 1020.0;
    sineBlock(-10.0, 1032.0);
    EXPECT_FALSE(sine());
    sineBlock(-10.0, 1008.0);
    EXPECT_FALSE(sine());
    SineResult cleared;
    EXPECT_EQ(std::memcmp(&results.sine, &cleared, sizeof cleared), 0);
    sineBlock(-10.0, 1031.9);
    EXPECT_TRUE(sine());
    EXPECT_EQ(results.sine.counter, 1);
}

TEST_F(Accumulation, AutonomousModeMeasuresAt1800HzAgainstMinus5Dbm) {
    ctx.autonomous = true;
    ctx.sinFreq = 1020.0;
    ctx.sinLevR = -20.0;
    sineBlock(-12.0, 1020.0);
    EXPECT_FALSE(sine());
    sineBlock(-12.0, 1799.0);
    EXPECT_TRUE(sine());
    EXPECT_FLOAT_EQ(results.sine.att, 7.0f);
    EXPECT_FLOAT_EQ(results.sine.shift, -1.0f);
}

TEST_F(Accumulation, MissingHarmonicsAreSkippedWithTheCommonCounter) {
    sineBlock(-10.0, 1800.0, 5.0);
    sine();
    sineBlock(-10.0, 1800.0, kNotMeasured);
    sine();
    sineBlock(-10.0, 1800.0, 2.0);
    sine();
    EXPECT_EQ(results.sine.counter, 3);
    EXPECT_FLOAT_EQ(results.sine.dis2, 4.0f) << "(2 x 5 + 2) / 3";
}

TEST_F(Accumulation, AHarmonicMissingFromTheStartDoesNotAverageTheClearedZeroIn) {
    sineBlock(-10.0, 1800.0, kNotMeasured);
    sine();
    sineBlock(-10.0, 1800.0, 5.0);
    sine();
    EXPECT_FLOAT_EQ(results.sine.dis2, 5.0f) << "not (1 x 0 + 5) / 2";
    sineBlock(-10.0, 1800.0, 2.0);
    sine();
    EXPECT_FLOAT_EQ(results.sine.dis2, 4.0f);
    ClearResult(results, ResultKind::Sine);
    sineBlock(-10.0, 1800.0, kNotMeasured);
    sine();
    sineBlock(-10.0, 1800.0, 3.0);
    sine();
    EXPECT_FLOAT_EQ(results.sine.dis2, 3.0f) << "the clear forgets what was present";
}

TEST_F(Accumulation, EventStatisticsOverwriteTheEventFieldsWithoutCounting) {
    auto& ev = meter.out().events;
    for (int i = 0; i < event::Count; ++i)
        ev[i] = static_cast<float>(i);
    sineBlock(-10.0, 1800.0);
    sine();
    EXPECT_FALSE(sine(code::EventStatistics));
    const SineResult& r = results.sine;
    EXPECT_EQ(r.counter, 1);
    EXPECT_FLOAT_EQ(r.pulPrc, 13.0f); // 6 + 7
    EXPECT_EQ(r.pulCnt, 5);           // 2 + 3
    EXPECT_FLOAT_EQ(r.pulRel, 9.0f);  // 4 + 5
    EXPECT_FLOAT_EQ(r.intPrc, 14.0f);
    EXPECT_EQ(r.intCnt, 30); // 9 + 10 + 11
    EXPECT_FLOAT_EQ(r.intRel, 13.0f);
    EXPECT_FLOAT_EQ(r.sumPrc, 17.0f);
    EXPECT_EQ(r.sumCnt, 35);
    EXPECT_FLOAT_EQ(r.sumRel, 16.0f);
    EXPECT_EQ(r.hitPh, 19);
    EXPECT_EQ(r.hitAm, 18);
    EXPECT_FALSE(
        Accumulate(results, AnalyzerCommand::MeterO132, code::EventStatistics, meter, ctx));
}

TEST_F(Accumulation, EachCommandTakesOnlyItsOwnCode) {
    sineBlock(-10.0, 1020.0);
    EXPECT_FALSE(Accumulate(results, AnalyzerCommand::MeterSine, code::MultiFrequency, meter, ctx));
    EXPECT_FALSE(Accumulate(results, AnalyzerCommand::MeterO132, code::Noise, meter, ctx));
    EXPECT_FALSE(Accumulate(results, AnalyzerCommand::MeterMtts, 326, meter, ctx));
    EXPECT_FALSE(Accumulate(results, AnalyzerCommand::MeterNoise, code::Echo, meter, ctx));
    EXPECT_FALSE(Accumulate(results, AnalyzerCommand::GeneratorSine, 326, meter, ctx))
        << "a generator step";
    EXPECT_TRUE(Accumulate(results, AnalyzerCommand::MeterO132, 326, meter, ctx));
    EXPECT_FLOAT_EQ(results.o132.frequency, 1020.0f);
    EXPECT_EQ(results.o132.counter, 1);
    EXPECT_EQ(results.sine.counter, 0);
}

TEST_F(Accumulation, MultiFrequencyTonesAndLevel) {
    auto& t = meter.out().tones;
    meter.out().levels[item::Level] = -10.0f;
    for (int i = 0; i < kTones; ++i) {
        t.frequency[i] = (i + 1) * 100.0f;
        t.attenuation[i] = 1.0f;
        t.groupDelay[i] = 0.2f;
    }
    EXPECT_TRUE(Accumulate(results, AnalyzerCommand::MeterMtts, code::MultiFrequency, meter, ctx));
    meter.out().levels[item::Level] = -12.0f;
    t.attenuation[3] = 3.0f;
    EXPECT_TRUE(Accumulate(results, AnalyzerCommand::MeterMtts, code::MultiFrequency, meter, ctx));
    EXPECT_FLOAT_EQ(results.mtts.level, -11.0f);
    EXPECT_FLOAT_EQ(results.mtts.att[3], 2.0f);
    EXPECT_FLOAT_EQ(results.mtts.freq[3], 400.0f);
    EXPECT_FLOAT_EQ(results.mtts.del[37], 0.2f);
    EXPECT_EQ(results.mtts.counter, 2);
}

TEST_F(Accumulation, O131AndO42) {
    auto& l = meter.out().levels;
    l.fill(kNotMeasured);
    l[item::Level] = -20.0f;
    l[item::Snr] = 30.0f;
    EXPECT_TRUE(Accumulate(results, AnalyzerCommand::MeterO131, code::O131, meter, ctx));
    EXPECT_FLOAT_EQ(results.o131.snr, 30.0f);
    l[item::Dis2] = 1.0f;
    EXPECT_TRUE(Accumulate(results, AnalyzerCommand::MeterO42, code::O42, meter, ctx));
    l[item::Dis2] = 3.0f;
    l[item::Dis3] = 0.5f;
    EXPECT_TRUE(Accumulate(results, AnalyzerCommand::MeterO42, code::O42, meter, ctx));
    EXPECT_FLOAT_EQ(results.o42.dis2, 2.0f);
    EXPECT_FLOAT_EQ(results.o42.dis3, 0.5f);
    EXPECT_FLOAT_EQ(results.o42.dis23, 0.0f) << "never present";
    EXPECT_EQ(results.o42.counter, 2);
}

TEST_F(Accumulation, ImpedanceOnlyWhileValidAndWithinItsBounds) {
    auto& z = meter.out().impedance;
    for (int i = 0; i < kTones; ++i) {
        z.frequency[i] = (i + 1) * 100.0f;
        z.modulus[i] = 650.0f;
        z.capacitance[i] = 1.0f;
    }
    z.modulus[0] = 100000.0f; // open
    z.capacitance[1] = kNotMeasured;
    z.capacitance[2] = 6.0f;
    meter.state.impedanceValid = false;
    EXPECT_FALSE(Accumulate(results, AnalyzerCommand::MeterImpedance, code::Impedance, meter, ctx));
    meter.state.impedanceValid = true;
    EXPECT_TRUE(Accumulate(results, AnalyzerCommand::MeterImpedance, code::Impedance, meter, ctx));
    const ImpedanceResult& r = results.impedance;
    EXPECT_EQ(r.counter, 1);
    EXPECT_FLOAT_EQ(r.imped[0], 0.0f);
    EXPECT_FLOAT_EQ(r.freq[0], 0.0f);
    EXPECT_FLOAT_EQ(r.imped[1], 50.0f);
    EXPECT_FLOAT_EQ(r.freq[1], 200.0f);
    EXPECT_FLOAT_EQ(r.capac[1], 0.0f);
    EXPECT_FLOAT_EQ(r.capac[2], 0.0f);
    EXPECT_FLOAT_EQ(r.capac[3], 1.0f);
}

TEST_F(Accumulation, NoiseAndItsSpectrum) {
    meter.out().levels[item::Noise] = -60.0f;
    meter.out().levels[item::NoisePs] = -62.0f;
    meter.out().noiseBands.fill(-80.0f);
    EXPECT_TRUE(Accumulate(results, AnalyzerCommand::MeterNoise, code::Noise, meter, ctx));
    meter.out().levels[item::Noise] = -64.0f;
    meter.out().noiseBands[100] = -70.0f;
    EXPECT_TRUE(Accumulate(results, AnalyzerCommand::MeterNoise, code::Noise, meter, ctx));
    EXPECT_FLOAT_EQ(results.noise.noise, -62.0f);
    EXPECT_FLOAT_EQ(results.noise.spectrum[100], -75.0f);
    EXPECT_FLOAT_EQ(selectiveInterference(results.noise), -75.0f);
}

TEST_F(Accumulation, EchoValuesIntoTheirOwnRecordOnlyWhenPresent) {
    meter.out().echo = kNotMeasured;
    EXPECT_FALSE(Accumulate(results, AnalyzerCommand::MeterTalkerEcho, code::Echo, meter, ctx));
    EXPECT_EQ(results.talkerEcho.counter, 0);
    meter.out().echo = 20.0f;
    EXPECT_TRUE(Accumulate(results, AnalyzerCommand::MeterTalkerEcho, code::Echo, meter, ctx));
    meter.out().echo = 30.0f;
    EXPECT_TRUE(Accumulate(results, AnalyzerCommand::MeterTalkerEcho, code::Echo, meter, ctx));
    EXPECT_TRUE(Accumulate(results, AnalyzerCommand::MeterListenerEcho, code::Echo, meter, ctx));
    EXPECT_FLOAT_EQ(results.talkerEcho.echo, 25.0f);
    EXPECT_EQ(results.talkerEcho.counter, 2);
    EXPECT_FLOAT_EQ(results.listenerEcho.echo, 30.0f);
    ClearResult(results, ResultKind::TalkerEcho);
    EXPECT_EQ(results.talkerEcho.counter, 0);
    EXPECT_EQ(results.listenerEcho.counter, 1);
}

// --- display texts -------------------------------------------------------------

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

class ResultTexts : public Accumulation {
protected:
    std::vector<std::string> lines(ResultKind kind) {
        std::vector<std::string> out;
        for (const auto& l : ResultLines(kind, results, meter, ctx))
            out.push_back(toUtf8(l));
        return out;
    }
};

TEST_F(ResultTexts, SineLinesInTheSystemsFormat) {
    SineResult& r = results.sine;
    r.level = -10.04f;
    r.frequency = 1020.25f;
    r.snr = 45.5f;
    r.pulCnt = 3;
    r.pulRel = 1e-5f;
    r.intRel = 0.0f;
    r.hitPh = 2;
    r.hitAm = 12;
    r.counter = 31;
    fill(r.mod, -3.0f);
    r.dis2 = 1.25f;
    ctx.sinFreq = 1020.0;
    meter.out().events[event::PhaseJumpThreshold] = 15.0f;
    meter.out().events[event::LevelJumpThreshold] = 4.0f;
    meter.out().events[event::PulseThreshold] = -14.0f;
    meter.out().events[event::InterruptionThreshold] = -24.0f;
    const auto l = lines(ResultKind::Sine);
    ASSERT_EQ(l.size(), 17u);
    EXPECT_EQ(l[0], "Уровень............ -10.0 дБм    Частота............1020.2 Гц");
    EXPECT_EQ(l[1], "Сигнал/Шум.........  45.5 дБ     Импульсные помехи..     3 шт.");
    EXPECT_EQ(l[2], "Сигнал/Шум псоф....   0.0 дБ     - % испорч.сек.....   0.0 %");
    EXPECT_EQ(l[3], "Дрожание фазы......   0.0 град.  - относит.время.... 1e-05");
    EXPECT_EQ(l[6], "Затухание..........   0.0 дБ     - относит.время.... 0e+00");
    EXPECT_EQ(l[7], "2-я гармоника......   1.2 %      Помехи и перерывы..     0 шт.");
    EXPECT_EQ(l[10], "Скачки фазы........     2 шт.    Скачки уровня......    12 шт.");
    EXPECT_EQ(l[11], "Паразит. модуляции.   0.0 дБ     Счётчик............    31")
        << "never below 0.0";
    EXPECT_EQ(l[12], "");
    EXPECT_EQ(l[13], "      Пороги: Скачки фазы....  15.0 град");
    EXPECT_EQ(l[14], "              Скачки уровня..   4.0 дБ");
    EXPECT_EQ(l[15], "              Имп.помехи..... -14.0 дБм");
    EXPECT_EQ(l[16], "              Перерывы....... -24.0 дБм");
    // The text is code page 1251 as the documents copy it.
    EXPECT_EQ(ResultLines(ResultKind::Sine, results, meter, ctx)[0].substr(0, 7), "Уровень"_cp);
}

TEST_F(ResultTexts, HarmonicsAboveTheBandEdgeShowStars) {
    results.sine.dis2 = 1.0f;
    results.sine.dis3 = 2.0f;
    results.sine.dis23 = 3.0f;
    ctx.sinFreq = 1700.0;
    auto l = lines(ResultKind::Sine);
    EXPECT_TRUE(startsWith(l[7], "2-я гармоника......   1.0")) << l[7];
    EXPECT_EQ(l[8], "3-я гармоника......   *** %      - % испорч.сек.....   0.0 %");
    EXPECT_TRUE(startsWith(l[9], "2+3 гармоники......   3.0")) << l[9];
    ctx.sinFreq = 1701.0;
    l = lines(ResultKind::Sine);
    EXPECT_EQ(l[7], "2-я гармоника......   *** %      Помехи и перерывы..     0 шт.");
    EXPECT_EQ(l[9], "2+3 гармоники......   *** %      - относит.время.... 0e+00");
    ctx.sinFreq = 1133.0;
    EXPECT_TRUE(startsWith(lines(ResultKind::Sine)[8], "3-я гармоника......   2.0"));
    ctx.sinFreq = 1020.0;
    ctx.autonomous = true; // measured at 1800 Hz
    EXPECT_TRUE(startsWith(lines(ResultKind::Sine)[7], "2-я гармоника......   ***"));
}

TEST_F(ResultTexts, ParasiticModulationIsTheLargestComponentNotBelowZero) {
    fill(results.sine.mod, -5.0f);
    EXPECT_FLOAT_EQ(parasiticModulation(results.sine), 0.0f);
    results.sine.mod[3] = 47.5f;
    results.sine.mod[12] = 52.25f;
    EXPECT_FLOAT_EQ(parasiticModulation(results.sine), 52.25f);
}

TEST_F(ResultTexts, ShortKinds) {
    O132Result& o132 = results.o132;
    o132.level = -10.0f;
    o132.frequency = 1020.5f;
    o132.snr = 40.0f;
    o132.snrPs = 42.0f;
    o132.jitPh = 1.0f;
    o132.jitAm = 0.5f;
    o132.shift = 0.5f;
    o132.counter = 3;
    EXPECT_EQ(
        lines(ResultKind::O132),
        (std::vector<std::string>{"Уровень.......... -10.0 дБм", "Частота..........1020.5 Гц",
                                  "Сигнал/Шум.......  40.0 дБ", "Сигнал/Шум псоф..  42.0 дБ",
                                  "Дрожание фазы....   1.0 град.", "Дрожание уровня..   0.5 %",
                                  "Сдвиг частоты....   0.5 Гц", "Счётчик..........     3"}));
    results.o131.level = -20.0f;
    results.o131.snr = 33.3f;
    results.o131.counter = 4;
    EXPECT_EQ(lines(ResultKind::O131),
              (std::vector<std::string>{"Уровень...... -20.0 дБм", "Сигнал/Шум...  33.3 дБ",
                                        "Счётчик......     4"}));
    results.o42.level = -12.0f;
    results.o42.dis2 = 1.0f;
    results.o42.dis3 = 0.25f;
    results.o42.dis23 = 1.5f;
    results.o42.counter = 5;
    EXPECT_EQ(lines(ResultKind::O42), (std::vector<std::string>{"Уровень............... -12.0 дБм",
                                                                "Продукт 2-го порядка..   1.0 %",
                                                                "Продукт 3-го порядка..   0.2 %",
                                                                "Сумма продуктов.......   1.5 %",
                                                                "Счётчик...............     5"}));
    results.noise.noise = -60.0f;
    results.noise.noisePs = -62.5f;
    fill(results.noise.spectrum, -90.0f);
    results.noise.spectrum[10] = -20.0f; // outside 11..135
    results.noise.spectrum[135] = -70.0f;
    results.noise.counter = 9;
    EXPECT_EQ(lines(ResultKind::Noise), (std::vector<std::string>{"Уровень шума........ -60.0 дБм",
                                                                  "Уровень шума псоф... -62.5 дБм",
                                                                  "Селективная помеха.. -70.0 дБм",
                                                                  "Счётчик.............     9"}));
    results.talkerEcho.echo = 25.25f;
    results.talkerEcho.counter = 2;
    results.listenerEcho = {};
    EXPECT_EQ(lines(ResultKind::TalkerEcho),
              (std::vector<std::string>{"Эхо говорящего...  25.2 дБ", "Счётчик..........     2"}));
    EXPECT_EQ(lines(ResultKind::ListenerEcho),
              (std::vector<std::string>{"Эхо слушающего...   0.0 дБ", "Счётчик..........     0"}));
}

TEST_F(ResultTexts, MultiFrequencyLinesWithTheirOffsets) {
    MttsResult& r = results.mtts;
    r.level = -9.5f;
    r.counter = 12;
    for (int i = 0; i < 38; ++i) {
        r.freq[i] = (i + 1) * 100.0f;
        r.att[i] = 10.0f + 0.5f * std::abs(i - 18);
        r.del[i] = 0.001f * std::abs(i - 18);
    }
    // No reference frequencies: the far generator's level, no delay offset.
    ctx.attNotch = 0.0;
    ctx.delNotch = 0.0;
    ctx.mttsLevR = -10.0;
    auto l = lines(ResultKind::Mtts);
    ASSERT_EQ(l.size(), 23u);
    EXPECT_EQ(l[0], "Уровень..................  -9.5 дБм");
    EXPECT_EQ(l[1], "");
    EXPECT_EQ(l[2], "Частота,Гц  АЧХ,дБ  ГВП,мкс       Частота,Гц  АЧХ,дБ  ГВП,мкс");
    EXPECT_EQ(l[3], "   100        9.0     18.0          2000        0.5      1.0");
    EXPECT_EQ(l[22], "Счётчик....    12");
    // Reference frequencies: relative to the values interpolated there.
    ctx.attNotch = 1950.0;
    ctx.delNotch = 1000.0;
    l = lines(ResultKind::Mtts);
    EXPECT_EQ(l[3], "   100        8.8      9.0          2000        0.2     -8.0");
}

TEST_F(ResultTexts, ImpedanceLinesShowNanofarads) {
    ImpedanceResult& r = results.impedance;
    for (int i = 0; i < 38; ++i)
        r.freq[i] = (i + 1) * 100.0f;
    r.imped[0] = 1234.5f;
    r.capac[0] = 0.47f;
    r.imped[19] = -10.0f;
    r.counter = 6;
    const auto l = lines(ResultKind::Impedance);
    ASSERT_EQ(l.size(), 21u);
    EXPECT_EQ(l[0], "Частота,Гц Откл.имп.,Ом Ёмкость,нФ     Частота,Гц Откл.имп.,Ом Ёмкость,нФ");
    EXPECT_EQ(l[1], "   100        1234.5      470.0          2000         -10.0        0.0");
    EXPECT_EQ(l[20], "Счётчик.......     6");
}

TEST(ReferenceInterpolation, InsideBelow100AndOutsideTheMeasuredFrequencies) {
    std::array<Le<float>, 38> f{}, v{};
    for (int i = 0; i < 38; ++i) {
        f[i] = (i + 1) * 100.0f;
        v[i] = static_cast<float>(i);
    }
    EXPECT_DOUBLE_EQ(interpolateAtReference(f, v, 1950.0, false), 18.5);
    EXPECT_DOUBLE_EQ(interpolateAtReference(f, v, 100.0, false), 0.0);
    EXPECT_DOUBLE_EQ(interpolateAtReference(f, v, 99.9, false), 0.0);
    v[20] = -50.0f;
    v[35] = 60.0f; // outside entries 2..34
    EXPECT_DOUBLE_EQ(interpolateAtReference(f, v, 99.9, true), 50.0);
    // Beyond the last tone: the nearest component's value.
    EXPECT_DOUBLE_EQ(interpolateAtReference(f, v, 3850.0, false), 37.0);
    f[0] = 120.0f;
    EXPECT_DOUBLE_EQ(interpolateAtReference(f, v, 110.0, false), 0.0);
    // A cleared record has no measured component.
    std::array<Le<float>, 38> zero{};
    EXPECT_DOUBLE_EQ(interpolateAtReference(zero, v, 1000.0, false), 0.0);
    EXPECT_DOUBLE_EQ(interpolateAtReference(zero, v, 1000.0, true), -999.0);
    // Impedance tones never measured have frequency 0: a segment ending there gives -999.
    std::array<Le<float>, 38> gaps = f;
    gaps[10] = 0.0f;
    EXPECT_DOUBLE_EQ(interpolateAtReference(gaps, v, 1050.0, true), -999.0);
    EXPECT_DOUBLE_EQ(interpolateAtReference(gaps, v, 950.0, true), 8.5);
}

} // namespace
} // namespace vetlina
