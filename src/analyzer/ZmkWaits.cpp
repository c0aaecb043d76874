// The timed waits of the measurement sequence, the search for a sine and the timed
// collection of results. Every wait polls the link, ends at once when the thread is to
// stop, and ends the run through "Отключение анализатора" when the analyzer drops DSR
// or CTS.
#include "analyzer/ZMK.h"
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

int32_t counterOf(const LiveResults& r, ResultKind kind) {
    switch (kind) {
    case ResultKind::Sine:
        return r.sine.counter;
    case ResultKind::O132:
        return r.o132.counter;
    case ResultKind::O131:
        return r.o131.counter;
    case ResultKind::Mtts:
        return r.mtts.counter;
    case ResultKind::O42:
        return r.o42.counter;
    case ResultKind::Impedance:
        return r.impedance.counter;
    case ResultKind::Noise:
        return r.noise.counter;
    case ResultKind::TalkerEcho:
        return r.talkerEcho.counter;
    case ResultKind::ListenerEcho:
        return r.listenerEcho.counter;
    }
    return 0;
}

// Seconds as whole milliseconds of the tick counter, truncated toward zero.
int32_t toMs(double seconds) {
    double ms = seconds * 1000.0;
    if (!std::isfinite(ms))
        ms = 0.0;
    return static_cast<int32_t>(std::clamp(ms, -kLongestStepMs, kLongestStepMs));
}

} // namespace

void ZMK::advanceDeadline(double seconds) {
    // Unsigned arithmetic: a negative duration moves the deadline back, and the counter
    // may wrap in between.
    deadline += static_cast<uint32_t>(toMs(seconds));
}

// ---- Decoding, repaint, results window -------------------------------------------------

int16_t ZMK::decodeReady(int type) {
    uint8_t block[kTakeMax];
    const std::size_t n = link_.TakeBlock(block, sizeof block);
    const int16_t result = meter_->DecodeBlockBytes(block, n, *this);
    if (result == code::Rejected)
        link_.countBadBlock();
    else if ((result > 0 && type > 0) || result == type || result == code::Unstable)
        repaint(result);
    return result;
}

void ZMK::repaint(int16_t result) {
    const MeterOutputs& out = meter_->out();
    std::vector<float> points;
    if (result == code::Echo) {
        points.assign(out.envelope.begin(), out.envelope.end());
    } else {
        // The bands of the spectrum, spread over the bins they cover.
        const VisualSpectrum& v = out.spectrum;
        points.assign(kBins, -110.0f);
        const int width = std::max(1, v.binsPerBand);
        for (int k = v.firstBin; k < kBins; ++k) {
            const int band = (k - v.firstBin) / width;
            if (band >= v.bands)
                break;
            points[k] = v.level[band];
        }
    }
    const bool overloaded = overload_;
    invokeSync([this, &points, result, overloaded] {
        VisualisationState& show = ui().models().show;
        show.spectrum = std::move(points);
        show.spectrumMode = result;
        show.overload = overloaded;
        ++show.repaints;
        ui().models().notify(ModelPart::Visualisation);
    });
}

void ZMK::showResultLines(ResultKind kind) {
    std::vector<std::string> lines = ResultLines(kind, results_, *meter_, resultContext());
    invokeSync([this, &lines] {
        ui().models().results.lines = std::move(lines);
        ui().models().notify(ModelPart::Results);
    });
}

void ZMK::showResultLine(const std::string& line) {
    invokeSync([this, &line] {
        ui().models().results.lines = {line};
        ui().models().notify(ModelPart::Results);
    });
}

// ---- Waits ---------------------------------------------------------------------------------

bool ZMK::waitUntil(uint32_t until, int type) {
    while (!tickReached(until)) {
        if (link_.stopRequested())
            return false;
        const uint32_t event = link_.ReadEvent();
        if (event & zmkstatus::SwitchedOff) {
            link_.AnalyzerFailure(toCp1251(kSwitchedOffText));
            return false;
        }
        if (event & zmkstatus::BlockReady)
            decodeReady(type);
    }
    return !link_.stopRequested();
}

bool ZMK::pauseUntil(uint32_t until) {
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

bool ZMK::WaitDeadline(int type, double seconds) {
    advanceDeadline(seconds);
    return waitUntil(deadline, type);
}

bool ZMK::WaitFor(int type, double seconds) {
    return waitUntil(tickMs() + static_cast<uint32_t>(toMs(seconds)), type);
}

bool ZMK::Pause(double seconds) {
    return pauseUntil(tickMs() + static_cast<uint32_t>(toMs(seconds)));
}

bool ZMK::PauseDeadline(double seconds) {
    advanceDeadline(seconds);
    return pauseUntil(deadline);
}

ZMK::Search ZMK::WaitHarmonic(int& bin) {
    const ScenarioEntry& e = entry();
    const double expected = autonomous() ? kAutonomousSineFrequency : e.SinFreq.get();
    const bool relative = e.ThAbs == 0;
    impulseThreshold_ = e.ThAbsPul.get();
    interruptionThreshold_ = e.ThAbsInt.get();
    while (!tickReached(deadline)) {
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
        const int16_t result = decodeReady(1);
        if (result <= 0)
            continue;
        const auto& levels = meter_->out().levels;
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

bool ZMK::Measure(int type, ResultKind kind, const char* caption) {
    SetResultsCaption(toCp1251(caption));
    measuring_ = true;
    overload_ = false;
    const DateTime start = now();
    const ResultContext context = resultContext();
    bool completed = true;
    while (!tickReached(deadline)) {
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
        const int16_t result = decodeReady(type);
        // Blocks measured while the meter is overloaded, and the meter's own table, do
        // not go into the results.
        if (overload_ || result == code::MeterTable || result < code::Impedance)
            continue;
        if (Accumulate(results_, stepCommand_, result, *meter_, context))
            showResultLines(kind);
    }
    measuring_ = false;
    if (!completed || link_.stopRequested())
        return false;

    if (counterOf(results_, kind) == 0) {
        showResultLine("Сигнал не обнаружен"_cp);
        logEvent(" -сигнал не обнаружен"_cp, true);
    } else if (ui().models().options.saveResults.load()) {
        appendProtocol(resultsLink(start));
        if (run_)
            appendResults(*run_, *this, start);
    }
    return true;
}

bool ZMK::GeneratorRun(ShowKind bar, double seconds) {
    invokeSync([this] {
        for (auto& k : ui().models().show.kinds)
            k.progress = 0;
        ui().models().notify(ModelPart::Visualisation);
    });
    progressBar = bar;
    progress = 0;
    const uint32_t start = tickMs();
    const double span = seconds * 1000.0;
    while (!tickReached(deadline)) {
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
        if (p != progress) {
            progress = p;
            ShowProgress();
        }
    }
    if (link_.stopRequested())
        return false;
    progress = 100;
    ShowProgress();
    return true;
}

} // namespace vetlina
