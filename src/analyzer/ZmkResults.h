// The result accumulation of the analyzer thread: the computation of the analyzer's
// blocks, the live result records of the pass, and what the measurement shows of them
// (the spectrum or echo envelope of the visualisation window, the lines of the results
// window). It also answers the computation's requests (DecoderActions): a command plan
// to send, and the range reports that log an overload of the meter and its end while a
// measurement runs.
//
// Everything here runs on the thread that owns the analyzer's port.
#pragma once

#include "analyzer/DecoderActions.h"
#include "analyzer/MeterComputation.h"
#include "analyzer/Results.h"
#include "device/AnalyzerCommands.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vetlina {

class Device;
class ZmkLink;

class ZmkResults : private DecoderActions {
public:
    ZmkResults(Device& device, ZmkLink& link) : device_(device), link_(link) {}

    // Obtains the computation's working memory once for the run: false when there is
    // none. releaseWorkingMemory gives it back.
    bool obtainWorkingMemory();
    void releaseWorkingMemory() { meter_.reset(); }
    // The computation's state back to start-up, no measurement running.
    void resetMeter();

    MeterComputation& meter() { return *meter_; }
    MeterState& state() { return meter_->state; }
    const LiveResults& results() const { return results_; }
    LiveResults& results() { return results_; }

    // Sends a plan with SendCommand; a failure ends the run with the plan's label. A plan
    // that reports the range reports the meter in range.
    bool runPlan(const CommandPlan& plan);

    // One received block through the computation: repaint and bad-block counting. The
    // result code; type is the block type the wait expects.
    int16_t decodeReady(int type);

    // A measurement of kind: it starts with its record cleared (clear), takes each
    // decoded block into the record while the meter is in range (take), and ends.
    void clear(ResultKind kind) { ClearResult(results_, kind); }
    void beginMeasuring();
    void take(int16_t result, AnalyzerCommand step, ResultKind kind, const ResultContext& context);
    void endMeasuring() { measuring_ = false; }
    // How many blocks the record of kind took.
    int32_t counter(ResultKind kind) const;

    // The results window: the lines of a kind's record, or one line alone.
    void showResultLines(ResultKind kind, const ResultContext& context);
    void showResultLine(const std::string& line);

private:
    void repaint(int16_t code);

    // ---- Decoder actions ----------------------------------------------------------
    void reportRange(int16_t report) override;
    bool send(const CommandPlan& plan) override { return runPlan(plan); }

    Device& device_;
    ZmkLink& link_;
    std::unique_ptr<MeterComputation> meter_;
    LiveResults results_;
    bool measuring_ = false;
    bool overload_ = false;
};

} // namespace vetlina
