// Two complexes joined by an in-memory line, each side's link on a thread of its own
// (the main thread serves their counter hand-offs): repeats, the fourth refusal, and a
// seeded run of lost and doubled bytes.
#include "ModemTestSupport.h"
#include "ScopedGlobals.h"
#include "modem/SessionLink.h"
#include "platform/Clock.h"

#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <vector>

namespace vetlina {
namespace {

using Bytes = std::vector<uint8_t>;

class SessionLinkThreadTest : public ::testing::Test {
protected:
    SessionLinkThreadTest() {
        auto [x, y] = MemoryLine::makePair();
        endA_ = std::move(x);
        endB_ = std::move(y);
        EXPECT_EQ(a_.OpenPort(), PortOpenResult::Ok);
        EXPECT_EQ(b_.OpenPort(), PortOpenResult::Ok);
        const ModemLines connected{.cts = true, .dsr = true, .ring = false, .carrier = true};
        endA_->setLines(connected);
        endB_->setLines(connected);
    }

    PortFactory factory(std::shared_ptr<MemoryPort>& end, test::SharedPort*& made) {
        return [&end, &made](int32_t) -> std::unique_ptr<SerialPort> {
            auto port = std::make_unique<test::SharedPort>(end);
            made = port.get();
            return port;
        };
    }

    struct Outcome {
        bool sent = false;
        bool received = false;
    };

    // A sends the block while B receives a block of its length; both run to their end.
    Outcome transfer(const Bytes& block, Bytes& got) {
        got.assign(block.size(), 0);
        Outcome outcome;
        std::atomic<int> done{0};
        std::thread sender([&] {
            outcome.sent = linkA_.sendBlock(block);
            ++done;
            ui_.bridge.wake();
        });
        std::thread receiver([&] {
            outcome.received = linkB_.receiveBlock(got);
            ++done;
            ui_.bridge.wake();
        });
        ui_.bridge.serveUntil([&] { return done == 2; });
        sender.join();
        receiver.join();
        // What either side left on the line belongs to this exchange only.
        endA_->purge();
        endB_->purge();
        return outcome;
    }

    test::ScopedTimeScale scale_{1000.0};
    test::TestUi ui_;
    std::shared_ptr<MemoryPort> endA_, endB_;
    test::SharedPort* portA_ = nullptr;
    test::SharedPort* portB_ = nullptr;
    test::TestDevice a_{ui_.bridge, factory(endA_, portA_)};
    test::TestDevice b_{ui_.bridge, factory(endB_, portB_)};
    int32_t recvA_ = 0, sendA_ = 0, recvB_ = 0, sendB_ = 0;
    SessionLink linkA_{a_, recvA_, sendA_};
    SessionLink linkB_{b_, recvB_, sendB_};
};

// Doubles the first byte of a block's transmissions, up to `times` of them.
ByteFilter doubleFirstByte(int times) {
    return [times, atStart = true, doubled = 0](uint8_t byte) mutable {
        std::string out(1, static_cast<char>(byte));
        if (atStart && doubled < times) {
            out += static_cast<char>(byte);
            ++doubled;
        }
        atStart = byte == link::CR;
        return out;
    };
}

TEST_F(SessionLinkThreadTest, OneByteTooManyIsAskedForAgainAndThenDelivered) {
    portA_->filter = doubleFirstByte(1);
    const Bytes block{'h', 'e', 'l', 'l', 'o', 13, 6};
    Bytes got;
    Outcome outcome = transfer(block, got);
    EXPECT_TRUE(outcome.sent);
    EXPECT_TRUE(outcome.received);
    EXPECT_EQ(got, block);
    EXPECT_EQ(recvB_, 1);
    EXPECT_EQ(sendA_, 1);
    EXPECT_EQ(ui_.models.run.counter(RunCounter::MdmRecvErr), 1);
    EXPECT_EQ(ui_.models.run.counter(RunCounter::MdmSendErr), 1);
}

TEST_F(SessionLinkThreadTest, TheFourthRefusalFailsBothSides) {
    portA_->filter = doubleFirstByte(1000);
    Bytes got;
    Outcome outcome = transfer(Bytes{1, 2, 3}, got);
    EXPECT_FALSE(outcome.sent);
    EXPECT_FALSE(outcome.received);
    EXPECT_EQ(sendA_, 4);
    EXPECT_EQ(recvB_, 4);
}

TEST_F(SessionLinkThreadTest, LostAndDoubledBytesNeverDeliverAWrongBlock) {
    // Blocks travel with no checksum: the length is all the link checks. A lost and a
    // doubled byte in one transmission, or a lost escape (its byte then arrives as
    // itself), keep the length and would change the block unseen; on a real line the
    // modems' error correction rules these out. So the data direction here loses or
    // doubles at most one byte per transmission and never loses an escape; the
    // acknowledgements are lost and doubled freely.
    std::mt19937 random(20240301);
    std::bernoulli_distribution dataFault(0.004), controlFault(0.05), lose(0.5);
    int dataFaults = 0, controlFaults = 0;
    portA_->filter = [&, faultInThisTransmission = false](uint8_t byte) mutable {
        std::string out(1, static_cast<char>(byte));
        if (!faultInThisTransmission && dataFault(random)) {
            faultInThisTransmission = true;
            ++dataFaults;
            if (lose(random) && byte != link::DLE)
                out.clear();
            else
                out += static_cast<char>(byte);
        }
        if (byte == link::CR)
            faultInThisTransmission = false;
        return out;
    };
    std::mt19937 controlRandom(7);
    std::bernoulli_distribution loseControl(0.5);
    portB_->filter = [&](uint8_t byte) {
        std::string out(1, static_cast<char>(byte));
        if (controlFault(controlRandom)) {
            ++controlFaults;
            if (loseControl(controlRandom))
                out.clear();
            else
                out += static_cast<char>(byte);
        }
        return out;
    };

    std::mt19937 content(99);
    std::uniform_int_distribution<int> length(1, 400), value(0, 255);
    int delivered = 0, failed = 0;
    for (int i = 0; i < 250; ++i) {
        Bytes block(static_cast<std::size_t>(length(content)));
        for (auto& b : block)
            b = static_cast<uint8_t>(value(content));
        Bytes got;
        Outcome outcome = transfer(block, got);
        if (outcome.received) {
            ASSERT_EQ(got, block) << "block " << i;
            ++delivered;
        } else {
            ++failed;
        }
        // The sender hears ACK only from a receiver that took the block.
        if (outcome.sent) {
            ASSERT_TRUE(outcome.received) << "block " << i;
        }
    }
    // The run exercised the repeats and the failures, not only clean transfers.
    EXPECT_GT(dataFaults, 20);
    EXPECT_GT(controlFaults, 5);
    EXPECT_GT(sendA_, 10);
    EXPECT_GT(delivered, 200);
    EXPECT_GT(failed, 0);
}

} // namespace
} // namespace vetlina
