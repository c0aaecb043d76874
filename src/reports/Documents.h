// The four report documents that accompany the protocol: results (Rest.htm),
// statistics (Stat.htm), passports (Pasp.htm) in the complex's folder, and the summary
// table of passports (Prot/PaspTabl.htm) shared by every identifier. This file holds
// their heads and their opening; their entries are written by the evaluation.
#pragma once

#include "platform/Files.h"

#include <string>
#include <string_view>

namespace vetlina {

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

// The message texts (UTF-8) of a document that cannot be opened (title "Ошибка").
inline constexpr const char* kCannotOpenProtocol = "Не могу открыть файл протокола";
inline constexpr const char* kCannotOpenResults = "Не могу открыть файл результатов измерений";
inline constexpr const char* kCannotOpenStatistics = "Не могу открыть файл статистики";
inline constexpr const char* kCannotOpenPassports = "Не могу открыть файл паспортов";
inline constexpr const char* kCannotOpenSummary =
    "Не могу открыть сводную таблицу результатов измерений";
// ... and of a protocol line that cannot be written.
inline constexpr const char* kCannotWriteProtocol = "Невозможна запись в файл протокола";
inline constexpr const char* kErrorTitle = "Ошибка";

} // namespace vetlina
