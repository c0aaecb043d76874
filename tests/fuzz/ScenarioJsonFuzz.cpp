// Fuzz target: `vetlina-data scn make` and `pat make` JSON. Any text is either refused
// with a message or made into entries; made entries show as JSON that makes the same
// bytes again.
#include "cli/ScenarioJson.h"
#include "scenario/ScenarioFiles.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace vetlina;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<ScenarioEntry> entries;
    std::string error;
    if (scenarioFromJson(text, entries, error)) {
        const std::string image = scenarioFileImage(entries);
        const std::string json = scenarioToJson(entries).dump();
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
