// The panel of the visualisation window that announces the measurement kinds of a pass:
// which kinds take part and how long each runs. Computed here; the window model shows
// it (on the GUI thread, after the range step's caption).
#pragma once

#include <array>
#include <string>

namespace vetlina {

enum class PanelKind { Sine, O132, O131, Mtts, O42, Impedance, Noise, Echo, Throughput, Count };

inline constexpr std::size_t kPanelKinds = static_cast<std::size_t>(PanelKind::Count);

struct PanelInput {
    bool enabled = false; // the kind's switch, duration and selected parameters
    int seconds = 0;      // its duration (EditSinTime ... EditDiscrTime)
};

struct PanelGroup {
    const char* label = ""; // the control group: LabSin, LabO132, ...
    bool enabled = false;
    std::string duration; // "hh:nn:ss"
};

// Sine, O.132, multi-frequency and echo take part in autonomous mode or when enabled;
// O.131, O.42, impedance, noise and the data throughput only when enabled and not in
// autonomous mode. All progress bars start at 0.
std::array<PanelGroup, kPanelKinds>
VisualPanelSetup(const std::array<PanelInput, kPanelKinds>& kinds, bool autonomous);

// Seconds as "hh:nn:ss" (hours beyond 23 are kept, not wrapped).
std::string formatDuration(int seconds);

} // namespace vetlina
