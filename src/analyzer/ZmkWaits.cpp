// The timed waits of the measurement sequence, the search for a sine and the timed
// collection of results. Every wait polls the link, ends at once when the thread is to
// stop, and ends the run through "Отключение анализатора" when the analyzer drops DSR
// or CTS.
#include "analyzer/ZMK.h"
#include "analyzer/ZmkSequence.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "reports/ResultsEntry.h"
#include "ui/UiBridge.h"

#include <algorithm>
#include <cmath>

namespace vetlina {

namespace {

// The part of a block the analyzer thread hands to the decoder.
constexpr std::size_t kTakeMax = 512;
// A sine this close to the expected frequency is the one looked for.
constexpr double kSineSearchWindow = 16.0;
constexpr double kAutonomousSineFrequency = 1800.0;
// A deadline moves by at most this much at once, so that it always stays within the
// half range of the 32-bit tick counter.
constexpr double kLongestStepMs = 1e9;

// Seconds as whole milliseconds of the tick counter, truncated toward zero.
int32_t toMs(double seconds) {
    double ms = seconds * 1000.0;
    if (!std::isfinite(ms))
        ms = 0.0;
    return static_cast<int32_t>(std::clamp(ms, -kLongestStepMs, kLongestStepMs));
}

} // namespace

void ZmkSequence::advanceDeadline(double seconds) {
    // Unsigned arithmetic: a negative duration moves the deadline back, and the counter
    // may wrap in between.
    thread_.deadline += static_cast<uint32_t>(toMs(seconds));
}

// ---- Waits ---------------------------------------------------------------------------------

bool ZmkSequence::waitUntil(uint32_t until, int type) {
    while (!tickReached(until)) {
        if (link_.stopRequested())
            return false;
        const uint32_t event = link_.ReadEvent();
        if (event & zmkstatus::SwitchedOff) {
            link_.AnalyzerFailure(toCp1251(kSwitchedOffText));
            return false;
        }
        if (event & zmkstatus::BlockReady)
            results_.decodeReady(type);
    }
    return !link_.stopRequested();
}

bool ZmkSequence::pauseUntil(uint32_t until) {
    while (!tickReached(until)) {
        if (link_.stopRequested())
            return false;
        const uint32_t event = link_.ReadEvent();
        if (event & zmkstatus::SwitchedOff) {
            link_.AnalyzerFailure(toCp1251(kSwitchedOffText));
            return false;
        }
        if (event & zmkstatus::BlockReady)
            link_.DropBlock();
    }
    return !link_.stopRequested();
}

bool ZmkSequence::WaitDeadline(int type, double seconds) {
    advanceDeadline(seconds);
    return waitUntil(thread_.deadline, type);
}

bool ZmkSequence::WaitFor(int type, double seconds) {
    return waitUntil(tickMs() + static_cast<uint32_t>(toMs(seconds)), type);
}

bool ZmkSequence::Pause(double seconds) {
    return pauseUntil(tickMs() + static_cast<uint32_t>(toMs(seconds)));
}

bool ZmkSequence::PauseDeadline(double seconds) {
    advanceDeadline(seconds);
    return pauseUntil(thread_.deadline);
}

ZmkSequence::Search ZmkSequence::WaitHarmonic(int& bin) {
    const ScenarioEntry& e = entry();
    const double expected = autonomous() ? kAutonomousSineFrequency : e.SinFreq.get();
    const bool relative = e.ThAbs == 0;
    impulseThreshold_ = e.ThAbsPul.get();
    interruptionThreshold_ = e.ThAbsInt.get();
    while (!tickReached(thread_.deadline)) {
        if (link_.stopRequested())
            return Search::Stopped;
        const uint32_t event = link_.ReadEvent();
        if (event & zmkstatus::SwitchedOff) {
            link_.AnalyzerFailure(toCp1251(kSwitchedOffText));
            return Search::Stopped;
        }
        if (!(event & zmkstatus::BlockReady))
            continue;
        // Positive codes and -10 repaint, as for any wait for a sine.
        const int16_t result = results_.decodeReady(1);
        if (result <= 0)
            continue;
        const auto& levels = results_.meter().out().levels;
        if (!(std::fabs(levels[item::Frequency] - expected) < kSineSearchWindow))
            continue;
        // Relative thresholds follow the level of the sine found. They are this pass's
        // thresholds only: the operator's absolute thresholds in the entry stay as set.
        if (relative) {
            impulseThreshold_ = levels[item::Level] + e.ThRelPul.get();
            interruptionThreshold_ = levels[item::Level] + e.ThRelInt.get();
        }
        bin = result;
        return Search::Found;
    }
    return link_.stopRequested() ? Search::Stopped : Search::NotFound;
}

bool ZmkSequence::Measure(int type, ResultKind kind, const char* caption) {
    thread_.SetResultsCaption(toCp1251(caption));
    results_.beginMeasuring();
    const DateTime start = now();
    const ResultContext context = resultContext();
    bool completed = true;
    while (!tickReached(thread_.deadline)) {
        if (link_.stopRequested()) {
            completed = false;
            break;
        }
        const uint32_t event = link_.ReadEvent();
        if (event & zmkstatus::SwitchedOff) {
            link_.AnalyzerFailure(toCp1251(kSwitchedOffText));
            completed = false;
            break;
        }
        if (!(event & zmkstatus::BlockReady))
            continue;
        results_.take(results_.decodeReady(type), stepCommand_, kind, context);
    }
    results_.endMeasuring();
    if (!completed || link_.stopRequested())
        return false;

    if (results_.counter(kind) == 0) {
        results_.showResultLine("Сигнал не обнаружен"_cp);
        thread_.logEvent(" -сигнал не обнаружен"_cp, true);
    } else if (thread_.ui().models().options.saveResults.load()) {
        thread_.appendProtocol(resultsLink(start));
        if (thread_.run_)
            appendResults(*thread_.run_, thread_, start);
    }
    return true;
}

bool ZmkSequence::GeneratorRun(ShowKind bar, double seconds) {
    thread_.invokeSync([this] {
        for (auto& k : thread_.ui().models().show.kinds)
            k.progress = 0;
        thread_.ui().models().notify(ModelPart::Visualisation);
    });
    thread_.progressBar = bar;
    thread_.progress = 0;
    const uint32_t start = tickMs();
    const double span = seconds * 1000.0;
    while (!tickReached(thread_.deadline)) {
        if (link_.stopRequested())
            return false;
        const uint32_t event = link_.ReadEvent();
        if (event & zmkstatus::SwitchedOff) {
            link_.AnalyzerFailure(toCp1251(kSwitchedOffText));
            return false;
        }
        if (event & zmkstatus::BlockReady)
            link_.DropBlock();
        const double elapsed = static_cast<uint32_t>(tickMs() - start);
        const int32_t p =
            span > 0.0 ? static_cast<int32_t>(std::min(100.0, elapsed * 100.0 / span)) : 100;
        if (p != thread_.progress) {
            thread_.progress = p;
            thread_.ShowProgress();
        }
    }
    if (link_.stopRequested())
        return false;
    thread_.progress = 100;
    thread_.ShowProgress();
    return true;
}

} // namespace vetlina
