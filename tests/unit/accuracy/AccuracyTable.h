// The accuracy table: for every quantity and point, the value injected on the simulated
// line, the value the program computed, their difference and the tolerance. Where the
// system's own formulas imply a systematic deviation, the row compares against the
// injected value corrected by it (the expected value) and names the note that derives it.
//
// The tests of the suite Accuracy fill it; when the whole suite ran in one process the
// table is written as Markdown to accuracy-table.md in the build directory.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vetlina::accuracy {

struct Tolerance {
    double absolute = 0.0;
    double relative = 0.0; // of the expected value
    std::string text;      // as the table shows it, e.g. "±(5 % + 0.2°)"

    double at(double expected) const;
};

struct Row {
    std::string quantity; // e.g. "Level"
    std::string point;    // e.g. "0 dBm range, -2 dBm"
    std::string unit;     // e.g. "dB"
    double injected = 0.0;
    double expected = 0.0; // injected, or injected corrected by a derived deviation
    double computed = 0.0;
    Tolerance tolerance;
    std::string note; // key of the note that derives a deviation ("" for none)
    int decimals = 2;

    double error() const { return computed - expected; }
    bool pass() const;
};

class AccuracyTable {
public:
    static AccuracyTable& instance();

    // A note that derives a deviation; rows name it by key. Numbered in the table in the
    // order of the rows that first name it.
    void note(const std::string& key, const std::string& text);
    void add(const Row& row);
    const std::vector<Row>& rows() const { return rows_; }

    std::string markdown() const;

private:
    std::vector<Row> rows_;
    std::map<std::string, std::string> notes_;
};

// A short label with up to two numbers (printf rules), and a number for the notes.
std::string label(const char* pattern, double a, double b = 0.0);
std::string number(double x, int decimals, bool sign = false);

// Adds the row to the table and reports it to the running test (a failure names the
// row with its values).
void record(const Row& row);

} // namespace vetlina::accuracy
