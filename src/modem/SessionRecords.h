// What a session leaves in the records of its cycle beside the protocol: the cycle
// statistics, the norms and data files, the evaluation. The session dialogue reaches
// them through this one interface, at the moments and with the arguments its steps
// define; the program's records forward to the reports room (reports/DataFiles.h,
// reports/Evaluation.h), and a test may put a recording one in their place before the
// modem thread starts.
#pragma once

#include "reports/DataFiles.h"

#include <string>

namespace vetlina {

class RunContext;
class Device;
struct ScenarioEntry;

class SessionRecords {
public:
    virtual ~SessionRecords() = default;
    virtual void resetCycleStatistics(ScenarioEntry& entry);
    virtual bool writeNormsFile(Device& thread, ScenarioEntry& entry, const CycleParties& parties);
    virtual bool writeDataFile(Device& thread, ScenarioEntry& entry, const CycleParties& parties,
                               const MeasuredDirection& direction, std::string& dataFileName,
                               std::string& previousDataFileName);
    virtual void markCycleEnd(const std::string& path);
    // On the main thread.
    virtual void evaluateSession(RunContext& run, ScenarioEntry& entry, bool calling,
                                 bool& normFailed);
};

// The records of the program: the reports room's.
SessionRecords& programRecords();

} // namespace vetlina
