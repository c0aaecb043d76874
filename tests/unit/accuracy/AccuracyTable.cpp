#include "AccuracyTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>

namespace vetlina::accuracy {

namespace {

constexpr const char* kSuite = "Accuracy";
constexpr const char* kFileName = "accuracy-table.md";

// The order of the quantities in the table.
const std::string kQuantities[] = {"Level",
                                   "Frequency",
                                   "Signal-to-noise",
                                   "Psophometric signal-to-noise",
                                   "Phase jitter",
                                   "Amplitude jitter",
                                   "Attenuation response",
                                   "Multi-frequency level",
                                   "Group delay",
                                   "Talker echo",
                                   "Listener echo",
                                   "O.42 2nd-order products",
                                   "O.42 3rd-order products",
                                   "O.42 sum of products",
                                   "Impedance deviation",
                                   "Capacitance",
                                   "Impulse-noise count",
                                   "Interruption count",
                                   "O.131 signal-to-noise",
                                   "O.131 level",
                                   "2nd harmonic (sine)",
                                   "3rd harmonic (sine)",
                                   "2nd + 3rd harmonics (sine)",
                                   "Noise level",
                                   "Psophometric noise level"};

std::string fixed(double x, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, x);
    std::string s = buffer;
    // No "-0.00".
    if (s.find_first_not_of("-0.") == std::string::npos && s[0] == '-')
        s.erase(0, 1);
    return s;
}

// A table cell: a '|' would end it.
std::string cell(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '|')
            out += '\\';
        out += c;
    }
    return out;
}

std::string withUnit(const std::string& value, const std::string& unit) {
    return unit.empty() ? value : value + " " + unit;
}

// Writes the table when every test of the suite ran in this process (ctest runs each
// test alone; the table then stays as the last whole run left it).
class TableWriter : public ::testing::Environment {
public:
    void TearDown() override {
        const auto* unit = ::testing::UnitTest::GetInstance();
        bool whole = false;
        for (int i = 0; i < unit->total_test_suite_count(); ++i) {
            const auto* suite = unit->GetTestSuite(i);
            if (std::string(suite->name()) == kSuite)
                whole = suite->test_to_run_count() == suite->total_test_count();
        }
        if (!whole || AccuracyTable::instance().rows().empty())
            return;
        const std::string path = std::string(VETLINA_BINARY_DIR) + "/" + kFileName;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << AccuracyTable::instance().markdown();
        out.close();
        if (out)
            std::cout << "accuracy table written to " << path << "\n";
        else
            std::cout << "accuracy table could not be written to " << path << "\n";
    }
};

[[maybe_unused]] ::testing::Environment* const kWriter =
    ::testing::AddGlobalTestEnvironment(new TableWriter);

} // namespace

double Tolerance::at(double expected) const {
    return absolute + relative * std::fabs(expected);
}

bool Row::pass() const {
    return std::isfinite(computed) && std::fabs(error()) <= tolerance.at(expected) + 1e-9;
}

AccuracyTable& AccuracyTable::instance() {
    static AccuracyTable table;
    return table;
}

void AccuracyTable::note(const std::string& key, const std::string& text) {
    notes_[key] = text;
}

void AccuracyTable::add(const Row& row) {
    rows_.push_back(row);
}

std::string AccuracyTable::markdown() const {
    // Rows in the order of the quantities (the order the tests ran in otherwise).
    std::vector<Row> rows = rows_;
    auto rank = [](const std::string& quantity) {
        const auto it = std::find(std::begin(kQuantities), std::end(kQuantities), quantity);
        return it - std::begin(kQuantities);
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
        return rank(a.quantity) < rank(b.quantity);
    });
    // Notes are numbered in the order rows first name them.
    std::vector<std::string> order;
    for (const Row& r : rows)
        if (!r.note.empty() && std::find(order.begin(), order.end(), r.note) == order.end())
            order.push_back(r.note);
    auto number = [&](const std::string& key) {
        return static_cast<int>(std::find(order.begin(), order.end(), key) - order.begin()) + 1;
    };

    std::string md;
    md += "| Quantity | Point | Injected | Computed | Error | Tolerance | Pass |\n";
    md += "|---|---|---|---|---|---|---|\n";
    for (const Row& r : rows) {
        std::string injected = withUnit(fixed(r.injected, r.decimals), r.unit);
        if (!r.note.empty()) {
            const std::string n = std::to_string(number(r.note));
            injected += r.expected != r.injected
                            ? " (expected " + fixed(r.expected, r.decimals) + ", note " + n + ")"
                            : " (note " + n + ")";
        }
        md += "| " + cell(r.quantity) + " | " + cell(r.point) + " | " + cell(injected) + " | " +
              withUnit(fixed(r.computed, r.decimals), r.unit) + " | " +
              fixed(r.error(), r.decimals) + " | " + cell(r.tolerance.text) + " | " +
              (r.pass() ? "yes" : "**no**") + " |\n";
    }
    if (!order.empty()) {
        md += "\nNotes:\n\n";
        for (std::size_t i = 0; i < order.size(); ++i) {
            auto it = notes_.find(order[i]);
            md +=
                std::to_string(i + 1) + ". " + (it != notes_.end() ? it->second : order[i]) + "\n";
        }
    }
    return md;
}

std::string label(const char* pattern, double a, double b) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, pattern, a, b);
    return buffer;
}

std::string number(double x, int decimals, bool sign) {
    std::string s = fixed(x, decimals);
    return sign && s[0] != '-' ? "+" + s : s;
}

void record(const Row& row) {
    AccuracyTable::instance().add(row);
    EXPECT_TRUE(row.pass()) << row.quantity << ", " << row.point << ": injected " << row.injected
                            << ", expected " << row.expected << ", computed " << row.computed << " "
                            << row.unit << ", tolerance " << row.tolerance.text;
}

} // namespace vetlina::accuracy
