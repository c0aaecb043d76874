#include "sim/analyzer/Zmk5Link.h"

#include "Zmk5TestSupport.h"

#include <gtest/gtest.h>

namespace vetlina::sim::zmk5 {
namespace {

TEST(Zmk5Link, AnalyzerEscapesEveryByteTheComputerTreatsAsControl) {
    // STX, ACK, LF, CR, DLE and ESC in data must reach the computer as data.
    const std::vector<uint8_t> data = {2, 6, 10, 13, 16, 27, 0, 255, 0x26};
    const std::vector<uint8_t> wire = frameBlock(data);
    EXPECT_EQ(wire, (std::vector<uint8_t>{2, 16, 0x22, 16, 0x26, 16, 0x2A, 16, 0x2D, 16, 0x30, 16,
                                          0x3B, 0, 255, 0x26, 13}));
    // Between STX and CR no raw control byte is left.
    for (std::size_t i = 1; i + 1 < wire.size(); ++i)
        EXPECT_FALSE(wire[i] == 2 || wire[i] == 6 || wire[i] == 13) << i;
}

TEST(Zmk5Link, ComputerParsesFramedWordsBackExactly) {
    const std::vector<int16_t> words = {-9, 0x0206, 0x0D0A, 0x1B10, -1, 0, 32767, -32768, 0x0606};
    auto received = test::parseFromAnalyzer(frameWords(words));
    ASSERT_EQ(received.blocks.size(), 1u);
    EXPECT_EQ(received.blocks[0], words);
    EXPECT_EQ(received.acks, 0);
    EXPECT_EQ(received.text, "");
}

TEST(Zmk5Link, ReceiverUnescapesAndSeparatesCharactersFromBlocks) {
    BlockReceiver r;
    std::string characters;
    std::vector<std::vector<uint8_t>> blocks;
    const std::vector<uint8_t> wire = {'x', 2, 16, 0x22, 0x41, 16, 0x2D, 13, 27, 'Z', 2, 6, 13};
    for (uint8_t b : wire) {
        switch (r.feed(b)) {
        case BlockReceiver::Event::Character:
            characters += static_cast<char>(r.character());
            break;
        case BlockReceiver::Event::Block:
            blocks.push_back(r.block());
            break;
        case BlockReceiver::Event::None:
            break;
        }
    }
    EXPECT_EQ(characters, std::string("x\x1bZ"));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], (std::vector<uint8_t>{2, 0x41, 13}));
    // The computer does not escape ACK: inside a block it is data.
    EXPECT_EQ(blocks[1], (std::vector<uint8_t>{6}));
}

TEST(Zmk5Link, SecondStxRestartsTheBlockAndOverLongBlocksAreMarked) {
    BlockReceiver r;
    for (uint8_t b : {2, 1, 2, 3})
        r.feed(b);
    ASSERT_EQ(r.feed(4), BlockReceiver::Event::None);
    ASSERT_EQ(r.feed(13), BlockReceiver::Event::Block);
    EXPECT_EQ(r.block(), (std::vector<uint8_t>{3, 4}));
    EXPECT_FALSE(r.overLong());

    r.feed(2);
    for (std::size_t i = 0; i < kMaxCommandBytes + 10; ++i)
        r.feed(0x41);
    ASSERT_EQ(r.feed(13), BlockReceiver::Event::Block);
    EXPECT_TRUE(r.overLong());
    EXPECT_EQ(r.block().size(), kMaxCommandBytes);
}

} // namespace
} // namespace vetlina::sim::zmk5
