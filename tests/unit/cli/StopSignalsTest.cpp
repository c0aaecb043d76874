// The operator's end by signal, at the end of the process: a SIGTERM that comes while a
// run ends by itself must not kill the process and turn its exit status into a signal.
#include "cli/StopSignals.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vetlina {
namespace {

// A child process that lives through a StopSignals and is sent SIGTERM after it; its
// wait status.
int statusOfAChildSignalledAfterTheEnd(bool keepBlocked) {
    const pid_t child = ::fork();
    if (child == 0) {
        {
            StopSignals signals;
            if (keepBlocked)
                signals.keepBlockedToTheEnd();
        }
        ::kill(::getpid(), SIGTERM);
        ::_exit(7);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

TEST(StopSignalsTest, ASignalAfterTheRunHasEndedLeavesItsExitStatus) {
    const int kept = statusOfAChildSignalledAfterTheEnd(true);
    ASSERT_TRUE(WIFEXITED(kept));
    EXPECT_EQ(WEXITSTATUS(kept), 7);
    // Where the signals are given back (a test's own process), the signal is the
    // system's again.
    const int given = statusOfAChildSignalledAfterTheEnd(false);
    ASSERT_TRUE(WIFSIGNALED(given));
    EXPECT_EQ(WTERMSIG(given), SIGTERM);
}

} // namespace
} // namespace vetlina
