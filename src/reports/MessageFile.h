// The message file of a measuring cycle: a file of the folder DATA that marks a cycle
// cut short by a fault or by the operator, for processing outside the program.
#pragma once

#include <cstdint>
#include <string>

namespace vetlina {

class EventWriter;
class RunContext;
struct DataFileHeader;

// Why a cycle was cut short: the one byte after the header of a message file.
enum class MessageCode : uint8_t {
    NoCarrierLimit = 4, // the limit of calls without carrier was reached, the cycle abandoned
    DeviceFailure = 5,  // the run stopped on an analyzer or a modem fault
    OperatorStop = 6,   // the operator ended the run while a cycle was in progress
    Hang = 7,           // a connection hung and was abandoned
};

// The bytes of a message file: the header (kind "M") and the code.
std::string messageFileImage(const DataFileHeader& header, MessageCode code);

// Writes the message file of the current cycle (the current scenario entry of the
// current Complex): nothing when no cycle is in progress (SeriesTime below 1.0, or the
// cycle has ended: Finished set); otherwise
// the next DATA/zmk%05d.dat, created new, holding the 41-byte header of data and
// message files with the kind letter "M" (caller flag, cycle start, time of writing,
// role letters and identifiers of the caller and the answerer, session number
// SessionsDone + 1, the cycle-end flag Finished), then the code. A failure is logged
// through `writer` ("Ошибка создания файла сообщения" or "Ошибка записи в файл
// сообщения"), shown titled "Ошибка", and ends the run with MSG_RUN_END.
//
// A message file covers no direction: this complex stands in it as "M", the far one as
// "G". The far identifier is the called entry's on the calling side and the caller's
// (peerIdent) on the answering side.
void writeMessageFile(RunContext* run, EventWriter& writer, MessageCode code);

} // namespace vetlina
