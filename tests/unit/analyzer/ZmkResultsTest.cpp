// The result accumulation of the analyzer thread on its own, on the test's thread:
// which decoded blocks go into the live records of the step, and what the results
// window shows of them.
#include "analyzer/ZmkResults.h"

#include "IdleDevice.h"
#include "TestUi.h"
#include "analyzer/ZmkLink.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

class ZmkResultsTest : public ::testing::Test {
protected:
    ZmkResultsTest() {
        EXPECT_TRUE(results_.obtainWorkingMemory());
        results_.resetMeter();
        context_.sinFreq = 1800.0;
    }

    // A decoded sine block at 1801 Hz as the frame analysis leaves it.
    void sineBlock() {
        auto& l = results_.meter().out().levels;
        l.fill(kNotMeasured);
        l[item::Level] = -10.0f;
        l[item::Frequency] = 1801.0f;
        l[item::Snr] = 40.0f;
    }
    void take(int16_t result) {
        results_.take(result, AnalyzerCommand::MeterSine, ResultKind::Sine, context_);
    }

    test::TestUi ui_;
    test::IdleDevice device_{ui_.bridge, [](int32_t) { return nullptr; }};
    ZmkLink link_{device_};
    ZmkResults results_{device_, link_};
    ResultContext context_;
};

TEST_F(ZmkResultsTest, OnlyTheBlocksOfAMeasurementGoIntoTheRecordOfTheStep) {
    results_.clear(ResultKind::Sine);
    results_.beginMeasuring();
    sineBlock();
    // The meter's own table, and the codes below the impedance code (calibration,
    // tracking, an unstable recognition, the parameter table, the status word), carry
    // no measurement of the step, whatever the outputs hold.
    for (int16_t other : {code::MeterTable, code::Calibration, code::Tracking, code::Unstable,
                          code::ParameterTable, code::StatusWord})
        take(other);
    EXPECT_EQ(results_.counter(ResultKind::Sine), 0);
    EXPECT_TRUE(ui_.models.results.lines.empty()) << "nothing taken, nothing shown";

    take(576); // the sine's bin
    take(577);
    EXPECT_EQ(results_.counter(ResultKind::Sine), 2);
    EXPECT_FLOAT_EQ(results_.results().sine.level, -10.0f);
    EXPECT_FALSE(ui_.models.results.lines.empty()) << "the record's lines are shown";
    EXPECT_EQ(results_.counter(ResultKind::O132), 0) << "only the record of the step";
    results_.endMeasuring();

    // The next measurement of the kind starts from an empty record.
    results_.clear(ResultKind::Sine);
    EXPECT_EQ(results_.counter(ResultKind::Sine), 0);
    results_.showResultLine("Сигнал не обнаружен");
    ASSERT_EQ(ui_.models.results.lines.size(), 1u);
}

} // namespace
} // namespace vetlina
