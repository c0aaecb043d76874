// The results document Rest.htm gets one entry per measurement while the run option
// "Сохранять результаты измерений" is checked: the caption and lines of the results
// window at the end of the measurement, under an anchor named by the measurement's
// start, which the protocol links to.
#pragma once

#include "platform/DateTime.h"
#include "reports/Documents.h"

#include <string>
#include <string_view>
#include <vector>

namespace vetlina {

class EventWriter;
class RunContext;

// The protocol's link to a results entry: "<a href=\"Rest.htm#" + stamp + "\"> &#61&#62</a>\r\n".
std::string resultsLink(DateTime measurementStart);

// The bytes of one results entry: the anchor the protocol's link names, the heading
// when one is due (empty: none), the caption line, the window's lines and the end of
// the block. The anchor stands first so that the link lands on the entry's start.
std::string resultsEntry(DateTime measurementStart, const std::string& heading,
                         const std::string& caption, const std::vector<std::string>& lines);

// Appends the entry of the measurement that started at measurementStart to the run's
// results document, taking the results window's caption and lines as they stand
// (a copy taken on the main thread) and the section heading when one is due. True when
// written or when the run keeps no results document. A failure is logged through writer
// ("Невозможна запись в файл результатов измерений", also on the state label), shown
// titled "Ошибка", and ends the run (MSG_RUN_END); the entry is cut back so the
// document keeps what was written before.
bool appendResults(RunContext& run, EventWriter& writer, DateTime measurementStart);

} // namespace vetlina
