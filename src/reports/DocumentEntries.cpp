#include "reports/DocumentEntries.h"

#include "platform/Cp1251.h"
#include "reports/Evaluation.h"
#include "reports/Passport.h"
#include "reports/RunContext.h"
#include "scenario/ScenarioEntry.h"
#include "ui/UiBridge.h"
#include "ui/WindowModels.h"

namespace vetlina {
namespace {

// The report of an entry that could not be written: the event line (on the state label
// too), the message box and the end of the run.
void reportFailure(RunContext& run, const char* text) {
    const std::string message = toCp1251(text);
    run.logEvent(message, true);
    run.ui().dialogs().showMessage(toCp1251(kErrorTitle), message, DialogIcon::Warning);
    run.ui().post(MSG_RUN_END);
}

// Cuts the document back to where a failed entry began.
void cutBack(File& file, int64_t start) {
    if (start >= 0 && file.seek(start))
        file.truncateHere();
}

} // namespace

std::string statisticsLink(DateTime at) {
    return " <a href=\"Stat.htm#" + formatStamp(at) + "\">Статистика</a>\r\n"_cp;
}

std::string passportLink(DateTime at) {
    return " <a href=\"Pasp.htm#" + formatStamp(at) + "\">Паспорт</a>\r\n"_cp;
}

bool appendStatistics(RunContext& run, DateTime at, const std::string& heading) {
    File& file = run.document(ReportDocument::Statistics);
    if (!file.isOpen())
        return true;
    std::string caption;
    std::vector<std::string> lines;
    run.ui().invokeSync([&] {
        const ListModel& statistics = run.ui().models().statistics;
        caption = statistics.caption;
        lines = statistics.lines;
    });

    const int64_t rewindBefore = run.statisticsRewind();
    const bool headingDue = run.headingDue(SessionHeading::Statistics);
    int64_t rewind = rewindBefore;
    std::string text = "<a name=\"" + formatStamp(at) + "\"></a>";
    if (headingDue) {
        text += "<h3>" + heading + "</h3>\r\n";
        rewind = file.position();
    }
    text += formatTime(at) + " " + caption + "<br>\r\n";

    std::string table = "<pre>";
    for (const std::string& line : lines)
        table += line + "\r\n";
    table += "</pre>\r\n";

    // Without kept session statistics the entry takes the place of the last table.
    if (!run.options().saveStatistics.load() && !file.seek(rewind)) {
        reportFailure(run, kCannotWriteStatistics);
        return false;
    }
    const int64_t start = file.position();
    bool written = file.writeAll(text);
    const int64_t tableStart = file.position();
    written = written && file.writeAll(table) && file.truncateHere() && file.sync();
    if (!written) {
        cutBack(file, start);
        run.setStatisticsRewind(rewindBefore);
        reportFailure(run, kCannotWriteStatistics);
        return false;
    }
    run.setStatisticsRewind(tableStart);
    if (headingDue)
        run.setHeadingDue(SessionHeading::Statistics, false);
    return true;
}

bool appendPassport(RunContext& run, DateTime at, const std::vector<std::string>& lines) {
    File& file = run.document(ReportDocument::Passports);
    if (!file.isOpen())
        return true;
    std::string text = "<a name=\"" + formatStamp(at) + "\"></a>\r\n";
    for (const std::string& line : lines)
        text += line + "\r\n";
    const int64_t start = file.position();
    if (file.writeAll(text) && file.sync())
        return true;
    cutBack(file, start);
    reportFailure(run, kCannotWritePassports);
    return false;
}

bool appendSummaryRow(RunContext& run, const std::string& row) {
    File& file = run.document(ReportDocument::Summary);
    if (!file.isOpen())
        return true;
    // The row goes over the closing "</table>"; a table that someone left without it
    // keeps all its bytes and gets the row at its end.
    const int64_t size = file.size();
    const int64_t closing = size - static_cast<int64_t>(kSummaryTableEnd.size());
    std::string tail(kSummaryTableEnd.size(), '\0');
    bool closed = closing >= 0 && file.seek(closing) &&
                  file.read(tail.data(), tail.size()) == static_cast<long>(tail.size()) &&
                  tail == kSummaryTableEnd;
    const int64_t start = closed ? closing : size;
    if (file.seek(start) && file.writeAll(row) && file.sync())
        return true;
    // Back to the table as it was.
    cutBack(file, start);
    if (closed)
        file.writeAll(kSummaryTableEnd);
    file.sync();
    reportFailure(run, kCannotWriteSummary);
    return false;
}

void writeSessionDocuments(RunContext& run, const ScenarioEntry& entry,
                           const SessionParties& parties, const CycleEvaluation& evaluation,
                           DateTime at) {
    run.appendProtocol(statisticsLink(at));
    const std::string heading = sessionHeading(entry.SeriesTime.get(), parties.caller.ident,
                                               parties.answerer.ident, textOf(entry.Number));
    if (!appendStatistics(run, at, heading))
        return;
    if (!evaluation.finished || !passportDue(entry))
        return;
    PassportFacts facts;
    facts.parties = parties;
    facts.ownIdent = run.ownParty().ident;
    facts.number = std::string(textOf(entry.Number));
    facts.sessionsDone = entry.SessionsDone.get();
    facts.at = at;
    facts.classes = evaluation.passport;
    facts.calls = evaluation.calls;
    // The summary row is composed before the passport is written.
    if (!appendSummaryRow(run, summaryRow(facts)))
        return;
    run.appendProtocol(passportLink(at));
    appendPassport(run, at, passportLines(facts));
}

} // namespace vetlina
