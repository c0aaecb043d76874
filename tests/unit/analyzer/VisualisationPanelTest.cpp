// The progress panel of the visualisation window as a pass sets it up.
#include "analyzer/VisualisationPanel.h"

#include "SequenceSupport.h"

#include <gtest/gtest.h>
#include <limits>
#include <utility>

namespace vetlina {
namespace {

TEST(VisualisationPanel, AComplexShowsTheKindsItMeasuresWithTheirDurations) {
    ScenarioEntry e = test::nothingEntry();
    e.sinSNROn = 1;
    e.SinTime = 3725.0;
    e.blkNoiseOn = 1;
    e.BlkTime = 30.0;
    e.o42Dis2On = 1;
    e.O42Time = 0.0; // selected, but no time: not measured
    VisualisationState show;
    for (auto& k : show.kinds)
        k.progress = 77;
    setUpVisualisationPanel(show, e);

    EXPECT_TRUE(show.panelVisible);
    EXPECT_TRUE(show.kind(ShowKind::Sin).enabled);
    EXPECT_EQ(show.kind(ShowKind::Sin).duration, "01:02:05");
    EXPECT_TRUE(show.kind(ShowKind::Blk).enabled);
    EXPECT_EQ(show.kind(ShowKind::Blk).duration, "00:00:30");
    for (ShowKind k : {ShowKind::O132, ShowKind::O131, ShowKind::Mtts, ShowKind::O42, ShowKind::Imp,
                       ShowKind::Echo, ShowKind::Disc})
        EXPECT_FALSE(show.kind(k).enabled) << static_cast<int>(k);
    EXPECT_EQ(show.kind(ShowKind::O42).duration, "00:00:00");
    for (const auto& k : show.kinds)
        EXPECT_EQ(k.progress, 0);
}

TEST(VisualisationPanel, AnAutonomousGeneratorShowsItsFixedProgrammeOnly) {
    // Everything selected: the generator's programme decides, not the entry.
    ScenarioEntry e = test::everyKindEntry(20.0, 8);
    e.ComplexType = kGeneratorComplexType;
    VisualisationState show;
    setUpVisualisationPanel(show, e);
    for (ShowKind k : {ShowKind::Sin, ShowKind::O132, ShowKind::Mtts, ShowKind::Echo})
        EXPECT_TRUE(show.kind(k).enabled) << static_cast<int>(k);
    for (ShowKind k : {ShowKind::O131, ShowKind::O42, ShowKind::Imp, ShowKind::Blk, ShowKind::Disc})
        EXPECT_FALSE(show.kind(k).enabled) << static_cast<int>(k);

    // ... and nothing selected at all still shows the programme.
    ScenarioEntry bare = test::nothingEntry();
    bare.ComplexType = kGeneratorComplexType;
    bare.Analog = 0;
    setUpVisualisationPanel(show, bare);
    EXPECT_TRUE(show.kind(ShowKind::Sin).enabled);
    EXPECT_TRUE(show.kind(ShowKind::Echo).enabled);
}

TEST(VisualisationPanel, DurationsOfADayOrMoreKeepTheirHours) {
    // A label wrapped at midnight would show a 25-hour measurement as one hour.
    const std::pair<double, const char*> cases[] = {
        {0.0, "00:00:00"},
        {3725.0, "01:02:05"},
        {86399.0, "23:59:59"},
        {86400.0, "24:00:00"},
        {86400.0 + 61.0, "24:01:01"},
        {90000.0, "25:00:00"},
        {100.0 * 3600.0 + 1.0, "100:00:01"},
        {-5.0, "00:00:00"},
        {std::numeric_limits<double>::quiet_NaN(), "00:00:00"},
        {std::numeric_limits<double>::infinity(), "00:00:00"},
        {1e300, "1000000:00:00"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(panelDuration(seconds), text) << seconds;

    ScenarioEntry e = test::nothingEntry();
    e.sinSNROn = 1;
    e.SinTime = 90000.0;
    VisualisationState show;
    setUpVisualisationPanel(show, e);
    EXPECT_EQ(show.kind(ShowKind::Sin).duration, "25:00:00");
}

} // namespace
} // namespace vetlina
