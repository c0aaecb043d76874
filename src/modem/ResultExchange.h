// The records of a session once the analyzers have measured: the reconnection of the
// modems on the held line, the exchange of the results between the two complexes, the
// data files and the evaluation of the session, the pause on unmet norms, and the end of
// a session with an autonomous generator.
#pragma once

#include "reports/LiveResults.h"
#include "scenario/ScenarioEntry.h"

#include <array>
#include <cstdint>
#include <string>

namespace vetlina {

class MODEM;

class ResultExchange {
public:
    static constexpr int32_t kAfterSessionWaitMs = 8000; // the caller's waitLimit after a session
    static constexpr int32_t kAfterGeneratorWaitMs = 10000;
    static constexpr uint32_t kReconnectionMs = 90000; // the modems' connection on the held line
    static constexpr uint32_t kPausePollMs = 50;       // the pause window's poll

    explicit ResultExchange(MODEM& modem) : modem_(modem) {}

    // ---- Steps ---------------------------------------------------------------------
    void reconnect();
    void resultExchange();
    void generatorSessionComplete();

    // A result exchange has begun and not finished: a new connection of the same session
    // resumes it instead of measuring again.
    bool resumePending() const { return resumePending_; }
    void setResumePending(bool pending) { resumePending_ = pending; }
    // The own results of the session, kept aside at the reconnection; they go to the far
    // side in the exchange.
    const LiveResults& savedResults() const { return savedResults_; }
    float savedThroughput() const { return savedThroughput_; }
    void keepOwnResults(const LiveResults& results, float throughput) {
        savedResults_ = results;
        savedThroughput_ = throughput;
    }
    // The last evaluation found a norm not met.
    bool normFailed() const { return normFailed_; }
    const std::string& dataFileName() const { return dataFileName_; }
    const std::string& previousDataFileName() const { return previousDataFileName_; }

private:
    // The two halves of the exchange; false: the link broke (handled).
    bool exchangeAsCaller();
    bool exchangeAsAnswerer();
    // The session's records after the exchange: data files, counts, evaluation, progress.
    bool recordSession(bool calling);
    // The role and the next step once the line is let go.
    void endSession();
    bool writeBothDataFiles(ScenarioEntry& e, bool calling);
    // Stops on unmet norms when asked to (the pause window), else hangs up. False when
    // the step is to end (hanging up failed, or the thread is being ended).
    bool pauseOrHangUp(bool calling);
    std::string noteOfPauseWindow();

    MODEM& modem_;
    bool resumePending_ = false;
    bool normFailed_ = false;
    LiveResults savedResults_{};
    float savedThroughput_ = kNotMeasured;
    std::array<uint8_t, 4096> exchangeBuffer_{};
    std::string dataFileName_, previousDataFileName_;
};

} // namespace vetlina
