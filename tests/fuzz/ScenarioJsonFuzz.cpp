// Fuzz target: `vetlina-data scn make` and `pat make` JSON. Any text is either refused
// with a message or made into entries; made entries show as JSON that makes the same
// bytes again.
#include "cli/ScenarioJson.h"
#include "scenario/ScenarioFiles.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

using namespace vetlina;

namespace {

// Each element of "entries" is made on its own, so the list's round trip is that of its
// distinct entries. A short text such as [{},{},…] makes ninety entries of 22 kB of JSON
// each; showing and making them all again took seconds per input and nothing else.
std::vector<ScenarioEntry> distinctEntries(const std::vector<ScenarioEntry>& entries) {
    std::vector<ScenarioEntry> distinct;
    std::set<std::string> seen;
    for (const ScenarioEntry& entry : entries)
        if (seen.insert(scenarioFileImage({&entry, 1})).second)
            distinct.push_back(entry);
    return distinct;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<ScenarioEntry> entries;
    std::string error;
    if (scenarioFromJson(text, entries, error)) {
        const std::vector<ScenarioEntry> distinct = distinctEntries(entries);
        const std::string image = scenarioFileImage(distinct);
        const std::string json = scenarioToJson(distinct).dump();
        std::vector<ScenarioEntry> back;
        if (!scenarioFromJson(json, back, error) || scenarioFileImage(back) != image)
            std::abort();
    } else if (error.empty()) {
        std::abort();
    }

    ScenarioEntry entry{};
    error.clear();
    if (templateFromJson(text, entry, error)) {
        const std::string image = templateFileImage(entry);
        ScenarioEntry back{};
        if (!templateFromJson(templateToJson(entry).dump(), back, error) ||
            templateFileImage(back) != image)
            std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}
