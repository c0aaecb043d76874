// The user guide: HTML pages shipped with the program (doc/guide in the sources,
// share/doc/vetlina/guide when installed), opened in the desktop's browser.
#pragma once

#include <QString>

namespace vetlina {

// The guide's first page beside the installed program, else in the source tree it was
// built from; empty when neither exists.
QString userGuidePath();

} // namespace vetlina
