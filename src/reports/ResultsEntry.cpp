#include "reports/ResultsEntry.h"

#include "app/Complex.h"
#include "app/UiBridge.h"
#include "platform/Cp1251.h"
#include "reports/Documents.h"
#include "reports/EventProtocol.h"
#include "scenario/ScenarioEntry.h"

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

bool appendResults(EventWriter& writer, DateTime measurementStart) {
    Complex* complex = currentComplex();
    if (complex == nullptr || !complex->resultsStream.isOpen())
        return true;

    // The window's list as it stands, copied where it is written.
    std::string caption;
    std::vector<std::string> lines;
    complex->ui().invokeSync([&] {
        const ListModel& results = complex->ui().models().results;
        caption = results.caption;
        lines = results.lines;
    });

    std::string heading;
    if (complex->resultsHeaderDue) {
        const ScenarioEntry* entry = currentEntry();
        bool calling = true;
        if (complex->modemThread) {
            const ModemRole role = complex->modemThread->role();
            calling = role == ModemRole::Calling || role == ModemRole::CallingInCall;
        }
        const SessionParties parties = sessionParties(*complex, entry, calling);
        heading = sessionHeading(entry ? entry->SeriesTime.get() : 0.0, parties.caller.ident,
                                 parties.answerer.ident, entry ? textOf(entry->Number) : "");
    }
    const std::string text = resultsEntry(measurementStart, heading, caption, lines);

    File& file = complex->resultsStream;
    const int64_t start = file.position();
    if (file.writeAll(text) && file.sync()) {
        if (!heading.empty())
            complex->resultsHeaderDue = false;
        return true;
    }
    // No torn entry stays behind.
    if (start >= 0 && file.seek(start))
        file.truncateHere();
    const std::string message = toCp1251(kCannotWriteResults);
    writer.logEvent(message, true);
    complex->ui().dialogs().showMessage(toCp1251(kErrorTitle), message, DialogIcon::Warning);
    complex->ui().post(MSG_RUN_END);
    return false;
}

} // namespace vetlina
