// The evaluation of a measuring cycle against its norms: the cycle statistics kept in
// the scenario entry, the quality classes of every parameter and of the session, the
// statistics window, the list of broken norms in the pause window, the early end of a
// cycle, and the statistics, passport and summary documents.
//
// The accumulation of the statistics is done with the data files; the evaluation only
// reads the statistics area of the entry.
#pragma once

#include "reports/CallPercentages.h"
#include "reports/EvaluationRows.h"

#include <string>
#include <string_view>
#include <vector>

namespace vetlina {

class RunContext;
struct ScenarioEntry;

// The classes of the passport's parameters, each per direction: b measured at the
// calling complex ("исх-вх"), a at the answering complex ("вх-исх"); 0 when the row was
// not evaluated.
using ClassPair = RowClasses;
struct PassportClasses {
    ClassPair attenuation; // at 1000 (1020) Hz: the worse of the two points
    ClassPair afc1800;
    ClassPair afc2400;
    ClassPair snr;     // O.132 "Сигнал/шум,дБ"
    ClassPair jitter;  // O.132 "Дрожание фазы,град."
    ClassPair impulse; // sine "Помехи и перерывы, % сек."
    ClassPair data;    // "Пропускная способность,%."
    // The class by electrical parameters: the worst of the six above.
    ClassPair electrical() const;
};

// What one evaluation of the cycle gives.
struct CycleEvaluation {
    std::string caption;                // "Сеанс N (из M): класс ..." (cp1251)
    std::vector<std::string> statLines; // StatBox
    std::vector<std::string> parLines;  // ParBox
    int sessionClass = 0;
    bool normFailed = false;
    bool finished = false; // the cycle is complete, early or as planned
    bool earlyEnd = false; // " - досрочное выполнение"
    PassportClasses passport;
    CallPercentages calls;
};

// Evaluates the session just counted (SessionsDone already incremented) without
// touching a window or a document: the rows of every effectively planned group, the
// session class, the good-session streak (EvalCounterA), the session class kept in
// EvalCounterB, and the early end of the cycle (Finished). caller and answerer are the
// identifiers of the session's calling and answering complex (cp1251).
CycleEvaluation evaluateCycle(ScenarioEntry& entry, std::string_view caller,
                              std::string_view answerer);

// True when every effectively planned group with a selected, normed parameter has at
// least NumMin (at least 3) sessions counted in block B and, when the far end is a
// complex, in block A; true without the analyzer-measurement switch.
bool enoughStatistics(const ScenarioEntry& entry);

// Evaluates the session just counted, on the main thread while the modem thread waits:
// the statistics window's caption and rows, the broken norms in the pause window's list,
// the caption logged as an event line, the protocol's link to the statistics entry, the
// statistics entry, and the passport with its summary row when the cycle is finished.
// calling: this complex is the caller of the session (the headings name the caller
// first). Sets normFailed when a present last value breaks a valid norm, and clears it
// otherwise.
void evaluateSession(RunContext& run, ScenarioEntry& entry, bool calling, bool& normFailed);

} // namespace vetlina
