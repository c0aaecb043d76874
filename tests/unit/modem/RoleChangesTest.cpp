// The role table of the modem thread: every role against every outcome, so that a role
// added or a case dropped shows here rather than in a run that stops calling.
#include "modem/RoleChanges.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

using enum ModemRole;
constexpr ModemCommand kWait = ModemCommand::WaitForCall;
constexpr ModemCommand kChoose = ModemCommand::ChooseAndDial;
constexpr ModemCommand kClassify = ModemCommand::ClassifyDialResult;

TEST(RoleChangesTest, AReceivedScenarioMakesTheComplexServeItsCaller) {
    const struct {
        ModemRole before, after;
    } cases[] = {
        {Answering, AnsweringServed},     {AnsweringServed, AnsweringServed},
        {AnsweringInRun, AnsweringInRun}, {Calling, AnsweringInRun},
        {CallingInCall, AnsweringInRun},
    };
    for (const auto& c : cases)
        EXPECT_EQ(roleAfterScenarioReceived(c.before), c.after) << static_cast<int>(c.before);
}

TEST(RoleChangesTest, ASessionChangesTheRoleOnlyAtTheEndOfItsSeries) {
    const struct {
        ModemRole before;
        bool finished;
        RoleChange after;
    } cases[] = {
        // The series goes on: the role stays, the next call is waited for.
        {Answering, false, {Answering, kWait}},
        {AnsweringServed, false, {AnsweringServed, kWait}},
        {AnsweringInRun, false, {AnsweringInRun, kWait}},
        {Calling, false, {Calling, kWait}},
        {CallingInCall, false, {CallingInCall, kWait}},
        // The series is finished: back to what the complex did before it.
        {Answering, true, {Answering, kWait}},
        {AnsweringServed, true, {Answering, kWait}},
        {AnsweringInRun, true, {Calling, kWait, true}},
        {Calling, true, {Calling, kWait}},
        {CallingInCall, true, {Calling, kWait}},
    };
    for (const auto& c : cases) {
        const RoleChange got = roleAfterSession(c.before, c.finished);
        EXPECT_EQ(got, c.after) << static_cast<int>(c.before) << " finished " << c.finished
                                << ": role " << static_cast<int>(got.role) << " next "
                                << static_cast<int>(got.next);
    }
}

TEST(RoleChangesTest, AWaitWithoutACallGivesUpASeriesOrGoesOnCalling) {
    const struct {
        ModemRole before;
        RoleChange after;
    } cases[] = {
        {Answering, {Answering, kWait}},
        {AnsweringServed, {Answering, kWait, false, true}},
        {AnsweringInRun, {AnsweringInRun, kChoose, false, true}},
        {Calling, {Calling, kChoose}},
        {CallingInCall, {CallingInCall, kClassify, false, false, true}},
    };
    for (const auto& c : cases) {
        const RoleChange got = roleAfterNoCall(c.before);
        EXPECT_EQ(got, c.after) << static_cast<int>(c.before) << ": role "
                                << static_cast<int>(got.role) << " next "
                                << static_cast<int>(got.next);
    }
}

} // namespace
} // namespace vetlina
