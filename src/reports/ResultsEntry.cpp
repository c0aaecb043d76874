#include "reports/ResultsEntry.h"

#include "app/Complex.h"
#include "app/UiBridge.h"
#include "platform/Cp1251.h"
#include "reports/Documents.h"
#include "reports/EventProtocol.h"
#include "scenario/ScenarioEntry.h"

namespace vetlina {

namespace {

constexpr const char* kCannotWriteResults = "Невозможна запись в файл результатов измерений";

// The calling and the answering complex of the session, as this side knows them.
struct Parties {
    std::string caller;
    std::string answerer;
};

Parties partiesOf(const Complex& complex, const ScenarioEntry* entry) {
    const std::string own = fieldText(complex.ownIdent);
    std::string peer = fieldText(complex.peerIdent);
    bool calling = true;
    if (complex.modemThread) {
        const ModemRole role = complex.modemThread->role();
        calling = role == ModemRole::Calling || role == ModemRole::CallingInCall;
    }
    // The caller knows whom it called before the far complex has told it.
    if (peer.empty() && calling && entry != nullptr)
        peer = std::string(textOf(entry->Id));
    return calling ? Parties{own, peer} : Parties{peer, own};
}

} // namespace

std::string sessionHeading(DateTime cycleStart, std::string_view caller, std::string_view answerer,
                           std::string_view number) {
    return formatDateTime(cycleStart) + " " + " &nbsp " + std::string(caller) + "-" +
           std::string(answerer) + " тел: "_cp + std::string(number);
}

std::string resultsLink(DateTime measurementStart) {
    return "<a href=\"Rest.htm#" + formatStamp(measurementStart) + "\"> &#61&#62</a>\r\n";
}

std::string resultsEntry(DateTime measurementStart, const std::string& heading,
                         const std::string& caption, const std::vector<std::string>& lines) {
    std::string text;
    if (!heading.empty())
        text += "<h3>" + heading + "</h3>\r\n";
    text += "<pre>--- " + formatTime(measurementStart) + " " + caption + "\r\n";
    text += "<a name=\"" + formatStamp(measurementStart) + "\"></a>";
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
        const Parties parties = partiesOf(*complex, entry);
        heading = sessionHeading(entry ? entry->SeriesTime.get() : 0.0, parties.caller,
                                 parties.answerer, entry ? textOf(entry->Number) : "");
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
