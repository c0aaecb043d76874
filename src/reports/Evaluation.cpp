#include "reports/Evaluation.h"

namespace vetlina {

// The evaluation work fills these in (the statistics rows, the classes, the documents);
// until then the statistics stay as they are and no norm is found broken.

void evaluateSession(Complex& complex, ScenarioEntry& entry, bool calling, bool& normFailed) {
    (void)complex;
    (void)entry;
    (void)calling;
    normFailed = false;
}

} // namespace vetlina
