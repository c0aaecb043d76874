// What a worker thread or the documents of a run may ask of the run that created them:
// the UI bridge, the scenario and its current entry, the two worker threads, the two
// complexes' identities, the open documents, the protocol, the modem's identification
// and the run options. The run (app/Complex) implements it and hands it to every worker
// its factory creates, so that nothing below the run reaches the run through a global.
#pragma once

#include "device/WorkerThreads.h"
#include "platform/Files.h"
#include "reports/Documents.h"
#include "ui/EventWriter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vetlina {

class Scenario;
class UiBridge;
struct RunOptions;
struct ScenarioEntry;

// The report documents a run keeps open besides the protocol.
enum class ReportDocument { Passports, Results, Statistics, Summary };

// The documents whose heading of a session is due again (after a new far complex).
enum class SessionHeading { Results, Statistics };

// The protocol lines (EventWriter) go to the run's protocol window and document.
class RunContext : public EventWriter {
public:
    virtual UiBridge& ui() = 0;
    // The scenario the run works through (the calling side's entries).
    virtual Scenario& scenario() = 0;
    // The four run options of the run window, as the operator has them checked now.
    virtual RunOptions& options() = 0;

    // The scenario entry the run works on now: an entry of the scenario, or the entry
    // the answering modem received; null when there is none.
    virtual ScenarioEntry* entry() const = 0;
    virtual void setEntry(ScenarioEntry* entry) = 0;

    // The worker threads (null when the run has none).
    virtual AnalyzerThread* analyzer() = 0;
    virtual ModemThread* modem() = 0;

    // This complex and the one at the other end of the current connection (cp1251).
    virtual SessionParty ownParty() const = 0;
    virtual SessionParty peerParty() const = 0;
    virtual void setPeerIdent(std::string_view ident) = 0;
    virtual void setPeerDetails(std::string_view station, std::string_view user,
                                std::string_view city) = 0;

    // Whether the next entry of a document begins with the heading of its session.
    virtual bool headingDue(SessionHeading document) const = 0;
    virtual void setHeadingDue(SessionHeading document, bool due) = 0;

    // An open report document (not open when the run could not open it).
    virtual File& document(ReportDocument document) = 0;
    // Where a statistics entry is rewritten while session statistics are not kept.
    virtual int64_t statisticsRewind() const = 0;
    virtual void setStatisticsRewind(int64_t position) = 0;

    // Rewrites the scenario file with the progress of the run; false (reported) on failure.
    virtual bool saveProgress() = 0;

    // The modem's identification as it answered at initialisation (cp1251).
    virtual std::string modemIdentification() const = 0;
    virtual void setModemIdentification(const std::string& text) = 0;
};

// Creates the worker threads of a run, suspended, each with the run's context. Each
// constructor runs its device's start-up on the main thread (opening the port,
// identification, ...). A thread whose start-up failed is stopped (Device::stopped) and has already
// reported and posted MSG_RUN_END. A factory returns null for a thread it cannot make;
// the run then goes on without it. The front end that builds the run chooses the
// factory (app/DeviceWorkers.h makes the real ones; tests hand in doubles).
class WorkerFactory {
public:
    virtual ~WorkerFactory() = default;
    virtual std::unique_ptr<AnalyzerThread> createAnalyzer(RunContext& run) = 0;
    virtual std::unique_ptr<ModemThread> createModem(RunContext& run, ModemRole role) = 0;
};

} // namespace vetlina
