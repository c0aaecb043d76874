#include "device/Rfc2217Protocol.h"

#include "PeerProcess.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vetlina {
namespace {

using namespace rfc2217;
using test::fromHex;
using test::toHex;

// Records what the decoder finds; adjacent data runs are joined, so that the
// record does not depend on how the stream was cut into reads.
struct Recorder : TelnetHandler {
    std::vector<std::string> events;
    void onData(const uint8_t* data, std::size_t size) override {
        std::string hex = toHex(std::string(reinterpret_cast<const char*>(data), size));
        if (!events.empty() && events.back().starts_with("data "))
            events.back() += hex;
        else
            events.push_back("data " + hex);
    }
    void onNegotiation(uint8_t verb, uint8_t option) override {
        events.push_back("option " + std::to_string(verb) + " " + std::to_string(option));
    }
    void onSubnegotiation(const uint8_t* body, std::size_t size) override {
        events.push_back("sub " + toHex(std::string(reinterpret_cast<const char*>(body), size)));
    }
};

std::vector<std::string> decode(const std::string& stream, std::size_t pieceSize) {
    TelnetDecoder decoder;
    Recorder recorder;
    for (std::size_t at = 0; at < stream.size(); at += pieceSize) {
        std::string piece = stream.substr(at, pieceSize);
        decoder.feed(reinterpret_cast<const uint8_t*>(piece.data()), piece.size(), recorder);
    }
    return recorder.events;
}

TEST(Rfc2217Encoding, CommandsCarryTheirValueBigEndianWithIacDoubled) {
    EXPECT_EQ(toHex(baudRateCommand(115200)), "fffa2c010001c200fff0");
    // A value byte of 255 is doubled inside the subnegotiation too.
    EXPECT_EQ(toHex(baudRateCommand(0x0000FFFF)), "fffa2c010000ffffffffff"
                                                  "f0");
    EXPECT_EQ(toHex(comPortCommand(SetModemStateMask, ModemLinesMask)), "fffa2c0bf0fff0");
    EXPECT_EQ(toHex(comPortCommand(NotifyModemState)), "fffa2c07fff0");
    EXPECT_EQ(toHex(optionCommand(WILL, OptionComPort)), "fffb2c");
}

TEST(Rfc2217Encoding, EveryByteValueSurvivesEscapingAndDecoding) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    all += "\xff\xff\r\xff";
    std::string wire;
    appendEscaped(wire, reinterpret_cast<const uint8_t*>(all.data()), all.size());
    EXPECT_EQ(wire.size(), all.size() + 4); // one 255 in the table, three after it

    for (std::size_t piece : {std::size_t(1), std::size_t(2), std::size_t(7), wire.size()}) {
        auto events = decode(wire, piece);
        ASSERT_EQ(events.size(), 1u) << "piece " << piece;
        EXPECT_EQ(events[0], "data " + toHex(all)) << "piece " << piece;
    }
}

TEST(Rfc2217Decoder, SeparatesDataNegotiationAndSubnegotiationWhereverTheStreamIsCut) {
    std::string stream = fromHex("4142"           // data AB
                                 "fffb01"         // WILL ECHO
                                 "43ffff44"       // data C 255 D
                                 "fffa2c6bf0fff0" // NOTIFY-MODEMSTATE F0
                                 "fff1"           // NOP: ignored
                                 "fffd2c"         // DO COM-PORT-OPTION
                                 "fffa2c65ff"     // SET-BAUDRATE answer with a doubled 255 ...
                                 "ff0000"
                                 "00fff0"
                                 "45"); // data E
    std::vector<std::string> expected = {
        "data 4142",     "option 251 1",     "data 43ff44", "sub 2c6bf0",
        "option 253 44", "sub 2c65ff000000", "data 45",
    };
    for (std::size_t piece = 1; piece <= stream.size(); ++piece)
        EXPECT_EQ(decode(stream, piece), expected) << "piece " << piece;
}

TEST(Rfc2217Decoder, AnOverlongSubnegotiationIsDroppedWholeWithBoundedMemory) {
    TelnetDecoder decoder;
    Recorder recorder;
    std::string start = fromHex("fffa2c6bf0");
    decoder.feed(reinterpret_cast<const uint8_t*>(start.data()), start.size(), recorder);
    std::string filler(4096, 'x');
    for (int i = 0; i < 256; ++i) { // a megabyte without SE
        decoder.feed(reinterpret_cast<const uint8_t*>(filler.data()), filler.size(), recorder);
        ASSERT_LE(decoder.heldBytes(), TelnetDecoder::kMaxSubnegotiation);
    }
    std::string end = fromHex("fff04f4b");
    decoder.feed(reinterpret_cast<const uint8_t*>(end.data()), end.size(), recorder);
    EXPECT_EQ(recorder.events, std::vector<std::string>{"data 4f4b"});
    EXPECT_EQ(decoder.heldBytes(), 0u);
}

TEST(Rfc2217Decoder, ACommandInsideASubnegotiationEndsItUnfinished) {
    // IAC WILL inside SB: the subnegotiation is dropped, the negotiation taken.
    EXPECT_EQ(decode(fromHex("fffa2c6bf0fffb0341"), 1),
              (std::vector<std::string>{"option 251 3", "data 41"}));
    // IAC SB inside SB starts over.
    EXPECT_EQ(decode(fromHex("fffa2c6b10fffa2c6b20fff0"), 3),
              (std::vector<std::string>{"sub 2c6b20"}));
    // A stray SE, GA and an empty subnegotiation change nothing.
    EXPECT_EQ(decode(fromHex("fff0fff9fffafff041"), 1), (std::vector<std::string>{"data 41"}));
}

} // namespace
} // namespace vetlina
