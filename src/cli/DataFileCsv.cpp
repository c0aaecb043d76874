// The data files of a folder as one CSV table for the file tool.
#include "cli/DataFileTool.h"
#include "platform/Cp1251.h"
#include "platform/DateTime.h"
#include "platform/Files.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_map>

namespace vetlina {
namespace {

const char* const kHeaderColumns[] = {"file",       "callerFlag",  "cycleStart",   "writtenAt",
                                      "callerRole", "callerIdent", "answererRole", "answererIdent",
                                      "session",    "cycleEnd"};

// The shortest decimal that reads back to the float; "inf", "-inf", "nan" as words.
std::string number(float value) {
    if (std::isnan(value))
        return "nan";
    char text[32];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : std::string();
}

// A cell as CSV wants it: quoted when it holds a comma, a quote or a line break.
void appendCell(std::string& out, std::string_view cell) {
    if (cell.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(cell);
        return;
    }
    out.push_back('"');
    for (char c : cell) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

class Table {
public:
    Table() {
        for (const char* name : kHeaderColumns)
            column(name);
    }
    // The index of a column, added at the end when new.
    std::size_t column(const std::string& name) {
        auto [it, added] = index_.try_emplace(name, names_.size());
        if (added)
            names_.push_back(name);
        return it->second;
    }
    void addRow(const std::string& name, const DataFileContents& c) {
        std::vector<std::pair<std::size_t, std::string>> row;
        row.reserve(16 + c.items.size());
        std::size_t i = 0;
        row.emplace_back(i++, baseName(name));
        row.emplace_back(i++, std::to_string(c.callerFlag));
        row.emplace_back(i++, formatDateTime(c.cycleStart));
        row.emplace_back(i++, formatDateTime(c.writtenAt));
        row.emplace_back(i++, std::string(1, c.callerRole));
        row.emplace_back(i++, toUtf8(c.callerIdent));
        row.emplace_back(i++, std::string(1, c.answererRole));
        row.emplace_back(i++, toUtf8(c.answererIdent));
        row.emplace_back(i++, std::to_string(c.session));
        row.emplace_back(i++, std::to_string(c.cycleEnd));
        for (const DataFileItem& item : c.items) {
            if (!item.isList) {
                row.emplace_back(column(item.key), number(item.value));
                continue;
            }
            for (const ListPoint& p : item.points)
                row.emplace_back(column(item.key + "@" + number(p.frequency)), number(p.value));
        }
        rows_.push_back(std::move(row));
    }
    std::string text() const {
        std::string out;
        out.reserve(rows_.size() * 512 + 1024);
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (i)
                out.push_back(',');
            appendCell(out, names_[i]);
        }
        out.append("\r\n");
        std::vector<const std::string*> cells(names_.size());
        for (const auto& row : rows_) {
            std::fill(cells.begin(), cells.end(), nullptr);
            for (const auto& [at, text] : row)
                cells[at] = &text;
            for (std::size_t i = 0; i < cells.size(); ++i) {
                if (i)
                    out.push_back(',');
                if (cells[i])
                    appendCell(out, *cells[i]);
            }
            out.append("\r\n");
        }
        return out;
    }

private:
    std::vector<std::string> names_;
    std::unordered_map<std::string, std::size_t> index_;
    std::vector<std::vector<std::pair<std::size_t, std::string>>> rows_;
};

} // namespace

std::string dataFilesCsv(const std::vector<std::pair<std::string, DataFileContents>>& files) {
    Table table;
    for (const auto& [name, contents] : files)
        table.addRow(name, contents);
    return table.text();
}

DataCsv dataFolderCsv(const std::string& folder) {
    DataCsv result;
    std::vector<std::pair<int64_t, std::string>> names;
    for (std::string& name : listFiles(folder, "zmk*.dat"))
        if (auto n = dataFileNumber(name))
            names.emplace_back(*n, std::move(name));
    std::sort(names.begin(), names.end());
    Table table;
    DataFileContents contents;
    for (const auto& [number, name] : names) {
        std::string error;
        if (!readDataFileAt(folder + "/" + name, contents, error)) {
            result.problems.push_back(std::move(error));
            continue;
        }
        if (contents.kind == DataFileKind::Data)
            table.addRow(name, contents);
    }
    result.text = table.text();
    return result;
}

} // namespace vetlina
