// The progress panel of the visualisation window as the analyzer sets it up at the
// start of each measuring pass: one group per measurement kind, enabled when the kind
// is measured, its label showing the kind's duration, its progress bar at 0.
#pragma once

#include "scenario/ScenarioEntry.h"
#include "ui/WindowModels.h"

#include <string>

namespace vetlina {

// A duration in seconds as the panel's labels show it, "hh:nn:ss"; hours beyond 23
// are kept.
std::string panelDuration(double seconds);

// Sets up the panel for the entry and shows it (on the main thread).
void setUpVisualisationPanel(VisualisationState& show, const ScenarioEntry& entry);

} // namespace vetlina
