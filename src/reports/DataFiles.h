// The data and norms files of a measuring cycle: the files of the folder DATA beside
// the message file (MessageFile.h), for processing outside the program. One norms file
// when a cycle begins, one data file for every measured direction of every session,
// numbered with the message files in one name space (DATA/zmk%05d.dat).
//
// A file is never left torn or half-written: it is composed whole, written into a
// temporary file of DATA whose name is not a zmk*.dat, synced, and then linked under its
// final name without replacing anything (a name that is taken gives the next number), so
// a reader of DATA sees a file complete or not at all.
#pragma once

#include "platform/DateTime.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vetlina {

class Device;
class EventWriter;
class UiBridge;
struct LiveResults;
struct ScenarioEntry;
struct DataFileHeader;
struct DirectionValues;

// The folder of the files, relative to the current directory.
inline constexpr const char* kDataFolder = "DATA";

// The path of the next file: DATA/zmk%05d.dat with the number one above the largest
// number of a zmk<digits>.dat in DATA (the whole number, however many digits), 0 when
// there is none. DATA is created when missing.
std::string newDataFilePath();
// The same number for a folder; -1 when the folder cannot be listed or made.
int64_t nextDataFileNumber(const std::string& folder);

enum class PublishResult {
    Ok,
    CreateFailed, // the folder, the temporary file or the final name could not be made
    WriteFailed,  // writing or syncing the bytes failed (a full disk); nothing is left
};
// Puts bytes into a new file DATA/zmk%05d.dat as described above; path gets its name.
PublishResult publishNewFile(std::string_view bytes, std::string& path);

// The two complexes of the session, as this side knows them.
struct CycleParties {
    bool calling = false; // this complex called: it is the calling complex of the cycle
    std::string caller;   // identifier of the calling complex (cp1251)
    std::string answerer; // identifier of the answering complex
};

// One measured direction of a session: the results the dialogue holds for it.
struct MeasuredDirection {
    const LiveResults& results; // the result records of the direction
    float throughput;           // per cent, as the throughput test delivered it; -999 not measured
    bool localMeter; // this complex's analyzer measured it (the analyzer's first-pass flag)
};

// Writes the norms file of the cycle that begins: nothing when no cycle has begun
// (SeriesTime below 1.0); otherwise the next DATA/zmk%05d.dat, created new, holding
// "S", the caller flag, the cycle start, the identifiers of the caller and the
// answerer (8 characters each), the 197-byte measurement plan (a kind that is not
// effectively planned gets the duration 0, in the entry too; an autonomous generator's
// fixed programme in its place), and the norm items in the order of the data-file
// table, then "end". Called on both sides at the first session of a cycle (SessionsDone
// 0): the caller with (own identifier, peerIdent) just after resetCycleStatistics, the
// answerer with (peerIdent, own identifier) once it holds the caller's entry.
//
// A failure sets the thread's command to -1, logs "Ошибка создания файла норм" or
// "Ошибка записи в файл норм" through the thread, shows it titled "Ошибка" and posts
// MSG_RUN_END; false then, and the dialogue ends its step.
bool writeNormsFile(Device& thread, ScenarioEntry& entry, const CycleParties& parties);

// Writes the data file of one measured direction and updates the cycle statistics of
// the entry with it (the accumulation half of the evaluation): nothing when no cycle
// has begun (SeriesTime below 1.0); otherwise previousDataFileName takes dataFileName,
// dataFileName the next DATA/zmk%05d.dat, created new, holding "D", the 41-byte header
// (caller flag, cycle start, time of writing, the role letters "G"/"M" of the caller
// and the answerer for this direction and their identifiers, the session number
// SessionsDone + 1, the cycle-end flag Finished, which the dialogue has set for the last
// planned session), the items of the enabled groups (-999 for a group whose counter is
// 0; the call percentages from the entry's counters; the throughput as delivered), and
// "end". Called after the result exchange: first for the far side's results (localMeter
// false), then for the own (true); once (true) after a session with an autonomous
// generator.
//
// A failure: as writeNormsFile, with "Ошибка создания файла данных" or "Ошибка записи в
// файл данных".
bool writeDataFile(Device& thread, ScenarioEntry& entry, const CycleParties& parties,
                   const MeasuredDirection& direction, std::string& dataFileName,
                   std::string& previousDataFileName);

// Marks a data file as the end of its cycle: opens the existing file for reading and
// writing, writes the byte 1 at offset 40 (the cycle-end flag of the header) and closes
// it. A file that is gone is left alone. Called when a cycle ends before its planned
// number of sessions, for the files of its last session.
void markCycleEnd(const std::string& path);

// ---- The images of the files, composed from the entry (for the writers and the tests) ----

// The 41-byte header of a data or message file. localMeter: this complex's analyzer
// measured the direction the file covers (its role letter is "M").
DataFileHeader dataFileHeader(char kind, const ScenarioEntry& entry, const CycleParties& parties,
                              bool localMeter, DateTime writtenAt);
// "D", the header, the items of the gated groups in table order, "end".
std::string dataFileImage(const ScenarioEntry& entry, const DataFileHeader& header,
                          const DirectionValues& values);
// The measurement plan; for a complex at the far end a kind that is not effectively
// planned gets the duration 0, in the entry too.
std::string normsFileImage(ScenarioEntry& entry, const CycleParties& parties);

// A file of DATA could not be made: the text (UTF-8, shown in code page 1251) is logged
// through the writer, shown titled "Ошибка", and the run is ended (MSG_RUN_END).
void reportDataFileFailure(EventWriter& writer, UiBridge& ui, const char* utf8Text);

} // namespace vetlina
