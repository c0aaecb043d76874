#include "Zmk5TestSupport.h"
#include "sim/signals/Signals.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace vetlina::sim {
namespace {

using test::Bench;

// A complex measuring the far end's sine: line mode 11, 0 dBm range, meter restarted on
// the sine's bin (1800 Hz = bin 576).
void measureSine(Bench& bench, char digit = '7') {
    bench.startUp(digit);
    bench.command({15, 11});
    bench.command({11, 58, 0});
    bench.command({0, 576});
    bench.take();
}

FarEnd farSine(double levelDbm, double hz, const ChannelConfig* channel = nullptr) {
    FarEnd far;
    far.station = "B";
    far.signal = {signal_kind::Sine, levelDbm, hz};
    far.channel = channel;
    return far;
}

TEST(Zmk5Stream, SetsTablesAndStatisticsArriveAtTheLinksPace) {
    Bench bench;
    bench.line.far = farSine(-10.0, 1800.0);
    measureSine(bench);
    const std::size_t before = bench.port.totalSent;
    bench.advance(10000);
    const std::size_t bytes = bench.port.totalSent - before;
    auto r = bench.take();

    // Never more than the UART can carry at 115 200 baud (10 bits a byte) in the time and
    // the quarter second it may catch up after a late poll, and not far below it: the
    // meter always has the next frame ready.
    EXPECT_LE(bytes, 11520u * 10 + 11520u / 4 + 150);
    EXPECT_GE(bytes, 11520u * 10 * 9 / 10);

    auto frames = test::ofType(r.blocks, -9);
    auto sets = test::assembleSets(frames);
    EXPECT_GE(sets.size(), 11u); // about 1.2 sets a second
    EXPECT_EQ(frames.size() / 64, sets.size());
    uint32_t previous = 0;
    bool first = true;
    for (std::size_t i = 0; i + 63 < frames.size(); i += 64) {
        const uint32_t tag = test::pair(frames[i][1], frames[i][2]);
        if (!first) {
            EXPECT_GE(tag, previous + 320);
        }
        previous = tag;
        first = false;
    }
    for (const auto& set : sets)
        EXPECT_NEAR(test::transformLevel(set, 0.0), -10.0, 0.05);

    const auto tables = test::ofType(r.blocks, -5);
    EXPECT_NEAR(static_cast<double>(tables.size()), static_cast<double>(sets.size()), 1.0);
    const auto statistics = test::ofType(r.blocks, -4);
    EXPECT_NEAR(static_cast<double>(statistics.size()), 10.0, 1.0);
    // Every block has the length the computer's decoder demands.
    for (const auto& b : r.blocks) {
        const std::size_t expected = b[0] == -9 ? 68 : b[0] == -5 ? 18 : b[0] == -4 ? 33 : 10;
        EXPECT_EQ(b.size(), expected) << b[0];
    }
}

TEST(Zmk5Stream, SlowerLinkFewerSets) {
    Bench bench;
    bench.line.far = farSine(-10.0, 1800.0);
    measureSine(bench, '5');
    const std::size_t before = bench.port.totalSent;
    bench.advance(10000);
    EXPECT_LE(bench.port.totalSent - before, 3840u * 10 + 3840u / 4 + 150);
    auto sets = test::assembleSets(test::ofType(bench.take().blocks, -9));
    EXPECT_GE(sets.size(), 3u);
    EXPECT_LE(sets.size(), 5u);
}

TEST(Zmk5Stream, ChannelAttenuationLowersTheLevel) {
    ChannelConfig channel;
    channel.first = "B";
    channel.second = "A";
    channel.model = test::channelModel({{"attenuationDb", 6.0}});
    Bench bench;
    bench.line.far = farSine(-10.0, 1800.0, &channel);
    measureSine(bench);
    bench.advance(3000);
    auto sets = test::assembleSets(test::ofType(bench.take().blocks, -9));
    ASSERT_FALSE(sets.empty());
    for (const auto& set : sets)
        EXPECT_NEAR(test::transformLevel(set, 0.0), -16.0, 0.05);
}

TEST(Zmk5Stream, NothingStreamsBeforeARestartOrWhileThePortIsFull) {
    Bench bench;
    bench.line.far = farSine(-10.0, 1800.0);
    bench.startUp();
    bench.command({15, 11});
    bench.take();
    bench.advance(2000);
    EXPECT_TRUE(bench.take().blocks.empty());

    bench.port.pending = 5000; // the computer does not read
    bench.command({0, 576});
    bench.advance(2000);
    auto r = bench.take();
    EXPECT_EQ(r.acks, 2); // acknowledgements still go out
    EXPECT_TRUE(r.blocks.empty());
    bench.port.pending = 0;
    bench.advance(1000);
    EXPECT_FALSE(bench.take().blocks.empty());
}

TEST(Zmk5Stream, AcknowledgementsOvertakeTheStreamedData) {
    // A port that carries the bytes at 115 200 baud: an acknowledgement queued behind
    // the data that waits would reach the computer only after it (up to 2 KB, 180 ms),
    // and every command would take that long twice while the meter streams.
    Bench bench;
    bench.port.charsPerMs = 11.52;
    bench.line.far = farSine(-10.0, 1800.0);
    measureSine(bench);
    bench.advance(3000);
    bench.take();

    uint32_t slowest = 0;
    int announcements = 0;
    for (int i = 0; i < 300; ++i) {
        bench.computer(test::computerBlock({10}));
        ++announcements;
        uint32_t waited = 0;
        const std::size_t from = bench.port.sent.size();
        auto acked = [&] {
            return std::count(bench.port.sent.begin() + static_cast<std::ptrdiff_t>(from),
                              bench.port.sent.end(), uint8_t{6}) > 0;
        };
        while (!acked() && waited < 1000) {
            bench.advance(5);
            waited += 5;
        }
        slowest = std::max(slowest, waited);
    }
    // One data block and a poll's worth of data at most go ahead of an acknowledgement.
    EXPECT_LE(slowest, 30u);
    // An acknowledgement never splits an escape byte from the byte it escapes, and the
    // blocks around it arrive whole.
    const auto& bytes = bench.port.sent;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
        ASSERT_FALSE(bytes[i] == 16 && bytes[i + 1] == 6) << "at byte " << i;
    const auto r = bench.take();
    EXPECT_EQ(r.acks, announcements);
    ASSERT_FALSE(r.blocks.empty());
    for (const auto& b : r.blocks) {
        const std::size_t expected = b[0] == -9 ? 68 : b[0] == -5 ? 18 : b[0] == -4 ? 33 : 10;
        EXPECT_EQ(b.size(), expected) << b[0];
    }
    EXPECT_FALSE(test::assembleSets(test::ofType(r.blocks, -9)).empty());
}

TEST(Zmk5Stream, StatisticsStopWhenTheSignalIsGone) {
    Bench bench;
    bench.line.far = farSine(-10.0, 1800.0);
    measureSine(bench);
    bench.advance(2100);
    EXPECT_EQ(test::ofType(bench.take().blocks, -4).size(), 2u);
    // The computer's fall-back to no signal: restart without a bin, then command 6.
    bench.command({0, 0});
    bench.command({6});
    bench.take();
    bench.advance(3000);
    auto r = bench.take();
    EXPECT_TRUE(test::ofType(r.blocks, -4).empty());
    EXPECT_FALSE(test::ofType(r.blocks, -9).empty()); // the sets go on
    for (const auto& t : test::ofType(r.blocks, -5))
        EXPECT_EQ(t[17], 0); // and the tables carry no frequency
}

TEST(Zmk5Stream, ReleasedLineMeansTheMeterHearsOnlyItself) {
    Bench bench;
    bench.line.far = farSine(-10.0, 1800.0);
    measureSine(bench);
    bench.command({15, 0});
    bench.take();
    bench.advance(3000);
    auto sets = test::assembleSets(test::ofType(bench.take().blocks, -9));
    ASSERT_FALSE(sets.empty());
    for (const auto& set : sets)
        for (int16_t x : set)
            ASSERT_LE(std::abs(x), 2);
}

} // namespace
} // namespace vetlina::sim
