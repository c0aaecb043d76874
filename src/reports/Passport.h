// The channel passport of a finished cycle (Pasp.htm) and its row in the summary table
// of passports (PaspTabl.htm): the quality classes of the channel by electrical
// parameters and for data transmission in both directions, and the call outcomes.
#pragma once

#include "platform/DateTime.h"
#include "reports/Documents.h"
#include "reports/Evaluation.h"

#include <string>
#include <vector>

namespace vetlina {

struct ScenarioEntry;

// Whether the finished cycle of this entry gets a passport: the analyzer measures, the
// sine "Помехи и перерывы, % сек.", O.132 signal/noise and phase jitter and the
// attenuation response are selected, and the far end is an autonomous generator or the
// sine, O.132 and multi-frequency measurements each last at least 1 s.
bool passportDue(const ScenarioEntry& entry);

// What a passport and its summary row show.
struct PassportFacts {
    SessionParties parties;
    std::string ownIdent; // names the folder of Pasp.htm in the summary table's link
    std::string number;   // the telephone number of the entry
    int32_t sessionsDone = 0;
    DateTime at = 0; // the end of the evaluation: the stamp of the entries
    PassportClasses classes;
    CallPercentages calls;
};

// The lines of the passport, each written followed by "\r\n" (cp1251).
std::vector<std::string> passportLines(const PassportFacts& facts);
// The summary row: 27 cells, ending with "\r\n</table>" (cp1251).
std::string summaryRow(const PassportFacts& facts);

} // namespace vetlina
