#include "modem/SessionRecords.h"

#include "reports/CycleStatistics.h"
#include "reports/Evaluation.h"

namespace vetlina {

void SessionRecords::resetCycleStatistics(ScenarioEntry& entry) {
    vetlina::resetCycleStatistics(entry);
}

bool SessionRecords::writeNormsFile(Device& thread, ScenarioEntry& entry,
                                    const CycleParties& parties) {
    return vetlina::writeNormsFile(thread, entry, parties);
}

bool SessionRecords::writeDataFile(Device& thread, ScenarioEntry& entry,
                                   const CycleParties& parties, const MeasuredDirection& direction,
                                   std::string& dataFileName, std::string& previousDataFileName) {
    return vetlina::writeDataFile(thread, entry, parties, direction, dataFileName,
                                  previousDataFileName);
}

void SessionRecords::markCycleEnd(const std::string& path) {
    vetlina::markCycleEnd(path);
}

void SessionRecords::evaluateSession(RunContext& run, ScenarioEntry& entry, bool calling,
                                     bool& normFailed) {
    vetlina::evaluateSession(run, entry, calling, normFailed);
}

SessionRecords& programRecords() {
    static SessionRecords records;
    return records;
}

} // namespace vetlina
