// Fuzz target: scenario and template files from bytes. Any file is either refused or
// loaded; a loaded one formats its date-times of any value within their texts, sorts
// into the editor's order, and its image is its own bytes. (How `scn show` prints any
// field value is ScenarioJsonFuzz's: the JSON there reaches every bit pattern.)
#include "platform/DateTime.h"
#include "scenario/Scenario.h"
#include "scenario/ScenarioFiles.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

using namespace vetlina;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view image(reinterpret_cast<const char*>(data), size);

    EntryArray entries;
    const FileReadResult scn = scenarioFromImage(image, entries);
    if (scn.status == FileStatus::Ok) {
        if (scn.extraBytes < 0)
            std::abort();
        const std::string own = scenarioFileImage(entries);
        if (own != image.substr(0, size - static_cast<std::size_t>(scn.extraBytes)))
            std::abort();
        for (const ScenarioEntry& e : entries)
            for (double t :
                 {e.BegTime.get(), e.EndTime.get(), e.NextTime.get(), e.SeriesTime.get()}) {
                if (formatDateTime(t).size() < 19 || formatStamp(t).size() < 14)
                    std::abort();
                const double day = timeOfDay(t);
                if (!(day >= 0.0 && day < 1.0))
                    std::abort();
            }
        Scenario scenario;
        scenario.replaceEntries(std::move(entries));
    } else if (!entries.empty()) {
        std::abort();
    }

    ScenarioEntry entry{};
    const FileReadResult pat = templateFromImage(
        image,
        std::span<unsigned char, kSettingsSize>(bytesOf(entry) + kSettingsOffset, kSettingsSize));
    if (pat.status == FileStatus::Ok) {
        const std::string own = templateFileImage(entry);
        if (own != image.substr(0, kTemplateFileSize))
            std::abort();
    }
    return 0;
}
