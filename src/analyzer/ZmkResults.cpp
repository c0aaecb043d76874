// The result accumulation of the analyzer thread: the blocks through the computation,
// the live records, the repaint of the visualisation window and the results window's
// lines, and the computation's requests.
#include "analyzer/ZmkResults.h"

#include "analyzer/ZmkLink.h"
#include "device/Device.h"
#include "platform/Cp1251.h"
#include "ui/UiBridge.h"

#include <algorithm>
#include <new>
#include <vector>

namespace vetlina {

namespace {

// The part of a block the analyzer thread hands to the decoder.
constexpr std::size_t kTakeMax = 512;

} // namespace

bool ZmkResults::obtainWorkingMemory() {
    try {
        meter_ = std::make_unique<MeterComputation>();
    } catch (const std::bad_alloc&) {
        meter_.reset();
    }
    if (!meter_ || !meter_->hasWorkingMemory()) {
        meter_.reset();
        return false;
    }
    return true;
}

void ZmkResults::resetMeter() {
    meter_->state.reset();
    measuring_ = false;
    overload_ = false;
}

bool ZmkResults::runPlan(const CommandPlan& plan) {
    const PlanOutcome outcome = sendPlan(plan, [this](const uint8_t* bytes, std::size_t count) {
        return link_.SendCommand(bytes, count);
    });
    if (!outcome.ok) {
        link_.AnalyzerFailure(toCp1251(plan.label[0] != '\0' ? plan.label : kAnalyzerFaultText));
        return false;
    }
    // A command that could not be sent has ended the run, even where the set-up does
    // not depend on it.
    if (link_.stopRequested())
        return false;
    if (plan.reportsInRange)
        reportRange(code::InRange);
    return true;
}

void ZmkResults::reportRange(int16_t report) {
    if (!measuring_)
        return;
    if (report == code::Overload) {
        if (!overload_) {
            overload_ = true;
            device_.logEvent(" -перегрузка измерителя"_cp, false);
        }
    } else if (report == code::InRange && overload_) {
        overload_ = false;
        device_.logEvent(" -есть измерительный диапазон"_cp, false);
    }
}

// ---- Measurement ------------------------------------------------------------------------

void ZmkResults::beginMeasuring() {
    measuring_ = true;
    overload_ = false;
}

void ZmkResults::take(int16_t result, AnalyzerCommand step, ResultKind kind,
                      const ResultContext& context) {
    // Blocks measured while the meter is overloaded, and the meter's own table, do not
    // go into the results.
    if (overload_ || result == code::MeterTable || result < code::Impedance)
        return;
    if (Accumulate(results_, step, result, *meter_, context))
        showResultLines(kind, context);
}

int32_t ZmkResults::counter(ResultKind kind) const {
    const LiveResults& r = results_;
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

// ---- Decoding, repaint, results window -------------------------------------------------

int16_t ZmkResults::decodeReady(int type) {
    uint8_t block[kTakeMax];
    const std::size_t n = link_.TakeBlock(block, sizeof block);
    const int16_t result = meter_->DecodeBlockBytes(block, n, *this);
    if (result == code::Rejected)
        link_.countBadBlock();
    else if ((result > 0 && type > 0) || result == type || result == code::Unstable)
        repaint(result);
    return result;
}

void ZmkResults::repaint(int16_t result) {
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
    device_.invokeSync([this, &points, result, overloaded] {
        VisualisationState& show = device_.ui().models().show;
        show.spectrum = std::move(points);
        show.spectrumMode = result;
        show.overload = overloaded;
        ++show.repaints;
        device_.ui().models().notify(ModelPart::Visualisation);
    });
}

void ZmkResults::showResultLines(ResultKind kind, const ResultContext& context) {
    std::vector<std::string> lines = ResultLines(kind, results_, *meter_, context);
    device_.invokeSync([this, &lines] {
        device_.ui().models().results.lines = std::move(lines);
        device_.ui().models().notify(ModelPart::Results);
    });
}

void ZmkResults::showResultLine(const std::string& line) {
    device_.invokeSync([this, &line] {
        device_.ui().models().results.lines = {line};
        device_.ui().models().notify(ModelPart::Results);
    });
}

} // namespace vetlina
