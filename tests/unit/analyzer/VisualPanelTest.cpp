#include "analyzer/VisualPanel.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

std::array<PanelInput, kPanelKinds> allKinds(bool enabled) {
    std::array<PanelInput, kPanelKinds> k;
    for (std::size_t i = 0; i < kPanelKinds; ++i)
        k[i] = {enabled, static_cast<int>(60 * (i + 1))};
    return k;
}

TEST(VisualPanel, AutonomousModeShowsOnlyWhatAGeneratorSends) {
    const auto g = VisualPanelSetup(allKinds(false), true);
    for (PanelKind k : {PanelKind::Sine, PanelKind::O132, PanelKind::Mtts, PanelKind::Echo})
        EXPECT_TRUE(g[static_cast<int>(k)].enabled) << g[static_cast<int>(k)].label;
    for (PanelKind k : {PanelKind::O131, PanelKind::O42, PanelKind::Impedance, PanelKind::Noise,
                        PanelKind::Throughput})
        EXPECT_FALSE(g[static_cast<int>(k)].enabled) << g[static_cast<int>(k)].label;
    const auto enabledAnyway = VisualPanelSetup(allKinds(true), true);
    EXPECT_FALSE(enabledAnyway[static_cast<int>(PanelKind::Noise)].enabled);
}

TEST(VisualPanel, WithAComplexEachKindFollowsItsSwitch) {
    auto kinds = allKinds(false);
    kinds[static_cast<int>(PanelKind::Impedance)].enabled = true;
    const auto g = VisualPanelSetup(kinds, false);
    for (std::size_t i = 0; i < kPanelKinds; ++i)
        EXPECT_EQ(g[i].enabled, i == static_cast<std::size_t>(PanelKind::Impedance)) << g[i].label;
    EXPECT_STREQ(g[static_cast<int>(PanelKind::Noise)].label, "LabBlk");
    EXPECT_EQ(g[0].duration, "00:01:00");
}

TEST(VisualPanel, DurationsAsHoursMinutesSeconds) {
    EXPECT_EQ(formatDuration(0), "00:00:00");
    EXPECT_EQ(formatDuration(3725), "01:02:05");
    EXPECT_EQ(formatDuration(90000), "25:00:00");
    EXPECT_EQ(formatDuration(-5), "00:00:00");
}

} // namespace
} // namespace vetlina
