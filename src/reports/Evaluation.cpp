#include "reports/Evaluation.h"

#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "platform/ValueMarks.h"
#include "reports/DocumentEntries.h"
#include "reports/Documents.h"
#include "reports/EvaluationRows.h"
#include "reports/FormattedText.h"
#include "reports/Passport.h"
#include "reports/RunContext.h"
#include "reports/StatisticsSections.h"
#include "scenario/ScenarioEntry.h"
#include "ui/UiBridge.h"
#include "ui/WindowModels.h"

#include <algorithm>
#include <cstdio>

namespace vetlina {

namespace {

// The texts of the caption and of the first lines, in code page 1251, converted once.
struct CycleTexts {
    std::string columns = "                            Норма    Измер.  Средн.  СКО  Кл.   Измер.  "
                          "Средн.  СКО  Кл."_cp;
    std::string parColumns = " Не соответствует норме     Норма    Измер.  Средн.  СКО  Кл.   "
                             "Измер.  Средн.  СКО  Кл."_cp;
    std::string callLine = "%-36s Исх %s               Вх %s"_cp;
    std::string callText = "Вызов %d НУС %d НУВ %d Отб %d"_cp;
    std::string session = "Сеанс "_cp;
    std::string of = " (из "_cp;
    std::string sessionClass = "): класс "_cp;
    std::string early = " - досрочное выполнение"_cp;
    std::string complete = " - цикл выполнен"_cp;
};

const CycleTexts& texts() {
    static const CycleTexts t;
    return t;
}

bool normed(bool selected, double norm) {
    return selected && norm > kNoNormBound;
}

// The session counts of both blocks of a group reach the required count (block A only
// when the far end is a complex that measures too).
bool counted(const ScenarioEntry& e, int32_t countB, int32_t countA, int32_t required) {
    return countB >= required && (e.ComplexType != kFullComplexType || countA >= required);
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
            attNorm =
                attNorm || (e.AttF[k].get() > kFrequencyPointFloor && n(e.Att[k]) > kNoNormBound);
            delNorm =
                delNorm || (e.DelF[k].get() > kFrequencyPointFloor && n(e.Del[k]) > kNoNormBound);
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
    const CycleTexts& t = texts();
    CycleEvaluation out;
    out.calls = callPercentages(e);
    const int32_t done = e.SessionsDone.get();
    out.caption =
        t.session + std::to_string(done) + t.of + std::to_string(e.NumTotal.get()) + t.sessionClass;

    EvaluationSheet sheet;
    sheet.sessionsDone = done;
    const std::string calls =
        formattedText(t.callText, e.Calls.get(), e.FailNUS.get(), e.FailNUV.get(), e.FailOtb.get());
    sheet.statLines.push_back(formattedText(t.callLine, calls.c_str(), std::string(caller).c_str(),
                                            std::string(answerer).c_str()));
    if (anyGroupPlanned(e)) {
        sheet.statLines.push_back(t.columns);
        sheet.parLines.push_back(t.parColumns);
    }
    addStatisticsSections(sheet, e, out.passport);

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

void evaluateSession(RunContext& run, ScenarioEntry& entry, bool calling, bool& normFailed) {
    const SessionParties parties = sessionParties(run.ownParty(), run.peerParty(), &entry, calling);
    CycleEvaluation evaluation = evaluateCycle(entry, parties.caller.ident, parties.answerer.ident);
    normFailed = evaluation.normFailed;

    run.ui().invokeSync([&] {
        WindowModels& models = run.ui().models();
        models.statistics.caption = evaluation.caption;
        models.statistics.lines = evaluation.statLines;
        models.pause.parameters = evaluation.parLines;
        models.notify(ModelPart::Statistics);
        models.notify(ModelPart::Pause);
    });
    run.logEvent(evaluation.caption, true);
    writeSessionDocuments(run, entry, parties, evaluation, now());
}

} // namespace vetlina
