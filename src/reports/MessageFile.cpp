#include "reports/MessageFile.h"

#include "platform/Clock.h"
#include "reports/DataFileFormat.h"
#include "reports/DataFiles.h"
#include "reports/RunContext.h"
#include "scenario/ScenarioEntry.h"

namespace vetlina {

std::string messageFileImage(const DataFileHeader& header, MessageCode code) {
    std::string out(reinterpret_cast<const char*>(&header), sizeof header);
    out.push_back(static_cast<char>(code));
    return out;
}

void writeMessageFile(RunContext* run, EventWriter& writer, MessageCode code) {
    const ScenarioEntry* entry = run ? run->entry() : nullptr;
    // Only a cycle in progress is cut short: none has begun before its first call, and
    // one that has ended (its last session, an early end, given up) was not cut short;
    // a file for it would name a session that never was.
    if (entry == nullptr || entry->SeriesTime.get() < 1.0 || entry->Finished != 0)
        return;
    bool calling = false;
    if (ModemThread* modem = run->modem()) {
        const ModemRole role = modem->role();
        calling = role == ModemRole::Calling || role == ModemRole::CallingInCall;
    }
    const std::string own = run->ownParty().ident;
    const CycleParties parties = calling ? CycleParties{true, own, std::string(textOf(entry->Id))}
                                         : CycleParties{false, run->peerParty().ident, own};
    const DataFileHeader header = dataFileHeader(kMessageKind, *entry, parties, true, now());
    std::string path;
    switch (publishNewFile(messageFileImage(header, code), path)) {
    case PublishResult::Ok:
        return;
    case PublishResult::CreateFailed:
        reportDataFileFailure(writer, run->ui(), "Ошибка создания файла сообщения");
        return;
    case PublishResult::WriteFailed:
        reportDataFileFailure(writer, run->ui(), "Ошибка записи в файл сообщения");
        return;
    }
}

} // namespace vetlina
