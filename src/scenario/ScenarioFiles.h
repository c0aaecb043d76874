// Scenario files (".scn": version mark "01.12.99", i32 N, N entries) and template
// files (".pat": version mark "21.12.98", the 823 settings bytes of one entry).
// Loading checks a file completely before anything in memory changes; saving
// replaces the file atomically, so a crash or a full disk leaves the old file or
// the new one, never a torn one.
#pragma once

#include "platform/Dialogs.h"
#include "scenario/Scenario.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace vetlina {

inline constexpr std::string_view kScenarioMark = "01.12.99";
inline constexpr std::string_view kTemplateMark = "21.12.98";
constexpr std::size_t kMarkSize = 8;
constexpr std::size_t kScenarioHeaderSize = kMarkSize + 4;
constexpr std::size_t kTemplateFileSize = kMarkSize + kSettingsSize;

// The default name of the progress file when the scenario has none.
inline constexpr const char* kUnknownScenarioFile = "unknown.scn";

enum class FileStatus {
    Ok,
    CannotOpen,    // the file cannot be opened (error: the system's code)
    ReadFailed,    // reading failed half-way (error: the system's code)
    WrongMark,     // the first eight bytes are not the version mark
    NegativeCount, // a scenario file with N < 0
    Truncated,     // fewer bytes than the header and the records need
    NoMemory       // no room for the records
};

struct FileReadResult {
    FileStatus status = FileStatus::Ok;
    int error = 0;          // errno for CannotOpen and ReadFailed
    int32_t count = 0;      // N of a scenario file
    int64_t extraBytes = 0; // bytes after the last record (ignored, but reported)
};

// Reads and checks a whole scenario file into entries; entries is untouched unless
// the result is Ok. N is checked against the file's size before any room is taken,
// so a damaged count cannot exhaust memory. A FIFO or pipe is read as a stream
// (readInput in platform/Files.h), never waited for without end.
FileReadResult readScenarioFile(const std::string& path, EntryArray& entries);
// Reads and checks a template file; settings receives its 823 bytes only when Ok.
FileReadResult readTemplateFile(const std::string& path,
                                std::span<unsigned char, kSettingsSize> settings);

// The same checks on the bytes of a whole file.
FileReadResult scenarioFromImage(std::string_view image, EntryArray& entries);
FileReadResult templateFromImage(std::string_view image,
                                 std::span<unsigned char, kSettingsSize> settings);

// The bytes of a scenario file holding these entries, and of a template file of
// one entry's settings.
std::string scenarioFileImage(std::span<const ScenarioEntry> entries);
std::string templateFileImage(const ScenarioEntry& entry);

// A short description (English, for tools and logs) of a read failure.
std::string describe(const FileReadResult& result);

// The commands' file part. Each shows its failures through dialogs and reports
// success; on failure nothing in the scenario changes, `modified` included.
//
// loadScenario: replaces the list, in start order (then by identifier while the
// sort switch is on), no line selected, `modified` cleared, the file name kept.
bool loadScenario(Scenario& scenario, const std::string& path, Dialogs& dialogs);
// saveScenario: writes every entry in list order; the file name is kept and
// `modified` cleared.
bool saveScenario(Scenario& scenario, const std::string& path, Dialogs& dialogs);
// loadTemplate: the settings part of the current entry is replaced and its series
// starts anew (a selected line is also marked modified).
bool loadTemplate(Scenario& scenario, const std::string& path, Dialogs& dialogs);
// saveTemplate: writes the settings of the current entry; `modified` stays.
bool saveTemplate(const Scenario& scenario, const std::string& path, Dialogs& dialogs);

// What the run does when the progress cannot be written: it receives the text
// "Ошибка записи файла сценария" (code page 1251) to log and show, stops the modem
// thread and ends the run.
using ProgressSaveFailed = std::function<void(const std::string& text)>;

// Rewrites the scenario file with the progress of a run, after each session. With
// no file name the scenario is written to "unknown.scn", which stays its file
// name. On failure onFailure is called (when set) and false returned.
bool saveProgress(Scenario& scenario, const ProgressSaveFailed& onFailure);

} // namespace vetlina
