// The progress panel of the visualisation window as a pass sets it up.
#include "analyzer/VisualisationPanel.h"

#include "SequenceSupport.h"

#include <gtest/gtest.h>

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
    e.ComplexType = 1;
    VisualisationState show;
    setUpVisualisationPanel(show, e);
    for (ShowKind k : {ShowKind::Sin, ShowKind::O132, ShowKind::Mtts, ShowKind::Echo})
        EXPECT_TRUE(show.kind(k).enabled) << static_cast<int>(k);
    for (ShowKind k : {ShowKind::O131, ShowKind::O42, ShowKind::Imp, ShowKind::Blk, ShowKind::Disc})
        EXPECT_FALSE(show.kind(k).enabled) << static_cast<int>(k);

    // ... and nothing selected at all still shows the programme.
    ScenarioEntry bare = test::nothingEntry();
    bare.ComplexType = 1;
    bare.Analog = 0;
    setUpVisualisationPanel(show, bare);
    EXPECT_TRUE(show.kind(ShowKind::Sin).enabled);
    EXPECT_TRUE(show.kind(ShowKind::Echo).enabled);
}

TEST(VisualisationPanel, DurationsOutsideADayStayReadable) {
    EXPECT_EQ(panelDuration(-5.0), "00:00:00");
    EXPECT_EQ(panelDuration(86400.0 + 61.0), "00:01:01");
    EXPECT_EQ(panelDuration(std::numeric_limits<double>::quiet_NaN()), "00:00:00");
}

} // namespace
} // namespace vetlina
