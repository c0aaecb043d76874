// The session link against a scripted far end on an in-memory line: the escaping, the
// acknowledgement and repeat rules, the lost-acknowledgement cases, the carrier and the
// limits. The far end's bytes are put on the line before the operation runs, so each
// case is exact and needs no second thread.
#include "modem/SessionLink.h"

#include "ModemTestSupport.h"
#include "ScopedGlobals.h"
#include "platform/Clock.h"

#include <atomic>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace vetlina {
namespace {

using Bytes = std::vector<uint8_t>;

std::string wire(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes)
        out += static_cast<char>(b);
    return out;
}

class SessionLinkTest : public ::testing::Test {
protected:
    SessionLinkTest() {
        EXPECT_EQ(device_.OpenPort(), PortOpenResult::Ok);
        line_.setConnected(true);
    }

    // What the far end sends, put on the line now.
    void farSends(const std::string& bytes) {
        line_.far->write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0);
    }
    void farSends(const Bytes& block) { farSends(encodeBlock(block)); }
    // Everything the far end has received so far.
    std::string farReceived() {
        std::string out;
        uint8_t buffer[256];
        for (long n; (n = line_.far->read(buffer, sizeof buffer)) > 0;)
            out.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
        return out;
    }

    // The link's polls and limits are counted on the clock of the test's own steps: the
    // time a failure takes is what the link waited, whatever the machine's load.
    test::ScopedSteppedClock stepped_;
    test::TestUi ui_;
    test::Line line_;
    test::TestDevice device_{ui_.bridge, line_.factory()};
    int32_t recvErrors_ = 0;
    int32_t sendRepeats_ = 0;
    SessionLink link_{device_, recvErrors_, sendRepeats_};
};

TEST(SessionLinkEncoding, EscapesTheFourControlBytesAndEndsWithCr) {
    EXPECT_EQ(encodeBlock(Bytes{13, 13, 13}), wire({16, 45, 16, 45, 16, 45, 13}));
    EXPECT_EQ(encodeBlock(Bytes{6, 16, 21}), wire({16, 38, 16, 48, 16, 53, 13}));
    // Everything else goes as it is, the results of an escape included.
    EXPECT_EQ(encodeBlock(Bytes{0, 38, 45, 255, 32}), wire({0, 38, 45, 255, 32, 13}));
}

TEST_F(SessionLinkTest, EveryByteValueCrossesTheLinkUnchanged) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i);
    farSends(all);
    Bytes got(256);
    ASSERT_TRUE(link_.receiveBlock(got));
    EXPECT_EQ(got, all);
    EXPECT_EQ(farReceived(), wire({6}));
}

TEST_F(SessionLinkTest, AnEscapeBeforeCrDoesNotReachIntoTheNextBlock) {
    farSends(wire({'A', 16, 13, 38, 13}));
    Bytes first(1), second(1);
    ASSERT_TRUE(link_.receiveBlock(first));
    ASSERT_TRUE(link_.receiveBlock(second));
    EXPECT_EQ(first[0], 'A');
    EXPECT_EQ(second[0], 38);
}

TEST_F(SessionLinkTest, EmptyBlocksNeitherSendNorRead) {
    farSends(wire({'x'}));
    EXPECT_TRUE(link_.sendBlock({}));
    Bytes none;
    EXPECT_TRUE(link_.receiveBlock(none));
    EXPECT_EQ(farReceived(), "");
    EXPECT_EQ(line_.near->pending(), 1u);
}

TEST_F(SessionLinkTest, ReceiverAsksAgainForABlockWithOneByteTooMany) {
    farSends(Bytes{1, 2, 3, 4});
    farSends(Bytes{1, 2, 3});
    Bytes got(3);
    ASSERT_TRUE(link_.receiveBlock(got));
    EXPECT_EQ(got, (Bytes{1, 2, 3}));
    EXPECT_EQ(farReceived(), wire({21, 6}));
    EXPECT_EQ(recvErrors_, 1);
    EXPECT_EQ(ui_.models.run.counter(RunCounter::MdmRecvErr), 1);
}

TEST_F(SessionLinkTest, ReceiverFailsAfterItsFourthBadBlock) {
    for (int i = 0; i < 4; ++i)
        farSends(Bytes{1, 2});
    farSends(Bytes{1, 2, 3}); // a good fifth block comes too late
    Bytes got(3);
    EXPECT_FALSE(link_.receiveBlock(got));
    EXPECT_EQ(farReceived(), wire({21, 21, 21, 21}));
    EXPECT_EQ(recvErrors_, 4);
}

TEST_F(SessionLinkTest, SenderRepeatsOnNakAndFailsAfterTheFourth) {
    farSends(wire({21, 21, 21, 21}));
    EXPECT_FALSE(link_.sendBlock(Bytes{6, 'a'}));
    const std::string block = wire({16, 38, 'a', 13});
    EXPECT_EQ(farReceived(), block + block + block + block);
    EXPECT_EQ(sendRepeats_, 4);
    EXPECT_EQ(ui_.models.run.counter(RunCounter::MdmSendErr), 4);
    EXPECT_EQ(recvErrors_, 0);
}

TEST_F(SessionLinkTest, SenderSucceedsOnAckAfterARepeat) {
    farSends(wire({21, 6}));
    EXPECT_TRUE(link_.sendBlock(Bytes{'a'}));
    EXPECT_EQ(farReceived(), wire({'a', 13, 'a', 13}));
    EXPECT_EQ(sendRepeats_, 1);
}

TEST_F(SessionLinkTest, CrInsteadOfAckAsksTheFarSideToRepeatItsBlock) {
    // The acknowledgement and the start of the far block were lost; its CR is what came.
    farSends(wire({13}));
    EXPECT_TRUE(link_.sendBlock(Bytes{'q'}));
    EXPECT_EQ(farReceived(), wire({'q', 13, 21}));
    EXPECT_EQ(recvErrors_, 1);
    // The far side repeats its block, which now arrives whole.
    farSends(Bytes{7, 8, 9});
    Bytes got(3);
    ASSERT_TRUE(link_.receiveBlock(got));
    EXPECT_EQ(got, (Bytes{7, 8, 9}));
}

TEST_F(SessionLinkTest, AnyOtherReplyIsALostAcknowledgementAndTheBlockCountsAsDelivered) {
    farSends(wire({'z'}));
    EXPECT_TRUE(link_.sendBlock(Bytes{'q'}));
    EXPECT_EQ(recvErrors_, 1);
    EXPECT_EQ(sendRepeats_, 0);
}

TEST_F(SessionLinkTest, CarrierLostWhileSendingFailsBeforeTheNextCharacter) {
    line_.made.front()->carrierGoneAfterWritten = 5;
    const uint32_t start = tickMs();
    EXPECT_FALSE(link_.sendBlock(Bytes(100, 'x')));
    EXPECT_LT(tickMs() - start, 1000u);
    EXPECT_EQ(farReceived().size(), 5u);
}

TEST_F(SessionLinkTest, CarrierLostInTheMiddleOfAReceivedBlockFailsWithinAPoll) {
    farSends(std::string(10, 'x'));
    line_.made.front()->carrierGoneAfterRead = 10;
    const uint32_t start = tickMs();
    Bytes got(100);
    EXPECT_FALSE(link_.receiveBlock(got));
    // One empty read (50 ms) and the carrier check; nowhere near the 120 s limit.
    EXPECT_LT(tickMs() - start, 1000u);
}

TEST_F(SessionLinkTest, SilenceEndsBothOperationsAtTheirLimit) {
    uint32_t start = tickMs();
    Bytes got(4);
    EXPECT_FALSE(link_.receiveBlock(got));
    EXPECT_GE(tickMs() - start, SessionLink::kOperationLimitMs);
    start = tickMs();
    EXPECT_FALSE(link_.sendBlock(Bytes{1}));
    EXPECT_GE(tickMs() - start, SessionLink::kOperationLimitMs);
}

TEST_F(SessionLinkTest, ReceiverEndsAtItsLimitEvenWhileCharactersKeepComing) {
    // A far side that never ends a block (a test pattern, noise) must not hold the
    // receiver beyond its limit.
    std::atomic<bool> stop{false};
    std::thread stream([&] {
        const std::string chunk(64, 'U');
        while (!stop) {
            if (line_.near->pending() < 4096)
                farSends(chunk);
            std::this_thread::yield();
        }
    });
    const uint32_t start = tickMs();
    Bytes got(8);
    const bool received = link_.receiveBlock(got);
    const uint32_t elapsed = tickMs() - start;
    stop = true;
    stream.join();
    EXPECT_FALSE(received);
    EXPECT_GE(elapsed, SessionLink::kOperationLimitMs);
}

TEST_F(SessionLinkTest, ATerminateRequestEndsBothOperationsAtOnce) {
    device_.Terminate();
    EXPECT_FALSE(link_.sendBlock(Bytes{1, 2}));
    EXPECT_EQ(farReceived(), "");
    farSends(Bytes{1});
    Bytes got(1);
    EXPECT_FALSE(link_.receiveBlock(got));
    EXPECT_EQ(farReceived(), "");
}

} // namespace
} // namespace vetlina
