// The evaluation of a measuring cycle against its norms: the cycle statistics kept in
// the scenario entry, the quality classes of every parameter and of the session, the
// statistics window, the list of broken norms in the pause window, the early end of a
// cycle, and the statistics, passport and summary documents.
//
// The session dialogue calls these at its steps; the evaluation work fills them in.
// Until it lands they change nothing: each declaration says what it is to do.
#pragma once

namespace vetlina {

class Complex;
struct ScenarioEntry;

// Evaluates the session just counted (SessionsDone already incremented), on the main
// thread while the modem thread waits: the call percentages, the statistics window's
// caption "Сеанс N (из M): класс ..." and its rows, the broken norms in the pause
// window's list, the good-session streak and the early end of the cycle (Finished and
// " - досрочное выполнение"), the caption logged as an event line, the statistics entry,
// and the passport with its summary row when the cycle is finished. calling: this
// complex is the caller of the session (the headings name the caller first). Sets
// normFailed when a present last value breaks a valid norm, and clears it otherwise.
void evaluateSession(Complex& complex, ScenarioEntry& entry, bool calling, bool& normFailed);

} // namespace vetlina
