// The entries that the evaluation of a session writes: the statistics entry (Stat.htm),
// the passport (Pasp.htm) and its summary row (PaspTabl.htm), with the protocol's links
// to them. Every entry is written whole or not at all: a failed write is cut back to
// where the entry began, logged (also on the state label), shown titled "Ошибка", and
// ends the run (MSG_RUN_END); the documents keep what was written before.
#pragma once

#include "platform/DateTime.h"
#include "reports/Documents.h"

#include <string>
#include <vector>

namespace vetlina {

class RunContext;
struct CycleEvaluation;
struct ScenarioEntry;

// The protocol's links: " <a href=\"Stat.htm#" + stamp + "\">Статистика</a>\r\n" and
// " <a href=\"Pasp.htm#" + stamp + "\">Паспорт</a>\r\n".
std::string statisticsLink(DateTime at);
std::string passportLink(DateTime at);

// Appends the statistics entry of the evaluation at `at`: the anchor, the session
// heading when one is due, the caption of the statistics window with its time, and the
// window's lines as a table. While "Сохранять статистику сеансов" is unchecked, each
// entry under one heading takes the place of the table before it (only the caption
// lines accumulate) and the document is cut after it. heading is the session heading
// the entry gets when one is due. True when written or when no document is open.
bool appendStatistics(RunContext& run, DateTime at, const std::string& heading);

// Appends a passport: its anchor and its lines. True when written or not open.
bool appendPassport(RunContext& run, DateTime at, const std::vector<std::string>& lines);

// Writes a row into the summary table over its closing "</table>" (the row closes the
// table again). True when written or not open.
bool appendSummaryRow(RunContext& run, const std::string& row);

// The documents of one evaluated session, in their order: the link to the statistics
// entry, the statistics entry, and, for a finished cycle that gets a passport, the
// summary row, the link to the passport and the passport. Stops at the first failure.
void writeSessionDocuments(RunContext& run, const ScenarioEntry& entry,
                           const SessionParties& parties, const CycleEvaluation& evaluation,
                           DateTime at);

} // namespace vetlina
