// vetlina-data: shows scenario and template files as JSON and makes them from
// JSON, for operators and scripts.
//
//   vetlina-data scn show FILE            JSON of a scenario file
//   vetlina-data scn make JSON -o FILE    scenario file from JSON
//   vetlina-data pat show FILE            JSON of a template file
//   vetlina-data pat make JSON -o FILE    template file from JSON
//   vetlina-data dat show FILE...         JSON of data, norms and message files
//   vetlina-data dat csv FOLDER           CSV of the data files of a folder
//   vetlina-data ini check [FILE]         what the program reads from a Vetlina.ini
//
// Exit status: 0 done, 1 a bad or unreadable input or an unwritable output (one
// line on stderr), 2 a usage error. scn make warns of every entry a calling complex
// would not hand over (one line each on stderr) and still makes the file.
#include "cli/DataFileTool.h"
#include "cli/IniCheck.h"
#include "cli/ScenarioJson.h"
#include "modem/ReceivedChecks.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "scenario/ScenarioFiles.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace vetlina;

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage: vetlina-data scn show FILE            JSON of a scenario file\n"
    "       vetlina-data scn make JSON -o FILE    scenario file from JSON\n"
    "       vetlina-data pat show FILE            JSON of a template file\n"
    "       vetlina-data pat make JSON -o FILE    template file from JSON\n"
    "       vetlina-data dat show FILE...         JSON of data, norms and message files\n"
    "       vetlina-data dat csv FOLDER           CSV of the data files (zmk*.dat) of a folder\n"
    "       vetlina-data ini check [FILE]         what the program reads from a Vetlina.ini\n"
    "                                             (default Vetlina.ini) and possible mistakes\n"
    "JSON may be - for standard input. Members left out of an entry take the values\n"
    "of a new entry; BegTime and EndTime also take \"dd.mm.yyyy hh:nn:ss\".\n"
    "dat show prints one JSON object for one FILE and an array of objects for several;\n"
    "dat csv prints a row per data file in number order, a column per key (frequency\n"
    "lists a column per point, as mttAtt@1000). A damaged file is named on stderr with\n"
    "the byte offset; the others are still shown, and the status is 1.\n";

int usage(const std::string& problem) {
    std::cerr << "vetlina-data: " << problem << "\n" << kUsageText;
    return kUsage;
}

int failed(const std::string& what) {
    std::cerr << "vetlina-data: " << what << "\n";
    return kFailed;
}

int printJson(const OrderedJson& json) {
    std::cout << json.dump(2, ' ', false) << "\n";
    std::cout.flush();
    if (!std::cout)
        return failed("cannot write to standard output");
    return kDone;
}

void warnExtraBytes(const std::string& path, const FileReadResult& result, const char* after) {
    if (result.extraBytes > 0)
        std::cerr << "vetlina-data: warning: " << path << ": " << result.extraBytes
                  << " bytes after " << after << " are ignored, as the program ignores them\n";
}

int showScenario(const std::string& path) {
    EntryArray entries;
    FileReadResult result = readScenarioFile(path, entries);
    if (result.status != FileStatus::Ok)
        return failed(path + ": not a scenario file: " + describe(result));
    warnExtraBytes(path, result, "the last entry");
    return printJson(scenarioToJson(entries));
}

int showTemplate(const std::string& path) {
    ScenarioEntry entry{};
    FileReadResult result = readTemplateFile(
        path,
        std::span<unsigned char, kSettingsSize>(bytesOf(entry) + kSettingsOffset, kSettingsSize));
    if (result.status != FileStatus::Ok)
        return failed(path + ": not a template file: " + describe(result));
    warnExtraBytes(path, result, "the settings");
    return printJson(templateToJson(entry));
}

bool readInput(const std::string& path, std::string& text, std::string& error) {
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (std::cin.bad()) {
            error = "cannot read standard input";
            return false;
        }
        return true;
    }
    InputRead read = vetlina::readInput(path);
    if (!read.ok()) {
        error = path + ": cannot read: " + inputErrorText(read.error);
        return false;
    }
    text = std::move(read.bytes);
    return true;
}

int writeOutput(const std::string& path, const std::string& image) {
    errno = 0;
    if (atomicReplace(path, image))
        return kDone;
    const int error = errno != 0 ? errno : EIO;
    if (error == EINVAL)
        return failed(path + ": not a regular file; only a regular file is replaced");
    if (error == EACCES)
        return failed(path + ": not writable for this user (permission denied); left as it is");
    return failed(path + ": cannot write: " + std::strerror(error));
}

// One line for each entry that a calling complex keeps back and an answering complex
// refuses. The entry is named by its place and its identity, the identity's control
// characters shown as "?" so that the line stays one line.
void warnUnfitEntries(const std::vector<ScenarioEntry>& entries) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto why = unfitEntryReason(entries[i]);
        if (!why)
            continue;
        std::string ident(textOf(entries[i].Id));
        for (char& c : ident)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                c = '?';
        std::cerr << "vetlina-data: warning: entry " << i + 1 << " (Id " << toUtf8(ident)
                  << "): " << toUtf8(*why)
                  << "; a calling complex will not hand this entry over, and an answering "
                     "complex refuses it\n";
    }
}

int makeScenario(const std::string& input, const std::string& output) {
    std::string text, error;
    if (!readInput(input, text, error))
        return failed(error);
    std::vector<ScenarioEntry> entries;
    if (!scenarioFromJson(text, entries, error))
        return failed(input + ": " + error);
    warnUnfitEntries(entries);
    return writeOutput(output, scenarioFileImage(entries));
}

int makeTemplate(const std::string& input, const std::string& output) {
    std::string text, error;
    if (!readInput(input, text, error))
        return failed(error);
    ScenarioEntry entry{};
    if (!templateFromJson(text, entry, error))
        return failed(input + ": " + error);
    return writeOutput(output, templateFileImage(entry));
}

int showDataFiles(const std::vector<std::string>& paths) {
    OrderedJson shown = OrderedJson::array();
    int status = kDone;
    for (const std::string& path : paths) {
        DataFileContents contents;
        std::string error;
        if (readDataFileAt(path, contents, error))
            shown.push_back(dataFileToJson(path, contents));
        else
            status = failed(error);
    }
    if (paths.size() == 1)
        return shown.empty() ? status : printJson(shown[0]);
    const int printed = printJson(shown);
    return status != kDone ? status : printed;
}

int dataFolderTable(const std::string& folder) {
    if (!folderExists(folder))
        return failed(folder + ": no such folder");
    DataCsv table = dataFolderCsv(folder);
    for (const std::string& problem : table.problems)
        failed(problem + " (left out)");
    std::cout << table.text;
    std::cout.flush();
    if (!std::cout)
        return failed("cannot write to standard output");
    return table.problems.empty() ? kDone : kFailed;
}

int runDataFiles(const std::vector<std::string>& args) {
    const std::string& command = args[1];
    if (command == "show") {
        if (args.size() < 3)
            return usage("dat show takes one FILE or more");
        return showDataFiles(std::vector<std::string>(args.begin() + 2, args.end()));
    }
    if (command == "csv") {
        if (args.size() != 3)
            return usage("dat csv takes one FOLDER");
        return dataFolderTable(args[2]);
    }
    return usage("unknown command \"" + command + "\"");
}

int run(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
        std::cout << kUsageText;
        return kDone;
    }
    if (args.size() < 2)
        return usage(
            "a kind (scn, pat, dat, ini) and a command (show, make, csv, check) are needed");
    const std::string& kind = args[0];
    const std::string& command = args[1];
    if (kind == "dat")
        return runDataFiles(args);
    if (kind == "ini") {
        if (command != "check" || args.size() > 3)
            return usage("ini takes: check [FILE]");
        return iniCheckCommand({args.begin() + 2, args.end()}, std::cout, std::cerr);
    }
    if (kind != "scn" && kind != "pat")
        return usage("unknown kind \"" + kind + "\"");

    if (command == "show") {
        if (args.size() != 3)
            return usage("show takes one FILE");
        return kind == "scn" ? showScenario(args[2]) : showTemplate(args[2]);
    }
    if (command == "make") {
        std::string input, output;
        bool haveOutput = false;
        for (std::size_t i = 2; i < args.size(); ++i) {
            if (args[i] == "-o") {
                if (haveOutput || i + 1 >= args.size())
                    return usage("-o takes one FILE");
                output = args[++i];
                haveOutput = true;
            } else if (input.empty()) {
                input = args[i];
            } else {
                return usage("make takes one JSON");
            }
        }
        if (input.empty() || !haveOutput || output.empty())
            return usage("make needs JSON and -o FILE");
        return kind == "scn" ? makeScenario(input, output) : makeTemplate(input, output);
    }
    return usage("unknown command \"" + command + "\"");
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return run(args);
    } catch (const std::exception& e) {
        return failed(std::string("failed: ") + e.what());
    }
}
