#include "scenario/Scenario.h"

#include "platform/Clock.h"
#include "platform/Cp1251.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace vetlina {

namespace detail {
std::atomic<std::size_t>& entryAllocationLimit() {
    static std::atomic<std::size_t> limit{std::numeric_limits<std::size_t>::max()};
    return limit;
}
} // namespace detail

std::string noMemoryToGrowText() {
    return "Нет памяти для расширения сценария"_cp;
}

namespace {

int compareBytes(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// BegTime ascending; a value that is not a number (a damaged file) sorts last,
// which keeps the ordering strict and weak.
bool startLess(const ScenarioEntry& a, const ScenarioEntry& b) {
    double x = a.BegTime.get();
    double y = b.BegTime.get();
    if (std::isnan(x))
        return false;
    if (std::isnan(y))
        return true;
    return x < y;
}

} // namespace

bool idLess(const ScenarioEntry& a, const ScenarioEntry& b) {
    int byId = compareBytes(textOf(a.Id), textOf(b.Id));
    if (byId != 0)
        return byId < 0;
    return compareBytes(textOf(a.Number), textOf(b.Number)) < 0;
}

Scenario::Scenario() : Scenario(vetlina::defaultEntry()) {}

Scenario::Scenario(const ScenarioEntry& defaults) : default_(defaults) {}

void Scenario::select(int i) {
    current_ = i >= 0 && i < count() ? i : -1;
}

bool Scenario::append(std::string_view id, std::string_view number) {
    ScenarioEntry added = current();
    setText(added.Id, id);
    setText(added.Number, number);
    auto at = entries_.end();
    if (sortedById_)
        at = std::upper_bound(entries_.begin(), entries_.end(), added, idLess);
    try {
        // A single insertion either succeeds or leaves the array as it was.
        at = entries_.insert(at, added);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    current_ = static_cast<int>(at - entries_.begin());
    return true;
}

void Scenario::remove(int i) {
    if (i < 0 || i >= count())
        return;
    entries_.erase(entries_.begin() + i);
    current_ = entries_.empty() ? -1 : std::min(i, count() - 1);
}

template <typename Less>
void Scenario::reorder(Less less) {
    const int n = count();
    if (n < 2)
        return;
    try {
        // order[p] is the old position of the entry that goes to position p.
        std::vector<int> order(static_cast<std::size_t>(n));
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return less(entry(a), entry(b)); });
        // Move the records along the cycles of the permutation, one spare record
        // at a time, instead of copying the whole array.
        std::vector<bool> placed(static_cast<std::size_t>(n), false);
        int newCurrent = -1;
        for (int start = 0; start < n; ++start) {
            if (order[start] == current_)
                newCurrent = start;
            if (placed[start] || order[start] == start)
                continue;
            ScenarioEntry spare = entry(start);
            int p = start;
            for (;;) {
                placed[p] = true;
                int from = order[p];
                if (from == start) {
                    entry(p) = spare;
                    break;
                }
                entry(p) = entry(from);
                p = from;
            }
        }
        if (current_ >= 0)
            current_ = newCurrent;
    } catch (const std::bad_alloc&) {
        // Without room for the permutation the list keeps its order.
    }
}

void Scenario::sortByStart() {
    reorder(startLess);
}

void Scenario::sortById() {
    reorder(idLess);
}

void Scenario::markModified() {
    modified_ = true;
    ScenarioEntry& e = current();
    e.Finished = 0;
    e.SessionsDone = 0;
    e.Calls = 0;
}

void Scenario::clear() {
    if (current_ >= 0)
        std::memcpy(bytesOf(default_) + kSettingsOffset, bytesOf(entry(current_)) + kSettingsOffset,
                    kSettingsSize);
    EntryArray().swap(entries_);
    current_ = -1;
}

void Scenario::replaceEntries(EntryArray&& entries) {
    entries_ = std::move(entries);
    current_ = -1;
    sortByStart();
    if (sortedById_)
        sortById();
}

void Scenario::setSortedById(bool on) {
    sortedById_ = on;
    if (on)
        sortById();
}

std::string Scenario::listLine(int i) const {
    const ScenarioEntry& e = entry(i);
    std::string line(textOf(e.Id));
    line += " # ";
    line += textOf(e.Number);
    return line;
}

} // namespace vetlina
