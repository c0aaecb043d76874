// The file tool's view of the files of DATA (vetlina-data dat ...): one file as JSON, and
// the data files of a folder as one CSV table for spreadsheets.
#pragma once

#include "cli/ScenarioJson.h"
#include "reports/DataFileReader.h"

#include <string>
#include <vector>

namespace vetlina {

// Reads and parses one file (at most kMaxDataFileSize bytes are read); false with a
// one-line reason that names the file and, for a damaged one, the byte offset.
bool readDataFileAt(const std::string& path, DataFileContents& contents, std::string& error);

// {"file", "kind", the header fields, "plan" (norms), "items" in file order (norms as
// {"on", "value"}, frequency lists as arrays of {"value", "frequency"}), "code" and "text"
// (message)}. Texts in UTF-8.
OrderedJson dataFileToJson(const std::string& path, const DataFileContents& contents);

// The CSV of the data files (kind "D") of a folder: every zmk<digits>.dat in number order,
// a row per data file, the header fields first, then a column per key seen in any file
// (frequency lists one column per point, "mttAtt@1000"); an empty cell where a file lacks
// the key. Norms and message files are passed over; a damaged or unreadable file is left
// out and named in problems (one line each).
struct DataCsv {
    std::string text;
    std::vector<std::string> problems;
};
DataCsv dataFolderCsv(const std::string& folder);

// The same table from parsed files (name and contents, in row order).
std::string dataFilesCsv(const std::vector<std::pair<std::string, DataFileContents>>& files);

} // namespace vetlina
