// The four report documents that accompany the protocol: results (Rest.htm),
// statistics (Stat.htm), passports (Pasp.htm) in the complex's folder, and the summary
// table of passports (Prot/PaspTabl.htm) shared by every identifier. This file holds
// their heads, their opening and what their entries share (the session heading, the
// two complexes of a session, the class texts); the entries are written by
// ResultsEntry.h and DocumentEntries.h.
#pragma once

#include "platform/DateTime.h"
#include "platform/Files.h"

#include <string>
#include <string_view>

namespace vetlina {

struct ScenarioEntry;

// Heads written when a document is new (cp1251). The summary head ends with the
// closing "</table>", over which every row is later written.
std::string resultsHead(std::string_view ident);
std::string statisticsHead(std::string_view ident);
std::string passportsHead();
std::string summaryHead();
inline constexpr std::string_view kSummaryTableEnd = "</table>";

// Creates the folder "Prot" and the complex's folder inside it (either may exist).
void makeDocumentFolders(std::string_view ident);

// Opens a report document for appending: when there is no file at the path it is
// created with its head first; then it is opened for reading and writing (other
// programs may read it, none may write it) and positioned at its end. Not open on
// failure; a file this call created is then removed again, so that the next run
// writes its head.
File openReportDocument(const std::string& path, std::string_view head);

// One complex of a session as the documents name it (cp1251): identifier, station,
// operator and city.
struct SessionParty {
    std::string ident;
    std::string station;
    std::string user;
    std::string city;
};
struct SessionParties {
    SessionParty caller;
    SessionParty answerer;
};
// The calling and the answering complex of the current session: this complex from its
// configuration, the far one as the session dialogue received it. A caller that has not
// heard the far complex's identifier yet (an autonomous generator has none) names it by
// the entry it called.
SessionParties sessionParties(const SessionParty& own, SessionParty peer,
                              const ScenarioEntry* entry, bool calling);

// "dd.mm.yyyy hh:nn:ss " of the cycle start + " &nbsp " + caller + "-" + answerer +
// " тел: " + number (cp1251): the heading of a session's section in the results and
// statistics documents.
std::string sessionHeading(DateTime cycleStart, std::string_view caller, std::string_view answerer,
                           std::string_view number);

// A quality class as the documents show it: "1".."4", "&nbsp" for none (0).
std::string classText(int qualityClass);

// The message texts (UTF-8) of a document that cannot be opened (title "Ошибка").
inline constexpr const char* kCannotOpenProtocol = "Не могу открыть файл протокола";
inline constexpr const char* kCannotOpenResults = "Не могу открыть файл результатов измерений";
inline constexpr const char* kCannotOpenStatistics = "Не могу открыть файл статистики";
inline constexpr const char* kCannotOpenPassports = "Не могу открыть файл паспортов";
inline constexpr const char* kCannotOpenSummary =
    "Не могу открыть сводную таблицу результатов измерений";
// ... and of a line or an entry that cannot be written.
inline constexpr const char* kCannotWriteProtocol = "Невозможна запись в файл протокола";
inline constexpr const char* kCannotWriteResults = "Невозможна запись в файл результатов измерений";
inline constexpr const char* kCannotWriteStatistics = "Невозможна запись в файл статистики";
inline constexpr const char* kCannotWritePassports = "Невозможна запись в файл паспортов";
inline constexpr const char* kCannotWriteSummary =
    "Невозможна запись в сводную таблицу результатов измерений";
inline constexpr const char* kErrorTitle = "Ошибка";

} // namespace vetlina
