#include "reports/StatisticsSections.h"

#include "platform/Cp1251.h"
#include "platform/ValueMarks.h"
#include "reports/FormattedText.h"
#include "scenario/ScenarioEntry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vetlina {

namespace {

// The headings and labels of the sections in code page 1251, converted once.
struct SectionTexts {
    std::string sineHead = "--- Гармонический сигнал "
                           "--------------------------------------------------------------"_cp;
    std::string o132Head = "--- Рекомендация О.132 "
                           "----------------------------------------------------------------"_cp;
    std::string o131Head = "--- Рекомендация О.131 "
                           "----------------------------------------------------------------"_cp;
    std::string noiseHead = "--- Шум "
                            "-------------------------------------------------------------------"
                            "------------"_cp;
    std::string echoHead = "--- Эхо "
                           "-------------------------------------------------------------------"
                           "------------"_cp;
    std::string impedanceHead =
        "--- Импеданс, ёмкость "
        "-----------------------------------------------------------------"_cp;
    std::string mttHead = "--- Многочастотный сигнал "
                          "-------------------------------------------------------------"_cp;
    std::string o42Head = "--- Рекомендация О.42 "
                          "-----------------------------------------------------------------"_cp;
    std::string throughputHead = "--- Передача данных "
                                 "-------------------------------------------------------------"
                                 "------"_cp;
    std::string level = "Уровень,дБм.............."_cp;
    std::string frequency = "Частота,Гц..............."_cp;
    std::string snr = "Сигнал/шум,дБ............"_cp;
    std::string snrPs = "Сигнал/шум псоф.,дБ......"_cp;
    std::string jitPh = "Дрожание фазы,град......."_cp;
    std::string jitAm = "Дрожание уровня,%........"_cp;
    std::string shift = "Сдвиг частоты,Гц........."_cp;
    std::string pulCnt = "Импульсные помехи,шт....."_cp;
    std::string pulPrc = "Имп.помехи, % сек........"_cp;
    std::string pulRel = "Имп.помехи, отн.время...."_cp;
    std::string intCnt = "Перерывы связи,шт........"_cp;
    std::string intPrc = "Перерывы, % сек.........."_cp;
    std::string intRel = "Перерывы, отн. время....."_cp;
    std::string sumCnt = "Помехи и перерывы,шт....."_cp;
    std::string sumPrc = "Помехи и перерывы, % сек."_cp;
    std::string sumRel = "Помехи и перерывы,отн.вр."_cp;
    std::string hitPh = "Скачки фазы,шт..........."_cp;
    std::string hitAm = "Скачки уровня,шт........."_cp;
    std::string mod = "Паразит. модуляции.,дБ..."_cp;
    std::string att = "Затухание,дБ............."_cp;
    std::string dis2 = "2-я гармоника,%.........."_cp;
    std::string dis3 = "3-я гармоника,%.........."_cp;
    std::string dis23 = "2+3 гармоники,%.........."_cp;
    std::string noise = "Уровень шума,дБм........."_cp;
    std::string noisePs = "Уровень шума псоф.,дБм..."_cp;
    std::string noiseSel = "Селективная помеха,дБм..."_cp;
    std::string echoTalk = "Эхо говорящего,дБ........"_cp;
    std::string echoList = "Эхо слушающего,дБ........"_cp;
    std::string imped = "Отклонение импеданса,Ом.."_cp;
    std::string capac = "Ёмкость,нФ..............."_cp;
    std::string mttAtt = "АЧХ,дБ........%4.0f,Гц...."_cp;
    std::string mttDel = "ГВП,мкс.......%4.0f,Гц...."_cp;
    std::string o42Dis2 = "Продукт 2-го порядка,%..."_cp;
    std::string o42Dis3 = "Продукт 3-го порядка,%..."_cp;
    std::string o42Dis23 = "Сумма продуктов,%........"_cp;
    std::string throughput = "Пропускная способность,%."_cp;
};

const SectionTexts& texts() {
    static const SectionTexts t;
    return t;
}

// A norm as the rows take it: absent at -998 and below.
double normOf(double stored) {
    return stored > kNoNormBound ? stored : kRowNoNorm;
}
// The relative-time norms are held as decimal exponents: the norm is 10^n.
double powerNormOf(int32_t exponent) {
    return exponent > kNoNormBound ? std::pow(10.0, exponent) : kRowNoNorm;
}

RowDirection direction(StatValue value, int32_t count, double scale = 1.0) {
    return {
        {static_cast<float>(value.last * scale), value.sum * scale, value.sumSq * scale * scale},
        count};
}

bool within(double frequency, double nominal) {
    return frequency > nominal - 1.0 && frequency < nominal + 1.0;
}

void worse(ClassPair& pair, RowClasses row) {
    pair.b = std::max(pair.b, row.b);
    pair.a = std::max(pair.a, row.a);
}

// The rows of one group: the B and A blocks side by side.
template <typename Block>
class GroupRows {
public:
    GroupRows(EvaluationSheet& sheet, const Block& b, const Block& a, int32_t countB,
              int32_t countA)
        : sheet_(sheet), b_(b), a_(a), countB_(countB), countA_(countA) {}

    RowClasses row(const std::string& label, bool selected, int item, NormSense sense, double norm,
                   double scale = 1.0) {
        return evaluateRow(sheet_, label, selected, direction(b_.item(item), countB_, scale),
                           direction(a_.item(item), countA_, scale), sense, norm);
    }
    // A row that is always shown and has no norm.
    void plain(const std::string& label, int item) {
        row(label, true, item, NormSense::Max, kRowNoNorm);
    }

private:
    EvaluationSheet& sheet_;
    const Block& b_;
    const Block& a_;
    int32_t countB_;
    int32_t countA_;
};

void sineRows(EvaluationSheet& sheet, const ScenarioEntry& e, PassportClasses& passport) {
    const SectionTexts& t = texts();
    sheet.statLines.push_back(t.sineHead);
    GroupRows<SineStats> g(sheet, e.sineB, e.sineA, e.sineB.count.get(), e.sineA.count.get());
    using S = SineStats;
    const auto max = NormSense::Max;
    const auto min = NormSense::Min;
    g.plain(t.level, S::level);
    g.plain(t.frequency, S::frequency);
    g.row(t.snr, e.sinSNROn, S::sinSNR, min, normOf(e.sinSNR.get()));
    g.row(t.snrPs, e.sinSNRpsOn, S::sinSNRps, min, normOf(e.sinSNRps.get()));
    g.row(t.jitPh, e.sinJitPhOn, S::sinJitPh, max, normOf(e.sinJitPh.get()));
    g.row(t.jitAm, e.sinJitAmOn, S::sinJitAm, max, normOf(e.sinJitAm.get()));
    g.row(t.shift, e.sinShiftOn, S::sinShift, max, normOf(e.sinShift.get()));
    g.row(t.pulCnt, e.sinPulCntOn, S::sinPulCnt, max, normOf(e.sinPulCnt.get()));
    g.row(t.pulPrc, e.sinPulPrcOn, S::sinPulPrc, max, normOf(e.sinPulPrc.get()));
    g.row(t.pulRel, e.sinPulRelOn, S::sinPulRel, max, powerNormOf(e.sinPulRel.get()));
    g.row(t.intCnt, e.sinIntCntOn, S::sinIntCnt, max, normOf(e.sinIntCnt.get()));
    g.row(t.intPrc, e.sinIntPrcOn, S::sinIntPrc, max, normOf(e.sinIntPrc.get()));
    g.row(t.intRel, e.sinIntRelOn, S::sinIntRel, max, powerNormOf(e.sinIntRel.get()));
    g.row(t.sumCnt, e.sinSumCntOn, S::sinSumCnt, max, normOf(e.sinSumCnt.get()));
    passport.impulse = g.row(t.sumPrc, e.sinSumPrcOn, S::sinSumPrc, max, normOf(e.sinSumPrc.get()));
    g.row(t.sumRel, e.sinSumRelOn, S::sinSumRel, max, powerNormOf(e.sinSumRel.get()));
    g.row(t.hitPh, e.sinHitPhOn, S::sinHitPh, max, normOf(e.sinHitPh.get()));
    g.row(t.hitAm, e.sinHitAmOn, S::sinHitAm, max, normOf(e.sinHitAm.get()));
    g.row(t.mod, e.sinModOn, S::sinMod, min, normOf(e.sinMod.get()));
    g.row(t.att, e.sinAttOn, S::sinAtt, max, normOf(e.sinAtt.get()));
    g.row(t.dis2, e.sinDis2On, S::sinDis2, max, normOf(e.sinDis2.get()));
    g.row(t.dis3, e.sinDis3On, S::sinDis3, max, normOf(e.sinDis3.get()));
    g.row(t.dis23, e.sinDis23On, S::sinDis23, max, normOf(e.sinDis23.get()));
}

void o132Rows(EvaluationSheet& sheet, const ScenarioEntry& e, PassportClasses& passport) {
    const SectionTexts& t = texts();
    sheet.statLines.push_back(t.o132Head);
    GroupRows<O132Stats> g(sheet, e.o132B, e.o132A, e.o132B.count.get(), e.o132A.count.get());
    using S = O132Stats;
    g.plain(t.level, S::level);
    g.plain(t.frequency, S::frequency);
    passport.snr = g.row(t.snr, e.o132SNROn, S::o132SNR, NormSense::Min, normOf(e.o132SNR.get()));
    g.row(t.snrPs, e.o132SNRpsOn, S::o132SNRps, NormSense::Min, normOf(e.o132SNRps.get()));
    passport.jitter =
        g.row(t.jitPh, e.o132JitPhOn, S::o132JitPh, NormSense::Max, normOf(e.o132JitPh.get()));
    g.row(t.jitAm, e.o132JitAmOn, S::o132JitAm, NormSense::Max, normOf(e.o132JitAm.get()));
    g.row(t.shift, e.o132ShiftOn, S::o132Shift, NormSense::Max, normOf(e.o132Shift.get()));
}

void o131Rows(EvaluationSheet& sheet, const ScenarioEntry& e) {
    const SectionTexts& t = texts();
    sheet.statLines.push_back(t.o131Head);
    GroupRows<O131Stats> g(sheet, e.o131B, e.o131A, e.o131B.count.get(), e.o131A.count.get());
    g.plain(t.level, O131Stats::level);
    g.row(t.snr, e.o131SNROn, O131Stats::o131SNR, NormSense::Min, normOf(e.o131SNR.get()));
}

void noiseRows(EvaluationSheet& sheet, const ScenarioEntry& e) {
    const SectionTexts& t = texts();
    sheet.statLines.push_back(t.noiseHead);
    GroupRows<NoiseStats> g(sheet, e.noiseB, e.noiseA, e.noiseB.count.get(), e.noiseA.count.get());
    using S = NoiseStats;
    g.row(t.noise, e.blkNoiseOn, S::blkNoise, NormSense::Max, normOf(e.blkNoise.get()));
    g.row(t.noisePs, e.blkNoisePsOn, S::blkNoisePs, NormSense::Max, normOf(e.blkNoisePs.get()));
    g.row(t.noiseSel, e.blkNoiseSelOn, S::blkNoiseSel, NormSense::Max, normOf(e.blkNoiseSel.get()));
}

void echoRows(EvaluationSheet& sheet, const ScenarioEntry& e) {
    const SectionTexts& t = texts();
    sheet.statLines.push_back(t.echoHead);
    // Talker and listener echo keep a count each.
    evaluateRow(sheet, t.echoTalk, e.echoTalkOn,
                direction(e.echoB.item(EchoStats::echoTalk), e.echoB.echoTalkCount.get()),
                direction(e.echoA.item(EchoStats::echoTalk), e.echoA.echoTalkCount.get()),
                NormSense::Min, normOf(e.echoTalk.get()));
    evaluateRow(sheet, t.echoList, e.echoListOn,
                direction(e.echoB.item(EchoStats::echoList), e.echoB.echoListCount.get()),
                direction(e.echoA.item(EchoStats::echoList), e.echoA.echoListCount.get()),
                NormSense::Min, normOf(e.echoList.get()));
}

void impedanceRows(EvaluationSheet& sheet, const ScenarioEntry& e) {
    const SectionTexts& t = texts();
    sheet.statLines.push_back(t.impedanceHead);
    GroupRows<ImpedanceStats> g(sheet, e.impedanceB, e.impedanceA, e.impedanceB.count.get(),
                                e.impedanceA.count.get());
    g.row(t.imped, e.impImpedOn, ImpedanceStats::impImped, NormSense::Max,
          normOf(e.impImped.get()));
    // The capacitance is held in µF and shown and normed in nF.
    g.row(t.capac, e.impCapacOn, ImpedanceStats::impCapac, NormSense::Max, normOf(e.impCapac.get()),
          1000.0);
}

void multiFrequencyRows(EvaluationSheet& sheet, const ScenarioEntry& e, PassportClasses& passport) {
    const SectionTexts& t = texts();
    sheet.statLines.push_back(t.mttHead);
    GroupRows<MultiFrequencyStats> g(sheet, e.mttB, e.mttA, e.mttB.count.get(), e.mttA.count.get());
    g.plain(t.level, 0);
    for (int k = 0; k < kMttPoints; ++k) {
        const double f = e.AttF[k].get();
        if (!(f > kFrequencyPointFloor))
            continue;
        const RowClasses classes = g.row(formattedText(t.mttAtt, f), e.mttAttOn, 1 + k,
                                         NormSense::Max, normOf(e.Att[k].get()));
        if (within(f, 1000.0) || within(f, 1020.0))
            worse(passport.attenuation, classes);
        if (within(f, 1800.0))
            worse(passport.afc1800, classes);
        if (within(f, 2400.0))
            worse(passport.afc2400, classes);
    }
    // Group delay is held in ms and shown and normed in µs.
    for (int k = 0; k < kMttPoints; ++k) {
        const double f = e.DelF[k].get();
        if (!(f > kFrequencyPointFloor))
            continue;
        g.row(formattedText(t.mttDel, f), e.mttDelOn, 1 + kMttPoints + k, NormSense::Max,
              normOf(e.Del[k].get()), 1000.0);
    }
}

void o42Rows(EvaluationSheet& sheet, const ScenarioEntry& e) {
    const SectionTexts& t = texts();
    sheet.statLines.push_back(t.o42Head);
    GroupRows<O42Stats> g(sheet, e.o42B, e.o42A, e.o42B.count.get(), e.o42A.count.get());
    using S = O42Stats;
    g.plain(t.level, S::level);
    g.row(t.o42Dis2, e.o42Dis2On, S::o42Dis2, NormSense::Max, normOf(e.o42Dis2.get()));
    g.row(t.o42Dis3, e.o42Dis3On, S::o42Dis3, NormSense::Max, normOf(e.o42Dis3.get()));
    g.row(t.o42Dis23, e.o42Dis23On, S::o42Dis23, NormSense::Max, normOf(e.o42Dis23.get()));
}

void throughputRows(EvaluationSheet& sheet, const ScenarioEntry& e, PassportClasses& passport) {
    const SectionTexts& t = texts();
    sheet.statLines.push_back(t.throughputHead);
    GroupRows<ThroughputStats> g(sheet, e.throughputB, e.throughputA, e.throughputB.count.get(),
                                 e.throughputA.count.get());
    passport.data = g.row(t.throughput, e.disPassOn, ThroughputStats::disPass, NormSense::Min,
                          normOf(e.disPass.get()));
}

} // namespace

bool anyGroupPlanned(const ScenarioEntry& e) {
    return performsSine(e) || performsO132(e) || performsO131(e) || performsNoise(e) ||
           performsEcho(e) || performsImpedance(e) || performsMultiFrequency(e) || performsO42(e) ||
           performsThroughput(e);
}

void addStatisticsSections(EvaluationSheet& sheet, const ScenarioEntry& e,
                           PassportClasses& passport) {
    if (performsSine(e))
        sineRows(sheet, e, passport);
    if (performsO132(e))
        o132Rows(sheet, e, passport);
    if (performsO131(e))
        o131Rows(sheet, e);
    if (performsNoise(e))
        noiseRows(sheet, e);
    if (performsEcho(e))
        echoRows(sheet, e);
    if (performsImpedance(e))
        impedanceRows(sheet, e);
    if (performsMultiFrequency(e))
        multiFrequencyRows(sheet, e, passport);
    if (performsO42(e))
        o42Rows(sheet, e);
    if (performsThroughput(e))
        throughputRows(sheet, e, passport);
}

} // namespace vetlina
