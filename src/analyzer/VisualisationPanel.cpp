#include "analyzer/VisualisationPanel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vetlina {

std::string panelDuration(double seconds) {
    // A duration of a day or more keeps its hours ("25:00:00"): a label that wrapped at
    // midnight would show a long measurement as a short one. A duration that is not a
    // number or is negative shows as zero; one beyond any measurement is held at a
    // million hours so that the whole seconds stay in range.
    constexpr double kLongest = 1e6 * 3600.0;
    const double s = std::isfinite(seconds) && seconds > 0.0 ? std::min(seconds, kLongest) : 0.0;
    const long long whole = static_cast<long long>(s + 1e-6);
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
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
