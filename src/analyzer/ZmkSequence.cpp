// The command loop of the analyzer thread and the steps of the measurement sequence.
//
// A pass is the range step, then the meter steps (this complex measures) or the
// generator steps (it generates), then the end of the pass. The two complexes run
// their passes at the same time, one generating while the other measures, and stay in
// step only through the stored deadline: every step advances it by durations that
// both take from the same scenario entry, so rounding and order here are binding.
#include "analyzer/ZmkSequence.h"

#include "analyzer/VisualisationPanel.h"
#include "analyzer/ZMK.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "ui/UiBridge.h"

#include <algorithm>
#include <cmath>

namespace vetlina {

namespace {

// The generator off: the level that silences it, at the frequency it is parked on.
constexpr double kSilentLevel = -200.0;
constexpr double kParkFrequency = 1020.0;

// The range step lasts this long from its start.
constexpr double kRangeStepSeconds = 5.0;
// The fixed programme of an autonomous generator, as this meter follows it.
constexpr double kAutonomousSineFrequency = 1800.0;
constexpr double kAutonomousSineSearch = 60.0;    // s, less the half delay
constexpr double kAutonomousSimpleMeasure = 64.0; // s from the sine found, less h
constexpr double kAutonomousShortKind = 20.0;     // s, O.132 and multi-frequency
constexpr double kAutonomousEcho = 60.0;          // s, each echo
constexpr double kAutonomousEchoLevel = -5.0;     // dBm
constexpr double kAutonomousEchoFrequency = 1600.0;
constexpr double kAutonomousEchoProbe = 5.0; // s, each probe
constexpr double kAutonomousEchoAnalysis = 0.02;

// Line modes of the range step: this complex measures first, or generates first.
constexpr int kLineModeMeasureFirst = 11;
constexpr int kLineModeGenerateFirst = 265;
constexpr int kLineModeOff = 0;

constexpr const char* kSwitchOffFailure = "Не выполнена команда отключения. нужен перезапуск";
constexpr const char* kBackLabel = "ZmkBack()";
constexpr const char* kSynchronising = "Измеритель: синхронизация";

} // namespace

// A meter step of the common pattern: wait h, measure for the kind's duration, wait h.
struct ZmkSequence::MeterKind {
    AnalyzerCommand command;
    AnalyzerCommand next;
    AnalyzerCommand nextAutonomous;
    bool autonomousToo; // measured for an autonomous generator whether enabled or not
    bool (*enabled)(const ScenarioEntry&);
    double (*duration)(const ScenarioEntry&);
    const char* event;   // event line
    const char* caption; // visualisation caption while measuring
    int type;            // block type the waits expect
    ResultKind kind;
    const char* resultsCaption;
};

// A generator step: set the generator up and run it for the kind's duration plus the
// synchronisation delay.
struct ZmkSequence::GeneratorKind {
    AnalyzerCommand command;
    AnalyzerCommand next;
    bool (*enabled)(const ScenarioEntry&);
    double (*duration)(const ScenarioEntry&);
    const char* event;
    const char* caption;
    ShowKind bar;
};

namespace {

// The event lines and visualisation captions write O.132, O.131 and O.42 with the
// Latin letter O, the results captions with the Cyrillic letter О.
const ZmkSequence::MeterKind kMeterKinds[] = {
    {AnalyzerCommand::MeterO132, AnalyzerCommand::MeterO131, AnalyzerCommand::MeterMtts, true,
     performsO132, [](const ScenarioEntry& e) { return e.O132Time.get(); }, "Измеритель: O.132",
     "Измеритель: O.132, дБм/Гц", 1, ResultKind::O132, "Сигнал О.132"},
    {AnalyzerCommand::MeterO131, AnalyzerCommand::MeterMtts, AnalyzerCommand::MeterMtts, false,
     performsO131, [](const ScenarioEntry& e) { return e.O131Time.get(); }, "Измеритель: O.131",
     "Измеритель: O.131, дБм/Гц", -2, ResultKind::O131, "Сигнал О.131"},
    {AnalyzerCommand::MeterMtts, AnalyzerCommand::MeterO42, AnalyzerCommand::MeterListenerEcho,
     true, performsMultiFrequency, [](const ScenarioEntry& e) { return e.MTTSTime.get(); },
     "Измеритель: МЧС", "Измеритель: Многочастотный сигнал, дБм/Гц", -1, ResultKind::Mtts,
     "Многочастотный сигнал"},
    {AnalyzerCommand::MeterO42, AnalyzerCommand::MeterImpedance, AnalyzerCommand::MeterImpedance,
     false, performsO42, [](const ScenarioEntry& e) { return e.O42Time.get(); }, "Измеритель: O.42",
     "Измеритель: O.42, дБм/Гц", -3, ResultKind::O42, "Сигнал О.42"},
    {AnalyzerCommand::MeterNoise, AnalyzerCommand::MeterTalkerEcho,
     AnalyzerCommand::MeterTalkerEcho, false, performsNoise,
     [](const ScenarioEntry& e) { return e.BlkTime.get(); }, "Измеритель: Шум",
     "Измеритель: Шум, дБм/Гц", 0, ResultKind::Noise, "Шум"},
};

const ZmkSequence::MeterKind* meterKind(AnalyzerCommand command) {
    for (const ZmkSequence::MeterKind& k : kMeterKinds)
        if (k.command == command)
            return &k;
    return nullptr;
}

// The meter's echo set-up of both echo steps: the probe times, the frequency and the
// analysis window from the entry (or the generator's fixed programme); the first
// probe at `firstLevel`, the second always silent.
EchoSettings echoProbes(const ScenarioEntry& e, bool autonomous, double firstLevel) {
    EchoSettings s;
    if (autonomous) {
        s.firstProbeTime = kAutonomousEchoProbe;
        s.firstFrequency = kAutonomousEchoFrequency;
        s.secondProbeTime = kAutonomousEchoProbe;
        s.analysisTime = kAutonomousEchoAnalysis;
    } else {
        s.firstProbeTime = e.EchoT1.get() * 0.001;
        s.firstFrequency = e.EchoFreq.get();
        s.secondProbeTime = e.EchoT2.get() * 0.001;
        s.analysisTime = e.EchoT.get() * 0.001;
    }
    s.firstLevel = firstLevel;
    s.firstPhase = 0.0;
    s.secondLevel = kSilentLevel;
    s.secondFrequency = s.firstFrequency;
    s.secondPhase = 0.0;
    return s;
}

// The generator steps, in the order of a generating pass; the listener echo follows them.
const ZmkSequence::GeneratorKind kGeneratorKinds[] = {
    {AnalyzerCommand::GeneratorSine, AnalyzerCommand::GeneratorO132, performsSine,
     [](const ScenarioEntry& e) { return e.SinTime.get(); }, "Генератор: SIN", "Генератор: SIN",
     ShowKind::Sin},
    {AnalyzerCommand::GeneratorO132, AnalyzerCommand::GeneratorO131, performsO132,
     [](const ScenarioEntry& e) { return e.O132Time.get(); }, "Генератор: O.132",
     "Генератор: O.132", ShowKind::O132},
    {AnalyzerCommand::GeneratorO131, AnalyzerCommand::GeneratorMtts, performsO131,
     [](const ScenarioEntry& e) { return e.O131Time.get(); }, "Генератор: O.131",
     "Генератор: O.131", ShowKind::O131},
    {AnalyzerCommand::GeneratorMtts, AnalyzerCommand::GeneratorO42, performsMultiFrequency,
     [](const ScenarioEntry& e) { return e.MTTSTime.get(); }, "Генератор: МЧС",
     "Генератор: Многочастотный сигнал", ShowKind::Mtts},
    {AnalyzerCommand::GeneratorO42, AnalyzerCommand::GeneratorImpedance, performsO42,
     [](const ScenarioEntry& e) { return e.O42Time.get(); }, "Генератор: O.42", "Генератор: O.42",
     ShowKind::O42},
    {AnalyzerCommand::GeneratorImpedance, AnalyzerCommand::GeneratorNoise, performsImpedance,
     [](const ScenarioEntry& e) { return e.ImpTime.get(); }, "Генератор: Импеданс",
     "Генератор: Импеданс", ShowKind::Imp},
    {AnalyzerCommand::GeneratorNoise, AnalyzerCommand::MeterListenerEcho, performsNoise,
     [](const ScenarioEntry& e) { return e.BlkTime.get(); }, "Генератор: Шум", "Генератор: Шум",
     ShowKind::Blk},
};

const ZmkSequence::GeneratorKind* generatorKind(AnalyzerCommand command) {
    for (const ZmkSequence::GeneratorKind& k : kGeneratorKinds)
        if (k.command == command)
            return &k;
    return nullptr;
}

} // namespace

ZmkSequence::ZmkSequence(ZMK& thread, ZmkLink& link, ZmkResults& results)
    : thread_(thread), link_(link), results_(results), fallbackEntry_(defaultEntry()) {}

// ---- Scenario ---------------------------------------------------------------------------

const ScenarioEntry& ZmkSequence::entry() const {
    const ScenarioEntry* e = thread_.runEntry();
    return e ? *e : fallbackEntry_;
}

bool ZmkSequence::autonomous() const {
    return entry().ComplexType == kGeneratorComplexType;
}

double ZmkSequence::syncDelay() const {
    // The entry keeps the delay as a count that the sequence takes as seconds; the
    // half delay h is the delay shown to the operator. An entry from the far complex
    // is held to a sane range, the same on both sides.
    return std::clamp<double>(entry().SincTime.get(), 0.0, 3600.0);
}

double ZmkSequence::halfDelay() const {
    return syncDelay() * 0.5;
}

ResultContext ZmkSequence::resultContext() const {
    const ScenarioEntry& e = entry();
    ResultContext c;
    c.autonomous = autonomous();
    c.firstPass = thread_.firstPass();
    c.sinFreq = e.SinFreq.get();
    c.o132Freq = e.O132Freq.get();
    c.sinLev = e.SinLev.get();
    c.sinLevR = e.SinLevR.get();
    c.mttsLev = e.MTTSLev.get();
    c.mttsLevR = e.MTTSLevR.get();
    c.attNotch = e.AttNotch.get();
    c.delNotch = e.DelNotch.get();
    return c;
}

ModemCommand ZmkSequence::measuredCommand() {
    return performsThroughput(entry()) ? ModemCommand::ThroughputTest : ModemCommand::Reconnect;
}

bool ZmkSequence::run(const CommandPlan& plan) {
    return results_.runPlan(plan);
}

void ZmkSequence::handBack(AnalyzerCommand ownCommand, ModemCommand modemCommand) {
    // A stopped thread hands nothing back: the run is ending.
    if (!thread_.SetCommand(ownCommand))
        return;
    if (ModemThread* m = thread_.modem())
        m->SetCommand(modemCommand);
}

void ZmkSequence::step(AnalyzerCommand current) {
    stepCommand_ = current;
    switch (current) {
    case AnalyzerCommand::MeasureFirst:
    case AnalyzerCommand::GenerateFirst:
        rangeStep(current);
        return;
    case AnalyzerCommand::MeterSine:
        meterSine();
        return;
    case AnalyzerCommand::MeterO132:
    case AnalyzerCommand::MeterO131:
    case AnalyzerCommand::MeterMtts:
    case AnalyzerCommand::MeterO42:
    case AnalyzerCommand::MeterNoise:
        meterStep(*meterKind(current));
        return;
    case AnalyzerCommand::MeterImpedance:
        meterImpedance();
        return;
    case AnalyzerCommand::MeterTalkerEcho:
        meterTalkerEcho();
        return;
    case AnalyzerCommand::MeterListenerEcho:
        meterListenerEcho();
        return;
    case AnalyzerCommand::EndOfPass:
        endOfPass();
        return;
    case AnalyzerCommand::SwitchOff:
        switchOff();
        return;
    default:
        break;
    }
    if (const GeneratorKind* kind = generatorKind(current)) {
        generatorStep(*kind);
        return;
    }
    // Idle, and a number no step answers to: the idle poll.
    idlePoll();
}

// ---- Idle and switch-off ----------------------------------------------------------------

void ZmkSequence::idlePoll() {
    const uint32_t event = link_.ReadEvent();
    if (event & zmkstatus::SwitchedOff) {
        link_.AnalyzerFailure(toCp1251(kSwitchedOffText));
        return;
    }
    if (event & zmkstatus::BlockReady)
        link_.DropBlock();
}

void ZmkSequence::switchOff() {
    // Refused (and the stored mode kept) while an impedance or echo mode is on.
    SetLineMode(results_.state(), kLineModeOff);
    const PlanOutcome outcome =
        sendPlan(SendLineMode(results_.state()), [this](const uint8_t* bytes, std::size_t count) {
            return link_.SendCommand(bytes, count);
        });
    if (outcome.ok && !link_.stopRequested()) {
        thread_.SetCommand(AnalyzerCommand::Idle);
        return;
    }
    if (!thread_.Terminated())
        link_.AnalyzerFailure(toCp1251(kSwitchOffFailure));
}

// ---- Range step ---------------------------------------------------------------------------

void ZmkSequence::rangeStep(AnalyzerCommand current) {
    thread_.deadline = tickMs();
    const ScenarioEntry& e = entry();
    const bool first = thread_.firstPass();
    thread_.SetShowCaption(first ? "Подключение анализатора"_cp
                                 : "Изменение направления измерений"_cp);
    thread_.invokeSync([this, &e] {
        setUpVisualisationPanel(thread_.ui().models().show, e);
        thread_.ui().models().notify(ModelPart::Visualisation);
    });
    if (first)
        thread_.SetResultsCaption("Результаты"_cp);

    // Stored only; the next mode command sends it.
    SetLineMode(results_.state(), current == AnalyzerCommand::MeasureFirst
                                      ? kLineModeMeasureFirst
                                      : kLineModeGenerateFirst);
    results_.state().recognitionThreshold = e.MinSNR.get();
    if (!run(MeterLevHiLowRangeSet(results_.state(), e.MaxLev.get(), e.MinLev.get())))
        return;
    if (!run(HarmSet(results_.state(), kSilentLevel, kParkFrequency)))
        return;
    if (!Pause(1.0)) {
        if (thread_.Terminated())
            sleepMs(1000);
        return;
    }
    if (!PauseDeadline(kRangeStepSeconds))
        return;

    const bool anything = autonomous() || performsSine(e) || performsO132(e) || performsO131(e) ||
                          performsNoise(e) || performsEcho(e) || performsImpedance(e) ||
                          performsMultiFrequency(e) || performsO42(e);
    if (anything)
        thread_.SetCommand(current == AnalyzerCommand::MeasureFirst
                               ? AnalyzerCommand::MeterSine
                               : AnalyzerCommand::GeneratorSine);
    else
        handBack(AnalyzerCommand::Idle, measuredCommand());
}

// ---- Meter steps -----------------------------------------------------------------------------

void ZmkSequence::meterSine() {
    thread_.invokeSync([this] {
        thread_.ui().models().show.panelVisible = false;
        thread_.ui().models().notify(ModelPart::Visualisation);
    });
    const ScenarioEntry& e = entry();
    const bool alone = autonomous();
    if (!performsSine(e) && !alone) {
        thread_.SetCommand(AnalyzerCommand::MeterO132);
        return;
    }
    const double h = halfDelay();
    double wait;
    if (alone) {
        const std::string waiting = "Ожидание гармонического сигнала"_cp;
        thread_.logEvent(waiting, true);
        thread_.SetShowCaption(waiting);
        thread_.SetResultsCaption(waiting);
        wait = kAutonomousSineSearch - h;
    } else {
        thread_.logEvent("Измеритель: SIN"_cp, true);
        thread_.SetShowCaption("Измеритель: настройка"_cp);
        thread_.SetResultsCaption("Настройка измерителя"_cp);
        wait = h + e.SinTime.get();
    }
    advanceDeadline(wait);

    const double deadTime = e.DeadTime.get();
    if (!run(DeadTimeSet(results_.state(), deadTime, deadTime, deadTime, deadTime)))
        return;

    int bin = 0;
    const Search search = WaitHarmonic(bin);
    if (search == Search::Stopped)
        return;
    if (search == Search::Found) {
        results_.showResultLine("Обнаружен гармонический сигнал"_cp);
        if (alone) {
            thread_.logEvent("Измеритель: SIN"_cp, true);
            ModemThread* m = thread_.modem();
            if (m && m->simplifiedCall())
                thread_.deadline =
                    tickMs() +
                    static_cast<uint32_t>(std::lround((kAutonomousSimpleMeasure - h) * 1000.0));
        }
        if (!run(ThreshSet(results_.state(), impulseThreshold_, interruptionThreshold_,
                           e.ThHitAm.get(), e.ThHitPh.get())))
            return;
        results_.state().adoptSine(bin);
        if (!run(ZmkMeterRestart(results_.state())))
            return;
        if (!WaitFor(1, 0.5))
            return;
        thread_.SetShowCaption("Измеритель: SIN, дБм/Гц"_cp);
        results_.clear(ResultKind::Sine);
        // An autonomous generator sends its sine at 1800 Hz, whatever the entry says; the
        // result context takes that nominal frequency in autonomous mode.
        if (!Measure(1, ResultKind::Sine, "Гармонический сигнал"))
            return;
        thread_.SetShowCaption(toCp1251(kSynchronising));
    } else {
        if (alone) {
            handBack(AnalyzerCommand::SwitchOff, ModemCommand::NoGeneratorSignal);
            return;
        }
        results_.showResultLine("Гармонический сигнал не обнаружен"_cp);
        thread_.logEvent(" -гармонический сигнал не обнаружен"_cp, true);
        results_.clear(ResultKind::Sine);
    }
    if (!WaitDeadline(1, h))
        return;
    thread_.SetCommand(AnalyzerCommand::MeterO132);
}

void ZmkSequence::meterStep(const MeterKind& kind) {
    const ScenarioEntry& e = entry();
    const bool alone = autonomous();
    const AnalyzerCommand next = alone ? kind.nextAutonomous : kind.next;
    if (!kind.enabled(e) && !(alone && kind.autonomousToo)) {
        thread_.SetCommand(next);
        return;
    }
    const double h = halfDelay();
    thread_.logEvent(toCp1251(kind.event), true);
    if (!WaitDeadline(kind.type, h))
        return;
    thread_.SetShowCaption(toCp1251(kind.caption));
    results_.clear(kind.kind);
    advanceDeadline(alone && kind.autonomousToo ? kAutonomousShortKind - syncDelay()
                                                : kind.duration(e));

    // While noise is measured everything below the top of the range counts as noise.
    const bool noise = kind.command == AnalyzerCommand::MeterNoise;
    const double bottom = results_.state().bottomLevel;
    if (noise)
        results_.state().bottomLevel = results_.state().referenceLevel;
    const bool measured = Measure(kind.type, kind.kind, kind.resultsCaption);
    if (noise)
        results_.state().bottomLevel = bottom;
    if (!measured)
        return;

    thread_.SetShowCaption(toCp1251(kSynchronising));
    if (!WaitDeadline(kind.type, h))
        return;
    thread_.SetCommand(next);
}

void ZmkSequence::meterImpedance() {
    const ScenarioEntry& e = entry();
    if (!performsImpedance(e)) {
        thread_.SetCommand(AnalyzerCommand::MeterNoise);
        return;
    }
    const double h = halfDelay();
    const int type = code::Impedance;
    thread_.logEvent("Измеритель: Импеданс"_cp, true);
    // This side generates the impedance probe itself: the level of its meter pass.
    if (!run(ImpedSet(results_.state(), thread_.firstPass() ? e.ImpLev.get() : e.ImpLevR.get())))
        return;
    if (!WaitDeadline(type, h))
        return;
    thread_.SetShowCaption("Измеритель: Импеданс, дБм/Гц"_cp);
    results_.clear(ResultKind::Impedance);
    advanceDeadline(e.ImpTime.get());
    if (!Measure(type, ResultKind::Impedance, "Импеданс, ёмкость"))
        return;
    thread_.SetShowCaption(toCp1251(kSynchronising));
    if (!run(HarmSet(results_.state(), kSilentLevel, kParkFrequency)))
        return;
    if (!WaitDeadline(type, h))
        return;
    thread_.SetCommand(AnalyzerCommand::MeterNoise);
}

void ZmkSequence::meterTalkerEcho() {
    const ScenarioEntry& e = entry();
    const bool alone = autonomous();
    if (!performsEcho(e) && !alone) {
        thread_.SetCommand(AnalyzerCommand::EndOfPass);
        return;
    }
    const double h = halfDelay();
    thread_.logEvent("Измеритель: Эхо говорящего"_cp, true);
    // The talker sends the first probe; the second stays silent.
    const double level = alone                 ? kAutonomousEchoLevel
                         : thread_.firstPass() ? e.EchoLev.get()
                                               : e.EchoLevR.get();
    if (!run(EchoSet(results_.state(), echoProbes(e, alone, level))))
        return;
    // The wait before the measurement is the delay halved in whole seconds.
    if (!WaitFor(code::MeterTable, 1.0) ||
        !WaitDeadline(code::MeterTable, std::floor(syncDelay() * 0.5)))
        return;
    thread_.SetShowCaption("Измеритель: Эхо говорящего, дБ/мс"_cp);
    results_.clear(ResultKind::TalkerEcho);
    advanceDeadline(alone ? kAutonomousEcho - syncDelay() : e.EchoTime.get());
    if (!Measure(code::Echo, ResultKind::TalkerEcho, "Эхо говорящего"))
        return;
    thread_.SetShowCaption(toCp1251(kSynchronising));
    if (!WaitDeadline(code::Echo, h))
        return;
    if (!run(HarmSet(results_.state(), kSilentLevel, kParkFrequency)))
        return;
    if (alone)
        handBack(AnalyzerCommand::SwitchOff, ModemCommand::GeneratorSessionComplete);
    else
        thread_.SetCommand(AnalyzerCommand::EndOfPass);
}

void ZmkSequence::meterListenerEcho() {
    const ScenarioEntry& e = entry();
    const bool alone = autonomous();
    const AnalyzerCommand next =
        alone ? AnalyzerCommand::MeterTalkerEcho : AnalyzerCommand::EndOfPass;
    if (!performsEcho(e) && !alone) {
        thread_.SetCommand(next);
        return;
    }
    const double h = halfDelay();
    thread_.logEvent("Измеритель: Эхо слушающего"_cp, true);
    thread_.invokeSync([this] {
        thread_.ui().models().show.panelVisible = false;
        thread_.ui().models().notify(ModelPart::Visualisation);
    });
    // This side only listens: both probes silent.
    if (!run(EchoSet(results_.state(), echoProbes(e, alone, kSilentLevel))))
        return;
    if (!WaitDeadline(code::Echo, h))
        return;
    thread_.SetShowCaption("Измеритель: Эхо слушающего, дБ/мс"_cp);
    results_.clear(ResultKind::ListenerEcho);
    advanceDeadline(alone ? kAutonomousEcho - syncDelay() : e.EchoTime.get());
    if (!Measure(code::Echo, ResultKind::ListenerEcho, "Эхо слушающего"))
        return;
    thread_.SetShowCaption(toCp1251(kSynchronising));
    // The last wait only keeps the pace; the step goes on whatever it returns, unless
    // the thread is to stop.
    WaitDeadline(code::Echo, h);
    if (link_.stopRequested())
        return;
    if (!run(HarmSet(results_.state(), kSilentLevel, kParkFrequency)))
        return;
    thread_.SetCommand(next);
}

// ---- Generator steps -----------------------------------------------------------------------

void ZmkSequence::generatorStep(const GeneratorKind& kind) {
    const ScenarioEntry& e = entry();
    if (kind.enabled(e)) {
        thread_.logEvent(toCp1251(kind.event), true);
        thread_.SetShowCaption(toCp1251(kind.caption));
        // The far meter expects the second level in the first pass, the first in the second.
        const bool first = thread_.firstPass();
        MeterState& st = results_.state();
        CommandPlan plan;
        switch (kind.command) {
        case AnalyzerCommand::GeneratorSine:
            plan = HarmSet(st, first ? e.SinLevR.get() : e.SinLev.get(), e.SinFreq.get());
            break;
        case AnalyzerCommand::GeneratorO132:
            plan = HarmSet(st, first ? e.O132LevR.get() : e.O132Lev.get(), e.O132Freq.get());
            break;
        case AnalyzerCommand::GeneratorO131:
            plan = O131Set(st, first ? e.O131LevR.get() : e.O131Lev.get());
            break;
        case AnalyzerCommand::GeneratorMtts:
            plan = MttsSet(st, first ? e.MTTSLevR.get() : e.MTTSLev.get());
            break;
        case AnalyzerCommand::GeneratorO42:
            plan = O42Set(st, first ? e.O42LevR.get() : e.O42Lev.get());
            break;
        default: // impedance and noise: the far meter works with this generator silent
            plan = HarmSet(st, kSilentLevel, kParkFrequency);
            break;
        }
        if (!run(plan))
            return;
        const double duration = kind.duration(e);
        advanceDeadline(syncDelay() + duration);
        if (!GeneratorRun(kind.bar, duration))
            return;
    }
    thread_.SetCommand(kind.next);
}

// ---- End of pass ------------------------------------------------------------------------------

void ZmkSequence::endOfPass() {
    if (thread_.firstPass()) {
        // The other direction at once: the calling complex measured first, so it now
        // generates; the answering complex now measures.
        thread_.setFirstPass(false);
        ModemThread* m = thread_.modem();
        const bool calling = m && m->role() == ModemRole::CallingInCall;
        thread_.SetCommand(calling ? AnalyzerCommand::GenerateFirst
                                   : AnalyzerCommand::MeasureFirst);
        return;
    }
    const CommandPlan off = HarmSet(results_.state(), kSilentLevel, kParkFrequency);
    const PlanOutcome outcome = sendPlan(off, [this](const uint8_t* bytes, std::size_t count) {
        return link_.SendCommand(bytes, count);
    });
    if (!outcome.ok) {
        link_.AnalyzerFailure(toCp1251(kBackLabel));
        return;
    }
    if (!Pause(0.5) || !PauseDeadline(2.0))
        return;
    handBack(AnalyzerCommand::Idle, measuredCommand());
}

} // namespace vetlina
