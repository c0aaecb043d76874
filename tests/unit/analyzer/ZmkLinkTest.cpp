// The block protocol to the analyzer over an in-memory port pair, the test playing
// the analyzer's side byte by byte.
#include "analyzer/ZmkLink.h"

#include "IdleDevice.h"
#include "ScopedGlobals.h"
#include "ScriptedAnalyzer.h"
#include "SharedPort.h"
#include "TestUi.h"
#include "device/Device.h"
#include "platform/Clock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <utility>

namespace vetlina {
namespace {

using ::testing::ElementsAre;

using LinkDevice = test::IdleDevice;

class ZmkLinkTest : public ::testing::Test {
protected:
    ZmkLinkTest() {
        setTimeScaleForTesting(50.0);
        auto [computer, far] = MemoryLine::makePair();
        computer_ = std::shared_ptr<MemoryPort>(computer.release());
        far_ = std::shared_ptr<MemoryPort>(far.release());
        computer_->setLines({true, true, false, false});
        far_->open(LineSettings{});
        device_ = std::make_unique<LinkDevice>(ui_.bridge, [this](int32_t) {
            auto port = std::make_unique<test::SharedPort>(computer_);
            port_ = port.get();
            return port;
        });
        EXPECT_EQ(device_->OpenPort(), PortOpenResult::Ok);
        link_ = std::make_unique<ZmkLink>(*device_);
    }
    ~ZmkLinkTest() override { setTimeScaleForTesting(1.0); }

    void farSends(const std::string& bytes) {
        far_->write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 1000);
    }
    std::string farReceived() {
        std::string out;
        uint8_t buffer[256];
        long n;
        while ((n = far_->read(buffer, sizeof buffer)) > 0)
            out.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
        return out;
    }
    // One ReadEvent per byte sent: each call takes exactly one byte while there are any.
    std::vector<uint32_t> events(std::size_t count) {
        std::vector<uint32_t> out;
        for (std::size_t i = 0; i < count; ++i)
            out.push_back(link_->ReadEvent());
        return out;
    }
    std::vector<uint8_t> take(std::size_t max = 512) {
        std::vector<uint8_t> block(std::max<std::size_t>(max, 1));
        block.resize(link_->TakeBlock(block.data(), max));
        return block;
    }
    // An analyzer that acknowledges every block it receives, for the life of the object.
    struct Acknowledger {
        explicit Acknowledger(ZmkLinkTest& t)
            : thread([this, &t] {
                  while (!stop) {
                      std::string in = t.farReceived();
                      received += in;
                      for (char c : in)
                          if (c == '\r')
                              t.farSends("\x06");
                      std::this_thread::sleep_for(std::chrono::microseconds(200));
                  }
              }) {}
        ~Acknowledger() { finish(); }
        // Stops acknowledging; what the analyzer received.
        std::string finish() {
            stop = true;
            if (thread.joinable())
                thread.join();
            return received;
        }
        std::atomic<bool> stop{false};
        std::string received;
        std::thread thread;
    };

    test::TestUi ui_;
    std::shared_ptr<MemoryPort> computer_, far_;
    test::SharedPort* port_ = nullptr; // the device's own, while it is open
    std::unique_ptr<LinkDevice> device_;
    std::unique_ptr<ZmkLink> link_;
};

// ---- Receiving ------------------------------------------------------------------------

TEST_F(ZmkLinkTest, EscapedBytesAreDataInsideABlockAndNeverControlBytes) {
    // Escaped STX, ACK, CR, DLE and ESC, then a plain byte.
    const std::string sent = "\x02\x10\x22\x10\x26\x10\x2D\x10\x30\x10\x3B\x41\r";
    farSends(sent);
    const auto ev = events(sent.size());
    EXPECT_TRUE(ev.back() & zmkstatus::BlockReady);
    EXPECT_FALSE(link_->status() & zmkstatus::Acknowledged);
    EXPECT_THAT(take(), ElementsAre(0x02, 0x06, 0x0D, 0x10, 0x1B, 0x41));
}

TEST_F(ZmkLinkTest, BytesBetweenBlocksAreCharacterEventsCrAndLfIncluded) {
    farSends("Z\r\n\n");
    const auto ev = events(4);
    EXPECT_EQ(ev[0], zmkstatus::CharEvent | 'Z');
    EXPECT_EQ(ev[1], zmkstatus::CharEvent | '\r');
    EXPECT_EQ(ev[2], zmkstatus::CharEvent | zmkstatus::LineFeedSeen | '\n');
    EXPECT_TRUE(link_->status() & zmkstatus::LineFeedSeen);
    // A second line feed still reads as one, never as an acknowledgement.
    EXPECT_EQ(ev[3], zmkstatus::CharEvent | zmkstatus::LineFeedSeen | '\n');
    EXPECT_FALSE(ev[3] & zmkstatus::Acknowledged);
    EXPECT_EQ(take(), std::vector<uint8_t>{});
}

TEST_F(ZmkLinkTest, AcknowledgementAndEscapeOutsideBlocks) {
    farSends("\x06\x1b");
    const auto ev = events(2);
    EXPECT_EQ(ev[0], zmkstatus::Acknowledged);
    EXPECT_EQ(ev[1], zmkstatus::Acknowledged | zmkstatus::EscapeSeen);
    EXPECT_EQ(link_->status(), zmkstatus::Acknowledged);
}

TEST_F(ZmkLinkTest, ASecondStxRestartsTheBlock) {
    farSends("\x02\x01\x02\x02\x03\r");
    events(6);
    EXPECT_THAT(take(), ElementsAre(0x03));
}

TEST_F(ZmkLinkTest, ABlockLongerThan550BytesKeepsItsFirst550) {
    std::string block(1, '\x02');
    for (int i = 0; i < 600; ++i)
        block += static_cast<char>(i < 550 ? 'a' : 'b');
    block += '\r';
    farSends(block);
    events(block.size());
    EXPECT_EQ(link_->blockLength(), 550);
    const auto bytes = take(1000);
    ASSERT_EQ(bytes.size(), 550u);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 'a'), 550);
}

TEST_F(ZmkLinkTest, TakeBlockCopiesAtMostMaxAndTakesTheBlockOnce) {
    EXPECT_EQ(take(), std::vector<uint8_t>{}); // nothing ready
    farSends("\x02\x01\x04\x03\r");
    events(5);
    EXPECT_THAT(take(2), ElementsAre(0x01, 0x04));
    EXPECT_EQ(link_->blockLength(), 3);
    EXPECT_EQ(take(), std::vector<uint8_t>{}); // taken already

    farSends("\x02\x04\r");
    events(3);
    EXPECT_EQ(take(0), std::vector<uint8_t>{}); // a maximum of 0 drops it
    EXPECT_FALSE(link_->status() & zmkstatus::BlockReady);

    farSends("\x02\r");
    events(2);
    EXPECT_TRUE(link_->status() & zmkstatus::BlockReady);
    EXPECT_EQ(take(), std::vector<uint8_t>{}); // empty
}

TEST_F(ZmkLinkTest, NoDataAndDsrOrCtsOffIsSwitchedOff) {
    EXPECT_FALSE(link_->ReadEvent() & zmkstatus::SwitchedOff);
    computer_->setLines({true, false, false, false}); // CTS off
    EXPECT_TRUE(link_->ReadEvent() & zmkstatus::SwitchedOff);
}

// ---- Sending ----------------------------------------------------------------------------

TEST_F(ZmkLinkTest, SendBlockEscapesEveryControlByte) {
    link_->resetAfterHandshake();
    const uint8_t bytes[] = {0x02, 0x0A, 0x0D, 0x10, 0x1B, 0x06, 0x41};
    EXPECT_EQ(link_->SendBlock(bytes, sizeof bytes), sizeof bytes);
    EXPECT_EQ(farReceived(), "\x02\x10\x22\x10\x2A\x10\x2D\x10\x30\x10\x3B\x06\x41\r");
    EXPECT_FALSE(link_->status() & zmkstatus::Acknowledged);
}

TEST_F(ZmkLinkTest, SendBlockRefusesAnEmptyBlockAndAnUnacknowledgedPredecessor) {
    const uint8_t bytes[] = {0x41};
    EXPECT_EQ(link_->SendBlock(bytes, 1), 0u); // nothing acknowledged yet
    link_->resetAfterHandshake();
    EXPECT_EQ(link_->SendBlock(bytes, 0), 0u);
    EXPECT_TRUE(link_->status() & zmkstatus::Acknowledged);
    EXPECT_EQ(farReceived(), "");
    EXPECT_EQ(link_->SendBlock(bytes, 1), 1u);
    EXPECT_EQ(link_->SendBlock(bytes, 1), 0u); // the first is not acknowledged
    EXPECT_EQ(farReceived(), "\x02\x41\r");
}

TEST_F(ZmkLinkTest, SendCommandAnnouncesEveryCommandWithTheWord10) {
    link_->resetAfterHandshake();
    Acknowledger analyzer(*this);
    const uint8_t command[] = {13, 0};
    EXPECT_TRUE(link_->SendCommand(command, sizeof command));
    // The acknowledgement of the command block itself is taken by the next wait.
    EXPECT_TRUE(link_->WaitAck());
    EXPECT_EQ(analyzer.finish(), std::string("\x02\x10\x2A\x00\r\x02\x10\x2D\x00\r", 10));
    EXPECT_EQ(link_->nZmkSendNotReady(), 0);
    EXPECT_TRUE(ui_.dialogs.seen().empty());
}

TEST_F(ZmkLinkTest, ALostAcknowledgementCountsOnceAndFailsTheCommandWithOneMessage) {
    link_->resetAfterHandshake();
    const uint8_t command[] = {5, 0, 1, 0};
    const uint32_t start = tickMs();
    EXPECT_FALSE(link_->SendCommand(command, sizeof command));
    EXPECT_GE(static_cast<int32_t>(tickMs() - start), 2000);

    EXPECT_EQ(link_->nZmkSendNotReady(), 1);
    EXPECT_EQ(ui_.models.run.counterText(RunCounter::ZmkSendNotReady), "1");
    // Only the announcing block went out.
    EXPECT_EQ(farReceived(), std::string("\x02\x10\x2A\x00\r", 5));
    EXPECT_EQ(device_->command(), Device::kStopCommand);
    ASSERT_EQ(ui_.dialogs.seen().size(), 1u);
    EXPECT_EQ(ui_.dialogs.seen()[0].title, " Анализатор ZMK-5");
    EXPECT_EQ(ui_.dialogs.seen()[0].text, "Отказ анализатора");
    EXPECT_EQ(ui_.dialogs.seen()[0].icon, DialogIcon::Warning);
    EXPECT_THAT(ui_.takeMessages(), ElementsAre(MSG_RUN_END));
    ASSERT_EQ(ui_.protocolLines().size(), 1u);
    EXPECT_THAT(ui_.protocolLines()[0], ::testing::EndsWith(" Отказ анализатора"));
    EXPECT_EQ(ui_.models.run.stateLabel, ui_.models.protocol.lines()[0]);

    // Stopped: a second command sends nothing and reports nothing.
    EXPECT_FALSE(link_->SendCommand(command, sizeof command));
    EXPECT_EQ(farReceived(), "");
    EXPECT_EQ(ui_.dialogs.seen().size(), 1u);
    EXPECT_EQ(link_->nZmkSendNotReady(), 1);
}

TEST_F(ZmkLinkTest, AFailureIsReportedOnce) {
    link_->AnalyzerFailure(toCp1251("Отказ анализатора"));
    link_->AnalyzerFailure(toCp1251("Отключение анализатора"));
    EXPECT_EQ(ui_.dialogs.texts(), std::vector<std::string>{"Отказ анализатора"});
    EXPECT_THAT(ui_.takeMessages(), ElementsAre(MSG_RUN_END));
    EXPECT_EQ(ui_.protocolLines().size(), 1u);
}

TEST_F(ZmkLinkTest, AnAnalyzerSwitchedOffWhileACommandWaitsIsReportedAsSwitchedOffOnly) {
    link_->resetAfterHandshake();
    const uint8_t first[] = {6, 0};
    computer_->setLines({false, false, false, false});
    EXPECT_FALSE(link_->SendCommand(first, sizeof first));
    EXPECT_EQ(farReceived(), "");
    EXPECT_EQ(ui_.dialogs.texts(), std::vector<std::string>{"Отключение анализатора"});
    EXPECT_EQ(link_->nZmkSendNotReady(), 0);
    EXPECT_EQ(device_->command(), Device::kStopCommand);
}

TEST_F(ZmkLinkTest, AnAcknowledgementInTimeCountsForAThreadWokenPastTheDeadline) {
    test::ScopedSteppedClock stepped;
    link_->resetAfterHandshake();
    const uint8_t bytes[] = {0x41};
    ASSERT_EQ(link_->SendBlock(bytes, 1), 1u);
    // The analyzer answered in time, behind more bytes than one read takes; a busy
    // machine lets the thread's first read return only after the deadline.
    farSends(std::string(2 * ZmkLink::kChunkSize, 'x') + "\x06");
    bool stalled = false;
    port_->beforeRead = [&stalled] {
        if (!std::exchange(stalled, true))
            sleepMs(ZmkLink::kAckWaitMs + 1000);
    };
    EXPECT_TRUE(link_->WaitAck());
    EXPECT_TRUE(link_->status() & zmkstatus::Acknowledged);
    EXPECT_EQ(link_->nZmkSendNotReady(), 0);
}

TEST_F(ZmkLinkTest, ABlockArrivingWhileWaitingForTheAcknowledgementIsDropped) {
    link_->resetAfterHandshake();
    const uint8_t bytes[] = {0x41};
    ASSERT_EQ(link_->SendBlock(bytes, 1), 1u);
    farSends("\x02\x01\x02\r\x06");
    EXPECT_TRUE(link_->WaitAck());
    EXPECT_FALSE(link_->status() & zmkstatus::BlockReady);
    EXPECT_EQ(take(), std::vector<uint8_t>{});
}

} // namespace
} // namespace vetlina
