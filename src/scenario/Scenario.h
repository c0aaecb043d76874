// The scenario: the ordered list of answering complexes, one ScenarioEntry each,
// the entry the editor shows and the run works on (`current`), and the default
// entry that holds the settings while no line is selected. It belongs to the GUI
// thread; during a run the modem thread is its only writer.
#pragma once

#include "platform/DateTime.h"
#include "scenario/ScenarioEntry.h"

#include <atomic>
#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace vetlina {

// The message (code page 1251) that the editor shows, titled "Ошибка", when the
// list cannot grow by one complex.
std::string noMemoryToGrowText();

namespace detail {
std::atomic<std::size_t>& entryAllocationLimit();
}

// Test hook: allocations of more than maxEntries entries fail as if memory had run
// out, so the behaviour on lack of memory can be seen; SIZE_MAX lifts the limit.
inline void setEntryLimitForTesting(std::size_t maxEntries) {
    detail::entryAllocationLimit().store(maxEntries);
}

// The allocator of the entry array: the standard one, within the test limit.
template <typename T>
struct EntryAllocator {
    using value_type = T;
    EntryAllocator() = default;
    template <typename U>
    EntryAllocator(const EntryAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > detail::entryAllocationLimit().load(std::memory_order_relaxed))
            throw std::bad_alloc();
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept { std::allocator<T>().deallocate(p, n); }

    template <typename U>
    bool operator==(const EntryAllocator<U>&) const noexcept {
        return true;
    }
};

// The entries of a scenario: one contiguous block of records, so that its image is
// the records' bytes one after another.
using EntryArray = std::vector<ScenarioEntry, EntryAllocator<ScenarioEntry>>;

// The key of the sorted list: Id, then Number, byte by byte as unsigned characters.
bool idLess(const ScenarioEntry& a, const ScenarioEntry& b);

class Scenario {
public:
    // An empty scenario whose default entry starts its window now.
    Scenario();
    explicit Scenario(const ScenarioEntry& defaults);

    int count() const { return static_cast<int>(entries_.size()); }
    ScenarioEntry& entry(int i) { return entries_[static_cast<std::size_t>(i)]; }
    const ScenarioEntry& entry(int i) const { return entries_[static_cast<std::size_t>(i)]; }
    const EntryArray& entries() const { return entries_; }

    // The selected entry, or the default entry while no line is selected.
    ScenarioEntry& current() { return current_ < 0 ? default_ : entry(current_); }
    const ScenarioEntry& current() const { return current_ < 0 ? default_ : entry(current_); }
    // The selected line, -1 for none (the default entry).
    int currentIndex() const { return current_; }
    bool lineSelected() const { return current_ >= 0; }
    // Makes entry i current; -1 (or any index outside the list) selects the
    // default entry.
    void select(int i);

    ScenarioEntry& defaultEntry() { return default_; }
    const ScenarioEntry& defaultEntry() const { return default_; }

    // Adds a complex as a byte copy of the current entry with Id and Number
    // replaced (NUL-padded, cut at their fields); it becomes current. It goes to
    // the end, or while the list is sorted by identifier to the place that keeps
    // the order. False, and nothing changed, when memory runs out.
    bool append(std::string_view id, std::string_view number);

    // Removes entry i; the entry now at i, or the last one, becomes current.
    void remove(int i);

    // Reorders by BegTime, ascending; a start time that is not a number sorts
    // last. The current entry stays current where it moves to.
    void sortByStart();
    // Reorders by Id, then Number.
    void sortById();

    // A setting of the current entry changed: the scenario is modified and the
    // entry starts its series anew.
    void markModified();

    // Empties the list; the settings of the current entry go into the default
    // entry, which becomes current, so that the next complex starts from them.
    void clear();

    // Puts a freshly read list in place of the old one, in start order (then by
    // identifier while the sort switch is on), with no line selected.
    void replaceEntries(EntryArray&& entries);

    bool modified() const { return modified_; }
    void setModified(bool modified) { modified_ = modified; }

    // The sort switch of the list of complexes; switching it on sorts the list.
    bool sortedById() const { return sortedById_; }
    void setSortedById(bool on);

    // The file the scenario was last opened from or saved to ("" at start).
    const std::string& fileName() const { return fileName_; }
    void setFileName(std::string name) { fileName_ = std::move(name); }

    // The line of entry i in the list of complexes: Id + " # " + Number.
    std::string listLine(int i) const;

private:
    template <typename Less>
    void reorder(Less less);

    EntryArray entries_;
    ScenarioEntry default_;
    int current_ = -1;
    bool modified_ = false;
    bool sortedById_ = false;
    std::string fileName_;
};

} // namespace vetlina
