// Choosing whom to call, dialling, the outcome of a call with its retries and
// postponements, and waiting for and answering calls: the steps 1, 2, 4, 5 and 11 of
// the modem thread, and the outcome operations the session dialogue shares.
#include "modem/Calling.h"

#include "modem/Modem.h"
#include "modem/RoleChanges.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "reports/MessageFile.h"
#include "scenario/Scenario.h"
#include "ui/UiBridge.h"

#include <algorithm>

namespace vetlina {
namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

char upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

bool isGenerator(const ScenarioEntry& entry) {
    return entry.ComplexType == kGeneratorComplexType;
}

std::string lowerLatin(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lowerAscii);
    return out;
}

std::string upperLatin(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), upperAscii);
    return out;
}

bool isTrunkNumber(std::string_view number) {
    std::size_t eight = number.find('8');
    return eight != std::string_view::npos && number.find('w', eight) != std::string_view::npos;
}

bool callWindowOpen(const ScenarioEntry& entry, DateTime at) {
    const double t = timeOfDay(at);
    // The window opens at the time of day of BegTime; NextTime (a postponement) only
    // says "not before" (entryDue), so a postponement past the window's end waits for
    // the next day's window instead of leaving an empty one.
    const double n = timeOfDay(entry.BegTime);
    const double e = timeOfDay(entry.EndTime);
    if (static_cast<double>(entry.BegTime) < static_cast<double>(entry.EndTime))
        return n <= t && t < e;
    return t >= n || t < e;
}

bool entryDue(const ScenarioEntry& entry, DateTime at) {
    if (entry.Finished != 0 || at < static_cast<double>(entry.NextTime))
        return false;
    return entry.SessionsDone > 0 || callWindowOpen(entry, at);
}

std::string overviewLine(const ScenarioEntry& entry, DateTime at) {
    std::string line(textOf(entry.Id));
    const double next = entry.NextTime;
    const double end = entry.EndTime;
    if (entry.Finished != 0)
        line += " - цикл выполнен"_cp;
    else if (next >= end)
        line += " - готов к выполнению"_cp;
    else if (dateOf(next) > dateOf(at))
        line += " - начать цикла с "_cp + formatDateTime(next) + " до "_cp + formatDateTime(end);
    else
        line += " - начало цикла с "_cp + formatTime(next) + " до "_cp + formatTime(end);
    return line;
}

std::string callText(const ScenarioEntry& entry) {
    std::string text = isGenerator(entry) ? "Вызов генератора "_cp : "Вызов "_cp;
    text += textOf(entry.Id);
    std::string_view at = textOf(entry.AT);
    if (!at.empty())
        text += " (" + lowerLatin(at) + ")";
    text += " тел: "_cp;
    text += textOf(entry.Number);
    return text;
}

std::string dialCommand(const ScenarioEntry& entry, bool simplifiedCall) {
    std::string command = "AT" + upperLatin(textOf(entry.AT)) + "D";
    command += textOf(entry.Number);
    if (isGenerator(entry))
        command += simplifiedCall ? ";" : "@;";
    command += "\r\n";
    return command;
}

int32_t secondsToWaitMs(int64_t seconds) {
    if (seconds <= 0)
        return 0;
    if (seconds >= kUnlimitedWaitMs / 1000)
        return kUnlimitedWaitMs;
    return static_cast<int32_t>(seconds * 1000);
}

} // namespace vetlina
