#include "analyzer/VisualPanel.h"

#include <cstdio>

namespace vetlina {

std::string formatDuration(int seconds) {
    if (seconds < 0)
        seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

std::array<PanelGroup, kPanelKinds>
VisualPanelSetup(const std::array<PanelInput, kPanelKinds>& kinds, bool autonomous) {
    static constexpr const char* kLabels[kPanelKinds] = {"LabSin",  "LabO132", "LabO131",
                                                         "LabMTTS", "LabO42",  "LabImp",
                                                         "LabBlk",  "LabEcho", "LabDisc"};
    std::array<PanelGroup, kPanelKinds> groups;
    for (std::size_t i = 0; i < kPanelKinds; ++i) {
        const PanelKind kind = static_cast<PanelKind>(i);
        const bool alsoAutonomous = kind == PanelKind::Sine || kind == PanelKind::O132 ||
                                    kind == PanelKind::Mtts || kind == PanelKind::Echo;
        groups[i].label = kLabels[i];
        groups[i].enabled =
            alsoAutonomous ? (autonomous || kinds[i].enabled) : (!autonomous && kinds[i].enabled);
        groups[i].duration = formatDuration(kinds[i].seconds);
    }
    return groups;
}

} // namespace vetlina
