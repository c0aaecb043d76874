#include "reports/MessageFile.h"

namespace vetlina {

void writeMessageFile(EventWriter& writer, MessageCode code) {
    // The data files (their numbering, the common header and the failure texts) come
    // with the data-file work, which fills this in; no file is written before then.
    (void)writer;
    (void)code;
}

} // namespace vetlina
