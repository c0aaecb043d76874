#include "analyzer/VisualisationPanel.h"

#include <cmath>
#include <cstdio>

namespace vetlina {

std::string panelDuration(double seconds) {
    // A duration that is not a number, negative or beyond a day shows as its part
    // within one day, as a time of day would.
    double s = std::isfinite(seconds) && seconds > 0.0 ? std::fmod(seconds, 86400.0) : 0.0;
    const long whole = static_cast<long>(s + 1e-6);
    char text[16];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", whole / 3600 % 24, whole / 60 % 60,
                  whole % 60);
    return text;
}

void setUpVisualisationPanel(VisualisationState& show, const ScenarioEntry& e) {
    const bool autonomous = e.ComplexType == kGeneratorComplexType;
    struct Group {
        ShowKind kind;
        double duration;
        bool measured;
        bool autonomousToo; // shown for an autonomous generator whatever the entry says
    };
    const Group groups[] = {
        {ShowKind::Sin, e.SinTime.get(), performsSine(e), true},
        {ShowKind::O132, e.O132Time.get(), performsO132(e), true},
        {ShowKind::O131, e.O131Time.get(), performsO131(e), false},
        {ShowKind::Mtts, e.MTTSTime.get(), performsMultiFrequency(e), true},
        {ShowKind::O42, e.O42Time.get(), performsO42(e), false},
        {ShowKind::Imp, e.ImpTime.get(), performsImpedance(e), false},
        {ShowKind::Blk, e.BlkTime.get(), performsNoise(e), false},
        {ShowKind::Echo, e.EchoTime.get(), performsEcho(e), true},
        {ShowKind::Disc, e.DiscrTime.get(), performsThroughput(e), false},
    };
    for (const Group& g : groups) {
        VisualisationState::Kind& k = show.kind(g.kind);
        k.progress = 0;
        k.enabled = autonomous ? g.autonomousToo : g.measured;
        k.duration = panelDuration(g.duration);
    }
    show.panelVisible = true;
}

} // namespace vetlina
