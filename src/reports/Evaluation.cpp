#include "reports/Evaluation.h"

#include "app/Complex.h"
#include "app/UiBridge.h"
#include "app/WindowModels.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "reports/DocumentEntries.h"
#include "reports/Documents.h"
#include "reports/EvaluationRows.h"
#include "reports/Passport.h"
#include "scenario/ScenarioEntry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vetlina {

// The accumulation of the statistics belongs to the data files; this stub stays until
// their work takes it over.

void resetCycleStatistics(ScenarioEntry& entry) {
    (void)entry;
}

namespace {

// Every text of the statistics window in code page 1251, converted once.
struct Texts {
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
    std::string columns = "                            Норма    Измер.  Средн.  СКО  Кл.   Измер.  "
                          "Средн.  СКО  Кл."_cp;
    std::string parColumns = " Не соответствует норме     Норма    Измер.  Средн.  СКО  Кл.   "
                             "Измер.  Средн.  СКО  Кл."_cp;
    std::string callLine = "%-36s Исх %s               Вх %s"_cp;
    std::string callText = "Вызов %d НУС %d НУВ %d Отб %d"_cp;
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
    std::string session = "Сеанс "_cp;
    std::string of = " (из "_cp;
    std::string sessionClass = "): класс "_cp;
    std::string early = " - досрочное выполнение"_cp;
    std::string complete = " - цикл выполнен"_cp;
};

const Texts& texts() {
    static const Texts t;
    return t;
}

constexpr double kFrequencyPointMin = 99.99;

// A norm as the rows take it: absent at -998 and below.
double normOf(double stored) {
    return stored > -998.0 ? stored : kRowNoNorm;
}
// The relative-time norms are held as decimal exponents: the norm is 10^n.
double powerNormOf(int32_t exponent) {
    return exponent > -998 ? std::pow(10.0, exponent) : kRowNoNorm;
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

template <typename... Args>
std::string format(const std::string& pattern, Args... args) {
    char buffer[192];
    const int n = std::snprintf(buffer, sizeof buffer, pattern.c_str(), args...);
    if (n < 0)
        return std::string();
    return std::string(buffer,
                       std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
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
    const Texts& t = texts();
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
    const Texts& t = texts();
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
    const Texts& t = texts();
    sheet.statLines.push_back(t.o131Head);
    GroupRows<O131Stats> g(sheet, e.o131B, e.o131A, e.o131B.count.get(), e.o131A.count.get());
    g.plain(t.level, O131Stats::level);
    g.row(t.snr, e.o131SNROn, O131Stats::o131SNR, NormSense::Min, normOf(e.o131SNR.get()));
}

void noiseRows(EvaluationSheet& sheet, const ScenarioEntry& e) {
    const Texts& t = texts();
    sheet.statLines.push_back(t.noiseHead);
    GroupRows<NoiseStats> g(sheet, e.noiseB, e.noiseA, e.noiseB.count.get(), e.noiseA.count.get());
    using S = NoiseStats;
    g.row(t.noise, e.blkNoiseOn, S::blkNoise, NormSense::Max, normOf(e.blkNoise.get()));
    g.row(t.noisePs, e.blkNoisePsOn, S::blkNoisePs, NormSense::Max, normOf(e.blkNoisePs.get()));
    g.row(t.noiseSel, e.blkNoiseSelOn, S::blkNoiseSel, NormSense::Max, normOf(e.blkNoiseSel.get()));
}

void echoRows(EvaluationSheet& sheet, const ScenarioEntry& e) {
    const Texts& t = texts();
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
    const Texts& t = texts();
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
    const Texts& t = texts();
    sheet.statLines.push_back(t.mttHead);
    GroupRows<MultiFrequencyStats> g(sheet, e.mttB, e.mttA, e.mttB.count.get(), e.mttA.count.get());
    g.plain(t.level, 0);
    for (int k = 0; k < kMttPoints; ++k) {
        const double f = e.AttF[k].get();
        if (!(f > kFrequencyPointMin))
            continue;
        const RowClasses classes =
            g.row(format(t.mttAtt, f), e.mttAttOn, 1 + k, NormSense::Max, normOf(e.Att[k].get()));
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
        if (!(f > kFrequencyPointMin))
            continue;
        g.row(format(t.mttDel, f), e.mttDelOn, 1 + kMttPoints + k, NormSense::Max,
              normOf(e.Del[k].get()), 1000.0);
    }
}

void o42Rows(EvaluationSheet& sheet, const ScenarioEntry& e) {
    const Texts& t = texts();
    sheet.statLines.push_back(t.o42Head);
    GroupRows<O42Stats> g(sheet, e.o42B, e.o42A, e.o42B.count.get(), e.o42A.count.get());
    using S = O42Stats;
    g.plain(t.level, S::level);
    g.row(t.o42Dis2, e.o42Dis2On, S::o42Dis2, NormSense::Max, normOf(e.o42Dis2.get()));
    g.row(t.o42Dis3, e.o42Dis3On, S::o42Dis3, NormSense::Max, normOf(e.o42Dis3.get()));
    g.row(t.o42Dis23, e.o42Dis23On, S::o42Dis23, NormSense::Max, normOf(e.o42Dis23.get()));
}

void throughputRows(EvaluationSheet& sheet, const ScenarioEntry& e, PassportClasses& passport) {
    const Texts& t = texts();
    sheet.statLines.push_back(t.throughputHead);
    GroupRows<ThroughputStats> g(sheet, e.throughputB, e.throughputA, e.throughputB.count.get(),
                                 e.throughputA.count.get());
    passport.data = g.row(t.throughput, e.disPassOn, ThroughputStats::disPass, NormSense::Min,
                          normOf(e.disPass.get()));
}

bool anyPlanned(const ScenarioEntry& e) {
    return performsSine(e) || performsO132(e) || performsO131(e) || performsNoise(e) ||
           performsEcho(e) || performsImpedance(e) || performsMultiFrequency(e) || performsO42(e) ||
           performsThroughput(e);
}

bool normed(bool selected, double norm) {
    return selected && norm > -998.0;
}

// The session counts of both blocks of a group reach the required count (block A only
// when the far end is a complex that measures too).
bool counted(const ScenarioEntry& e, int32_t countB, int32_t countA, int32_t required) {
    return countB >= required && (e.ComplexType != 0 || countA >= required);
}

} // namespace

ClassPair PassportClasses::electrical() const {
    ClassPair worst;
    for (const ClassPair& p : {attenuation, afc1800, afc2400, snr, jitter, impulse}) {
        worst.b = std::max(worst.b, p.b);
        worst.a = std::max(worst.a, p.a);
    }
    return worst;
}

bool enoughStatistics(const ScenarioEntry& e) {
    if (!e.Analog)
        return true;
    const int32_t required = std::max<int32_t>(e.NumMin.get(), 3);
    const auto n = [](auto stored) { return static_cast<double>(stored.get()); };

    if (performsSine(e)) {
        const bool anyNorm =
            normed(e.sinSNROn, n(e.sinSNR)) || normed(e.sinSNRpsOn, n(e.sinSNRps)) ||
            normed(e.sinJitPhOn, n(e.sinJitPh)) || normed(e.sinJitAmOn, n(e.sinJitAm)) ||
            normed(e.sinShiftOn, n(e.sinShift)) || normed(e.sinPulPrcOn, n(e.sinPulPrc)) ||
            normed(e.sinPulCntOn, n(e.sinPulCnt)) || normed(e.sinPulRelOn, n(e.sinPulRel)) ||
            normed(e.sinIntPrcOn, n(e.sinIntPrc)) || normed(e.sinIntCntOn, n(e.sinIntCnt)) ||
            normed(e.sinIntRelOn, n(e.sinIntRel)) || normed(e.sinSumPrcOn, n(e.sinSumPrc)) ||
            normed(e.sinSumCntOn, n(e.sinSumCnt)) || normed(e.sinSumRelOn, n(e.sinSumRel)) ||
            normed(e.sinHitPhOn, n(e.sinHitPh)) || normed(e.sinHitAmOn, n(e.sinHitAm)) ||
            normed(e.sinModOn, n(e.sinMod)) || normed(e.sinAttOn, n(e.sinAtt)) ||
            normed(e.sinDis2On, n(e.sinDis2)) || normed(e.sinDis3On, n(e.sinDis3)) ||
            normed(e.sinDis23On, n(e.sinDis23));
        if (anyNorm && !counted(e, e.sineB.count.get(), e.sineA.count.get(), required))
            return false;
    }
    if (performsO132(e)) {
        const bool anyNorm =
            normed(e.o132SNROn, n(e.o132SNR)) || normed(e.o132SNRpsOn, n(e.o132SNRps)) ||
            normed(e.o132JitPhOn, n(e.o132JitPh)) || normed(e.o132JitAmOn, n(e.o132JitAm)) ||
            normed(e.o132ShiftOn, n(e.o132Shift));
        if (anyNorm && !counted(e, e.o132B.count.get(), e.o132A.count.get(), required))
            return false;
    }
    if (performsO131(e) && normed(e.o131SNROn, n(e.o131SNR)) &&
        !counted(e, e.o131B.count.get(), e.o131A.count.get(), required))
        return false;
    if (performsNoise(e)) {
        const bool anyNorm = normed(e.blkNoiseOn, n(e.blkNoise)) ||
                             normed(e.blkNoisePsOn, n(e.blkNoisePs)) ||
                             normed(e.blkNoiseSelOn, n(e.blkNoiseSel));
        if (anyNorm && !counted(e, e.noiseB.count.get(), e.noiseA.count.get(), required))
            return false;
    }
    if (performsEcho(e)) {
        // Each echo kind keeps its own count; a kind that is normed must have enough.
        if (normed(e.echoTalkOn, n(e.echoTalk)) &&
            !counted(e, e.echoB.echoTalkCount.get(), e.echoA.echoTalkCount.get(), required))
            return false;
        if (normed(e.echoListOn, n(e.echoList)) &&
            !counted(e, e.echoB.echoListCount.get(), e.echoA.echoListCount.get(), required))
            return false;
    }
    if (performsImpedance(e)) {
        const bool anyNorm =
            normed(e.impImpedOn, n(e.impImped)) || normed(e.impCapacOn, n(e.impCapac));
        if (anyNorm && !counted(e, e.impedanceB.count.get(), e.impedanceA.count.get(), required))
            return false;
    }
    if (performsMultiFrequency(e)) {
        bool attNorm = false;
        bool delNorm = false;
        for (int k = 0; k < kMttPoints; ++k) {
            attNorm = attNorm || (e.AttF[k].get() > kFrequencyPointMin && n(e.Att[k]) > -998.0);
            delNorm = delNorm || (e.DelF[k].get() > kFrequencyPointMin && n(e.Del[k]) > -998.0);
        }
        const bool enough = counted(e, e.mttB.count.get(), e.mttA.count.get(), required);
        if ((e.mttAttOn && attNorm && !enough) || (e.mttDelOn && delNorm && !enough))
            return false;
    }
    if (performsO42(e)) {
        // A product counts as normed when its norm is not 0.
        const bool anyNorm = (e.o42Dis2On && e.o42Dis2.get() != 0) ||
                             (e.o42Dis3On && e.o42Dis3.get() != 0) ||
                             (e.o42Dis23On && e.o42Dis23.get() != 0);
        if (anyNorm && !counted(e, e.o42B.count.get(), e.o42A.count.get(), required))
            return false;
    }
    if (performsThroughput(e) && normed(e.disPassOn, n(e.disPass)) &&
        !counted(e, e.throughputB.count.get(), e.throughputA.count.get(), required))
        return false;
    return true;
}

CycleEvaluation evaluateCycle(ScenarioEntry& e, std::string_view caller,
                              std::string_view answerer) {
    const Texts& t = texts();
    CycleEvaluation out;
    out.calls = callPercentages(e);
    const int32_t done = e.SessionsDone.get();
    out.caption =
        t.session + std::to_string(done) + t.of + std::to_string(e.NumTotal.get()) + t.sessionClass;

    EvaluationSheet sheet;
    sheet.sessionsDone = done;
    const std::string calls =
        format(t.callText, e.Calls.get(), e.FailNUS.get(), e.FailNUV.get(), e.FailOtb.get());
    sheet.statLines.push_back(format(t.callLine, calls.c_str(), std::string(caller).c_str(),
                                     std::string(answerer).c_str()));
    if (anyPlanned(e)) {
        sheet.statLines.push_back(t.columns);
        sheet.parLines.push_back(t.parColumns);
    }
    if (performsSine(e))
        sineRows(sheet, e, out.passport);
    if (performsO132(e))
        o132Rows(sheet, e, out.passport);
    if (performsO131(e))
        o131Rows(sheet, e);
    if (performsNoise(e))
        noiseRows(sheet, e);
    if (performsEcho(e))
        echoRows(sheet, e);
    if (performsImpedance(e))
        impedanceRows(sheet, e);
    if (performsMultiFrequency(e))
        multiFrequencyRows(sheet, e, out.passport);
    if (performsO42(e))
        o42Rows(sheet, e);
    if (performsThroughput(e))
        throughputRows(sheet, e, out.passport);

    out.sessionClass = sheet.sessionClass;
    out.normFailed = sheet.normFailed;
    out.statLines = std::move(sheet.statLines);
    out.parLines = std::move(sheet.parLines);

    std::string classText =
        done == 1 || out.sessionClass == 0 ? std::string("*") : std::to_string(out.sessionClass);
    // The good-session streak counts from session NumMin - 2 on.
    if (out.sessionClass == 1 && done > e.NumMin.get() - 3)
        e.EvalCounterA = e.EvalCounterA.get() + 1;
    else
        e.EvalCounterA = 0;
    e.EvalCounterB = out.sessionClass;
    if (e.EvalCounterA.get() > 2 && enoughStatistics(e) && done < e.NumTotal.get()) {
        e.Finished = 1;
        out.finished = true;
        out.earlyEnd = true;
        classText += t.early;
    } else if (done >= e.NumTotal.get()) {
        out.finished = true;
        classText += t.complete;
    }
    out.caption += classText;
    return out;
}

void evaluateSession(Complex& complex, ScenarioEntry& entry, bool calling, bool& normFailed) {
    const SessionParties parties = sessionParties(complex, &entry, calling);
    CycleEvaluation evaluation = evaluateCycle(entry, parties.caller.ident, parties.answerer.ident);
    normFailed = evaluation.normFailed;

    complex.ui().invokeSync([&] {
        WindowModels& models = complex.ui().models();
        models.statistics.caption = evaluation.caption;
        models.statistics.lines = evaluation.statLines;
        models.pause.parameters = evaluation.parLines;
        models.notify(ModelPart::Statistics);
        models.notify(ModelPart::Pause);
    });
    complex.logEvent(evaluation.caption, true);
    writeSessionDocuments(complex, entry, parties, evaluation, now());
}

} // namespace vetlina
