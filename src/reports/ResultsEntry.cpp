#include "reports/ResultsEntry.h"

#include "platform/Cp1251.h"
#include "reports/Documents.h"
#include "reports/EventProtocol.h"
#include "reports/RunContext.h"
#include "scenario/ScenarioEntry.h"
#include "ui/UiBridge.h"

namespace vetlina {

std::string resultsLink(DateTime measurementStart) {
    return "<a href=\"Rest.htm#" + formatStamp(measurementStart) + "\"> &#61&#62</a>\r\n";
}

std::string resultsEntry(DateTime measurementStart, const std::string& heading,
                         const std::string& caption, const std::vector<std::string>& lines) {
    std::string text = "<a name=\"" + formatStamp(measurementStart) + "\"></a>";
    if (!heading.empty())
        text += "<h3>" + heading + "</h3>\r\n";
    text += "<pre>--- " + formatTime(measurementStart) + " " + caption + "\r\n";
    for (const std::string& line : lines)
        text += line + "\r\n";
    text += "</pre>\r\n";
    return text;
}

bool appendResults(RunContext& run, EventWriter& writer, DateTime measurementStart) {
    File& file = run.document(ReportDocument::Results);
    if (!file.isOpen())
        return true;

    // The window's list as it stands, copied where it is written.
    std::string caption;
    std::vector<std::string> lines;
    run.ui().invokeSync([&] {
        const ListModel& results = run.ui().models().results;
        caption = results.caption;
        lines = results.lines;
    });

    std::string heading;
    if (run.headingDue(SessionHeading::Results)) {
        const ScenarioEntry* entry = run.entry();
        bool calling = true;
        if (ModemThread* modem = run.modem()) {
            const ModemRole role = modem->role();
            calling = role == ModemRole::Calling || role == ModemRole::CallingInCall;
        }
        const SessionParties parties =
            sessionParties(run.ownParty(), run.peerParty(), entry, calling);
        heading = sessionHeading(entry ? entry->SeriesTime.get() : 0.0, parties.caller.ident,
                                 parties.answerer.ident, entry ? textOf(entry->Number) : "");
    }
    const std::string text = resultsEntry(measurementStart, heading, caption, lines);

    const int64_t start = file.position();
    if (file.writeAll(text) && file.sync()) {
        if (!heading.empty())
            run.setHeadingDue(SessionHeading::Results, false);
        return true;
    }
    // No torn entry stays behind.
    if (start >= 0 && file.seek(start))
        file.truncateHere();
    const std::string message = toCp1251(kCannotWriteResults);
    writer.logEvent(message, true);
    run.ui().dialogs().showMessage(toCp1251(kErrorTitle), message, DialogIcon::Warning);
    run.ui().post(MSG_RUN_END);
    return false;
}

} // namespace vetlina
